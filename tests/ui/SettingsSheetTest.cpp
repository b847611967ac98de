// The "Settings" sheet over a settings store of its own: what its pages
// change survives a restart, Cancel changes nothing, the pages refuse what
// they must refuse, and "Apply changes to all tracks" reaches the tracks.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTest>

#include "SettingsSupport.h"
#include "encoders/WMAEncoder.h"
#include "settings/WmaConfigurationTable.h"
#include "ui/CddbPage.h"
#include "ui/SettingsHelp.h"
#include "ui/SettingsPage.h"
#include "ui/SettingsSheet.h"
#include "ui/WmaPage.h"

using namespace qm::ui;
using namespace qmtest::settingsui;

class SettingsSheetTest : public QObject {
    Q_OBJECT

private slots:
    void everyPageSurvivesARestart();
    void cancelChangesNothing();
    void applyWritesAndKeepsTheSheetOpen();
    void maskWithIllegalCharacterIsRefused();
    void tokenButtonsInsertAtTheCaret();
    void windowSizeMustBeOneTo65535();
    void applyNowPassesChangesToAllTracks();
    void playlistNamesKeepTheirFormat();
    void formatPagesOfferTheSameRatesAndChannels();
    void wmaConfigurationsThatCannotBeWrittenAreMarked();
    void monoFlacOffersLevelsZeroAndThree();
    void serverPickerFillsServerPathAndPort();
    void pagesReportTheirHelpTopics();
};

