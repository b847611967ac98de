// The track list on disc images: what a refresh shows (no disc, names from
// the cache or none, data tracks, times, format texts), the info bar's names
// reaching the tags, the mixed-CD test and mode, label edits and the format
// combo.
#include <gtest/gtest.h>

#include "JobFixture.h"
#include "settings/WmaConfigurationTable.h"
#include "support/TagReader.h"

namespace jobtest {
namespace {

class TrackList : public JobFixture {};

TEST_F(TrackList, WithoutADiscOneRowSaysSo) {
    ASSERT_TRUE(list.Refresh()); // the ripper has no drive
    EXPECT_FALSE(list.HasDisc());
    EXPECT_EQ(view.rowCount, 1);
    EXPECT_FALSE(view.checkBoxes);
    EXPECT_EQ(view.rows[0], (TrackRowTexts{"--", "No CD in drive", "", ""}));
    EXPECT_FALSE(view.haveDisc);
    EXPECT_EQ(view.info.artist, "");
    EXPECT_EQ(data.GetFirstTrack(), -1);
    EXPECT_FALSE(list.IsMixedCD());
}

TEST_F(TrackList, RefreshShowsTheCachedNamesTimesAndFormats) {
    DiscNames names;
    names.titles = {"First", ""};
    data.Settings().job.MarkAllOnRefresh = true;
    InsertDisc({{false, 0, 62 * kSecond + 10}, {false, 0, kSecond}, {true, 11400, 40}}, &names);
    ASSERT_EQ(view.rowCount, 3);
    EXPECT_TRUE(view.checkBoxes);
    EXPECT_EQ(view.rows[0], (TrackRowTexts{" 1", "First", "", "01:02"}));
    EXPECT_EQ(view.rows[1], (TrackRowTexts{" 2", "track2", "", "00:01"}));
    EXPECT_EQ(view.rows[2].title, "Data track");
    EXPECT_EQ(view.formats[0], "MP3/44100Hz,128 - 192 kbps");
    EXPECT_EQ(view.formats[2], "");
    EXPECT_EQ(view.info, (InfoBarValues{"The Testers", "Grab Suite", "2021", "Jazz", true}));
    const CID3Tag& tag = data.Tracks()[0].tag;
    EXPECT_EQ(tag.GetTag("Artist"), "The Testers");
    EXPECT_EQ(tag.GetTag("Year"), "2021");
    EXPECT_EQ(tag.GetTag("Genre"), "Jazz");
    EXPECT_EQ(data.GetDiscTexts().album, "Grab Suite");
    // Mark-all was asked for, and carried out: audio rows only.
    EXPECT_EQ(view.commands, (std::vector<TracksCommand>{TracksCommand::kMarkAll}));
    EXPECT_TRUE(view.checked[0]);
    EXPECT_FALSE(view.checked[2]);
    EXPECT_TRUE(list.HasDataTracks());

    // Without the local cache the names are not read (nor asked for).
    data.Settings().cddb.AutoLoadLocalCDDB = false;
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(view.rows[0].title, "track1");
    EXPECT_EQ(view.info.artist, "");
}

// Names typed into the info bar replace the tag values that still held the
// disc's old ones; a track's own differing value stays.
TEST_F(TrackList, InfoBarNamesReachTheTags) {
    DiscNames names;
    names.titles = {"One", "Two"};
    InsertDisc({{false, 0, kSecond}, {false, 0, kSecond}}, &names);
    data.Tracks()[1].tag.SetTag("Album", "Own Album");
    view.info = InfoBarValues{"New Artist", "New Album", "1999", "Rock", false};
    list.UpdateCDInfo(true);
    EXPECT_EQ(data.Tracks()[0].tag.GetTag("Album"), "New Album");
    EXPECT_EQ(data.Tracks()[0].tag.GetTag("Artist"), "New Artist");
    EXPECT_EQ(data.Tracks()[0].tag.GetTag("Year"), "1999");
    EXPECT_EQ(data.Tracks()[1].tag.GetTag("Album"), "Own Album");
    EXPECT_EQ(data.Tracks()[1].tag.GetTag("Genre"), "Rock");
    EXPECT_EQ(data.GetDiscTexts(), (DiscTexts{"New Album", "New Artist", "1999", "Rock"}));
    EXPECT_EQ(data.Ripper().GetDiscInfo().artist, "New Artist");
    EXPECT_FALSE(data.Settings().window.StoreTrackNumber);
}

// Two artists among the audio tracks: with automatic detection the refresh
// switches to mixed-CD mode (the artist column at index 2), and a grab tags
// each track with its own artist, not the info bar's.
TEST_F(TrackList, MixedDiscSwitchesTheModeAndKeepsEachArtist) {
    QuavermillSettings& settings = data.Settings();
    settings.naming.AutoDetectMixedCD = true;
    settings.naming.ParseMixedCD = true;
    settings.naming.NameFormat = "{TRACK} {ARTIST}";
    settings.DefaultTrack.format.format = OutputFormat::FLAC;
    DiscNames names;
    names.artist = "Various";
    names.titles = {"Ann / Morning", "Bob / Evening"};
    InsertDisc({{false, 0, 40}, {false, 0, 40}}, &names);
    EXPECT_TRUE(list.IsMixedCD());
    EXPECT_EQ(view.commands, (std::vector<TracksCommand>{TracksCommand::kToggleMixedCD}));
    EXPECT_TRUE(list.IsMixedCDMode());
    EXPECT_TRUE(view.mixedMode);
    EXPECT_EQ(list.GetArtistColumn(), 2);
    EXPECT_EQ(list.GetTimeColumn(), 3);
    EXPECT_EQ(list.GetStatusColumn(), 5);
    EXPECT_EQ(view.rows[1].artist, "Bob");
    EXPECT_EQ(view.rows[1].title, "Evening");

    job.StartProcess();
    RunJob();
    EXPECT_EQ(qmtest::ReadTagsWithMutagen(dir / "out" / "01 Ann.flac").One("ARTIST"), "Ann");
    EXPECT_EQ(qmtest::ReadTagsWithMutagen(dir / "out" / "02 Bob.flac").One("ARTIST"), "Bob");

    // A label edit in the artist column changes that track's artist.
    list.OnEndEditLabel(0, CTrackList::kArtistColumn, "Cy");
    EXPECT_EQ(view.rows[0].artist, "Cy");
    EXPECT_EQ(data.Tracks()[0].tag.GetTag("Artist"), "Cy");
    list.EnableMixedCDMode(false);
    EXPECT_EQ(list.GetArtistColumn(), -1);
    EXPECT_EQ(list.GetStatusColumn(), 4);
    EXPECT_EQ(view.rows[0].artist, "");
}

TEST_F(TrackList, LabelEditsKeep300CharactersAndTheComboFollowsTheSelection) {
    InsertDisc({{false, 0, 40}, {false, 0, 40}, {false, 0, 40}});
    std::string title;
    for (int i = 0; i < 400; ++i) {
        title += "é";
    }
    list.OnEndEditLabel(1, CTrackList::kTitleColumn, title);
    EXPECT_EQ(data.Tracks()[1].tag.GetTag("Title"), title.substr(0, 600));
    EXPECT_EQ(view.rows[1].title, title.substr(0, 600));
    // Not in mixed-CD mode: there is no artist column to edit.
    list.OnEndEditLabel(1, CTrackList::kArtistColumn, "Nobody");
    EXPECT_EQ(data.Tracks()[1].tag.GetTag("Artist"), "");

    data.Tracks()[2].format.format = OutputFormat::OGG;
    list.SetSelected(0, true);
    list.SetSelected(1, true);
    list.SyncFormat();
    EXPECT_TRUE(view.haveDisc);
    EXPECT_EQ(view.comboFormat, OutputFormat::MP3);
    list.SetSelected(2, true);
    list.SyncFormat();
    EXPECT_EQ(view.comboFormat, std::nullopt);
}

TEST(FormatDescription, EveryFormatReadsAsTheColumnShowsIt) {
    FormatSettings format;
    format.format = OutputFormat::WMA;
    EXPECT_EQ(CTrackList::FormatDescription(format), "WMA/128kbps, 44100Hz,stereo");
    format.wma.configuration = 38;
    EXPECT_EQ(CTrackList::FormatDescription(format), "WMA/ 98(1pass), 44100Hz,stereo");
    format.wma.configuration = 48;
    EXPECT_EQ(CTrackList::FormatDescription(format), "WMA/128kbps(2passes), 44100Hz,stereo");
    format.wma.configuration = 0;
    // Below 24 kbit/s and lossless are beyond what the encoder writes: the
    // column says so before a grab fails on them.
    EXPECT_EQ(CTrackList::FormatDescription(format), "WMA/  8kbps,  8000Hz,mono (not available)");
    format.wma.lossless = true;
    EXPECT_EQ(CTrackList::FormatDescription(format), "WMA/Loseless (not available)");

    format.format = OutputFormat::MP3;
    EXPECT_EQ(CTrackList::FormatDescription(format), "MP3/44100Hz,128 - 192 kbps");
    format.mp3.avgBitrate = 160;
    EXPECT_EQ(CTrackList::FormatDescription(format), "MP3/44100Hz,128 - 160 - 192 kbps");
    format.mp3.variable = false;
    EXPECT_EQ(CTrackList::FormatDescription(format), "MP3/44100Hz,128 kbps");

    format.format = OutputFormat::OGG;
    EXPECT_EQ(CTrackList::FormatDescription(format), "OGG/44100Hz, q: 5.00,stereo");
    format.ogg.abr = true;
    format.ogg.channels = 1;
    EXPECT_EQ(CTrackList::FormatDescription(format), "OGG/44100Hz, 128kbps,mono");

    format.format = OutputFormat::WAV;
    format.wav.sampleRate = 22050;
    format.wav.bits = 8;
    EXPECT_EQ(CTrackList::FormatDescription(format), "WAV/22050Hz,stereo,8 bits");

    format.format = OutputFormat::APE;
    const char* levels[] = {"Fast", "Normal", "High", "Extra high", "Insane", "Extra high"};
    for (std::uint8_t level = 0; level < 6; ++level) {
        format.ape.compressionLevel = level;
        EXPECT_EQ(CTrackList::FormatDescription(format),
                  std::string("APE/44100Hz,stereo,") + levels[level]);
    }

    format.format = OutputFormat::FLAC;
    format.flac.channels = 1;
    format.flac.compressionLevel = 5;
    EXPECT_EQ(CTrackList::FormatDescription(format), "FLAC/44100Hz,mono,level 5");
}

} // namespace
} // namespace jobtest
