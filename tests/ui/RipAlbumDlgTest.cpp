// The "Rip disk as album" dialog offscreen on a generated disc image: ranges
// typed, stepped and slid as a user does (a time the dialog cannot read or a
// range outside the track is not taken), Start writes one file of the
// checked ranges, and Stop mid-track leaves no file.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "disc/CdioDrive.h"
#include "jobs/Data.h"
#include "platform/SettingsStore.h"
#include "support/DiscImage.h"
#include "support/FaultyDrive.h"
#include "support/TempDir.h"
#include "ui/RipAlbumDlg.h"

using namespace qm::ui;
namespace fs = std::filesystem;

namespace {

constexpr std::int32_t kSecond = 75;

// Answers the next message box (not the album dialog itself) with `button`.
void AnswerNextMessageBox(QMessageBox::StandardButton button) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, button] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box != nullptr && box->isVisible()) {
                timer->stop();
                timer->deleteLater();
                box->button(button)->click();
                return;
            }
        }
    });
    timer->start(20);
}

void TypeInto(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

} // namespace

class RipAlbumDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void rangesAreEditedAsTheUserTypes();
    void startWritesTheAlbumAndStopLeavesNoFile();

private:
    std::unique_ptr<qmtest::TempDir> m_dir;
    qmtest::TestImage m_image;
    std::shared_ptr<qmtest::FaultyDrive> m_faulty;
    std::unique_ptr<qmtest::ScopedDrive> m_drive;
    std::unique_ptr<CData> m_data;
    std::unique_ptr<CRipAlbumDlg> m_dialog;
};

void RipAlbumDlgTest::init() {
    m_dir = std::make_unique<qmtest::TempDir>();
    qm::SetSettingsPath(m_dir->path() / "settings.conf");
    m_image = qmtest::WriteTestImage(m_dir->path(), "disc",
                                     {{false, 0, 2 * kSecond}, {false, 0, 6 * kSecond}}, 3);
    std::string error;
    auto disc = qm::CdioDrive::ForImage(m_image.layout.sheet, &error);
    QVERIFY2(disc != nullptr, error.c_str());
    m_faulty = std::make_shared<qmtest::FaultyDrive>(disc);
    m_drive = std::make_unique<qmtest::ScopedDrive>(m_faulty);
    m_data = std::make_unique<CData>();
    m_data->Settings().DefaultTrack.format.format = OutputFormat::WAV;
    m_data->Settings().naming.OutputFolder = (m_dir->path() / "out").string();
    QVERIFY(m_data->Ripper().Attach(m_drive->Index(), 0));
    InfoBarValues bar{"Artist", "Suite", "2020", "Jazz", true};
    m_dialog = std::make_unique<CRipAlbumDlg>(*m_data, bar);
    QVERIFY(m_dialog->OnInitDialog());
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
}

void RipAlbumDlgTest::cleanup() {
    m_dialog.reset();
    m_data.reset();
    m_drive.reset();
    m_faulty.reset();
    m_dir.reset();
}

