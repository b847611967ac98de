// Encodes the same music-like CD audio (10 minutes by default) with the MP3,
// Ogg Vorbis and FLAC sinks through the chain, and with each format's
// reference command-line tool at matching settings, side by side. Prints
// each sink's speed (multiple of real time, by processor time), its time
// relative to the tool (target: at most 1.15) and the output sizes (FLAC
// target: within 1 % of the tool's size).
//
// usage: encoders [folder] [minutes] [repeats]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <time.h>

#include "core/Diagnostics.h"
#include "encoders/FLACEncoder.h"
#include "encoders/MP3Encoder.h"
#include "encoders/OGGEncoder.h"
#include "support/PcmSource.h"
#include "support/Process.h"

namespace {

namespace fs = std::filesystem;

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Processor time of this process and of the children it waited for.
double CpuSeconds() {
    timespec own{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &own);
    rusage children{};
    ::getrusage(RUSAGE_CHILDREN, &children);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return static_cast<double>(own.tv_sec) + own.tv_nsec / 1e9 + seconds(children.ru_utime) +
           seconds(children.ru_stime);
}

struct Cost {
    double wall = 1e9;
    double cpu = 1e9;
};

Cost Timed(const std::function<bool()>& run) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    if (!run()) {
        std::fprintf(stderr, "a run failed\n");
        std::exit(1);
    }
    return {Seconds(std::chrono::steady_clock::now() - start), CpuSeconds() - cpuStart};
}

void KeepBest(Cost& best, const Cost& run) {
    best.wall = std::min(best.wall, run.wall);
    best.cpu = std::min(best.cpu, run.cpu);
}

bool Stream(CEncoder& sink, const qmtest::Bytes& pcm) {
    qmtest::PcmSource source(std::span<const std::uint8_t>(pcm), {}, 15288);
    source.Open(nullptr, &sink);
    return source.Start() == 1;
}

bool Tool(const std::string& command) {
    const auto result = qmtest::Run(command);
    if (result.exitCode != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
    }
    return result.exitCode == 0;
}

struct Contender {
    const char* name;
    const char* tool;
    fs::path stageOut;
    fs::path toolOut;
    std::function<bool()> stage;
    std::string command;
    Cost stageCost;
    Cost toolCost;
};

} // namespace

