// "Properties of track(s)" over several tracks: what they share is shown,
// what differs is blank and kept, what the user changes reaches every
// selected track (and every track of the disc with "Apply changes to all
// tracks"), and Cancel changes nothing.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "SettingsSupport.h"
#include "ui/SettingsHelp.h"
#include "ui/SettingsPage.h"
#include "ui/TrackPropertiesSheet.h"

using namespace qm::ui;
using namespace qmtest::settingsui;

namespace {

// Four tracks of a disc: the same artist and album, their own titles, and
// formats that differ in a few fields.
std::vector<TrackRecord> Disc() {
    std::vector<TrackRecord> tracks(4);
    const char* titles[] = {"One", "Two", "Three", "Four"};
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        CID3Tag& tag = tracks[i].tag;
        tag.SetTag("Title", titles[i]);
        tag.SetTag("Artist", "The Band");
        tag.SetTag("Album", "The Album");
        tag.SetTag("Track", std::to_string(i + 1));
    }
    tracks[0].tag.SetTag("Comment", "first");
    tracks[1].tag.SetTag("Comment", "second");
    tracks[1].format.ogg.quality = 3.5f;
    tracks[1].enableTag = false;
    tracks[2].format.mp3.maxBitrate = 256;
    tracks[2].cutFromTrack = true;
    tracks[2].cutFromBegin = 4.0;
    return tracks;
}

std::vector<TrackRecord*> Pointers(std::vector<TrackRecord>& tracks, std::size_t count) {
    std::vector<TrackRecord*> pointers;
    for (std::size_t i = 0; i < count; ++i) {
        pointers.push_back(&tracks[i]);
    }
    return pointers;
}

} // namespace

class TrackPropertiesTest : public QObject {
    Q_OBJECT

private slots:
    void sharedValuesShownDifferingBlank();
    void changesReachEverySelectedTrackOnly();
    void differingFieldsCanBeSetOrCleared();
    void formatAndApplyNowReachTheWholeDisc();
    void cancelChangesNothing();
    void pagesAndTopics();
};

void TrackPropertiesTest::sharedValuesShownDifferingBlank() {
    SettingsFile file;
    std::vector<TrackRecord> tracks = Disc();
    const auto sheet = MakeTrackProperties(nullptr, Pointers(tracks, 3));
    QVERIFY(sheet);
    QCOMPARE(sheet->windowTitle(), QStringLiteral("Properties of track(s)"));

    QWidget* tag = sheet->Page(kTrackTagPage);
    QCOMPARE(Find<QLineEdit>(tag, "Artist")->text(), QStringLiteral("The Band"));
    QCOMPARE(Find<QLineEdit>(tag, "Title")->text(), QString());
    QVERIFY(!Find<QLineEdit>(tag, "Title")->placeholderText().isEmpty());
    QCOMPARE(Find<QCheckBox>(tag, "EnableTag")->checkState(), Qt::PartiallyChecked);
    QCOMPARE(Find<QCheckBox>(tag, "UseCustomTag")->checkState(), Qt::Unchecked);

    QWidget* mp3 = sheet->Page(kTrackMp3Page);
    QCOMPARE(ChoiceValue(Find<QComboBox>(mp3, "MP3MinBitrate")), 128LL);
    QCOMPARE(ChoiceValue(Find<QComboBox>(mp3, "MP3MaxBitrate")), -1LL);
    QCOMPARE(Find<QComboBox>(mp3, "MP3MaxBitrate")->currentText(), QStringLiteral(" "));
    QCOMPARE(Find<QDoubleSpinBox>(sheet->Page(kTrackOggPage), "OGGQuality")->text().trimmed(),
             QString());
    QCOMPARE(Find<QCheckBox>(sheet->Page(kTrackCuttingPage), "CutFromTrack")->checkState(),
             Qt::PartiallyChecked);

    // One track alone shows all of its own values.
    const auto single = MakeTrackProperties(nullptr, Pointers(tracks, 1));
    QCOMPARE(Find<QLineEdit>(single->Page(kTrackTagPage), "Title")->text(), QStringLiteral("One"));
    QCOMPARE(Find<QLineEdit>(single->Page(kTrackTagPage), "Comment")->text(),
             QStringLiteral("first"));

    QVERIFY(!MakeTrackProperties(nullptr, {}));
}

