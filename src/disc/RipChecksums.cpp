#include "disc/RipChecksums.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

#include "core/Trace.h"

namespace qm {

namespace {

constexpr std::int64_t kSectorSamples = 588;

// zlib's crc32 takes at most UINT_MAX bytes a call; a block is far smaller.
unsigned long Crc(unsigned long crc, const std::uint8_t* data, std::int64_t bytes) {
    return ::crc32(crc, data, static_cast<uInt>(bytes));
}

} // namespace

void ChecksumAccumulator::Begin(const ChecksumLayout& layout) {
    QM_TRACE("ChecksumAccumulator");
    m_layout = layout;
    m_valid = true;
    m_position = 0;
    m_arFirst = layout.firstAudio ? kArFirstSkip + 1 : 1;
    m_arLast = layout.lastAudio ? layout.trackSamples - kArLastSkip : layout.trackSamples;
    m_ctdbFirst = layout.firstAudio ? kCtdbSkip : 0;
    m_ctdbEnd = layout.trackSamples;
    if (layout.lastAudio) {
        m_ctdbEnd -= kCtdbSkip + (layout.discSamples % kCtdbSkip);
    }
    m_ctdbEnd = std::max(m_ctdbEnd, m_ctdbFirst);
    m_v1 = 0;
    m_high = 0;
    m_450 = 0;
    m_crc = ::crc32(0L, Z_NULL, 0);
    m_ctdb = m_crc;
    m_peak = 0;
}

void ChecksumAccumulator::Add(const std::uint8_t* pcm, std::size_t frames) {
    QM_TRACE("ChecksumAccumulator");
    if (frames == 0 || pcm == nullptr) {
        QM_RETURN(0);
    }
    const std::int64_t base = m_position;
    const auto count = static_cast<std::int64_t>(frames);
    m_crc = Crc(m_crc, pcm, count * 4);

    // CTDB: the bytes of this block inside [m_ctdbFirst, m_ctdbEnd).
    const std::int64_t ctdbFrom = std::max(base, m_ctdbFirst);
    const std::int64_t ctdbTo = std::min(base + count, m_ctdbEnd);
    if (ctdbFrom < ctdbTo) {
        m_ctdb = Crc(m_ctdb, pcm + (ctdbFrom - base) * 4, (ctdbTo - ctdbFrom) * 4);
    }

    // AccurateRip: 1-based sample k counts in [m_arFirst, m_arLast]. The v2
    // sum is v1 plus the high words of the 64-bit products.
    const std::int64_t arFrom = std::max(base + 1, m_arFirst);
    const std::int64_t arTo = std::min(base + count, m_arLast);
    std::uint32_t v1 = m_v1;
    std::uint32_t high = m_high;
    for (std::int64_t k = arFrom; k <= arTo; ++k) {
        std::uint32_t word = 0;
        std::memcpy(&word, pcm + (k - 1 - base) * 4, 4);
        const std::uint64_t product =
            static_cast<std::uint64_t>(word) * static_cast<std::uint64_t>(k);
        v1 += static_cast<std::uint32_t>(product);
        high += static_cast<std::uint32_t>(product >> 32);
    }
    m_v1 = v1;
    m_high = high;

    // Sector 450: j = 1..588 over its samples, nothing skipped.
    const std::int64_t sector450 = kArOffsetSector * kSectorSamples;
    const std::int64_t from450 = std::max(base, sector450);
    const std::int64_t to450 = std::min(base + count, sector450 + kSectorSamples);
    for (std::int64_t i = from450; i < to450; ++i) {
        std::uint32_t word = 0;
        std::memcpy(&word, pcm + (i - base) * 4, 4);
        m_450 += word * static_cast<std::uint32_t>(i - sector450 + 1);
    }

    std::uint16_t peak = m_peak;
    const std::uint8_t* end = pcm + count * 4;
    for (const std::uint8_t* p = pcm; p < end; p += 2) {
        const auto value = static_cast<std::int16_t>(p[0] | p[1] << 8);
        const auto magnitude = static_cast<std::uint16_t>(value < 0 ? -value : value);
        peak = std::max(peak, magnitude);
    }
    m_peak = peak;
    m_position += count;
    QM_EXIT(1);
}

TrackChecksums ChecksumAccumulator::Result() const {
    QM_TRACE("ChecksumAccumulator");
    TrackChecksums result;
    result.complete = m_valid && m_position == m_layout.trackSamples;
    result.samples = m_position;
    result.arV1 = m_arLast >= m_arFirst ? m_v1 : 0;
    result.arV2 = m_arLast >= m_arFirst ? m_v1 + m_high : 0;
    result.ar450 = m_450;
    result.has450 = m_position >= (kArOffsetSector + 1) * kSectorSamples;
    result.crc32 = static_cast<std::uint32_t>(m_crc);
    result.ctdbCrc = static_cast<std::uint32_t>(m_ctdb);
    result.ctdbBytes = (m_ctdbEnd - m_ctdbFirst) * 4;
    result.peak = m_peak;
    QM_RETURN(0, result);
}

std::uint32_t CombineCrc(std::uint32_t first, std::uint32_t second, std::int64_t secondBytes) {
    QM_TRACE("ChecksumAccumulator");
    QM_RETURN(0, static_cast<std::uint32_t>(
                     ::crc32_combine(first, second, static_cast<z_off_t>(secondBytes))));
}

} // namespace qm
