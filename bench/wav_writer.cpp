// Writes 80 minutes of CD audio through the chain into the WAV writer and,
// for comparison, the same bytes with one large write() loop. Prints both
// speeds and their ratio (target: at least 0.8).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "core/Diagnostics.h"
#include "encoders/WAVWriter.h"
#include "support/PcmSource.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double PlainWrite(const std::filesystem::path& path, const qmtest::Bytes& pcm) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    constexpr std::size_t kBlock = 1 << 20;
    for (std::size_t done = 0; done < pcm.size(); done += kBlock) {
        const std::size_t n = std::min(kBlock, pcm.size() - done);
        if (::write(fd, pcm.data() + done, n) != static_cast<ssize_t>(n)) {
            std::perror("write");
            std::exit(1);
        }
    }
    ::close(fd);
    return Seconds(std::chrono::steady_clock::now() - start);
}

double ChainWrite(const std::filesystem::path& path, const qmtest::Bytes& pcm) {
    const auto start = std::chrono::steady_clock::now();
    qmtest::PcmSource source(std::span<const std::uint8_t>(pcm), {}, 15288);
    CWAVWriter writer;
    writer.Open(path.c_str());
    source.Open(nullptr, &writer);
    if (source.Start() != 1) {
        std::fprintf(stderr, "chain failed\n");
        std::exit(1);
    }
    return Seconds(std::chrono::steady_clock::now() - start);
}

} // namespace

int main(int argc, char** argv) {
    g_FunctionTracer.Init(10, 20);
    const std::filesystem::path dir = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    const double minutes = argc > 2 ? std::atof(argv[2]) : 80.0;
    const std::size_t bytes = static_cast<std::size_t>(minutes * 60 * 44100) * 4;
    qmtest::Bytes pcm(bytes);
    for (std::size_t i = 0; i < bytes; ++i) {
        pcm[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
    }
    const auto plainPath = dir / "qm-bench-plain.raw";
    const auto wavPath = dir / "qm-bench-chain.wav";
    const double mb = static_cast<double>(bytes) / 1e6;
    // Best of three each, alternating, so that neither gets a warmer cache.
    double plain = 1e9;
    double chain = 1e9;
    for (int i = 0; i < 3; ++i) {
        plain = std::min(plain, PlainWrite(plainPath, pcm));
        chain = std::min(chain, ChainWrite(wavPath, pcm));
    }
    std::filesystem::remove(plainPath);
    std::filesystem::remove(wavPath);
    std::printf("wav_writer: %.0f MB (%.0f min of CD audio)\n", mb, minutes);
    std::printf("  write() loop : %8.1f MB/s\n", mb / plain);
    std::printf("  WAV writer   : %8.1f MB/s\n", mb / chain);
    std::printf("  ratio        : %8.2f (target >= 0.80)\n", plain / chain);
    return 0;
}
