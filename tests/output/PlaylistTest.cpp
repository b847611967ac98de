// Playlists: which name a grab's list gets, and M3U and WPL lists written,
// checked and added to, byte for byte, read back by a player's parser, and
// left as they were whenever a step fails.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "core/Text.h"
#include "output/Playlist.h"
#include "platform/UserFolders.h"
#include "support/Pcm.h"
#include "support/PlaylistReader.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace {

namespace fs = std::filesystem;

DiscInfo AcDc() {
    DiscInfo disc;
    disc.artist = "AC/DC";
    disc.title = "Back in Black";
    disc.genre = "Hard Rock";
    disc.year = 1980;
    return disc;
}

PlaylistOptions MaskOptions(const std::string& mask) {
    PlaylistOptions options;
    options.addToPlaylist = true;
    options.useSpecifiedPlaylist = false;
    options.maskPlaylist = mask;
    options.outputFolder = "/music";
    return options;
}

TEST(PlaylistName, SpecifiedFile) {
    PlaylistOptions options;
    options.outputFolder = "/music/";
    options.specifiedPlaylist = "all.m3u";
    EXPECT_EQ(GeneratePlaylistName(options, AcDc()), ""); // playlists are off
    options.addToPlaylist = true;
    EXPECT_EQ(GeneratePlaylistName(options, AcDc()), "/music/all.m3u");
    options.outputFolder = "/music";
    EXPECT_EQ(GeneratePlaylistName(options, AcDc()), "/music/all.m3u");
    options.specifiedPlaylist = "/lists/All.WPL";
    EXPECT_EQ(GeneratePlaylistName(options, AcDc()), "/lists/All.WPL");
    options.specifiedPlaylist = "~/lists/all.wpl";
    EXPECT_EQ(GeneratePlaylistName(options, AcDc()),
              (qm::HomeFolder() / "lists" / "all.wpl").string());
    options.specifiedPlaylist = "lists/my.list";
    EXPECT_EQ(GeneratePlaylistName(options, AcDc()), "/music/lists/my.m3u");
    options.specifiedPlaylist = "";
    EXPECT_EQ(GeneratePlaylistName(options, AcDc()), "");
}

TEST(PlaylistName, FromTheMask) {
    EXPECT_EQ(GeneratePlaylistName(MaskOptions("{ARTIST} - {ALBUM}"), AcDc()),
              "/music/ACDC - Back in Black.m3u");
    EXPECT_EQ(GeneratePlaylistName(MaskOptions("{GENRE}\\{YEAR}.WPL"), AcDc()),
              "/music/Hard Rock/1980.WPL");
    EXPECT_EQ(GeneratePlaylistName(MaskOptions("/lists/{ARTIST}.m3u"), AcDc()), "/lists/ACDC.m3u");
    // Tokens of a track have no value in a disc's list and stay as written.
    EXPECT_EQ(GeneratePlaylistName(MaskOptions("{ALBUM} {TITLE}{TRACK}{DISKID}"), AcDc()),
              "/music/Back in Black {TITLE}{TRACK}{DISKID}.m3u");
    // Spaces, '"' and '|' stay; the other removed characters go.
    DiscInfo disc = AcDc();
    disc.title = " \"Live\" | <Part:2>? ";
    EXPECT_EQ(GeneratePlaylistName(MaskOptions("{ALBUM}"), disc), "/music/ \"Live\" | Part2 .m3u");
    DiscInfo unknown;
    EXPECT_EQ(GeneratePlaylistName(MaskOptions("{ARTIST}-{ALBUM}-{YEAR}-{GENRE}"), unknown),
              "/music/UnknownArtist-UnknownAlbum-UnknownYear-UnknownGenre.m3u");
    EXPECT_EQ(GeneratePlaylistName(MaskOptions(""), AcDc()), "");
    // An album called "Vol. 2" loses what looks like an extension.
    disc.title = "Vol. 2";
    EXPECT_EQ(GeneratePlaylistName(MaskOptions("{ALBUM}"), disc), "/music/Vol.m3u");
}

