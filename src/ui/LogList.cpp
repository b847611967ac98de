#include "ui/LogList.h"

#include <QPainter>
#include <QScreen>
#include <QStyledItemDelegate>

#include "core/Trace.h"
#include "jobs/GrabLog.h"

namespace qm::ui {

namespace {

// Draws a row as the log wants it: background, then the text on one line in
// the colour of its kind.
class LogRowDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QPalette& palette = option.palette;
        painter->save();
        painter->fillRect(option.rect, selected ? palette.highlight() : palette.base());
        const QColor kindColor =
            CLogList::KindColor(static_cast<std::uint8_t>(index.data(CLogList::kKindRole).toInt()));
        QColor textColor = selected ? palette.highlightedText().color() : palette.text().color();
        if (kindColor.isValid()) {
            textColor = kindColor;
        }
        painter->setPen(textColor);
        painter->setFont(option.font);
        const QString text = index.data(Qt::DisplayRole).toString();
        const QRect area = option.rect.adjusted(2, 0, -2, 0);
        painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QFontMetrics metrics(option.font);
        return {metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString()) + 4,
                metrics.height() + 2};
    }
};

} // namespace

CLogList::CLogList(QWidget* parent) : QListWidget(parent) {
    QM_TRACE("LogList");
    setObjectName(QStringLiteral("LogList"));
    setItemDelegate(new LogRowDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
}

int CLogList::AddString(const std::string& text, std::uint8_t kind) {
    QM_TRACE("LogList");
    auto* item = new QListWidgetItem(QString::fromStdString(text));
    item->setData(kKindRole, static_cast<int>(kind));
    addItem(item);
    QM_RETURN(0, count() - 1);
}

std::uint8_t CLogList::GetKind(int row) const {
    QM_TRACE("LogList");
    const QListWidgetItem* const shown = item(row);
    if (shown == nullptr) {
        QM_RETURN(0, kLogPlain);
    }
    QM_RETURN(1, static_cast<std::uint8_t>(shown->data(kKindRole).toInt()));
}

void CLogList::UseLogFont() {
    QM_TRACE("LogList");
    const QScreen* const shown = screen();
    const int dpiY = shown != nullptr ? static_cast<int>(shown->logicalDotsPerInchY()) : 96;
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(17 * dpiY / 72);
    setFont(font);
}

QColor CLogList::KindColor(std::uint8_t kind) {
    QM_TRACE("LogList");
    switch (kind) {
    case kLogAttention:
        QM_RETURN(0, QColor(255, 0, 0));
    case kLogSuccess:
        QM_RETURN(1, QColor(0, 128, 0));
    default:
        QM_RETURN(2, QColor());
    }
}

} // namespace qm::ui
