// The local CDDB cache: the file the writer makes, byte for byte, what the
// reader takes from files written by hand, and that the two agree.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/Text.h"
#include "disc/LocalCDDB.h"
#include "support/Pcm.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kId = 0x0A0B0C0D;

// A disc of `count` tracks numbered from `first`, with a tag per track.
struct Disc {
    DiscInfo info;
    std::vector<CID3Tag> tags;
    std::int32_t first = 1;

    explicit Disc(int count, std::int32_t firstTrack = 1) : tags(count), first(firstTrack) {
        info.tracks.resize(static_cast<std::size_t>(count));
    }
    std::int32_t Last() const { return first + static_cast<std::int32_t>(tags.size()) - 1; }

    bool Save(const fs::path& folder) const {
        std::vector<const CID3Tag*> pointers;
        for (const CID3Tag& tag : tags) {
            pointers.push_back(&tag);
        }
        return SaveLocalCDDB(folder, kId, info, pointers, first, Last());
    }
    bool Load(const fs::path& folder, bool parseMixedCD, std::uint32_t id = kId) {
        std::vector<CID3Tag*> pointers;
        for (CID3Tag& tag : tags) {
            pointers.push_back(&tag);
        }
        return LoadLocalCDDB(folder, id, info, pointers, first, Last(), parseMixedCD);
    }
};

TEST(LocalCDDB, TheFileAsWritten) {
    qmtest::TempDir dir;
    Disc disc(3);
    disc.info.artist = "X";
    disc.info.title = "The Album";
    disc.info.genre = "Rock";
    disc.info.year = 1999;
    disc.tags[0].SetTag("Title", "One");
    disc.tags[0].SetTag("Artist", "x"); // the disc artist in other letters
    disc.tags[1].SetTag("Title", "Two");
    disc.tags[1].SetTag("Artist", "Guest");
    disc.tags[2].SetTag("Title", "Three"); // no artist of its own
    const fs::path folder = dir / "data" / "Local CDDB";
    ASSERT_TRUE(disc.Save(folder));
    EXPECT_EQ(LocalCDDBFileName(kId), "A0B0C0D");
    EXPECT_EQ(qmtest::ReadText(folder / "A0B0C0D"),
              "# Quavermill\r\n# version 1.25\r\n"
              "DARTIST=X\r\nDTITLE=The Album\r\nDGENRE=Rock\r\n"
              "DYEAR=1999\r\n"
              "TTITLE0=One\r\n"
              "TTITLE1=Guest / Two \r\n"
              "TTITLE2=Three\r\n");

    // No year: no DYEAR line; empty values are still written.
    Disc bare(1);
    ASSERT_TRUE(bare.Save(folder));
    EXPECT_EQ(qmtest::ReadText(folder / "A0B0C0D"),
              "# Quavermill\r\n# version 1.25\r\nDARTIST=\r\nDTITLE=\r\nDGENRE=\r\nTTITLE0=\r\n");
    EXPECT_FALSE(SaveLocalCDDB(folder, 0, bare.info, {}, 1, 1));
    EXPECT_FALSE(fs::exists(folder / "0"));
}

TEST(LocalCDDB, WriterAndReaderAgree) {
    qmtest::TempDir dir;
    Disc saved(4, 3);
    saved.info.artist = "Disc Artist";
    saved.info.title = "Album = Title";
    saved.info.genre = "Jazz";
    saved.info.year = 2001;
    const char* titles[] = {"First", "Second / Part", "Third", "Fourth"};
    for (std::size_t i = 0; i < 4; ++i) {
        saved.tags[i].SetTag("Title", titles[i]);
        saved.tags[i].SetTag("Artist", i == 2 ? "Guest" : "Disc Artist");
    }
    ASSERT_TRUE(saved.Save(dir.path()));

    Disc plain(4, 3);
    ASSERT_TRUE(plain.Load(dir.path(), false));
    EXPECT_EQ(plain.info.artist, "Disc Artist");
    EXPECT_EQ(plain.info.title, "Album = Title");
    EXPECT_EQ(plain.info.genre, "Jazz");
    EXPECT_EQ(plain.info.year, 2001);
    EXPECT_EQ(plain.tags[0].GetTag("Title"), "First");
    EXPECT_EQ(plain.tags[1].GetTag("Title"), "Second / Part");
    // Without splitting, the other artist's track keeps the whole text.
    EXPECT_EQ(plain.tags[2].GetTag("Title"), "Guest / Third ");
    EXPECT_EQ(plain.tags[2].GetTag("Artist"), "Disc Artist");
    EXPECT_EQ(plain.info.tracks[2].artist, "");
    for (const CID3Tag& tag : plain.tags) {
        EXPECT_EQ(tag.GetTag("Album"), "Album = Title");
        EXPECT_EQ(tag.GetTag("Year"), "2001");
        EXPECT_EQ(tag.GetTag("Genre"), "Jazz");
    }

    Disc mixed(4, 3);
    ASSERT_TRUE(mixed.Load(dir.path(), true));
    EXPECT_EQ(mixed.tags[2].GetTag("Title"), "Third");
    EXPECT_EQ(mixed.tags[2].GetTag("Artist"), "Guest");
    EXPECT_EQ(mixed.info.tracks[2].artist, "Guest");
    EXPECT_EQ(mixed.info.tracks[2].title, "Third");
    // A single artist's title holding "/" is split too.
    EXPECT_EQ(mixed.tags[1].GetTag("Artist"), "Second");
    EXPECT_EQ(mixed.tags[1].GetTag("Title"), "Part");
    EXPECT_EQ(mixed.tags[0].GetTag("Artist"), "Disc Artist");
}

