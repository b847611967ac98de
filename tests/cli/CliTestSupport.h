// Runs build/quavermill-cli with arguments and collects its exit code and
// standard output.
#pragma once

#include <cstdlib>
#include <string>

#include "support/Process.h"

namespace clitest {

inline std::string Program() {
    const char* build = std::getenv("QM_BUILD_DIR");
    return std::string(build != nullptr ? build : ".") + "/quavermill-cli";
}

inline qmtest::CommandResult Cli(const std::string& arguments, bool mergeStderr = false) {
    return qmtest::Run(qmtest::ShellQuote(Program()) + " " + arguments, mergeStderr);
}

} // namespace clitest
