// `album` as a user runs it on a written disc image: the album file is the
// chosen slices with silence between them, a cue sheet lies beside it, and
// bad times, ranges, names and folders stop it with status 2 before
// anything is written.
#include <gtest/gtest.h>

#include "CliTestSupport.h"
#include "support/DiscImage.h"
#include "support/Pcm.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using clitest::Cli;
using qmtest::ShellQuote;

constexpr std::int32_t kSecond = 75;

class AlbumCommand : public ::testing::Test {
protected:
    void SetUp() override {
        image = qmtest::WriteTestImage(
            dir.path(), "disc", {{false, 0, kSecond}, {false, 0, 6 * kSecond}, {false, 0, kSecond}},
            7);
    }
    qmtest::CommandResult Album(const std::string& arguments) {
        return Cli("--settings " + ShellQuote((dir / "settings.conf").string()) + " --data-dir " +
                       ShellQuote((dir / "data").string()) + " --device " +
                       ShellQuote(image.layout.sheet.string()) + " album " + arguments +
                       " < /dev/null",
                   true);
    }

    qmtest::TempDir dir;
    qmtest::TestImage image;
};

TEST_F(AlbumCommand, WritesTheSlicesWithSilenceAndACueSheet) {
    const fs::path base = dir / "out" / "suite";
    const auto run = Album("--tracks 1-3 --range 2=0:01.00-0:04.50 --silence 2.5 --format wav "
                           "--file " +
                           ShellQuote(base.string()));
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("Album: " + base.string() + ".wav"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Grabbing of disk is finished."), std::string::npos);

    const qmtest::Bytes silence(110250 * 4, 0);
    qmtest::Bytes expected = image.Sectors(image.Start(1), image.End(1));
    expected.insert(expected.end(), silence.begin(), silence.end());
    const qmtest::Bytes cut = image.Sectors(image.Start(2) + 75, image.Start(2) + 337);
    expected.insert(expected.end(), cut.begin(), cut.end());
    expected.insert(expected.end(), silence.begin(), silence.end());
    const qmtest::Bytes last = image.Sectors(image.Start(3), image.End(3));
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_TRUE(qmtest::WavPayload(base.string() + ".wav") == expected);
    const std::string cue = qmtest::ReadText(base.string() + ".cue");
    EXPECT_NE(cue.find("FILE \"suite.wav\" WAVE"), std::string::npos) << cue;
    EXPECT_NE(cue.find("TRACK 03 AUDIO"), std::string::npos) << cue;
}

TEST_F(AlbumCommand, BadTimesRangesNamesAndFoldersExitWith2) {
    qmtest::WriteText(dir / "blocker", "x");
    const std::string file = " --file " + ShellQuote((dir / "out" / "a").string());
    for (const std::string& arguments : std::vector<std::string>{
             "--range 2=1:75-2" + file,    // seconds of 60 or more
             "--range 2=0:0a-0:02" + file, // a letter
             "--range 2=0:01-0:01" + file, // empty
             "--range 2=0:00-0:09" + file, // past the track's end
             "--range 2=60-61" + file,     // 60 minutes
             "--range 9=0:00-0:01" + file, // no such track
             "--range 2" + file,           // no times
             "--silence x" + file,         // not seconds
             "--tracks 7" + file,          // no such track
             "--format flac --file " + ShellQuote((dir / "out" / "a.mp3").string()),
             "--file " + ShellQuote((dir / "blocker" / "a").string()),
         }) {
        const auto run = Album(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments << "\n" << run.out;
    }
    EXPECT_TRUE(qmtest::FilesUnder(dir / "out").empty());
}

} // namespace
