#include <gtest/gtest.h>

#include "settings/Settings.h"
#include "settings/WmaConfigurationTable.h"
#include "support/Pcm.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// A store file holding `values`, opened for reading.
class StoreFile {
public:
    explicit StoreFile(const std::vector<std::pair<std::string, std::string>>& values = {}) {
        auto store = qm::OpenSettingsStore(path(), qm::StoreOpen::Create);
        for (const auto& [name, value] : values) {
            store->WriteString(name, value);
        }
        EXPECT_TRUE(store->Save());
    }
    fs::path path() const { return m_dir / "Quavermill.conf"; }
    std::unique_ptr<qm::SettingsStore> Open() const {
        return qm::OpenSettingsStore(path(), qm::StoreOpen::Existing);
    }
    std::string Text() const {
        const auto bytes = qmtest::ReadFile(path());
        return std::string(bytes.begin(), bytes.end());
    }

private:
    qmtest::TempDir m_dir;
};

QuavermillSettings Loaded(const std::vector<std::pair<std::string, std::string>>& values,
                          int driveCount = 0) {
    StoreFile file(values);
    QuavermillSettings settings;
    settings.drive.driveCount = driveCount;
    LoadSettings(settings, *file.Open());
    return settings;
}

// Points the program's store at a file of the test's own.
class SettingsPathGuard {
public:
    explicit SettingsPathGuard(const fs::path& file) { qm::SetSettingsPath(file); }
    ~SettingsPathGuard() { qm::SetSettingsPath({}); }
};

TEST(Settings, FirstRunWithoutAStore) {
    qmtest::TempDir dir;
    SettingsPathGuard guard(dir / "missing" / "Quavermill.conf");
    QuavermillSettings settings;
    EXPECT_FALSE(LoadSettings(settings));
    EXPECT_EQ(settings, QuavermillSettings());

    const FormatSettings& f = settings.DefaultTrack.format;
    EXPECT_EQ(f.format, OutputFormat::MP3);
    EXPECT_TRUE(settings.normalizer.Normalize);
    EXPECT_TRUE(settings.job.EjectAtEnd);
    EXPECT_TRUE(f.mp3.variable);
    EXPECT_EQ(f.mp3.minBitrate, 128u);
    EXPECT_EQ(f.mp3.maxBitrate, 192u);
    EXPECT_EQ(f.mp3.vbrQuality, 6);
    EXPECT_EQ(f.mp3.channels, 1); // joint stereo
    EXPECT_EQ(f.wma.configuration, 28);
    EXPECT_EQ(f.flac.compressionLevel, 2);
    EXPECT_EQ(f.ogg.quality, 5.0f);
    EXPECT_TRUE(settings.DefaultTrack.enableTag);
    EXPECT_EQ(settings.naming.NameFormat, "track{TRACK}");
    EXPECT_EQ(settings.cddb.CDDBServer, "gnudb.gnudb.org");
    EXPECT_EQ(settings.cddb.HTTPPath, "/~cddb/cddb.cgi");
    EXPECT_EQ(settings.cddb.HTTPPort, 80);
    EXPECT_EQ(settings.normalizer.NormalizePeak, 96);
    EXPECT_EQ(settings.player.HowToPlay, 1);
}

TEST(Settings, DamagedStoreLoadsTheFirstRunValues) {
    qmtest::TempDir dir;
    const fs::path file = dir / "Quavermill.conf";
    SettingsPathGuard guard(file);
    for (const std::string& content :
         {std::string("[Quavermill]\nEjectAtEnd=False\nNormali"), std::string(4000, '\x01'),
          std::string("\xff\xfe[Quavermill]\n")}) {
        qmtest::WriteFile(file, qmtest::Bytes(content.begin(), content.end()));
        QuavermillSettings settings;
        EXPECT_FALSE(LoadSettings(settings));
        EXPECT_EQ(settings, QuavermillSettings());
    }
}

