#include "ui/QueryCDDBInfoDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/Trace.h"

namespace qm::ui {

CQueryCDDBInfoDlg::CQueryCDDBInfoDlg(CQueryCDDBInfo& info, QWidget* parent)
    : QDialog(parent), m_info(info), m_list(new QTreeWidget(this)) {
    QM_TRACE("QueryCDDBInfoDlg");
    setWindowTitle(QStringLiteral("CDDB"));
    setObjectName(QStringLiteral("QueryCDDBInfoDlg"));
    m_list->setObjectName(QStringLiteral("Matches"));
    m_list->setRootIsDecorated(false);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    QStringList headers;
    for (const CQueryCDDBInfo::Column& column : CQueryCDDBInfo::kColumns) {
        headers << QString::fromLatin1(column.name);
    }
    m_list->setHeaderLabels(headers);
    int column = 0;
    for (const CQueryCDDBInfo::Column& shown : CQueryCDDBInfo::kColumns) {
        m_list->setColumnWidth(column++, shown.width);
    }

    m_info.Init();
    for (const CQueryCDDBInfo::Row& row : m_info.GetRows()) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdString(row.artist));
        item->setText(1, QString::fromStdString(row.album));
        item->setText(2, QString::fromStdString(row.genre));
        item->setText(3, QString::fromStdString(row.match));
        item->setText(4, QString::fromStdString(row.source));
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CQueryCDDBInfoDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CQueryCDDBInfoDlg::reject);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &CQueryCDDBInfoDlg::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    resize(420, 240);
}

std::int32_t CQueryCDDBInfoDlg::Choose() {
    QM_TRACE("QueryCDDBInfoDlg");
    const std::int32_t automatic = m_info.GetAutoChoice();
    if (automatic >= 0) {
        m_chosen = automatic;
        QM_RETURN(0, m_chosen);
    }
    m_chosen = -1;
    if (m_list->topLevelItemCount() > 0) {
        m_list->setCurrentItem(m_list->topLevelItem(0));
    }
    exec();
    QM_RETURN(1, m_chosen);
}

void CQueryCDDBInfoDlg::accept() {
    QM_TRACE("QueryCDDBInfoDlg");
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    const std::int32_t row =
        selected.isEmpty() ? -1 : m_list->indexOfTopLevelItem(selected.front());
    m_chosen = m_info.OnOK(row);
    QDialog::accept();
}

} // namespace qm::ui
