// A drive that wraps another (an image drive, as a rule) and misbehaves as
// told: reads that fail at chosen sectors for the first k tries or always,
// jitter (a read returns audio shifted by up to ±N frames), slow reads, and a
// disc swapped for another. The ripper reads it through the drive list like
// any drive, so no code of the program knows it is being tested.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>

#include "disc/CdDrive.h"

namespace qmtest {

class FaultyDrive : public qm::CdDrive {
public:
    static constexpr int kAlways = -1;

    explicit FaultyDrive(std::shared_ptr<qm::CdDrive> disc);

    // Reads that include `sector` fail `tries` times (kAlways: for good).
    void FailSector(std::int32_t sector, int tries);
    // Every read after the next `exactReads` returns audio shifted by a
    // random amount of frames in [-maxFrames, maxFrames]. The first read of a
    // rip stands for the drive's calibrated start: no overlap check can put
    // the very first block back in place, on any drive.
    void SetJitter(int maxFrames, std::uint32_t seed, int exactReads = 1);
    void SetReadDelay(std::chrono::milliseconds delay);
    // Puts another disc into the drive; the drive tells of the change
    // (MediaChanges) unless HideMediaChanges was called.
    void SwapDisc(std::shared_ptr<qm::CdDrive> disc);
    // Puts another disc into the drive as soon as a read that takes in
    // `sector` has been served, between that read and the next.
    void SwapDiscAfter(std::int32_t sector, std::shared_ptr<qm::CdDrive> disc);
    // A drive that never says its disc changed.
    void HideMediaChanges();

    int Reads() const;
    // Tables of contents read through this drive.
    int TocReads() const;
    int ShiftedReads() const;

    std::string Device() const override;
    bool IsImage() const override;
    bool Open(int readType) override;
    void Close() override;
    std::string Identity() override;
    bool ReadToc(qm::DiscToc& toc) override;
    std::uint32_t MediaChanges() override;
    qm::DriveStatus ReadAudio(std::int32_t lsn, std::int32_t sectors, std::uint8_t* dest) override;
    qm::DriveStatus SetSpeed(int kbPerSecond) override;
    int GetCurrentSpeed() override;
    int GetMaximalSpeed() override;

private:
    void SwapDiscLocked(std::shared_ptr<qm::CdDrive> disc);
    bool ShiftedRead(std::int32_t lsn, std::int32_t sectors, int shift, std::uint8_t* dest);

    mutable std::mutex m_lock;
    std::shared_ptr<qm::CdDrive> m_disc;
    int m_opens = 0;
    int m_readType = 0;
    std::map<std::int32_t, int> m_failures;
    int m_maxShift = 0;
    int m_jitterFrom = 0; // reads up to this one are exact
    std::mt19937 m_rng;
    std::chrono::milliseconds m_delay{0};
    int m_reads = 0;
    int m_tocReads = 0;
    bool m_hideChanges = false;
    std::uint32_t m_swaps = 0;
    int m_shiftedReads = 0;
    std::int32_t m_swapAfter = -1;
    std::shared_ptr<qm::CdDrive> m_nextDisc;
};

// A drive with its tray open: no table of contents, nothing to read.
class EmptyDrive : public qm::CdDrive {
public:
    std::string Device() const override { return "empty"; }
    bool IsImage() const override { return true; }
    bool Open(int /*readType*/) override { return true; }
    void Close() override {}
    std::string Identity() override { return "Empty drive"; }
    bool ReadToc(qm::DiscToc& /*toc*/) override { return false; }
    qm::DriveStatus ReadAudio(std::int32_t, std::int32_t, std::uint8_t*) override {
        return qm::DriveStatus::kFailed;
    }
    qm::DriveStatus SetSpeed(int /*kbPerSecond*/) override { return qm::DriveStatus::kOk; }
    int GetCurrentSpeed() override { return 0; }
    int GetMaximalSpeed() override { return 0; }
};

} // namespace qmtest
