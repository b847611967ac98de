// The log window's list: one row per grab log entry, drawn on a single line
// in the entry's colour (attention red, success green, plain in the text
// colour) over the highlight when selected, in bold Arial.
#pragma once

#include <cstdint>
#include <string>

#include <QListWidget>

namespace qm::ui {

class CLogList : public QListWidget {
    Q_OBJECT

public:
    // Where a row keeps its entry's kind (a GrabLogKind).
    static constexpr int kKindRole = Qt::UserRole + 1;

    explicit CLogList(QWidget* parent = nullptr);

    // Adds a row with `text` (UTF-8) and `kind`; its index.
    int AddString(const std::string& text, std::uint8_t kind);
    std::uint8_t GetKind(int row) const;
    // Bold Arial, 17 points on the screen the list is shown on.
    void UseLogFont();

    // The colour a row of `kind` is written in; an invalid colour means the
    // list's own text colour.
    static QColor KindColor(std::uint8_t kind);
};

} // namespace qm::ui
