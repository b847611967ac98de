// The per-sample work of the resampler: channel and width conversions and the
// polyphase rate converter. Plain functions over interleaved little-endian
// PCM (8-bit samples signed), untraced, so that the stage's traced methods
// stay outside the inner loops.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qm {

// Stereo to mono by summing both channels, limited to +-32752 (16 bits) or
// +-126 (8 bits) once the sum reaches 32753 or 127 in magnitude.
void MixToMono16(const std::uint8_t* in, std::size_t frames, std::uint8_t* out);
void MixToMono8(const std::uint8_t* in, std::size_t frames, std::uint8_t* out);
void MonoToStereo(const std::uint8_t* in, std::size_t frames, int bytesPerSample,
                  std::uint8_t* out);
void Widen8To16(const std::uint8_t* in, std::size_t samples, std::uint8_t* out);
// Divides by 256, truncating toward zero (-200 becomes 0, not -1).
void Narrow16To8(const std::uint8_t* in, std::size_t samples, std::uint8_t* out);

// The rate converter: 160 phases of a 16-tap interpolation kernel.
inline constexpr int kPhases = 160;
inline constexpr int kTaps = 16;
// Coefficients are fixed point with this many fraction bits: every row sums
// to exactly 1 << kKernelShift, so the converter keeps the level it is given.
inline constexpr int kKernelShift = 15;

// Rows 0..159 are the phases; row 160 is one whole input sample on from
// row 0 and only serves to interpolate between phase 159 and the next row 0.
using KernelTable = std::array<std::array<std::int16_t, kTaps>, kPhases + 1>;
// The kernel for the same rate or up.
const KernelTable& ResamplerKernel();

// How far the output moves through the input per output sample, in 1/160 of
// an input sample: step + remainder / denominator, exactly 160 * in / out.
struct RateStep {
    std::uint32_t step = kPhases;
    std::uint32_t remainder = 0;
    std::uint32_t denominator = 1;
    // The kernel for this step, chosen once; null: the same-rate-or-up one.
    const KernelTable* kernel = nullptr;
};

// The kernel for a conversion: on the way down its cut-off follows the
// output's Nyquist frequency.
const KernelTable& ResamplerKernel(const RateStep& step);

RateStep MakeRateStep(std::uint32_t inRate, std::uint32_t outRate);

// What the converter carries from block to block (and over its channels).
struct RateState {
    int position = 0;           // newest sample's place in the history rings
    std::uint32_t phase = 0;    // 1/160ths of an input sample to the next output
    std::uint32_t fraction = 0; // remainder of the phase, in 1/denominator
    // Per channel the last 16 samples, stored twice over so that the 16 from
    // `position` on (newest first) never wrap.
    std::array<std::array<std::int16_t, 2 * kTaps>, 2> history{};
};

// The most frames Resample16 can produce from `frames` input frames.
std::size_t MaxResampledFrames(std::size_t frames, const RateStep& step);

// Converts 16-bit interleaved frames of 1 or 2 channels; returns the number of
// frames written to `out`. Every channel starts from `state` and `state`
// ends where the channels end.
std::size_t Resample16(const std::uint8_t* in, std::size_t frames, int channels,
                       const RateStep& step, RateState& state, std::uint8_t* out);

} // namespace qm
