// Grabs every track of a 70-minute disc to FLAC twice: from CUE+BIN, and from
// the same disc kept as CUE+FLAC, whose audio the drive decodes itself.
// Prints both times (target: CUE+FLAC at most 1.3 times CUE+BIN) and the
// peak memory the drive adds while it serves the whole FLAC disc (target:
// under 64 MB).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "core/Diagnostics.h"
#include "disc/CDRipper.h"
#include "disc/DriveList.h"
#include "discgen/DiscImage.h"
#include "encoders/FLACEncoder.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Processor time (user and system, every thread) the process has used.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Timing {
    double wall = 1e9;
    double cpu = 1e9;
};

std::string Quote(const std::filesystem::path& path) {
    std::string out = "'";
    for (char c : path.string()) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// A /proc/self/status value in KB ("VmRSS", "VmHWM").
long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::atol(line.c_str() + std::string(key).size() + 1);
        }
    }
    return -1;
}

// Starts the peak-memory count again from the present size.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The faster of `best` and this grab; on a shared machine the processor time
// says what the grab itself costs.
Timing Grab(int drive, int tracks, const std::filesystem::path& out, Timing best) {
    std::filesystem::create_directories(out);
    CCDRipper ripper;
    if (!ripper.Attach(drive, 0)) {
        std::fprintf(stderr, "sheet_image: cannot attach the image\n");
        std::exit(1);
    }
    ripper.SetJitterMode(CCDRipper::kJitterNever);
    CError errors;
    const auto start = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds();
    for (int track = 1; track <= tracks; ++track) {
        CFLACEncoder encoder;
        char name[32];
        std::snprintf(name, sizeof name, "track%02d.flac", track);
        encoder.SetError(&errors);
        ripper.SetError(&errors);
        if (encoder.OutputSettings((out / name).c_str(), {5, 44100, 2, 16}) != 1 ||
            !ripper.ProcessSettings(track, &encoder, true) || ripper.Start() != 1 ||
            errors.IsAnyActual()) {
            std::fprintf(stderr, "sheet_image: track %d failed: %s\n", track,
                         errors.FullMessage(errors.GetLastActual()).c_str());
            std::exit(1);
        }
    }
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    const double used = CpuSeconds() - cpu;
    std::filesystem::remove_all(out);
    return Timing{std::min(best.wall, seconds), std::min(best.cpu, used)};
}

} // namespace

int main(int argc, char** argv) {
    g_FunctionTracer.Init(10, 20);
    const std::filesystem::path dir =
        (argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path()) /
        "qm-bench-sheet";
    const double minutes = argc > 2 ? std::atof(argv[2]) : 70.0;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);

    const int trackCount = 14;
    const auto totalSectors = static_cast<std::int32_t>(minutes * 60 * discgen::kSectorsPerSecond);
    std::vector<discgen::ImageTrack> tracks(trackCount);
    for (int i = 0; i < trackCount; ++i) {
        tracks[static_cast<std::size_t>(i)].sectors =
            totalSectors / trackCount + (i < totalSectors % trackCount ? 1 : 0);
    }
    std::string error;
    const auto image = discgen::WriteImage(dir / "disc.cue", tracks, discgen::NoiseFill(70),
                                           discgen::SheetKind::Cue, &error);
    if (!image) {
        std::fprintf(stderr, "sheet_image: %s\n", error.c_str());
        return 1;
    }
    // The same disc as one FLAC under a sheet of its own.
    const std::string encode = "ffmpeg -nostdin -loglevel error -y -f s16le -ar 44100 -ac 2 -i " +
                               Quote(image->bin) + " -c:a flac " + Quote(dir / "disc.flac");
    if (std::system(encode.c_str()) != 0) {
        std::fprintf(stderr, "sheet_image: ffmpeg failed (is it installed?)\n");
        return 1;
    }
    {
        std::ifstream in(image->sheet);
        std::string sheet((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string bin = "\"disc.bin\" BINARY";
        sheet.replace(sheet.find(bin), bin.size(), "\"disc.flac\" WAVE");
        std::ofstream(dir / "flac.cue") << sheet;
    }

    const int binDrive = qm::DriveList::Instance().AddImage(image->sheet, &error);
    ResetPeak();
    const long before = StatusKb("VmRSS");
    const int flacDrive = qm::DriveList::Instance().AddImage(dir / "flac.cue", &error);
    if (binDrive < 0 || flacDrive < 0) {
        std::fprintf(stderr, "sheet_image: %s\n", error.c_str());
        return 1;
    }
    // Every sector through the FLAC drive, as a grab reads them.
    {
        auto drive = qm::DriveList::Instance().Drives()[static_cast<std::size_t>(flacDrive)].drive;
        std::vector<std::uint8_t> block(26 * 2352);
        drive->Open(0);
        for (std::int32_t at = 0; at < totalSectors; at += 26) {
            drive->ReadAudio(at, std::min(26, totalSectors - at), block.data());
        }
        drive->Close();
    }
    const long peak = StatusKb("VmHWM") - before;

    // Best of two each, alternating; the FLAC drive has decoded its file by
    // now, so grabs from fresh drives are timed after.
    Timing bin;
    Timing flac;
    for (int i = 0; i < 2; ++i) {
        bin = Grab(binDrive, trackCount, dir / "out", bin);
        flac = Grab(flacDrive, trackCount, dir / "out", flac);
    }
    // A fresh drive decodes while the grab reads; best of two as well.
    Timing freshFlac;
    int last = flacDrive;
    for (int i = 0; i < 2; ++i) {
        qm::DriveList::Instance().Remove(
            qm::DriveList::Instance().Drives()[static_cast<std::size_t>(last)].drive);
        last = qm::DriveList::Instance().AddImage(dir / "flac.cue", &error);
        if (last < 0) {
            std::fprintf(stderr, "sheet_image: %s\n", error.c_str());
            return 1;
        }
        freshFlac = Grab(last, trackCount, dir / "out", freshFlac);
    }
    std::filesystem::remove_all(dir);

    std::printf("sheet_image: %.0f min disc, %d tracks, grabbed to FLAC\n", minutes, trackCount);
    std::printf("                                   wall    processor\n");
    std::printf("  CUE+BIN                      : %6.2f s  %6.2f s\n", bin.wall, bin.cpu);
    std::printf("  CUE+FLAC (decoded)           : %6.2f s  %6.2f s\n", flac.wall, flac.cpu);
    std::printf("  CUE+FLAC, fresh drive        : %6.2f s  %6.2f s (decoding included)\n",
                freshFlac.wall, freshFlac.cpu);
    std::printf("  ratio, fresh / BIN           : %6.2f    %6.2f (target <= 1.30)\n",
                freshFlac.wall / bin.wall, freshFlac.cpu / bin.cpu);
    std::printf("  drive's peak memory          : %6.1f MB (target < 64)\n",
                static_cast<double>(peak) / 1024.0);
    return 0;
}
