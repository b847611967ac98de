// Converts 10 minutes of stereo music-like audio through the resampler stage
// (44100->48000, 48000->44100, 44100->22050, and to mono 8 bits) on one core
// and prints (a) the speed as a multiple of real time and (b) the signal to
// noise and distortion of a 1 kHz and a 10 kHz sine, each beside sox's
// "rate -q" and "rate -h" on the same input. Target: at least 200x real time
// for 44100->48000 stereo.
//
// usage: resampler [minutes] [temporary folder]
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>

#include "core/Diagnostics.h"
#include "pipeline/Resampler.h"
#include "support/Pcm.h"
#include "support/PcmSource.h"
#include "support/Process.h"

namespace {

using qmtest::Bytes;
using qmtest::PcmFormat;

// Counts what reaches it and keeps it when asked.
class NullSink : public CEncoder {
public:
    std::int32_t SetInputProps(std::uint32_t rate, std::uint8_t channels,
                               std::int32_t bits) override {
        format = {rate, channels, bits};
        return 0;
    }
    WriteResult Write(const void* data, std::int32_t frames) override {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        const std::size_t size = static_cast<std::size_t>(frames) * format.FrameBytes();
        if (keep) {
            kept.insert(kept.end(), bytes, bytes + size);
        }
        total += size;
        return WriteResult::Accepted;
    }
    void Close(bool /*complete*/) override {}

