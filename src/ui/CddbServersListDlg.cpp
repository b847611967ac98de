#include "ui/CddbServersListDlg.h"

#include <QDialogButtonBox>
#include <QMessageBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/Trace.h"
#include "disc/CDRipper.h"
#include "ui/CddbLookup.h"

namespace qm::ui {

CCDDBServersListDlg::CCDDBServersListDlg(CCDDBServersList& list, QWidget* parent)
    : QDialog(parent), m_servers(list), m_list(new QTreeWidget(this)) {
    QM_TRACE("CDDBServersListDlg");
    setWindowTitle(QStringLiteral("CDDB servers"));
    setObjectName(QStringLiteral("CDDBServersListDlg"));
    m_list->setObjectName(QStringLiteral("Servers"));
    m_list->setRootIsDecorated(false);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    QStringList headers;
    for (const CCDDBServersList::Column& column : CCDDBServersList::kColumns) {
        headers << QString::fromLatin1(column.name);
    }
    m_list->setHeaderLabels(headers);
    int column = 0;
    for (const CCDDBServersList::Column& shown : CCDDBServersList::kColumns) {
        m_list->setColumnWidth(column++, shown.width);
    }
    for (const CCDDBServersList::Row& row : m_servers.GetRows()) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdString(row.server));
        item->setText(1, QString::fromStdString(row.port));
        item->setText(2, QString::fromStdString(row.cgi));
        item->setText(3, QString::fromStdString(row.isHttp));
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CCDDBServersListDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CCDDBServersListDlg::reject);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &CCDDBServersListDlg::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    resize(420, 260);
}

void CCDDBServersListDlg::accept() {
    QM_TRACE("CDDBServersListDlg");
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    const std::int32_t row =
        selected.isEmpty() ? -1 : m_list->indexOfTopLevelItem(selected.front());
    if (!m_servers.OnOK(row, m_choice)) {
        reject();
        QM_RETURN(0);
    }
    QDialog::accept();
    QM_EXIT(1);
}

ServerPicker MakeCddbServerPicker() {
    QM_TRACE("CDDBServersListDlg");
    QM_RETURN(
        0,
        [](QWidget* parent, const CDDBSettings& shown, CCDDBServersList::Choice* choice) -> bool {
            CCDRipper ripper;
            CCDDBServersList servers;
            bool loaded = false;
            if (!RunCddbRequest(parent, QStringLiteral("Asking for the list of servers..."),
                                [&] { loaded = servers.Load(ripper, shown); })) {
                return false;
            }
            if (!loaded) {
                QMessageBox::critical(parent, QString::fromLatin1(CCDDBServersList::kFailedCaption),
                                      QString::fromLatin1(CCDDBServersList::kFailedText));
                return false;
            }
            CCDDBServersListDlg dialog(servers, parent);
            if (dialog.exec() != QDialog::Accepted || choice == nullptr) {
                return false;
            }
            *choice = dialog.GetChoice();
            return true;
        });
}

} // namespace qm::ui
