#include "ui/LogDlg.h"

#include <memory>

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/Trace.h"
#include "jobs/GrabLog.h"
#include "platform/SettingsStore.h"
#include "settings/Settings.h"
#include "ui/LogList.h"

namespace qm::ui {

CLogDlg::CLogDlg(const CGrabLog& log, qm::SettingsStore* store, QWidget* parent)
    : QDialog(parent), m_store(store), m_list(new CLogList(this)),
      m_ok(new QPushButton(QStringLiteral("OK"), this)) {
    QM_TRACE("LogDlg");
    setWindowTitle(QStringLiteral("Log"));
    setObjectName(QStringLiteral("LogDlg"));
    setSizeGripEnabled(true);
    m_ok->setObjectName(QStringLiteral("OK"));
    m_ok->setDefault(true);

    // The list fills the window; OK stays centred below it.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    connect(m_ok, &QPushButton::clicked, this, &CLogDlg::accept);

    for (const GrabLogEntry& entry : log.GetEntries()) {
        m_list->AddString(entry.text, entry.kind);
    }
    m_list->UseLogFont();

    resize(520, 320);
    LogWindowPosition position;
    if (m_store != nullptr && LoadLogWindowPosition(position, *m_store) &&
        position.right > position.left && position.bottom > position.top) {
        setGeometry(position.left, position.top, position.right - position.left,
                    position.bottom - position.top);
    }
}

void CLogDlg::accept() {
    QM_TRACE("LogDlg");
    if (m_store != nullptr) {
        const QRect shown = geometry();
        LogWindowPosition position;
        position.left = shown.left();
        position.top = shown.top();
        position.right = shown.left() + shown.width();
        position.bottom = shown.top() + shown.height();
        SaveLogWindowPosition(position, *m_store);
        m_store->Save();
    }
    QDialog::accept();
}

void ShowLogDialog(QWidget* parent, const CGrabLog& log) {
    QM_TRACE("LogDlg");
    const std::unique_ptr<qm::SettingsStore> store =
        qm::OpenSettingsStore(qm::SettingsPath(), qm::StoreOpen::Create);
    CLogDlg dialog(log, store.get(), parent);
    dialog.exec();
}

} // namespace qm::ui
