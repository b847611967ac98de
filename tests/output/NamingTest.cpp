// Output naming: the mask expansion with the disc's and the track's values,
// the clean-up of the names it makes (also against hostile metadata), the
// unique-name search, and the folder and path helpers.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "core/Text.h"
#include "output/Naming.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kMP3 = 1;
constexpr std::int32_t kFLAC = 5;

DiscInfo Disc() {
    DiscInfo disc;
    disc.artist = "Disc Artist";
    disc.title = "Disc Album";
    disc.genre = "Rock";
    disc.year = 1999;
    return disc;
}

struct Namer {
    NamingOptions options;
    DiscInfo disc = Disc();
    CID3Tag tag;
    bool useCustomTag = false;
    std::int32_t format = kMP3;

    std::string Name(std::int32_t track, std::uint32_t discId = 0x1234) const {
        return FormatTrackName(options, disc, {tag, useCustomTag, format}, track, discId);
    }
    // The name without the output folder.
    std::string Below(std::int32_t track) const {
        const std::string name = Name(track);
        const std::string prefix = options.outputFolder + "/";
        EXPECT_TRUE(name.starts_with(prefix)) << name;
        return name.substr(prefix.size());
    }
};

void Touch(const fs::path& file) {
    std::ofstream(file) << "x";
}

TEST(Naming, DefaultMaskWithAndWithoutAFinalSlash) {
    qmtest::TempDir dir;
    Namer namer;
    namer.options.outputFolder = (dir / "Out").string();
    EXPECT_EQ(namer.Name(3), (dir / "Out" / "track03.mp3").string());
    namer.options.outputFolder += "/";
    EXPECT_EQ(namer.Name(3), (dir / "Out" / "track03.mp3").string());
    // No output folder: a name relative to the current folder.
    namer.options.outputFolder.clear();
    EXPECT_EQ(namer.Name(3), "track03.mp3");
    // An empty mask would name every track alike: it means the default.
    namer.options.nameFormat.clear();
    EXPECT_EQ(namer.Name(3), "track03.mp3");
}

TEST(Naming, SubFoldersFromBackslashesAndSlashesAndRemovedCharacters) {
    Namer namer;
    namer.options.outputFolder = "/Out";
    namer.options.nameFormat = "{ARTIST}\\{ALBUM}/{TRACK} - {TITLE}";
    namer.disc.artist = "AC/DC";
    namer.disc.title = "Back in Black";
    namer.tag.SetTag("Title", "What?");
    EXPECT_EQ(namer.Name(3), "/Out/ACDC/Back in Black/03 - What.mp3");

    // All nine characters go from values, and the spaces they leave at the ends.
    namer.tag.SetTag("Title", " a\\b/c:d*e?f\"g<h>i|j ");
    EXPECT_EQ(namer.Below(3), "ACDC/Back in Black/03 - abcdefghij.mp3");
}

TEST(Naming, TrackNumbersDiscIdAndExtensions) {
    Namer namer;
    namer.options.outputFolder = "/o";
    namer.options.nameFormat = "{TRACK}-{DISKID}";
    EXPECT_EQ(namer.Name(12, 0x0A0B0C0D), "/o/12-A0B0C0D.mp3");
    EXPECT_EQ(namer.Name(100, 0), "/o/100-0.mp3");
    const char* expected[] = {".wma", ".mp3", ".ogg", ".wav", ".ape", ".flac"};
    for (std::int32_t format = 0; format < 6; ++format) {
        namer.format = format;
        EXPECT_EQ(namer.Name(1, 1), std::string("/o/01-1") + expected[format]);
    }
    namer.format = 9;
    EXPECT_EQ(namer.Name(1, 1), "/o/01-1");
}