    PcmFormat format{0, 0, 0};
    bool keep = false;
    Bytes kept;
    std::size_t total = 0;
};

struct Conversion {
    const char* name;
    PcmFormat in;
    PcmFormat out;
};

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

Bytes Ours(const Bytes& pcm, const Conversion& c, bool keep, double* seconds) {
    qmtest::PcmSource source(std::span<const std::uint8_t>(pcm), c.in, 15288);
    CResampler resampler;
    NullSink sink;
    sink.keep = keep;
    resampler.SetOutputFormat(c.out.rate, c.out.channels, static_cast<std::uint8_t>(c.out.bits));
    resampler.SetEncoder(&sink);
    source.Open(nullptr, &resampler);
    const auto start = std::chrono::steady_clock::now();
    if (source.Start() != 1) {
        std::fprintf(stderr, "resampler: the chain failed\n");
        std::exit(1);
    }
    if (seconds != nullptr) {
        *seconds = Seconds(std::chrono::steady_clock::now() - start);
    }
    return std::move(sink.kept);
}

// sox on the same input: the rate effect at `quality` ("-q" or "-h") when the
// rate changes, the channel sum and the width otherwise. No dither, as the
// stage has none.
Bytes Sox(const std::filesystem::path& dir, const Bytes& pcm, const Conversion& c,
          const char* quality, bool keep, double* seconds) {
    const auto in = dir / "sox-in.raw";
    const auto out = dir / "sox-out.raw";
    qmtest::WriteFile(in, pcm);
    auto side = [](const PcmFormat& f) {
        return "-t raw -e signed -r " + std::to_string(f.rate) + " -b " + std::to_string(f.bits) +
               " -c " + std::to_string(f.channels) + " ";
    };
    std::string effects;
    if (c.out.channels == 1 && c.in.channels == 2) {
        effects += " remix -m 1,2"; // a plain sum, like the stage
    }
    if (c.out.rate != c.in.rate) {
        effects += std::string(" rate ") + quality + " " + std::to_string(c.out.rate);
    }
    const std::string command = "sox -D -V1 " + side(c.in) + qmtest::ShellQuote(in.string()) + " " +
                                side(c.out) +
                                qmtest::ShellQuote(keep ? out.string() : "/dev/null") + effects;
    const auto start = std::chrono::steady_clock::now();
    const auto result = qmtest::Run(command, true);
    if (seconds != nullptr) {
        *seconds = Seconds(std::chrono::steady_clock::now() - start);
    }
    std::filesystem::remove(in);
    if (result.exitCode != 0) {
        std::fprintf(stderr, "sox failed: %s\n%s\n", command.c_str(), result.out.c_str());
        return {};
    }
    Bytes converted;
    if (keep) {
        converted = qmtest::ReadFile(out);
        std::filesystem::remove(out);
    }
    return converted;
}

// Both channels carry the same sine, so the mono sum is a sine too.
Bytes TwinSine(const PcmFormat& format, double seconds, double frequency, double amplitude) {
    const auto frames = static_cast<std::size_t>(seconds * format.rate);
    std::vector<std::int16_t> samples;
    samples.reserve(frames * format.channels);
    for (std::size_t n = 0; n < frames; ++n) {
        const double v =
            amplitude * 32767.0 *
            std::sin(2 * std::numbers::pi * frequency * static_cast<double>(n) / format.rate);
        for (int c = 0; c < format.channels; ++c) {
            samples.push_back(static_cast<std::int16_t>(std::lround(v)));
        }
    }
    return qmtest::FromSamples16(samples);
}

double Sinad(const Bytes& converted, const PcmFormat& format, double frequency) {
    const auto channel = qmtest::Channel(converted, format, 0);
    return qmtest::FitSine(channel, frequency, format.rate, format.rate / 20).sinad;
}

// Level of what a tone leaves at `alias` Hz, against the tone's own level.
double AliasLevel(const Bytes& converted, const PcmFormat& format, double alias, double level) {
    const auto channel = qmtest::Channel(converted, format, 0);
    const auto fit = qmtest::FitSine(channel, alias, format.rate, format.rate / 20);
    return 20 * std::log10(std::max(fit.amplitude, 1e-3) / level);
}

void PinToOneCore() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &set)) {
                CPU_ZERO(&set);
                CPU_SET(cpu, &set);
                sched_setaffinity(0, sizeof set, &set); // sox inherits it
                return;
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    g_FunctionTracer.Init(10, 20);
    PinToOneCore();
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    const std::filesystem::path dir =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
    const bool haveSox = qmtest::HasProgram("sox");

    const PcmFormat cd{44100, 2, 16};
    const PcmFormat dat{48000, 2, 16};
    const Conversion conversions[] = {{"44100 -> 48000", cd, dat},
                                      {"48000 -> 44100", dat, cd},
                                      {"44100 -> 22050", cd, {22050, 2, 16}},
                                      {"44100 -> mono 8 bits", cd, {44100, 1, 8}}};

    // Ten minutes of music: one minute generated, repeated.
    auto music = [minutes](const PcmFormat& format) {
        const Bytes minute = qmtest::MusicLike(format, 60.0, 11);
        Bytes all;
        const auto size = static_cast<std::size_t>(minutes * 60 * format.rate) * 4;
        all.reserve(size);
        while (all.size() < size) {
            all.insert(all.end(), minute.begin(),
                       minute.begin() +
                           static_cast<std::ptrdiff_t>(std::min(minute.size(), size - all.size())));
        }
        return all;
    };
    const Bytes music44 = music(cd);
    const Bytes music48 = music(dat);
    const double audioSeconds = minutes * 60;

    std::printf("resampler: %.0f min of stereo music-like audio, one core%s\n", minutes,
                haveSox ? "" : " (sox not found: its columns stay empty)");
    std::printf("%-22s %-10s %12s %12s %12s\n", "conversion", "", "ours", "sox rate -q",
                "sox rate -h");
    for (const Conversion& c : conversions) {
        const Bytes& input = c.in.rate == 48000 ? music48 : music44;
        double ours = 1e9;
        for (int i = 0; i < 3; ++i) { // best of three
            double seconds = 0;
            Ours(input, c, false, &seconds);
            ours = std::min(ours, seconds);
        }
        double soxQuick = 0;
        double soxHigh = 0;
        if (haveSox) {
            Sox(dir, input, c, "-q", false, &soxQuick);
            Sox(dir, input, c, "-h", false, &soxHigh);
        }
        const bool rateChanges = c.in.rate != c.out.rate;
        std::printf("%-22s %-10s %11.0fx %11.0fx %11.0fx%s\n", c.name, "speed", audioSeconds / ours,
                    haveSox ? audioSeconds / soxQuick : 0.0, haveSox ? audioSeconds / soxHigh : 0.0,
                    &c == &conversions[0] ? "   (target >= 200x)" : "");

        // Loud sines (or two at half level when they are summed to mono).
        const double amplitude = c.out.channels == 1 ? 0.45 : 0.9;
        for (const double frequency : {1000.0, 10000.0}) {
            const Bytes sine = TwinSine(c.in, 5.0, frequency, amplitude);
            const double mine = Sinad(Ours(sine, c, true, nullptr), c.out, frequency);
            double quick = 0;
            double high = 0;
            if (haveSox) {
                quick = Sinad(Sox(dir, sine, c, "-q", true, nullptr), c.out, frequency);
                high = Sinad(Sox(dir, sine, c, "-h", true, nullptr), c.out, frequency);
            }
            std::printf("%-22s SINAD %2.0fk %9.1f dB %9.1f dB %9.1f dB%s\n", "", frequency / 1000,
                        mine, quick, high,
                        rateChanges ? "" : "   (no rate change: sox columns alike)");
        }
        if (c.out.rate == 22050) {
            // The kernel is fixed at the input's band, so halving the rate
            // folds what lies above the new band back into it.
            const Bytes tone = TwinSine(c.in, 5.0, 15000.0, 0.9);
            const double level = 0.9 * 32767;
            const double mine = AliasLevel(Ours(tone, c, true, nullptr), c.out, 7050.0, level);
            double quick = 0;
            double high = 0;
            if (haveSox) {
                quick = AliasLevel(Sox(dir, tone, c, "-q", true, nullptr), c.out, 7050.0, level);
                high = AliasLevel(Sox(dir, tone, c, "-h", true, nullptr), c.out, 7050.0, level);
            }
            std::printf("%-22s %-10s %9.1f dB %9.1f dB %9.1f dB\n", "", "alias 15k", mine, quick,
                        high);
        }
    }
    return 0;
}