void SettingsSheetTest::everyPageSurvivesARestart() {
    SettingsFile file;
    QuavermillSettings settings;
    settings.drive.driveCount = 2;
    settings.window.ColumnWidth[1] = 333; // shown by no page: stays as the window keeps it
    SettingsSheetOptions options;
    options.driveNames = {"Drive A", "Drive B"};
    options.playbackDevices = {"Default", "USB"};
    const auto sheet = MakeSettingsSheet(nullptr, settings, options);
    sheet->show();

    QWidget* page = ShowAt(sheet.get(), kGeneralPage);
    // Each drive keeps its own read method.
    Choose(page, "CD-Drive", 0);
    Choose(page, "ReadMethod_CD", 8);
    Choose(page, "CD-Drive", 1);
    Choose(page, "ReadMethod_CD", 5);
    Choose(page, "JitterCorrection", kJitterAlways);
    SetCheck(page, "AutoDetectCD", false);
    SetCheck(page, "RipMaxSpeed", true);
    SetCheck(page, "AutoRefresh", true);
    SetCheck(page, "MarkAllOnRefresh", true);
    SetCheck(page, "GetCDDBOnRefresh", true);
    SetCheck(page, "GetCDDBBeforeGrab", true);
    SetCheck(page, "EjectAtEnd", false);
    SetCheck(page, "AutoDetectMixedCD", true);
    SetCheck(page, "ParseMixedCD", true);

    page = ShowAt(sheet.get(), kOutputPage);
    Type(page, "OutputFolder", "/music/out");
    Type(page, "NameFormat", "{ARTIST}/{ALBUM}/");
    Click(page, "{TRACK}");
    SetCheck(page, "GenerateIfExist", true);
    Choose(page, "Default audio format", static_cast<long long>(OutputFormat::FLAC));

    page = ShowAt(sheet.get(), kCuttingPage);
    SetCheck(page, "CutFromTrack", true);
    SetSpin(page, "CutFromBegin", 2.5);
    SetSpin(page, "CutFromEnd", 1.5);
    SetCheck(page, "DoRipFirst", true);
    SetSpin(page, "RipFirst", 30.0);

    page = ShowAt(sheet.get(), kPlayerPage);
    Choose(page, "HowToPlay", 0);
    Choose(page, "PlaybackDevice", 1);
    SetCheck(page, "EnableSound", true);
    Type(page, "SoundFile", "/tmp/done.wav");
    SetCheck(page, "Normalize", false);
    SetSpin(page, "NormalizePeak", 90);
    SetCheck(page, "NormalizeOnlyIfLowerOrHigher", true);
    SetSpin(page, "NormalizeMinPeak", 80);
    SetSpin(page, "NormalizeMaxPeak", 95);
    SetCheck(page, "NormalizeUseWindow", true);
    Type(page, "NormalizeWindowSize", "2048");

    page = ShowAt(sheet.get(), kPlaylistPage);
    SetCheck(page, "AddToPlaylist", true);
    Choose(page, "PlaylistFormat", 1);
    Choose(page, "IfPlayListExist", kAppendToPlaylist);
    SetCheck(page, "AddTo", true);
    Type(page, "SpecifiedPlaylist", "/music/all");
    SetCheck(page, "AddTo", false);
    Type(page, "MaskPlaylist", "{ARTIST} - ");
    Click(page, "Playlist{ALBUM}");

    page = ShowAt(sheet.get(), kId3TagPage);
    SetCheck(page, "EnableTag", false);
    SetCheck(page, "UseCustomTag", true);
    SetCheck(page, "UseAdditionalTag", true);

    page = ShowAt(sheet.get(), kDefaultTagPage);
    Type(page, "Comment", "Grabbed by me");
    Type(page, "URL", "http://example.org/");
    Type(page, "Copyright", "(c) 2001");

    page = ShowAt(sheet.get(), kCddbPage);
    Type(page, "CDDBServer", "cddb.example.org");
    Type(page, "HTTPPath", "/cgi/cddb");
    SetSpin(page, "HTTPPort", 8880);
    Type(page, "EMail", "me@example.org");
    SetCheck(page, "UseProxy", true);
    Type(page, "ProxyServer", "proxy.example.org");
    SetSpin(page, "ProxyPort", 3128);
    SetCheck(page, "ProxyAuth", true);
    Type(page, "ProxyUser", "ann");
    Type(page, "ProxyPassword", "s3cr:et");
    SetCheck(page, "AutoLoadLocalCDDB", false);
    SetCheck(page, "AutoSaveLocalCDDB", false);

    page = ShowAt(sheet.get(), kWavPage);
    Choose(page, "WAVSamplerate", 22050);
    Choose(page, "WAVChannels", 1);
    Choose(page, "WAVBits", 8);

    page = ShowAt(sheet.get(), kMp3Page);
    Choose(page, "MP3MinBitrate", 96);
    Choose(page, "MP3MaxBitrate", 256);
    Choose(page, "MP3AvgBitrate", 160);
    Choose(page, "MP3VBRQuality", 2);
    Choose(page, "MP3Channels", 3);
    Choose(page, "MP3Samplerate", 32000);
    SetCheck(page, "ApplyNow_MP3", true);

    page = ShowAt(sheet.get(), kOggPage);
    SetCheck(page, "OGGABR", true);
    SetSpin(page, "OGGQuality", 7.25);
    Choose(page, "OGGAvgBitrate", 192);
    Choose(page, "OGGSamplerate", 48000);
    Choose(page, "OGGChannels", 1);

    page = ShowAt(sheet.get(), kApePage);
    Choose(page, "APECompressionLevel", 4);
    Choose(page, "APESamplerate", 32000);
    Choose(page, "APEChannels", 1);

    page = ShowAt(sheet.get(), kFlacPage);
    Choose(page, "FLACCompressionLevel", 8);
    Choose(page, "FLACSamplerate", 48000);
    SetCheck(page, "ApplyNow_FLAC", true);

    page = ShowAt(sheet.get(), kWmaPage);
    Choose(page, "WMAConfiguration", 30);

    PressOk(sheet.get());
    QVERIFY(!sheet->isVisible());
    QVERIFY(sheet->Committed());

    QuavermillSettings expected;
    expected.drive.driveCount = 2;
    expected.window.ColumnWidth[1] = 333;
    expected.drive.CDDrive = 1;
    expected.drive.ReadMethod[0] = 8;
    expected.drive.ReadMethod[1] = 5;
    expected.drive.JitterCorrection = kJitterAlways;
    expected.drive.AutoDetectCD = false;
    expected.drive.RipMaxSpeed = true;
    expected.job = {true, true, true, true, false};
    expected.naming = {"/music/out", "{ARTIST}/{ALBUM}/{TRACK}", true, true, true};
    TrackRecord& track = expected.DefaultTrack;
    track.format.format = OutputFormat::FLAC;
    track.cutFromTrack = true;
    track.cutFromBegin = 2.5;
    track.cutFromEnd = 1.5;
    track.doRipFirst = true;
    track.ripFirst = 30.0;
    expected.player = {0, 1, true, "/tmp/done.wav"};
    expected.normalizer = {false, true, 90, 80, 95, true, 2048};
    expected.playlist = {true, kAppendToPlaylist, kMaskPlaylist, "/music/all.wpl",
                         "{ARTIST} - {ALBUM}.wpl"};
    track.enableTag = false;
    track.useCustomTag = true;
    track.useAdditionalTag = true;
    // The loader sets them in this order; the tag compares its field order.
    track.tag.SetTag("Comment", "Grabbed by me");
    track.tag.SetTag("URL", "http://example.org/");
    track.tag.SetTag("Copyright", "(c) 2001");
    expected.cddb.CDDBServer = "cddb.example.org";
    expected.cddb.HTTPPath = "/cgi/cddb";
    expected.cddb.HTTPPort = 8880;
    expected.cddb.EMail = "me@example.org";
    expected.cddb.UseProxy = true;
    expected.cddb.ProxyServer = "proxy.example.org";
    expected.cddb.ProxyPort = 3128;
    expected.cddb.ProxyAuth = true;
    expected.cddb.ProxyUser = "ann";
    expected.cddb.ProxyPassword = "s3cr:et";
    expected.cddb.AutoLoadLocalCDDB = false;
    expected.cddb.AutoSaveLocalCDDB = false;
    FormatSettings& f = track.format;
    f.wav = {1, 22050, 8};
    f.mp3 = {2, 256, 160, 96, true, 3, 32000};
    f.ogg = {192, 1, 48000, 7.25f, true};
    f.ape = {1, 32000, 4};
    f.flac = {2, 48000, 8};
    f.wma = {false, 30};

    QCOMPARE(settings.drive, expected.drive);
    QCOMPARE(settings.cddb, expected.cddb);
    QVERIFY(settings.DefaultTrack.format == expected.DefaultTrack.format);
    const QuavermillSettings restarted = Reload(2);
    QVERIFY(restarted.DefaultTrack == expected.DefaultTrack);
    QCOMPARE(restarted.drive, expected.drive);
    QCOMPARE(restarted.cddb, expected.cddb);
    QCOMPARE(restarted.job, expected.job);
    QCOMPARE(restarted.naming, expected.naming);
    QCOMPARE(restarted.playlist, expected.playlist);
    QCOMPARE(restarted.normalizer, expected.normalizer);
    QCOMPARE(restarted.player, expected.player);
    // The column width is the window's to save; the sheet kept it in memory.
    QCOMPARE(settings.window.ColumnWidth[1], 333);

    ApplyNowSettings applyNow;
    applyNow.MP3 = true;
    applyNow.FLAC = true;
    QCOMPARE(ReloadApplyNow(), applyNow);
    QCOMPARE(file.Value("ApplyNow_MP3").value_or(""), std::string("True"));
    QCOMPARE(file.Value("ApplyNow_WAV").value_or(""), std::string("False"));
}

