#include "disc/OffsetRead.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/Trace.h"

namespace qm {

namespace {

constexpr std::int64_t kSampleBytes = 4;

std::int64_t FloorDiv(std::int64_t value, std::int64_t by) {
    return value >= 0 ? value / by : -((-value + by - 1) / by);
}

} // namespace

DriveStatus ReadWithOffset(CdDrive& drive, std::int32_t lsn, std::int32_t sectors,
                           std::int32_t offset, std::int32_t end, std::uint8_t* dest,
                           std::vector<std::uint8_t>& scratch) {
    QM_TRACE("OffsetRead");
    if (sectors <= 0) {
        QM_RETURN(0, DriveStatus::kFailed);
    }
    const std::int64_t first = static_cast<std::int64_t>(lsn) * kFramesPerSector + offset;
    const std::int64_t last = first + static_cast<std::int64_t>(sectors) * kFramesPerSector;
    const std::int64_t limit = end > 0 ? static_cast<std::int64_t>(end) * kFramesPerSector : last;
    const std::int64_t from = std::max<std::int64_t>(first, 0);
    const std::int64_t to = std::min(last, limit);
    if (offset == 0 && from == first && to == last) {
        QM_RETURN(1, drive.ReadAudio(lsn, sectors, dest));
    }
    const std::size_t bytes = static_cast<std::size_t>(sectors) * kSectorBytes;
    if (from >= to) {
        std::memset(dest, 0, bytes);
        QM_RETURN(2, DriveStatus::kOk);
    }
    const std::int64_t firstSector = FloorDiv(from, kFramesPerSector);
    const std::int64_t endSector = FloorDiv(to + kFramesPerSector - 1, kFramesPerSector);
    const auto count = static_cast<std::int32_t>(endSector - firstSector);
    try {
        scratch.resize(static_cast<std::size_t>(count) * kSectorBytes);
    } catch (const std::bad_alloc&) {
        QM_RETURN(3, DriveStatus::kFailed);
    }
    const DriveStatus status =
        drive.ReadAudio(static_cast<std::int32_t>(firstSector), count, scratch.data());
    if (status != DriveStatus::kOk) {
        QM_RETURN(4, status);
    }
    const std::size_t head = static_cast<std::size_t>((from - first) * kSampleBytes);
    const std::size_t body = static_cast<std::size_t>((to - from) * kSampleBytes);
    std::memset(dest, 0, head);
    std::memcpy(dest + head,
                scratch.data() + (from - firstSector * kFramesPerSector) * kSampleBytes, body);
    std::memset(dest + head + body, 0, bytes - head - body);
    QM_RETURN(5, DriveStatus::kOk);
}

} // namespace qm
