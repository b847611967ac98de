// Permission tests mean nothing to root, who may write anywhere. This runs a
// piece of a test in a child process that has to obey file permissions: as
// "nobody" when the tests run as root, as the same user otherwise.
#pragma once

#include <filesystem>
#include <functional>

namespace qmtest {

// The child's result (what `body` returned, 0..255), or -1 when the child
// could not be started or could not drop root's rights. Whatever `body`
// touches must be reachable by "nobody" (see OpenToEveryone).
int RunUnprivileged(const std::function<int()>& body);

// Lets every user into `folder` (the test's temporary folder), so that the
// unprivileged child can work in it.
void OpenToEveryone(const std::filesystem::path& folder);

} // namespace qmtest
