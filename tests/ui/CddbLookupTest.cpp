// The main window's CDDB look-up against the loopback CDDB server: one match
// is taken at once, several are chosen among, failures are told in an
// "Error" box, the wait can be cancelled, and the window thread keeps running
// while the server takes its time. Also the server picker of the CDDB page.
#include <fstream>
#include <functional>
#include <memory>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "SettingsSupport.h"
#include "disc/CDRipper.h"
#include "disc/CdAccess.h"
#include "disc/CddbAccess.h"
#include "disc/MusicBrainzDiscId.h"
#include "support/CddbServer.h"
#include "support/DiscImage.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "ui/CddbLookup.h"
#include "ui/CddbServersListDlg.h"
#include "ui/QueryCDDBInfoDlg.h"

using namespace qm::ui;
using qmtest::settingsui::MessageCatcher;

namespace {

const std::vector<std::string> kTitles = {"Harbour Lights", "Tin Roof", "Salt Road", "Coda"};

// Runs `step` on every modal window shown while it lives.
class ModalWatcher {
public:
    explicit ModalWatcher(std::function<void(QWidget*)> step) : m_step(std::move(step)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                m_step(modal);
            }
        });
        m_timer.start(20);
    }

private:
    std::function<void(QWidget*)> m_step;
    QTimer m_timer;
};

} // namespace

class CddbLookupTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void oneMatchIsTakenWithoutAsking();
    void severalMatchesAreChosenAmong();
    void failuresAreToldAndChangeNothing();
    void windowThreadRunsWhileTheServerTakesItsTime();
    void cancelGivesUpTheWait();
    void serverPickerFillsTheChoice();
    void bothSourcesShareTheChooserAndBringTheCover();

private:
    qmtest::XmcdDisc Disc();
    void AddEntry(const std::string& category, const std::string& dtitle,
                  const std::vector<std::string>& titles);
    QuavermillSettings SettingsFor(const qmtest::CddbServer& server) const;

    std::unique_ptr<qmtest::TempDir> m_dir;
    std::unique_ptr<qmtest::TestImage> m_image;
    std::unique_ptr<qmtest::CddbServer> m_server;
    std::unique_ptr<qmtest::ScopedDrive> m_drive;
    std::unique_ptr<CCDRipper> m_ripper;
};

void CddbLookupTest::initTestCase() {
    m_dir = std::make_unique<qmtest::TempDir>();
    m_image = std::make_unique<qmtest::TestImage>(qmtest::WriteTestImage(
        m_dir->path(), "disc", {{false, 0, 150}, {false, 30, 225}, {false, 0, 90}, {false, 0, 120}},
        7));
    m_server = std::make_unique<qmtest::CddbServer>(m_dir->path() / "db");
    m_drive = std::make_unique<qmtest::ScopedDrive>(m_image->layout.sheet);
    qm::CDDBSetOption(qm::kCddbOptTimeout, nullptr, 10000);
}

void CddbLookupTest::init() {
    std::filesystem::remove_all(m_dir->path() / "db");
    std::filesystem::create_directories(m_dir->path() / "db");
    m_server->SetFaults({});
    m_ripper = std::make_unique<CCDRipper>();
    QVERIFY(m_ripper->Attach(m_drive->Index(), 0));
}

void CddbLookupTest::cleanupTestCase() {
    m_ripper.reset();
    m_drive.reset();
    m_server.reset();
}

qmtest::XmcdDisc CddbLookupTest::Disc() {
    std::uint32_t ids[103] = {};
    qm::GetCDDBDiskID(m_ripper->GetHandle(), ids, 103);
    qmtest::XmcdDisc disc;
    disc.discId = ids[0];
    disc.offsets.assign(ids + 2, ids + 2 + ids[1]);
    disc.seconds = ids[ids[1] + 2];
    return disc;
}

void CddbLookupTest::AddEntry(const std::string& category, const std::string& dtitle,
                              const std::vector<std::string>& titles) {
    qmtest::XmcdDisc disc = Disc();
    disc.dtitle = dtitle;
    disc.titles = titles;
    disc.extd = "YEAR: 1997";
    qmtest::AddCddbEntry(m_dir->path() / "db", category, disc.discId, qmtest::XmcdEntry(disc));
}

