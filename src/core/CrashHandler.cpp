#include "core/CrashHandler.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <exception>
#include <system_error>

#include "core/CrashRecord.h"
#include "core/Diagnostics.h"
#include "core/Text.h"
#include "core/Trace.h"

// Everything from EndWithRecord down runs inside a signal handler: only
// async-signal-safe calls (open, write, mkdir, fork, execv, _exit ...), no
// allocation, no lock, no stdio. What it needs is prepared by Install in
// fixed buffers beforehand.

namespace qm {

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kPathSize = PATH_MAX;

struct Prepared {
    char productLine[128] = "";
    char programName[64] = "";
    char crashFolder[kPathSize] = "";
    char reportProgram[kPathSize] = "";
    // The report command as a user types it, up to the record's name:
    // "'/usr/bin/quavermill' --crash-report '/home/u/.local/share/Quavermill/crash/'".
    char commandPrefix[3 * kPathSize] = "";
    CrashReportMode mode = CrashReportMode::kPrintReportCommand;
};

Prepared g_prepared;
void (*g_testHook)() = nullptr;
// The thread writing the record (0: none yet).
std::atomic<long> g_handlingThread{0};
// Large texts are built here rather than on the (alternate, small) stack.
char g_sectionBuffer[32 * 1024];
alignas(16) char g_alternateStack[64 * 1024];

// --- Async-signal-safe writing -------------------------------------------

void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0) {
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void WriteText(int fd, const char* text) {
    WriteAll(fd, text, std::strlen(text));
}

// `text` with line ends and other control characters as blanks: one line.
void WriteLine(int fd, const char* text) {
    char chunk[256];
    std::size_t used = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        chunk[used++] = static_cast<unsigned char>(*p) < 0x20 ? ' ' : *p;
        if (used == sizeof chunk) {
            WriteAll(fd, chunk, used);
            used = 0;
        }
    }
    WriteAll(fd, chunk, used);
}

// Digits of `value` in `base` (10 or 16, upper case) into `out` (24 bytes).
const char* Number(std::uint64_t value, unsigned base, char* out, int minDigits = 1) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[value % base];
        value /= base;
    } while (value != 0 && count < 23);
    while (count < minDigits && count < 23) {
        digits[count++] = '0';
    }
    for (int i = 0; i < count; ++i) {
        out[i] = digits[count - 1 - i];
    }
    out[count] = '\0';
    return out;
}

// Appends `text` to the NUL-terminated `out` of `size` bytes, cut to fit.
void Append(char* out, std::size_t size, const char* text) {
    std::size_t used = std::strlen(out);
    while (*text != '\0' && used + 1 < size) {
        out[used++] = *text++;
    }
    out[used] = '\0';
}

const char* SignalName(int signal) {
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "signal";
    }
}

// "20261209-034810" and "2026-12-09 03:48:10" of the calendar time `t` (UTC),
// computed by hand: gmtime is not safe here.
void FormatTime(std::time_t t, char* compact, char* readable) {
    std::int64_t seconds = t;
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    const std::int64_t parts[] = {year, month, day, rest / 3600, rest / 60 % 60, rest % 60};
    const char* compactSeparators[] = {"", "", "-", "", "", ""};
    const char* readableSeparators[] = {"-", "-", " ", ":", ":", ""};
    compact[0] = '\0';
    readable[0] = '\0';
    for (int i = 0; i < 6; ++i) {
        char digits[24];
        Number(static_cast<std::uint64_t>(parts[i] < 0 ? 0 : parts[i]), 10, digits, i == 0 ? 4 : 2);
        Append(compact, 32, digits);
        Append(compact, 32, compactSeparators[i]);
        Append(readable, 32, digits);
        Append(readable, 32, readableSeparators[i]);
    }
    Append(readable, 32, " UTC");
}

// mkdir -p of `folder`; what cannot be made shows when the record is opened.
void MakeFolders(const char* folder) {
    char path[kPathSize];
    path[0] = '\0';
    Append(path, sizeof path, folder);
    for (char* p = path + 1; *p != '\0'; ++p) {
        if (*p == '/') {
            *p = '\0';
            ::mkdir(path, 0700);
            *p = '/';
        }
    }
    ::mkdir(path, 0700);
}

