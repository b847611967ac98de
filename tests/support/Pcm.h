// PCM test signals (interleaved, little-endian; 8-bit samples signed, as the
// stages carry them) and small helpers to compare them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qmtest {

struct PcmFormat {
    std::uint32_t rate = 44100;
    std::uint8_t channels = 2;
    int bits = 16;
    int FrameBytes() const { return channels * bits / 8; }
};

using Bytes = std::vector<std::uint8_t>;

// A sine of `frequency` Hz at `amplitude` (0..1 of full scale) on every channel
// (the right channel a little detuned so the channels differ).
Bytes Sine(const PcmFormat& format, double seconds, double frequency, double amplitude = 0.5);
// Deterministic pseudo-random noise at `amplitude`.
Bytes Noise(const PcmFormat& format, double seconds, double amplitude, std::uint32_t seed = 1);
// Something like music: a few notes with harmonics, envelopes, stereo
// panning and a little noise; deterministic for a seed.
Bytes MusicLike(const PcmFormat& format, double seconds, std::uint32_t seed = 1);

std::vector<std::int16_t> ToSamples16(const Bytes& pcm);
Bytes FromSamples16(const std::vector<std::int16_t>& samples);

// One channel of interleaved 8- or 16-bit PCM as numbers (in sample units).
std::vector<double> Channel(const Bytes& pcm, const PcmFormat& format, int channel);

// Least-squares fit of a sine of known frequency (plus an offset) to the
// samples, leaving out `skip` samples at either end: the fitted amplitude,
// and the power of the fit against that of everything else (signal to noise
// and distortion, in dB).
struct SineFit {
    double amplitude = 0.0;
    double sinad = 0.0;
};
SineFit FitSine(const std::vector<double>& samples, double frequency, double rate,
                std::size_t skip = 0);

Bytes ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const Bytes& bytes);
// The same for text.
std::string ReadText(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, const std::string& text);

} // namespace qmtest