TEST(Naming, UnknownValuesYearsAndTheCustomTagRule) {
    Namer namer;
    namer.options.outputFolder = "/o";
    namer.options.nameFormat = "{TITLE},{ARTIST},{ALBUM},{YEAR},{GENRE}";
    namer.disc = DiscInfo{};
    EXPECT_EQ(namer.Below(1),
              "UnknownTitle,UnknownArtist,UnknownAlbum,UnknownYear,UnknownGenre.mp3");

    namer.options.nameFormat = "{YEAR}";
    namer.disc.year = 0;
    EXPECT_EQ(namer.Below(1), "UnknownYear.mp3");
    namer.disc.year = 2001;
    EXPECT_EQ(namer.Below(1), "2001.mp3");
    // The track's own year counts only with the custom tag, and only its
    // leading number.
    namer.tag.SetTag("Year", "1999 remastered");
    EXPECT_EQ(namer.Below(1), "2001.mp3");
    namer.useCustomTag = true;
    EXPECT_EQ(namer.Below(1), "1999.mp3");
    namer.tag.SetTag("Year", "0");
    EXPECT_EQ(namer.Below(1), "UnknownYear.mp3");
    namer.tag.SetTag("Year", "");
    EXPECT_EQ(namer.Below(1), "UnknownYear.mp3");
    namer.tag.SetTag("Year", "0077");
    EXPECT_EQ(namer.Below(1), "77.mp3");

    // Artist: the track's on a mixed disc or with the custom tag; album and
    // genre only with the custom tag.
    namer.options.nameFormat = "{ARTIST}-{ALBUM}-{GENRE}";
    namer.disc = Disc();
    namer.tag.SetTag("Artist", "Track Artist");
    namer.tag.SetTag("Album", "Track Album");
    namer.tag.SetTag("Genre", "Jazz");
    namer.useCustomTag = false;
    EXPECT_EQ(namer.Below(1), "Disc Artist-Disc Album-Rock.mp3");
    namer.options.mixedCD = true;
    EXPECT_EQ(namer.Below(1), "Track Artist-Disc Album-Rock.mp3");
    namer.options.mixedCD = false;
    namer.useCustomTag = true;
    EXPECT_EQ(namer.Below(1), "Track Artist-Track Album-Jazz.mp3");
}

TEST(Naming, ATitleOfRemovedCharactersIsEmptyNotUnknown) {
    Namer namer;
    namer.options.outputFolder = "/o";
    namer.options.nameFormat = "{TRACK} [{TITLE}]";
    namer.tag.SetTag("Title", "    ");
    EXPECT_EQ(namer.Below(4), "04 [].mp3");
    namer.tag.SetTag("Title", "?*|");
    EXPECT_EQ(namer.Below(4), "04 [].mp3");
}

TEST(Naming, LowerCaseTokensAreTextAndValuesMayHoldLaterTokens) {
    Namer namer;
    namer.options.outputFolder = "/o";
    namer.options.nameFormat = "{title} {TITLE}";
    namer.tag.SetTag("Title", "by {ARTIST} {TITLE}");
    // "{ARTIST}" in the title is expanded by the later token; "{TITLE}" in it
    // is not expanded again.
    EXPECT_EQ(namer.Below(1), "{title} by Disc Artist {TITLE}.mp3");
}

TEST(Naming, TrailingDotsLeaveFoldersButStayInFileNames) {
    Namer namer;
    namer.options.outputFolder = "/o";
    namer.options.nameFormat = "{ALBUM}/{ALBUM}";
    namer.disc.title = "And so on...";
    EXPECT_EQ(namer.Below(1), "And so on/And so on....mp3");
    EXPECT_EQ(NormalizeFileName("Three Dot Words.../a/.../..../file..."),
              "Three Dot Words/a/file...");
}

TEST(Naming, GenerateIfExistFindsTheFirstFreeName) {
    qmtest::TempDir dir;
    Namer namer;
    namer.options.outputFolder = dir.path().string();
    namer.options.generateIfExist = true;
    EXPECT_EQ(namer.Name(2), (dir / "track02.mp3").string());
    Touch(dir / "track02.mp3");
    EXPECT_EQ(namer.Name(2), (dir / "track02_#02.mp3").string());
    // A folder, or a link to nowhere, takes a name as well as a file does.
    fs::create_directory(dir / "track02_#02.mp3");
    fs::create_symlink(dir / "nowhere", dir / "track02_#03.mp3");
    EXPECT_EQ(namer.Name(2), (dir / "track02_#04.mp3").string());
    // Without the switch the plain name is used and overwritten.
    namer.options.generateIfExist = false;
    EXPECT_EQ(namer.Name(2), (dir / "track02.mp3").string());
    // All 98 taken: the plain name.
    namer.options.generateIfExist = true;
    for (int i = 4; i <= 98; ++i) {
        Touch(dir / qm::Format("track02_#%02d.mp3", i));
    }
    EXPECT_EQ(namer.Name(2), (dir / "track02.mp3").string());
}

TEST(Naming, TheUniqueNameIsCheckedUnderTheCleanedName) {
    // The folder written is "Album", not "Album..."; the check must look there.
    qmtest::TempDir dir;
    Namer namer;
    namer.options.outputFolder = dir.path().string();
    namer.options.nameFormat = "{ALBUM}/{TRACK}";
    namer.options.generateIfExist = true;
    namer.disc.title = "Album...";
    fs::create_directory(dir / "Album");
    Touch(dir / "Album" / "01.mp3");
    EXPECT_EQ(namer.Name(1), (dir / "Album" / "01_#02.mp3").string());
}