QuavermillSettings CddbLookupTest::SettingsFor(const qmtest::CddbServer& server) const {
    QuavermillSettings settings;
    settings.cddb.CDDBServer = qmtest::CddbServer::kHost;
    settings.cddb.HTTPPort = server.Port();
    settings.cddb.HTTPPath = qmtest::CddbServer::kPath;
    settings.cddb.EMail = "tester@example.org";
    settings.cddb.UseProxy = false;
    settings.cddb.GetProxyFromExplorer = false;
    return settings;
}

void CddbLookupTest::oneMatchIsTakenWithoutAsking() {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    bool chooserShown = false;
    ModalWatcher watcher([&](QWidget* modal) {
        chooserShown = chooserShown || qobject_cast<CQueryCDDBInfoDlg*>(modal) != nullptr;
    });
    MessageCatcher messages;
    QVERIFY(RunCddbLookup(nullptr, *m_ripper, SettingsFor(*m_server)));
    QVERIFY(!chooserShown);
    QVERIFY(messages.Messages().empty());
    const DiscInfo& disc = m_ripper->GetDiscInfo();
    QCOMPARE(disc.artist, std::string("Nina Vale"));
    QCOMPARE(disc.title, std::string("Quiet Rooms"));
    QCOMPARE(disc.genre, std::string("rock"));
    QCOMPARE(disc.year, 1997);
    QCOMPARE(disc.tracks.size(), std::size_t{4});
    QCOMPARE(disc.tracks[2].title, std::string("Salt Road"));
}

void CddbLookupTest::severalMatchesAreChosenAmong() {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    AddEntry("misc", "Nina Vale / Nina Vale / Quiet Rooms (Live)",
             {"Harbour Lights (Live)", "Tin Roof (Live)", "Salt Road (Live)", "Coda (Live)"});
    QStringList headers;
    QStringList secondRow;
    auto watcher = std::make_unique<ModalWatcher>([&](QWidget* modal) {
        auto* chooser = qobject_cast<CQueryCDDBInfoDlg*>(modal);
        if (chooser == nullptr) {
            return;
        }
        QTreeWidget* list = chooser->List();
        for (int column = 0; column < list->columnCount(); ++column) {
            headers << list->headerItem()->text(column);
        }
        QTreeWidgetItem* row = list->topLevelItem(1);
        for (int column = 0; column < list->columnCount(); ++column) {
            secondRow << row->text(column);
        }
        list->setCurrentItem(row);
        chooser->accept();
    });
    QVERIFY(RunCddbLookup(nullptr, *m_ripper, SettingsFor(*m_server)));
    watcher.reset();
    QCOMPARE(headers, QStringList({QStringLiteral("Artist"), QStringLiteral("Album"),
                                   QStringLiteral("Genre"), QStringLiteral("Match"),
                                   QStringLiteral("Source")}));
    QCOMPARE(secondRow.size(), 5);
    QCOMPARE(secondRow[4], QStringLiteral("CDDB"));
    const DiscInfo& disc = m_ripper->GetDiscInfo();
    // The chosen row's names, as shown: the artist's name is not repeated in
    // the album.
    QCOMPARE(QString::fromStdString(disc.title), secondRow[1]);
    QCOMPARE(QString::fromStdString(disc.genre), secondRow[2]);
    QVERIFY(!secondRow[1].startsWith(QStringLiteral("Nina Vale /")));
    const bool live = disc.title == "Quiet Rooms (Live)";
    QCOMPARE(disc.tracks[0].title, std::string(live ? "Harbour Lights (Live)" : "Harbour Lights"));

    // Cancel in the chooser takes nothing.
    m_ripper->GetDiscInfo().artist = "kept";
    ModalWatcher cancel([&](QWidget* modal) {
        if (auto* chooser = qobject_cast<CQueryCDDBInfoDlg*>(modal)) {
            chooser->reject();
        }
    });
    MessageCatcher messages;
    QVERIFY(!RunCddbLookup(nullptr, *m_ripper, SettingsFor(*m_server)));
    QVERIFY(messages.Messages().empty());
}