// A store that exists but lacks a value: each setting takes its
// missing-value default or keeps its first-run value.
TEST(Settings, MissingValuesTakeTheirDefaults) {
    const QuavermillSettings s = Loaded({}, 2);
    const QuavermillSettings first;
    EXPECT_FALSE(s.job.EjectAtEnd);
    EXPECT_FALSE(s.normalizer.Normalize);
    EXPECT_EQ(s.normalizer.NormalizePeak, 98);
    EXPECT_EQ(s.normalizer.NormalizeMinPeak, 91);
    EXPECT_EQ(s.normalizer.NormalizeMaxPeak, 99);
    const FormatSettings& f = s.DefaultTrack.format;
    EXPECT_EQ(f.flac.compressionLevel, 3);
    EXPECT_EQ(f.ape.compressionLevel, 3);
    EXPECT_EQ(f.wma.configuration, 29);
    EXPECT_EQ(f.ogg.avgBitrate, 128u);
    EXPECT_EQ(f.ogg.quality, 5.0f);
    // "keep": the first-run values stay.
    EXPECT_EQ(f.mp3, first.DefaultTrack.format.mp3);
    EXPECT_EQ(f.format, OutputFormat::MP3);
    EXPECT_EQ(s.naming.NameFormat, "track{TRACK}");
    EXPECT_EQ(s.cddb, first.cddb);
    EXPECT_EQ(s.player, first.player);
    EXPECT_TRUE(s.DefaultTrack.enableTag);
    EXPECT_TRUE(s.cddb.AutoLoadLocalCDDB);
    EXPECT_TRUE(s.drive.AutoDetectCD);
}

TEST(Settings, BooleansFollowTheirRules) {
    const QuavermillSettings s = Loaded({{"EnableTag", "false"},   // rule F: only "False" is off
                                         {"UseProxy", "true"},     // rule T: only "True" is on
                                         {"OGGABR", "True"},       // rule f: only "false" is off
                                         {"WMALoseless", "False"}, // ... so this is on
                                         {"AutoSaveLocalCDDB", "False"},
                                         {"Normalize", "True"},
                                         {"AddToPlaylist", "yes"}});
    EXPECT_TRUE(s.DefaultTrack.enableTag);
    EXPECT_FALSE(s.cddb.UseProxy);
    EXPECT_TRUE(s.DefaultTrack.format.ogg.abr);
    EXPECT_TRUE(s.DefaultTrack.format.wma.lossless);
    EXPECT_FALSE(s.cddb.AutoSaveLocalCDDB);
    EXPECT_TRUE(s.normalizer.Normalize);
    EXPECT_TRUE(s.playlist.AddToPlaylist);
}

TEST(Settings, NumbersAreParsedAndLimited) {
    const QuavermillSettings s = Loaded({
        {"OGGQuality", "750"},         {"WMAConfiguration", "56"}, {"FLACChannels", "1"},
        {"FLACCompressionLevel", "5"}, {"Column0Width", "1000"},   {"Column1Width", "999"},
        {"Column2Width", "0"},         {"CD-Drive", "-1"},         {"HTTPPort", "8080 and more"},
        {"ProxyPort", "none"},         {"NormalizePeak", "97.9"},  {"WAVBits", "24"},
        {"APECompressionLevel", "7"},  {"OGGAvgBitrate", "50"},    {"MP3AvgBitrate", "400"},
        {"MP3MinBitrate", "0"},        {"MP3MaxBitrate", "256"},   {"MP3VBRQuality", "-3"},
        {"CutFromBegin", " 1.5s"},     {"RipFirst", "1e1"},
    });
    const FormatSettings& f = s.DefaultTrack.format;
    EXPECT_EQ(f.ogg.quality, 7.5f);
    EXPECT_EQ(f.wma.configuration, 29);
    EXPECT_EQ(f.flac.compressionLevel, 3); // mono takes levels 0 and 3 only
    EXPECT_EQ(s.window.ColumnWidth[0], 0);
    EXPECT_EQ(s.window.ColumnWidth[1], 999);
    EXPECT_EQ(s.window.ColumnWidth[2], 0);
    EXPECT_EQ(s.drive.CDDrive, 0);
    EXPECT_EQ(s.cddb.HTTPPort, 8080);
    EXPECT_EQ(s.cddb.ProxyPort, 0);
    EXPECT_EQ(s.normalizer.NormalizePeak, 97);
    EXPECT_EQ(f.wav.bits, 16);
    EXPECT_EQ(f.ape.compressionLevel, 3);
    EXPECT_EQ(f.ogg.avgBitrate, 128u);
    EXPECT_EQ(f.mp3.avgBitrate, 320u);
    EXPECT_EQ(f.mp3.minBitrate, 128u); // ignored
    EXPECT_EQ(f.mp3.maxBitrate, 256u);
    EXPECT_EQ(f.mp3.vbrQuality, -3);
    EXPECT_EQ(s.DefaultTrack.cutFromBegin, 1.5);
    EXPECT_EQ(s.DefaultTrack.ripFirst, 10.0);

    EXPECT_EQ(Loaded({{"OGGQuality", "1200"}}).DefaultTrack.format.ogg.quality, 5.0f);
    EXPECT_EQ(Loaded({{"OGGQuality", "-1"}}).DefaultTrack.format.ogg.quality, 5.0f);
    EXPECT_EQ(Loaded({{"WMAConfiguration", "-1"}}).DefaultTrack.format.wma.configuration, 29);
    EXPECT_EQ(Loaded({{"WMAConfiguration", "55"}}).DefaultTrack.format.wma.configuration, 55);
    EXPECT_EQ(Loaded({{"FLACChannels", "1"}, {"FLACCompressionLevel", "0"}})
                  .DefaultTrack.format.flac.compressionLevel,
              0);
    EXPECT_EQ(Loaded({{"FLACChannels", "2"}, {"FLACCompressionLevel", "9"}})
                  .DefaultTrack.format.flac.compressionLevel,
              3);
    EXPECT_EQ(Loaded({{"FLACChannels", "2"}, {"FLACCompressionLevel", "8"}})
                  .DefaultTrack.format.flac.compressionLevel,
              8);
}

