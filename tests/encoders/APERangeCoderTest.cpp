#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "encoders/APERangeCoder.h"

namespace {

using qm::ape::RangeCoder;
using qm::ape::ResidualState;

// A decoder written the way the APE decoders read a 3990 stream: skip the
// first byte, start with a 7-bit window and read whole bytes from then on.
class Decoder {
public:
    explicit Decoder(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {
        m_at = 1;
        m_buffer = Next();
        m_low = m_buffer >> 1;
        m_range = 1u << 7;
    }

    std::uint32_t Frequency(int totalBits) {
        Normalise();
        m_help = m_range >> totalBits;
        return m_low / m_help;
    }
    std::uint32_t Uniform(std::uint32_t total) {
        Normalise();
        m_help = m_range / total;
        const std::uint32_t value = m_low / m_help;
        Update(1, value);
        return value;
    }
    std::uint32_t Bits(int bits) {
        const std::uint32_t value = Frequency(bits);
        Update(1, value);
        return value;
    }
    void Update(std::uint32_t width, std::uint32_t start) {
        m_low -= m_help * start;
        m_range = m_help * width;
    }
    // Bytes read beyond the end of the code.
    bool Overran() const { return m_overran; }

private:
    std::uint32_t Next() {
        if (m_at < m_bytes.size()) {
            return m_bytes[m_at++];
        }
        m_overran = true;
        return 0;
    }
    void Normalise() {
        while (m_range <= (1u << 23)) {
            m_buffer = (m_buffer << 8) | Next();
            m_low = (m_low << 8) | ((m_buffer >> 1) & 0xFF);
            m_range <<= 8;
        }
    }

    const std::vector<std::uint8_t>& m_bytes;
    std::size_t m_at = 0;
    std::uint32_t m_buffer = 0;
    std::uint32_t m_low = 0;
    std::uint32_t m_range = 0;
    std::uint32_t m_help = 0;
    bool m_overran = false;
};

constexpr std::uint32_t kCumulative[22] = {0,     19578, 36160, 48417, 56323, 60899, 63265, 64435,
                                           64971, 65232, 65351, 65416, 65447, 65466, 65476, 65482,
                                           65485, 65488, 65490, 65491, 65492, 65493};

// The residual code as a decoder reads it back, state adaptation included.
std::int32_t DecodeResidual(Decoder& decoder, ResidualState& state) {
    std::uint32_t pivot = state.ksum >> 5;
    if (pivot == 0) {
        pivot = 1;
    }
    const std::uint32_t cf = decoder.Frequency(16);
    std::uint32_t overflow;
    if (cf > 65492) {
        overflow = cf - 65472;
        decoder.Update(1, cf);
    } else {
        overflow = 0;
        while (kCumulative[overflow + 1] <= cf) {
            ++overflow;
        }
        decoder.Update(kCumulative[overflow + 1] - kCumulative[overflow], kCumulative[overflow]);
    }
    if (overflow == 63) {
        overflow = decoder.Bits(16) << 16;
        overflow |= decoder.Bits(16);
    }
    std::uint32_t base;
    if (pivot < 0x10000) {
        base = decoder.Uniform(pivot);
    } else {
        int bits = 0;
        while ((pivot >> bits) > 0xFFFF) {
            ++bits;
        }
        const std::uint32_t high = decoder.Uniform((pivot >> bits) + 1);
        base = (high << bits) + decoder.Uniform(1u << bits);
    }
    const std::uint32_t u = base + overflow * pivot;
    state.ksum += (u + 1) / 2 - ((state.ksum + 16) >> 5);
    return (u & 1) != 0 ? static_cast<std::int32_t>((u >> 1) + 1)
                        : -static_cast<std::int32_t>(u >> 1);
}

TEST(APERangeCoder, SymbolsDecodeBackThroughCarries) {
    // Enough symbols for the code's low end to meet top bytes of 0xFF that
    // stay undecided until a later carry turns them to 0x00.
    std::mt19937 random(1);
    struct Symbol {
        int kind;
        std::uint32_t value;
        std::uint32_t total;
    };
    std::vector<Symbol> symbols;
    for (int i = 0; i < 60000; ++i) {
        const int kind = static_cast<int>(random() % 3);
        const std::uint32_t total = kind == 0 ? 1u + random() % 65536 : (kind == 1 ? 16u : 65536u);
        symbols.push_back({kind, static_cast<std::uint32_t>(random() % total), total});
    }
    std::vector<std::uint8_t> out;
    RangeCoder coder;
    coder.Start(&out);
    for (const Symbol& s : symbols) {
        if (s.kind == 0) {
            coder.EncodeUniform(s.value, s.total);
        } else if (s.kind == 1) {
            coder.EncodeBits(s.value, 4);
        } else {
            coder.EncodeFrequency(s.value, 1, 16);
        }
    }
    coder.Flush();
    EXPECT_GT(coder.DeferredCarries(), 0u) << "no carry went through deferred bytes";
    ASSERT_EQ(out.front(), 0) << "the first byte is the skipped one";

    Decoder decoder(out);
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const Symbol& s = symbols[i];
        std::uint32_t got;
        if (s.kind == 0) {
            got = decoder.Uniform(s.total);
        } else if (s.kind == 1) {
            got = decoder.Bits(4);
        } else {
            got = decoder.Frequency(16);
            decoder.Update(1, got);
        }
        ASSERT_EQ(got, s.value) << "symbol " << i;
    }
    EXPECT_FALSE(decoder.Overran());
}

TEST(APERangeCoder, ResidualsOfEveryMagnitudeDecodeBack) {
    // Small values, values that need the escape to a 32-bit overflow,
    // sustained large values that lift the pivot past 16 bits, and the
    // extremes of int32.
    std::mt19937 random(2);
    std::vector<std::int32_t> values;
    for (int i = 0; i < 3000; ++i) {
        values.push_back(static_cast<std::int32_t>(random() % 201) - 100);
    }
    for (int i = 0; i < 3000; ++i) {
        values.push_back(static_cast<std::int32_t>(random() % 2000001) - 1000000);
    }
    for (int i = 0; i < 200; ++i) {
        values.push_back(static_cast<std::int32_t>(random()));
    }
    for (std::int32_t v : {0, 1, -1, std::numeric_limits<std::int32_t>::max(),
                           std::numeric_limits<std::int32_t>::min(), 0, 3}) {
        values.push_back(v);
    }
    for (int i = 0; i < 2000; ++i) {
        values.push_back(static_cast<std::int32_t>(random() % 7) - 3);
    }

    std::vector<std::uint8_t> out;
    RangeCoder coder;
    coder.Start(&out);
    ResidualState state;
    std::uint32_t largestPivot = 0;
    for (std::int32_t v : values) {
        largestPivot = std::max(largestPivot, state.ksum >> 5);
        qm::ape::EncodeResidual(coder, state, v);
    }
    coder.Flush();
    EXPECT_GE(largestPivot, 0x10000u);

    Decoder decoder(out);
    ResidualState decoded;
    for (std::size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(DecodeResidual(decoder, decoded), values[i]) << "value " << i;
    }
    EXPECT_EQ(decoded.ksum, state.ksum);
    EXPECT_FALSE(decoder.Overran());
}

TEST(APERangeCoder, EmptyCodeIsFiveBytes) {
    // A silent frame's code: the skipped byte, one byte inside the final
    // interval and the three bytes the decoder reads ahead.
    std::vector<std::uint8_t> out;
    RangeCoder coder;
    coder.Start(&out);
    coder.Flush();
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0, 1, 0, 0, 0}));
}

} // namespace
