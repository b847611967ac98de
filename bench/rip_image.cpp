// Grabs every track of a 74-minute disc image to WAV files through the
// ripper and the WAV writer, and converts the same image with `bchunk -w`
// for comparison. Prints both speeds as multiples of real time (target: the
// ripper at least as fast as bchunk).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Diagnostics.h"
#include "disc/CDRipper.h"
#include "disc/DriveList.h"
#include "discgen/DiscImage.h"
#include "encoders/WAVWriter.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string Quote(const std::filesystem::path& path) {
    std::string out = "'";
    for (char c : path.string()) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

double RunBchunk(const discgen::ImageLayout& image, const std::filesystem::path& out) {
    std::filesystem::create_directories(out);
    const std::string command = "bchunk -w " + Quote(image.bin) + " " + Quote(image.sheet) + " " +
                                Quote(out / "track") + " > /dev/null";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "rip_image: bchunk failed (is it installed?)\n");
        std::exit(1);
    }
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    std::filesystem::remove_all(out);
    return seconds;
}

double RunRipper(int drive, int tracks, const std::filesystem::path& out, std::int32_t jitterMode) {
    std::filesystem::create_directories(out);
    CCDRipper ripper;
    if (!ripper.Attach(drive, 0)) {
        std::fprintf(stderr, "rip_image: cannot attach the image\n");
        std::exit(1);
    }
    ripper.SetJitterMode(jitterMode);
    CError errors;
    const auto start = std::chrono::steady_clock::now();
    for (int track = 1; track <= tracks; ++track) {
        CWAVWriter writer;
        char name[32];
        std::snprintf(name, sizeof name, "track%02d.wav", track);
        writer.Open((out / name).c_str());
        writer.SetError(&errors);
        ripper.SetError(&errors);
        if (!ripper.ProcessSettings(track, &writer, true) || ripper.Start() != 1 ||
            errors.IsAnyActual()) {
            std::fprintf(stderr, "rip_image: track %d failed: %s\n", track,
                         errors.FullMessage(errors.GetLastActual()).c_str());
            std::exit(1);
        }
    }
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    std::filesystem::remove_all(out);
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    g_FunctionTracer.Init(10, 20);
    const std::filesystem::path dir =
        (argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path()) /
        "qm-bench-rip";
    const double minutes = argc > 2 ? std::atof(argv[2]) : 74.0;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);

    // Fifteen tracks of equal length, noise for audio: the content does not
    // matter to either program, and it is quick to make.
    const int trackCount = 15;
    const auto totalSectors = static_cast<std::int32_t>(minutes * 60 * discgen::kSectorsPerSecond);
    std::vector<discgen::ImageTrack> tracks(trackCount);
    for (int i = 0; i < trackCount; ++i) {
        tracks[static_cast<std::size_t>(i)].sectors =
            totalSectors / trackCount + (i < totalSectors % trackCount ? 1 : 0);
    }
    std::string error;
    const auto image = discgen::WriteImage(dir / "disc.cue", tracks, discgen::NoiseFill(74),
                                           discgen::SheetKind::Cue, &error);
    if (!image) {
        std::fprintf(stderr, "rip_image: %s\n", error.c_str());
        return 1;
    }
    const int drive = qm::DriveList::Instance().AddImage(image->sheet, &error);
    if (drive < 0) {
        std::fprintf(stderr, "rip_image: %s\n", error.c_str());
        return 1;
    }

    // Best of three each, alternating, so that neither gets a warmer cache.
    double bchunk = 1e9;
    double ripper = 1e9;
    for (int i = 0; i < 3; ++i) {
        bchunk = std::min(bchunk, RunBchunk(*image, dir / "bchunk"));
        ripper =
            std::min(ripper, RunRipper(drive, trackCount, dir / "ripper", CCDRipper::kJitterNever));
    }
    // What overlap-matched reads of every block cost (for information).
    const double checked = RunRipper(drive, trackCount, dir / "ripper", CCDRipper::kJitterAlways);
    std::filesystem::remove_all(dir);

    const double audioSeconds = static_cast<double>(totalSectors) / discgen::kSectorsPerSecond;
    std::printf("rip_image: %.0f min image, %d tracks\n", minutes, trackCount);
    std::printf("  bchunk -w             : %6.2f s  %7.1fx real time\n", bchunk,
                audioSeconds / bchunk);
    std::printf("  CCDRipper -> CWAVWriter: %6.2f s  %7.1fx real time\n", ripper,
                audioSeconds / ripper);
    std::printf("  ratio                 : %6.2f (target >= 1.00)\n", bchunk / ripper);
    std::printf("  jitter mode Always    : %6.2f s  %7.1fx real time\n", checked,
                audioSeconds / checked);
    return 0;
}