TEST(Settings, DefaultFormatSurvivesARestartForEveryFormat) {
    for (int format = 0; format <= 5; ++format) {
        EXPECT_EQ(
            Loaded({{"Default audio format", std::to_string(format)}}).DefaultTrack.format.format,
            static_cast<OutputFormat>(format));
    }
    EXPECT_EQ(Loaded({{"Default audio format", "6"}}).DefaultTrack.format.format,
              OutputFormat::MP3);
    EXPECT_EQ(Loaded({{"Default audio format", "-1"}}).DefaultTrack.format.format,
              OutputFormat::MP3);
}

TEST(Settings, TextChoicesAndTheRetiredServer) {
    QuavermillSettings s = Loaded({{"IfPlaylistExist", "Add to end"},
                                   {"AddTo", "MaskPlaylist"},
                                   {"JitterCorrection", "OnError"},
                                   {"CDDBServer", "FreeDB.FreeDB.org"},
                                   {"MainFrameRect", "10,20,800,600"},
                                   {"ReadMethod_CD0", "SCSI - NEC(2)"},
                                   {"ReadMethod_CD1", "SCSI - Unknown"},
                                   {"ReadMethod_CD2", "ASPI (2)"}},
                                  3);
    EXPECT_EQ(s.playlist.IfPlayListExist, kAppendToPlaylist);
    EXPECT_EQ(s.playlist.AddTo, kMaskPlaylist);
    EXPECT_EQ(s.drive.JitterCorrection, kJitterOnError);
    EXPECT_EQ(s.cddb.CDDBServer, "gnudb.gnudb.org");
    EXPECT_EQ(s.window.MainFrameRect, (WindowRect{10, 20, 800, 600}));
    EXPECT_EQ(s.drive.ReadMethod[0], 7);
    EXPECT_EQ(s.drive.ReadMethod[1], 0);
    EXPECT_EQ(s.drive.ReadMethod[2], 2);

    s = Loaded({{"IfPlayListExist", "Overwrite playlist"},
                {"AddTo", "anything"},
                {"JitterCorrection", "Sometimes"},
                {"CDDBServer", "cddb.example.org"},
                {"MainFrameRect", "10,x,30,40"}});
    EXPECT_EQ(s.playlist.IfPlayListExist, kOverwritePlaylist);
    EXPECT_EQ(s.playlist.AddTo, kMaskPlaylist);
    EXPECT_EQ(s.drive.JitterCorrection, kJitterNever);
    EXPECT_EQ(s.cddb.CDDBServer, "cddb.example.org");
    EXPECT_EQ(s.window.MainFrameRect, (WindowRect{10, 0, 0, 0}));
    EXPECT_EQ(Loaded({{"IfPlayListExist", "append"}}).playlist.IfPlayListExist, kAppendToPlaylist);
    EXPECT_EQ(Loaded({{"AddTo", "SpecifiedPlaylist"}}).playlist.AddTo, kSpecifiedPlaylist);
    EXPECT_EQ(Loaded({{"MainFrameRect", "-5, 7,1"}}).window.MainFrameRect,
              (WindowRect{-5, 7, 1, 0}));
}

