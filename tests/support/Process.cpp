#include "support/Process.h"

#include <cstdio>
#include <sys/wait.h>

namespace qmtest {

CommandResult Run(const std::string& command, bool mergeStderr) {
    CommandResult result;
    const std::string full = command + (mergeStderr ? " 2>&1" : " 2>/dev/null");
    FILE* pipe = ::popen(full.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.out.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    out += '\'';
    return out;
}

bool HasProgram(const std::string& program) {
    return Run("command -v " + ShellQuote(program)).exitCode == 0;
}

const char* SystemPython() {
    return "/usr/bin/python3";
}

} // namespace qmtest
