// The first two prediction stages of one APE channel, encoder direction: a
// fixed first-order filter, then an adaptive sign-sign predictor over the
// channel's own last four values and, in stereo, five values of the other
// channel. Every step mirrors the decoder exactly, integer for integer.
#pragma once

#include <cstdint>

namespace qm::ape {

class Predictor {
public:
    Predictor() { Reset(); }

    // Back to the state at the start of a frame.
    void Reset();

    // Stereo: `value` is this channel's sample, `other` the cross-channel
    // input (the previous X for Y, the current Y for X). Returns the residual.
    std::int32_t Encode(std::int32_t value, std::int32_t other);

    // Mono (and pseudo-stereo): no cross-channel part.
    std::int32_t EncodeMono(std::int32_t value);

private:
    std::int32_t m_lastValue;   // stage-1 memory of this channel
    std::int32_t m_lastOther;   // stage-1 memory of the other channel
    std::int32_t m_historyA[4]; // this channel's stage-1 outputs, newest first
    std::int32_t m_historyB[4]; // the other channel's, newest first
    std::int32_t m_coeffA[4];
    std::int32_t m_coeffB[5];
};

// Run versions of the two calls over `count` samples.
void EncodeStereoRun(Predictor& predictor, const std::int32_t* values, const std::int32_t* others,
                     std::int32_t* residuals, int count);
void EncodeMonoRun(Predictor& predictor, const std::int32_t* values, std::int32_t* residuals,
                   int count);

} // namespace qm::ape
