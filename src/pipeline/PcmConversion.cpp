#include "pipeline/PcmConversion.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>
#include <numeric>

// PCM in the chain is little-endian, and samples are read with plain loads.
static_assert(std::endian::native == std::endian::little);

namespace qm {

namespace {

// The kernel is a Kaiser-windowed sinc. A Kaiser window trades the width of
// the transition band against the height of the side lobes with one
// parameter and comes close to the best trade there is for a fixed length,
// which matters with only 16 taps. Beta 8 puts the side lobes near -80 dB
// (about where 16-bit audio ends) and keeps the passband within 0.2 dB up to
// 16 kHz at 44100 Hz. The cut-off sits a little below the input's Nyquist
// frequency so that on the way up the images of the top octave land mostly
// in the stop band, and so that the unit tap of a row that falls exactly on
// an input sample still fits in 16 bits.
constexpr double kBeta = 8.0;
constexpr double kCutoff = 0.95; // of the input's Nyquist frequency

KernelTable BuildKernel() {
    KernelTable table{};
    constexpr double kHalfWidth = kTaps / 2.0;
    constexpr std::int64_t kUnity = std::int64_t{1} << kKernelShift;
    const double windowNorm = std::cyl_bessel_i(0.0, kBeta);
    for (int p = 0; p <= kPhases; ++p) {
        // Tap k holds the sample k inputs older than the newest one; the
        // output of phase p lies 8 - p/160 samples back, so row 0 is centred
        // on tap 8 and row 80 halfway between taps 7 and 8.
        std::array<double, kTaps> ideal{};
        double sum = 0.0;
        for (int k = 0; k < kTaps; ++k) {
            const double x = kHalfWidth - k - static_cast<double>(p) / kPhases;
            const double r = x / kHalfWidth;
            const double window =
                std::cyl_bessel_i(0.0, kBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / windowNorm;
            const double arg = std::numbers::pi * kCutoff * x;
            const double sinc = x == 0.0 ? 1.0 : std::sin(arg) / arg;
            ideal[k] = window * sinc;
            sum += ideal[k];
        }
        // Round so that the row sums to exactly one: floor every tap, then
        // give the missing units to the taps that lost the most.
        std::array<std::int64_t, kTaps> taps{};
        std::array<double, kTaps> lost{};
        std::int64_t total = 0;
        for (int k = 0; k < kTaps; ++k) {
            const double scaled = ideal[k] / sum * static_cast<double>(kUnity);
            taps[k] = static_cast<std::int64_t>(std::floor(scaled));
            lost[k] = scaled - static_cast<double>(taps[k]);
            total += taps[k];
        }
        std::array<int, kTaps> order{};
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&lost](int a, int b) { return lost[a] > lost[b]; });
        for (std::int64_t i = 0; i < kUnity - total; ++i) {
            ++taps[order[static_cast<std::size_t>(i)]];
        }
        for (int k = 0; k < kTaps; ++k) {
            table[p][k] = static_cast<std::int16_t>(taps[k]);
        }
    }
    return table;
}

inline std::int16_t Load16(const std::uint8_t* at) {
    std::int16_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

inline void Store16(std::uint8_t* at, std::int16_t value) {
    std::memcpy(at, &value, sizeof value);
}

inline std::int32_t Dot16(const std::int16_t* history, const std::int16_t* taps) {
    // No row's taps add up to 2.0 in magnitude, so 32 bits hold the sum.
    std::int32_t sum = 0;
    for (int k = 0; k < kTaps; ++k) {
        sum += static_cast<std::int32_t>(history[k]) * taps[k];
    }
    return sum;
}

inline std::int16_t RoundToSample(std::int64_t scaled) {
    const std::int64_t value = (scaled + (std::int64_t{1} << (kKernelShift - 1))) >> kKernelShift;
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, -32768, 32767));
}

} // namespace

const KernelTable& ResamplerKernel() {
    static const KernelTable table = BuildKernel();
    return table;
}

void MixToMono16(const std::uint8_t* in, std::size_t frames, std::uint8_t* out) {
    for (std::size_t i = 0; i < frames; ++i) {
        int sum = Load16(in + 4 * i) + Load16(in + 4 * i + 2);
        if (sum >= 32753) {
            sum = 32752;
        } else if (sum <= -32753) {
            sum = -32752;
        }
        Store16(out + 2 * i, static_cast<std::int16_t>(sum));
    }
}

