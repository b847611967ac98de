#include "support/Fixtures.h"

#include <cstdlib>
#include <system_error>

namespace qmtest {

std::filesystem::path FixturesDir() {
    // QM_FIXTURES_DIR in the environment wins, for a copy kept elsewhere.
    if (const char* dir = std::getenv("QM_FIXTURES_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    std::error_code error;
    const std::filesystem::path beside =
        std::filesystem::path(QM_SOURCE_DIR).parent_path() / "shared" / "fixtures";
    if (std::filesystem::is_directory(beside, error)) {
        return beside;
    }
    return {};
}

} // namespace qmtest
