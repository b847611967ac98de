// Runs an outside program (an oracle: ffprobe, sox, flac, python3 ...) and
// collects what it prints.
#pragma once

#include <string>
#include <vector>

namespace qmtest {

struct CommandResult {
    int exitCode = -1;
    std::string out; // standard output; standard error is discarded unless merged
};

// Runs `command` through /bin/sh. With mergeStderr, standard error joins the output.
CommandResult Run(const std::string& command, bool mergeStderr = false);

// Quotes one argument for /bin/sh.
std::string ShellQuote(const std::string& text);

// True when `program` is on PATH.
bool HasProgram(const std::string& program);

// Debian's python3, which has the python3-* oracle packages.
const char* SystemPython();

} // namespace qmtest
