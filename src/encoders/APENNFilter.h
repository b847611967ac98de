// The third APE prediction stage: a sign-sign LMS filter over the last
// `order` inputs of a channel (16 to 1280 taps, int16 coefficients and
// history). Higher levels chain two or three of them, largest first.
//
// Per sample the decoder computes the dot product, then adapts the
// coefficients with the sign of the residual. The encoder only knows that
// sign after the dot product, so it defers each adaptation to the next
// sample and does both in one pass over the coefficients; the result is the
// same integer for integer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace qm::ape {

class NNFilter {
public:
    // `kernel` names the dot-product code to use (see Kernels()); null picks
    // the fastest this processor runs.
    NNFilter(int order, int fractionBits, const char* kernel = nullptr);
    NNFilter(const NNFilter&) = delete;
    NNFilter& operator=(const NNFilter&) = delete;

    int Order() const { return m_order; }

    // Back to the state at the start of a frame.
    void Reset();

    // Replaces each of `count` values by its residual.
    void Encode(std::int32_t* data, int count);

    // The kernel picked when none is named: "avx2", "sse2" or "plain".
    static const char* BestKernel();
    // Every kernel this processor can run (tests compare them).
    static std::vector<const char*> Kernels();

    // One kernel: its passes that add the adapt steps to the coefficients,
    // keep them, and subtract them.
    using Pass = std::int32_t (*)(std::int16_t* coeff, const std::int16_t* history,
                                  const std::int16_t* adapt, int order);
    using Passes = std::array<Pass, 3>;

private:
    void Slide();

    const Passes& m_passes;
    int m_order;
    int m_shift;
    std::int32_t m_round;
    int m_length; // of the history and adapt buffers
    std::unique_ptr<std::int16_t[]> m_storage;
    std::int16_t* m_coeff = nullptr;
    std::int16_t* m_history = nullptr; // saturated inputs
    std::int16_t* m_adapt = nullptr;   // adaptation steps, aligned with m_history
    int m_pos = 1;                     // first index of the current window
    std::uint32_t m_average = 0;
    static constexpr std::size_t kAdd = 0;
    static constexpr std::size_t kKeep = 1;
    static constexpr std::size_t kSubtract = 2;
    std::size_t m_pass = kKeep; // the adaptation owed from the previous sample
};

} // namespace qm::ape
