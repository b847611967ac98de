// Where the real-world test material lives: the fixtures folder beside the
// source tree (../shared/fixtures), gathered from other projects' public test
// suites. Tests that need it skip with a message when it is missing.
#pragma once

#include <filesystem>

namespace qmtest {

// The fixtures folder, or an empty path when it is not there.
std::filesystem::path FixturesDir();

} // namespace qmtest

// Skips the current test when the fixtures folder is missing.
#define QM_REQUIRE_FIXTURES()                                                                      \
    do {                                                                                           \
        if (qmtest::FixturesDir().empty()) {                                                       \
            GTEST_SKIP() << "the real-world fixtures (../shared/fixtures) are not beside the "     \
                            "source tree";                                                         \
        }                                                                                          \
    } while (false)
