// Replacing a file's contents: the old contents stay whenever the new ones
// cannot be written whole, and the file keeps its permissions and its link.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/AtomicFile.h"
#include "support/Pcm.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace {

namespace fs = std::filesystem;

TEST(AtomicFile, ReplaceKeepsPermissionsAndLinks) {
    qmtest::TempDir dir;
    const fs::path file = dir / "list";
    ASSERT_TRUE(qm::ReplaceFileContents(file, "one"));
    EXPECT_EQ(qmtest::ReadText(file), "one");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(file, dir / "link");
    ASSERT_TRUE(qm::ReplaceFileContents(dir / "link", "two"));
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(qmtest::ReadText(file), "two");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(AtomicFile, AFailedWriteLeavesTheOldFile) {
    qmtest::TempDir dir;
    const fs::path file = dir / "list";
    ASSERT_TRUE(qm::ReplaceFileContents(file, "old"));
    // A folder where no temporary file can be made.
    qmtest::OpenToEveryone(dir.path());
    fs::permissions(file, fs::perms::all);
    fs::permissions(dir.path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const int result = qmtest::RunUnprivileged([&] {
        return qm::ReplaceFileContents(file, "new") || qm::WriteNewFile(dir / "n", "") ? 1 : 0;
    });
    fs::permissions(dir.path(), fs::perms::all);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(qmtest::ReadText(file), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // WriteNewFile does not follow a link, and takes another file's mode.
    fs::create_symlink(dir / "target", dir / "link");
    EXPECT_FALSE(qm::WriteNewFile(dir / "link", "x"));
    EXPECT_FALSE(fs::exists(dir / "target"));
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
    ASSERT_TRUE(qm::WriteNewFile(dir / "copy", "x", file));
    EXPECT_EQ(fs::status(dir / "copy").permissions(),
              fs::perms::owner_read | fs::perms::group_read);
}

} // namespace
