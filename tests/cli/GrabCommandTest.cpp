// `grab` and `config` run as a user runs them: the program itself on the demo
// disc and on written images, with a settings store and data folder of the
// test's own (or a fresh home folder), judged by the files it leaves, their
// decoders (ffprobe, ffmpeg), its output and its exit status.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include "CliTestSupport.h"
#include "core/Text.h"
#include "support/DiscImage.h"
#include "support/Oracles.h"
#include "support/Pcm.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using clitest::Cli;
using qmtest::ShellQuote;

const fs::path kDemo = QM_CLI_DEMO_DIR;
const int kDemoSeconds[] = {24, 31, 20, 37, 28, 33};

std::vector<std::string> FileNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::path& file : qmtest::FilesUnder(folder)) {
        names.push_back(fs::relative(file, folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The grabbed tracks only: without the rip's log and cue sheet.
std::vector<std::string> TrackNames(const fs::path& folder) {
    std::vector<std::string> names = FileNames(folder);
    std::erase_if(names, [](const std::string& name) {
        return name.ends_with(".log") || name.ends_with(".cue");
    });
    return names;
}

class GrabCommand : public ::testing::Test {
protected:
    // The program with this test's settings store and data folder.
    qmtest::CommandResult Run(const std::string& arguments,
                              const std::string& input = "/dev/null") {
        return Cli("--settings " + ShellQuote(Settings().string()) + " --data-dir " +
                       ShellQuote((dir / "data").string()) + " " + arguments + " < " +
                       ShellQuote(input),
                   true);
    }
    qmtest::CommandResult Grab(const std::string& arguments,
                               const std::string& input = "/dev/null") {
        return Run("--device " + ShellQuote((kDemo / "demo.cue").string()) + " grab --output " +
                       ShellQuote((dir / "out").string()) + " " + arguments,
                   input);
    }
    void Set(const std::string& name, const std::string& value) {
        const auto run = Run("config set " + ShellQuote(name) + " " + ShellQuote(value));
        ASSERT_EQ(run.exitCode, 0) << run.out;
    }
    fs::path Settings() const { return dir / "settings.conf"; }

    qmtest::TempDir dir;
};

// A new user: no settings file, no data folder, no cache. The defaults grab
// every track to MP3 ("track01.mp3" ...); nothing is written into the home
// folder. With GenerateIfExist set, a second grab adds "_#02" names and
// leaves the first files as they were.
TEST_F(GrabCommand, FreshHomeGrabsTheDemoDiscAndASecondRunMakesNewNames) {
    const fs::path home = dir / "home";
    fs::create_directories(home);
    const std::string env =
        "env HOME=" + ShellQuote(home.string()) + " XDG_CONFIG_HOME= XDG_DATA_HOME= ";
    const std::string grab = env + ShellQuote(clitest::Program()) + " --device " +
                             ShellQuote((kDemo / "demo.cue").string()) + " grab --output " +
                             ShellQuote((dir / "out").string()) + " < /dev/null 2>&1";
    const auto first = qmtest::Run(grab);
    ASSERT_EQ(first.exitCode, 0) << first.out;
    std::vector<std::string> expected;
    for (int track = 1; track <= 6; ++track) {
        expected.push_back(qm::Format("track%02d.mp3", track));
    }
    EXPECT_EQ(TrackNames(dir / "out"), expected);
    EXPECT_TRUE(FileNames(home).empty()) << "a grab changes no settings";
    for (int track = 1; track <= 6; ++track) {
        const qmtest::StreamInfo info = qmtest::Probe(dir / "out" / expected[track - 1]);
        EXPECT_EQ(info.codec, "mp3");
        EXPECT_NEAR(info.duration, kDemoSeconds[track - 1], 0.08);
    }
    EXPECT_NE(first.out.find("Grabbing of disk is finished."), std::string::npos);
    const std::string before = qmtest::ReadText(dir / "out" / "track01.mp3");

    const auto set =
        qmtest::Run(env + ShellQuote(clitest::Program()) + " config set GenerateIfExist True 2>&1");
    ASSERT_EQ(set.exitCode, 0) << set.out;
    EXPECT_TRUE(fs::exists(home / ".config" / "Hollowcraft" / "Quavermill.conf"));
    const std::string again =
        grab.substr(0, grab.find(" < /dev/null")) + " --tracks 1,6 < /dev/null 2>&1";
    const auto second = qmtest::Run(again);
    ASSERT_EQ(second.exitCode, 0) << second.out;
    expected.push_back("track01_#02.mp3");
    expected.push_back("track06_#02.mp3");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(TrackNames(dir / "out"), expected);
    EXPECT_EQ(qmtest::ReadText(dir / "out" / "track01.mp3"), before);
}

// The options choose tracks, format and names for this run; the store's own
// values stay. The demo disc's cache entry names the files, and a lossless
// track is the disc's own samples.
TEST_F(GrabCommand, OptionsOverrideTheStoreForThisRunOnly) {
    fs::create_directories(dir / "data");
    fs::copy(kDemo / "Local CDDB", dir / "data" / "Local CDDB");
    Set("NameFormat", "stored{TRACK}");
    Set("Normalize", "False");
    const auto run =
        Grab("--tracks 2,4-5 --format flac --mask " + ShellQuote("{ARTIST}\\{TRACK} - {TITLE}"));
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(FileNames(dir / "out"),
              (std::vector<std::string>{"The Quavermill Players/02 - Copper Kettle.flac",
                                        "The Quavermill Players/04 - Night Market.flac",
                                        "The Quavermill Players/05 - Paper Lanterns.flac",
                                        // the rip's cue sheet and log, on by default
                                        "The Quavermill Players/Demo Disc.cue",
                                        "The Quavermill Players/Demo Disc.log"}));
    EXPECT_EQ(Run("config get NameFormat").out, "stored{TRACK}\n");

    const auto toc = nlohmann::json::parse(
        Cli("toc --json --device " + ShellQuote((kDemo / "demo.cue").string())).out);
    const auto& track = toc["tracks"][1];
    const std::size_t bytes = track["sectors"].get<std::size_t>() * 2352;
    qmtest::Bytes pcm(bytes);
    std::ifstream bin(kDemo / "demo.bin", std::ios::binary);
    bin.seekg(track["start"].get<std::streamoff>() * 2352);
    bin.read(reinterpret_cast<char*>(pcm.data()), static_cast<std::streamsize>(bytes));
    ASSERT_TRUE(bin);
    EXPECT_TRUE(qmtest::DecodeWithFfmpeg(dir / "out" / "The Quavermill Players" /
                                         "02 - Copper Kettle.flac") == pcm);
}

TEST_F(GrabCommand, UsageAndSetUpErrorsExitWith2) {
    for (const std::string& arguments :
         std::vector<std::string>{"--tracks 9", "--tracks x", "--tracks 3-1", "--format mp4",
                                  "--mask " + ShellQuote("a:b")}) {
        const auto run = Grab(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments << "\n" << run.out;
    }
    EXPECT_EQ(Run("--device " + ShellQuote((dir / "none.cue").string()) + " grab").exitCode, 2);
    EXPECT_EQ(Run("config get NoSuchValue").exitCode, 2);
    EXPECT_EQ(Run("config set NoSuchValue 1").exitCode, 2);
    EXPECT_TRUE(FileNames(dir / "out").empty());
}

// A playlist that cannot be made asks whether to go on. Nobody answers: the
// terminal shows the countdown and the prompt says Yes after five seconds.
// A key answers at once; --no answers No without asking.
TEST_F(GrabCommand, ThePromptCountsDownAndAnswersItselfOrTakesAKey) {
    qmtest::WriteText(dir / "file", "x");
    Set("AddToPlaylist", "True");
    Set("SpecifiedPlaylist", (dir / "file" / "list.m3u").string());
    const auto waited = Grab("--tracks 1");
    EXPECT_EQ(waited.exitCode, 0) << waited.out;
    EXPECT_NE(waited.out.find("Failed to create playlist. Continue ?\n"
                              "Yes(5) Yes(4) Yes(3) Yes(2) Yes(1) -> Yes"),
              std::string::npos)
        << waited.out;
    EXPECT_EQ(TrackNames(dir / "out").size(), 1u);

    qmtest::WriteText(dir / "no", "n\n");
    const auto declined = Grab("--tracks 2", (dir / "no").string());
    EXPECT_EQ(declined.exitCode, 3) << declined.out;
    EXPECT_NE(declined.out.find("Yes(5) -> No"), std::string::npos) << declined.out;
    EXPECT_NE(declined.out.find("Cancelled."), std::string::npos);
    EXPECT_EQ(TrackNames(dir / "out").size(), 1u);

    const auto no =
        Run("--no --device " + ShellQuote((kDemo / "demo.cue").string()) + " grab --tracks 2");
    EXPECT_EQ(no.exitCode, 3) << no.out;
    EXPECT_EQ(no.out.find("Yes("), std::string::npos);
}

// Tracks whose encoder cannot be set up fail; --yes goes on after each, and
// the exit status says a track failed.
TEST_F(GrabCommand, FailedTracksExitWith1) {
    Set("WMAConfiguration", "23"); // a configuration this WMA encoder cannot write
    const auto run =
        Run("--yes --device " + ShellQuote((kDemo / "demo.cue").string()) +
            " grab --format wma --tracks 1-2 --output " + ShellQuote((dir / "out").string()));
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("(error in 'WMA encoder' module). Continue? Yes"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Track  2  track2  Failed"), std::string::npos) << run.out;
    EXPECT_TRUE(FileNames(dir / "out").empty());
}

// Ctrl-C while the first track is grabbed: it ends "Cancelled", leaves no
// file, no track is kept (one read ahead is cancelled with it), and the exit
// status says cancelled.
TEST_F(GrabCommand, CtrlCCancelsTheTrackAndLeavesNoFile) {
    const qmtest::TestImage image =
        qmtest::WriteTestImage(dir.path(), "long", {{false, 0, 120 * 75}, {false, 0, 75}}, 5);
    const std::vector<std::string> argv = {clitest::Program(),
                                           "--settings",
                                           Settings().string(),
                                           "--data-dir",
                                           (dir / "data").string(),
                                           "--device",
                                           image.layout.sheet.string(),
                                           "grab",
                                           "--format",
                                           "ogg",
                                           "--output",
                                           (dir / "out").string()};
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::dup2(pipeEnds[1], STDERR_FILENO);
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        ::close(pipeEnds[0]);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    FILE* out = ::fdopen(pipeEnds[0], "r");
    std::string output;
    char line[4096];
    bool interrupted = false;
    while (std::fgets(line, sizeof line, out) != nullptr) {
        output += line;
        // Without a terminal progress comes as a line at each quarter.
        if (!interrupted && std::string(line).find("%  ") != std::string::npos) {
            ::kill(child, SIGINT);
            interrupted = true;
        }
    }
    std::fclose(out);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(interrupted) << output;
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 3) << output;
    EXPECT_NE(output.find("Track  1  track1  Cancelled"), std::string::npos) << output;
    // The next track may have been read ahead: it is cancelled with it.
    EXPECT_EQ(output.find("Complete"), std::string::npos) << output;
    EXPECT_TRUE(FileNames(dir / "out").empty()) << output;
}

TEST_F(GrabCommand, ConfigReadsAndWritesTheStoreByItsValueNames) {
    const auto defaults = Run("config list");
    ASSERT_EQ(defaults.exitCode, 0);
    for (const char* line : {"NameFormat=track{TRACK}\n", "EnableTag=True\n", "Normalize=True\n",
                             "IfPlaylistExist=Overwrite playlist\n", "WMAConfiguration=28\n",
                             "Mask_RipAlbum={ARTIST}\\{ALBUM}\n"}) {
        EXPECT_NE(defaults.out.find(line), std::string::npos) << line;
    }
    EXPECT_FALSE(fs::exists(Settings())) << "listing writes nothing";

    Set("nameformat", "{TITLE}");
    EXPECT_EQ(Run("config get NAMEFORMAT").out, "{TITLE}\n");
    EXPECT_NE(qmtest::ReadText(Settings()).find("NameFormat={TITLE}"), std::string::npos);

    // Stored as given; read as the program reads it at start-up.
    const auto quality = Run("config set OGGQuality 1200");
    EXPECT_EQ(quality.exitCode, 0);
    EXPECT_NE(quality.out.find("reads OGGQuality as '500'"), std::string::npos) << quality.out;
    EXPECT_EQ(Run("config get OGGQuality").out, "500\n");
    Set("IfPlayListExist", "Add to end");
    EXPECT_EQ(Run("config get IfPlaylistExist").out, "Add to end\n");

    // The proxy password is kept enciphered.
    Set("ProxyPassword", "secret");
    EXPECT_NE(qmtest::ReadText(Settings()).find("ProxyPassword=hex:a3c7d992b9a8"),
              std::string::npos);
}

} // namespace