std::uint64_t InstructionAddress(void* context) {
    if (context == nullptr) {
        return 0;
    }
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<std::uint64_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<std::uint64_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<std::uint64_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

struct CrashFacts {
    unsigned code = 0;
    int signal = 0;                // 0 for an escaped exception
    std::uint64_t address = 0;     // where the program was
    std::uint64_t dataAddress = 0; // what it touched, when the kernel says
    const char* reason = nullptr;  // the escaped exception's text
};

void WriteField(int fd, const char* name, const char* value) {
    WriteText(fd, name);
    WriteText(fd, ": ");
    WriteLine(fd, value);
    WriteText(fd, "\n");
}

void WriteRecord(int fd, const CrashFacts& facts, const char* time, long pid) {
    char number[24];
    WriteText(fd, "Crash record\n");
    WriteField(fd, "Product", g_prepared.productLine);
    WriteField(fd, "Code", Number(facts.code, 16, number));
    if (facts.signal != 0) {
        WriteField(fd, "Signal", SignalName(facts.signal));
    } else {
        WriteField(fd, "Exception", facts.reason != nullptr ? facts.reason : "");
    }
    WriteField(fd, "Address", Number(facts.address, 16, number));
    if (facts.dataAddress != 0) {
        WriteField(fd, "Data address", Number(facts.dataAddress, 16, number));
    }
    g_FunctionTracer.FormatCurrentFunction(g_sectionBuffer, sizeof g_sectionBuffer);
    WriteField(fd, "Function", g_sectionBuffer);
    WriteField(fd, "Time", time);
    WriteField(fd, "Process", Number(static_cast<std::uint64_t>(pid), 10, number));
    WriteText(fd, "Stack of calls :\n");
    WriteAll(fd, g_sectionBuffer,
             g_FunctionTracer.FormatCallStack(g_sectionBuffer, sizeof g_sectionBuffer));
    WriteText(fd, "Queue of calls :\n");
    WriteAll(fd, g_sectionBuffer,
             g_FunctionTracer.FormatRecentLines(g_sectionBuffer, sizeof g_sectionBuffer));
}

void TellUser(const CrashFacts& facts, const char* record, bool written) {
    char number[24];
    const int fd = STDERR_FILENO;
    WriteText(fd, g_prepared.programName);
    if (facts.signal != 0) {
        WriteText(fd, ": stopped by a fault (");
        WriteText(fd, SignalName(facts.signal));
        WriteText(fd, ", signal ");
        WriteText(fd, Number(static_cast<std::uint64_t>(facts.signal), 10, number));
        WriteText(fd, ")");
    } else {
        WriteText(fd, ": stopped by an exception nothing handled");
        if (facts.reason != nullptr && facts.reason[0] != '\0') {
            WriteText(fd, " (");
            WriteLine(fd, facts.reason);
            WriteText(fd, ")");
        }
    }
    WriteText(fd, ".\n");
    if (!written) {
        WriteText(fd, "The crash record could not be written in ");
        WriteText(fd, g_prepared.crashFolder);
        WriteText(fd, "\n");
        return;
    }
    WriteText(fd, "The crash record is ");
    WriteText(fd, record);
    WriteText(fd, "\nTo see the report and mail it: ");
    WriteText(fd, g_prepared.commandPrefix);
    WriteText(fd, std::strrchr(record, '/') + 1);
    WriteText(fd, "\n");
}

void StartReportWindow(const char* record) {
#if defined(__GLIBC__) && __GLIBC_PREREQ(2, 34)
    const pid_t child = ::_Fork();
#else
    const pid_t child = ::fork();
#endif
    if (child != 0) {
        return;
    }
    // The report outlives this process and the terminal's Ctrl-C; it starts
    // with no signal blocked (the handler's own signal is blocked here).
    ::setsid();
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    char* const argv[] = {g_prepared.reportProgram, const_cast<char*>("--crash-report"),
                          const_cast<char*>(record), nullptr};
    ::execv(g_prepared.reportProgram, argv);
    ::_exit(127);
}

[[noreturn]] void EndWithRecord(const CrashFacts& facts) {
    const long self = ::syscall(SYS_gettid);
    long expected = 0;
    if (!g_handlingThread.compare_exchange_strong(expected, self)) {
        if (expected == self) {
            // A fault inside the handler itself: end without a record.
            ::_exit(255);
        }
        // Another thread is writing the record and will end the process.
        for (;;) {
            ::pause();
        }
    }
    g_FunctionTracer.Freeze();
    if (g_testHook != nullptr) {
        g_testHook();
    }

    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char compact[32];
    char readable[32];
    FormatTime(now.tv_sec, compact, readable);
    const long pid = static_cast<long>(::getpid());
    char number[24];
    char record[kPathSize];
    record[0] = '\0';
    Append(record, sizeof record, g_prepared.crashFolder);
    Append(record, sizeof record, "/crash-");
    Append(record, sizeof record, compact);
    Append(record, sizeof record, "-");
    Append(record, sizeof record, Number(static_cast<std::uint64_t>(pid), 10, number));
    Append(record, sizeof record, ".txt");

    MakeFolders(g_prepared.crashFolder);
    const int fd = ::open(record, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        WriteRecord(fd, facts, readable, pid);
        ::close(fd);
    }
    TellUser(facts, record, fd >= 0);
    if (fd >= 0 && g_prepared.mode == CrashReportMode::kStartReportWindow) {
        StartReportWindow(record);
    }
    ::_exit(255);
}

void OnFaultSignal(int signal, siginfo_t* info, void* context) {
    CrashFacts facts;
    facts.code = static_cast<unsigned>(signal);
    facts.signal = signal;
    facts.address = InstructionAddress(context);
    // A positive si_code means the kernel raised it for this instruction;
    // kill() and raise() give none of these addresses.
    if (info != nullptr && info->si_code > 0 && signal != SIGABRT) {
        facts.dataAddress = reinterpret_cast<std::uintptr_t>(info->si_addr);
        if (facts.address == 0) {
            facts.address = facts.dataAddress;
        }
    }
    EndWithRecord(facts);
}

[[noreturn]] void OnTerminate() {
    // Not a signal handler: the exception's text may be looked at, but the
    // record is written the same way.
    static char reason[512];
    reason[0] = '\0';
    if (std::exception_ptr escaped = std::current_exception()) {
        try {
            std::rethrow_exception(escaped);
        } catch (const std::exception& e) {
            Append(reason, sizeof reason, e.what());
        } catch (...) {
            Append(reason, sizeof reason, "an exception of unknown type");
        }
    } else {
        Append(reason, sizeof reason, "terminate called without an exception");
    }
    CrashFacts facts;
    facts.code = kEscapedExceptionCode;
    facts.reason = reason;
    EndWithRecord(facts);
}

std::string ShellQuoted(const std::string& text) {
    if (!text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWX"
                                                "YZ0123456789/._-+") == std::string::npos) {
        return text;
    }
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::filesystem::path ProgramBesideThisOne(const char* name) {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return name;
    }
    return self.parent_path() / name;
}

