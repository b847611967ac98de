// Disc images kept as CUE sheets or cdrdao TOC files over audio files,
// grabbed as a user grabs them: the same disc as CUE+BIN, CUE+WAV, CUE+FLAC,
// one FLAC per track and TOC over WAV, FLAC or raw samples gives the same
// WAV files, and the sheet's CD-Text names the files and tags when the local
// cache knows nothing of the disc.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>

#include "CliTestSupport.h"
#include "support/DiscImage.h"
#include "support/SheetImages.h"
#include "support/TagReader.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using clitest::Cli;
using qmtest::ShellQuote;

const std::string kHeader = "REM GENRE \"Ambient\"\nREM DATE 2003\nPERFORMER \"Kettle Drums\"\n"
                            "TITLE \"Steam\"\n";

class SheetImage : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir / "disc");
        variants = qmtest::WriteSheetVariants(dir / "disc", tracks, kHeader, &image);
        // Track names go after each TRACK line of every sheet.
        for (const auto& variant : variants) {
            std::ifstream in(variant.sheet);
            std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            std::string out;
            std::size_t at = 0;
            int track = 0;
            while (true) {
                const std::size_t found = text.find("AUDIO\n", at);
                if (found == std::string::npos) {
                    break;
                }
                out += text.substr(at, found + 6 - at);
                out += "    TITLE \"Song " + std::to_string(++track) + "\"\n";
                at = found + 6;
            }
            out += text.substr(at);
            std::ofstream(variant.sheet) << out;
        }
        ASSERT_EQ(Run("config set Normalize False").exitCode, 0);
    }
    qmtest::CommandResult Run(const std::string& arguments) {
        return Cli("--settings " + ShellQuote((dir / "settings.conf").string()) + " --data-dir " +
                       ShellQuote((dir / "data").string()) + " " + arguments + " < /dev/null",
                   true);
    }

    // Every track of `variant` grabbed to WAV is the disc's audio, byte for byte.
    void GrabsTheDiscAsWav(const qmtest::SheetVariant& variant) {
        SCOPED_TRACE(variant.name);
        const fs::path out = dir / ("out-" + variant.name);
        const auto run =
            Run("--device " + ShellQuote(variant.sheet.string()) + " grab --format wav --mask " +
                ShellQuote("{TRACK}") + " --output " + ShellQuote(out.string()));
        ASSERT_EQ(run.exitCode, 0) << run.out;
        for (int t = 1; t <= static_cast<int>(tracks.size()); ++t) {
            const fs::path wav = out / (std::string("0") + std::to_string(t) + ".wav");
            ASSERT_TRUE(fs::exists(wav)) << wav;
            EXPECT_TRUE(qmtest::WavPayload(wav) == image.Sectors(image.Start(t), image.End(t)))
                << "track " << t;
        }
    }

    qmtest::TempDir dir;
    const std::vector<qmtest::ImageTrack> tracks = {
        {false, 33, 260}, {false, 0, 140}, {false, 90, 205}, {false, 2, 80}};
    qmtest::TestImage image;
    std::vector<qmtest::SheetVariant> variants;
};

TEST_F(SheetImage, EveryFormGrabsTheSameWavFiles) {
    for (const auto& variant : variants) {
        GrabsTheDiscAsWav(variant);
    }
}

TEST_F(SheetImage, TocFilesGrabTheSameWavFilesAndName) {
    const auto tocs = qmtest::WriteTocVariants(
        dir / "disc", image, "    TITLE \"Steam\"\n    PERFORMER \"Kettle Drums\"\n");
    for (const auto& variant : tocs) {
        GrabsTheDiscAsWav(variant);
    }
    const auto toc = nlohmann::json::parse(
        Run("toc --json --device " + ShellQuote(tocs.front().sheet.string())).out);
    EXPECT_EQ(toc["disc"]["artist"], "Kettle Drums");
    EXPECT_EQ(toc["disc"]["album"], "Steam");
    EXPECT_EQ(toc["tracks"][1]["title"], "Song 2");
    EXPECT_EQ(toc["tracks"][0]["start"], 33);
}

TEST_F(SheetImage, CdTextNamesTheFilesTagsAndTheTableOfContents) {
    const fs::path sheet = variants.at(2).sheet; // CUE+FLAC
    const auto toc =
        nlohmann::json::parse(Run("toc --json --device " + ShellQuote(sheet.string())).out);
    EXPECT_EQ(toc["disc"]["artist"], "Kettle Drums");
    EXPECT_EQ(toc["disc"]["album"], "Steam");
    EXPECT_EQ(toc["disc"]["year"], "2003");
    EXPECT_EQ(toc["tracks"][2]["title"], "Song 3");
    EXPECT_EQ(toc["tracks"][0]["start"], 33);

    const fs::path out = dir / "named";
    const auto run =
        Run("--device " + ShellQuote(sheet.string()) + " grab --tracks 1,3 --format flac --mask " +
            ShellQuote("{ARTIST}\\{ALBUM}\\{TRACK} - {TITLE}") + " --output " +
            ShellQuote(out.string()));
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const fs::path third = out / "Kettle Drums" / "Steam" / "03 - Song 3.flac";
    ASSERT_TRUE(fs::exists(third)) << run.out;
    const auto tags = qmtest::ReadTagsWithMutagen(third);
    ASSERT_TRUE(tags.ok);
    EXPECT_EQ(tags.One("TITLE"), "Song 3");
    EXPECT_EQ(tags.One("ARTIST"), "Kettle Drums");
    EXPECT_EQ(tags.One("ALBUM"), "Steam");
    EXPECT_EQ(tags.One("GENRE"), "Ambient");
}

} // namespace
