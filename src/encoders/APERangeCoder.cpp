#include "encoders/APERangeCoder.h"

#include <limits>

namespace qm::ape {

namespace {

// Where each "overflow" symbol 0..20 starts in the 16-bit frequency space and
// how wide it is; 21..62 get one slot each at 65472 + symbol, and 63 (the
// escape to a 32-bit overflow) the last slot.
constexpr std::uint32_t kStart[21] = {0,     19578, 36160, 48417, 56323, 60899, 63265,
                                      64435, 64971, 65232, 65351, 65416, 65447, 65466,
                                      65476, 65482, 65485, 65488, 65490, 65491, 65492};
constexpr std::uint32_t kWidth[21] = {19578, 16582, 12257, 7906, 4576, 2366, 1170,
                                      536,   261,   119,   65,   31,   19,   10,
                                      6,     3,     3,     2,    1,    1,    1};
constexpr std::uint32_t kEscape = 63;
constexpr int kFrequencyBits = 16;

} // namespace

void RangeCoder::PutSettled(std::uint32_t first, std::uint8_t repeated) {
    m_out->push_back(static_cast<std::uint8_t>(first));
    for (; m_pending > 0; --m_pending) {
        m_out->push_back(repeated);
    }
}

void RangeCoder::ShiftLow() {
    if (m_low < (0xFFu << kShift)) {
        // The top byte is settled and no carry can reach the cached byte.
        PutSettled(m_cache, 0xFF);
        m_cache = (m_low >> kShift) & 0xFF;
    } else if ((m_low & kTop) != 0) {
        // A carry: it ripples through the cached byte and the deferred 0xFFs.
        m_deferredCarries += m_pending != 0 ? 1 : 0;
        PutSettled(m_cache + 1, 0x00);
        m_cache = (m_low >> kShift) & 0xFF;
    } else {
        // The top byte is 0xFF and a later carry may still turn it to 0x00.
        ++m_pending;
    }
    m_low = (m_low << 8) & (kTop - 1);
    m_range <<= 8;
}

void RangeCoder::Flush() {
    Normalise();
    const std::uint32_t top = (m_low >> kShift) + 1;
    if (top > 0xFF) {
        PutSettled(m_cache + 1, 0x00);
    } else {
        PutSettled(m_cache, 0xFF);
    }
    m_out->push_back(static_cast<std::uint8_t>(top & 0xFF));
    m_out->push_back(0);
    m_out->push_back(0);
    m_out->push_back(0);
}

void EncodeResidual(RangeCoder& coder, ResidualState& state, std::int32_t value) {
    // Signed to unsigned: 1 -> 1, -1 -> 2, 2 -> 3 ... The most negative value
    // has no even image; the decoder's wrap-around gives it back from the
    // largest odd one.
    std::uint32_t u;
    if (value > 0) {
        u = 2 * static_cast<std::uint32_t>(value) - 1;
    } else if (value == std::numeric_limits<std::int32_t>::min()) {
        u = 0xFFFFFFFFu;
    } else {
        u = 2 * static_cast<std::uint32_t>(-value);
    }

    std::uint32_t pivot = state.ksum >> 5;
    if (pivot == 0) {
        pivot = 1;
    }
    const std::uint32_t overflow = u / pivot;
    const std::uint32_t base = u - overflow * pivot;

    if (overflow < 21) {
        coder.EncodeFrequency(kStart[overflow], kWidth[overflow], kFrequencyBits);
    } else if (overflow < kEscape) {
        coder.EncodeFrequency(65472 + overflow, 1, kFrequencyBits);
    } else {
        coder.EncodeFrequency(65535, 1, kFrequencyBits);
        coder.EncodeBits(overflow >> 16, 16);
        coder.EncodeBits(overflow & 0xFFFF, 16);
    }

    if (pivot < 0x10000) {
        coder.EncodeUniform(base, pivot);
    } else {
        int bits = 0;
        while ((pivot >> bits) > 0xFFFF) {
            ++bits;
        }
        coder.EncodeUniform(base >> bits, (pivot >> bits) + 1);
        coder.EncodeUniform(base & ((1u << bits) - 1), 1u << bits);
    }

    state.ksum += (u + 1) / 2 - ((state.ksum + 16) >> 5);
}

} // namespace qm::ape