void SettingsSheetTest::cancelChangesNothing() {
    SettingsFile file;
    QuavermillSettings settings;
    const QuavermillSettings before = settings;
    int applied = 0;
    SettingsSheetOptions options;
    options.applied = [&] { ++applied; };
    const auto sheet = MakeSettingsSheet(nullptr, settings, options);
    sheet->show();
    Type(ShowAt(sheet.get(), kOutputPage), "OutputFolder", "/elsewhere");
    Choose(ShowAt(sheet.get(), kMp3Page), "MP3MinBitrate", 320);
    SetCheck(sheet->Page(kMp3Page), "ApplyNow_MP3", true);
    sheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    QVERIFY(!sheet->Committed());
    QVERIFY(settings == before);
    QCOMPARE(applied, 0);
    QVERIFY(!file.Exists());
}

void SettingsSheetTest::applyWritesAndKeepsTheSheetOpen() {
    SettingsFile file;
    QuavermillSettings settings;
    int applied = 0;
    SettingsSheetOptions options;
    options.applied = [&] { ++applied; };
    const auto sheet = MakeSettingsSheet(nullptr, settings, options);
    sheet->show();
    QWidget* page = ShowAt(sheet.get(), kOutputPage);
    Type(page, "OutputFolder", "/first");
    sheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply)->click();
    QVERIFY(sheet->isVisible());
    QCOMPARE(applied, 1);
    QCOMPARE(settings.naming.OutputFolder, std::string("/first"));
    QCOMPARE(Reload(0).naming.OutputFolder, std::string("/first"));

    // What is changed after Apply and then cancelled is not kept.
    Type(page, "OutputFolder", "/second");
    sheet->reject();
    QCOMPARE(settings.naming.OutputFolder, std::string("/first"));
    QCOMPARE(Reload(0).naming.OutputFolder, std::string("/first"));
    QCOMPARE(applied, 1);
}