void PrepareFolder(const std::filesystem::path& dataFolder) {
    const std::string folder = CrashFolder(dataFolder).string();
    qm::CopyTruncated(g_prepared.crashFolder, sizeof g_prepared.crashFolder, folder.c_str());
    // The record's own name needs no quoting: digits, '-' and ".txt".
    std::string prefix = CrashReportCommand(folder + "/");
    qm::CopyTruncated(g_prepared.commandPrefix, sizeof g_prepared.commandPrefix, prefix.c_str());
}

} // namespace

std::filesystem::path CrashFolder(const std::filesystem::path& dataFolder) {
    return dataFolder / "crash";
}

void InstallCrashHandler(const CrashHandlerOptions& options) {
    qm::CopyTruncated(g_prepared.productLine, sizeof g_prepared.productLine,
                      options.productLine.c_str());
    qm::CopyTruncated(g_prepared.programName, sizeof g_prepared.programName,
                      options.programName.c_str());
    const std::filesystem::path program =
        options.reportProgram.empty() ? ProgramBesideThisOne("quavermill") : options.reportProgram;
    qm::CopyTruncated(g_prepared.reportProgram, sizeof g_prepared.reportProgram, program.c_str());
    g_prepared.mode = options.mode;
    PrepareFolder(options.dataFolder);

    // A stack overflow can only be reported from a stack of its own.
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) != 0) {
        stack_t alternate{};
        alternate.ss_sp = g_alternateStack;
        alternate.ss_size = sizeof g_alternateStack;
        ::sigaltstack(&alternate, nullptr);
    }
    struct sigaction action {};
    action.sa_sigaction = OnFaultSignal;
    sigemptyset(&action.sa_mask);
    // SA_NODEFER: a fault inside the handler comes back to it (and ends the
    // process with 255) instead of killing the process with a core dump.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    for (const int signal : kFaultSignals) {
        ::sigaction(signal, &action, nullptr);
    }
    std::set_terminate(OnTerminate);
}

void SetCrashDataFolder(const std::filesystem::path& dataFolder) {
    PrepareFolder(dataFolder);
}

std::string CrashReportCommand(const std::filesystem::path& record) {
    QM_TRACE("CrashHandler");
    std::error_code ec;
    const std::string program = std::filesystem::exists(g_prepared.reportProgram, ec)
                                    ? ShellQuoted(g_prepared.reportProgram)
                                    : std::string("quavermill");
    QM_RETURN(0, program + " --crash-report " + ShellQuoted(record.string()));
}

std::string TakeWaitingCrashNotice(const std::filesystem::path& dataFolder) {
    QM_TRACE("CrashHandler");
    const std::optional<std::filesystem::path> record =
        TakeWaitingCrashRecord(CrashFolder(dataFolder));
    if (!record) {
        QM_RETURN(0, std::string());
    }
    QM_RETURN(1, "The program ended with an error last time; its crash record is waiting: " +
                     record->string() +
                     ". To see the report and mail it: " + CrashReportCommand(*record));
}

void SetCrashHandlerTestHook(void (*hook)()) {
    g_testHook = hook;
}

} // namespace qm
