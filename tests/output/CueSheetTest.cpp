// The cue sheet writer: the text, quoting, times, the write, and the
// CUESHEET block of a FLAC file as metaflac exports it.
#include <gtest/gtest.h>

#include "output/CueSheet.h"
#include "support/Pcm.h"
#include "support/Process.h"
#include "support/TagReader.h"
#include "support/TempDir.h"

namespace {

CCueSheet TwoTracks() {
    CCueSheet sheet;
    sheet.AddRem("GENRE", "Jazz");
    sheet.AddRem("DATE", "");
    sheet.SetPerformer("The \"Testers\"");
    sheet.SetTitle("Suite\nTwo");
    CCueSheet::File& file = sheet.AddFile("album.flac", CCueSheet::FileTypeFor("album.flac"));
    file.tracks.push_back({1, "First", "The Testers", std::nullopt, 0});
    file.tracks.push_back({2, "Second", "Guest", 75, 263});
    return sheet;
}

TEST(CueSheet, TextHoldsTheDiscTheFileAndEachTracksPoints) {
    const std::string text = TwoTracks().Text();
    EXPECT_EQ(text, "REM GENRE Jazz\r\n"
                    "PERFORMER \"The 'Testers'\"\r\n"
                    "TITLE \"Suite Two\"\r\n"
                    "FILE \"album.flac\" WAVE\r\n"
                    "  TRACK 01 AUDIO\r\n"
                    "    TITLE \"First\"\r\n"
                    "    PERFORMER \"The Testers\"\r\n"
                    "    INDEX 01 00:00:00\r\n"
                    "  TRACK 02 AUDIO\r\n"
                    "    TITLE \"Second\"\r\n"
                    "    PERFORMER \"Guest\"\r\n"
                    "    INDEX 00 00:01:00\r\n"
                    "    INDEX 01 00:03:38\r\n");
    EXPECT_EQ(CCueSheet::FileTypeFor("x.MP3"), "MP3");
    EXPECT_EQ(CCueSheet::FileTypeFor("x.wav"), "WAVE");
    EXPECT_EQ(CCueSheet::Time(75 * 61 + 74), "01:01:74");
}

// The codes a drive reports: a catalogue number before the disc's text, an
// ISRC before a track's indices; the zeros drives report for "none" and
// malformed codes are left out.
TEST(CueSheet, CatalogAndIsrcOnlyWhenWellFormed) {
    CCueSheet sheet;
    sheet.AddRem("GENRE", "Jazz");
    sheet.SetPerformer("The Testers");
    sheet.SetCatalog("0724384960650");
    CCueSheet::File& file = sheet.AddFile("a.wav", "WAVE");
    file.tracks.push_back({1, "First", "", std::nullopt, 0});
    file.tracks.push_back({2, "", "", std::nullopt, 75});
    sheet.SetIsrc(1, "GBAYE6800011");
    sheet.SetIsrc(2, "000000000000");
    EXPECT_EQ(sheet.Text(), "REM GENRE Jazz\r\n"
                            "CATALOG 0724384960650\r\n"
                            "PERFORMER \"The Testers\"\r\n"
                            "FILE \"a.wav\" WAVE\r\n"
                            "  TRACK 01 AUDIO\r\n"
                            "    TITLE \"First\"\r\n"
                            "    ISRC GBAYE6800011\r\n"
                            "    INDEX 01 00:00:00\r\n"
                            "  TRACK 02 AUDIO\r\n"
                            "    INDEX 01 00:01:00\r\n");
    for (const char* bad : {"0000000000000", "072438496065", "07243849606x0"}) {
        sheet.SetCatalog(bad);
        EXPECT_EQ(sheet.Text().find("CATALOG"), std::string::npos) << bad;
    }
    for (const char* bad : {"gbaye6800011", "GBAYE680001", "GB-YE6800011"}) {
        sheet.SetIsrc(1, bad);
        EXPECT_EQ(sheet.Text().find("ISRC"), std::string::npos) << bad;
    }
}

TEST(CueSheet, WritesTheFileAndTheFlacBlock) {
    qmtest::TempDir dir;
    const auto cue = dir / "album.cue";
    ASSERT_TRUE(TwoTracks().Write(cue.string()));
    EXPECT_EQ(qmtest::ReadText(cue), TwoTracks().Text());
    std::string error;
    EXPECT_FALSE(TwoTracks().Write((dir / "missing" / "x.cue").string(), &error));
    EXPECT_FALSE(error.empty());

    const auto flac = dir / "album.flac";
    ASSERT_TRUE(qmtest::MakeSampleAudio(flac, "-c:a flac -ar 44100 -ac 2", 5.0));
    ASSERT_TRUE(TwoTracks().WriteToFlac(flac.string(), 44100, 5 * 75, &error)) << error;
    // Again: the block is replaced, not added.
    ASSERT_TRUE(TwoTracks().WriteToFlac(flac.string(), 44100, 5 * 75, &error)) << error;
    const auto exported =
        qmtest::Run("metaflac --export-cuesheet-to=- " + qmtest::ShellQuote(flac.string()));
    ASSERT_EQ(exported.exitCode, 0);
    EXPECT_NE(exported.out.find("TRACK 02 AUDIO"), std::string::npos) << exported.out;
    EXPECT_NE(exported.out.find("INDEX 01 00:03:38"), std::string::npos) << exported.out;
    const auto blocks =
        qmtest::Run("metaflac --list --block-type=CUESHEET " + qmtest::ShellQuote(flac.string()));
    std::size_t count = 0;
    for (std::size_t at = 0; (at = blocks.out.find("type: 5", at)) != std::string::npos; ++at) {
        ++count;
    }
    EXPECT_EQ(count, 1u);
    // No file: a clear failure.
    EXPECT_FALSE(TwoTracks().WriteToFlac((dir / "none.flac").string(), 44100, 375, &error));
}

} // namespace
