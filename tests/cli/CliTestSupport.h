// Runs build/quavermill-cli with arguments and collects its exit code and
// standard output.
#pragma once

#include <string>

#include "support/Process.h"

namespace clitest {

inline std::string Program() {
    return std::string(QM_PROGRAM_DIR) + "/quavermill-cli";
}

inline qmtest::CommandResult Cli(const std::string& arguments, bool mergeStderr = false) {
    return qmtest::Run(qmtest::ShellQuote(Program()) + " " + arguments, mergeStderr);
}

} // namespace clitest
