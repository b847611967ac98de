// The inputs the fuzz targets (fuzz/) found faults with, replayed through the
// functions the program calls on them: each one now gives a sound answer.
// The inputs themselves are in data/fuzz/, named after their target.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "disc/Ctdb.h"
#include "disc/CueSheet.h"
#include "disc/LocalCDDB.h"
#include "disc/MusicBrainzRelease.h"
#include "disc/XmcdText.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// The bytes of data/fuzz/<name>.
std::string Finding(const std::string& name) {
    const fs::path file = fs::path(QM_SOURCE_DIR) / "tests/disc/data/fuzz" / name;
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(in) << file;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A medium the release does not have read past the end of its media for the
// "(disc N/M)" of the album's name; it now names the album without one and
// no track.
TEST(FuzzFindings, AMediumTheReleaseLacksNamesNoTrack) {
    const std::string xml =
        "<?xml version=\"1.0\"?><metadata xmlns=\"http://musicbrainz.org/ns/mmd-2.0#\">"
        "<release id=\"r\"><title>Double</title><medium-list count=\"2\">"
        "<medium><position>1</position><track-list count=\"1\"><track><position>1</position>"
        "<title>A</title></track></track-list></medium>"
        "<medium><position>2</position><track-list count=\"1\"><track><position>1</position>"
        "<title>B</title></track></track-list></medium></medium-list></release></metadata>";
    qm::MbRelease release;
    std::string error;
    ASSERT_TRUE(qm::ParseMbRelease(xml, &release, &error)) << error;
    ASSERT_EQ(release.media.size(), 2u);
    for (const int medium : {2, 3, -1}) {
        DiscInfo disc;
        disc.tracks.resize(1);
        disc.tracks[0].title = "kept";
        qm::ApplyMbRelease(release, medium, &disc);
        EXPECT_EQ(disc.title, "Double") << medium;
        EXPECT_EQ(disc.tracks[0].title, "kept") << medium;
    }
    DiscInfo disc;
    disc.tracks.resize(1);
    qm::ApplyMbRelease(release, 1, &disc);
    EXPECT_EQ(disc.title, "Double (disc 2/2)");
    EXPECT_EQ(disc.tracks[0].title, "B");
}

// Two entries of the largest confidence overflowed the sum of submissions
// (found by a crafted input to fuzz_ctdb): the sum now stops at the largest
// int.
TEST(FuzzFindings, HugeConfidencesAddUpWithoutOverflow) {
    const auto entries = qm::ParseCtdb(Finding("fuzz_ctdb-confidence-overflow.xml"));
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 2u);
    constexpr int kMax = std::numeric_limits<int>::max();
    const qm::CtdbVerdict track = qm::MatchCtdb(*entries, 1, 3);
    EXPECT_EQ(track.status, qm::VerifyStatus::kMismatch);
    EXPECT_EQ(track.submissions, kMax);
    EXPECT_EQ(qm::CtdbVerdictText(track), "differs (2147483647 submissions)");
    const qm::CtdbVerdict disc = qm::MatchCtdbDisc(*entries, 1);
    EXPECT_EQ(disc.status, qm::VerifyStatus::kMatch);
    EXPECT_EQ(disc.confidence, kMax);
    EXPECT_EQ(disc.submissions, kMax);
}

// Bytes that are no character (continuation bytes longer than a line, here
// after an escaped line break) left no whole character to put on a line, and
// the writer of a value's lines looped for ever (fuzz_xmcd_entry). Such a
// line is now cut where it is full, and the lines read back to the value.
TEST(FuzzFindings, BytesThatAreNoCharacterStillMakeLinesThatEnd) {
    for (const std::string& value :
         {Finding("fuzz_xmcd_entry-continuation-bytes.txt"), std::string(600, '\x80'),
          "\\" + std::string(300, '\xBF') + "\t"}) {
        const std::string lines = qm::XmcdLines("TTITLE0", value, "\r\n");
        std::size_t start = 0;
        while (start < lines.size()) {
            const std::size_t end = lines.find("\r\n", start);
            ASSERT_NE(end, std::string::npos);
            EXPECT_LE(end - start, qm::kXmcdLineBytes);
            start = end + 2;
        }
        bool found = false;
        EXPECT_EQ(qm::XmcdValue(lines, "TTITLE0", &found), value);
        EXPECT_TRUE(found);
    }
}

// A cache file of the largest size, all of short lines of one key (made
// here, as fuzz_local_cddb was given it): each line copied the whole value
// joined so far, which took over 256 MB and time quadratic in the lines.
// The value is now joined in place.
TEST(FuzzFindings, ALocalCddbFileOfManyShortLinesJoinsThemInPlace) {
    qmtest::TempDir dir;
    constexpr std::uint32_t kId = 0x940AAC0B;
    std::string text;
    while (text.size() + 10 <= kLocalCDDBMaxBytes) {
        text += "DTITLE=x\r\n";
    }
    std::ofstream(dir / LocalCDDBFileName(kId), std::ios::binary) << text;
    DiscInfo disc;
    CID3Tag tag;
    std::vector<CID3Tag*> tags = {&tag};
    ASSERT_TRUE(LoadLocalCDDB(dir.path(), kId, disc, tags, 1, 1, false));
    EXPECT_EQ(disc.title, std::string(text.size() / 10, 'x'));
    EXPECT_EQ(disc.artist, disc.title); // a server's DTITLE without " / "
}

// A name ending in a backslash ran on, in libcue's scanner, to the next
// quote of the sheet: the parse failed (and libcue leaked what it had
// built). The sheet is now read whole, with the backslash kept.
TEST(FuzzFindings, ANameEndingInABackslashIsReadAsItStands) {
    std::string error;
    const auto found = qm::ParseCueSheet(Finding("fuzz_cue_sheet-ending-backslash.cue"),
                                         "/nonexistent", "found.cue", &error);
    ASSERT_TRUE(found) << error;
    EXPECT_EQ(found->title, "Unknown Titl\\");
    EXPECT_EQ(found->tracks.at(0).title, "Track01");

    const std::string sheet = "PERFORMER \"AC\\DC\\\\\"\nFILE \"a.wav\" WAVE\n"
                              "  TRACK 01 AUDIO\n    TITLE \"Back\\\"\n"
                              "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    TITLE \"Two\"\n"
                              "    INDEX 01 00:10:00\n";
    const auto written = qm::ParseCueSheet(sheet, "/nonexistent", "written.cue", &error);
    ASSERT_TRUE(written) << error;
    EXPECT_EQ(written->performer, "AC\\DC\\\\");
    EXPECT_EQ(written->tracks.at(0).title, "Back\\");
    EXPECT_EQ(written->tracks.at(1).title, "Two");
}

} // namespace