TEST(PlaylistName, HostileValuesStayBelowTheFolder) {
    std::mt19937 rng(62);
    const std::vector<std::string> pieces = {"..",
                                             ".",
                                             "/",
                                             "\\",
                                             "../../etc",
                                             "\n",
                                             "\x01",
                                             "\xFF",
                                             "~",
                                             "{ALBUM}",
                                             std::string(4000, 'z'),
                                             "a.wpl",
                                             "x"};
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    const char* masks[] = {"{ARTIST}/{ALBUM}", "{ALBUM}", "../{GENRE}.wpl",
                           "/lists/{ARTIST}/{ALBUM}.WPL", "~/lists/{ARTIST}"};
    for (int round = 0; round < 300; ++round) {
        DiscInfo disc;
        for (std::string* value : {&disc.artist, &disc.title, &disc.genre}) {
            for (int i = 0; i < 3; ++i) {
                *value += pieces[pick(rng)];
            }
        }
        const std::string mask = masks[round % std::size(masks)];
        const std::string name = GeneratePlaylistName(MaskOptions(mask), disc);
        if (name.empty()) {
            continue; // values that clean away to nothing: no list
        }
        std::string root = mask.starts_with("/lists") ? "/lists/" : "/music/";
        if (mask.starts_with("~/")) {
            root = (qm::HomeFolder() / "lists").string() + "/";
        }
        ASSERT_TRUE(name.starts_with(root)) << name << " from " << mask;
        const fs::path below = fs::path(name.substr(root.size()));
        for (const fs::path& part : below) {
            EXPECT_NE(part, "..") << name;
            EXPECT_NE(part, ".") << name;
            EXPECT_LE(part.string().size(), 255u);
        }
        EXPECT_EQ(qm::MakeValidUtf8(name), name);
        EXPECT_EQ(name.find_first_of("\n\x01"), std::string::npos);
        EXPECT_TRUE(name.ends_with(".m3u") || name.ends_with(".wpl") || name.ends_with(".WPL"));
    }
}

TEST(M3U, NewListOverwriteAndAppend) {
    qmtest::TempDir dir;
    const std::string list = (dir / "sub" / "list.m3u").string();
    ASSERT_TRUE(PreparePlaylist(list, false));
    EXPECT_EQ(qmtest::ReadText(list), "#EXTM3U\r\n");
    ASSERT_TRUE(AddToPlaylist(list, "/music/01.mp3"));
    ASSERT_TRUE(AddToPlaylist(list, "/music/02.mp3"));
    EXPECT_EQ(qmtest::ReadText(list), "#EXTM3U\r\n/music/01.mp3\r\n/music/02.mp3\r\n");

    // Adding keeps what is there; a track listed in other letters is not added again.
    ASSERT_TRUE(PreparePlaylist(list, false));
    ASSERT_TRUE(AddToPlaylist(list, "/MUSIC/01.MP3"));
    ASSERT_TRUE(AddToPlaylist(list, "/music/03.mp3"));
    EXPECT_EQ(qmtest::ReadText(list),
              "#EXTM3U\r\n/music/01.mp3\r\n/music/02.mp3\r\n/music/03.mp3\r\n");

    // Overwriting starts again.
    ASSERT_TRUE(PreparePlaylist(list, true));
    EXPECT_EQ(qmtest::ReadText(list), "#EXTM3U\r\n");
}

TEST(M3U, ExistingListsAreCheckedAndRefusedOnesStayUntouched) {
    qmtest::TempDir dir;
    const fs::path list = dir / "list.m3u";
    qmtest::WriteText(list, "#extm3u\n/old.mp3");
    EXPECT_TRUE(PrepareM3U(list.string(), false));
    // A last line without its line end gets one before the new entry.
    EXPECT_TRUE(AddToM3U(list.string(), "/new.mp3"));
    EXPECT_EQ(qmtest::ReadText(list), "#extm3u\n/old.mp3\r\n/new.mp3\r\n");

    for (const std::string text : {"/music/a.mp3\r\n", "#EXTM3", "[playlist]\r\nFile1=a.mp3\r\n"}) {
        qmtest::WriteText(list, text);
        EXPECT_FALSE(PrepareM3U(list.string(), false)) << text;
        EXPECT_EQ(qmtest::ReadText(list), text);
    }
    EXPECT_FALSE(AddToM3U((dir / "missing.m3u").string(), "/a.mp3"));
    EXPECT_FALSE(fs::exists(dir / "missing.m3u"));
    // A path with a line break would become two entries.
    qmtest::WriteText(list, "#EXTM3U\r\n");
    EXPECT_FALSE(AddToM3U(list.string(), "/a.mp3\n/etc/passwd"));
    EXPECT_EQ(qmtest::ReadText(list), "#EXTM3U\r\n");
    // A folder where the list should be.
    fs::create_directory(dir / "folder.m3u");
    EXPECT_FALSE(PrepareM3U((dir / "folder.m3u").string(), true));
    EXPECT_FALSE(PrepareM3U((dir / "folder.m3u").string(), false));
}