void CddbLookupTest::failuresAreToldAndChangeNothing() {
    MessageCatcher messages;
    // No entry for the disc.
    QVERIFY(!RunCddbLookup(nullptr, *m_ripper, SettingsFor(*m_server)));
    QCOMPARE(messages.Messages().size(), std::size_t{1});
    QCOMPARE(messages.Messages()[0].title, QStringLiteral("Error"));
    QCOMPARE(messages.Messages()[0].text, QString::fromLatin1(kCddbNoMatchText));

    // The server refuses the query.
    messages.Clear();
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    m_server->SetFaults({{"query", "garbage"}});
    QVERIFY(!RunCddbLookup(nullptr, *m_ripper, SettingsFor(*m_server)));
    QCOMPARE(messages.Messages().size(), std::size_t{1});
    QVERIFY(messages.Messages()[0].text.startsWith(QString::fromLatin1(kCddbQueryFailedText)));

    // The entry cannot be read.
    messages.Clear();
    m_server->SetFaults({{"read", "403"}});
    QVERIFY(!RunCddbLookup(nullptr, *m_ripper, SettingsFor(*m_server)));
    QCOMPARE(messages.Messages().size(), std::size_t{1});
    QVERIFY(messages.Messages()[0].text.startsWith(QString::fromLatin1(kCddbEntryFailedText)));

    // No disc in the drive.
    messages.Clear();
    m_ripper->Detach();
    QVERIFY(!RunCddbLookup(nullptr, *m_ripper, SettingsFor(*m_server)));
    QCOMPARE(messages.Messages().size(), std::size_t{1});
    QCOMPARE(messages.Messages()[0].text, QString::fromLatin1(kCddbNoDiskText));
}

void CddbLookupTest::windowThreadRunsWhileTheServerTakesItsTime() {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    qmtest::CddbServerOptions slow;
    slow.delaySeconds = 1.0;
    qmtest::CddbServer server(m_dir->path() / "db", slow);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);
    bool waitShown = false;
    ModalWatcher watcher([&](QWidget* modal) {
        waitShown = waitShown || modal->objectName() == QStringLiteral("CddbWait");
    });
    QVERIFY(RunCddbLookup(nullptr, *m_ripper, SettingsFor(server)));
    QCOMPARE(m_ripper->GetDiscInfo().title, std::string("Quiet Rooms"));
    QVERIFY(waitShown);
    // At least two answers of a second each: the timer kept ticking.
    QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
}

