// Pushes a generated test signal through the stage chain into a WAV file:
// the smallest end-to-end run of the pipeline.
#include <cstdio>
#include <filesystem>

#include "core/Diagnostics.h"
#include "encoders/WAVWriter.h"
#include "support/PcmSource.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: demo-signal OUTPUT.wav\n");
        return 2;
    }
    g_FunctionTracer.Init(10, 20);
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out.parent_path());
    const qmtest::PcmFormat format{};
    qmtest::PcmSource source(qmtest::MusicLike(format, 10.0), format);
    CWAVWriter writer;
    auto finish = qm::Event::Create();
    writer.Open(out.c_str());
    writer.SetFinishEvent(finish);
    source.SetError(&g_Error);
    writer.SetError(&g_Error);
    source.Open(nullptr, &writer);
    g_Progress.Clear();
    source.InitProgress(&g_Progress);
    if (source.Start() != 1 || g_Error.IsAnyActual()) {
        std::fprintf(stderr, "demo-signal: %s\n", g_Error.FullMessage(g_Error.GetLastActual()).c_str());
        return 1;
    }
    finish->Wait(qm::kInfinite);
    std::printf("Wrote 10 s of a generated signal to %s\n", out.c_str());
    return 0;
}