TEST(M3U, RelativeTrackPathsAreListedAbsolute) {
    qmtest::TempDir dir;
    const std::string list = (dir / "list.m3u").string();
    ASSERT_TRUE(PrepareM3U(list, true));
    ASSERT_TRUE(AddToM3U(list, "out/01.mp3"));
    EXPECT_EQ(qmtest::ReadText(list),
              "#EXTM3U\r\n" + (fs::current_path() / "out/01.mp3").string() + "\r\n");
}

TEST(WPL, TwoTracksIntoANewList) {
    qmtest::TempDir dir;
    const std::string list = (dir / "list.wpl").string();
    ASSERT_TRUE(PreparePlaylist(list, false));
    EXPECT_EQ(qmtest::ReadText(list), kWplSkeleton);
    ASSERT_TRUE(AddToPlaylist(list, (dir / "01.wma").string()));
    ASSERT_TRUE(AddToPlaylist(list, (dir / "02.wma").string()));
    EXPECT_EQ(qmtest::ReadText(list), "<?wpl version=\"1.0\"?>\r\n<smil>\r\n<head>\r\n"
                                      "<title>Playlist</title>\r\n</head>\r\n<body>\r\n<seq>\r\n"
                                      "<media src=\"01.wma\"/>\r\n<media src=\"02.wma\"/>\r\n"
                                      "</seq>\r\n</body>\r\n</smil>\r\n");
    // No duplicate check in a WPL.
    ASSERT_TRUE(AddToPlaylist(list, (dir / "02.wma").string()));
    EXPECT_NE(qmtest::ReadText(list).find("\"02.wma\"/>\r\n<media src=\"02.wma\""),
              std::string::npos);
    EXPECT_TRUE(qmtest::XmlWellFormed(list));
    EXPECT_FALSE(fs::exists(list + "tmp"));
}

TEST(WPL, RelativePathsOnlyBelowTheListsFolderAndEscaping) {
    qmtest::TempDir dir;
    const std::string list = (dir / "Music" / "list.wpl").string();
    ASSERT_TRUE(PrepareWPL(list, true));
    ASSERT_TRUE(AddToWPL(list, (dir / "Music" / "Album" / "01.wma").string()));
    ASSERT_TRUE(AddToWPL(list, "/elsewhere/Album/01.wma"));
    // Other letters name another folder here.
    ASSERT_TRUE(AddToWPL(list, (dir / "music" / "02.wma").string()));
    ASSERT_TRUE(AddToWPL(list, (dir / "Music" / "Tom & Jerry's <\"best\">.wma").string()));
    ASSERT_TRUE(AddToWPL(list, (dir / "Music" / "bad\xFF\x01.wma").string()));
    const std::string text = qmtest::ReadText(list);
    EXPECT_NE(text.find("<media src=\"Album/01.wma\"/>"), std::string::npos);
    EXPECT_NE(text.find("<media src=\"/elsewhere/Album/01.wma\"/>"), std::string::npos);
    EXPECT_NE(text.find("<media src=\"" + (dir / "music" / "02.wma").string() + "\"/>"),
              std::string::npos);
    EXPECT_NE(text.find("<media src=\"Tom &amp; Jerry&apos;s &lt;&quot;best&quot;&gt;.wma\"/>"),
              std::string::npos);
    EXPECT_NE(text.find("bad\xEF\xBF\xBD\xEF\xBF\xBD.wma"), std::string::npos);
    std::string complaint;
    EXPECT_TRUE(qmtest::XmlWellFormed(list, &complaint)) << complaint;
}

TEST(WPL, ListsOfOtherProgramsAndBrokenLists) {
    qmtest::TempDir dir;
    const fs::path list = dir / "list.wpl";
    // Tags over several lines, a quoted '>' and a "</seq>" inside a value.
    const std::string other = "<?wpl version=\"1.0\"?>\n<smil><head><meta name=\"x\" content=\"a>"
                              "</seq>\"/></head>\n<body><seq><media src=\"a.mp3\"\n/></seq\n>"
                              "</body></smil>\n";
    qmtest::WriteText(list, other);
    ASSERT_TRUE(PrepareWPL(list.string(), false));
    EXPECT_EQ(qmtest::ReadText(list), other); // an existing list is not checked or changed
    ASSERT_TRUE(AddToWPL(list.string(), (dir / "b.mp3").string()));
    EXPECT_EQ(qmtest::ReadText(list),
              "<?wpl version=\"1.0\"?>\r\n<smil><head><meta name=\"x\" content=\"a>"
              "</seq>\"/></head>\r\n<body><seq><media src=\"a.mp3\"\r\n/>"
              "<media src=\"b.mp3\"/>\r\n</seq\r\n></body></smil>\r\n");

    // No "</seq>": the list stays as it is, and that is no error.
    const std::string noSeq = "<smil><body></body></smil>\n";
    qmtest::WriteText(list, noSeq);
    EXPECT_TRUE(AddToWPL(list.string(), "/x.mp3"));
    EXPECT_EQ(qmtest::ReadText(list), noSeq);
    // Tags that do not read: an error, reported after the entry went in.
    qmtest::WriteText(list, "<a <b>\n>\n<seq></seq>\n");
    EXPECT_FALSE(AddToWPL(list.string(), "/x.mp3"));
    EXPECT_EQ(qmtest::ReadText(list), "<a <b>\r\n>\r\n<seq><media src=\"/x.mp3\"/>\r\n</seq>\r\n");
    EXPECT_FALSE(AddToWPL((dir / "missing.wpl").string(), "/x.mp3"));
}

