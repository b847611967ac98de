#include "disc/RipChecksums.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#endif

#include "core/Trace.h"

namespace qm {

namespace {

constexpr std::int64_t kSectorSamples = 588;

#if defined(__x86_64__) && defined(__GNUC__)
#define QM_CRC_FOLDING 1

// CRC-32 by folding with carry-less multiplication, as in Intel's paper
// "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ": the
// message is kept as four 128-bit lanes, each multiplied forward by
// x^512 (mod P) onto the lane 64 bytes on, then the four are folded into
// one by x^128. The constants are x^k mod P of the reflected polynomial,
// shifted left by one as reflected carry-less products need. What is left,
// 16 bytes congruent to the whole message, zlib finishes: with its register
// at zero (crc 0xffffffff) their CRC is the message's. `bytes` >= 64.
#define QM_CRC_TARGET __attribute__((target("pclmul,sse2")))

QM_CRC_TARGET inline __m128i Load(const std::uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// `lane` carried forward by the distance `by` stands for, onto `next`.
QM_CRC_TARGET inline __m128i Fold(__m128i lane, __m128i by, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(lane, by, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, by, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

QM_CRC_TARGET std::uint32_t FoldedCrc(std::uint32_t crc, const std::uint8_t* data,
                                      std::size_t bytes) {
    const __m128i by512 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i by128 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    // zlib's register is the complement of its crc argument; it enters the
    // message as a change of its first four bytes.
    __m128i a = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(~crc)));
    __m128i b = Load(data + 16);
    __m128i c = Load(data + 32);
    __m128i d = Load(data + 48);
    std::size_t at = 64;
    for (; at + 64 <= bytes; at += 64) {
        a = Fold(a, by512, Load(data + at));
        b = Fold(b, by512, Load(data + at + 16));
        c = Fold(c, by512, Load(data + at + 32));
        d = Fold(d, by512, Load(data + at + 48));
    }
    a = Fold(a, by128, b);
    a = Fold(a, by128, c);
    a = Fold(a, by128, d);
    for (; at + 16 <= bytes; at += 16) {
        a = Fold(a, by128, Load(data + at));
    }
    alignas(16) std::uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), a);
    const auto folded = static_cast<std::uint32_t>(::crc32(0xffffffffUL, rest, 16));
    return static_cast<std::uint32_t>(::crc32(folded, data + at, static_cast<uInt>(bytes - at)));
}

bool HasCarrylessMultiply() {
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_PCLMUL) != 0;
}
#endif

unsigned long Crc(unsigned long crc, const std::uint8_t* data, std::int64_t bytes) {
    return Crc32(static_cast<std::uint32_t>(crc), data, static_cast<std::size_t>(bytes));
}

// Where the machine has AVX2, a second copy of the AccurateRip loop uses it
// (four 64-bit products an instruction); the program picks it at load time.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QM_AR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QM_AR_CLONES
#endif

// The AccurateRip sums of `n` samples whose 1-based indices start at `k0`:
// the low words of the 64-bit products into v1, their high words into
// `high` (v2 = v1 + high). 32-bit counters and a plain index keep the loop
// one the compiler vectorizes.
QM_AR_CLONES void ArSums(const std::uint8_t* words, std::uint32_t n, std::uint32_t k0,
                         std::uint32_t& v1Out, std::uint32_t& highOut) {
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
#ifdef QM_CRC_FOLDING
    static const bool folding = HasCarrylessMultiply();
    if (folding && bytes >= 64) {
        return FoldedCrc(crc, data, bytes);
    }
#endif
    // zlib's crc32 takes at most UINT_MAX bytes a call.
    while (bytes > 0) {
        const std::size_t part = std::min<std::size_t>(bytes, 1U << 30);
        crc = static_cast<std::uint32_t>(::crc32(crc, data, static_cast<uInt>(part)));
        data += part;
        bytes -= part;
    }
    return crc;
}

std::uint32_t CombineCrc(std::uint32_t first, std::uint32_t second, std::int64_t secondBytes) {
    QM_TRACE("ChecksumAccumulator");
    QM_RETURN(0, static_cast<std::uint32_t>(
                     ::crc32_combine(first, second, static_cast<z_off_t>(secondBytes))));
}

} // namespace qm
