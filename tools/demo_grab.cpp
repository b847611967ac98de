// Grabs one track of a disc image to a WAV file through the ripper and the
// WAV writer: what `make demo` shows until the command line grabs.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "core/Diagnostics.h"
#include "disc/CDRipper.h"
#include "disc/DriveList.h"
#include "encoders/WAVWriter.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: demo-grab IMAGE.cue OUTPUT.wav [TRACK]\n");
        return 2;
    }
    g_FunctionTracer.Init(10, 20);
    const int track = argc == 4 ? std::atoi(argv[3]) : 1;
    const std::filesystem::path out = argv[2];
    std::error_code ec;
    std::filesystem::create_directories(out.parent_path(), ec);

    std::string error;
    const int drive = qm::DriveList::Instance().AddImage(argv[1], &error);
    CCDRipper ripper;
    if (drive < 0 || !ripper.Attach(drive, 0)) {
        std::fprintf(stderr, "demo-grab: %s\n", error.c_str());
        return 2;
    }
    CWAVWriter writer;
    auto finish = qm::Event::Create();
    writer.Open(out.c_str());
    if (!ripper.ProcessSettings(track, &writer, true)) {
        std::fprintf(stderr, "demo-grab: the disc has no track %d\n", track);
        return 2;
    }
    ripper.SetError(&g_Error);
    ripper.SetFinishEvent(finish);
    g_Progress.Clear();
    ripper.InitProgress(&g_Progress);
    if (ripper.Start() != 1 || g_Error.IsAnyActual()) {
        std::fprintf(stderr, "demo-grab: %s\n",
                     g_Error.FullMessage(g_Error.GetLastActual()).c_str());
        return 1;
    }
    finish->Wait(qm::kInfinite);
    const std::int32_t sectors = ripper.GetTrackLength(track, true);
    std::printf("Grabbed track %d (%d.%02d s) of %s to %s\n", track, sectors / 75,
                sectors % 75 * 100 / 75, argv[1], out.c_str());
    return 0;
}
