// The crash handler: a fault signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT) or an exception that escapes every handler ends the program here.
// It writes a crash record into "crash/" under the data folder with what the
// tracer holds, starts the report (the desktop program's report window, or a
// line on standard error that says how to open it) and ends the process
// with exit status 255. It never returns to the failing code.
#pragma once

#include <filesystem>
#include <string>

namespace qm {

// The code a record carries for an exception that escaped every handler
// (signals carry their own number, all far below it).
inline constexpr unsigned kEscapedExceptionCode = 0x100;

enum class CrashReportMode {
    // Starts `reportProgram --crash-report RECORD` as a process of its own.
    kStartReportWindow,
    // Prints where the record is and the command that opens the report.
    kPrintReportCommand,
};

struct CrashHandlerOptions {
    std::string productLine;          // "Quavermill v1.2.3"
    std::string programName;          // how messages on standard error begin
    std::filesystem::path dataFolder; // records go to dataFolder/crash
    CrashReportMode mode = CrashReportMode::kPrintReportCommand;
    // The desktop program; empty: "quavermill" beside this executable.
    std::filesystem::path reportProgram;
};

// Installs the signal handlers and the terminate handler; may be called
// again to change the options (the data folder is often known only once the
// command line has been read).
void InstallCrashHandler(const CrashHandlerOptions& options);
// Changes only the data folder of the installed handler.
void SetCrashDataFolder(const std::filesystem::path& dataFolder);

// The folder the records of `dataFolder` go to.
std::filesystem::path CrashFolder(const std::filesystem::path& dataFolder);

// The command that opens the report of `record`, quoted for a shell:
// "/usr/bin/quavermill --crash-report /home/u/.local/share/Quavermill/crash/crash-...txt".
std::string CrashReportCommand(const std::filesystem::path& record);

// Once per record: the line that tells the user a crash record from an
// earlier run is waiting in `dataFolder` and how to open its report; ""
// when none is waiting (or it has been told already).
std::string TakeWaitingCrashNotice(const std::filesystem::path& dataFolder);

// For tests of the handler's own failure path: called by the handler just
// before it writes the record. Null (the default): nothing.
void SetCrashHandlerTestHook(void (*hook)());

} // namespace qm
