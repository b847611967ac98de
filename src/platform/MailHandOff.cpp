#include "platform/MailHandOff.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

extern char** environ;

namespace qm {

std::filesystem::path FindProgramOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr || program.empty()) {
        return {};
    }
    std::string_view rest(path);
    while (true) {
        const auto colon = rest.find(':');
        std::string_view folder = rest.substr(0, colon);
        // An empty entry stands for the current folder.
        const std::filesystem::path candidate =
            std::filesystem::path(folder.empty() ? "." : std::string(folder)) / program;
        std::error_code ec;
        if (::access(candidate.c_str(), X_OK) == 0 &&
            !std::filesystem::is_directory(candidate, ec)) {
            return candidate;
        }
        if (colon == std::string_view::npos) {
            return {};
        }
        rest.remove_prefix(colon + 1);
    }
}

MailHandOffResult HandMailToClient(const std::string& address, const std::string& subject,
                                   const std::string& body) {
    const std::filesystem::path program = FindProgramOnPath("xdg-email");
    if (program.empty()) {
        return MailHandOffResult::kNoMailProgram;
    }
    std::vector<std::string> words = {program.string(), "--subject", subject,
                                      "--body",         body,        address};
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return MailHandOffResult::kFailed;
    }
    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return MailHandOffResult::kFailed;
    }
    return MailHandOffResult::kHanded;
}

} // namespace qm
