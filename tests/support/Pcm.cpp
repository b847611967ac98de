#include "support/Pcm.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>
#include <stdexcept>

namespace qmtest {

namespace {

void PutSample(Bytes& out, int bits, double value) {
    value = std::clamp(value, -1.0, 1.0);
    if (bits == 8) {
        const auto s = static_cast<std::int8_t>(std::lround(value * 127.0));
        out.push_back(static_cast<std::uint8_t>(s));
    } else {
        const auto s = static_cast<std::int16_t>(std::lround(value * 32767.0));
        out.push_back(static_cast<std::uint8_t>(s & 0xFF));
        out.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
}

std::size_t FrameCount(const PcmFormat& format, double seconds) {
    return static_cast<std::size_t>(std::llround(seconds * format.rate));
}

struct Lcg {
    std::uint32_t state;
    double Next() { // -1..1
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / static_cast<double>(1u << 23) - 1.0;
    }
};

} // namespace

Bytes Sine(const PcmFormat& format, double seconds, double frequency, double amplitude) {
    Bytes out;
    const std::size_t frames = FrameCount(format, seconds);
    out.reserve(frames * static_cast<std::size_t>(format.FrameBytes()));
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / format.rate;
        for (int c = 0; c < format.channels; ++c) {
            const double f = frequency * (c == 0 ? 1.0 : 1.01);
            PutSample(out, format.bits, amplitude * std::sin(2 * std::numbers::pi * f * t));
        }
    }
    return out;
}

Bytes Noise(const PcmFormat& format, double seconds, double amplitude, std::uint32_t seed) {
    Bytes out;
    Lcg rng{seed};
    const std::size_t frames = FrameCount(format, seconds);
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < format.channels; ++c) {
            PutSample(out, format.bits, amplitude * rng.Next());
        }
    }
    return out;
}

Bytes MusicLike(const PcmFormat& format, double seconds, std::uint32_t seed) {
    static const double kScale[] = {220.0, 246.94, 261.63, 293.66, 329.63, 349.23, 392.0, 440.0};
    Bytes out;
    Lcg rng{seed};
    const std::size_t frames = FrameCount(format, seconds);
    out.reserve(frames * static_cast<std::size_t>(format.FrameBytes()));
    const double noteLength = 0.25;
    double noteFreq[3] = {kScale[seed % 8], kScale[(seed + 2) % 8], kScale[(seed + 4) % 8]};
    double pan[3] = {0.3, 0.5, 0.7};
    std::size_t noteStart = 0;
    double phase[3][6] = {};
    for (std::size_t i = 0; i < frames; ++i) {
        if (static_cast<double>(i - noteStart) / format.rate >= noteLength) {
            noteStart = i;
            for (int v = 0; v < 3; ++v) {
                const int step = static_cast<int>((rng.Next() + 1.0) * 4.0) % 8;
                noteFreq[v] = kScale[step] * (v == 0 ? 0.5 : (v == 2 ? 2.0 : 1.0));
                pan[v] = 0.5 + 0.4 * rng.Next();
            }
        }
        const double t = static_cast<double>(i - noteStart) / format.rate;
        const double envelope = std::exp(-4.0 * t) * std::min(1.0, t * 200.0);
        double left = 0.0;
        double right = 0.0;
        for (int v = 0; v < 3; ++v) {
            double voice = 0.0;
            for (int h = 0; h < 6; ++h) {
                phase[v][h] += 2 * std::numbers::pi * noteFreq[v] * (h + 1) / format.rate;
                if (phase[v][h] > 2 * std::numbers::pi) {
                    phase[v][h] -= 2 * std::numbers::pi;
                }
                voice += std::sin(phase[v][h]) / (h + 1);
            }
            left += voice * (1.0 - pan[v]);
            right += voice * pan[v];
        }
        const double noise = 0.01 * rng.Next();
        if (format.channels == 1) {
            PutSample(out, format.bits, 0.25 * envelope * (left + right) + noise);
        } else {
            PutSample(out, format.bits, 0.3 * envelope * left + noise);
            PutSample(out, format.bits, 0.3 * envelope * right + noise);
        }
    }
    return out;
}

std::vector<std::int16_t> ToSamples16(const Bytes& pcm) {
    std::vector<std::int16_t> samples(pcm.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
    }
    return samples;
}

Bytes FromSamples16(const std::vector<std::int16_t>& samples) {
    Bytes out(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        out[2 * i] = static_cast<std::uint8_t>(samples[i] & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>((samples[i] >> 8) & 0xFF);
    }
    return out;
}

std::vector<double> Channel(const Bytes& pcm, const PcmFormat& format, int channel) {
    std::vector<double> out;
    const std::size_t frameBytes = static_cast<std::size_t>(format.FrameBytes());
    if (frameBytes == 0) {
        return out;
    }
    const std::size_t frames = pcm.size() / frameBytes;
    out.reserve(frames);
    const std::size_t offset =
        static_cast<std::size_t>(channel) * static_cast<std::size_t>(format.bits / 8);
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint8_t* at = pcm.data() + i * frameBytes + offset;
        if (format.bits == 8) {
            out.push_back(static_cast<std::int8_t>(at[0]));
        } else {
            out.push_back(static_cast<std::int16_t>(at[0] | (at[1] << 8)));
        }
    }
    return out;
}

SineFit FitSine(const std::vector<double>& samples, double frequency, double rate,
                std::size_t skip) {
    SineFit fit;
    if (samples.size() <= 2 * skip + 3) {
        return fit;
    }
    // Normal equations for a*sin + b*cos + c, solved by elimination.
    const double w = 2 * std::numbers::pi * frequency / rate;
    double m[3][4] = {};
    for (std::size_t n = skip; n < samples.size() - skip; ++n) {
        const double basis[3] = {std::sin(w * static_cast<double>(n)),
                                 std::cos(w * static_cast<double>(n)), 1.0};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                m[i][j] += basis[i] * basis[j];
            }
            m[i][3] += basis[i] * samples[n];
        }
    }
    for (int i = 0; i < 3; ++i) {
        for (int r = i + 1; r < 3; ++r) {
            const double factor = m[r][i] / m[i][i];
            for (int c = i; c < 4; ++c) {
                m[r][c] -= factor * m[i][c];
            }
        }
    }
    double x[3] = {};
    for (int i = 2; i >= 0; --i) {
        double sum = m[i][3];
        for (int j = i + 1; j < 3; ++j) {
            sum -= m[i][j] * x[j];
        }
        x[i] = sum / m[i][i];
    }
    double signal = 0.0;
    double rest = 0.0;
    for (std::size_t n = skip; n < samples.size() - skip; ++n) {
        const double sine = x[0] * std::sin(w * static_cast<double>(n)) +
                            x[1] * std::cos(w * static_cast<double>(n));
        const double error = samples[n] - sine - x[2];
        signal += sine * sine;
        rest += error * error;
    }
    fit.amplitude = std::hypot(x[0], x[1]);
    fit.sinad = rest > 0.0 ? 10.0 * std::log10(signal / rest) : 200.0;
    return fit;
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

} // namespace qmtest
