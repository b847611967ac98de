#include "pipeline/PcmConversion.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <numeric>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
//
// On the way down the cut-off follows the output's Nyquist frequency
// instead: a kernel cut at the input's folds everything between the two back
// into the audible band at full level (15 kHz into 7 kHz at 22050 Hz). 16
// taps make a wide transition band at half the rate, so kernels for a
// large step down use beta 6, which narrows it for side lobes near -66 dB:
// going to 22050 Hz, 15 kHz folds back at -40 dB, and the top of what the new
// rate holds falls off (-1 dB at 8 kHz, -4.6 dB at 10 kHz) rather than
// ringing back. Small steps down (48000 to 44100 Hz) keep beta 8.
constexpr double kBeta = 8.0;
constexpr double kDownBeta = 6.0;
constexpr double kLargeStepDown = 0.75; // output rate over input rate
constexpr double kCutoff = 0.95;        // of the lower of the two Nyquist frequencies

// `scale`: the output rate over the input rate, at most 1.
KernelTable BuildKernel(double scale) {
    const double beta = scale < kLargeStepDown ? kDownBeta : kBeta;
    KernelTable table{};
    constexpr double kHalfWidth = kTaps / 2.0;
    constexpr std::int64_t kUnity = std::int64_t{1} << kKernelShift;
    const double windowNorm = std::cyl_bessel_i(0.0, beta);
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
                std::cyl_bessel_i(0.0, beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / windowNorm;
            const double arg = std::numbers::pi * kCutoff * scale * x;
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

// No row's taps add up to 2.0 in magnitude, so 32 bits hold the sum (and
// every pair of products on the way).
inline std::int32_t Dot16(const std::int16_t* history, const std::int16_t* taps) {
#if defined(__SSE2__)
    // The converter's whole cost is here; the compiler does not find the
    // multiply-add of 16-bit pairs on its own.
    const __m128i low = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(history)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(taps)));
    const __m128i high =
        _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(history + 8)),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(taps + 8)));
    __m128i sum = _mm_add_epi32(low, high);
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
    return _mm_cvtsi128_si32(sum);
#else
    std::int32_t sum = 0;
    for (int k = 0; k < kTaps; ++k) {
        sum += static_cast<std::int32_t>(history[k]) * taps[k];
    }
    return sum;
#endif
}

inline std::int16_t RoundToSample(std::int64_t scaled) {
    const std::int64_t value = (scaled + (std::int64_t{1} << (kKernelShift - 1))) >> kKernelShift;
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, -32768, 32767));
}

} // namespace

const KernelTable& ResamplerKernel() {
    static const KernelTable table = BuildKernel(1.0);
    return table;
}

const KernelTable& ResamplerKernel(const RateStep& step) {
    if (step.step < kPhases || (step.step == kPhases && step.remainder == 0)) {
        return ResamplerKernel();
    }
    // One table per downward ratio (to 1/160 of an input sample, which is
    // far finer than the cut-off needs), made once and kept for the run.
    static std::mutex lock;
    static std::map<std::uint32_t, std::unique_ptr<KernelTable>> tables;
    const std::lock_guard guard(lock);
    std::unique_ptr<KernelTable>& table = tables[step.step];
    if (!table) {
        table =
            std::make_unique<KernelTable>(BuildKernel(static_cast<double>(kPhases) / step.step));
    }
    return *table;
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
    result.kernel = &ResamplerKernel(result);
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

namespace {

// One output sample of one channel: the phase's row over the newest 16
// samples, interpolated towards the next row when the output falls between
// two phases (so that the average rate is exact, not the nearest 1/160).
inline std::int16_t Interpolate(const KernelTable& kernel, const std::int16_t* newest,
                                std::uint32_t phase, std::int64_t weight) {
    std::int64_t sum = Dot16(newest, kernel[phase].data());
    if (weight != 0) {
        const std::int32_t next = Dot16(newest, kernel[phase + 1].data());
        sum += ((next - sum) * weight) >> 15;
    }
    return RoundToSample(sum);
}

// Both channels go through in one pass with the same phase, which is what
// converting them one after the other from the same carried state gives.
template <int Channels>
std::size_t ResampleChannels(const std::uint8_t* in, std::size_t frames, const RateStep& step,
                             RateState& state, std::uint8_t* out) {
    const KernelTable& kernel = step.kernel != nullptr ? *step.kernel : ResamplerKernel();
    // fraction / denominator as a 15-bit weight without a division per
    // output: fraction < denominator, so the product stays below 2^47.
    const std::uint64_t reciprocal = (std::uint64_t{1} << 47) / step.denominator;
    int position = state.position;
    std::uint32_t phase = state.phase;
    std::uint32_t fraction = state.fraction;
    std::size_t made = 0;
    for (std::size_t i = 0; i < frames; ++i, in += 2 * Channels) {
        position = (position + kTaps - 1) & (kTaps - 1);
        for (int c = 0; c < Channels; ++c) {
            const std::int16_t sample = Load16(in + 2 * c);
            state.history[c][static_cast<std::size_t>(position)] = sample;
            state.history[c][static_cast<std::size_t>(position + kTaps)] = sample;
        }
        while (phase < kPhases) {
            const auto weight = static_cast<std::int64_t>((fraction * reciprocal) >> 32);
            for (int c = 0; c < Channels; ++c) {
                Store16(out + 2 * (made * Channels + c),
                        Interpolate(kernel, state.history[c].data() + position, phase, weight));
            }
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
    state.position = position;
    state.phase = phase;
    state.fraction = fraction;
    return made;
}

} // namespace

std::size_t Resample16(const std::uint8_t* in, std::size_t frames, int channels,
                       const RateStep& step, RateState& state, std::uint8_t* out) {
    if (step.step == 0) {
        return 0;
    }
    if (channels == 1) {
        return ResampleChannels<1>(in, frames, step, state, out);
    }
    if (channels == 2) {
        return ResampleChannels<2>(in, frames, step, state, out);
    }
    return 0;
}

} // namespace qm
