// The entropy stage of the APE compressor: a 32-bit range coder (carry
// handled with a cached byte and a count of deferred 0xFF bytes) and the
// adaptive "pivot" residual code of file version 3990. The byte stream it
// produces is the logical one; the container stores it word-swapped.
#pragma once

#include <cstdint>
#include <vector>

namespace qm::ape {

class RangeCoder {
public:
    static constexpr std::uint32_t kTop = 1u << 31;
    static constexpr std::uint32_t kBottom = 1u << 23;
    static constexpr int kShift = 23;

    // Starts a fresh code whose bytes are appended to `out`.
    void Start(std::vector<std::uint8_t>* out) {
        m_out = out;
        m_low = 0;
        m_range = kTop;
        m_cache = 0;
        m_pending = 0;
        m_deferredCarries = 0;
    }

    // A symbol of `width` slots starting at `start` out of 2^totalBits.
    void EncodeFrequency(std::uint32_t start, std::uint32_t width, int totalBits) {
        Normalise();
        const std::uint32_t q = m_range >> totalBits;
        m_range = q * width;
        m_low += q * start;
    }

    // `bits` raw bits of `value` (bits <= 16).
    void EncodeBits(std::uint32_t value, int bits) {
        Normalise();
        m_range >>= bits;
        m_low += m_range * value;
    }

    // `value` out of `total` equally likely values (total <= 65536).
    void EncodeUniform(std::uint32_t value, std::uint32_t total) {
        Normalise();
        const std::uint32_t q = m_range / total;
        m_range = q;
        m_low += q * value;
    }

    // Ends the code: picks a value inside the final interval and adds the
    // bytes the decoder reads ahead.
    void Flush();

    // How often a carry had to ripple through deferred 0xFF bytes (tests
    // check that they reached that path).
    std::uint64_t DeferredCarries() const { return m_deferredCarries; }

private:
    void Normalise() {
        while (m_range <= kBottom) {
            ShiftLow();
        }
    }
    void ShiftLow();
    void PutSettled(std::uint32_t first, std::uint8_t repeated);

    std::vector<std::uint8_t>* m_out = nullptr;
    std::uint32_t m_low = 0;
    std::uint32_t m_range = kTop;
    std::uint32_t m_cache = 0;   // the newest byte not yet known to be final
    std::uint64_t m_pending = 0; // 0xFF bytes behind it, waiting for a carry
    std::uint64_t m_deferredCarries = 0;
};

// The adaptive state of one coded channel.
struct ResidualState {
    static constexpr std::uint32_t kInitialSum = 16 * 1024;
    std::uint32_t ksum = kInitialSum;
};

// Codes one prediction residual and adapts the state.
void EncodeResidual(RangeCoder& coder, ResidualState& state, std::int32_t value);

} // namespace qm::ape