void SettingsSheetTest::maskWithIllegalCharacterIsRefused() {
    SettingsFile file;
    QuavermillSettings settings;
    const auto sheet = MakeSettingsSheet(nullptr, settings);
    sheet->show();
    QWidget* page = ShowAt(sheet.get(), kOutputPage);
    MessageCatcher messages;
    for (const char illegal : {'?', '*', '<', '>', ':', '"', '|'}) {
        messages.Clear();
        Type(page, "NameFormat", QStringLiteral("{ARTIST}%1x").arg(QLatin1Char(illegal)));
        // Neither another page nor OK: the page stays with its message.
        QVERIFY(!sheet->ShowPage(kGeneralPage));
        QCOMPARE(sheet->CurrentPage(), sheet->Page(kOutputPage));
        PressOk(sheet.get());
        QVERIFY(sheet->isVisible());
        QCOMPARE(messages.Messages().size(), std::size_t(2));
        QCOMPARE(messages.Messages()[0].title, QStringLiteral("Warning"));
        QCOMPARE(messages.Messages()[0].text,
                 QStringLiteral("You specified the illegal character '%1' in template mask. "
                                "Please remove it.")
                     .arg(QLatin1Char(illegal)));
    }
    QVERIFY(!sheet->Committed());
    QVERIFY(!file.Exists());

    // Folders may be named with either slash.
    messages.Clear();
    Type(page, "NameFormat", "{ARTIST}\\{ALBUM}/{TRACK} {TITLE}");
    PressOk(sheet.get());
    QVERIFY(messages.Messages().empty());
    QVERIFY(sheet->Committed());
    QCOMPARE(Reload(0).naming.NameFormat, std::string("{ARTIST}\\{ALBUM}/{TRACK} {TITLE}"));
}

