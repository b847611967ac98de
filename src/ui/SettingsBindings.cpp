#include "ui/SettingsBindings.h"

#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>

#include "settings/OutputFormat.h"

namespace qm::ui {

namespace {

// Shown in place of a value the selected records do not share.
const char* const kDiffering = "(different values)";

} // namespace

void CheckView::Show(const std::optional<bool>& value) {
    m_box->setTristate(!value.has_value());
    m_box->setCheckState(!value ? Qt::PartiallyChecked : *value ? Qt::Checked : Qt::Unchecked);
    m_shown = m_box->checkState();
}

std::optional<bool> CheckView::Edited() const {
    const Qt::CheckState state = m_box->checkState();
    if (state == m_shown || state == Qt::PartiallyChecked) {
        return std::nullopt;
    }
    return state == Qt::Checked;
}

void AddChoice(QComboBox* combo, const QString& label, long long value) {
    combo->addItem(label, QVariant(value));
}

long long ChoiceValue(const QComboBox* combo) {
    const QVariant data = combo->currentData();
    return data.isValid() ? data.toLongLong() : -1;
}

void ComboView::Show(const std::optional<long long>& value) {
    // A blank item from an earlier load goes first.
    if (m_combo->count() > 0 && !m_combo->itemData(0).isValid()) {
        m_combo->removeItem(0);
    }
    if (!value) {
        m_combo->insertItem(0, QStringLiteral(" "), QVariant());
        m_combo->setItemData(0, QString::fromLatin1(kDiffering), Qt::ToolTipRole);
        m_combo->setCurrentIndex(0);
    } else {
        int index = m_combo->findData(QVariant(*value));
        if (index < 0) {
            const QString label = m_unknown ? m_unknown(*value) : QString::number(*value);
            AddChoice(m_combo, label, *value);
            index = m_combo->count() - 1;
        }
        m_combo->setCurrentIndex(index);
    }
    m_shown = m_combo->currentIndex();
}

std::optional<long long> ComboView::Edited() const {
    const int index = m_combo->currentIndex();
    const QVariant data = m_combo->itemData(index);
    if (index == m_shown || !data.isValid()) {
        return std::nullopt;
    }
    return data.toLongLong();
}

TextView::TextView(QLineEdit* line) : m_line(line) {
    m_typing = QObject::connect(line, &QLineEdit::textEdited, line, [this] { m_typed = true; });
}

TextView::~TextView() {
    QObject::disconnect(m_typing);
}

void TextView::Show(const std::optional<std::string>& value) {
    m_mixed = !value.has_value();
    m_shown = value ? QString::fromStdString(*value) : QString();
    m_line->setText(m_shown);
    m_line->setPlaceholderText(m_mixed ? QString::fromLatin1(kDiffering) : QString());
    m_typed = false;
}

std::optional<std::string> TextView::Edited() const {
    const QString text = m_line->text();
    if (text == m_shown && !(m_mixed && m_typed)) {
        return std::nullopt;
    }
    return text.toStdString();
}

void NumberTextView::Show(const std::optional<long long>& value) {
    m_text.Show(value ? std::optional<std::string>(std::to_string(*value)) : std::nullopt);
}

std::optional<long long> NumberTextView::Edited() const {
    const std::optional<std::string> text = m_text.Edited();
    if (!text) {
        return std::nullopt;
    }
    // The page has checked the text before anything is stored.
    bool ok = false;
    const long long value = QString::fromStdString(*text).trimmed().toLongLong(&ok);
    return ok ? std::optional<long long>(value) : std::nullopt;
}

SpinView::SpinView(QSpinBox* spin) : m_spin(spin), m_minimum(spin->minimum()) {}

void SpinView::Show(const std::optional<long long>& value) {
    // The blank value sits one below the range, so that the records keep
    // theirs until the user picks one.
    m_spin->setMinimum(value ? m_minimum : m_minimum - 1);
    m_spin->setSpecialValueText(value ? QString() : QStringLiteral(" "));
    m_spin->setValue(value ? static_cast<int>(*value) : m_minimum - 1);
    m_shown = m_spin->value();
}

std::optional<long long> SpinView::Edited() const {
    const int value = m_spin->value();
    if (value == m_shown || value < m_minimum) {
        return std::nullopt;
    }
    return value;
}

DoubleSpinView::DoubleSpinView(QDoubleSpinBox* spin) : m_spin(spin), m_minimum(spin->minimum()) {}

void DoubleSpinView::Show(const std::optional<double>& value) {
    const double blank = m_minimum - m_spin->singleStep();
    m_spin->setMinimum(value ? m_minimum : blank);
    m_spin->setSpecialValueText(value ? QString() : QStringLiteral(" "));
    m_spin->setValue(value ? *value : blank);
    m_shown = m_spin->value();
}

std::optional<double> DoubleSpinView::Edited() const {
    const double value = m_spin->value();
    if (value == m_shown || value < m_minimum) {
        return std::nullopt;
    }
    return value;
}

void AddSampleRates(QComboBox* combo) {
    for (const int rate : {48000, 44100, 32000, 22050, 11025, 8000}) {
        AddChoice(combo, QString::number(rate), rate);
    }
}

void AddChannels(QComboBox* combo) {
    AddChoice(combo, QStringLiteral("mono"), 1);
    AddChoice(combo, QStringLiteral("stereo"), 2);
}

void AddFormatChoices(QComboBox* combo) {
    // The order of the main window's format combo.
    AddChoice(combo, QStringLiteral("WMA"), static_cast<long long>(OutputFormat::WMA));
    AddChoice(combo, QStringLiteral("MP3"), static_cast<long long>(OutputFormat::MP3));
    AddChoice(combo, QStringLiteral("OGG"), static_cast<long long>(OutputFormat::OGG));
    AddChoice(combo, QStringLiteral("WAV"), static_cast<long long>(OutputFormat::WAV));
    AddChoice(combo, QStringLiteral("APE"), static_cast<long long>(OutputFormat::APE));
    AddChoice(combo, QStringLiteral("FLAC"), static_cast<long long>(OutputFormat::FLAC));
}

} // namespace qm::ui