int main(int argc, char** argv) {
    g_FunctionTracer.Init(10, 20);
    const fs::path dir = argc > 1 ? argv[1] : fs::temp_directory_path();
    const double minutes = argc > 2 ? std::atof(argv[2]) : 10.0;
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;
    const double seconds = minutes * 60.0;

    std::printf("encoders: %.1f min of music-like CD audio, best of %d runs each\n", minutes,
                repeats);
    const qmtest::Bytes pcm = qmtest::MusicLike({44100, 2, 16}, seconds);
    const fs::path raw = dir / "qm-bench-input.raw";
    qmtest::WriteFile(raw, pcm);
    const std::string rawArg = qmtest::ShellQuote(raw.string());
    const std::string programFolder = fs::read_symlink("/proc/self/exe").parent_path().string();

    Contender mp3{"MP3 VBR q6 128-192",
                  "lame",
                  dir / "qm-bench-stage.mp3",
                  dir / "qm-bench-tool.mp3",
                  nullptr,
                  "",
                  {},
                  {}};
    mp3.stage = [&] {
        CMP3Encoder encoder;
        if (!encoder.Init(programFolder.c_str()) ||
            !encoder.OutputSettings(mp3.stageOut.c_str(),
                                    {128, 192, 0, true, false, 44100, 1, 6})) {
            return false;
        }
        const bool ok = Stream(encoder, pcm);
        encoder.DeInit();
        return ok;
    };
    // The stage's record: joint stereo, CRC, copyright, no bit reservoir,
    // the output rate given.
    mp3.command = "lame --silent -r -s 44.1 --bitwidth 16 --signed --little-endian -m j -V 6 "
                  "-b 128 -B 192 -p -c --nores --resample 44.1 " +
                  rawArg + " " + qmtest::ShellQuote(mp3.toolOut.string());

    Contender ogg{"Ogg Vorbis q5",
                  "oggenc",
                  dir / "qm-bench-stage.ogg",
                  dir / "qm-bench-tool.ogg",
                  nullptr,
                  "",
                  {},
                  {}};
    ogg.stage = [&] {
        COGGEncoder encoder;
        return encoder.OutputSettings(ogg.stageOut.c_str(), {128, false, 0.5f, 44100, 2}) &&
               Stream(encoder, pcm);
    };
    ogg.command = "oggenc -Q -q 5 -r -B 16 -C 2 -R 44100 --raw-endianness 0 -o " +
                  qmtest::ShellQuote(ogg.toolOut.string()) + " " + rawArg;

    Contender flac{"FLAC level 5",
                   "flac",
                   dir / "qm-bench-stage.flac",
                   dir / "qm-bench-tool.flac",
                   nullptr,
                   "",
                   {},
                   {}};
    flac.stage = [&] {
        CFLACEncoder encoder;
        return encoder.OutputSettings(flac.stageOut.c_str(), {5, 44100, 2, 16}) == 1 &&
               Stream(encoder, pcm);
    };
    // The stage's level 5: LPC order 8, blocks of 4608, mid-side, partition
    // order 3..3; no padding or seek table (the stage writes neither).
    flac.command = "flac -s -f -l 8 -b 4608 -m -r 3,3 --no-padding --no-seektable "
                   "--force-raw-format --endian=little --sign=signed --channels=2 --bps=16 "
                   "--sample-rate=44100 -o " +
                   qmtest::ShellQuote(flac.toolOut.string()) + " " + rawArg;

    Contender* contenders[] = {&mp3, &ogg, &flac};
    // Alternating, so that neither side gets a warmer cache or a quieter
    // moment on a shared machine.
    for (int run = 0; run < repeats; ++run) {
        for (Contender* c : contenders) {
            KeepBest(c->stageCost, Timed(c->stage));
            KeepBest(c->toolCost, Timed([c] { return Tool(c->command); }));
        }
    }

    // Processor time decides: on a shared machine wall time mostly measures
    // the neighbours. Wall time is shown beside it.
    std::printf("%-20s %10s %10s %8s %8s %12s %12s %8s\n", "stage", "stage xRT", "tool xRT", "cpu",
                "wall", "stage bytes", "tool bytes", "size");
    bool met = true;
    for (Contender* c : contenders) {
        const double ratio = c->stageCost.cpu / c->toolCost.cpu;
        const double wallRatio = c->stageCost.wall / c->toolCost.wall;
        const auto stageBytes = fs::file_size(c->stageOut);
        const auto toolBytes = fs::file_size(c->toolOut);
        const double sizeRatio = static_cast<double>(stageBytes) / static_cast<double>(toolBytes);
        std::printf("%-20s %9.1fx %9.1fx %7.3fx %7.3fx %12ju %12ju %7.4fx  (vs %s)\n", c->name,
                    seconds / c->stageCost.cpu, seconds / c->toolCost.cpu, ratio, wallRatio,
                    static_cast<std::uintmax_t>(stageBytes), static_cast<std::uintmax_t>(toolBytes),
                    sizeRatio, c->tool);
        met = met && ratio <= 1.15;
        if (c == &flac) {
            const bool within = sizeRatio >= 0.99 && sizeRatio <= 1.01;
            std::printf("%-20s size within 1%% of the tool: %s\n", "", within ? "yes" : "NO");
            met = met && within;
        }
    }
    std::printf("targets (time ratio <= 1.15 by processor time, FLAC size within 1%%): %s\n",
                met ? "met" : "NOT met");

    for (Contender* c : contenders) {
        fs::remove(c->stageOut);
        fs::remove(c->toolOut);
    }
    fs::remove(raw);
    return 0;
}
