#include "support/FaultyDrive.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace qmtest {

FaultyDrive::FaultyDrive(std::shared_ptr<qm::CdDrive> disc) : m_disc(std::move(disc)) {}

void FaultyDrive::FailSector(std::int32_t sector, int tries) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_failures[sector] = tries;
}

void FaultyDrive::SetJitter(int maxFrames, std::uint32_t seed, int exactReads) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_maxShift = maxFrames;
    m_rng.seed(seed);
    m_jitterFrom = m_reads + exactReads;
}

void FaultyDrive::SetReadDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_delay = delay;
}

void FaultyDrive::SwapDisc(std::shared_ptr<qm::CdDrive> disc) {
    std::lock_guard<std::mutex> lock(m_lock);
    SwapDiscLocked(std::move(disc));
}

void FaultyDrive::SwapDiscAfter(std::int32_t sector, std::shared_ptr<qm::CdDrive> disc) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_swapAfter = sector;
    m_nextDisc = std::move(disc);
}

void FaultyDrive::SwapDiscLocked(std::shared_ptr<qm::CdDrive> disc) {
    for (int i = 0; i < m_opens; ++i) {
        m_disc->Close();
        disc->Open(m_readType);
    }
    m_disc = std::move(disc);
    ++m_swaps;
}

void FaultyDrive::HideMediaChanges() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_hideChanges = true;
}

int FaultyDrive::TocReads() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_tocReads;
}

std::uint32_t FaultyDrive::MediaChanges() {
    std::lock_guard<std::mutex> lock(m_lock);
    // Every swap moves the count on whatever the discs' own counts are.
    return m_hideChanges ? 0 : m_swaps * 0x10000 + m_disc->MediaChanges();
}

int FaultyDrive::Reads() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_reads;
}

int FaultyDrive::ShiftedReads() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_shiftedReads;
}

std::string FaultyDrive::Device() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_disc->Device();
}

bool FaultyDrive::IsImage() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_disc->IsImage();
}

bool FaultyDrive::Open(int readType) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_disc->Open(readType)) {
        return false;
    }
    m_readType = readType;
    ++m_opens;
    return true;
}

void FaultyDrive::Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_opens > 0) {
        --m_opens;
        m_disc->Close();
    }
}

std::string FaultyDrive::Identity() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_disc->Identity();
}

bool FaultyDrive::ReadToc(qm::DiscToc& toc) {
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_tocReads;
    return m_disc->ReadToc(toc);
}

bool FaultyDrive::ShiftedRead(std::int32_t lsn, std::int32_t sectors, int shift,
                              std::uint8_t* dest) {
    qm::DiscToc toc;
    if (!m_disc->ReadToc(toc)) {
        return false;
    }
    // Frames [lsn * 588 + shift, ...) of the disc; nothing but zeros outside it.
    const std::int64_t firstFrame = static_cast<std::int64_t>(lsn) * qm::kFramesPerSector + shift;
    const std::int64_t frames = static_cast<std::int64_t>(sectors) * qm::kFramesPerSector;
    const std::int64_t discFrames = static_cast<std::int64_t>(toc.leadout) * qm::kFramesPerSector;
    std::memset(dest, 0, static_cast<std::size_t>(frames) * 4);
    const std::int64_t from = std::max<std::int64_t>(firstFrame, 0);
    const std::int64_t to = std::min<std::int64_t>(firstFrame + frames, discFrames);
    if (from >= to) {
        return true;
    }
    const auto firstSector = static_cast<std::int32_t>(from / qm::kFramesPerSector);
    const auto endSector =
        static_cast<std::int32_t>((to + qm::kFramesPerSector - 1) / qm::kFramesPerSector);
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(endSector - firstSector) *
                                  qm::kSectorBytes);
    if (m_disc->ReadAudio(firstSector, endSector - firstSector, raw.data()) !=
        qm::DriveStatus::kOk) {
        return false;
    }
    const std::int64_t skip = from - static_cast<std::int64_t>(firstSector) * qm::kFramesPerSector;
    std::memcpy(dest + (from - firstFrame) * 4, raw.data() + skip * 4,
                static_cast<std::size_t>(to - from) * 4);
    return true;
}

qm::DriveStatus FaultyDrive::ReadAudio(std::int32_t lsn, std::int32_t sectors, std::uint8_t* dest) {
    std::chrono::milliseconds delay;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        delay = m_delay;
    }
    if (delay.count() > 0) {
        std::this_thread::sleep_for(delay);
    }
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_reads;
    bool failed = false;
    for (auto& [sector, tries] : m_failures) {
        if (sector >= lsn && sector < lsn + sectors && tries != 0) {
            failed = true;
            if (tries > 0) {
                --tries;
            }
        }
    }
    if (failed) {
        return qm::DriveStatus::kFailed;
    }
    if (m_maxShift > 0 && m_reads > m_jitterFrom) {
        std::uniform_int_distribution<int> shift(-m_maxShift, m_maxShift);
        ++m_shiftedReads;
        return ShiftedRead(lsn, sectors, shift(m_rng), dest) ? qm::DriveStatus::kOk
                                                             : qm::DriveStatus::kFailed;
    }
    const qm::DriveStatus status = m_disc->ReadAudio(lsn, sectors, dest);
    if (status == qm::DriveStatus::kOk && m_nextDisc && m_swapAfter >= lsn &&
        m_swapAfter < lsn + sectors) {
        SwapDiscLocked(std::exchange(m_nextDisc, nullptr));
    }
    return status;
}

qm::DriveStatus FaultyDrive::SetSpeed(int kbPerSecond) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_disc->SetSpeed(kbPerSecond);
}

int FaultyDrive::GetCurrentSpeed() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_disc->GetCurrentSpeed();
}

int FaultyDrive::GetMaximalSpeed() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_disc->GetMaximalSpeed();
}

} // namespace qmtest