TEST(Settings, TooLongAValueCountsAsMissing) {
    const QuavermillSettings s = Loaded({{"OutputFolder", std::string(5000, 'a')},
                                         {"EjectAtEnd", "True"},
                                         {"SoundFile", std::string(4095, 'b')}});
    EXPECT_EQ(s.naming.OutputFolder, "");
    EXPECT_EQ(s.player.SoundFile.size(), 4095u);
    EXPECT_TRUE(s.job.EjectAtEnd);
}

// Every setting away from its defaults, saved and loaded again.
QuavermillSettings Unusual() {
    QuavermillSettings s;
    TrackRecord& t = s.DefaultTrack;
    FormatSettings& f = t.format;
    f.format = OutputFormat::FLAC;
    f.flac = {1, 48000, 0};
    f.wav = {1, 22050, 8};
    f.ape = {1, 32000, 4};
    f.ogg = {192, 1, 32000, 7.3f, true};
    f.wma = {true, 55};
    f.mp3 = {2, 320, 200, 96, false, 3, 32000};
    t.tag.SetTag("Comment", "A comment, with; punctuation = ok");
    t.tag.SetTag("URL", "http://example.com/?a=1&b=2");
    t.tag.SetTag("Copyright", "(C) Björk");
    t.enableTag = false;
    t.useCustomTag = true;
    t.useAdditionalTag = true;
    t.cutFromTrack = true;
    t.doRipFirst = true;
    t.cutFromBegin = 1.5;
    t.cutFromEnd = 2.5;
    t.ripFirst = 30.0;
    s.window.ColumnWidth = {11, 222, 33, 44, 55, 666};
    s.window.MainFrameRect = {-10, 20, 1900, 1000};
    s.window.StoreTrackNumber = false;
    s.drive.CDDrive = 2;
    s.drive.AutoDetectCD = false;
    s.drive.JitterCorrection = kJitterAlways;
    s.drive.RipMaxSpeed = true;
    s.drive.driveCount = 3;
    s.drive.ReadMethod[0] = 4;
    s.drive.ReadMethod[1] = 8;
    s.drive.ReadMethod[2] = 1;
    s.cddb = {"cddb.example.org",
              "proxy.example.org",
              "me@example.org",
              "/cgi/cddb",
              8880,
              3128,
              true,
              true,
              true,
              "user",
              "pässwörd with spaces ",
              false,
              false};
    s.job = {true, true, true, true, false};
    s.naming = {"/music/out", "{ARTIST}\\{ALBUM}\\{TRACK} - {TITLE}", true, true, true};
    s.playlist = {true, kAppendToPlaylist, kMaskPlaylist, "/music/all.m3u", "{ARTIST}.wpl"};
    s.normalizer = {false, true, 90, 80, 95, true, 2048};
    s.player = {0, 3, true, "/sounds/done.wav"};
    s.metadata = {kSourcesBoth, "127.0.0.1:5000", "http://127.0.0.1:5001", true, "cover.jpg"};
    return s;
}

TEST(Settings, EverySettingSurvivesSaveAndLoad) {
    qmtest::TempDir dir;
    SettingsPathGuard guard(dir / "config" / "Quavermill.conf");
    const QuavermillSettings saved = Unusual();
    ASSERT_TRUE(SaveSettings(saved));
    QuavermillSettings loaded;
    loaded.drive.driveCount = 3;
    ASSERT_TRUE(LoadSettings(loaded));
    EXPECT_EQ(loaded.DefaultTrack.format, saved.DefaultTrack.format);
    EXPECT_EQ(loaded.DefaultTrack.tag.GetTag("Copyright"), "(C) Björk");
    EXPECT_EQ(loaded.cddb, saved.cddb);
    EXPECT_EQ(loaded, saved);

    // And once more: saving what was loaded writes the same text.
    const auto first = qmtest::ReadFile(dir / "config" / "Quavermill.conf");
    ASSERT_TRUE(SaveSettings(loaded));
    EXPECT_EQ(qmtest::ReadFile(dir / "config" / "Quavermill.conf"), first);
}

