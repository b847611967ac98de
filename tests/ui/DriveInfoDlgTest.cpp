// The drive information window: an image says it has no hardware and needs
// no offset; a drive that names itself shows its vendor, model and revision
// and the read offset the AccurateRip drive list (kept in the data folder)
// has for it, with a hint when the one in use differs; a drive the list does
// not know points to `offset --find`.
#include <QLabel>
#include <QTest>

#include "disc/CdDrive.h"
#include "disc/DriveList.h"
#include "support/DiscImage.h"
#include "support/TempDir.h"
#include "ui/DriveInfoDlg.h"

#include <fstream>

using namespace qm::ui;

namespace {

// A drive that names itself and holds no disc.
class NamedDrive : public qm::CdDrive {
public:
    std::string Device() const override { return "/dev/sr7"; }
    bool IsImage() const override { return false; }
    bool Open(int) override { return true; }
    void Close() override {}
    std::string Identity() override { return "PLEXTOR DVDR PX-716A 1.11"; }
    bool Hardware(qm::DriveHardware& hardware) override {
        hardware = {"PLEXTOR", "DVDR   PX-716A", "1.11"};
        return true;
    }
    bool ReadToc(qm::DiscToc&) override { return false; }
    qm::DriveStatus ReadAudio(std::int32_t, std::int32_t, std::uint8_t*) override {
        return qm::DriveStatus::kFailed;
    }
    qm::DriveStatus SetSpeed(int) override { return qm::DriveStatus::kOk; }
    int GetCurrentSpeed() override { return -1; }
    int GetMaximalSpeed() override { return -1; }
};

// One record of the drive list: offset, name, the rest unused.
void AddRecord(std::string& list, std::int16_t offset, const std::string& name) {
    std::string record(69, '\0');
    record[0] = static_cast<char>(offset & 0xff);
    record[1] = static_cast<char>((offset >> 8) & 0xff);
    record.replace(2, name.size(), name);
    list += record;
}

QString Shown(CDriveInfoDlg& dialog) {
    if (!QTest::qWaitFor([&] { return dialog.IsDone(); }, 10000)) {
        return QStringLiteral("<no answer>");
    }
    return dialog.Text()->text();
}

} // namespace

class DriveInfoDlgTest : public QObject {
    Q_OBJECT

private slots:
    void imageHasNoHardwareAndNeedsNoOffset();
    void listedDriveShowsItsOffset();
    void unlistedDriveOrNoList();
};

void DriveInfoDlgTest::imageHasNoHardwareAndNeedsNoOffset() {
    qmtest::TempDir dir;
    const qmtest::TestImage image =
        qmtest::WriteTestImage(dir.path(), "disc", {{false, 0, 3 * 75}}, 7);
    const int index = qm::DriveList::Instance().AddImage(image.layout.sheet);
    QVERIFY(index >= 0);
    const auto drive = qm::DriveList::Instance().Drives()[static_cast<std::size_t>(index)].drive;
    // No server: an image never asks for the list.
    CDriveInfoDlg dialog(drive, dir.path() / "data", "http://127.0.0.1:9", 0);
    const QString text = Shown(dialog);
    QVERIFY2(text.contains(QStringLiteral("A disc image, not a drive: it has no vendor, model or "
                                          "read offset")),
             qPrintable(text));
    QVERIFY2(text.contains(QString::fromStdString("Image: " + image.layout.sheet.string())),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Read offset in use: +0 samples")), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("Vendor")));
    QVERIFY(!std::filesystem::exists(dir.path() / "data" / "DriveOffsets.bin"));

    CDriveInfoDlg shifted(drive, dir.path() / "data", "", 667);
    QVERIFY2(Shown(shifted).contains(QStringLiteral("+667 samples (an image needs 0)")),
             qPrintable(shifted.Text()->text()));
    qm::DriveList::Instance().Remove(drive);
}

void DriveInfoDlgTest::listedDriveShowsItsOffset() {
    qmtest::TempDir dir;
    std::string list;
    AddRecord(list, 6, "HL-DT-ST - DVDRAM GH24NSD1");
    AddRecord(list, 30, "PLEXTOR - DVDR   PX-716A");
    std::filesystem::create_directories(dir.path() / "data");
    std::ofstream(dir.path() / "data" / "DriveOffsets.bin", std::ios::binary) << list;
    const auto drive = std::make_shared<NamedDrive>();

    CDriveInfoDlg dialog(drive, dir.path() / "data", "http://127.0.0.1:9", 30);
    const QString text = Shown(dialog);
    QVERIFY2(
        text.contains(QStringLiteral("Vendor: PLEXTOR\nModel: DVDR   PX-716A\nRevision: 1.11")),
        qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("AccurateRip drive list: read offset +30 samples")),
             qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("Read offset in use: +30 samples")), qPrintable(text));

    CDriveInfoDlg wrong(drive, dir.path() / "data", "http://127.0.0.1:9", 0);
    QVERIFY2(Shown(wrong).contains(QStringLiteral("(set it to +30 in Settings > General)")),
             qPrintable(wrong.Text()->text()));
}

void DriveInfoDlgTest::unlistedDriveOrNoList() {
    qmtest::TempDir dir;
    const auto drive = std::make_shared<NamedDrive>();
    // No list kept and none to fetch (nothing listens on port 9).
    CDriveInfoDlg none(drive, dir.path() / "data", "http://127.0.0.1:9", 0);
    QVERIFY2(Shown(none).contains(QStringLiteral("AccurateRip drive list: could not be fetched")),
             qPrintable(none.Text()->text()));

    std::string list;
    AddRecord(list, 6, "HL-DT-ST - DVDRAM GH24NSD1");
    std::filesystem::create_directories(dir.path() / "data");
    std::ofstream(dir.path() / "data" / "DriveOffsets.bin", std::ios::binary) << list;
    CDriveInfoDlg unlisted(drive, dir.path() / "data", "http://127.0.0.1:9", 0);
    QVERIFY2(
        Shown(unlisted).contains(QStringLiteral("not listed (\"quavermill-cli offset --find\"")),
        qPrintable(unlisted.Text()->text()));

    CDriveInfoDlg nothing(nullptr, dir.path() / "data", "", 0);
    QVERIFY(nothing.IsDone());
    QCOMPARE(nothing.Text()->text(), QStringLiteral("No drive is selected."));
}

QTEST_MAIN(DriveInfoDlgTest)
#include "DriveInfoDlgTest.moc"