// Writes a hand-made cache file for disc kId.
void WriteEntry(const fs::path& folder, const std::string& text) {
    std::ofstream(folder / LocalCDDBFileName(kId), std::ios::binary) << text;
}

TEST(LocalCDDB, TheReaderTakesWhatTheFileHolds) {
    qmtest::TempDir dir;
    WriteEntry(dir.path(), "# a comment=with equals\n"
                           "no equals here\n"
                           "\n"
                           "dartist=Lower Case Key\r\n"
                           "DTITLE=first \r\n"
                           "DTITLE=and second\r\n"
                           "DGENRE=hip-hop\r\n"
                           "DYEAR= 1987 and more\r\n"
                           "TTITLE05=Five\r\n"
                           "TTITLE-1=Minus one\r\n"
                           "TTITLE=Bare key\r\n"
                           "ttitlex=No number\r\n"
                           "TTITLE6=Out of range\r\n"
                           "TTITLE0=  spaced = and equals  \r\n"
                           "EXTD=ignored\r\n");
    Disc disc(6);
    disc.tags[1].SetTag("Title", "kept");
    disc.info.tracks[1].title = "kept";
    ASSERT_TRUE(disc.Load(dir.path(), false));
    EXPECT_EQ(disc.info.artist, "Lower Case Key");
    EXPECT_EQ(disc.info.title, "first and second");     // a repeated key continues
    EXPECT_EQ(disc.info.genre, "hip-hop");              // as read ...
    EXPECT_EQ(disc.tags[0].GetTag("Genre"), "Hip-Hop"); // ... the table's spelling in the tags
    EXPECT_EQ(disc.info.year, 1987);
    EXPECT_EQ(disc.tags[5].GetTag("Title"), "Five");
    EXPECT_EQ(disc.tags[0].GetTag("Title"), "  spaced = and equals  "); // not trimmed
    EXPECT_EQ(disc.tags[1].GetTag("Title"), "kept");                    // no line for it
    EXPECT_EQ(disc.info.tracks[1].title, "kept");
    for (int i = 2; i <= 4; ++i) {
        EXPECT_EQ(disc.tags[static_cast<std::size_t>(i)].GetTag("Title"), "") << i;
    }
}

TEST(LocalCDDB, YearsAndGenresInTheTags) {
    qmtest::TempDir dir;
    Disc disc(2);
    disc.info.year = 1975;
    disc.info.genre = "Rock";
    disc.tags[0].SetTag("Year", "1975");
    disc.tags[0].SetTag("Genre", "Rock");
    // No DYEAR line: the year in memory stays.
    WriteEntry(dir.path(), "DGENRE=Polka Metal\r\n");
    ASSERT_TRUE(disc.Load(dir.path(), false));
    EXPECT_EQ(disc.info.year, 1975);
    EXPECT_EQ(disc.tags[1].GetTag("Year"), "1975");
    // A genre the table lacks stays the disc's but leaves the tags.
    EXPECT_EQ(disc.info.genre, "Polka Metal");
    EXPECT_EQ(disc.tags[0].GetTag("Genre"), "");
    // A year that is no number reads as 0 and leaves the tags; so does " ".
    WriteEntry(dir.path(), "DYEAR=soon\r\nDGENRE= \r\n");
    ASSERT_TRUE(disc.Load(dir.path(), false));
    EXPECT_EQ(disc.info.year, 0);
    EXPECT_EQ(disc.tags[0].GetTag("Year"), "");
    EXPECT_EQ(disc.tags[0].GetTag("Genre"), "");
    WriteEntry(dir.path(), "DYEAR=12000\r\n");
    ASSERT_TRUE(disc.Load(dir.path(), false));
    EXPECT_EQ(disc.info.year, 12000);
    EXPECT_EQ(disc.tags[0].GetTag("Year"), "");
}

