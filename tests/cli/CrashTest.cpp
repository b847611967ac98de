// A fault while the terminal program works: a grab waiting at its prompt
// gets SIGSEGV from outside, as a user's `kill -SEGV` sends it. It ends with
// status 255, says where the record is and which command opens the report;
// the record names the grab's traced calls; the next start mentions the
// waiting record once.
#include <gtest/gtest.h>

#include "CliTestSupport.h"
#include "core/CrashRecord.h"
#include "support/Pcm.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using qmtest::ShellQuote;

TEST(CliCrash, FaultMidGrabEndsWith255AndTheNextStartMentionsTheRecordOnce) {
    qmtest::TempDir dir;
    const std::string program = ShellQuote(clitest::Program()) + " --settings " +
                                ShellQuote((dir / "settings.conf").string()) + " --data-dir " +
                                ShellQuote((dir / "data").string()) + " ";
    qmtest::WriteText(dir / "file", "x");
    // A playlist that cannot be made holds the grab at its countdown.
    ASSERT_EQ(qmtest::Run(program + "config set AddToPlaylist True").exitCode, 0);
    ASSERT_EQ(qmtest::Run(program + "config set SpecifiedPlaylist " +
                          ShellQuote((dir / "file" / "list.m3u").string()))
                  .exitCode,
              0);
    const std::string output = ShellQuote((dir / "grab.txt").string());
    const auto run = qmtest::Run(
        program + "--device " + ShellQuote(std::string(QM_CLI_DEMO_DIR) + "/demo.cue") +
        " grab --tracks 1 --output " + ShellQuote((dir / "out").string()) + " < /dev/null > " +
        output + " 2>&1 & pid=$!; i=0; until grep -q 'Yes(4)' " + output +
        " || [ $i -gt 300 ]; do sleep 0.1; i=$((i+1)); done; kill -SEGV $pid; wait $pid; "
        "echo \"status=$?\"; cat " +
        output);
    EXPECT_NE(run.out.find("status=255\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("quavermill-cli: stopped by a fault (SIGSEGV, signal 11).\n"
                           "The crash record is " +
                           (dir / "data" / "crash").string() + "/crash-"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("To see the report and mail it: "), std::string::npos);
    EXPECT_NE(run.out.find("/quavermill --crash-report "), std::string::npos);

    const auto records = qmtest::FilesUnder(dir / "data" / "crash");
    ASSERT_EQ(records.size(), 1u);
    const auto record = qm::ReadCrashRecord(records[0]);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->code, 11u);
    EXPECT_EQ(record->productLine.rfind("Quavermill v", 0), 0u);
    // Waiting at the prompt, inside the grab.
    EXPECT_NE(record->callStack.find("StartProcess:"), std::string::npos) << record->callStack;
    EXPECT_NE(record->callStack.find(" [Enter]\r\n"), std::string::npos);
    EXPECT_FALSE(record->recentLines.empty());

    const auto next = qmtest::Run(program + "config get AddToPlaylist", true);
    EXPECT_EQ(next.exitCode, 0);
    EXPECT_NE(next.out.find("crash record is waiting: " + records[0].string()), std::string::npos)
        << next.out;
    const auto later = qmtest::Run(program + "config get AddToPlaylist", true);
    EXPECT_EQ(later.out, "True\n");
}

} // namespace
