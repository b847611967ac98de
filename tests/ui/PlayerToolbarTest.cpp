// The player toolbar offscreen, heard through SDL's file-writing audio
// driver: play shows the stop image and the running time, pause swaps the
// brackets for spaces, the slider seeks, stop gives the row its status back;
// no disc gets the "Error" box, and a grab stops a playing track first.
#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

#include "MainWindowSupport.h"
#include "jobs/Data.h"
#include "support/Environment.h"
#include "support/Pcm.h"
#include "ui/MainFrame.h"
#include "ui/QuavermillApp.h"
#include "ui/TracksWnd.h"

using namespace qm::ui;
using namespace qmtest::mainui;
namespace fs = std::filesystem;

namespace {

QString ShownTime(CMainFrame& frame) {
    return frame.TimeDisplay()->text();
}

void Select(CMainFrame& frame, int row) {
    frame.Tracks().clearSelection();
    frame.Tracks().topLevelItem(row)->setSelected(true);
}

} // namespace

class PlayerToolbarTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void playPauseSeekAndStop();
    void theTrackEndsByItselfAndTheButtonComesBack();
    void noDiscAndAnalogPlayingOfAnImage();
    void aGrabStopsThePlayingTrackFirst();

private:
    std::unique_ptr<qmtest::EnvironmentGuard> m_driver;
    std::unique_ptr<qmtest::EnvironmentGuard> m_file;
    std::unique_ptr<qmtest::TempDir> m_dir;
};

void PlayerToolbarTest::init() {
    m_dir = std::make_unique<qmtest::TempDir>();
    m_driver = std::make_unique<qmtest::EnvironmentGuard>("SDL_AUDIODRIVER", "disk");
    m_file = std::make_unique<qmtest::EnvironmentGuard>("SDL_DISKAUDIOFILE",
                                                        (*m_dir / "device.raw").c_str());
}

void PlayerToolbarTest::cleanup() {
    m_file.reset();
    m_driver.reset();
    m_dir.reset();
}