void SettingsSheetTest::tokenButtonsInsertAtTheCaret() {
    SettingsFile file;
    QuavermillSettings settings;
    const auto sheet = MakeSettingsSheet(nullptr, settings);
    sheet->show();
    QWidget* page = ShowAt(sheet.get(), kOutputPage);
    Type(page, "NameFormat", " - ");
    auto* mask = Find<QLineEdit>(page, "NameFormat");
    mask->setCursorPosition(0);
    Click(page, "{TRACK}");
    mask->end(false);
    Click(page, "{TITLE}");
    QCOMPARE(mask->text(), QStringLiteral("{TRACK} - {TITLE}"));
    // Every token has its button.
    for (const char* token :
         {"{TITLE}", "{ARTIST}", "{ALBUM}", "{YEAR}", "{GENRE}", "{TRACK}", "{DISKID}"}) {
        mask->clear();
        Click(page, token);
        QCOMPARE(mask->text(), QString::fromLatin1(token));
    }
    // The example follows the template and the format.
    Type(page, "OutputFolder", "/out");
    Type(page, "NameFormat", "{ARTIST}/{YEAR}/{TRACK} {TITLE} {DISKID}");
    Choose(page, "Default audio format", static_cast<long long>(OutputFormat::OGG));
    QCOMPARE(Find<QLabel>(page, "Example")->text(),
             QStringLiteral("/out/Artist/1999/03 Title 8A0B1C0D.ogg"));
}

void SettingsSheetTest::windowSizeMustBeOneTo65535() {
    SettingsFile file;
    QuavermillSettings settings;
    const auto sheet = MakeSettingsSheet(nullptr, settings);
    sheet->show();
    QWidget* page = ShowAt(sheet.get(), kPlayerPage);
    MessageCatcher messages;
    for (const char* bad : {"0", "65536", "-5", "abc", "", "12x"}) {
        messages.Clear();
        Type(page, "NormalizeWindowSize", QString::fromLatin1(bad));
        QVERIFY2(!sheet->ShowPage(kGeneralPage), bad);
        QCOMPARE(messages.Messages().size(), std::size_t(1));
        QCOMPARE(messages.Messages()[0].text,
                 QStringLiteral("Window size should from 1 to 65535. Please correct it"));
    }
    for (const char* good : {"1", "65535"}) {
        messages.Clear();
        Type(page, "NormalizeWindowSize", QString::fromLatin1(good));
        QVERIFY2(sheet->ShowPage(kGeneralPage), good);
        QVERIFY(messages.Messages().empty());
        page = ShowAt(sheet.get(), kPlayerPage);
    }
    PressOk(sheet.get());
    QCOMPARE(Reload(0).normalizer.NormalizeWindowSize, 65535);
}

void SettingsSheetTest::applyNowPassesChangesToAllTracks() {
    SettingsFile file;
    QuavermillSettings settings;
    std::vector<TrackRecord> tracks(3, settings.DefaultTrack);
    tracks[1].format.mp3.vbrQuality = 3;
    tracks[2].format.mp3.maxBitrate = 320;
    tracks[2].format.wav.bits = 8;
    std::vector<TrackRecord*> all;
    for (TrackRecord& track : tracks) {
        all.push_back(&track);
    }
    const std::vector<TrackRecord> before = tracks;
    SettingsSheetOptions options;
    options.allTracks = all;

    // Without the switch only the default track changes.
    {
        const auto sheet = MakeSettingsSheet(nullptr, settings, options);
        sheet->show();
        Choose(ShowAt(sheet.get(), kWavPage), "WAVChannels", 1);
        PressOk(sheet.get());
    }
    QCOMPARE(settings.DefaultTrack.format.wav.channels, std::uint8_t(1));
    QVERIFY(tracks == before);

    // With it, what was changed reaches every track; the rest stays theirs.
    {
        const auto sheet = MakeSettingsSheet(nullptr, settings, options);
        sheet->show();
        QWidget* page = ShowAt(sheet.get(), kMp3Page);
        Choose(page, "MP3MinBitrate", 160);
        SetCheck(page, "ApplyNow_MP3", true);
        PressOk(sheet.get());
    }
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        FormatSettings expected = before[i].format;
        expected.mp3.minBitrate = 160;
        QVERIFY(tracks[i].format == expected);
    }
    QCOMPARE(settings.DefaultTrack.format.mp3.minBitrate, std::uint32_t(160));
    QVERIFY(ReloadApplyNow().MP3);

    // The switch is remembered: the next sheet shows it on.
    const auto sheet = MakeSettingsSheet(nullptr, settings, options);
    QVERIFY(Find<QCheckBox>(sheet->Page(kMp3Page), "ApplyNow_MP3")->isChecked());
    QVERIFY(!Find<QCheckBox>(sheet->Page(kOggPage), "ApplyNow_OGG")->isChecked());
}