TEST(Naming, AlbumNames) {
    DiscInfo disc = Disc();
    CID3Tag tag;
    const NamingRecord record{tag, false, kFLAC};
    EXPECT_EQ(FormatAlbumName("{ARTIST}\\{ALBUM} {TRACK} {DISKID}", disc, record, false),
              "Disc Artist/Disc Album XX {DISKID}.flac");
    tag.SetTag("Track", "1-12");
    tag.SetTag("Artist", "Someone");
    EXPECT_EQ(FormatAlbumName("{TRACK} {ARTIST}", disc, record, true), "1-12 Someone.flac");
    EXPECT_EQ(FormatAlbumName("../{ALBUM}", disc, {tag, false, 9}, false), "Disc Album");
    EXPECT_EQ(FormatAlbumName("{ALBUM}/", disc, {tag, false, 9}, false), "");
}

TEST(Naming, PathHelpers) {
    EXPECT_EQ(ExtractFolderPath("/a/b/c.m3u"), "/a/b");
    EXPECT_EQ(ExtractFolderPath("c.m3u"), "");
    EXPECT_EQ(ExtractExt("/a.b/c.WPL"), "WPL");
    EXPECT_EQ(ExtractExt("/a.b/c"), "b/c");
    EXPECT_EQ(ExtractExt("/a/c"), "");
    EXPECT_EQ(JoinFolder("", "x"), "x");
    EXPECT_EQ(JoinFolder("/o/", "x"), "/o/x");
    EXPECT_EQ(JoinFolder("~/o", "x").front(), '/');
}

TEST(Naming, MaskCheck) {
    EXPECT_EQ(FindIllegalMaskCharacter("{ARTIST}\\{ALBUM}/{TRACK} - {TITLE}"), '\0');
    // Searched in the order ? * < > : " |, not in the mask's order.
    EXPECT_EQ(FindIllegalMaskCharacter("a|b:c*d?"), '?');
    EXPECT_EQ(FindIllegalMaskCharacter("a|b\"c"), '"');
    EXPECT_EQ(FindIllegalMaskCharacter("a>b<"), '<');
    EXPECT_EQ(IllegalMaskCharacterMessage('|'),
              "You specified the illegal character '|' in template mask. Please remove it.");
}

TEST(Naming, PrepareDirectoryAndPrepareFolder) {
    qmtest::TempDir dir;
    const std::string file = (dir / "a" / "b" / "c" / "f.mp3").string();
    EXPECT_TRUE(PrepareDirectory(file));
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b" / "c"));
    EXPECT_FALSE(fs::exists(file)); // the file name itself is left alone
    EXPECT_TRUE(PrepareDirectory("no-slash-at-all"));
    EXPECT_FALSE(fs::exists("no-slash-at-all"));

    // A file where a folder is needed.
    Touch(dir / "a" / "plain");
    EXPECT_FALSE(PrepareDirectory((dir / "a" / "plain" / "x" / "f").string()));
    EXPECT_FALSE(fs::exists(dir / "a" / "plain" / "x"));

    int existing = -1;
    EXPECT_TRUE(PrepareFolder((dir / "a" / "b" / "new" / "list.wpl").string(), &existing));
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b" / "new"));
    const std::string root = dir.path().string();
    const int levelsOfDir = static_cast<int>(std::count(root.begin(), root.end(), '/'));
    EXPECT_EQ(existing, levelsOfDir + 2); // the temporary folder's levels, a and b
    EXPECT_FALSE(PrepareFolder((dir / "a" / "plain" / "x" / "f").string(), &existing));
}

