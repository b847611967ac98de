// A whole-disc grab (six 4-minute tracks of music-like audio) to FLAC level 5
// and to MP3 VBR (quality 6, 128-192 kbit/s, the defaults), by the program as
// a user runs it (`quavermill-cli grab`), against a peer pipeline of the
// reference tools: `bchunk -w` to cut the image into WAV files, then `flac -5`
// or `lame -V 6` on each track, once one track at a time and once two at a
// time (`xargs -P2`). Each of the three runs RUNS times (default 5), in turn,
// so that none gets a warmer cache or a cooler machine; medians are compared.
// Targets: at most 0.6x the one-at-a-time peer, at most 1.1x the two-at-a-time
// peer. Exit status 1 when a target is missed.
//
//   grab_disc [RUNS] [WORK-DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include "discgen/DiscImage.h"
#include "support/Process.h"

namespace {

namespace fs = std::filesystem;
using qmtest::ShellQuote;

constexpr int kTracks = 6;
constexpr int kTrackSeconds = 240;

struct Format {
    const char* name;      // as `grab --format` takes it
    const char* extension; // of the peer's files
    std::string settings;  // `config set` lines for ours
    std::string encode;    // the peer's command for one track: {in} {out}
};

std::string Quoted(const fs::path& path) {
    return ShellQuote(path.string());
}

void Must(const std::string& command, const char* what) {
    const auto result = qmtest::Run(command, true);
    if (result.exitCode != 0) {
        std::fprintf(stderr, "grab_disc: %s failed (exit %d):\n%s\n", what, result.exitCode,
                     result.out.c_str());
        std::exit(2);
    }
}

double Time(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 != 0 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::size_t CountFiles(const fs::path& dir, const std::string& extension) {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        count += entry.path().extension() == extension ? 1 : 0;
    }
    return count;
}

class Bench {
public:
    Bench(fs::path dir, fs::path program, const discgen::ImageLayout& image)
        : m_dir(std::move(dir)), m_program(std::move(program)), m_image(image) {}

    // The program with its own settings file and data folder, as a new user
    // who chose the format's settings; every prompt answers itself at once.
    void Configure(const Format& format, int encoderThreads) {
        const fs::path settings = SettingsFile(encoderThreads);
        fs::remove(settings);
        std::string lines =
            format.settings + "EncoderThreads " + std::to_string(encoderThreads) + "\n";
        std::vector<std::string> expected;
        for (std::size_t at = 0; at < lines.size();) {
            const std::size_t end = lines.find('\n', at);
            const std::string line = lines.substr(at, end - at);
            at = end + 1;
            const std::size_t space = line.find(' ');
            Must(Cli(encoderThreads) + " config set " + line.substr(0, space) + " " +
                     ShellQuote(line.substr(space + 1)),
                 "config set");
            expected.push_back(line.substr(0, space) + "=" + line.substr(space + 1));
        }
        // A value the program reads otherwise than it was written would time
        // another encoding than the peer's.
        const auto listed = qmtest::Run(Cli(encoderThreads) + " config list", true);
        for (const std::string& line : expected) {
            if (listed.out.find(line + "\n") == std::string::npos) {
                std::fprintf(stderr, "grab_disc: the program does not read %s\n", line.c_str());
                std::exit(2);
            }
        }
    }

    double Ours(const Format& format, int encoderThreads) {
        const fs::path out = m_dir / "ours";
        fs::remove_all(out);
        fs::create_directories(out);
        const double seconds = Time([&] {
            Must(Cli(encoderThreads) + " --yes --device " + Quoted(m_image.sheet) +
                     " grab --tracks all --format " + format.name + " --output " + Quoted(out) +
                     " < /dev/null",
                 "quavermill-cli grab");
        });
        Check(out, std::string(".") + format.name, "quavermill-cli");
        fs::remove_all(out);
        return seconds;
    }

    double Peer(const Format& format, int parallel) {
        const fs::path out = m_dir / "peer";
        fs::remove_all(out);
        fs::create_directories(out);
        const double seconds = Time([&] {
            Must("bchunk -w " + Quoted(m_image.bin) + " " + Quoted(m_image.sheet) + " " +
                     Quoted(out / "track") + " > /dev/null",
                 "bchunk");
            // One shell per track, as a script running the encoder would.
            std::string encode = format.encode;
            encode.replace(encode.find("{in}"), 4, "\"$0\"");
            encode.replace(encode.find("{out}"), 5,
                           "\"${0%.wav}" + std::string(format.extension) + "\"");
            Must("cd " + Quoted(out) + " && ls track*.wav | xargs -P" + std::to_string(parallel) +
                     " -n1 sh -c " + ShellQuote(encode),
                 "the peer's encoder");
        });
        Check(out, format.extension, "the peer");
        fs::remove_all(out);
        return seconds;
    }

private:
    fs::path SettingsFile(int encoderThreads) const {
        return m_dir / ("settings-" + std::to_string(encoderThreads) + ".conf");
    }

