#include "ui/InstanceChecker.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QGuiApplication>
#include <QSharedMemory>
#include <QWindow>

#include "core/Trace.h"

namespace qm::ui {

CInstanceChecker::CInstanceChecker(QString applicationName)
    : m_applicationName(std::move(applicationName)) {
    QM_TRACE("sinstance");
}

CInstanceChecker::~CInstanceChecker() {
    QM_TRACE("sinstance");
    // Detaching the last user removes the block; a block the first instance
    // still holds stays.
    m_block.reset();
}

QString CInstanceChecker::MakeMMFFilename() const {
    QM_TRACE("sinstance");
    QM_RETURN(0, QStringLiteral("CInstanceChecker_MMF_") + m_applicationName);
}

bool CInstanceChecker::ProcessRunning(std::int64_t processId) {
    QM_TRACE("sinstance");
    if (processId <= 0) {
        QM_RETURN(0, false);
    }
    // EPERM: it runs, under another user.
    QM_RETURN(1, ::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM);
}

bool CInstanceChecker::Attach() {
    QM_TRACE("sinstance");
    if (m_block && m_block->isAttached()) {
        QM_RETURN(0, true);
    }
    m_block = std::make_unique<QSharedMemory>(MakeMMFFilename());
    if (!m_block->attach(QSharedMemory::ReadWrite)) {
        m_block.reset();
        QM_RETURN(1, false);
    }
    QM_RETURN(2, true);
}

std::optional<CInstanceChecker::Record> CInstanceChecker::ReadRecord() const {
    QM_TRACE("sinstance");
    if (!m_block || !m_block->isAttached() ||
        m_block->size() < static_cast<qsizetype>(sizeof(Record))) {
        QM_RETURN(0, std::nullopt);
    }
    Record record;
    m_block->lock();
    std::memcpy(&record, m_block->constData(), sizeof record);
    m_block->unlock();
    QM_RETURN(1, record);
}

bool CInstanceChecker::PreviousInstanceRunning() {
    QM_TRACE("sinstance");
    if (!Attach()) {
        QM_RETURN(0, false);
    }
    const std::optional<Record> record = ReadRecord();
    QM_RETURN(1, record.has_value() && ProcessRunning(record->processId));
}

bool CInstanceChecker::TrackFirstInstanceRunning(std::uint64_t windowId) {
    QM_TRACE("sinstance");
    if (!m_block || !m_block->isAttached()) {
        m_block = std::make_unique<QSharedMemory>(MakeMMFFilename());
        if (!m_block->create(static_cast<qsizetype>(sizeof(Record)), QSharedMemory::ReadWrite)) {
            // Another instance may have created it in the meantime, or a
            // crashed one left it: take it only when its process is gone.
            m_block.reset();
            if (!Attach()) {
                QM_RETURN(0, false);
            }
        }
    }
    if (m_block->size() < static_cast<qsizetype>(sizeof(Record))) {
        m_block.reset();
        QM_RETURN(1, false);
    }
    const Record own{windowId, static_cast<std::int64_t>(::getpid())};
    bool published = false;
    m_block->lock();
    Record held;
    std::memcpy(&held, m_block->constData(), sizeof held);
    // An empty record is a block just created; a record of a process that is
    // gone is a crashed instance's; this process may publish again.
    if (held.processId == 0 || held.processId == own.processId || !ProcessRunning(held.processId)) {
        std::memcpy(m_block->data(), &own, sizeof own);
        published = true;
    }
    m_block->unlock();
    QM_RETURN(2, published);
}

bool CInstanceChecker::ActivatePreviousInstance() {
    QM_TRACE("sinstance");
    if (!PreviousInstanceRunning()) {
        m_block.reset();
        QM_RETURN(0, false);
    }
    const std::optional<Record> record = ReadRecord();
    m_block.reset();
    if (!record || record->windowId == 0 || qGuiApp == nullptr) {
        QM_RETURN(1, false);
    }
    // Only window systems that let a process handle another's windows give
    // one here (X11 does; Wayland and offscreen do not).
    std::unique_ptr<QWindow> window(QWindow::fromWinId(static_cast<WId>(record->windowId)));
    if (!window) {
        QM_RETURN(2, false);
    }
    if (window->windowStates() & Qt::WindowMinimized) {
        window->setWindowStates(window->windowStates() & ~Qt::WindowMinimized);
    }
    window->raise();
    window->requestActivate();
    QM_RETURN(3, true);
}

} // namespace qm::ui
