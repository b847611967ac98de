// The program's main window on generated disc images: the list fills from
// the table of contents and the local cache, Grab writes the files and marks
// the rows, Stop cancels the track being grabbed, the log window shows the
// grab in its colours, settings survive a restart, a disc image opened from
// the File menu is read, a machine without any drive gets the "General
// error" box, and a grab never holds up the window thread.
#include <fstream>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTest>
#include <QTreeWidget>

#include "MainWindowSupport.h"
#include "SettingsSupport.h"
#include "disc/CdAccess.h"
#include "disc/CdioDrive.h"
#include "disc/LocalCDDB.h"
#include "jobs/Data.h"
#include "support/CddbServer.h"
#include "support/FaultyDrive.h"
#include "support/Pcm.h"
#include "support/Process.h"
#include "ui/LogDlg.h"
#include "ui/LogList.h"
#include "ui/MainFrame.h"
#include "ui/QuavermillApp.h"
#include "ui/TrackPropertiesSheet.h"
#include "ui/TracksWnd.h"
#include "ui/WarningDlg.h"

using namespace qm::ui;
using namespace qmtest::mainui;
namespace fs = std::filesystem;

namespace {

// Edits a label as the user does: double click opens the editor, the text is
// typed, Return ends the edit.
void TypeIntoLabel(CTracksWnd& tracks, int row, int column, const QString& text) {
    QVERIFY(tracks.EditLabel(row, column));
    auto* editor = tracks.viewport()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    // The editor hands its text over once the event loop runs.
    QTRY_COMPARE(tracks.topLevelItem(row)->text(column), text);
}

// How long this thread has waited for a core since it began, from the
// kernel's scheduler statistics (on CPU, waiting on a run queue, slices).
qint64 RunDelayMs() {
    std::ifstream stats("/proc/thread-self/schedstat");
    long long onCpu = 0;
    long long waiting = 0;
    stats >> onCpu >> waiting;
    return static_cast<qint64>(waiting / 1000000);
}

const QRegularExpression kCompleteText(QStringLiteral("^Complete \\(\\d+\\.\\d\\dMb\\)$"));

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void listFillsFromTocAndCache();
    void menusCarryTheCommandTexts();
    void grabWritesFilesAndMarksRowsComplete();
    void grabWithoutOutputFolderOnlyWarns();
    void dataTrackRowsAreNeverGrabbed();
    void stopMidTrackCancelsAndLeavesNoFile();
    void logWindowShowsTheGrabInColours();
    void settingsAndColumnWidthsSurviveARestart();
    void openedDiscImageIsReadOnRefresh();
    void mixedCDModeShowsTheArtistColumn();
    void trackPropertiesReachTheSelectedRowsOnly();
    void cddbLookUpNamesTheTracksAndKeepsThemLocally();
    void multiDiscGrabAsksForTheNextDisc();
    void discChangeIsSeenOnlyWithAutoRefresh();
    void noDriveAtAllGivesGeneralErrorAndExitCode1();
    void workingFolderIsTheProgramFolder();
    void windowThreadKeepsRunningDuringAGrab();
};