    std::string Cli(int encoderThreads) const {
        return ShellQuote(m_program.string()) + " --settings " +
               Quoted(SettingsFile(encoderThreads)) + " --data-dir " + Quoted(m_dir / "data");
    }

    static void Check(const fs::path& out, const std::string& extension, const char* who) {
        if (CountFiles(out, extension) != kTracks) {
            std::fprintf(stderr, "grab_disc: %s did not write %d %s files\n", who, kTracks,
                         extension.c_str());
            std::exit(2);
        }
    }

    fs::path m_dir;
    fs::path m_program;
    discgen::ImageLayout m_image;
};

fs::path ProgramDir(const char* argv0) {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return (error ? fs::absolute(argv0) : self).parent_path().parent_path();
}

} // namespace

int main(int argc, char** argv) {
    const int runs = std::max(1, argc > 1 ? std::atoi(argv[1]) : 5);
    const fs::path dir =
        (argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path()) / "qm-bench-grab-disc";
    const fs::path program = ProgramDir(argv[0]) / "quavermill-cli";
    if (!fs::exists(program)) {
        std::fprintf(stderr, "grab_disc: %s is not built\n", program.c_str());
        return 2;
    }
    fs::remove_all(dir);
    fs::create_directories(dir);

    std::vector<discgen::ImageTrack> tracks(kTracks);
    for (auto& track : tracks) {
        track.sectors = kTrackSeconds * discgen::kSectorsPerSecond;
    }
    std::string error;
    const auto image = discgen::WriteImage(dir / "disc.cue", tracks, discgen::MusicFill(tracks, 22),
                                           discgen::SheetKind::Cue, &error);
    if (!image) {
        std::fprintf(stderr, "grab_disc: %s\n", error.c_str());
        return 2;
    }

    const std::vector<Format> formats = {
        {"flac", ".flac", "FLACCompressionLevel 5\n", "flac -5 -s -f -o {out} {in}"},
        {"mp3", ".mp3", "MP3Variable True\nMP3VBRQuality 6\nMP3MinBitrate 128\nMP3MaxBitrate 192\n",
         "lame --quiet -V 6 -b 128 -B 192 {in} {out}"},
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    Bench bench(dir, program, *image);
    std::printf("grab_disc: %d tracks of %d s, %u cores, median of %d runs each\n", kTracks,
                kTrackSeconds, cores, runs);
    bool met = true;
    for (const Format& format : formats) {
        bench.Configure(format, 0);
        bench.Configure(format, 1);
        std::vector<double> ours, serial, peer1, peer2;
        for (int run = 0; run < runs; ++run) {
            peer1.push_back(bench.Peer(format, 1));
            ours.push_back(bench.Ours(format, 0));
            peer2.push_back(bench.Peer(format, 2));
            serial.push_back(bench.Ours(format, 1));
        }
        const double o = Median(ours);
        const double p1 = Median(peer1);
        const double p2 = Median(peer2);
        const double s = Median(serial);
        const bool ok1 = o <= 0.6 * p1;
        const bool ok2 = o <= 1.1 * p2;
        met = met && ok1 && ok2;
        std::printf("  %s:\n", format.name);
        std::printf("    quavermill-cli grab (EncoderThreads 0) : %7.2f s\n", o);
        std::printf("    quavermill-cli grab (EncoderThreads 1) : %7.2f s  (for information)\n", s);
        std::printf("    bchunk + encoder, one at a time        : %7.2f s\n", p1);
        std::printf("    bchunk + encoder, two at a time        : %7.2f s\n", p2);
        std::printf("    ours / one at a time                   : %7.2f  (target <= 0.60) %s\n",
                    o / p1, ok1 ? "met" : "MISSED");
        std::printf("    ours / two at a time                   : %7.2f  (target <= 1.10) %s\n",
                    o / p2, ok2 ? "met" : "MISSED");
    }
    // The peers' tools are small beside it: this is the program's peak.
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("  largest resident set of any run: %.0f MB\n",
                static_cast<double>(usage.ru_maxrss) / 1024);
    fs::remove_all(dir);
    return met ? 0 : 1;
}