void SettingsSheetTest::playlistNamesKeepTheirFormat() {
    SettingsFile file;
    QuavermillSettings settings;
    settings.playlist.AddTo = kSpecifiedPlaylist;
    settings.playlist.SpecifiedPlaylist = "/music/list.WPL";
    settings.playlist.MaskPlaylist = "{ARTIST}";
    {
        const auto sheet = MakeSettingsSheet(nullptr, settings);
        QWidget* page = sheet->Page(kPlaylistPage);
        QCOMPARE(Find<QLineEdit>(page, "SpecifiedPlaylist")->text(), QStringLiteral("/music/list"));
        QCOMPARE(Find<QComboBox>(page, "PlaylistFormat")->currentText(),
                 QStringLiteral("Windows Media Player playlist"));
        // Untouched names stay exactly as they were.
        PressOk(sheet.get());
        QCOMPARE(settings.playlist.SpecifiedPlaylist, std::string("/music/list.WPL"));
        QCOMPARE(settings.playlist.MaskPlaylist, std::string("{ARTIST}"));
    }
    {
        // Another format goes onto both names; an empty name stays empty.
        const auto sheet = MakeSettingsSheet(nullptr, settings);
        sheet->show();
        QWidget* page = ShowAt(sheet.get(), kPlaylistPage);
        Choose(page, "PlaylistFormat", 0);
        PressOk(sheet.get());
        QCOMPARE(settings.playlist.SpecifiedPlaylist, std::string("/music/list.m3u"));
        QCOMPARE(settings.playlist.MaskPlaylist, std::string("{ARTIST}.m3u"));
    }
    {
        const auto sheet = MakeSettingsSheet(nullptr, settings);
        sheet->show();
        QWidget* page = ShowAt(sheet.get(), kPlaylistPage);
        QCOMPARE(Find<QComboBox>(page, "PlaylistFormat")->currentText(),
                 QStringLiteral("WinAMP playlist"));
        SetCheck(page, "AddTo", true);
        Type(page, "SpecifiedPlaylist", "");
        PressOk(sheet.get());
        QCOMPARE(settings.playlist.SpecifiedPlaylist, std::string());
    }
}

void SettingsSheetTest::formatPagesOfferTheSameRatesAndChannels() {
    SettingsFile file;
    QuavermillSettings settings;
    const auto sheet = MakeSettingsSheet(nullptr, settings);
    const QStringList rates = {"48000", "44100", "32000", "22050", "11025", "8000"};
    const std::pair<SettingsPageId, const char*> pages[] = {{kWavPage, "WAV"},
                                                            {kMp3Page, "MP3"},
                                                            {kOggPage, "OGG"},
                                                            {kApePage, "APE"},
                                                            {kFlacPage, "FLAC"}};
    for (const auto& [id, prefix] : pages) {
        auto* rate = Find<QComboBox>(sheet->Page(id), (std::string(prefix) + "Samplerate").c_str());
        QStringList shown;
        for (int i = 0; i < rate->count(); ++i) {
            shown << rate->itemText(i);
        }
        QCOMPARE(shown, rates);
        if (id != kMp3Page) {
            auto* channels =
                Find<QComboBox>(sheet->Page(id), (std::string(prefix) + "Channels").c_str());
            QCOMPARE(channels->count(), 2);
            QCOMPARE(channels->itemText(0), QStringLiteral("mono"));
            QCOMPARE(channels->itemText(1), QStringLiteral("stereo"));
        }
        QCOMPARE(
            Find<QCheckBox>(sheet->Page(id), (std::string("ApplyNow_") + prefix).c_str())->text(),
            QStringLiteral("Apply changes to all tracks"));
    }
}

