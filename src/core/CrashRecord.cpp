#include "core/CrashRecord.h"

#include <sys/utsname.h>

#include <fstream>
#include <string_view>
#include <system_error>

#include "core/Text.h"
#include "core/Trace.h"

namespace qm {

namespace {

constexpr std::string_view kFirstLine = "Crash record";
constexpr std::string_view kStackHeader = "Stack of calls :";
constexpr std::string_view kQueueHeader = "Queue of calls :";
// Beside the records: the name of the newest one already announced.
constexpr const char* kMentionedFile = "mentioned";

std::uint64_t ParseHex(const std::string& text) {
    std::uint64_t value = 0;
    for (const char c : text) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            break;
        }
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return value;
}

bool IsRecordName(const std::filesystem::path& file) {
    const std::string name = file.filename().string();
    return name.starts_with("crash-") && name.ends_with(".txt");
}

std::string ReadMentioned(const std::filesystem::path& folder) {
    std::ifstream in(folder / kMentionedFile);
    std::string name;
    std::getline(in, name);
    return name;
}

void WriteMentioned(const std::filesystem::path& folder, const std::string& name) {
    std::ofstream out(folder / kMentionedFile, std::ios::trunc);
    out << name << '\n';
}

// "Debian GNU/Linux 12 (bookworm)" from the os-release file's PRETTY_NAME.
std::string DistributionName() {
    for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.starts_with("PRETTY_NAME=")) {
                continue;
            }
            std::string value = line.substr(12);
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front()) {
                value = value.substr(1, value.size() - 2);
            }
            return value;
        }
    }
    return {};
}

} // namespace

std::optional<CrashRecord> ReadCrashRecord(const std::filesystem::path& file) {
    QM_TRACE("CrashRecord");
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        QM_RETURN(0, std::nullopt);
    }
    std::string line;
    if (!std::getline(in, line) || line != kFirstLine) {
        QM_RETURN(1, std::nullopt);
    }
    CrashRecord record;
    std::string* section = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line == kStackHeader) {
            section = &record.callStack;
            continue;
        }
        if (line == kQueueHeader) {
            section = &record.recentLines;
            continue;
        }
        if (section != nullptr) {
            *section += line + "\r\n";
            continue;
        }
        const auto colon = line.find(": ");
        if (colon == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, colon);
        const std::string value = line.substr(colon + 2);
        if (key == "Product") {
            record.productLine = value;
        } else if (key == "Code") {
            record.code = static_cast<std::uint32_t>(ParseHex(value));
        } else if (key == "Address") {
            record.address = ParseHex(value);
        } else if (key == "Signal" || key == "Exception") {
            record.reason = value;
        } else if (key == "Function") {
            record.currentFunction = value;
        }
    }
    QM_RETURN(2, record);
}

std::string CrashMailSubject(const CrashRecord& record) {
    QM_TRACE("CrashRecord");
    QM_RETURN(0, qm::Format("ripper feedback (error %X at %s[%llX])", record.code,
                            record.currentFunction.c_str(),
                            static_cast<unsigned long long>(record.address)));
}

std::string CrashMailBody(const CrashRecord& record, const std::string& systemLine,
                          const std::string& description) {
    QM_TRACE("CrashRecord");
    std::string body = record.productLine + "\r\n\r\n" + systemLine + "\r\n" +
                       "Stack of calls :\r\n" + record.callStack + "\r\nQueue of calls :\r\n" +
                       record.recentLines;
    if (!description.empty()) {
        body += "\r\nDescription :\r\n" + description;
    }
    QM_RETURN(0, body);
}

std::string OperatingSystemLine() {
    QM_TRACE("CrashRecord");
    std::string line;
    utsname names{};
    if (::uname(&names) == 0) {
        line = qm::Format("%s %s %s", names.sysname, names.release, names.machine);
    }
    const std::string distribution = DistributionName();
    if (!distribution.empty()) {
        line += line.empty() ? distribution : ", " + distribution;
    }
    QM_RETURN(0, line);
}

std::optional<std::filesystem::path>
TakeWaitingCrashRecord(const std::filesystem::path& crashFolder) {
    QM_TRACE("CrashRecord");
    std::error_code ec;
    std::filesystem::path newest;
    for (const auto& entry : std::filesystem::directory_iterator(crashFolder, ec)) {
        if (IsRecordName(entry.path()) &&
            (newest.empty() || entry.path().filename() > newest.filename())) {
            newest = entry.path();
        }
    }
    if (newest.empty() || newest.filename().string() <= ReadMentioned(crashFolder)) {
        QM_RETURN(0, std::nullopt);
    }
    WriteMentioned(crashFolder, newest.filename().string());
    QM_RETURN(1, newest);
}

void MarkCrashRecordMentioned(const std::filesystem::path& record) {
    QM_TRACE("CrashRecord");
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::absolute(record, ec).parent_path();
    const std::string name = record.filename().string();
    if (IsRecordName(record) && name > ReadMentioned(folder)) {
        WriteMentioned(folder, name);
    }
}

} // namespace qm
