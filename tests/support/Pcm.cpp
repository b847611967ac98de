#include "support/Pcm.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "discgen/Signal.h"

namespace qmtest {

namespace {

discgen::SignalFormat Signal(const PcmFormat& format) {
    return {format.rate, format.channels, format.bits};
}

} // namespace

Bytes Sine(const PcmFormat& format, double seconds, double frequency, double amplitude) {
    return discgen::Sine(Signal(format), seconds, frequency, amplitude);
}

Bytes Noise(const PcmFormat& format, double seconds, double amplitude, std::uint32_t seed) {
    return discgen::Noise(Signal(format), seconds, amplitude, seed);
}

Bytes MusicLike(const PcmFormat& format, double seconds, std::uint32_t seed) {
    return discgen::MusicLike(Signal(format), seconds, seed);
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
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string ReadText(const std::filesystem::path& path) {
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
    WriteFile(path, Bytes(text.begin(), text.end()));
}

} // namespace qmtest