void TrackPropertiesTest::changesReachEverySelectedTrackOnly() {
    SettingsFile file;
    std::vector<TrackRecord> tracks = Disc();
    const std::vector<TrackRecord> before = tracks;
    int applied = 0;
    TrackPropertiesOptions options;
    options.applied = [&] { ++applied; };
    const auto sheet = MakeTrackProperties(nullptr, Pointers(tracks, 3), options);
    sheet->show();
    QWidget* page = ShowAt(sheet.get(), kTrackTagPage);
    Type(page, "Artist", "Another Band");
    Type(page, "Year", "1987");
    page = ShowAt(sheet.get(), kTrackMp3Page);
    Choose(page, "MP3Samplerate", 48000);
    page = ShowAt(sheet.get(), kTrackCuttingPage);
    SetSpin(page, "CutFromEnd", 2.0);
    PressOk(sheet.get());
    QCOMPARE(applied, 1);

    for (std::size_t i = 0; i < 3; ++i) {
        TrackRecord expected = before[i];
        expected.tag.SetTag("Artist", "Another Band");
        expected.tag.SetTag("Year", "1987");
        expected.format.mp3.sampleRate = 48000;
        expected.cutFromEnd = 2.0;
        QCOMPARE(tracks[i].tag.GetTag("Title"), before[i].tag.GetTag("Title"));
        QCOMPARE(tracks[i].tag.GetTag("Artist"), std::string("Another Band"));
        QCOMPARE(tracks[i].tag.GetTag("Year"), std::string("1987"));
        QVERIFY(tracks[i].format == expected.format);
        QCOMPARE(tracks[i].cutFromTrack, before[i].cutFromTrack);
        QCOMPARE(tracks[i].cutFromBegin, before[i].cutFromBegin);
        QCOMPARE(tracks[i].cutFromEnd, 2.0);
        QCOMPARE(tracks[i].enableTag, before[i].enableTag);
    }
    // The fourth track was not selected.
    QVERIFY(tracks[3] == before[3]);
}

void TrackPropertiesTest::differingFieldsCanBeSetOrCleared() {
    SettingsFile file;
    std::vector<TrackRecord> tracks = Disc();
    {
        const auto sheet = MakeTrackProperties(nullptr, Pointers(tracks, 2));
        sheet->show();
        QWidget* page = ShowAt(sheet.get(), kTrackTagPage);
        // Typing into a blank field and emptying it again clears the field
        // of every track.
        Type(page, "Comment", "x");
        Type(page, "Comment", "");
        Find<QCheckBox>(page, "EnableTag")->setCheckState(Qt::Checked);
        Find<QComboBox>(page, "Genre")->setCurrentIndex(17);
        page = ShowAt(sheet.get(), kTrackOggPage);
        SetSpin(page, "OGGQuality", 6.0);
        PressOk(sheet.get());
    }
    for (std::size_t i = 0; i < 2; ++i) {
        QCOMPARE(tracks[i].tag.GetTag("Comment"), std::string());
        QVERIFY(tracks[i].tag.FindFieldByName("Comment", 0, false) == nullptr);
        QVERIFY(tracks[i].enableTag);
        QCOMPARE(tracks[i].tag.GetTag("Genre"), std::string("Rock"));
        QCOMPARE(tracks[i].format.ogg.quality, 6.0f);
    }
    // Left blank, a differing field keeps every track's own value.
    tracks = Disc();
    {
        const auto sheet = MakeTrackProperties(nullptr, Pointers(tracks, 2));
        PressOk(sheet.get());
    }
    QVERIFY(tracks == Disc());
}