void SettingsSheetTest::wmaConfigurationsThatCannotBeWrittenAreMarked() {
    SettingsFile file;
    QuavermillSettings settings;
    const auto sheet = MakeSettingsSheet(nullptr, settings);
    auto* combo = Find<QComboBox>(sheet->Page(kWmaPage), "WMAConfiguration");
    auto* model = qobject_cast<QStandardItemModel*>(combo->model());
    QCOMPARE(combo->count(), kWmaConfigurationCount);
    int unavailable = 0;
    for (int i = 0; i < kWmaConfigurationCount; ++i) {
        const WmaConfiguration& row = WmaConfigurationTable[static_cast<std::size_t>(i)];
        const bool writable = CWMAEncoder::IsConfigurationAvailable(
            0, row.bitrate, static_cast<std::int32_t>(row.sampleRate), row.channels,
            row.vbr ? 1 : 0, row.passes);
        QCOMPARE(combo->itemData(i).toInt(), i);
        QCOMPARE(combo->itemText(i).endsWith(QStringLiteral(" (not available)")), !writable);
        QCOMPARE(model->item(i)->isEnabled(), writable);
        unavailable += writable ? 0 : 1;
    }
    // 8 kHz speech and 20 kbit/s mono cannot be written here; 128 kbit/s
    // stereo, the first-run choice, can.
    QVERIFY(combo->itemText(3).endsWith(QStringLiteral(" (not available)")));
    QVERIFY(combo->itemText(23).endsWith(QStringLiteral(" (not available)")));
    QCOMPARE(combo->itemText(28), QStringLiteral("128 kbps, 44100 Hz, stereo"));
    QCOMPARE(combo->currentIndex(), 28);
    QVERIFY(unavailable > 0);
    auto* lossless = Find<QCheckBox>(sheet->Page(kWmaPage), "WMALoseless");
    QCOMPARE(lossless->text().endsWith(QStringLiteral(" (not available)")),
             !CWMAEncoder::IsConfigurationAvailable(1, 100, 44100, 2, 0, 1));

    // A stored configuration that cannot be written is still shown as it is.
    settings.DefaultTrack.format.wma.configuration = 23;
    const auto again = MakeSettingsSheet(nullptr, settings);
    auto* shown = Find<QComboBox>(again->Page(kWmaPage), "WMAConfiguration");
    QCOMPARE(shown->currentIndex(), 23);
    QVERIFY(shown->currentText().startsWith(QStringLiteral("20 kbps, 44100 Hz, mono")));
}

void SettingsSheetTest::monoFlacOffersLevelsZeroAndThree() {
    SettingsFile file;
    QuavermillSettings settings;
    settings.DefaultTrack.format.flac.compressionLevel = 6;
    const auto sheet = MakeSettingsSheet(nullptr, settings);
    sheet->show();
    QWidget* page = ShowAt(sheet.get(), kFlacPage);
    auto* level = Find<QComboBox>(page, "FLACCompressionLevel");
    auto* model = qobject_cast<QStandardItemModel*>(level->model());
    Choose(page, "FLACChannels", 1);
    QCOMPARE(ChoiceValue(level), 3LL);
    for (int i = 0; i < level->count(); ++i) {
        const int value = level->itemData(i).toInt();
        QCOMPARE(model->item(i)->isEnabled(), value == 0 || value == 3);
    }
    Choose(page, "FLACCompressionLevel", 0);
    PressOk(sheet.get());
    const QuavermillSettings restarted = Reload(0);
    QCOMPARE(restarted.DefaultTrack.format.flac.channels, std::uint8_t(1));
    QCOMPARE(restarted.DefaultTrack.format.flac.compressionLevel, std::uint8_t(0));
}