void RipAlbumDlgTest::rangesAreEditedAsTheUserTypes() {
    QTreeWidget* list = m_dialog->List();
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->headerItem()->text(0), QStringLiteral("Track name"));
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("track2"));
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("00:06"));
    QCOMPARE(list->topLevelItem(1)->text(3), QStringLiteral("00:06.00"));
    QCOMPARE(m_dialog->FormatCombo()->currentText(), QStringLiteral("WAV"));
    QVERIFY(!m_dialog->FormatDescription()->text().isEmpty());

    list->setCurrentItem(list->topLevelItem(1));
    TypeInto(m_dialog->FromEdit(), QStringLiteral("0:01.00"));
    TypeInto(m_dialog->ToEdit(), QStringLiteral("0:04.50"));
    QCOMPARE(list->topLevelItem(1)->text(2), QStringLiteral("00:01.00"));
    QCOMPARE(list->topLevelItem(1)->text(3), QStringLiteral("00:04.50"));
    QCOMPARE(m_dialog->ToSlider()->value(), 450);

    // Not taken: a time that does not read, a range past the track's end, an
    // empty range. The edit shows what the row still holds.
    TypeInto(m_dialog->ToEdit(), QStringLiteral("1:75"));
    QCOMPARE(m_dialog->ToEdit()->text(), QStringLiteral("00:04.50"));
    TypeInto(m_dialog->ToEdit(), QStringLiteral("0:07"));
    QCOMPARE(m_dialog->ToEdit()->text(), QStringLiteral("00:04.50"));
    TypeInto(m_dialog->FromEdit(), QStringLiteral("0:04.50"));
    QCOMPARE(m_dialog->FromEdit()->text(), QStringLiteral("00:01.00"));

    // The arrows step a second; the slider moves the start.
    auto* toSpin = m_dialog->findChild<QSpinBox*>(QStringLiteral("ToSpin"));
    QVERIFY(toSpin != nullptr);
    toSpin->stepUp();
    QCOMPARE(list->topLevelItem(1)->text(3), QStringLiteral("00:05.50"));
    m_dialog->FromSlider()->setValue(200);
    QCOMPARE(list->topLevelItem(1)->text(2), QStringLiteral("00:02.00"));
    QCOMPARE(m_dialog->Job().GetRows()[1].start, 2.0);

    // The selection commands.
    auto* select = m_dialog->findChild<QPushButton*>(QStringLiteral("SelectAll"));
    auto* invert = m_dialog->findChild<QPushButton*>(QStringLiteral("InvertSelection"));
    QTest::mouseClick(select, Qt::LeftButton);
    QCOMPARE(m_dialog->Job().GetNumberOfChecked(), 2);
    QTest::mouseClick(invert, Qt::LeftButton);
    QCOMPARE(m_dialog->Job().GetNumberOfChecked(), 0);

    // Start with nothing checked.
    AnswerNextMessageBox(QMessageBox::Ok);
    QTest::mouseClick(m_dialog->StartButton(), Qt::LeftButton);
    QVERIFY(!m_dialog->Job().IsRunning());
    QCOMPARE(m_dialog->StartButton()->text(), QStringLiteral("Start"));
    QVERIFY(CRipAlbumDlg::FileDialogFilter().startsWith(
        QStringLiteral("All supported formats (*.mp3 *.wav *.wma *.ogg *.ape *.flac);;MP3 files")));
}

void RipAlbumDlgTest::startWritesTheAlbumAndStopLeavesNoFile() {
    QTreeWidget* list = m_dialog->List();
    list->topLevelItem(0)->setCheckState(0, Qt::Checked);
    list->topLevelItem(1)->setCheckState(0, Qt::Checked);
    const fs::path album = m_dir->path() / "out" / "album.wav";
    m_dialog->FileEdit()->setText(
        QString::fromStdString((m_dir->path() / "out" / "album").string()));
    m_dialog->SilenceCheck()->setChecked(true);
    TypeInto(m_dialog->SilenceEdit(), QStringLiteral("0.5"));
    QTest::mouseClick(m_dialog->StartButton(), Qt::LeftButton);
    QCOMPARE(m_dialog->StartButton()->text(), QStringLiteral("Stop"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->Job().IsRunning(), 60000);
    QCOMPARE(m_dialog->Job().GetOutcome(), CAlbumJob::Outcome::kComplete);
    QCOMPARE(m_dialog->StartButton()->text(), QStringLiteral("Start"));
    QVERIFY(fs::exists(album));
    QVERIFY(fs::exists(m_dir->path() / "out" / "album.cue"));
    // 2 s + 0.5 s + 6 s of 44100 Hz stereo 16-bit.
    QCOMPARE(static_cast<long long>(qmtest::WavPayload(album).size()), (8 * 44100 + 22050) * 4LL);
    QCOMPARE(list->topLevelItem(0)->checkState(0), Qt::Unchecked);
    fs::remove(album);
    fs::remove(m_dir->path() / "out" / "album.cue");

    // Again, slowly, with Stop pressed in the second track and confirmed.
    list->topLevelItem(0)->setCheckState(0, Qt::Checked);
    list->topLevelItem(1)->setCheckState(0, Qt::Checked);
    m_faulty->SetReadDelay(std::chrono::milliseconds(30));
    QTest::mouseClick(m_dialog->StartButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(m_dialog->RowProgressBar()->isVisible() &&
                                 m_dialog->Job().GetRows()[0].checked == false,
                             60000);
    AnswerNextMessageBox(QMessageBox::Yes);
    QTest::mouseClick(m_dialog->StartButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->Job().IsRunning(), 60000);
    QCOMPARE(m_dialog->Job().GetOutcome(), CAlbumJob::Outcome::kCancelled);
    QVERIFY(!fs::exists(album));
    QVERIFY(!fs::exists(m_dir->path() / "out" / "album.cue"));
    QVERIFY(!m_dialog->RowProgressBar()->isVisible());
    QVERIFY(m_dialog->FileEdit()->isEnabled());
}

QTEST_MAIN(RipAlbumDlgTest)
#include "RipAlbumDlgTest.moc"
