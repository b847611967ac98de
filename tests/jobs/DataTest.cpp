// The shared data on real disc images: naming from the disc in the drive,
// the local cache under the data folder (the demo disc's entry included),
// and playlists of a real grab read back by a player's parser.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/Diagnostics.h"
#include "core/Text.h"
#include "disc/DriveList.h"
#include "disc/LocalCDDB.h"
#include "encoders/WAVWriter.h"
#include "jobs/Data.h"
#include "output/Naming.h"
#include "platform/UserFolders.h"
#include "support/DiscImage.h"
#include "support/Oracles.h"
#include "support/PlaylistReader.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kSecond = 75;

// A disc of three one-second tracks in the drive, and the shared data with
// a record per track and its data folder in a temporary folder.
class DataTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_image = qmtest::WriteTestImage(
            m_dir.path(), "disc", {{false, 0, kSecond}, {false, 0, kSecond}, {false, 0, kSecond}});
        m_drive = std::make_unique<qmtest::ScopedDrive>(m_image.layout.sheet);
        ASSERT_TRUE(m_data.Ripper().Attach(m_drive->Index(), 0));
        m_data.Tracks().assign(3, m_data.DefaultTrack());
        m_data.SetDataFolder(m_dir / "data");
    }

    qmtest::TempDir m_dir;
    qmtest::TestImage m_image;
    std::unique_ptr<qmtest::ScopedDrive> m_drive;
    CData m_data;
};

TEST_F(DataTest, FormatNameReadsTheDiscInTheDrive) {
    m_data.Settings().naming.OutputFolder = (m_dir / "out").string();
    const std::string hex = qm::Format("%X", m_data.GetCDDBID());
    m_data.Settings().naming.NameFormat = "{DISKID}\\{TRACK} {TITLE}";
    m_data.Tracks()[1].tag.SetTag("Title", "Second");
    m_data.Tracks()[1].format.format = OutputFormat::FLAC;
    EXPECT_EQ(m_data.FormatName(1), (m_dir / "out" / hex / "01 UnknownTitle.mp3").string());
    EXPECT_EQ(m_data.FormatName(2), (m_dir / "out" / hex / "02 Second.flac").string());
    EXPECT_EQ(m_data.FormatName(0), "");
    EXPECT_EQ(m_data.FormatName(4), "");
    // A track of the disc without a record.
    m_data.Tracks().resize(2);
    EXPECT_EQ(m_data.FormatName(3), "");

    // The album variant: the album record, no folder.
    TrackRecord album = m_data.DefaultTrack();
    album.format.format = OutputFormat::WAV;
    m_data.Ripper().GetDiscInfo().title = "Whole: Album";
    EXPECT_EQ(m_data.FormatName("{ALBUM} {TRACK} {DISKID}", album), "Whole Album XX {DISKID}.wav");

    // No disc: no name, no id, no cache.
    m_data.Ripper().Detach();
    std::int32_t first = 0;
    std::int32_t last = 0;
    m_data.GetTrackRange(&first, &last);
    EXPECT_EQ(first, -1);
    EXPECT_EQ(last, -1);
    EXPECT_EQ(m_data.FormatName(1), "");
    EXPECT_EQ(m_data.GetCDDBID(), 0u);
    EXPECT_FALSE(m_data.SaveLocalCDDB());
    EXPECT_FALSE(m_data.LoadLocalCDDB());
}

