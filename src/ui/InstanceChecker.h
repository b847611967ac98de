// The first-instance record: the first running instance publishes its main
// window id and its process id in a shared-memory block named
// "CInstanceChecker_MMF_" followed by the application's name. A later
// instance finds the block and goes on running; it may bring the first one's
// window forward. A block whose process is gone (an instance that crashed
// leaves it behind) is taken over by the next instance, not trusted.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <QString>

class QSharedMemory;

namespace qm::ui {

class CInstanceChecker {
public:
    // What the block holds.
    struct Record {
        std::uint64_t windowId = 0;
        std::int64_t processId = 0;
    };

    explicit CInstanceChecker(QString applicationName = QStringLiteral("Quavermill"));
    ~CInstanceChecker();
    CInstanceChecker(const CInstanceChecker&) = delete;
    CInstanceChecker& operator=(const CInstanceChecker&) = delete;

    // "CInstanceChecker_MMF_" + the application's name.
    QString MakeMMFFilename() const;
    // True when the block exists and its process still runs (the block is
    // then kept open). A block left by a process that is gone counts as none
    // and is kept for TrackFirstInstanceRunning to take over.
    bool PreviousInstanceRunning();
    // Publishes `windowId` and this process in the block (creating it, or
    // taking over a stale one). False when the block cannot be had; nothing
    // is published then and the caller goes on.
    bool TrackFirstInstanceRunning(std::uint64_t windowId);
    // Brings the previous instance's window forward where the window system
    // lets a process do that, then closes the block. False without a block
    // of a running instance.
    bool ActivatePreviousInstance();
    // The block's contents, when this checker has it open.
    std::optional<Record> ReadRecord() const;

private:
    bool Attach();
    static bool ProcessRunning(std::int64_t processId);

    QString m_applicationName;
    std::unique_ptr<QSharedMemory> m_block;
};

} // namespace qm::ui
