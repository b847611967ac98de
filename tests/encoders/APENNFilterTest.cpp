#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "encoders/APENNFilter.h"

namespace {

using qm::ape::NNFilter;

// The filter exactly as the format describes it, one step after another:
// dot product, residual, adaptation with the residual's sign, then the
// input pushed into the history with its adaptation step.
class ReferenceFilter {
public:
    ReferenceFilter(int order, int fractionBits)
        : m_order(order), m_bits(fractionBits), m_coeff(order), m_history(order), m_adapt(order) {}

    std::int32_t Encode(std::int32_t x) {
        std::uint32_t dot = 0;
        for (int j = 0; j < m_order; ++j) {
            dot += static_cast<std::uint32_t>(m_coeff[j] * m_history[j]);
        }
        const std::int64_t rounded = static_cast<std::int32_t>(dot) + (1LL << (m_bits - 1));
        const auto prediction = static_cast<std::int32_t>(rounded >> m_bits);
        const auto out = static_cast<std::int32_t>(static_cast<std::uint32_t>(x) -
                                                   static_cast<std::uint32_t>(prediction));
        for (int j = 0; j < m_order; ++j) {
            if (out > 0) {
                m_coeff[j] = static_cast<std::int16_t>(m_coeff[j] - m_adapt[j]);
            } else if (out < 0) {
                m_coeff[j] = static_cast<std::int16_t>(m_coeff[j] + m_adapt[j]);
            }
        }
        m_history.erase(m_history.begin());
        m_history.push_back(static_cast<std::int16_t>(std::clamp(x, -32768, 32767)));
        const std::int64_t ax = x < 0 ? -static_cast<std::int64_t>(x) : x;
        std::int16_t m = 0;
        if (ax == 0) {
            m = 0;
        } else if (ax > 3 * static_cast<std::int64_t>(m_avg)) {
            m = 32;
        } else if (3 * ax > 4 * static_cast<std::int64_t>(m_avg)) {
            m = 16;
        } else {
            m = 8;
        }
        m_adapt.erase(m_adapt.begin());
        m_adapt.push_back(static_cast<std::int16_t>(x > 0 ? -m : m));
        // The running average moves by a sixteenth of the difference,
        // truncated toward zero.
        const std::int64_t difference = ax - static_cast<std::int64_t>(m_avg);
        m_avg = static_cast<std::uint32_t>(static_cast<std::int64_t>(m_avg) + difference / 16);
        for (int back : {2, 3, 9}) {
            std::int16_t& a = m_adapt[m_order - back];
            a = static_cast<std::int16_t>(a >> 1);
        }
        return out;
    }

private:
    int m_order;
    int m_bits;
    std::vector<std::int16_t> m_coeff;
    std::vector<std::int16_t> m_history;
    std::vector<std::int16_t> m_adapt;
    std::uint32_t m_avg = 0;
};

// Music-like values with bursts and spikes far beyond 16 bits (saturated in
// the history) and runs of silence.
std::vector<std::int32_t> Input(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::int32_t> values(count);
    double phase = 0;
    for (std::size_t i = 0; i < count; ++i) {
        phase += 0.031;
        auto v = static_cast<std::int32_t>(9000 * std::sin(phase) + 2000 * std::sin(phase * 7.3));
        v += static_cast<std::int32_t>(random() % 301) - 150;
        if (i % 1500 < 40) {
            v *= 40;
        }
        if (i % 5000 == 4999) {
            v = -(1 << 27);
        }
        if (i % 5000 == 2500) {
            v = 1 << 27;
        }
        if (i % 700 < 30) {
            v = 0;
        }
        values[i] = v;
    }
    return values;
}

TEST(APENNFilter, EveryKernelMatchesTheStepByStepFilter) {
    // Longer than the history window, so the buffers slide; the filter is
    // fed in uneven runs as the frame encoder does.
    const std::vector<std::int32_t> input = Input(9000, 5);
    for (const auto& [order, bits] : {std::pair{16, 11}, std::pair{32, 10}, std::pair{64, 11},
                                      std::pair{256, 13}, std::pair{1280, 15}}) {
        ReferenceFilter reference(order, bits);
        std::vector<std::int32_t> expected(input.size());
        for (std::size_t i = 0; i < input.size(); ++i) {
            expected[i] = reference.Encode(input[i]);
        }
        for (const char* kernel : NNFilter::Kernels()) {
            SCOPED_TRACE(::testing::Message() << "order " << order << ", kernel " << kernel);
            NNFilter filter(order, bits, kernel);
            std::vector<std::int32_t> data = input;
            std::size_t done = 0;
            for (int run = 1; done < data.size(); run = run * 3 % 4099 + 1) {
                const std::size_t count = std::min<std::size_t>(run, data.size() - done);
                filter.Encode(data.data() + done, static_cast<int>(count));
                done += count;
            }
            const auto mismatch = std::mismatch(data.begin(), data.end(), expected.begin());
            EXPECT_EQ(mismatch.first, data.end())
                << "first difference at sample " << (mismatch.first - data.begin());

            // A reset filter starts over from scratch.
            filter.Reset();
            std::vector<std::int32_t> again(input.begin(), input.begin() + 300);
            filter.Encode(again.data(), static_cast<int>(again.size()));
            EXPECT_TRUE(std::equal(again.begin(), again.end(), expected.begin()));
        }
    }
}

} // namespace