TEST(WPL, AFailedRewriteLeavesTheOldList) {
    qmtest::TempDir dir;
    const std::string list = (dir / "list.wpl").string();
    ASSERT_TRUE(PrepareWPL(list, false));
    ASSERT_TRUE(AddToWPL(list, (dir / "01.mp3").string()));
    const std::string before = qmtest::ReadText(list);
    // The temporary file cannot be made: a folder stands in its place.
    fs::create_directory(list + "tmp");
    EXPECT_FALSE(AddToWPL(list, (dir / "02.mp3").string()));
    EXPECT_EQ(qmtest::ReadText(list), before);
    fs::remove(list + "tmp");

    // A list kept read-only stays as it is, although a rename could replace it.
    using fs::perms;
    qmtest::OpenToEveryone(dir.path());
    fs::permissions(list, perms::owner_read | perms::group_read | perms::others_read);
    const auto attempt = [&] {
        return qmtest::RunUnprivileged([&] {
            return AddToWPL(list, (dir / "03.mp3").string()) || PrepareWPL(list, true) ||
                           PrepareM3U(list, true)
                       ? 1
                       : 0;
        });
    };
    EXPECT_EQ(attempt(), 0);
    EXPECT_EQ(qmtest::ReadText(list), before);
    // So does a writable list in a folder where no temporary file can be made.
    fs::permissions(list, perms::owner_read | perms::owner_write | perms::group_read |
                              perms::group_write | perms::others_read | perms::others_write);
    fs::permissions(dir.path(), perms::owner_all | perms::group_read | perms::group_exec |
                                    perms::others_read | perms::others_exec);
    EXPECT_EQ(attempt(), 0);
    EXPECT_EQ(qmtest::ReadText(list), before);
    fs::permissions(dir.path(), perms::all);
}

TEST(WPL, TheListKeepsItsPermissionsAndALinkStaysALink) {
    qmtest::TempDir dir;
    fs::create_directory(dir / "real");
    const std::string real = (dir / "real" / "list.wpl").string();
    ASSERT_TRUE(PrepareWPL(real, false));
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(real, dir / "link.wpl");
    ASSERT_TRUE(AddToWPL((dir / "link.wpl").string(), (dir / "real" / "01.mp3").string()));
    EXPECT_TRUE(fs::is_symlink(dir / "link.wpl"));
    // Relative to the folder of the list as it was named.
    EXPECT_NE(qmtest::ReadText(real).find("<media src=\"real/01.mp3\"/>"), std::string::npos);
    EXPECT_EQ(fs::status(real).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(Playlists, APlayersParserReadsBothFormats) {
    qmtest::TempDir dir;
    const fs::path music = dir / "Mus & ic" / "Zoë's";
    fs::create_directories(music);
    std::vector<std::string> tracks;
    for (const char* name : {"01 - One.wav", "02 - Two & Three.wav", "03 - \"Four\".wav"}) {
        tracks.push_back((music / name).string());
        qmtest::WriteText(tracks.back(), "");
    }
    for (const char* name : {"list.m3u", "list.wpl"}) {
        const std::string list = (dir / "Mus & ic" / name).string();
        ASSERT_TRUE(PreparePlaylist(list, true));
        for (const std::string& track : tracks) {
            ASSERT_TRUE(AddToPlaylist(list, track));
        }
        const qmtest::PlaylistEntries entries = qmtest::ReadPlaylist(list);
        ASSERT_TRUE(entries.ok) << name;
        EXPECT_EQ(entries.paths, tracks) << name;
    }
}

} // namespace