void TrackPropertiesTest::formatAndApplyNowReachTheWholeDisc() {
    SettingsFile file;
    std::vector<TrackRecord> tracks = Disc();
    TrackPropertiesOptions options;
    options.allTracks = Pointers(tracks, 4);
    {
        const auto sheet = MakeTrackProperties(nullptr, Pointers(tracks, 1), options);
        sheet->show();
        Choose(ShowAt(sheet.get(), kTrackFormatPage), "Format",
               static_cast<long long>(OutputFormat::OGG));
        PressOk(sheet.get());
    }
    QCOMPARE(tracks[0].format.format, OutputFormat::OGG);
    QCOMPARE(tracks[1].format.format, OutputFormat::MP3);
    {
        const auto sheet = MakeTrackProperties(nullptr, Pointers(tracks, 1), options);
        sheet->show();
        QWidget* page = ShowAt(sheet.get(), kTrackFormatPage);
        Choose(page, "Format", static_cast<long long>(OutputFormat::FLAC));
        SetCheck(page, "ApplyNow_Format", true);
        page = ShowAt(sheet.get(), kTrackOggPage);
        Choose(page, "OGGChannels", 1);
        SetCheck(page, "ApplyNow_OGG", true);
        PressOk(sheet.get());
    }
    for (const TrackRecord& track : tracks) {
        QCOMPARE(track.format.format, OutputFormat::FLAC);
        QCOMPARE(track.format.ogg.channels, std::uint8_t(1));
    }
    // Only what was changed: the second track keeps its own quality.
    QCOMPARE(tracks[1].format.ogg.quality, 3.5f);
    QCOMPARE(tracks[0].format.ogg.quality, 5.0f);
    const ApplyNowSettings applyNow = ReloadApplyNow();
    QVERIFY(applyNow.Format);
    QVERIFY(applyNow.OGG);
    QVERIFY(!applyNow.MP3);
    QCOMPARE(file.Value("ApplyNow_Format").value_or(""), std::string("True"));
}

void TrackPropertiesTest::cancelChangesNothing() {
    SettingsFile file;
    std::vector<TrackRecord> tracks = Disc();
    TrackPropertiesOptions options;
    options.allTracks = Pointers(tracks, 4);
    const auto sheet = MakeTrackProperties(nullptr, Pointers(tracks, 2), options);
    sheet->show();
    QWidget* page = ShowAt(sheet.get(), kTrackFormatPage);
    Choose(page, "Format", static_cast<long long>(OutputFormat::WAV));
    SetCheck(page, "ApplyNow_Format", true);
    Type(ShowAt(sheet.get(), kTrackTagPage), "Album", "Changed");
    sheet->reject();
    QVERIFY(!sheet->Committed());
    QVERIFY(tracks == Disc());
    QVERIFY(!file.Exists());
}

void TrackPropertiesTest::pagesAndTopics() {
    SettingsFile file;
    std::vector<TrackRecord> tracks = Disc();
    std::vector<int> topics;
    TrackPropertiesOptions options;
    options.startPage = kTrackTagPage;
    options.help.topicChanged = [&](int id) { topics.push_back(id); };
    const auto sheet = MakeTrackProperties(nullptr, Pointers(tracks, 2), options);
    QCOMPARE(sheet->PageCount(), 9);
    QCOMPARE(topics, std::vector<int>{kHelpId3TagTrack});
    const std::pair<TrackPageId, int> expected[] = {
        {kTrackFormatPage, 5}, {kTrackTagPage, 6},  {kTrackCuttingPage, 13},
        {kTrackWavPage, 5},    {kTrackMp3Page, 2},  {kTrackOggPage, 4},
        {kTrackApePage, 15},   {kTrackFlacPage, 5}, {kTrackWmaPage, 3}};
    for (const auto& [page, topic] : expected) {
        QCOMPARE(sheet->Page(page)->HelpTopicId(), topic);
    }
    // No help callback: no Help button.
    QVERIFY(sheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help)->isHidden());
}

QTEST_MAIN(TrackPropertiesTest)
#include "TrackPropertiesTest.moc"
