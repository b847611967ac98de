// A crash record as the crash handler wrote it, read back for the report,
// and the texts of the feedback mail built from it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace qm {

struct CrashRecord {
    std::string productLine;     // "Quavermill v1.2.3"
    std::uint32_t code = 0;      // the signal number, or kEscapedExceptionCode
    std::uint64_t address = 0;   // where the program was
    std::string reason;          // the signal's name or the exception's text
    std::string currentFunction; // "method:ClassTag" of the innermost traced call
    std::string callStack;       // the tracer's call stack, lines ending in "\r\n"
    std::string recentLines;     // the tracer's newest lines, oldest first
};

// Reads a record; nothing when the file cannot be read or is no crash
// record. A record cut short keeps what it has.
std::optional<CrashRecord> ReadCrashRecord(const std::filesystem::path& file);

// "ripper feedback (error B at Start:CDRipper[55D0C3A2F1B0])".
std::string CrashMailSubject(const CrashRecord& record);

// The mail's text: product line, operating system, the call stack and the
// newest trace lines, and the user's description when there is one.
std::string CrashMailBody(const CrashRecord& record, const std::string& systemLine,
                          const std::string& description);

// One line naming the system: kernel (uname) and distribution
// (/etc/os-release), e.g. "Linux 6.1.0-13-amd64 x86_64, Debian GNU/Linux 12 (bookworm)".
std::string OperatingSystemLine();

// The newest record in `crashFolder` that has not been mentioned yet, and
// marks every record there as mentioned: each waiting record is announced
// at one start only. Nothing when there is none.
std::optional<std::filesystem::path>
TakeWaitingCrashRecord(const std::filesystem::path& crashFolder);

// Marks `record` (and every older one beside it) as mentioned: a report
// that was opened is not announced again.
void MarkCrashRecordMentioned(const std::filesystem::path& record);

} // namespace qm
