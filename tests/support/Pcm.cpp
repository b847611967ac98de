#include "support/Pcm.h"

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

} // namespace qmtest