void MixToMono8(const std::uint8_t* in, std::size_t frames, std::uint8_t* out) {
    for (std::size_t i = 0; i < frames; ++i) {
        int sum = static_cast<std::int8_t>(in[2 * i]) + static_cast<std::int8_t>(in[2 * i + 1]);
        if (sum >= 127) {
            sum = 126;
        } else if (sum <= -127) {
            sum = -126;
        }
        out[i] = static_cast<std::uint8_t>(static_cast<std::int8_t>(sum));
    }
}

void MonoToStereo(const std::uint8_t* in, std::size_t frames, int bytesPerSample,
                  std::uint8_t* out) {
    const auto size = static_cast<std::size_t>(bytesPerSample);
    for (std::size_t i = 0; i < frames; ++i) {
        std::memcpy(out + 2 * size * i, in + size * i, size);
        std::memcpy(out + 2 * size * i + size, in + size * i, size);
    }
}

void Widen8To16(const std::uint8_t* in, std::size_t samples, std::uint8_t* out) {
    for (std::size_t i = 0; i < samples; ++i) {
        Store16(out + 2 * i, static_cast<std::int16_t>(static_cast<std::int8_t>(in[i]) * 256));
    }
}

void Narrow16To8(const std::uint8_t* in, std::size_t samples, std::uint8_t* out) {
    for (std::size_t i = 0; i < samples; ++i) {
        out[i] = static_cast<std::uint8_t>(static_cast<std::int8_t>(Load16(in + 2 * i) / 256));
    }
}

RateStep MakeRateStep(std::uint32_t inRate, std::uint32_t outRate) {
    RateStep result;
    if (outRate == 0) {
        return result;
    }
    const std::uint64_t advance = std::uint64_t{kPhases} * inRate;
    const std::uint64_t remainder = advance % outRate;
    const std::uint64_t divisor = std::gcd(remainder, std::uint64_t{outRate});
    result.step = static_cast<std::uint32_t>(advance / outRate);
    result.remainder = static_cast<std::uint32_t>(remainder / divisor);
    result.denominator = static_cast<std::uint32_t>(outRate / divisor);
    return result;
}

std::size_t MaxResampledFrames(std::size_t frames, const RateStep& step) {
    if (step.step == 0) {
        return 0;
    }
    // Each output moves on by at least `step`, and a block can spend at most
    // 160 more than its own frames' worth (the phase carried in).
    return (frames * kPhases + kPhases) / step.step + 1;
}

std::size_t Resample16(const std::uint8_t* in, std::size_t frames, int channels,
                       const RateStep& step, RateState& state, std::uint8_t* out) {
    if (step.step == 0 || channels < 1 || channels > 2) {
        return 0;
    }
    const KernelTable& kernel = ResamplerKernel();
    const double perUnit = 1.0 / static_cast<double>(step.denominator);
    const auto stride = static_cast<std::size_t>(channels) * 2;
    const RateState start = state;
    std::size_t produced = 0;
    for (int c = 0; c < channels; ++c) {
        int position = start.position;
        std::uint32_t phase = start.phase;
        std::uint32_t fraction = start.fraction;
        auto& history = state.history[static_cast<std::size_t>(c)];
        const std::uint8_t* source = in + 2 * c;
        std::uint8_t* target = out + 2 * c;
        std::size_t made = 0;
        for (std::size_t i = 0; i < frames; ++i, source += stride) {
            position = (position + kTaps - 1) & (kTaps - 1);
            const std::int16_t sample = Load16(source);
            history[static_cast<std::size_t>(position)] = sample;
            history[static_cast<std::size_t>(position + kTaps)] = sample;
            const std::int16_t* newest = history.data() + position;
            while (phase < kPhases) {
                std::int64_t sum = Dot16(newest, kernel[phase].data());
                if (fraction != 0) {
                    // Between two phases: interpolate, so that the average
                    // rate is exact and not the nearest 1/160.
                    const std::int32_t next = Dot16(newest, kernel[phase + 1].data());
                    sum += std::llround(static_cast<double>(next - sum) *
                                        (static_cast<double>(fraction) * perUnit));
                }
                Store16(target + made * stride, RoundToSample(sum));
                ++made;
                phase += step.step;
                fraction += step.remainder;
                if (fraction >= step.denominator) {
                    fraction -= step.denominator;
                    ++phase;
                }
            }
            phase -= kPhases;
        }
        produced = made;
        state.position = position;
        state.phase = phase;
        state.fraction = fraction;
    }
    return produced;
}

} // namespace qm
