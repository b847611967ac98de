// How the settings pages tie their widgets to the values they edit. A page
// edits one record (the settings of the run, the default track) or several
// at once (the selected tracks): a field whose value all records share is
// shown, one whose values differ is shown blank, and on storing only the
// fields the user changed are written, into every record. So "Properties of
// track(s)" over ten tracks changes their bitrate and keeps their titles,
// and "Apply changes to all tracks" passes on exactly what was changed.
//
// Each field is named once, with one accessor for loading and storing, so
// the two directions cannot drift apart.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QMetaObject>
#include <QString>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;

namespace qm::ui {

// How a widget shows one field of the records and what the user made of it.
template <class V> class FieldView {
public:
    virtual ~FieldView() = default;
    // `value` is empty when the records differ.
    virtual void Show(const std::optional<V>& value) = 0;
    // The value to write into every record, or nothing to leave them as
    // they are (unchanged, or still blank).
    virtual std::optional<V> Edited() const = 0;
};

// A check box; it shows differing records as partly checked.
class CheckView final : public FieldView<bool> {
public:
    explicit CheckView(QCheckBox* box) : m_box(box) {}
    void Show(const std::optional<bool>& value) override;
    std::optional<bool> Edited() const override;

private:
    QCheckBox* m_box;
    int m_shown = 0; // Qt::CheckState
};

// A choice among the combo's items, each carrying its number as item data.
// A value no item carries gets an item of its own, labelled by `unknown`, so
// an unusual stored value is shown and kept. Differing records add a blank
// item at the top.
class ComboView final : public FieldView<long long> {
public:
    explicit ComboView(QComboBox* combo, std::function<QString(long long)> unknown = {})
        : m_combo(combo), m_unknown(std::move(unknown)) {}
    void Show(const std::optional<long long>& value) override;
    std::optional<long long> Edited() const override;

private:
    QComboBox* m_combo;
    std::function<QString(long long)> m_unknown;
    int m_shown = -1;
};

// A text line (UTF-8). Differing records show an empty line; typing into
// it, clearing included, writes the text into every record.
class TextView final : public FieldView<std::string> {
public:
    explicit TextView(QLineEdit* line);
    ~TextView() override;
    TextView(const TextView&) = delete;
    TextView& operator=(const TextView&) = delete;
    void Show(const std::optional<std::string>& value) override;
    std::optional<std::string> Edited() const override;

private:
    QLineEdit* m_line;
    QMetaObject::Connection m_typing;
    QString m_shown;
    bool m_mixed = false;
    bool m_typed = false;
};

// A whole number typed as text, for values the page checks itself and
// rejects with a message instead of clamping them silently.
class NumberTextView final : public FieldView<long long> {
public:
    explicit NumberTextView(QLineEdit* line) : m_text(line) {}
    void Show(const std::optional<long long>& value) override;
    std::optional<long long> Edited() const override;

private:
    TextView m_text;
};

// A spin box. Differing records show a blank one step below its range.
class SpinView final : public FieldView<long long> {
public:
    explicit SpinView(QSpinBox* spin);
    void Show(const std::optional<long long>& value) override;
    std::optional<long long> Edited() const override;

private:
    QSpinBox* m_spin;
    int m_minimum;
    int m_shown = 0;
};

class DoubleSpinView final : public FieldView<double> {
public:
    explicit DoubleSpinView(QDoubleSpinBox* spin);
    void Show(const std::optional<double>& value) override;
    std::optional<double> Edited() const override;

private:
    QDoubleSpinBox* m_spin;
    double m_minimum;
    double m_shown = 0.0;
};

// The fields of one page over records of type Record.
template <class Record> class CFieldBindings {
public:
    using Records = std::vector<Record*>;

    // A field reached through get/set functions.
    template <class V>
    void Bind(std::unique_ptr<FieldView<V>> view, std::function<V(const Record&)> get,
              std::function<void(Record&, const V&)> set) {
        FieldView<V>* shown = view.get();
        m_views.push_back(std::shared_ptr<void>(std::move(view)));
        m_fields.push_back({[shown, get](const Records& records) {
                                std::optional<V> common;
                                bool first = true;
                                for (const Record* record : records) {
                                    V value = get(*record);
                                    if (first) {
                                        common = value;
                                        first = false;
                                    } else if (common && !(*common == value)) {
                                        common.reset();
                                    }
                                }
                                shown->Show(common);
                            },
                            [shown, set](const Records& records) {
                                if (const std::optional<V> value = shown->Edited()) {
                                    for (Record* record : records) {
                                        set(*record, *value);
                                    }
                                }
                            }});
    }

    // A member, reached by `member` (a generic lambda returning a reference
    // to it), whose type converts to and from V.
    template <class V, class Member> void Field(std::unique_ptr<FieldView<V>> view, Member member) {
        Bind<V>(
            std::move(view),
            [member](const Record& record) { return static_cast<V>(member(record)); },
            [member](Record& record, const V& value) {
                auto& field = member(record);
                field = static_cast<std::remove_reference_t<decltype(field)>>(value);
            });
    }

    void Load(const Records& records) const {
        if (records.empty()) {
            return;
        }
        for (const auto& field : m_fields) {
            field.load(records);
        }
    }
    void Store(const Records& records) const {
        for (const auto& field : m_fields) {
            field.store(records);
        }
    }

private:
    struct Entry {
        std::function<void(const Records&)> load;
        std::function<void(const Records&)> store;
    };
    std::vector<std::shared_ptr<void>> m_views;
    std::vector<Entry> m_fields;
};

// Items of number choices.
void AddChoice(QComboBox* combo, const QString& label, long long value);
// The sample rates every format page offers, highest first.
void AddSampleRates(QComboBox* combo);
// "mono" (1) and "stereo" (2).
void AddChannels(QComboBox* combo);
// The output formats by their numbers, in the order of the main window's
// format combo.
void AddFormatChoices(QComboBox* combo);
// The number an item carries; -1 for the blank item of differing records.
long long ChoiceValue(const QComboBox* combo);

} // namespace qm::ui
