// The auto-answer prompt's window: a countdown that nobody answers gives the
// default answer after its ticks, counting down on the default button; no
// countdown waits for the user; a button pressed at any time is the answer.
#include <functional>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ui/WarningDlg.h"

using namespace qm::ui;

namespace {

// Runs `step` every few milliseconds while the prompt is up.
class Watcher {
public:
    explicit Watcher(std::function<void()> step) : m_step(std::move(step)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_step(); });
        m_timer.start(20);
    }

private:
    std::function<void()> m_step;
    QTimer m_timer;
};

} // namespace

class WarningDlgTest : public QObject {
    Q_OBJECT

private slots:
    void countdownAnswersYesAndCountsDownOnTheDefaultButton();
    void defaultNoCountsDownOnNoAndAnswersNo();
    void noCountdownWaitsForTheUser();
    void aButtonPressedIsTheAnswer();
};

void WarningDlgTest::countdownAnswersYesAndCountsDownOnTheDefaultButton() {
    CWarningPrompt prompt("Disk have been changed.\n\r Continue anyway ?", 5);
    CWarningDlg dialog(prompt);
    QStringList yesLabels;
    QStringList noLabels;
    bool focusOnYes = false;
    Watcher watcher([&] {
        if (!dialog.isVisible()) {
            return;
        }
        if (yesLabels.isEmpty() || yesLabels.back() != dialog.YesButton()->text()) {
            yesLabels << dialog.YesButton()->text();
        }
        if (noLabels.isEmpty() || noLabels.back() != dialog.NoButton()->text()) {
            noLabels << dialog.NoButton()->text();
        }
        focusOnYes = focusOnYes || dialog.focusWidget() == dialog.YesButton();
    });

    QCOMPARE(dialog.Run(), PromptAnswer::kYes);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Warning"));
    QCOMPARE(dialog.MessageLabel()->text(),
             QStringLiteral("Disk have been changed.\n\r Continue anyway ?"));
    QCOMPARE(yesLabels, QStringList({QStringLiteral("Yes(5)"), QStringLiteral("Yes(4)"),
                                     QStringLiteral("Yes(3)"), QStringLiteral("Yes(2)"),
                                     QStringLiteral("Yes(1)")}));
    QCOMPARE(noLabels, QStringList({QStringLiteral("No")}));
    QVERIFY(dialog.YesButton()->isDefault());
    QVERIFY(focusOnYes);
    QVERIFY(prompt.IsClosed());
}

void WarningDlgTest::defaultNoCountsDownOnNoAndAnswersNo() {
    CWarningPrompt prompt("Overwrite?", 2);
    prompt.SetDefaultIsNo(true);
    CWarningDlg dialog(prompt);
    QStringList noLabels;
    bool focusOnNo = false;
    Watcher watcher([&] {
        if (!dialog.isVisible()) {
            return;
        }
        QCOMPARE(dialog.YesButton()->text(), QStringLiteral("Yes"));
        if (noLabels.isEmpty() || noLabels.back() != dialog.NoButton()->text()) {
            noLabels << dialog.NoButton()->text();
        }
        focusOnNo = focusOnNo || dialog.focusWidget() == dialog.NoButton();
    });
    QCOMPARE(dialog.Run(), PromptAnswer::kNo);
    QCOMPARE(noLabels, QStringList({QStringLiteral("No(2)"), QStringLiteral("No(1)")}));
    QVERIFY(dialog.NoButton()->isDefault());
    QVERIFY(!dialog.YesButton()->isDefault());
    QVERIFY(focusOnNo);
}

void WarningDlgTest::noCountdownWaitsForTheUser() {
    CWarningPrompt prompt("Failed to create playlist. Continue ?", 0);
    CWarningDlg dialog(prompt);
    QElapsedTimer shown;
    QStringList labels;
    Watcher watcher([&] {
        if (!dialog.isVisible()) {
            return;
        }
        if (!shown.isValid()) {
            shown.start();
            labels << dialog.YesButton()->text() << dialog.NoButton()->text();
        }
        // Well past a tick, still waiting: the user says No.
        if (shown.elapsed() > 1500) {
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.YesButton()->text(), QStringLiteral("Yes"));
            QTest::mouseClick(dialog.NoButton(), Qt::LeftButton);
        }
    });
    QCOMPARE(dialog.Run(), PromptAnswer::kNo);
    QCOMPARE(labels, QStringList({QStringLiteral("Yes"), QStringLiteral("No")}));
}

void WarningDlgTest::aButtonPressedIsTheAnswer() {
    for (const PromptAnswer pressed : {PromptAnswer::kNo, PromptAnswer::kYes}) {
        CWarningPrompt prompt("Failed. Continue?", 10);
        CWarningDlg dialog(prompt);
        Watcher watcher([&] {
            if (dialog.isVisible()) {
                QTest::mouseClick(pressed == PromptAnswer::kYes ? dialog.YesButton()
                                                                : dialog.NoButton(),
                                  Qt::LeftButton);
            }
        });
        QCOMPARE(dialog.Run(), pressed);
        QCOMPARE(prompt.GetResult(), pressed);
        // Answered during the countdown: it stopped where it was.
        QVERIFY(prompt.GetCountdown() > 5);
    }
    // Escape (or closing the window) is a No.
    CWarningPrompt prompt("Continue?", 10);
    CWarningDlg dialog(prompt);
    Watcher watcher([&] {
        if (dialog.isVisible()) {
            QTest::keyClick(&dialog, Qt::Key_Escape);
        }
    });
    QCOMPARE(dialog.Run(), PromptAnswer::kNo);
}

QTEST_MAIN(WarningDlgTest)
#include "WarningDlgTest.moc"
