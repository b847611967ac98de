// Encodes 10 minutes of music-like stereo CD audio through the chain into
// the APE sink at each of the five levels, and the same PCM with `flac -8`.
// Prints speed (multiple of real time, one core) and size of each, and
// checks every APE file with ffmpeg's decoder (frame CRCs on) unless
// --no-verify is given. Targets: "Normal" at least 100x, "Insane" at least
// 15x real time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <sys/resource.h>

#include "core/Diagnostics.h"
#include "encoders/APEEncoder.h"
#include "encoders/APENNFilter.h"
#include "support/Oracles.h"
#include "support/PcmSource.h"
#include "support/Process.h"

namespace {

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Result {
    double cpu = 0;
    double wall = 0;
    std::uintmax_t size = 0;
};

Result EncodeApe(const std::filesystem::path& path, const qmtest::Bytes& pcm, std::uint8_t level) {
    qmtest::PcmSource source(std::span<const std::uint8_t>(pcm), {}, 15288);
    CAPEEncoder encoder;
    const double wall = WallSeconds();
    const double cpu = ThreadCpuSeconds();
    if (encoder.OutputSettings(path.c_str(), {44100, 2, level, 16}) != 1) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        std::exit(1);
    }
    source.Open(nullptr, &encoder);
    if (source.Start() != 1 || !std::filesystem::exists(path)) {
        std::fprintf(stderr, "APE encoding failed at level %d\n", level);
        std::exit(1);
    }
    return {ThreadCpuSeconds() - cpu, WallSeconds() - wall, std::filesystem::file_size(path)};
}

Result EncodeFlac(const std::filesystem::path& raw, const std::filesystem::path& out) {
    const double wall = WallSeconds();
    const double cpu = ChildCpuSeconds();
    const auto result =
        qmtest::Run("flac -8 -s -f --force-raw-format --endian=little "
                    "--sign=signed --channels=2 --bps=16 --sample-rate=44100 -o " +
                    qmtest::ShellQuote(out.string()) + " " + qmtest::ShellQuote(raw.string()));
    if (result.exitCode != 0) {
        std::fprintf(stderr, "flac failed\n");
        return {};
    }
    return {ChildCpuSeconds() - cpu, WallSeconds() - wall, std::filesystem::file_size(out)};
}

} // namespace

int main(int argc, char** argv) {
    g_FunctionTracer.Init(10, 20);
    std::filesystem::path dir = std::filesystem::temp_directory_path();
    double minutes = 10.0;
    bool verify = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-verify") == 0) {
            verify = false;
        } else if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc) {
            minutes = std::atof(argv[++i]);
        } else {
            dir = argv[i];
        }
    }
    const double seconds = minutes * 60.0;
    std::printf("ape: %.1f min of music-like stereo PCM, NN kernel %s\n", minutes,
                qm::ape::NNFilter::BestKernel());
    const qmtest::Bytes pcm = qmtest::MusicLike({}, seconds, 11);
    const auto raw = dir / "qm-bench-ape.raw";
    qmtest::WriteFile(raw, pcm);
    std::printf("  %-22s %8s %8s %10s %7s %s\n", "encoder", "x real", "(wall)", "bytes", "ratio",
                "check");
    static const char* kNames[] = {"APE 1000 Fast", "APE 2000 Normal", "APE 3000 High",
                                   "APE 4000 Extra high", "APE 5000 Insane"};
    static const double kTargets[] = {0, 100, 0, 0, 15};
    int status = 0;
    for (std::uint8_t level = 0; level <= 4; ++level) {
        const auto path = dir / "qm-bench.ape";
        const Result r = EncodeApe(path, pcm, level);
        std::string check = "-";
        if (verify) {
            const qmtest::Bytes decoded =
                qmtest::DecodeWithFfmpeg(path, "s16le", "-err_detect crccheck+explode");
            check = decoded == pcm ? "exact" : "MISMATCH";
            if (decoded != pcm) {
                status = 1;
            }
        }
        const double speed = seconds / r.cpu;
        std::printf("  %-22s %8.1f %8.1f %10ju %7.3f %s", kNames[level], speed, seconds / r.wall,
                    r.size, static_cast<double>(r.size) / static_cast<double>(pcm.size()),
                    check.c_str());
        if (kTargets[level] > 0) {
            std::printf("  (target >= %.0fx: %s)", kTargets[level],
                        speed >= kTargets[level] ? "met" : "MISSED");
        }
        std::printf("\n");
        std::filesystem::remove(path);
    }
    const auto flacPath = dir / "qm-bench.flac";
    const Result f = EncodeFlac(raw, flacPath);
    if (f.size != 0) {
        std::printf("  %-22s %8.1f %8.1f %10ju %7.3f\n", "flac -8", seconds / f.cpu,
                    seconds / f.wall, f.size,
                    static_cast<double>(f.size) / static_cast<double>(pcm.size()));
    }
    std::filesystem::remove(flacPath);
    std::filesystem::remove(raw);
    std::printf("  speeds: audio seconds per CPU second of the encoding thread (wall in "
                "brackets); ratio: bytes / PCM bytes\n");
    return status;
}
