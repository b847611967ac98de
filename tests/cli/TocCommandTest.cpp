// `toc` and `drives` against images the tests write, with libdiscid as the
// independent judge of the disc id.
#include <gtest/gtest.h>

#include <discid/discid.h>
#include <nlohmann/json.hpp>

#include <random>

#include "CliTestSupport.h"
#include "support/DiscImage.h"
#include "support/TempDir.h"

namespace {

using clitest::Cli;
using qmtest::ShellQuote;

std::string LibDiscId(const qmtest::TestImage& image) {
    DiscId* disc = discid_new();
    std::vector<int> offsets(image.layout.starts.size() + 1);
    offsets[0] = image.layout.leadout + 150;
    for (std::size_t i = 0; i < image.layout.starts.size(); ++i) {
        offsets[i + 1] = image.layout.starts[i] + 150;
    }
    std::string id;
    if (discid_put(disc, 1, static_cast<int>(image.layout.starts.size()), offsets.data()) != 0) {
        id = discid_get_freedb_id(disc);
    }
    discid_free(disc);
    return id;
}

TEST(TocCommand, JsonAgreesWithTheLayoutAndWithLibdiscid) {
    qmtest::TempDir dir;
    std::mt19937 rng(2024);
    int withData = 0;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const auto tracks = qmtest::RandomTracks(rng, 20, true);
        const auto image = qmtest::WriteTestImage(dir.path(), "d" + std::to_string(round), tracks);
        const auto run = Cli("toc --json --device " + ShellQuote(image.layout.sheet.string()));
        ASSERT_EQ(run.exitCode, 0);
        const auto toc = nlohmann::json::parse(run.out);
        const std::string expectedId = LibDiscId(image);
        ASSERT_FALSE(expectedId.empty());
        EXPECT_EQ(toc["discid"], expectedId);
        EXPECT_EQ(toc["first"], 1);
        EXPECT_EQ(toc["last"], tracks.size());
        EXPECT_EQ(toc["leadout"], image.layout.leadout);
        ASSERT_EQ(toc["tracks"].size(), tracks.size());
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            const auto& track = toc["tracks"][i];
            EXPECT_EQ(track["number"], i + 1);
            EXPECT_EQ(track["start"], image.layout.starts[i]);
            const std::int32_t end =
                i + 1 < tracks.size() ? image.layout.starts[i + 1] : image.layout.leadout;
            EXPECT_EQ(track["sectors"], end - image.layout.starts[i]);
            EXPECT_EQ(track["data"], tracks[i].data);
        }
        withData += tracks.back().data ? 1 : 0;
    }
    EXPECT_GE(withData, 3) << "too few layouts with a data track";
}

TEST(TocCommand, GlobalOptionsStandBeforeOrAfterTheCommand) {
    qmtest::TempDir dir;
    const auto image = qmtest::WriteTestImage(dir.path(), "g", {{false, 0, 80}, {false, 20, 75}});
    const std::string sheet = ShellQuote(image.layout.sheet.string());
    const auto after = Cli("toc --json --device " + sheet + " --data-dir /tmp --settings x.conf");
    const auto before = Cli("--device " + sheet + " --settings x.conf --data-dir /tmp --json toc");
    ASSERT_EQ(after.exitCode, 0);
    ASSERT_EQ(before.exitCode, 0);
    EXPECT_EQ(after.out, before.out);
    EXPECT_EQ(nlohmann::json::parse(after.out)["tracks"][1]["start"], 100);
}

TEST(TocCommand, TextListsLengthsInMinutesSecondsFrames) {
    qmtest::TempDir dir;
    const auto image =
        qmtest::WriteTestImage(dir.path(), "t", {{false, 0, 2 * 4500 + 3 * 75 + 4}, {false, 0, 7}});
    const auto run = Cli("toc --device " + ShellQuote(image.layout.sheet.string()));
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Disc image: t.cue"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("02:03:04  audio"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("00:00:07  audio"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("disc id " + LibDiscId(image)), std::string::npos) << run.out;
}

TEST(DrivesCommand, ListsAnOpenedImageWithItsIdentity) {
    qmtest::TempDir dir;
    const auto image = qmtest::WriteTestImage(dir.path(), "list", {{false, 0, 30}});
    const auto run = Cli("drives --json --device " + ShellQuote(image.layout.sheet.string()));
    ASSERT_EQ(run.exitCode, 0);
    const auto drives = nlohmann::json::parse(run.out);
    ASSERT_GE(drives.size(), 1u);
    const auto& last = drives.back();
    EXPECT_EQ(last["index"], drives.size() - 1);
    EXPECT_EQ(last["identity"], "Disc image: list.cue");
    EXPECT_EQ(std::filesystem::path(last["device"].get<std::string>()),
              std::filesystem::absolute(image.layout.sheet));

    const auto text = Cli("--device " + ShellQuote(image.layout.sheet.string()) + " drives");
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("Disc image: list.cue"), std::string::npos);
}

TEST(CliExitCodes, SetUpErrorsGiveTwoWithAReason) {
    qmtest::TempDir dir;
    auto missing = Cli("toc --device " + ShellQuote((dir / "none.cue").string()), true);
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.out.find("none.cue"), std::string::npos);

    const auto image = qmtest::WriteTestImage(dir.path(), "one", {{false, 0, 30}});
    const auto beyond =
        Cli("--device " + ShellQuote(image.layout.sheet.string()) + " toc --device 7", true);
    EXPECT_EQ(beyond.exitCode, 2);
    EXPECT_EQ(Cli("toc --no-such-option").exitCode, 2);
    EXPECT_EQ(Cli("--yes --no toc").exitCode, 2);
    EXPECT_EQ(Cli("").exitCode, 0);
    EXPECT_NE(Cli("--help").out.find("drives"), std::string::npos);
}

} // namespace