TEST_F(DataTest, TheCacheLivesInTheDataFolder) {
    DiscInfo& disc = m_data.Ripper().GetDiscInfo();
    disc.artist = "AC/DC";
    disc.title = "Back in Black";
    disc.genre = "hard rock";
    disc.year = 1980;
    m_data.Tracks()[0].tag.SetTag("Title", "Hells Bells");
    m_data.Tracks()[2].tag.SetTag("Title", "What?");
    ASSERT_TRUE(m_data.SaveLocalCDDB());
    const fs::path entry = m_dir / "data" / "Local CDDB" / LocalCDDBFileName(m_data.GetCDDBID());
    EXPECT_TRUE(fs::is_regular_file(entry));

    CData fresh;
    fresh.SetDataFolder(m_dir / "data");
    ASSERT_TRUE(fresh.Ripper().Attach(m_drive->Index(), 0));
    fresh.Tracks().assign(3, fresh.DefaultTrack());
    ASSERT_TRUE(fresh.LoadLocalCDDB());
    EXPECT_EQ(fresh.GetDiscTexts(), (DiscTexts{"Back in Black", "AC/DC", "1980", "hard rock"}));
    EXPECT_EQ(fresh.Tracks()[0].tag.GetTag("Title"), "Hells Bells");
    EXPECT_EQ(fresh.Tracks()[2].tag.GetTag("Title"), "What?");
    EXPECT_EQ(fresh.Tracks()[1].tag.GetTag("Genre"), "Hard Rock");
    EXPECT_EQ(fresh.Ripper().GetDiscInfo().tracks.size(), 3u);

    // Another data folder has no entry for the disc.
    fresh.SetDataFolder(m_dir / "elsewhere");
    EXPECT_FALSE(fresh.LoadLocalCDDB());
}

TEST_F(DataTest, PlaylistsOfAGrabOfThreeTracksReadInAPlayersParser) {
    DiscInfo& disc = m_data.Ripper().GetDiscInfo();
    disc.artist = "AC/DC";
    disc.title = "Live & Loud";
    const char* titles[] = {"What?", "Rock <N> Roll", "It's \"Here\""};
    for (std::size_t i = 0; i < 3; ++i) {
        m_data.Tracks()[i].tag.SetTag("Title", titles[i]);
        m_data.Tracks()[i].format.format = OutputFormat::WAV;
    }
    NamingSettings& naming = m_data.Settings().naming;
    naming.OutputFolder = (m_dir / "Music").string();
    naming.NameFormat = "{ARTIST}\\{ALBUM}\\{TRACK} - {TITLE}";
    PlaylistSettings& playlist = m_data.Settings().playlist;
    playlist.AddToPlaylist = true;
    playlist.AddTo = kMaskPlaylist;
    playlist.IfPlayListExist = kOverwritePlaylist;

    std::vector<std::string> lists;
    for (const char* mask : {"{ARTIST} - {ALBUM}", "{ARTIST}\\{ALBUM}.wpl"}) {
        playlist.MaskPlaylist = mask;
        lists.push_back(m_data.GeneratePlaylistName());
        ASSERT_TRUE(m_data.PreparePlaylist(lists.back()));
    }
    EXPECT_EQ(lists[0], (m_dir / "Music" / "ACDC - Live & Loud.m3u").string());
    EXPECT_EQ(lists[1], (m_dir / "Music" / "ACDC" / "Live & Loud.wpl").string());

    std::vector<std::string> tracks;
    for (std::int32_t track = 1; track <= 3; ++track) {
        const std::string path = m_data.FormatName(track);
        ASSERT_TRUE(PrepareDirectory(path));
        CWAVWriter writer;
        auto finish = qm::Event::Create();
        ASSERT_EQ(writer.Open(path.c_str()), 1);
        CCDRipper& ripper = m_data.Ripper();
        ASSERT_TRUE(ripper.ProcessSettings(track, &writer, true));
        g_Error.ResetAll();
        ripper.SetError(&g_Error);
        ripper.SetFinishEvent(finish);
        ASSERT_EQ(ripper.Start(), 1);
        ASSERT_TRUE(finish->Wait(std::chrono::seconds(10)));
        ASSERT_FALSE(g_Error.IsAnyActual());
        for (const std::string& list : lists) {
            ASSERT_TRUE(m_data.AddToPlaylist(list, path));
        }
        tracks.push_back(path);
    }
    EXPECT_EQ(tracks[1],
              (m_dir / "Music" / "ACDC" / "Live & Loud" / "02 - Rock N Roll.wav").string());

    for (const std::string& list : lists) {
        const qmtest::PlaylistEntries entries = qmtest::ReadPlaylist(list);
        ASSERT_TRUE(entries.ok) << list;
        EXPECT_EQ(entries.paths, tracks) << list;
        for (const std::string& entry : entries.paths) {
            const qmtest::StreamInfo info = qmtest::Probe(entry);
            EXPECT_TRUE(info.ok) << entry;
            EXPECT_NEAR(info.duration, 1.0, 0.01) << entry;
        }
    }
    std::string complaint;
    EXPECT_TRUE(qmtest::XmlWellFormed(lists[1], &complaint)) << complaint;
}

