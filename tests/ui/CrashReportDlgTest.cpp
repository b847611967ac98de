// The crash report window: its subject names the code, the method that was
// running and the address; Send hands subject, body and address to
// xdg-email, with the user's description only when one was typed; without
// xdg-email, or when it fails, the user is told and nothing is sent.
#include <fstream>
#include <functional>
#include <sstream>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "core/CrashRecord.h"
#include "support/Environment.h"
#include "support/TempDir.h"
#include "ui/CrashReportDlg.h"

using namespace qm::ui;

namespace {

qm::CrashRecord SampleRecord() {
    qm::CrashRecord record;
    record.productLine = "Quavermill v0.1.0";
    record.code = 11;
    record.address = 0x55D0C3A2F1B0;
    record.reason = "SIGSEGV";
    record.currentFunction = "Start:CDRipper";
    record.callStack = "OnGrab:MainFrame [Enter]\r\nStart:CDRipper [Enter]\r\n---------\r\n"
                       "Open:WAVWriter [Leave]\r\n";
    record.recentLines = "Starting Open:WAVWriter\r\nLeaving  Open:WAVWriter [1]\r\n";
    return record;
}

// A stand-in for xdg-email in `folder` that keeps its arguments (NUL after
// each) and ends with `status`.
void WriteStandIn(const std::filesystem::path& folder, int status) {
    const std::filesystem::path program = folder / "xdg-email";
    std::ofstream script(program);
    script << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '"
           << (folder / "arguments").string() << "'\nexit " << status << "\n";
    script.close();
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
}

std::vector<std::string> Arguments(const std::filesystem::path& folder) {
    std::ifstream in(folder / "arguments", std::ios::binary);
    std::vector<std::string> words;
    std::string word;
    while (std::getline(in, word, '\0')) {
        words.push_back(word);
    }
    return words;
}

struct Shown {
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int count = 0;
};

// Presses Send with `description` typed; notes and closes any message box.
Shown Send(CCrashReportDlg& dialog, const QString& description) {
    Shown shown;
    dialog.Description()->setPlainText(description);
    dialog.show();
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown.text = box->text();
            shown.icon = box->icon();
            ++shown.count;
            box->accept();
        }
    });
    watcher.start(20);
    QTest::mouseClick(dialog.SendButton(), Qt::LeftButton);
    return shown;
}

} // namespace

class CrashReportDlgTest : public QObject {
    Q_OBJECT

private slots:
    void showsRecipientSubjectAndSendAsDefault();
    void sendHandsTheMailToXdgEmail();
    void withoutXdgEmailTheUserIsToldAndNothingIsSent();
    void aFailedHandOffIsReported();
    void anUnreadableRecordEndsTheReportWith2();
};

void CrashReportDlgTest::showsRecipientSubjectAndSendAsDefault() {
    CCrashReportDlg dialog(SampleRecord());
    QCOMPARE(dialog.Subject()->text(),
             QStringLiteral("ripper feedback (error B at Start:CDRipper[55D0C3A2F1B0])"));
    QCOMPARE(dialog.RecipientName()->text(), QStringLiteral("Quavermill support"));
    QCOMPARE(dialog.RecipientAddress()->text(), QStringLiteral("support@quavermill.example"));
    QVERIFY(dialog.SendButton()->isDefault());
    QCOMPARE(dialog.font().family(), QStringLiteral("Arial"));
    QVERIFY(dialog.Description()->toPlainText().isEmpty());
}

void CrashReportDlgTest::sendHandsTheMailToXdgEmail() {
    qmtest::TempDir bin;
    WriteStandIn(bin.path(), 0);
    qmtest::EnvironmentGuard path("PATH", (bin.path().string() + ":/usr/bin:/bin").c_str());
    const std::string expectedBody =
        qm::CrashMailBody(SampleRecord(), qm::OperatingSystemLine(), "");
    QVERIFY(expectedBody.find("Stack of calls :\r\nOnGrab:MainFrame [Enter]\r\n") !=
            std::string::npos);
    {
        CCrashReportDlg dialog(SampleRecord());
        const Shown shown = Send(dialog, QString());
        QCOMPARE(shown.count, 0);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const std::vector<std::string> words = Arguments(bin.path());
        QCOMPARE(words.size(), std::size_t(5));
        QCOMPARE(words[0], std::string("--subject"));
        QCOMPARE(words[1],
                 std::string("ripper feedback (error B at Start:CDRipper[55D0C3A2F1B0])"));
        QCOMPARE(words[2], std::string("--body"));
        QCOMPARE(words[3], expectedBody);
        QVERIFY(words[3].find("Description :") == std::string::npos);
        QCOMPARE(words[4], std::string("support@quavermill.example"));
    }
    {
        // Blank lines alone are no description.
        CCrashReportDlg dialog(SampleRecord());
        Send(dialog, QStringLiteral("  \n"));
        QCOMPARE(Arguments(bin.path()).at(3), expectedBody);
    }
    {
        CCrashReportDlg dialog(SampleRecord());
        Send(dialog, QStringLiteral("Grabbing track 3 to FLAC.\nIt stopped at once."));
        QCOMPARE(Arguments(bin.path()).at(3),
                 expectedBody +
                     "\r\nDescription :\r\nGrabbing track 3 to FLAC.\r\nIt stopped at once.");
    }
}

void CrashReportDlgTest::withoutXdgEmailTheUserIsToldAndNothingIsSent() {
    qmtest::TempDir empty;
    qmtest::EnvironmentGuard path("PATH", empty.path().c_str());
    CCrashReportDlg dialog(SampleRecord());
    const Shown shown = Send(dialog, QStringLiteral("anything"));
    QCOMPARE(shown.count, 1);
    QCOMPARE(shown.text, QStringLiteral("MAPI is not installed.\nI am not able to send feedback."));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QVERIFY(!dialog.isVisible());
}

void CrashReportDlgTest::aFailedHandOffIsReported() {
    qmtest::TempDir bin;
    WriteStandIn(bin.path(), 3);
    qmtest::EnvironmentGuard path("PATH", (bin.path().string() + ":/usr/bin:/bin").c_str());
    CCrashReportDlg dialog(SampleRecord());
    const Shown shown = Send(dialog, QString());
    QCOMPARE(shown.count, 1);
    QCOMPARE(shown.text,
             QStringLiteral("Failed to load MAPI function\nI am not able to send feedback"));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QVERIFY(!dialog.isVisible());
}

void CrashReportDlgTest::anUnreadableRecordEndsTheReportWith2() {
    qmtest::TempDir data;
    std::ofstream(data / "crash-20261201-000000-1.txt") << "not a record\n";
    QCOMPARE(RunCrashReport(data / "crash-20261201-000000-1.txt"), 2);
    QCOMPARE(RunCrashReport(data / "missing.txt"), 2);
}

QTEST_MAIN(CrashReportDlgTest)
#include "CrashReportDlgTest.moc"
