// `play` against images the tests write, heard through SDL's file-writing
// audio driver; the terminal keys through a pseudo-terminal (script).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "CliTestSupport.h"
#include "support/DiscImage.h"
#include "support/Pcm.h"
#include "support/TempDir.h"

namespace {

using clitest::Cli;
using qmtest::ShellQuote;
using Clock = std::chrono::steady_clock;

constexpr int kSecond = 75;

// True when `output` is `pcm` with nothing but silence around it.
bool InOnePiece(const qmtest::Bytes& output, const qmtest::Bytes& pcm) {
    const auto at = std::search(output.begin(), output.end(), pcm.begin(), pcm.end());
    if (at == output.end()) {
        return false;
    }
    const auto zero = [](std::uint8_t byte) { return byte == 0; };
    return std::all_of(output.begin(), at, zero) &&
           std::all_of(at + static_cast<std::ptrdiff_t>(pcm.size()), output.end(), zero);
}

class PlayCommand : public ::testing::Test {
protected:
    void SetUp() override {
        qmtest::ImageTrack one;
        one.sectors = kSecond;
        qmtest::ImageTrack three;
        three.sectors = 3 * kSecond;
        image = qmtest::WriteTestImage(dir.path(), "disc", {one, three}, 11);
        qmtest::WriteText(settings, "");
    }

    // The command line with the file driver writing into `device`.
    std::string Line(const std::string& arguments, const char* driver = "disk") const {
        return std::string("SDL_AUDIODRIVER=") + driver +
               " SDL_DISKAUDIOFILE=" + ShellQuote(device.string()) + " " +
               ShellQuote(clitest::Program()) + " --settings " + ShellQuote(settings.string()) +
               " --device " + ShellQuote(image.layout.sheet.string()) + " " + arguments;
    }
    // `arguments` run on a pseudo-terminal (script) that is given `keys` (a
    // shell command list: printf, sleep) once the position line shows, so a
    // slow start on a loaded machine does not eat them.
    std::string OnTerminal(const std::string& arguments, const std::string& keys) const {
        const std::string screen = ShellQuote((dir / "screen.txt").string());
        return "(i=0; until grep -q '/ 00:03' " + screen + " 2>/dev/null || [ $i -ge 400 ]; do " +
               "sleep 0.05; i=$((i+1)); done; " + keys + ") | script -qefc " +
               ShellQuote(Line(arguments)) + " /dev/null > " + screen + "; status=$?; cat " +
               screen + "; exit $status";
    }
    qmtest::Bytes Output() const {
        return std::filesystem::exists(device) ? qmtest::ReadFile(device) : qmtest::Bytes{};
    }

    qmtest::TempDir dir;
    std::filesystem::path settings = dir / "settings.conf";
    std::filesystem::path device = dir / "device.raw";
    qmtest::TestImage image;
};

TEST_F(PlayCommand, PlaysTheTrackFromTheOffsetInRealTimeAndEndsAtItsEnd) {
    const auto start = Clock::now();
    const auto result = qmtest::Run(Line("play --track 2 --from 1 < /dev/null"), true);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_GE(elapsed, 0.8 * 2.0);
    EXPECT_NE(result.out.find("Playing track 2 (00:03)"), std::string::npos) << result.out;
    EXPECT_TRUE(InOnePiece(Output(), image.Sectors(image.Start(2) + kSecond, image.End(2))));
}

TEST_F(PlayCommand, NoDeviceOrADeviceBeyondTheListIsAClearSetUpError) {
    auto result = qmtest::Run(Line("play < /dev/null", "nosuchdriver"), true);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.out.find("no sound output device can be opened"), std::string::npos)
        << result.out;

    ASSERT_EQ(Cli("--settings " + ShellQuote(settings.string()) + " config set PlaybackDevice 1")
                  .exitCode,
              0);
    result = qmtest::Run(Line("play < /dev/null"), true);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.out.find("PlaybackDevice 1 is beyond the 1 sound output device(s)"),
              std::string::npos)
        << result.out;
    EXPECT_TRUE(Output().empty());
}

TEST_F(PlayCommand, ATrackOrOffsetOutsideTheDiscIsAUsageError) {
    for (const char* arguments : {"play --track 3", "play --track 2 --from 3", "play --from -1"}) {
        SCOPED_TRACE(arguments);
        const auto result = qmtest::Run(Line(std::string(arguments) + " < /dev/null"), true);
        EXPECT_EQ(result.exitCode, 2) << result.out;
        EXPECT_TRUE(Output().empty());
    }
}

TEST_F(PlayCommand, OnATerminalQStopsAndTheLineShowsThePosition) {
    if (!qmtest::HasProgram("script")) {
        GTEST_SKIP() << "no script(1) for a pseudo-terminal";
    }
    const auto result = qmtest::Run(OnTerminal("play --track 2", "sleep 0.2; printf q"), true);
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_NE(result.out.find("(00:00) / 00:03"), std::string::npos) << result.out;
    // What was heard is the start of the track and no more.
    const qmtest::Bytes output = Output();
    const qmtest::Bytes track = image.Sectors(image.Start(2), image.End(2));
    const auto first = std::find_if(output.begin(), output.end(), [](auto b) { return b != 0; });
    const auto heard = static_cast<std::size_t>(output.end() - first);
    ASSERT_GT(heard, 0U);
    EXPECT_LT(heard, track.size());
    EXPECT_TRUE(std::equal(first,
                           first + static_cast<std::ptrdiff_t>(std::min(heard, track.size()) / 2),
                           track.begin()));
}

TEST_F(PlayCommand, OnATerminalSpacePausesAndResumes) {
    if (!qmtest::HasProgram("script")) {
        GTEST_SKIP() << "no script(1) for a pseudo-terminal";
    }
    const auto start = Clock::now();
    const auto result = qmtest::Run(
        OnTerminal("play --track 2", "sleep 0.3; printf ' '; sleep 1.5; printf ' '; sleep 1"),
        true);
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_GE(std::chrono::duration<double>(Clock::now() - start).count(), 0.8 * 3.0 + 1.2);
    // Paused, the brackets give way to spaces.
    EXPECT_NE(result.out.find("\r 00:0"), std::string::npos) << result.out;
    const qmtest::Bytes output = Output();
    const qmtest::Bytes track = image.Sectors(image.Start(2), image.End(2));
    std::vector<bool> quiet;
    for (std::size_t at = 0; at + 2352 <= output.size(); at += 2352) {
        quiet.push_back(std::all_of(output.begin() + static_cast<std::ptrdiff_t>(at),
                                    output.begin() + static_cast<std::ptrdiff_t>(at + 2352),
                                    [](auto b) { return b == 0; }));
    }
    const auto first = std::find(quiet.begin(), quiet.end(), false);
    const auto last = std::find(quiet.rbegin(), quiet.rend(), false).base();
    ASSERT_LT(first, last);
    // The whole track, with the pause's silence inside it.
    EXPECT_EQ(std::count(first, last, false), 3 * kSecond);
    // How much silence the file driver writes while paused depends on how
    // busy the machine is; some must be there.
    EXPECT_GE(std::count(first, last, true), kSecond / 5);
}

} // namespace
