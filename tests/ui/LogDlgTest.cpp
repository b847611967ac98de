// The log window: every entry of the grab log in order with its kind, drawn
// in its colour in bold Arial; an empty log gives an empty list; the window's
// place is used only when all four values are stored, and OK stores it.
#include <cstdlib>

#include <QImage>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "SettingsSupport.h"
#include "jobs/GrabLog.h"
#include "platform/SettingsStore.h"
#include "support/TempDir.h"
#include "ui/LogDlg.h"

using namespace qm::ui;

namespace {

// How many pixels of `rect` in `image` have exactly `color`.
int CountPixels(const QImage& image, const QRect& rect, const QColor& color) {
    int count = 0;
    const QRgb wanted = color.rgb();
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFFu) == (wanted & 0xFFFFFFu)) {
                ++count;
            }
        }
    }
    return count;
}

std::unique_ptr<qm::SettingsStore> Store(const std::filesystem::path& file) {
    return qm::OpenSettingsStore(file, qm::StoreOpen::Create);
}

} // namespace

class LogDlgTest : public QObject {
    Q_OBJECT

private slots:
    void rowsKeepTextAndKindAndDrawInTheirColours();
    void emptyLogGivesEmptyList();
    void listFillsTheWindowAndOkStaysCentred();
    void placeUsedOnlyWhenAllFourAreStored();
    void okStoresThePlace();
};

void LogDlgTest::rowsKeepTextAndKindAndDrawInTheirColours() {
    CGrabLog log;
    log.AddToLog("Grabbing CD-disk 'Quiet Rooms' is started...", kLogPlain);
    log.AddToLog("Cancelled!", kLogAttention);
    log.AddToLog("Complete.", kLogSuccess);
    log.AddToLog("Failed.", kLogAttention);
    CLogDlg dialog(log, nullptr);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Log"));
    QCOMPARE(dialog.OkButton()->text(), QStringLiteral("OK"));

    CLogList* list = dialog.List();
    QCOMPARE(list->count(), 4);
    const std::vector<GrabLogEntry> entries = log.GetEntries();
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(list->item(row)->text().toStdString(),
                 entries[static_cast<std::size_t>(row)].text);
        QCOMPARE(list->GetKind(row), entries[static_cast<std::size_t>(row)].kind);
    }
    QCOMPARE(list->AddString("Continue anyway", kLogSuccess), 4);
    QCOMPARE(list->GetKind(4), std::uint8_t{kLogSuccess});

    const QFont font = list->font();
    QVERIFY(font.bold());
    QCOMPARE(font.family(), QStringLiteral("Arial"));
    const int dpiY = static_cast<int>(list->screen()->logicalDotsPerInchY());
    QCOMPARE(font.pixelSize(), 17 * dpiY / 72);

    dialog.resize(700, 400);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    list->clearSelection();
    list->setCurrentRow(-1);
    const QImage image = list->viewport()->grab().toImage();
    const QColor red(255, 0, 0);
    const QColor green(0, 128, 0);
    const auto rowRect = [&](int row) { return list->visualItemRect(list->item(row)); };
    // Each row has pixels of its own colour and none of the other's.
    QVERIFY(CountPixels(image, rowRect(0), red) == 0 && CountPixels(image, rowRect(0), green) == 0);
    QVERIFY(CountPixels(image, rowRect(1), red) > 20);
    QCOMPARE(CountPixels(image, rowRect(1), green), 0);
    QVERIFY(CountPixels(image, rowRect(2), green) > 20);
    QCOMPARE(CountPixels(image, rowRect(2), red), 0);
    QVERIFY(CountPixels(image, rowRect(3), red) > 20);
    // The plain row is written in the list's text colour.
    QVERIFY(CountPixels(image, rowRect(0), list->palette().text().color()) > 20);

    // A selected row lies on the highlight.
    list->setCurrentRow(1);
    const QImage selected = list->viewport()->grab().toImage();
    QVERIFY(CountPixels(selected, rowRect(1), list->palette().highlight().color()) >
            rowRect(1).width());
    QVERIFY(CountPixels(selected, rowRect(1), red) > 20);
}