TEST(DataFolder, DefaultAndOption) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string savedValue = saved != nullptr ? saved : "";
    ::setenv("XDG_DATA_HOME", "/xdg/data", 1);
    EXPECT_EQ(qm::DefaultDataFolder(), fs::path("/xdg/data/Quavermill"));
    EXPECT_EQ(CData().DataFolder(), fs::path("/xdg/data/Quavermill"));
    ::setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
    EXPECT_EQ(qm::DefaultDataFolder(), qm::HomeFolder() / ".local/share/Quavermill");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(qm::DefaultDataFolder(), qm::HomeFolder() / ".local/share/Quavermill");
    EXPECT_EQ(qm::ResolveDataFolder(""), qm::DefaultDataFolder());
    EXPECT_EQ(qm::ResolveDataFolder("~/qm"), qm::HomeFolder() / "qm");
    EXPECT_EQ(qm::ResolveDataFolder("/srv/qm"), fs::path("/srv/qm"));
    if (saved != nullptr) {
        ::setenv("XDG_DATA_HOME", savedValue.c_str(), 1);
    }
    CData data;
    data.SetDataFolder("/srv/qm");
    EXPECT_EQ(data.LocalCDDBFolder(), fs::path("/srv/qm/Local CDDB"));
}

TEST(DemoDisc, ItsCacheEntryNamesTheDisc) {
    qmtest::TempDir dir;
    const qmtest::CommandResult made = qmtest::Run(qmtest::ShellQuote(QM_MAKE_DEMO_DISC) + " " +
                                                       qmtest::ShellQuote(dir.path().string()),
                                                   true);
    ASSERT_EQ(made.exitCode, 0) << made.out;
    qmtest::ScopedDrive drive(dir / "demo.cue");
    CData data;
    data.SetDataFolder(dir.path());
    ASSERT_TRUE(data.Ripper().Attach(drive.Index(), 0));
    data.Tracks().assign(6, data.DefaultTrack());
    ASSERT_TRUE(data.LoadLocalCDDB());
    EXPECT_EQ(data.GetDiscTexts(),
              (DiscTexts{"Demo Disc", "The Quavermill Players", "2024", "Instrumental"}));
    const char* titles[] = {"Opening Lines", "Copper Kettle",  "Slow River",
                            "Night Market",  "Paper Lanterns", "Last Light"};
    for (std::size_t i = 0; i < 6; ++i) {
        const CID3Tag& tag = data.Tracks()[i].tag;
        EXPECT_EQ(tag.GetTag("Title"), titles[i]);
        EXPECT_EQ(tag.GetTag("Artist"), "The Quavermill Players");
        EXPECT_EQ(tag.GetTag("Album"), "Demo Disc");
        EXPECT_EQ(tag.GetTag("Year"), "2024");
        EXPECT_EQ(tag.GetTag("Genre"), "Instrumental");
    }
    // And the demo grab's names follow from it.
    data.Settings().naming.OutputFolder = "/demo-out";
    data.Settings().naming.NameFormat = "{ARTIST}/{ALBUM}/{TRACK} - {TITLE}";
    EXPECT_EQ(data.FormatName(4),
              "/demo-out/The Quavermill Players/Demo Disc/04 - Night Market.mp3");
}

} // namespace
