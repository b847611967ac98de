// Encodes minutes of CD audio through the chain into the WMA sink, once at
// a constant bitrate and once with two passes. Prints the speed of each
// (as a multiple of real time) and how much memory the two-pass track took
// beyond what the process held before, as a multiple of the track's PCM
// size (target: at most 1.2 — the track is held once).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>

#include "core/Diagnostics.h"
#include "encoders/WMAEncoder.h"
#include "support/PcmSource.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

long PeakKilobytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Returns the encoding time in seconds; exits on failure.
double Encode(const std::filesystem::path& path, const qmtest::Bytes& pcm, std::int32_t bitrate,
              std::int32_t vbr, std::int32_t passes) {
    const auto start = std::chrono::steady_clock::now();
    CWMAEncoder encoder;
    if (encoder.OutputSettings(path.c_str(), {0, bitrate, 44100, 2, vbr, passes}) != 1) {
        std::fprintf(stderr, "encoder set-up failed\n");
        std::exit(1);
    }
    qmtest::PcmSource source(std::span<const std::uint8_t>(pcm), {}, 15288);
    source.Open(nullptr, &encoder);
    if (source.Start() != 1 || !std::filesystem::exists(path)) {
        std::fprintf(stderr, "chain failed\n");
        std::exit(1);
    }
    return Seconds(std::chrono::steady_clock::now() - start);
}

} // namespace

int main(int argc, char** argv) {
    g_FunctionTracer.Init(10, 20);
    const std::filesystem::path dir = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    const double minutes = argc > 2 ? std::atof(argv[2]) : 20.0;
    const std::size_t bytes = static_cast<std::size_t>(minutes * 60 * 44100) * 4;
    qmtest::Bytes pcm(bytes);
    // Something like music, not silence, so that the codec has work to do.
    std::uint32_t noise = 1;
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        noise = noise * 1664525u + 1013904223u;
        const auto tone = static_cast<int>(8000.0 * ((i / 2) % 100 < 50 ? 1 : -1));
        const auto sample = static_cast<std::int16_t>(tone + static_cast<int>(noise >> 20) - 2048);
        pcm[i] = static_cast<std::uint8_t>(sample & 0xFF);
        pcm[i + 1] = static_cast<std::uint8_t>((sample >> 8) & 0xFF);
    }
    const auto path = dir / "qm-bench.wma";
    const double seconds = minutes * 60;

    const double cbr = Encode(path, pcm, 128000, 0, 1);
    const long before = PeakKilobytes();
    const double twoPass = Encode(path, pcm, 128000, 1, 2);
    const long after = PeakKilobytes();
    std::filesystem::remove(path);

    const double held = static_cast<double>(after - before) * 1024.0 / static_cast<double>(bytes);
    std::printf("wma_encoder: %.0f min of CD audio (%.0f MB)\n", minutes,
                static_cast<double>(bytes) / 1e6);
    std::printf("  CBR 128 kbit/s        : %8.1f x real time\n", seconds / cbr);
    std::printf("  two-pass 128 kbit/s   : %8.1f x real time\n", seconds / twoPass);
    std::printf("  two-pass memory added : %8.2f x the track (target <= 1.20)\n", held);
    return 0;
}