void SettingsSheetTest::serverPickerFillsServerPathAndPort() {
    SettingsFile file;
    QuavermillSettings settings;
    {
        // Without a picker the page offers no list.
        const auto sheet = MakeSettingsSheet(nullptr, settings);
        sheet->show();
        QVERIFY(!Find<QPushButton>(ShowAt(sheet.get(), kCddbPage), "ServerList")->isVisible());
    }
    CDDBSettings asked;
    SettingsSheetOptions options;
    options.pickServer = [&](QWidget*, const CDDBSettings& shown,
                             CCDDBServersList::Choice* choice) {
        asked = shown;
        *choice = {"mirror.example.org", "/~cddb/mirror.cgi", 8080};
        return true;
    };
    const auto sheet = MakeSettingsSheet(nullptr, settings, options);
    sheet->show();
    QWidget* page = ShowAt(sheet.get(), kCddbPage);
    // The picker asks the server typed, not yet confirmed.
    Type(page, "CDDBServer", "typed.example.org");
    Type(page, "EMail", "me@example.org");
    Click(page, "ServerList");
    QCOMPARE(asked.CDDBServer, std::string("typed.example.org"));
    QCOMPARE(asked.EMail, std::string("me@example.org"));
    QCOMPARE(settings.cddb.CDDBServer, std::string(kDefaultCDDBServer));
    QCOMPARE(Find<QLineEdit>(page, "CDDBServer")->text(), QStringLiteral("mirror.example.org"));
    PressOk(sheet.get());
    const CDDBSettings restarted = Reload(0).cddb;
    QCOMPARE(restarted.CDDBServer, std::string("mirror.example.org"));
    QCOMPARE(restarted.HTTPPath, std::string("/~cddb/mirror.cgi"));
    QCOMPARE(restarted.HTTPPort, 8080);
}

void SettingsSheetTest::pagesReportTheirHelpTopics() {
    SettingsFile file;
    QuavermillSettings settings;
    std::vector<int> topics;
    std::vector<int> opened;
    SettingsSheetOptions options;
    options.startPage = kMp3Page;
    options.help.topicChanged = [&](int id) { topics.push_back(id); };
    options.help.help = [&](int id) { opened.push_back(id); };
    const auto sheet = MakeSettingsSheet(nullptr, settings, options);
    sheet->show();
    QCOMPARE(sheet->CurrentPage(), sheet->Page(kMp3Page));
    QCOMPARE(topics, std::vector<int>{kHelpMp3Settings});

    const std::pair<SettingsPageId, int> expected[] = {
        {kGeneralPage, 7},   {kOutputPage, 8}, {kCuttingPage, 12},   {kPlayerPage, 14},
        {kPlaylistPage, 10}, {kId3TagPage, 9}, {kDefaultTagPage, 9}, {kCddbPage, 11},
        {kWavPage, 5},       {kMp3Page, 2},    {kOggPage, 4},        {kApePage, 15},
        {kFlacPage, 5},      {kWmaPage, 3}};
    QCOMPARE(sheet->PageCount(), 14);
    for (const auto& [page, topic] : expected) {
        QCOMPARE(sheet->Page(page)->HelpTopicId(), topic);
    }
    ShowAt(sheet.get(), kCddbPage);
    QCOMPARE(topics.back(), static_cast<int>(kHelpCddbSettings));
    sheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help)->click();
    QTest::keyClick(sheet.get(), Qt::Key_F1);
    QCOMPARE(opened, (std::vector<int>{kHelpCddbSettings, kHelpCddbSettings}));
    sheet->reject();
    QCOMPARE(topics.back(), static_cast<int>(kHelpSummary));
}

QTEST_MAIN(SettingsSheetTest)
#include "SettingsSheetTest.moc"