TEST(Settings, TheStoredTextIsPlainAndCanBeEditedByHand) {
    StoreFile file;
    {
        auto store = qm::OpenSettingsStore(file.path(), qm::StoreOpen::Create);
        QuavermillSettings s;
        s.DefaultTrack.format.ogg.quality = 0.29f; // 28.999... times 100 in a float
        s.DefaultTrack.cutFromEnd = 2.25;
        SaveSettings(s, *store);
        ASSERT_TRUE(store->Save());
    }
    const std::string text = file.Text();
    for (const char* line :
         {"\nEnableTag=True\n", "\nDefault audio format=1\n", "\nMainFrameRect=0,0,0,0\n",
          "\nOGGABR=false\n", "\nWMALoseless=false\n", "\nIfPlaylistExist=Overwrite playlist\n",
          "\nAddTo=SpecifiedPlaylist\n", "\nJitterCorrection=Never\n", "\nOGGQuality=29\n",
          "\nCutFromEnd=2.2\n", "\nNormalizePeak=96\n", "\nNameFormat=track{TRACK}\n",
          "\nProxyPassword=hex:\n", "\nCDDBServer=gnudb.gnudb.org\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    // A hand edit is read back.
    std::string edited = text;
    const std::string from = "Default audio format=1";
    edited.replace(edited.find(from), from.size(), "Default audio format = 2");
    qmtest::WriteFile(file.path(), qmtest::Bytes(edited.begin(), edited.end()));
    QuavermillSettings s;
    LoadSettings(s, *file.Open());
    EXPECT_EQ(s.DefaultTrack.format.format, OutputFormat::OGG);
    EXPECT_EQ(s.DefaultTrack.format.ogg.quality, 0.29f);
}

TEST(Settings, ProxyPasswordIsStoredEnciphered) {
    StoreFile file;
    auto store = qm::OpenSettingsStore(file.path(), qm::StoreOpen::Create);
    QuavermillSettings s;
    s.cddb.ProxyPassword = "secret";
    SaveSettings(s, *store);
    // RC4 under the MD5 of the pass phrase, as openssl computes it.
    EXPECT_EQ(store->ReadBinary("ProxyPassword"),
              (qmtest::Bytes{0xa3, 0xc7, 0xd9, 0x92, 0xb9, 0xa8}));
    QuavermillSettings loaded;
    LoadSettings(loaded, *store);
    EXPECT_EQ(loaded.cddb.ProxyPassword, "secret");

    s.cddb.ProxyPassword = "";
    SaveSettings(s, *store);
    EXPECT_EQ(store->ReadBinary("ProxyPassword"), qmtest::Bytes{});
    loaded.cddb.ProxyPassword = "stale";
    LoadSettings(loaded, *store);
    EXPECT_EQ(loaded.cddb.ProxyPassword, "");

    // A value that is not binary (typed by hand) gives no password.
    store->WriteString("ProxyPassword", "plain text");
    LoadSettings(loaded, *store);
    EXPECT_EQ(loaded.cddb.ProxyPassword, "");

    // At most 1000 bytes are kept, cut on a character boundary.
    s.cddb.ProxyPassword = std::string(999, 'x') + "é";
    SaveSettings(s, *store);
    LoadSettings(loaded, *store);
    EXPECT_EQ(loaded.cddb.ProxyPassword, std::string(999, 'x'));
}

TEST(Settings, SavingKeepsTheValuesOthersKeepInTheStore) {
    qmtest::TempDir dir;
    SettingsPathGuard guard(dir / "Quavermill.conf");
    ASSERT_TRUE(ChangeSettingsStore([](qm::SettingsStore& store) {
        SaveApplyNow({true, false, true, false, false, true, false}, store);
        SaveLogWindowPosition({1, 2, 3, 4}, store);
        store.WriteString("IfPlayListExist", "Add to end"); // the reader's spelling
    }));
    QuavermillSettings settings;
    ASSERT_TRUE(LoadSettings(settings));
    EXPECT_EQ(settings.playlist.IfPlayListExist, kAppendToPlaylist);
    ASSERT_TRUE(SaveSettings(settings));
    ASSERT_TRUE(ReadSettingsStore([](const qm::SettingsStore& store) {
        ApplyNowSettings applyNow;
        LoadApplyNow(applyNow, store);
        EXPECT_EQ(applyNow, (ApplyNowSettings{true, false, true, false, false, true, false}));
        LogWindowPosition position;
        EXPECT_TRUE(LoadLogWindowPosition(position, store));
        EXPECT_EQ(position, (LogWindowPosition{1, 2, 3, 4}));
        // One value under one spelling, not two.
        int playlistValues = 0;
        for (const std::string& name : store.Names()) {
            playlistValues += name == "IfPlayListExist" || name == "IfPlaylistExist";
        }
        EXPECT_EQ(playlistValues, 1);
    }));
}

TEST(Settings, ValuesOfTheDialogsAndPages) {
    StoreFile file;
    auto store = qm::OpenSettingsStore(file.path(), qm::StoreOpen::Create);

    RipAlbumSettings album;
    LoadRipAlbumSettings(album, *store);
    EXPECT_EQ(album, RipAlbumSettings());
    EXPECT_EQ(album.Mask_RipAlbum, "{ARTIST}\\{ALBUM}");
    SaveRipAlbumSettings({"{ALBUM}", true, 2.5}, *store);
    EXPECT_EQ(store->ReadString("SilenceLength_RipAlbum"), "2.5");
    EXPECT_EQ(store->ReadString("InsertSilence_RipAlbum"), "True");
    LoadRipAlbumSettings(album, *store);
    EXPECT_EQ(album, (RipAlbumSettings{"{ALBUM}", true, 2.5}));

    ApplyNowSettings applyNow;
    store->WriteString("ApplyNow_MP3", "true"); // rule T: lower case is off
    store->WriteString("ApplyNow_Format", "True");
    LoadApplyNow(applyNow, *store);
    EXPECT_EQ(applyNow, (ApplyNowSettings{false, false, false, false, false, false, true}));

    LogWindowPosition position{9, 9, 9, 9};
    store->WriteString("LogLeftPosition", "10");
    store->WriteString("LogTopPosition", "20");
    store->WriteString("LogRightPosition", "30");
    EXPECT_FALSE(LoadLogWindowPosition(position, *store)); // three of four
    EXPECT_EQ(position, (LogWindowPosition{9, 9, 9, 9}));
    store->WriteString("LogBottomPosition", "40");
    EXPECT_TRUE(LoadLogWindowPosition(position, *store));
    EXPECT_EQ(position, (LogWindowPosition{10, 20, 30, 40}));
}

TEST(Settings, WmaConfigurationTable) {
    EXPECT_EQ(WmaConfigurationTable[kWmaConfigurationCount].sampleRate, 0u);
    for (int i = 0; i < kWmaConfigurationCount; ++i) {
        EXPECT_NE(WmaConfigurationTable[static_cast<std::size_t>(i)].sampleRate, 0u) << i;
    }
    const WmaConfiguration& firstRun = WmaConfigurationTable[28];
    EXPECT_EQ(firstRun.bitrate, 128000);
    EXPECT_EQ(firstRun.sampleRate, 44100u);
    EXPECT_EQ(firstRun.channels, 2);
    EXPECT_FALSE(firstRun.vbr);
    EXPECT_EQ(WmaConfigurationTable[29].bitrate, 96000);
    EXPECT_EQ(WmaConfigurationTable[3].bitrate, 0);
    EXPECT_EQ(WmaConfigurationTable[43].bitrate, 10); // one-pass VBR: a quality
    EXPECT_TRUE(WmaConfigurationTable[43].vbr);
    EXPECT_EQ(WmaConfigurationTable[45].sampleRate, 48000u);
    EXPECT_EQ(WmaConfigurationTable[46].passes, 2);
    EXPECT_EQ(WmaConfigurationTable[55].bitrate, 64000);
    EXPECT_EQ(WmaConfigurationTable[55].sampleRate, 48000u);
}

} // namespace

namespace {

// The settings fuzz target's check on the input it timed out on (an empty
// file, when every look-up listed every name): what a file gives (here the
// missing-value defaults), saved and read back, reads back the same, for
// every drive there may be.
TEST(Settings, AnEmptyFileGivesWhatReadsBackAsSaved) {
    qmtest::TempDir dir;
    qmtest::WriteText(dir / "Quavermill.conf", "");
    const auto store = qm::OpenSettingsStore(dir / "Quavermill.conf", qm::StoreOpen::Create);
    ASSERT_TRUE(store);
    QuavermillSettings settings;
    settings.drive.driveCount = kMaxDrives;
    LoadSettings(settings, *store);
    for (int round = 0; round < 2; ++round) {
        const auto saved = qm::OpenSettingsStore(dir / "never-saved.conf", qm::StoreOpen::Create);
        SaveSettings(settings, *saved);
        QuavermillSettings read;
        read.drive.driveCount = kMaxDrives;
        LoadSettings(read, *saved);
        EXPECT_EQ(read, settings) << round;
        settings = read;
    }
}

} // namespace