TEST(LocalCDDB, NoIdOrNoFileChangesNothing) {
    qmtest::TempDir dir;
    Disc disc(2);
    disc.info.artist = "before";
    disc.tags[0].SetTag("Title", "before");
    const Disc copy = disc;
    EXPECT_FALSE(disc.Load(dir.path(), false));
    WriteEntry(dir.path(), "DARTIST=after\r\n");
    EXPECT_FALSE(disc.Load(dir.path(), false, 0));
    EXPECT_EQ(disc.info.artist, copy.info.artist);
    EXPECT_EQ(disc.tags[0], copy.tags[0]);
    // Without a readable table the disc has no tracks to name.
    std::vector<CID3Tag*> tags = {&disc.tags[0]};
    ASSERT_TRUE(LoadLocalCDDB(dir.path(), kId, disc.info, tags, -1, -1, false));
    EXPECT_EQ(disc.info.artist, "after");
    EXPECT_EQ(disc.tags[0], copy.tags[0]);
    EXPECT_EQ(disc.info.tracks.size(), 2u);
}

TEST(LocalCDDB, LongAndHostileValues) {
    qmtest::TempDir dir;
    Disc disc(2);
    // A title that tries to end its line and add keys of its own.
    disc.info.artist = "Artist";
    disc.tags[0].SetTag("Title", "Evil\r\nDARTIST=Injected\nTTITLE1=Injected");
    // 2000 three-byte characters: more than a line holds.
    std::string longTitle;
    for (int i = 0; i < 2000; ++i) {
        longTitle += "\xE2\x82\xAC";
    }
    disc.tags[1].SetTag("Title", longTitle);
    ASSERT_TRUE(disc.Save(dir.path()));
    const std::string file = qmtest::ReadText(dir / LocalCDDBFileName(kId));
    EXPECT_TRUE(file.ends_with("\r\n"));

    Disc loaded(2);
    ASSERT_TRUE(loaded.Load(dir.path(), false));
    EXPECT_EQ(loaded.info.artist, "Artist");
    EXPECT_EQ(loaded.tags[0].GetTag("Title"), "Evil DARTIST=Injected TTITLE1=Injected");
    EXPECT_EQ(file.find("\nDARTIST=Injected"), std::string::npos);
    const std::string title = loaded.tags[1].GetTag("Title");
    EXPECT_LE(title.size(), 1023u); // read up to that length
    EXPECT_GT(title.size(), 1000u);
    EXPECT_EQ(title.size() % 3, 0u); // whole characters only
    EXPECT_TRUE(longTitle.starts_with(title));

    // A hand-made file with a very long value and broken UTF-8.
    WriteEntry(dir.path(), "TTITLE0=" + std::string(1022, 'a') + "\xE2\x82\xAC" + "\r\n" +
                               "TTITLE1=caf\xE9\r\n");
    ASSERT_TRUE(loaded.Load(dir.path(), false));
    EXPECT_EQ(loaded.tags[0].GetTag("Title"), std::string(1022, 'a'));
    EXPECT_EQ(loaded.tags[1].GetTag("Title"), "caf\xC3\xA9"); // an old file in Latin-1
}

TEST(LocalCDDB, LongValuesContinueOnMoreLinesAndReadBackWhole) {
    qmtest::TempDir dir;
    Disc disc(3);
    const std::string longTitle = std::string(150, 'x') + "\xC3\xA9" + std::string(148, 'y');
    ASSERT_EQ(longTitle.size(), 300u);
    disc.info.artist = "AC/DC";
    disc.info.title = std::string(299, 'a') + "\\" + std::string(10, 'b');
    disc.tags[0].SetTag("Title", longTitle);
    disc.tags[1].SetTag("Title", "Back\\Slash\tand tab");
    disc.tags[2].SetTag("Title", "Hells/Bells");
    disc.tags[2].SetTag("Artist", "Guest/Band");
    ASSERT_TRUE(disc.Save(dir.path()));
    const std::string file = qmtest::ReadText(dir / LocalCDDBFileName(kId));
    std::size_t lines = 0;
    for (std::size_t start = 0; start < file.size();) {
        const std::size_t end = file.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - start, 256u);
        start = end + 2;
        ++lines;
    }
    EXPECT_EQ(lines, 2u + 2u + 1u + 1u + 2u + 1u + 1u); // title and first track continue
    EXPECT_NE(file.find("TTITLE1=Back\\\\Slash\\tand tab\r\n"), std::string::npos);

    for (bool mixed : {false, true}) {
        Disc loaded(3);
        ASSERT_TRUE(loaded.Load(dir.path(), mixed));
        EXPECT_EQ(loaded.info.artist, "AC/DC");
        EXPECT_EQ(loaded.info.title, disc.info.title);
        EXPECT_EQ(loaded.tags[0].GetTag("Title"), longTitle);
        // A decoded tab is a blank in a name.
        EXPECT_EQ(loaded.tags[1].GetTag("Title"), "Back\\Slash and tab");
        // Only " / " splits: the slashes inside the names stay.
        EXPECT_EQ(loaded.tags[2].GetTag("Title"),
                  mixed ? "Hells/Bells" : "Guest/Band / Hells/Bells ");
        EXPECT_EQ(loaded.tags[2].GetTag("Artist"), mixed ? "Guest/Band" : "AC/DC");
    }
}

} // namespace