TEST(Naming, MyRenameFile) {
    qmtest::TempDir dir;
    Touch(dir / "old");
    Touch(dir / "new");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(MyRenameFile((dir / "old").string(), (dir / "new").string()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    EXPECT_FALSE(fs::exists(dir / "old"));
    // Nothing to rename counts as done.
    EXPECT_TRUE(MyRenameFile((dir / "old").string(), (dir / "new").string()));
    // A rename that cannot succeed gives up after its tries; the file stays.
    EXPECT_FALSE(MyRenameFile((dir / "new").string(), (dir / "missing" / "x").string()));
    EXPECT_TRUE(fs::exists(dir / "new"));
}

TEST(Naming, LongValuesAreCutOnCharacterBoundaries) {
    Namer namer;
    namer.options.outputFolder = "/o";
    namer.options.nameFormat = "{ARTIST}/{TRACK} - {TITLE}";
    namer.options.generateIfExist = true;
    // Two, three and four byte characters, 5,000 of them.
    std::string title;
    const char* pieces[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x8E\xB5", "a"};
    for (int i = 0; i < 5000; ++i) {
        title += pieces[i % 4];
    }
    namer.tag.SetTag("Title", title);
    namer.disc.artist = title;
    const std::string below = namer.Below(1);
    const std::size_t slash = below.find('/');
    ASSERT_NE(slash, std::string::npos);
    EXPECT_LE(slash, kMaxNameBytes);
    const std::string file = below.substr(slash + 1);
    // Room is left for "_#98".
    EXPECT_LE(file.size() + 4, kMaxNameBytes);
    EXPECT_TRUE(file.ends_with(".mp3"));
    EXPECT_EQ(qm::MakeValidUtf8(below), below);
}

// Every name the mask makes from hostile values stays below the output
// folder, has no empty, "." or ".." component, no hidden one, no control
// character, only UTF-8, and no component longer than the file system takes.
void ExpectSafeBelow(const std::string& path, const std::string& folder) {
    ASSERT_TRUE(path.starts_with(folder + "/")) << path;
    const std::string below = path.substr(folder.size() + 1);
    EXPECT_EQ(qm::MakeValidUtf8(below), below) << below;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = below.find('/', start);
        const std::string part = below.substr(start, end - start);
        EXPECT_FALSE(part.empty() && end != std::string::npos) << below;
        EXPECT_FALSE(part.starts_with('.') && end != std::string::npos) << below;
        EXPECT_NE(part, ".");
        EXPECT_NE(part, "..");
        EXPECT_LE(part.size(), kMaxNameBytes);
        for (const char c : part) {
            EXPECT_GE(static_cast<unsigned char>(c), 0x20u) << below;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    const fs::path normal = fs::path(path).lexically_normal();
    EXPECT_TRUE(normal.string().starts_with(folder + "/")) << path;
}

std::string HostileValue(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {"..",
                                                    ".",
                                                    "/",
                                                    "\\",
                                                    "../..",
                                                    "..\\..",
                                                    "...",
                                                    " ",
                                                    "\t",
                                                    "\n",
                                                    "\r",
                                                    "\x01",
                                                    "\x7F",
                                                    "\xFF",
                                                    "\xC3",
                                                    "\xE2\x82",
                                                    "\xC0\xAF",
                                                    "{TITLE}",
                                                    "{ARTIST}",
                                                    "{ALBUM}",
                                                    "{YEAR}",
                                                    "{GENRE}",
                                                    "{TRACK}",
                                                    "{DISKID}",
                                                    "a",
                                                    "Band",
                                                    "~",
                                                    "~/",
                                                    "/etc/passwd",
                                                    ":",
                                                    "?",
                                                    std::string(1, '\0'),
                                                    std::string(300, 'x'),
                                                    std::string(5000, 'y'),
                                                    "\xE2\x82\xAC"};
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> count(0, 6);
    std::string value;
    for (int i = count(rng); i > 0; --i) {
        value += pieces[pick(rng)];
    }
    return value;
}

TEST(Naming, HostileMetadataNeverLeavesTheOutputFolder) {
    std::mt19937 rng(6);
    const char* masks[] = {"{ARTIST}/{ALBUM}/{TRACK} - {TITLE}",
                           "{TITLE}",
                           "{ARTIST}\\{TITLE}\\{GENRE}\\{YEAR}",
                           "..\\{ALBUM}/../{TITLE}",
                           "/{ARTIST}//{TITLE}",
                           "{TITLE}/{TITLE}/{TITLE}/{TITLE}",
                           ".{ARTIST}/.{TITLE}."};
    for (int round = 0; round < 400; ++round) {
        Namer namer;
        namer.options.outputFolder = "/music/out";
        namer.options.nameFormat = masks[round % std::size(masks)];
        namer.options.generateIfExist = round % 2 == 0;
        namer.options.mixedCD = round % 3 == 0;
        namer.useCustomTag = round % 5 == 0;
        namer.disc.artist = HostileValue(rng);
        namer.disc.title = HostileValue(rng);
        namer.disc.genre = HostileValue(rng);
        for (const char* field : {"Title", "Artist", "Album", "Genre", "Year"}) {
            namer.tag.SetTag(field, HostileValue(rng));
        }
        namer.format = round % 7; // 6: no extension at all
        const std::string name = namer.Name(1 + round % 99, static_cast<std::uint32_t>(rng()));
        if (name.empty()) {
            EXPECT_EQ(namer.format, 6); // only a name without a file and an extension
            continue;
        }
        ExpectSafeBelow(name, "/music/out");
        const std::string album =
            FormatAlbumName(namer.options.nameFormat, namer.disc, {namer.tag, true, namer.format},
                            namer.options.mixedCD);
        if (!album.empty()) {
            ExpectSafeBelow("/x/" + album, "/x");
        }
    }
}

} // namespace