void LogDlgTest::emptyLogGivesEmptyList() {
    CGrabLog log;
    CLogDlg dialog(log, nullptr);
    QCOMPARE(dialog.List()->count(), 0);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void LogDlgTest::listFillsTheWindowAndOkStaysCentred() {
    CGrabLog log;
    log.AddToLog("Complete.", kLogSuccess);
    CLogDlg dialog(log, nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (const QSize size : {QSize(500, 300), QSize(900, 600), QSize(640, 700)}) {
        dialog.resize(size);
        QTRY_COMPARE(dialog.size(), size);
        const QRect list = dialog.List()->geometry();
        const QRect ok = dialog.OkButton()->geometry();
        // Only the margins and the button's row are left over.
        QVERIFY(list.width() >= size.width() - 30);
        QVERIFY(list.height() >= size.height() - ok.height() - 40);
        QVERIFY(ok.top() > list.bottom());
        QVERIFY(std::abs(ok.center().x() - size.width() / 2) <= 2);
    }
}

void LogDlgTest::placeUsedOnlyWhenAllFourAreStored() {
    qmtest::TempDir dir;
    const std::filesystem::path file = dir.path() / "settings.conf";
    CGrabLog log;
    log.AddToLog("Complete.", kLogSuccess);

    QRect unplaced;
    {
        CLogDlg dialog(log, nullptr);
        unplaced = dialog.geometry();
    }
    {
        auto store = Store(file);
        store->WriteString("LogLeftPosition", "50");
        store->WriteString("LogTopPosition", "60");
        store->WriteString("LogRightPosition", "750");
        CLogDlg dialog(log, store.get());
        QCOMPARE(dialog.geometry().size(), unplaced.size());
        QVERIFY(dialog.geometry().topLeft() != QPoint(50, 60));

        store->WriteString("LogBottomPosition", "560");
        CLogDlg placed(log, store.get());
        QCOMPARE(placed.geometry(), QRect(QPoint(50, 60), QSize(700, 500)));
    }
}

void LogDlgTest::okStoresThePlace() {
    qmtest::TempDir dir;
    const std::filesystem::path file = dir.path() / "settings.conf";
    CGrabLog log;
    {
        auto store = Store(file);
        CLogDlg dialog(log, store.get());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.setGeometry(40, 30, 640, 420);
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
    }
    // Saved in the file: a fresh store reads the rectangle back.
    auto reread = qm::OpenSettingsStore(file, qm::StoreOpen::Existing);
    QVERIFY(reread != nullptr);
    QCOMPARE(reread->ReadString("LogLeftPosition").value_or(""), std::string("40"));
    QCOMPARE(reread->ReadString("LogTopPosition").value_or(""), std::string("30"));
    QCOMPARE(reread->ReadString("LogRightPosition").value_or(""), std::string("680"));
    QCOMPARE(reread->ReadString("LogBottomPosition").value_or(""), std::string("450"));
    CLogDlg again(log, reread.get());
    QCOMPARE(again.geometry(), QRect(40, 30, 640, 420));

    // The user's own store, where ShowLogDialog keeps the place.
    qmtest::settingsui::SettingsFile settingsFile;
    QTimer::singleShot(200, [] {
        if (auto* shown = qobject_cast<CLogDlg*>(QApplication::activeModalWidget())) {
            shown->setGeometry(10, 20, 500, 300);
            shown->OkButton()->click();
        }
    });
    ShowLogDialog(nullptr, log);
    QCOMPARE(settingsFile.Value("LogRightPosition").value_or(""), std::string("510"));
    QCOMPARE(settingsFile.Value("LogBottomPosition").value_or(""), std::string("320"));
}

QTEST_MAIN(LogDlgTest)
#include "LogDlgTest.moc"
