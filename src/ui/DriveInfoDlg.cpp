#include "ui/DriveInfoDlg.h"

#include <mutex>
#include <thread>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/Trace.h"
#include "disc/DriveInfo.h"
#include "disc/RipVerifier.h"

namespace qm::ui {

// Shared by the window and its worker: whichever ends last frees it.
struct CDriveInfoDlg::Work {
    std::mutex lock;
    bool done = false;
    qm::DriveInfo info;
};

CDriveInfoDlg::CDriveInfoDlg(std::shared_ptr<qm::CdDrive> drive, std::filesystem::path dataFolder,
                             std::string arServer, std::int32_t readOffset, QWidget* parent)
    : QDialog(parent), m_work(std::make_shared<Work>()), m_readOffset(readOffset),
      m_text(new QLabel(QStringLiteral("Asking the drive..."), this)),
      m_ok(new QPushButton(QStringLiteral("OK"), this)) {
    QM_TRACE("DriveInfoDlg");
    setWindowTitle(QStringLiteral("Drive information"));
    setObjectName(QStringLiteral("DriveInfoDlg"));
    m_text->setObjectName(QStringLiteral("DriveInfo"));
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setWordWrap(true);
    m_text->setMinimumWidth(420);
    m_ok->setObjectName(QStringLiteral("OK"));
    m_ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text, 1);
    layout->addLayout(buttons);
    connect(m_ok, &QPushButton::clicked, this, &CDriveInfoDlg::accept);

    if (drive == nullptr) {
        m_text->setText(QStringLiteral("No drive is selected."));
        m_done = true;
        QM_RETURN(0);
    }
    std::thread([work = m_work, drive = std::move(drive), folder = std::move(dataFolder),
                 server = std::move(arServer)] {
        qm::DriveInfo info = qm::DescribeDrive(*drive);
        // The list is fetched only for a drive it can name.
        if (info.hasHardware) {
            qm::FindListedOffset(info, qm::LoadDriveOffsets(folder, server));
        }
        const std::lock_guard<std::mutex> hold(work->lock);
        work->info = std::move(info);
        work->done = true;
    }).detach();
    connect(&m_poll, &QTimer::timeout, this, &CDriveInfoDlg::Poll);
    m_poll.start(50);
    QM_EXIT(1);
}

CDriveInfoDlg::~CDriveInfoDlg() {
    QM_TRACE("DriveInfoDlg");
    m_poll.stop();
}

void CDriveInfoDlg::Poll() {
    QM_TRACE("DriveInfoDlg");
    qm::DriveInfo info;
    {
        const std::lock_guard<std::mutex> hold(m_work->lock);
        if (!m_work->done) {
            QM_RETURN(0);
        }
        info = m_work->info;
    }
    m_poll.stop();
    m_text->setText(QString::fromStdString(qm::DriveInfoText(info, m_readOffset)).trimmed());
    m_done = true;
    QM_EXIT(1);
}

} // namespace qm::ui
