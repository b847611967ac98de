// Synthetic PCM for the demo disc, the benchmarks and the tests: interleaved
// little-endian samples (8-bit ones signed, as the stages carry them),
// deterministic for a seed.
#pragma once

#include <cstdint>
#include <vector>

namespace discgen {

struct SignalFormat {
    std::uint32_t rate = 44100;
    std::uint8_t channels = 2;
    int bits = 16;
};

using Bytes = std::vector<std::uint8_t>;

// A sine of `frequency` Hz at `amplitude` (0..1 of full scale) on every channel
// (the right channel a little detuned so the channels differ).
Bytes Sine(const SignalFormat& format, double seconds, double frequency, double amplitude);
// Pseudo-random noise at `amplitude`.
Bytes Noise(const SignalFormat& format, double seconds, double amplitude, std::uint32_t seed);
// Something like music: a few notes with harmonics, envelopes, stereo
// panning and a little noise, so that no two stretches of it are alike.
Bytes MusicLike(const SignalFormat& format, double seconds, std::uint32_t seed);

} // namespace discgen