void CddbLookupTest::cancelGivesUpTheWait() {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    qmtest::CddbServerOptions silent;
    silent.delaySeconds = 30.0;
    qmtest::CddbServer server(m_dir->path() / "db", silent);
    ModalWatcher watcher([&](QWidget* modal) {
        if (modal->objectName() == QStringLiteral("CddbWait")) {
            QPushButton* cancel = modal->findChild<QPushButton*>(QStringLiteral("Cancel"));
            if (cancel->isEnabled()) {
                QTest::mouseClick(cancel, Qt::LeftButton);
            }
        }
    });
    // Without Cancel the client would wait for the whole minute.
    qm::CDDBSetOption(qm::kCddbOptTimeout, nullptr, 60000);
    MessageCatcher messages;
    QElapsedTimer elapsed;
    elapsed.start();
    const bool taken = RunCddbLookup(nullptr, *m_ripper, SettingsFor(server));
    const qint64 waited = elapsed.elapsed();
    qm::CDDBSetOption(qm::kCddbOptTimeout, nullptr, 10000);
    QVERIFY(!taken);
    QVERIFY(messages.Messages().empty());
    // Given up long before the server (30 s) or the client (60 s) would have
    // ended the request.
    QVERIFY2(waited < 25000, qPrintable(QString::number(waited)));
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void CddbLookupTest::serverPickerFillsTheChoice() {
    std::ofstream(m_dir->path() / "db" / "sites")
        << "s1.example.org http 80 /~cddb/cddb.cgi N000.00 W000.00 One\n"
           "s2.example.org http 8080 /cgi-bin/cddb.cgi N000.00 W000.00 Two\n";
    const ServerPicker picker = MakeCddbServerPicker();
    QStringList rows;
    ModalWatcher watcher([&](QWidget* modal) {
        if (auto* dialog = qobject_cast<CCDDBServersListDlg*>(modal)) {
            for (int row = 0; row < dialog->List()->topLevelItemCount(); ++row) {
                rows << dialog->List()->topLevelItem(row)->text(0);
            }
            dialog->List()->setCurrentItem(dialog->List()->topLevelItem(1));
            dialog->accept();
        }
    });
    CCDDBServersList::Choice choice;
    QVERIFY(picker(nullptr, SettingsFor(*m_server).cddb, &choice));
    QCOMPARE(rows,
             QStringList({QStringLiteral("s1.example.org"), QStringLiteral("s2.example.org")}));
    QCOMPARE(choice.host, std::string("s2.example.org"));
    QCOMPARE(choice.path, std::string("/cgi-bin/cddb.cgi"));
    QCOMPARE(choice.port, 8080);

    MessageCatcher messages;
    m_server->SetFaults({{"sites", "401"}});
    QVERIFY(!picker(nullptr, SettingsFor(*m_server).cddb, &choice));
    QCOMPARE(messages.Messages().size(), std::size_t{1});
    QCOMPARE(messages.Messages()[0].title, QStringLiteral("Error"));
    QCOMPARE(messages.Messages()[0].text, QStringLiteral("Failed to get list"));
}

void CddbLookupTest::bothSourcesShareTheChooserAndBringTheCover() {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    qmtest::WebServer web(m_dir->path() / "web");
    const std::string id = qm::MusicBrainzDiscId(m_ripper->GetHandle());
    QVERIFY(!id.empty());
    const std::string release = "5a5a5a5a-0000-1111-2222-333344445555";
    const std::string medium = "<medium-list count=\"1\"><medium><position>1</position>"
                               "<disc-list count=\"1\"><disc id=\"" +
                               id + "\"/></disc-list><track-list count=\"4\"";
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><metadata "
                             "xmlns=\"http://musicbrainz.org/ns/mmd-2.0#\">";
    const std::string credit = "<artist-credit><name-credit><artist id=\"a\"><name>Nina Vale"
                               "</name></artist></name-credit></artist-credit>";
    web.AddText("ws/2/discid/" + id + ".xml",
                head + "<disc id=\"" + id + "\"><release-list count=\"1\"><release id=\"" +
                    release + "\"><title>Quiet Rooms (MB)</title>" + credit + medium +
                    "/></medium></medium-list></release></release-list></disc></metadata>");
    std::string tracks;
    for (int i = 0; i < 4; ++i) {
        tracks += "<track><position>" + std::to_string(i + 1) + "</position><title>MB " +
                  kTitles[static_cast<std::size_t>(i)] + "</title></track>";
    }
    web.AddText("ws/2/release/" + release + ".xml",
                head + "<release id=\"" + release + "\"><title>Quiet Rooms (MB)</title>" + credit +
                    medium + ">" + tracks + "</track-list></medium></medium-list>" +
                    "</release></metadata>");
    const std::string cover = std::string("\xFF\xD8\xFF\xE0", 4) + "cover bytes";
    web.AddText("release/" + release + "/front", cover);

    QuavermillSettings settings = SettingsFor(*m_server);
    settings.metadata.MetadataSources = kSourcesBoth;
    settings.metadata.MusicBrainzServer = web.HostPort();
    settings.metadata.CoverArtServer = "http://" + web.HostPort();
    settings.metadata.EmbedCoverArt = true;
    QStringList sources;
    auto watcher = std::make_unique<ModalWatcher>([&](QWidget* modal) {
        auto* chooser = qobject_cast<CQueryCDDBInfoDlg*>(modal);
        if (chooser == nullptr) {
            return;
        }
        QTreeWidget* list = chooser->List();
        sources.clear();
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            sources << list->topLevelItem(row)->text(4);
        }
        list->setCurrentItem(list->topLevelItem(1));
        chooser->accept();
    });
    std::vector<TrackRecord> records(4);
    QVERIFY(RunCddbLookup(nullptr, *m_ripper, settings, &records));
    watcher.reset();
    QCOMPARE(sources, QStringList({QStringLiteral("CDDB"), QStringLiteral("MusicBrainz")}));
    const DiscInfo& disc = m_ripper->GetDiscInfo();
    QCOMPARE(disc.title, std::string("Quiet Rooms (MB)"));
    QCOMPARE(disc.artist, std::string("Nina Vale"));
    QCOMPARE(disc.tracks[3].title, std::string("MB Coda"));
    for (const TrackRecord& record : records) {
        QCOMPARE(record.tag.GetPictureData(), cover);
        QCOMPARE(record.tag.GetPictureType(), std::string("image/jpeg"));
    }
}

QTEST_MAIN(CddbLookupTest)
#include "CddbLookupTest.moc"
