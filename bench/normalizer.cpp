// Sends a 10-minute track (44100 Hz, 16 bits, stereo) through the normalizer
// into the WAV writer and reports the time taken and the peak memory as
// /usr/bin/time -v measures it. Target: peak memory within 1.2 x the track's
// PCM size plus 30 MB (the normalizer holds the whole track once).
//
// usage: normalizer [minutes] [temporary folder]
// The program runs itself under /usr/bin/time -v; "--run" is that inner run.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "core/Diagnostics.h"
#include "encoders/WAVWriter.h"
#include "pipeline/Normalizer.h"
#include "support/Pcm.h"
#include "support/Process.h"

namespace {

constexpr std::int32_t kBlockFrames = 15288; // what the ripper reads at once

// A ripper stand-in that makes its track as it goes, from ten seconds of
// music-like audio played over and over, so that only the normalizer holds
// the whole track.
class GeneratedSource : public CDecoder {
public:
    explicit GeneratedSource(std::size_t frames)
        : m_loop(qmtest::MusicLike({}, 29.0 * kBlockFrames / 44100, 3)), m_frames(frames),
          m_terminate(qm::Event::Create(false)) {}

    qm::EventHandle GetTerminateEvent() override { return m_terminate; }
    void SetTerminateEvent(qm::EventHandle event) override { m_terminate = std::move(event); }
    bool IsTerminated() override { return m_terminate->IsSet(); }
    void Terminate() override { m_terminate->Set(); }
    bool Open(const char* /*fileName*/, CEncoder* sink) override {
        m_sink = sink;
        return true;
    }
    std::int32_t Start() override {
        if (m_sink->SetInputProps(44100, 2, 16) != 0) {
            return 0;
        }
        const std::size_t loopFrames = m_loop.size() / 4;
        for (std::size_t done = 0; done < m_frames; done += kBlockFrames) {
            const std::size_t at = done % loopFrames;
            const auto frames =
                static_cast<std::int32_t>(std::min<std::size_t>(kBlockFrames, m_frames - done));
            if (m_sink->Write(m_loop.data() + at * 4, frames) == WriteResult::Refused) {
                m_sink->Close(false);
                return 0;
            }
        }
        readSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        m_sink->Close(true);
        return 1;
    }
    void MarkStart() { m_start = std::chrono::steady_clock::now(); }

    double readSeconds = 0;

private:
    qmtest::Bytes m_loop;
    std::size_t m_frames;
    qm::EventHandle m_terminate;
    std::chrono::steady_clock::time_point m_start;
};

int RunInner(double minutes, const std::filesystem::path& dir) {
    g_FunctionTracer.Init(10, 20);
    const auto frames = static_cast<std::size_t>(minutes * 60 * 44100);
    const auto path = dir / "qm-bench-normalized.wav";
    GeneratedSource source(frames);
    CNormalizer normalizer;
    CWAVWriter writer;
    CError registry;
    auto finish = qm::Event::Create();
    writer.Open(path.c_str());
    writer.SetFinishEvent(finish);
    writer.SetError(&registry);
    source.SetError(&registry);
    normalizer.SetError(&registry);
    normalizer.SetEncoder(&writer);
    normalizer.SetFinishEvent(finish);
    normalizer.SetParameters(true, false, 96, 98, 91, false, 1000);
    source.Open(nullptr, &normalizer);
    source.MarkStart();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = source.Start() == 1 && finish->IsSet() && !registry.IsAnyActual();
    const double total =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::filesystem::remove(path);
    if (!ok) {
        std::fprintf(stderr, "normalizer: the chain failed: %s\n",
                     registry.FullMessage(registry.GetLastActual()).c_str());
        return 1;
    }
    std::printf("  taking the track in : %6.2f s\n", source.readSeconds);
    std::printf("  normalize + deliver : %6.2f s (%.0fx real time)\n", total - source.readSeconds,
                minutes * 60 / (total - source.readSeconds));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--run") {
        return RunInner(std::atof(argv[2]), argv[3]);
    }
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    const std::filesystem::path dir =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
    const double pcmMB = minutes * 60 * 44100 * 4 / 1e6;
    std::printf("normalizer: %.0f min track, %.1f MB of PCM, into the WAV writer\n", minutes,
                pcmMB);
    std::fflush(stdout);
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    const auto result =
        qmtest::Run("/usr/bin/time -v " + qmtest::ShellQuote(self) + " --run " +
                        std::to_string(minutes) + " " + qmtest::ShellQuote(dir.string()),
                    true);
    std::smatch match;
    const std::regex rss("Maximum resident set size \\(kbytes\\): (\\d+)");
    const std::regex wall("Elapsed \\(wall clock\\) time \\(h:mm:ss or m:ss\\): (\\S+)");
    std::printf("%s", result.out.substr(0, result.out.find("\tCommand being timed")).c_str());
    if (result.exitCode != 0 || !std::regex_search(result.out, match, rss)) {
        std::fprintf(stderr, "normalizer: the measured run failed\n%s\n", result.out.c_str());
        return 1;
    }
    const double peakMB = std::stod(match[1].str()) * 1024 / 1e6;
    const double limitMB = 1.2 * pcmMB + 30;
    std::string elapsed = "?";
    if (std::regex_search(result.out, match, wall)) {
        elapsed = match[1].str();
    }
    std::printf("  wall clock (time -v): %s\n", elapsed.c_str());
    std::printf("  peak memory         : %6.1f MB (target <= %.1f MB: %s)\n", peakMB, limitMB,
                peakMB <= limitMB ? "met" : "MISSED");
    return 0;
}