void PlayerToolbarTest::playPauseSeekAndStop() {
    Session session;
    const auto image = session.WriteImage("play", Tracks({2, 12}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    CData& data = app->Data();
    QSlider* slider = frame.PlayerSlider();

    Select(frame, 1);
    QCOMPARE(slider->maximum(), 12);
    QCOMPARE(ShownTime(frame), QStringLiteral("(00:00)"));
    const QString before = frame.Tracks().topLevelItem(1)->text(4);

    frame.Action(ID_PLAYER_PLAY)->trigger();
    QVERIFY(data.IsPlaying());
    QCOMPARE(frame.Action(ID_PLAYER_PLAY)->text(), QStringLiteral("Stop"));
    QCOMPARE(frame.Tracks().topLevelItem(1)->text(4), QStringLiteral("Playing ..."));
    QTRY_VERIFY_WITH_TIMEOUT(frame.PlayerTimer().isActive(), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(ShownTime(frame), QStringLiteral("(00:01)"), 5000);
    QVERIFY(slider->value() >= 1);

    // Pause: spaces instead of brackets, and the time stands still.
    frame.Action(ID_PLAYER_PAUSE)->trigger();
    QVERIFY(data.IsPlayPaused());
    QVERIFY(ShownTime(frame).startsWith(' '));
    const QString paused = ShownTime(frame);
    QTest::qWait(1200);
    QCOMPARE(ShownTime(frame), paused);
    frame.Action(ID_PLAYER_PAUSE)->trigger();
    QVERIFY(!data.IsPlayPaused());
    QVERIFY(ShownTime(frame).startsWith('('));

    // The slider dragged to 8 seconds and let go: playing goes on from there.
    slider->setSliderDown(true);
    slider->setSliderPosition(8);
    QCOMPARE(ShownTime(frame), QStringLiteral("(00:08)"));
    slider->setSliderDown(false);
    QTRY_VERIFY_WITH_TIMEOUT(ShownTime(frame) >= QStringLiteral("(00:08)"), 3000);
    QVERIFY(data.GetPlayerPosition() >= 8 * kSecond);
    // What is shown runs ahead of what is heard by the device's queue.
    QTRY_VERIFY_WITH_TIMEOUT(ShownTime(frame) >= QStringLiteral("(00:09)"), 4000);

    frame.Action(ID_PLAYER_PLAY)->trigger();
    QVERIFY(!data.IsPlaying());
    QCOMPARE(frame.Action(ID_PLAYER_PLAY)->text(), QStringLiteral("Play"));
    QVERIFY(!frame.PlayerTimer().isActive());
    QCOMPARE(frame.Tracks().topLevelItem(1)->text(4), before);
    QCOMPARE(slider->maximum(), 12);

    // What was heard: the track's start, then the part from 8 seconds on.
    const qmtest::Bytes output = qmtest::ReadFile(*m_dir / "device.raw");
    const qmtest::Bytes from8 =
        image.Sectors(image.Start(2) + 8 * kSecond, image.Start(2) + 8 * kSecond + kSecond / 5);
    const qmtest::Bytes start = image.Sectors(image.Start(2), image.Start(2) + kSecond / 5);
    const auto first = std::find_if(output.begin(), output.end(), [](auto b) { return b != 0; });
    QVERIFY(std::equal(start.begin(), start.end(), first));
    QVERIFY(std::search(output.begin(), output.end(), from8.begin(), from8.end()) != output.end());
}

void PlayerToolbarTest::theTrackEndsByItselfAndTheButtonComesBack() {
    Session session;
    const auto image = session.WriteImage("end", Tracks({2, 1}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    Select(frame, 1);
    frame.Action(ID_PLAYER_PLAY)->trigger();
    QVERIFY(app->Data().IsPlaying());
    QTRY_VERIFY_WITH_TIMEOUT(!app->Data().IsPlaying(), 10000);
    QCOMPARE(frame.Action(ID_PLAYER_PLAY)->text(), QStringLiteral("Play"));
    QVERIFY(!frame.PlayerTimer().isActive());
    QCOMPARE(frame.Tracks().topLevelItem(1)->text(4), QString());

    // Next and previous move the selection over the audio rows.
    frame.Action(ID_PLAYER_PREVIOUS)->trigger();
    QVERIFY(frame.Tracks().topLevelItem(0)->isSelected());
    QCOMPARE(frame.PlayerSlider()->maximum(), 2);
    frame.Action(ID_PLAYER_NEXT)->trigger();
    QVERIFY(frame.Tracks().topLevelItem(1)->isSelected());
    QVERIFY(!app->Data().IsPlaying());
}

void PlayerToolbarTest::noDiscAndAnalogPlayingOfAnImage() {
    Session session([](QuavermillSettings& settings) { settings.player.HowToPlay = 0; });
    const auto image = session.WriteImage("analog", Tracks({2}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    Select(frame, 0);
    // An image cannot play by itself: nothing plays, the window says why.
    frame.Action(ID_PLAYER_PLAY)->trigger();
    QVERIFY(!app->Data().IsPlaying());
    QCOMPARE(frame.Action(ID_PLAYER_PLAY)->text(), QStringLiteral("Play"));
    QVERIFY(frame.statusBar()->currentMessage().contains(QStringLiteral("cannot play")));

    // The disc taken out: the "Error" box.
    app->Data().Ripper().Detach();
    QString caption;
    QString text;
    OnNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        caption = box->windowTitle();
        text = box->text();
        box->accept();
    });
    frame.Action(ID_PLAYER_PLAY)->trigger();
    QCOMPARE(caption, QStringLiteral("Error"));
    QCOMPARE(text, QStringLiteral("No disk in drive."));
    QVERIFY(!app->Data().IsPlaying());
}

void PlayerToolbarTest::aGrabStopsThePlayingTrackFirst() {
    Session session;
    const auto image = session.WriteImage("grab", Tracks({1, 10}));
    auto app = session.Start(image.layout.sheet.string());
    QVERIFY(app);
    CMainFrame& frame = *app->MainWindow();
    Select(frame, 1);
    frame.Action(ID_PLAYER_PLAY)->trigger();
    QVERIFY(app->Data().IsPlaying());
    QTest::qWait(300);
    for (int row = 0; row < 2; ++row) {
        CheckRow(frame, row, row == 0);
    }
    frame.OnGrab();
    QVERIFY(!app->Data().IsPlaying());
    QCOMPARE(frame.Action(ID_PLAYER_PLAY)->text(), QStringLiteral("Play"));
    QVERIFY(WaitForGrabEnd(*app));
    const std::vector<std::string>& files = frame.Tracks().Job().GetCompletedFiles();
    QCOMPARE(files.size(), std::size_t(1));
    QVERIFY(qmtest::WavPayload(files[0]) == image.Sectors(image.Start(1), image.End(1)));

    // The window closed while a track plays: playing ends with it.
    Select(frame, 1);
    frame.Action(ID_PLAYER_PLAY)->trigger();
    QVERIFY(app->Data().IsPlaying());
    QTest::qWait(600);
    app.reset();
}

QTEST_MAIN(PlayerToolbarTest)
#include "PlayerToolbarTest.moc"
