// What verification costs a grab: every track of a disc image ripped to WAV
// files with the checksums taken from the reads (AccurateRip v1/v2, sector
// 450, CTDB, CRC-32, peak) and without. Prints both times and their ratio
// (target: at most 1.05), for a grab to WAV files (the ripper's reads and a
// file copy, the harshest case) and to FLAC files (what users grab to).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Diagnostics.h"
#include "core/Error.h"
#include "disc/CDRipper.h"
#include "disc/DriveList.h"
#include "discgen/DiscImage.h"
#include "encoders/FLACEncoder.h"
#include "encoders/WAVWriter.h"

namespace {

double Grab(int drive, int tracks, const std::filesystem::path& out, bool checksums, bool flac) {
    std::filesystem::create_directories(out);
    CCDRipper ripper;
    if (!ripper.Attach(drive, 0)) {
        std::fprintf(stderr, "verify: cannot attach the image\n");
        std::exit(1);
    }
    ripper.SetComputeChecksums(checksums);
    CError errors;
    const auto start = std::chrono::steady_clock::now();
    for (int track = 1; track <= tracks; ++track) {
        CWAVWriter wav;
        CFLACEncoder encoder;
        CEncoder& writer = flac ? static_cast<CEncoder&>(encoder) : wav;
        char name[32];
        std::snprintf(name, sizeof name, "track%02d.%s", track, flac ? "flac" : "wav");
        const std::string path = (out / name).string();
        if (flac) {
            encoder.OutputSettings(path.c_str(), {5, 44100, 2, 16});
        } else {
            wav.Open(path.c_str());
        }
        writer.SetError(&errors);
        ripper.SetError(&errors);
        if (!ripper.ProcessSettings(track, &writer, true) || ripper.Start() != 1 ||
            errors.IsAnyActual() || ripper.GetTrackChecksums().complete != checksums) {
            std::fprintf(stderr, "verify: track %d failed\n", track);
            std::exit(1);
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::filesystem::remove_all(out);
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    g_FunctionTracer.Init(10, 20);
    const std::filesystem::path dir =
        (argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path()) /
        "qm-bench-verify";
    const double minutes = argc > 2 ? std::atof(argv[2]) : 30.0;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const int trackCount = 10;
    const auto totalSectors = static_cast<std::int32_t>(minutes * 60 * discgen::kSectorsPerSecond);
    std::vector<discgen::ImageTrack> tracks(trackCount);
    for (int i = 0; i < trackCount; ++i) {
        tracks[static_cast<std::size_t>(i)].sectors = totalSectors / trackCount;
    }
    std::string error;
    const auto image = discgen::WriteImage(dir / "disc.cue", tracks, discgen::NoiseFill(21),
                                           discgen::SheetKind::Cue, &error);
    const int drive = image ? qm::DriveList::Instance().AddImage(image->sheet, &error) : -1;
    if (drive < 0) {
        std::fprintf(stderr, "verify: %s\n", error.c_str());
        return 1;
    }
    std::printf("verify: %.0f min image, %d tracks\n", minutes, trackCount);
    bool ok = true;
    for (const bool flac : {false, true}) {
        // Best of five each, alternating, so that neither gets a warmer cache.
        double plain = 1e9;
        double verified = 1e9;
        for (int i = 0; i < (flac ? 2 : 5); ++i) {
            plain = std::min(plain, Grab(drive, trackCount, dir / "out", false, flac));
            verified = std::min(verified, Grab(drive, trackCount, dir / "out", true, flac));
        }
        const char* kind = flac ? "FLAC" : "WAV ";
        std::printf("  %s grab without checksums: %7.3f s\n", kind, plain);
        std::printf("  %s grab with checksums   : %7.3f s\n", kind, verified);
        std::printf("  %s ratio                 : %7.3f (target <= 1.05)\n", kind,
                    verified / plain);
        ok = ok && (!flac || verified / plain <= 1.05);
    }
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
