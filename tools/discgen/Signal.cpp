#include "Signal.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace discgen {

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

std::size_t FrameCount(const SignalFormat& format, double seconds) {
    return static_cast<std::size_t>(std::llround(seconds * format.rate));
}

std::size_t FrameBytes(const SignalFormat& format) {
    return static_cast<std::size_t>(format.channels * format.bits / 8);
}

struct Lcg {
    std::uint32_t state;
    double Next() { // -1..1
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / static_cast<double>(1u << 23) - 1.0;
    }
};

} // namespace

Bytes Sine(const SignalFormat& format, double seconds, double frequency, double amplitude) {
    Bytes out;
    const std::size_t frames = FrameCount(format, seconds);
    out.reserve(frames * FrameBytes(format));
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / format.rate;
        for (int c = 0; c < format.channels; ++c) {
            const double f = frequency * (c == 0 ? 1.0 : 1.01);
            PutSample(out, format.bits, amplitude * std::sin(2 * std::numbers::pi * f * t));
        }
    }
    return out;
}

Bytes Noise(const SignalFormat& format, double seconds, double amplitude, std::uint32_t seed) {
    Bytes out;
    Lcg rng{seed};
    const std::size_t frames = FrameCount(format, seconds);
    out.reserve(frames * FrameBytes(format));
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < format.channels; ++c) {
            PutSample(out, format.bits, amplitude * rng.Next());
        }
    }
    return out;
}

Bytes MusicLike(const SignalFormat& format, double seconds, std::uint32_t seed) {
    static const double kScale[] = {220.0, 246.94, 261.63, 293.66, 329.63, 349.23, 392.0, 440.0};
    Bytes out;
    Lcg rng{seed};
    const std::size_t frames = FrameCount(format, seconds);
    out.reserve(frames * FrameBytes(format));
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

} // namespace discgen
