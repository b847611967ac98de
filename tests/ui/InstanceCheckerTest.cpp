// The first-instance record: the first instance publishes its window, a
// later one sees it and leaves it alone; a record left by a process that is
// gone is taken over.
#include <sys/wait.h>
#include <unistd.h>

#include <QTest>

#include "ui/InstanceChecker.h"

using namespace qm::ui;

namespace {

// A name of this test run's own, so that a running program is not disturbed.
QString TestName(const char* what) {
    return QStringLiteral("QuavermillTest_%1_%2").arg(::getpid()).arg(QLatin1String(what));
}

} // namespace

class InstanceCheckerTest : public QObject {
    Q_OBJECT

private slots:
    void blockNamedAfterTheApplication();
    void secondInstanceSeesTheFirst();
    void blockOfACrashedInstanceIsTakenOver();
};

void InstanceCheckerTest::blockNamedAfterTheApplication() {
    QCOMPARE(CInstanceChecker().MakeMMFFilename(),
             QStringLiteral("CInstanceChecker_MMF_Quavermill"));
    QCOMPARE(CInstanceChecker(QStringLiteral("Other")).MakeMMFFilename(),
             QStringLiteral("CInstanceChecker_MMF_Other"));
}

void InstanceCheckerTest::secondInstanceSeesTheFirst() {
    const QString name = TestName("two");
    CInstanceChecker first(name);
    QVERIFY(!first.PreviousInstanceRunning());
    QVERIFY(first.TrackFirstInstanceRunning(0x1234));

    CInstanceChecker second(name);
    QVERIFY(second.PreviousInstanceRunning());
    const auto record = second.ReadRecord();
    QVERIFY(record.has_value());
    QCOMPARE(record->windowId, std::uint64_t{0x1234});
    QCOMPARE(record->processId, std::int64_t{::getpid()});
    QCOMPARE(first.ReadRecord()->windowId, std::uint64_t{0x1234});

    // Once both have gone, the next start is a first one again.
    {
        CInstanceChecker gone(TestName("gone"));
        QVERIFY(gone.TrackFirstInstanceRunning(1));
    }
    CInstanceChecker fresh(TestName("gone"));
    QVERIFY(!fresh.PreviousInstanceRunning());
    QVERIFY(!CInstanceChecker(TestName("never")).ActivatePreviousInstance());
}

void InstanceCheckerTest::blockOfACrashedInstanceIsTakenOver() {
    const QString name = TestName("crash");
    // A child publishes its window and dies without cleaning up.
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        CInstanceChecker crashing(name);
        const bool published =
            !crashing.PreviousInstanceRunning() && crashing.TrackFirstInstanceRunning(777);
        ::_exit(published ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);

    CInstanceChecker next(name);
    QVERIFY(!next.PreviousInstanceRunning());
    // The dead child's record was there, and is replaced.
    QCOMPARE(next.ReadRecord()->processId, std::int64_t{child});
    QCOMPARE(next.ReadRecord()->windowId, std::uint64_t{777});
    QVERIFY(next.TrackFirstInstanceRunning(42));
    QCOMPARE(next.ReadRecord()->windowId, std::uint64_t{42});
    QCOMPARE(next.ReadRecord()->processId, std::int64_t{::getpid()});

    CInstanceChecker later(name);
    QVERIFY(later.PreviousInstanceRunning());
    QCOMPARE(later.ReadRecord()->windowId, std::uint64_t{42});
}

QTEST_MAIN(InstanceCheckerTest)
#include "InstanceCheckerTest.moc"
