// The crash handler, each case in a child process of its own: a real fault,
// an abort and an exception nothing caught all end with status 255 and a
// record that names the traced calls that were running, even when the
// fault hit the tracer itself halfway through writing; a fault inside the
// handler still ends with 255; the desktop program's mode starts the report
// as a process of its own.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/CrashHandler.h"
#include "core/CrashRecord.h"
#include "core/Diagnostics.h"
#include "core/Trace.h"
#include "support/TempDir.h"

namespace {

// One readable page followed by one that faults on any access.
struct TrapPages {
    TrapPages() {
        const long size = ::sysconf(_SC_PAGESIZE);
        void* pages = ::mmap(nullptr, static_cast<std::size_t>(2 * size), PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        readable = static_cast<char*>(pages);
        trap = readable + size;
        ::mprotect(trap, static_cast<std::size_t>(size), PROT_NONE);
        pageSize = static_cast<std::size_t>(size);
    }
    // A text with no end before the trap page: reading it to its end faults.
    const char* Unterminated(std::size_t length) {
        char* start = trap - length;
        std::memset(start, 'x', length);
        return start;
    }
    char* readable = nullptr;
    char* trap = nullptr;
    std::size_t pageSize = 0;
};

TrapPages& Trap() {
    static TrapPages pages;
    return pages;
}

void StartTracing(const std::filesystem::path& dataFolder,
                  qm::CrashReportMode mode = qm::CrashReportMode::kPrintReportCommand,
                  const std::filesystem::path& reportProgram = {}) {
    qm::InstallCrashHandler({.productLine = "Quavermill v9.8.7",
                             .programName = "crashtest",
                             .dataFolder = dataFolder,
                             .mode = mode,
                             .reportProgram = reportProgram});
    g_FunctionTracer.Init(10, 20);
}

void Fault() {
    QM_TRACE("Ripper");
    *reinterpret_cast<volatile char*>(Trap().trap) = 1;
}

void ReadTrack() {
    QM_TRACE("Ripper");
    Fault();
}

void Abort() {
    QM_TRACE("Encoder");
    std::abort();
}

void Throw() {
    QM_TRACE("Worker");
    throw std::runtime_error("the disc went away");
}

void FillTheRingWithLongerLinesThanTheNextOne() {
    QM_TRACE("SomeLongClassTag");
}

// Leaves every line of the ring used, and longer than the next ones.
void FillTheRing() {
    for (int i = 0; i < 30; ++i) {
        FillTheRingWithLongerLinesThanTheNextOne();
    }
}

void WorkerThatThrows() {
    std::thread worker([] { Throw(); });
    worker.join();
}

std::vector<std::filesystem::path> Records(const qmtest::TempDir& data) {
    std::vector<std::filesystem::path> records;
    for (const auto& file : qmtest::FilesUnder(data / "crash")) {
        if (file.filename().string().starts_with("crash-")) {
            records.push_back(file);
        }
    }
    return records;
}

std::string FileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

qm::CrashRecord OnlyRecord(const qmtest::TempDir& data) {
    const auto records = Records(data);
    EXPECT_EQ(records.size(), 1u);
    if (records.empty()) {
        return {};
    }
    const auto name = records[0].filename().string();
    // Named by time and process: crash-YYYYMMDD-HHMMSS-PID.txt.
    EXPECT_EQ(name.size() > 26 && name[14] == '-' && name[21] == '-', true) << name;
    const std::optional<qm::CrashRecord> record = qm::ReadCrashRecord(records[0]);
    EXPECT_TRUE(record.has_value()) << FileText(records[0]);
    return record.value_or(qm::CrashRecord{});
}

// Every line of the record's traced sections is a line a person can read.
void ExpectPrintable(const std::string& section) {
    for (const char c : section) {
        EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\r' || c == '\n')
            << "control character " << static_cast<int>(c);
    }
}

TEST(CrashHandler, FaultWritesTheRecordAndEndsWith255) {
    qmtest::TempDir data;
    Trap();
    EXPECT_EXIT(
        {
            StartTracing(data.path());
            ReadTrack();
        },
        ::testing::ExitedWithCode(255),
        "crashtest: stopped by a fault \\(SIGSEGV, signal 11\\)\\.\n"
        "The crash record is .*/crash/crash-[0-9-]+\\.txt\n"
        "To see the report and mail it: .* --crash-report .*/crash/'?crash-");
    const qm::CrashRecord record = OnlyRecord(data);
    EXPECT_EQ(record.productLine, "Quavermill v9.8.7");
    EXPECT_EQ(record.code, 11u);
    EXPECT_EQ(record.reason, "SIGSEGV");
    EXPECT_NE(record.address, 0u);
    EXPECT_EQ(record.currentFunction, "Fault:Ripper");
    EXPECT_EQ(record.callStack, "ReadTrack:Ripper [Enter]\r\nFault:Ripper [Enter]\r\n");
    EXPECT_EQ(record.recentLines, "Starting ReadTrack:Ripper\r\nStarting Fault:Ripper\r\n");
    // The address the program touched is kept beside where it was.
    char expected[32];
    std::snprintf(expected, sizeof expected, "Data address: %llX\n",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(Trap().trap)));
    EXPECT_NE(FileText(Records(data)[0]).find(expected), std::string::npos);
}

TEST(CrashHandler, AbortAndAnEscapedExceptionEndWith255) {
    {
        qmtest::TempDir data;
        EXPECT_EXIT(
            {
                StartTracing(data.path());
                QM_TRACE_AS("Grab", "GrabJob");
                Abort();
            },
            ::testing::ExitedWithCode(255), "stopped by a fault \\(SIGABRT, signal 6\\)");
        const qm::CrashRecord record = OnlyRecord(data);
        EXPECT_EQ(record.code, 6u);
        EXPECT_EQ(record.currentFunction, "Abort:Encoder");
        EXPECT_EQ(record.callStack, "Grab:GrabJob [Enter]\r\nAbort:Encoder [Enter]\r\n");
    }
    {
        qmtest::TempDir data;
        EXPECT_EXIT(
            {
                StartTracing(data.path());
                QM_TRACE_AS("Grab", "GrabJob");
                WorkerThatThrows();
            },
            ::testing::ExitedWithCode(255),
            "stopped by an exception nothing handled \\(the disc went away\\)");
        const qm::CrashRecord record = OnlyRecord(data);
        EXPECT_EQ(record.code, qm::kEscapedExceptionCode);
        EXPECT_EQ(record.reason, "the disc went away");
        EXPECT_EQ(record.currentFunction, "Throw:Worker");
        EXPECT_EQ(record.callStack, "Grab:GrabJob [Enter]\r\nThrow:Worker [Enter]\r\n");
        EXPECT_EQ(qm::CrashMailSubject(record), "ripper feedback (error 100 at Throw:Worker[0])");
    }
}

TEST(CrashHandler, RecordOfAFaultInsideTheTracerIsReadable) {
    Trap();
    // A fault while entering: the slot has its new method name but not yet
    // its class tag, and the tracer's lock is held.
    {
        qmtest::TempDir data;
        EXPECT_EXIT(
            {
                StartTracing(data.path());
                QM_TRACE_AS("Grab", "GrabJob");
                FillTheRing();
                g_FunctionTracer.Enter("Torn", Trap().Unterminated(16));
            },
            ::testing::ExitedWithCode(255), "SIGSEGV");
        const qm::CrashRecord record = OnlyRecord(data);
        EXPECT_EQ(record.callStack.rfind("Grab:GrabJob [Enter]\r\n", 0), 0u) << record.callStack;
        EXPECT_NE(record.recentLines.find("Starting FillTheRing"), std::string::npos);
        ExpectPrintable(record.callStack);
        ExpectPrintable(record.recentLines);
    }
    // A fault while writing a line: the ring's counters have moved on, the
    // line itself is half old, half new.
    {
        qmtest::TempDir data;
        EXPECT_EXIT(
            {
                StartTracing(data.path());
                QM_TRACE_AS("Grab", "GrabJob");
                FillTheRing();
                g_FunctionTracer.Leave(Trap().Unterminated(100), "T", 7);
            },
            ::testing::ExitedWithCode(255), "SIGSEGV");
        const qm::CrashRecord record = OnlyRecord(data);
        EXPECT_EQ(record.currentFunction, "Grab:GrabJob");
        std::istringstream lines(record.recentLines);
        std::string line;
        int count = 0;
        while (std::getline(lines, line)) {
            EXPECT_LE(line.size(), static_cast<std::size_t>(CFunctionTracer::kLineLength));
            ++count;
        }
        EXPECT_EQ(count, 20);
        ExpectPrintable(record.recentLines);
    }
}

TEST(CrashHandler, FaultInsideTheHandlerStillEndsWith255) {
    qmtest::TempDir data;
    Trap();
    EXPECT_EXIT(
        {
            StartTracing(data.path());
            qm::SetCrashHandlerTestHook([] { *reinterpret_cast<volatile char*>(Trap().trap) = 2; });
            ReadTrack();
        },
        ::testing::ExitedWithCode(255), "");
    EXPECT_TRUE(Records(data).empty());
}

TEST(CrashHandler, DesktopModeStartsTheReportAsAProcessOfItsOwn) {
    qmtest::TempDir data;
    const std::filesystem::path program = data / "report-standin";
    const std::filesystem::path arguments = data / "arguments";
    {
        std::ofstream script(program);
        script << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << arguments.string() << ".part'\nmv '"
               << arguments.string() << ".part' '" << arguments.string() << "'\n";
    }
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    EXPECT_EXIT(
        {
            StartTracing(data.path(), qm::CrashReportMode::kStartReportWindow, program);
            ReadTrack();
        },
        ::testing::ExitedWithCode(255), "The crash record is ");
    // The report outlives the crashed process: wait for it to run.
    for (int i = 0; i < 200 && !std::filesystem::exists(arguments); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const auto records = Records(data);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(FileText(arguments), "--crash-report\n" + records[0].string() + "\n");
}

TEST(CrashRecord, WaitingRecordIsMentionedOnceAndAnOpenedOneNever) {
    qmtest::TempDir data;
    EXPECT_EQ(qm::TakeWaitingCrashNotice(data.path()), "");
    const std::filesystem::path folder = qm::CrashFolder(data.path());
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "crash-20261201-100000-41.txt") << "Crash record\n";
    std::ofstream(folder / "crash-20261202-100000-7.txt") << "Crash record\n";
    const std::string notice = qm::TakeWaitingCrashNotice(data.path());
    EXPECT_NE(notice.find("crash record is waiting: " +
                          (folder / "crash-20261202-100000-7.txt").string()),
              std::string::npos)
        << notice;
    EXPECT_NE(notice.find(" --crash-report "), std::string::npos);
    EXPECT_EQ(qm::TakeWaitingCrashNotice(data.path()), "");
    // A newer crash whose report the crashing program opened itself.
    std::ofstream(folder / "crash-20261203-090000-12.txt") << "Crash record\n";
    qm::MarkCrashRecordMentioned(folder / "crash-20261203-090000-12.txt");
    EXPECT_EQ(qm::TakeWaitingCrashNotice(data.path()), "");
    std::ofstream(folder / "crash-20261204-090000-3.txt") << "Crash record\n";
    EXPECT_NE(qm::TakeWaitingCrashNotice(data.path()), "");
}

TEST(CrashRecord, ReadsWhatACutRecordHasAndRefusesOtherFiles) {
    qmtest::TempDir data;
    std::ofstream(data / "other.txt") << "Product: x\n";
    EXPECT_FALSE(qm::ReadCrashRecord(data / "other.txt").has_value());
    EXPECT_FALSE(qm::ReadCrashRecord(data / "missing.txt").has_value());
    std::ofstream(data / "cut.txt") << "Crash record\nProduct: Quavermill v1\nCode: B\nAddr";
    const auto cut = qm::ReadCrashRecord(data / "cut.txt");
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->code, 11u);
    EXPECT_EQ(cut->address, 0u);
    EXPECT_EQ(qm::CrashMailSubject(*cut), "ripper feedback (error B at [0])");
}

TEST(CrashRecord, MailBodyHasTheDescriptionSectionOnlyWhenOneWasTyped) {
    qm::CrashRecord record;
    record.productLine = "Quavermill v1.0";
    record.callStack = "A:X [Enter]\r\n";
    record.recentLines = "Starting A:X\r\n";
    const std::string body = qm::CrashMailBody(record, "Linux 6.1 x86_64", "");
    EXPECT_EQ(body, "Quavermill v1.0\r\n\r\nLinux 6.1 x86_64\r\nStack of calls :\r\nA:X "
                    "[Enter]\r\n\r\nQueue of calls :\r\nStarting A:X\r\n");
    EXPECT_EQ(qm::CrashMailBody(record, "Linux 6.1 x86_64", "It stopped.\r\nTwice."),
              body + "\r\nDescription :\r\nIt stopped.\r\nTwice.");
    EXPECT_EQ(qm::OperatingSystemLine().rfind("Linux ", 0), 0u);
}

} // namespace