void MainWindowTest::listFillsFromTocAndCache() {
    Session session;
    const auto image = session.WriteImage("fill", Tracks({2, 3, 1}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    QCOMPARE(frame.windowTitle(), QStringLiteral("Quavermill"));
    QCOMPARE(frame.Tracks().topLevelItemCount(), 3);
    // Without a cache entry the rows carry "track%d".
    QCOMPARE(CellText(frame, 0, 0), QStringLiteral(" 1"));
    QCOMPARE(CellText(frame, 0, 1), QStringLiteral("track1"));
    QCOMPARE(CellText(frame, 1, 2), QStringLiteral("00:03"));
    QCOMPARE(CellText(frame, 2, 3), QStringLiteral("WAV/44100Hz,stereo,16 bits"));

    WriteCacheEntry(*app, "The Testers", "Window Suite", {"Opening", "Middle", "Coda"});
    frame.OnRefresh();
    QCOMPARE(CellText(frame, 0, 1), QStringLiteral("Opening"));
    QCOMPARE(CellText(frame, 2, 1), QStringLiteral("Coda"));
    auto* artist = frame.findChild<QLineEdit*>(QStringLiteral("Artist"));
    auto* album = frame.findChild<QLineEdit*>(QStringLiteral("Album"));
    QCOMPARE(artist->text(), QStringLiteral("The Testers"));
    QCOMPARE(album->text(), QStringLiteral("Window Suite"));
    QVERIFY(artist->isEnabled());
    QCOMPARE(frame.GetInfoBar().genre, std::string("Jazz"));
    QCOMPARE(frame.GetInfoBar().year, std::string("2021"));

    // A title edited in place goes into the track's tag.
    QVERIFY(!frame.Tracks().EditLabel(1, 2)); // the time is not a label
    TypeIntoLabel(frame.Tracks(), 1, 1, QStringLiteral("Renamed"));
    QCOMPARE(CellText(frame, 1, 1), QStringLiteral("Renamed"));
    QCOMPARE(app->Data().Tracks()[1].tag.GetTag("Title"), std::string("Renamed"));
}

void MainWindowTest::menusCarryTheCommandTexts() {
    Session session;
    const auto image = session.WriteImage("menus", Tracks({1}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    auto texts = [](QMenu* menu) {
        QStringList list;
        for (QAction* action : menu->actions()) {
            list << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        return list;
    };
    QStringList titles;
    std::map<QString, QMenu*> menus;
    for (QAction* action : frame.menuBar()->actions()) {
        titles << action->text();
        menus[action->text()] = action->menu();
    }
    QCOMPARE(titles, (QStringList{"&File", "&Edit", "&Settings", "&Help"}));
    QCOMPARE(texts(menus["&File"]),
             (QStringList{"Open disc image...", "Drive &information...", "-", "&Grab", "Rip album",
                          "&Stop", "Get CDDB Info", "Load from local CDDB", "Save to local CDDB",
                          "View &log", "-", "E&xit"}));
    QCOMPARE(texts(menus["&Edit"]),
             (QStringList{"Select &all\tCtrl-A", "Mark selected track(s)\tCtrl-M",
                          "&Unmark selected track(s)\tCtrl-U", "-", "Enable &mixed CD mode", "-",
                          "&Properties of track(s)", "&Settings"}));
    QCOMPARE(texts(menus["&Settings"]),
             (QStringList{"G&eneral", "&Output settings", "&WMA settings", "&MP3 settings",
                          "WA&V settings", "O&GG settings", "&APE settings", "&FLAC settings",
                          "&Player && Normalization", "&ID3 Tag", "Play&list", "&CDDB settings"}));
    QCOMPARE(texts(menus["&Help"]), (QStringList{"Help", "&About Quavermill..."}));
    QCOMPARE(texts(frame.TracksMenu()),
             (QStringList{"&Grab", "Refresh", "-", "&Properties of track(s)", "&Settings",
                          "Get CDDB Info", "-", "Select &all", "Mark selected track(s)",
                          "&Unmark selected track(s)"}));
    QCOMPARE(frame.Action(ID_SELECT_ALL)->shortcut(), QKeySequence(QStringLiteral("Ctrl+A")));
    QCOMPARE(frame.Action(ID_GET_CDDB_INFO)->toolTip(),
             QStringLiteral("Get CDDB Info for current CD-disk from Internet"));
    QCOMPARE(frame.Action(ID_GRAB_MULTI)->toolTip(), QStringLiteral("Grab Multi CD"));
    // The player's controls are on, and the display follows the selection.
    QVERIFY(frame.Action(ID_PLAYER_PLAY)->isEnabled());
    auto* display = frame.findChild<QLabel*>(QStringLiteral("TimeDisplay"));
    QCOMPARE(display->text(), QStringLiteral("(--:--)"));
    frame.Tracks().topLevelItem(0)->setSelected(true);
    QCOMPARE(display->text(), QStringLiteral("(00:00)"));
    QCOMPARE(frame.findChild<QSlider*>(QStringLiteral("PlayerSlider"))->maximum(), 1);
}

void MainWindowTest::grabWritesFilesAndMarksRowsComplete() {
    Session session;
    const auto image = session.WriteImage("grab", Tracks({2, 1, 2}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    CheckRow(frame, 0, true);
    CheckRow(frame, 2, true);
    frame.OnGrab();
    QVERIFY(WaitForGrabEnd(*app));

    const std::vector<std::string>& files = frame.Tracks().Job().GetCompletedFiles();
    QCOMPARE(files.size(), std::size_t(2));
    const int grabbed[] = {1, 3};
    for (std::size_t i = 0; i < files.size(); ++i) {
        const int track = grabbed[i];
        QVERIFY2(fs::exists(files[i]), files[i].c_str());
        QVERIFY(qmtest::WavPayload(files[i]) ==
                image.Sectors(image.Start(track), image.End(track)));
        const int row = track - 1;
        QVERIFY2(kCompleteText.match(CellText(frame, row, 4)).hasMatch(),
                 qPrintable(CellText(frame, row, 4)));
        QVERIFY(!RowChecked(frame, row));
    }
    // The row not checked stays as it was.
    QCOMPARE(CellText(frame, 1, 4), QString());
    QVERIFY(!fs::exists(session.OutDir() / "02 - track2.wav"));
    QCOMPARE(frame.windowTitle(), QStringLiteral("Quavermill"));
    QVERIFY(frame.Action(ID_GRAB)->isEnabled());
    QVERIFY(!frame.Action(ID_STOP)->isEnabled());
    QVERIFY(!frame.Tracks().RowProgressBar()->isVisible());
}

void MainWindowTest::grabWithoutOutputFolderOnlyWarns() {
    Session session([](QuavermillSettings& settings) { settings.naming.OutputFolder.clear(); });
    const auto image = session.WriteImage("nofolder", Tracks({1}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    CheckRow(frame, 0, true);
    QString title;
    QString text;
    OnNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box != nullptr);
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    frame.OnGrab();
    QCOMPARE(title, QStringLiteral("Warning"));
    QCOMPARE(text, QStringLiteral("Output folder is not specified! Please do it now."));
    QVERIFY(!app->Data().IsProcessing());
    QVERIFY(RowChecked(frame, 0));
    QVERIFY(app->Data().GrabLog().GetEntries().empty());
}

void MainWindowTest::dataTrackRowsAreNeverGrabbed() {
    Session session;
    auto tracks = Tracks({1, 3});
    tracks[1].data = true;
    tracks[1].pregap = 2 * kSecond;
    const auto image = session.WriteImage("enhanced", tracks);
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    QCOMPARE(CellText(frame, 1, 1), QStringLiteral("Data track"));
    QCOMPARE(CellText(frame, 1, 3), QString());
    // Only the data row checked: Grab unchecks it and starts nothing.
    CheckRow(frame, 1, true);
    frame.Tracks().topLevelItem(0)->setSelected(true);
    frame.OnGrab();
    QVERIFY(!app->Data().IsProcessing());
    QVERIFY(!RowChecked(frame, 1));
    QVERIFY(!frame.Tracks().topLevelItem(0)->isSelected());
    QVERIFY(!fs::exists(session.OutDir()));
}

void MainWindowTest::stopMidTrackCancelsAndLeavesNoFile() {
    Session session;
    const auto image = session.WriteImage("stop", Tracks({8, 2}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    // The same disc in a drive that reads slowly, so that Stop comes mid-track.
    std::string error;
    auto slow =
        std::make_shared<qmtest::FaultyDrive>(qm::CdioDrive::ForImage(image.layout.sheet, &error));
    slow->SetReadDelay(std::chrono::milliseconds(80));
    qmtest::ScopedDrive drive(slow);
    frame.OnSelChangeDrive(drive.Index());
    QCOMPARE(app->Data().Ripper().GetDriveIndex(), drive.Index());
    CheckRow(frame, 0, true);
    CheckRow(frame, 1, true);
    frame.OnGrab();
    QVERIFY(app->Data().IsProcessing());
    QVERIFY(!frame.Action(ID_GRAB)->isEnabled());
    QVERIFY(frame.Action(ID_STOP)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(frame.Tracks().RowProgressBar()->value() > 0, 20000);
    // The bar sits over the Status cell of the row grabbed.
    const QRect cell = frame.Tracks().visualItemRect(frame.Tracks().topLevelItem(0));
    QVERIFY(frame.Tracks().RowProgressBar()->isVisible());
    QCOMPARE(frame.Tracks().RowProgressBar()->geometry().top(), cell.top());
    QCOMPARE(frame.Tracks().RowProgressBar()->geometry().left(),
             frame.Tracks().header()->sectionPosition(4) - frame.Tracks().header()->offset());
    QVERIFY(frame.windowTitle().endsWith(QStringLiteral("complete.Quavermill")));
    const std::string partial = frame.Tracks().Job().GetOutputFileName();

    frame.OnStop();
    QVERIFY(WaitForGrabEnd(*app));
    QCOMPARE(CellText(frame, 0, 4), QStringLiteral("Cancelled"));
    QVERIFY(!partial.empty());
    QVERIFY2(!fs::exists(partial), partial.c_str());
    // The later track stays checked and waiting.
    QVERIFY(RowChecked(frame, 0));
    QVERIFY(RowChecked(frame, 1));
    QCOMPARE(CellText(frame, 1, 4), QString());
    QCOMPARE(frame.windowTitle(), QStringLiteral("Quavermill"));

    // Closing the window mid-track cancels the track the same way before
    // the window goes.
    frame.OnGrab();
    QTRY_VERIFY_WITH_TIMEOUT(frame.Tracks().RowProgressBar()->value() > 0, 20000);
    const std::string closed = frame.Tracks().Job().GetOutputFileName();
    QVERIFY(!frame.close());
    QVERIFY(frame.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!frame.isVisible(), 20000);
    QVERIFY(!app->Data().IsProcessing());
    QCOMPARE(CellText(frame, 0, 4), QStringLiteral("Cancelled"));
    QVERIFY2(!fs::exists(closed), closed.c_str());
    frame.OnSelChangeDrive(app->GetDeviceIndex());
}

void MainWindowTest::logWindowShowsTheGrabInColours() {
    Session session;
    const auto image = session.WriteImage("log", Tracks({1, 1}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    CheckRow(frame, 0, true);
    frame.OnGrab();
    QVERIFY(WaitForGrabEnd(*app));

    // A folder that cannot be made fails the next track; No ends the job.
    qmtest::WriteText(session.Dir() / "blocker", "a file, not a folder");
    app->Data().Settings().naming.OutputFolder = (session.Dir() / "blocker" / "out").string();
    CheckRow(frame, 1, true);
    QString question;
    OnNextModal([&](QWidget* modal) {
        auto* prompt = qobject_cast<CWarningDlg*>(modal);
        QVERIFY(prompt != nullptr);
        question = prompt->MessageLabel()->text();
        prompt->NoButton()->click();
    });
    frame.OnGrab();
    QVERIFY(WaitForGrabEnd(*app));
    QVERIFY2(question.endsWith(QStringLiteral(". Continue?")), qPrintable(question));
    QCOMPARE(CellText(frame, 1, 4), QStringLiteral("Failed"));

    std::vector<std::pair<QString, int>> rows;
    bool red = false;
    bool green = false;
    OnNextModal([&](QWidget* modal) {
        auto* log = qobject_cast<CLogDlg*>(modal);
        QVERIFY(log != nullptr);
        CLogList* list = log->List();
        for (int row = 0; row < list->count(); ++row) {
            rows.emplace_back(list->item(row)->text(), list->GetKind(row));
        }
        list->clearSelection();
        const QImage shot = list->grab().toImage();
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                red = red || (c.red() > 200 && c.green() < 60 && c.blue() < 60);
                green = green || (c.green() > 100 && c.red() < 40 && c.blue() < 40);
            }
        }
        log->OkButton()->click();
    });
    frame.OnViewLog();
    const auto& entries = app->Data().GrabLog().GetEntries();
    QCOMPARE(rows.size(), entries.size());
    auto kindOf = [&](const QString& text) {
        for (const auto& [shown, kind] : rows) {
            if (shown == text || shown.startsWith(text)) {
                return kind;
            }
        }
        return -1;
    };
    QCOMPARE(kindOf(QStringLiteral("Grabbing CD-disk '")), 0);
    QCOMPARE(kindOf(QStringLiteral("Complete (")), 2);
    QCOMPARE(kindOf(QStringLiteral("Failed.")), 1);
    QVERIFY(red);
    QVERIFY(green);
}

void MainWindowTest::settingsAndColumnWidthsSurviveARestart() {
    Session session;
    const auto image = session.WriteImage("restart", Tracks({1}));
    {
        auto app = session.Start(image.layout.sheet.string());
        QVERIFY(app);
        CMainFrame& frame = *app->MainWindow();
        QVERIFY(!app->Settings().job.AutoRefresh);
        OnNextModal([](QWidget* modal) {
            auto* sheet = qobject_cast<CSettingsSheet*>(modal);
            QVERIFY(sheet != nullptr);
            qmtest::settingsui::SetCheck(sheet, "AutoRefresh", true);
            qmtest::settingsui::PressOk(sheet);
        });
        frame.Action(ID_GENERAL_SETTINGS)->trigger();
        QVERIFY(app->Settings().job.AutoRefresh);
        frame.Tracks().setColumnWidth(1, 222);
        frame.findChild<QCheckBox*>(QStringLiteral("WriteTrackNumber"))->setChecked(false);
        QVERIFY(frame.close());
    }
    auto again = session.Start(image.layout.sheet.string());
    QVERIFY(again);
    QVERIFY(again->Settings().job.AutoRefresh);
    QCOMPARE(again->MainWindow()->Tracks().columnWidth(1), 222);
    QVERIFY(!again->MainWindow()->GetInfoBar().writeTrackNumber);
}

void MainWindowTest::openedDiscImageIsReadOnRefresh() {
    Session session;
    const auto first = session.WriteImage("first", Tracks({1, 1}), 1);
    const auto second = session.WriteImage("second", Tracks({1, 2, 1, 1}), 2);
    auto app = session.Start(first.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    QCOMPARE(frame.Tracks().topLevelItemCount(), 2);
    QVERIFY(frame.OpenDiscImage(second.layout.sheet.string()));
    frame.OnRefresh();
    QCOMPARE(frame.Tracks().topLevelItemCount(), 4);
    QCOMPARE(CellText(frame, 1, 2), QStringLiteral("00:02"));
    const auto drive = frame.findChild<QComboBox*>(QStringLiteral("Drive"));
    QVERIFY(drive->currentText().contains(QStringLiteral("second.cue")));

    // A file that is no image: a box, and the disc shown stays.
    qmtest::WriteText(session.Dir() / "junk.cue", "not a cue sheet");
    OnNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->accept(); });
    QVERIFY(!frame.OpenDiscImage((session.Dir() / "junk.cue").string()));
    QCOMPARE(frame.Tracks().topLevelItemCount(), 4);
}

void MainWindowTest::mixedCDModeShowsTheArtistColumn() {
    Session session;
    const auto image = session.WriteImage("mixed", Tracks({1, 1}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    CTracksWnd& tracks = frame.Tracks();
    QCOMPARE(tracks.columnCount(), 5);
    frame.Action(ID_MIXED_CD)->trigger();
    QCOMPARE(tracks.columnCount(), 6);
    QCOMPARE(tracks.headerItem()->text(2), QStringLiteral("Artist"));
    QCOMPARE(tracks.headerItem()->text(5), QStringLiteral("Status"));
    QCOMPARE(frame.Action(ID_MIXED_CD)->text(), QStringLiteral("Disable &mixed CD mode"));
    TypeIntoLabel(tracks, 0, 2, QStringLiteral("Guest"));
    QCOMPARE(app->Data().Tracks()[0].tag.GetTag("Artist"), std::string("Guest"));
    frame.OnMixedCD();
    QCOMPARE(tracks.columnCount(), 5);
    QCOMPARE(tracks.headerItem()->text(2), QStringLiteral("Time"));
    QCOMPARE(CellText(frame, 0, 2), QStringLiteral("00:01"));
    QCOMPARE(frame.Action(ID_MIXED_CD)->text(), QStringLiteral("Enable &mixed CD mode"));
}

void MainWindowTest::trackPropertiesReachTheSelectedRowsOnly() {
    Session session;
    const auto image = session.WriteImage("props", Tracks({1, 1, 1}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    frame.Tracks().topLevelItem(1)->setSelected(true);
    OnNextModal([](QWidget* modal) {
        auto* sheet = qobject_cast<CSettingsSheet*>(modal);
        QVERIFY(sheet != nullptr);
        qmtest::settingsui::Choose(qmtest::settingsui::ShowAt(sheet, kTrackFormatPage), "Format",
                                   static_cast<long long>(OutputFormat::FLAC));
        qmtest::settingsui::PressOk(sheet);
    });
    frame.Action(ID_TRACK_SETTINGS)->trigger();
    QVERIFY(CellText(frame, 1, 3).startsWith(QStringLiteral("FLAC/44100Hz")));
    QVERIFY(CellText(frame, 0, 3).startsWith(QStringLiteral("WAV/")));
    QVERIFY(CellText(frame, 2, 3).startsWith(QStringLiteral("WAV/")));
    // The format combo shows the selected row's format.
    QCOMPARE(frame.findChild<QComboBox*>(QStringLiteral("Format"))->currentText(),
             QStringLiteral("FLAC"));

    // The combo sets the format of the selected rows.
    frame.Tracks().topLevelItem(2)->setSelected(true);
    auto* combo = frame.findChild<QComboBox*>(QStringLiteral("Format"));
    QCOMPARE(combo->currentText(), QStringLiteral(" ")); // the two differ
    frame.OnSelChangeFormat(combo->findText(QStringLiteral("OGG")));
    QVERIFY(CellText(frame, 1, 3).startsWith(QStringLiteral("OGG/")));
    QVERIFY(CellText(frame, 2, 3).startsWith(QStringLiteral("OGG/")));
    QVERIFY(CellText(frame, 0, 3).startsWith(QStringLiteral("WAV/")));
    QCOMPARE(combo->currentText(), QStringLiteral("OGG"));
}

void MainWindowTest::cddbLookUpNamesTheTracksAndKeepsThemLocally() {
    qmtest::TempDir db;
    qmtest::CddbServer server(db.path());
    Session session([&](QuavermillSettings& settings) {
        settings.cddb.CDDBServer = qmtest::CddbServer::kHost;
        settings.cddb.HTTPPort = server.Port();
        settings.cddb.HTTPPath = qmtest::CddbServer::kPath;
        settings.cddb.EMail = "tester@example.org";
    });
    const auto image = session.WriteImage("cddb", Tracks({1, 2, 1}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    std::uint32_t ids[103] = {};
    QVERIFY(qm::GetCDDBDiskID(app->Data().Ripper().GetHandle(), ids, 103) > 0);
    qmtest::XmcdDisc disc;
    disc.discId = ids[0];
    disc.offsets.assign(ids + 2, ids + 2 + ids[1]);
    disc.seconds = ids[ids[1] + 2];
    disc.dtitle = "Nina Vale / Quiet Rooms";
    disc.titles = {"Lamp", "Salt Road", "Harbour"};
    disc.extd = "YEAR: 1997";
    qmtest::AddCddbEntry(db.path(), "jazz", disc.discId, qmtest::XmcdEntry(disc));

    frame.Action(ID_GET_CDDB_INFO)->trigger();
    QCOMPARE(CellText(frame, 1, 1), QStringLiteral("Salt Road"));
    QCOMPARE(frame.GetInfoBar().artist, std::string("Nina Vale"));
    QCOMPARE(frame.GetInfoBar().album, std::string("Quiet Rooms"));
    QCOMPARE(app->Data().Tracks()[2].tag.GetTag("Title"), std::string("Harbour"));
    // Kept in the local cache: a later refresh names the disc without asking.
    QVERIFY(fs::exists(app->Data().LocalCDDBFolder() / LocalCDDBFileName(disc.discId)));
    server.ClearRequests();
    frame.OnRefresh();
    QCOMPARE(CellText(frame, 0, 1), QStringLiteral("Lamp"));
    QVERIFY(server.Requests().empty());
}

void MainWindowTest::multiDiscGrabAsksForTheNextDisc() {
    Session session;
    const auto image = session.WriteImage("multi", Tracks({1, 1}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    // First disc: OK reads the next one and grabs it whole; there the user
    // has had enough.
    int asked = 0;
    QString text;
    std::function<void(QWidget*)> answer = [&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box != nullptr);
        QCOMPARE(box->windowTitle(), QStringLiteral("Grabbing Multi CD"));
        text = box->text();
        ++asked;
        if (asked == 1) {
            OnNextModal(answer);
            box->button(QMessageBox::Ok)->click();
        } else {
            box->button(QMessageBox::Cancel)->click();
        }
    };
    OnNextModal(answer);
    frame.Action(ID_GRAB_MULTI)->trigger();
    QCOMPARE(frame.windowTitle().right(20), QStringLiteral(" [Grabbing Multi CD]"));
    QTRY_COMPARE_WITH_TIMEOUT(asked, 2, 60000);
    QVERIFY(WaitForGrabEnd(*app));
    QCOMPARE(text, QStringLiteral("Insert new disk."));
    QVERIFY(!app->Data().IsMultiDisc());
    QCOMPARE(frame.windowTitle(), QStringLiteral("Quavermill"));
    int discs = 0;
    for (const GrabLogEntry& entry : app->Data().GrabLog().GetEntries()) {
        discs += entry.text.rfind("Grabbing CD-disk '", 0) == 0 ? 1 : 0;
    }
    QCOMPARE(discs, 2);
    QVERIFY(kCompleteText.match(CellText(frame, 1, 4)).hasMatch());
}

void MainWindowTest::discChangeIsSeenOnlyWithAutoRefresh() {
    Session session;
    const auto first = session.WriteImage("one", Tracks({1, 1}), 1);
    const auto second = session.WriteImage("two", Tracks({1, 1, 1}), 2);
    auto app = session.Start(first.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    std::string error;
    auto changer =
        std::make_shared<qmtest::FaultyDrive>(qm::CdioDrive::ForImage(first.layout.sheet, &error));
    qmtest::ScopedDrive drive(changer);
    frame.OnSelChangeDrive(drive.Index());
    QCOMPARE(frame.Tracks().topLevelItemCount(), 2);

    changer->SwapDisc(qm::CdioDrive::ForImage(second.layout.sheet, &error));
    frame.OnDeviceChange();
    QCOMPARE(frame.Tracks().topLevelItemCount(), 2);
    app->Settings().job.AutoRefresh = true;
    frame.OnDeviceChange();
    QCOMPARE(frame.Tracks().topLevelItemCount(), 3);
    frame.OnSelChangeDrive(app->GetDeviceIndex());
}

void MainWindowTest::noDriveAtAllGivesGeneralErrorAndExitCode1() {
    // This machine has no CD drive; the program is given no image.
    qmtest::TempDir dir;
    const std::string command =
        "QT_QPA_PLATFORM=offscreen QM_AUTOCLOSE_DIALOGS=1 ASAN_OPTIONS=detect_leaks=0 " +
        qmtest::ShellQuote(std::string(QM_PROGRAM_DIR) + "/quavermill") + " --settings " +
        qmtest::ShellQuote((dir / "settings.conf").string()) + " --data-dir " +
        qmtest::ShellQuote((dir / "data").string());
    const qmtest::CommandResult result = qmtest::Run(command, true);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.out.find("Failed to detect any CD drive!\nMay be you have no CD drive or no "
                             "installed ASPI manager !") != std::string::npos,
             result.out.c_str());
}

void MainWindowTest::workingFolderIsTheProgramFolder() {
    Session session;
    const auto image = session.WriteImage("folder", Tracks({1}));
    const fs::path before = fs::current_path();
    fs::create_directories(session.Dir() / "elsewhere");
    fs::current_path(session.Dir() / "elsewhere");
    auto app = session.Start(image.layout.sheet.string());
    fs::current_path(before);
    QVERIFY(app);
    QCOMPARE(app->ProgramFolder(), session.Dir() / "elsewhere");
    QCOMPARE(app->TraceFilePath(), session.Dir() / "elsewhere" / "log_tracer.txt");
    QCOMPARE(app->ProductName(), std::string("Quavermill"));
    QCOMPARE(app->KeyPath(), std::string("SOFTWARE\\Hollowcraft\\Quavermill"));
}

void MainWindowTest::windowThreadKeepsRunningDuringAGrab() {
    Session session;
    // Several tracks in flight at once, each tagged and listed as it is
    // reported, so that the workers' and the file tasks' hand-overs are
    // measured too.
    const auto image = session.WriteImage("long", Tracks({40, 40, 40}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    app->Settings().job.EncoderThreads = 2;
    app->Settings().playlist.AddToPlaylist = true;
    app->Settings().playlist.AddTo = kMaskPlaylist;
    app->Settings().playlist.MaskPlaylist = "{ARTIST} - {ALBUM}.m3u";
    CMainFrame& frame = *app->MainWindow();
    for (int row = 0; row < 3; ++row) {
        CheckRow(frame, row, true);
    }

    // A gap between ticks of a 10 ms timer is time the window thread did not
    // run its event loop. The part of it the thread spent waiting for a core
    // (the kernel's run delay) is the machine's load, not the window's doing.
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 lastDelay = RunDelayMs();
    qint64 longest = 0;
    qint64 longestRaw = 0;
    int ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        const qint64 delay = RunDelayMs();
        longestRaw = std::max(longestRaw, now - last);
        longest = std::max(longest, now - last - (delay - lastDelay));
        last = now;
        lastDelay = delay;
        ++ticks;
    });
    clock.start();
    ticker.start(10);
    frame.OnGrab();
    QVERIFY(WaitForGrabEnd(*app));
    ticker.stop();
    for (int row = 0; row < 3; ++row) {
        QVERIFY2(kCompleteText.match(CellText(frame, row, 4)).hasMatch(),
                 qPrintable(CellText(frame, row, 4)));
    }
    QCOMPARE(frame.Tracks().Job().GetCompletedFiles().size(), std::size_t(3));
    QVERIFY(!frame.Tracks().Job().GetPlaylistName().empty());
    QVERIFY(fs::exists(frame.Tracks().Job().GetPlaylistName()));
    QVERIFY(ticks > 10);
    qInfo("longest gap between ticks: %lld ms (%lld ms with the waits for a core) over %d ticks",
          longest, longestRaw, ticks);
    QVERIFY2(longest < 100, qPrintable(QStringLiteral("longest gap %1 ms").arg(longest)));
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
