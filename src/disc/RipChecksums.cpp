#include "disc/RipChecksums.h"

#include <algorithm>
#include <cstring>
#include <libdeflate.h>
#include <zlib.h>

#include "core/Trace.h"

namespace qm {

namespace {

constexpr std::int64_t kSectorSamples = 588;

unsigned long Crc(unsigned long crc, const std::uint8_t* data, std::int64_t bytes) {
    return Crc32(static_cast<std::uint32_t>(crc), data, static_cast<std::size_t>(bytes));
}

// The AccurateRip sums of `n` samples whose 1-based indices start at `k0`:
// the low words of the 64-bit products into v1, their high words into
// `high` (v2 = v1 + high). 32-bit counters and a plain index keep the loop
// one the compiler vectorizes.
__attribute__((always_inline)) inline void ArSumsLoop(const std::uint8_t* words, std::uint32_t n,
                                                      std::uint32_t k0, std::uint32_t& v1Out,
                                                      std::uint32_t& highOut) {
    std::uint32_t v1 = v1Out;
    std::uint32_t high = highOut;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t word = 0;
        std::memcpy(&word, words + static_cast<std::size_t>(i) * 4, 4);
        const std::uint64_t product = static_cast<std::uint64_t>(word) * (k0 + i);
        v1 += static_cast<std::uint32_t>(product);
        high += static_cast<std::uint32_t>(product >> 32);
    }
    v1Out = v1;
    highOut = high;
}

void ArSumsPlain(const std::uint8_t* words, std::uint32_t n, std::uint32_t k0, std::uint32_t& v1,
                 std::uint32_t& high) {
    ArSumsLoop(words, n, k0, v1, high);
}

// Where the processor has AVX2, a copy of the loop built for it (four 64-bit
// products an instruction), chosen at run time. (Not by an ifunc: its
// resolver runs before a sanitizer's runtime is up.)
#if defined(__x86_64__) && defined(__GNUC__)
#define QM_AR_AVX2 1
__attribute__((target("avx2"))) void ArSumsAvx2(const std::uint8_t* words, std::uint32_t n,
                                                std::uint32_t k0, std::uint32_t& v1,
                                                std::uint32_t& high) {
    ArSumsLoop(words, n, k0, v1, high);
}
#endif

using ArSumsFunction = void (*)(const std::uint8_t*, std::uint32_t, std::uint32_t, std::uint32_t&,
                                std::uint32_t&);

ArSumsFunction ChooseArSums() {
#ifdef QM_AR_AVX2
    if (__builtin_cpu_supports("avx2")) {
        return ArSumsAvx2;
    }
#endif
    return ArSumsPlain;
}

void ArSums(const std::uint8_t* words, std::uint32_t n, std::uint32_t k0, std::uint32_t& v1,
            std::uint32_t& high) {
    static const ArSumsFunction sums = ChooseArSums();
    sums(words, n, k0, v1, high);
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
    m_crcAtCtdbFirst = m_crc;
    m_crcAtCtdbEnd = m_crc;
    m_peak = 0;
}

void ChecksumAccumulator::Add(const std::uint8_t* pcm, std::size_t frames) {
    QM_TRACE("ChecksumAccumulator");
    if (frames == 0 || pcm == nullptr) {
        QM_RETURN(0);
    }
    const std::int64_t base = m_position;
    const auto count = static_cast<std::int64_t>(frames);
    // The running CRC, cut where the CTDB range starts and ends to note
    // its value there.
    std::int64_t at = base;
    const std::int64_t marks[2] = {m_ctdbFirst, m_ctdbEnd};
    unsigned long* const notes[2] = {&m_crcAtCtdbFirst, &m_crcAtCtdbEnd};
    for (int i = 0; i < 2; ++i) {
        if (marks[i] >= at && marks[i] < base + count) {
            m_crc = Crc(m_crc, pcm + (at - base) * 4, (marks[i] - at) * 4);
            at = marks[i];
            *notes[i] = m_crc;
        }
    }
    m_crc = Crc(m_crc, pcm + (at - base) * 4, (base + count - at) * 4);
    if (base + count == m_ctdbEnd) {
        m_crcAtCtdbEnd = m_crc;
    }

    // AccurateRip: 1-based sample k counts in [m_arFirst, m_arLast]. The v2
    // sum is v1 plus the high words of the 64-bit products.
    const std::int64_t arFrom = std::max(base + 1, m_arFirst);
    const std::int64_t arTo = std::min(base + count, m_arLast);
    if (arFrom <= arTo) {
        ArSums(pcm + (arFrom - 1 - base) * 4, static_cast<std::uint32_t>(arTo - arFrom + 1),
               static_cast<std::uint32_t>(arFrom), m_v1, m_high);
    }

    // Sector 450: j = 1..588 over its samples, nothing skipped.
    const std::int64_t sector450 = kArOffsetSector * kSectorSamples;
    const std::int64_t from450 = std::max(base, sector450);
    const std::int64_t to450 = std::min(base + count, sector450 + kSectorSamples);
    for (std::int64_t i = from450; i < to450; ++i) {
        std::uint32_t word = 0;
        std::memcpy(&word, pcm + (i - base) * 4, 4);
        m_450 += word * static_cast<std::uint32_t>(i - sector450 + 1);
    }

    // Loads the compiler can vectorize: the largest and smallest value.
    std::int16_t highest = 0;
    std::int16_t lowest = 0;
    const auto values = static_cast<std::size_t>(count) * 2;
    for (std::size_t i = 0; i < values; ++i) {
        std::int16_t value = 0;
        std::memcpy(&value, pcm + i * 2, 2);
        highest = std::max(highest, value);
        lowest = std::min(lowest, value);
    }
    m_peak = std::max<std::uint16_t>(
        m_peak, static_cast<std::uint16_t>(std::max<int>(highest, -static_cast<int>(lowest))));
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
    // CRC(first..end) from the CRCs of the prefixes: zlib's combine undone.
    const std::int64_t ctdbBytes = (m_ctdbEnd - m_ctdbFirst) * 4;
    result.ctdbCrc = static_cast<std::uint32_t>(
        ::crc32_combine(m_crcAtCtdbFirst, m_crcAtCtdbEnd, static_cast<z_off_t>(ctdbBytes)));
    result.ctdbBytes = (m_ctdbEnd - m_ctdbFirst) * 4;
    result.peak = m_peak;
    QM_RETURN(0, result);
}

std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t bytes) {
    // libdeflate's CRC-32 (zlib's convention, with carry-less multiplication
    // where the processor has it) runs at several times zlib's speed.
    return libdeflate_crc32(crc, data, bytes);
}

std::uint32_t CombineCrc(std::uint32_t first, std::uint32_t second, std::int64_t secondBytes) {
    QM_TRACE("ChecksumAccumulator");
    QM_RETURN(0, static_cast<std::uint32_t>(
                     ::crc32_combine(first, second, static_cast<z_off_t>(secondBytes))));
}

} // namespace qm
