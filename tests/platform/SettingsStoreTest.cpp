#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "platform/SettingsStore.h"
#include "support/Environment.h"
#include "support/Pcm.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace {

namespace fs = std::filesystem;
using qm::OpenSettingsStore;
using qm::StoreOpen;

using qmtest::ReadText;
using qmtest::WriteText;

// The names are indexed once, not listed for every look-up (which made
// reading every setting quadratic in their number; the settings fuzz target
// timed out on an empty file): a file's spellings, the first of two that
// differ only in case, names added and removed all still count.
TEST(SettingsStore, ManyNamesAndTheirSpellingsAreFoundWithoutListingThem) {
    qmtest::TempDir dir;
    std::string text = "[Quavermill]\nMask=first\nMASK=second\n";
    for (int i = 0; i < 3000; ++i) {
        text += "Name" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    }
    WriteText(dir / "s.conf", text);
    auto store = OpenSettingsStore(dir / "s.conf", StoreOpen::Existing);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->ReadString("mask"), "first");
    EXPECT_EQ(store->ReadString("NAME2999"), "2999");
    EXPECT_FALSE(store->Has("Name3000"));
    EXPECT_TRUE(store->WriteString("Name3000", "new"));
    EXPECT_EQ(store->ReadString("name3000"), "new");
    EXPECT_TRUE(store->WriteString("NAME3000", "newer")); // the stored spelling stays
    EXPECT_EQ(store->ReadString("Name3000"), "newer");
    EXPECT_EQ(store->Names().size(), 3003u);
    // With the first spelling gone, the second is the one found.
    EXPECT_TRUE(store->Remove("mAsK"));
    EXPECT_EQ(store->ReadString("Mask"), "second");
    EXPECT_TRUE(store->Remove("Mask"));
    EXPECT_FALSE(store->Has("mask"));
    EXPECT_FALSE(store->Remove("mask"));
}

TEST(SettingsStore, NamesMatchWithoutCaseAndKeepTheirSpelling) {
    qmtest::TempDir dir;
    auto store = OpenSettingsStore(dir / "s.conf", StoreOpen::Create);
    ASSERT_TRUE(store);
    EXPECT_TRUE(store->WriteString("IfPlaylistExist", "Add to end"));
    EXPECT_EQ(store->ReadString("IfPlayListExist"), "Add to end");
    EXPECT_TRUE(store->Has("IFPLAYLISTEXIST"));
    // Writing under another spelling replaces the value, not adds one.
    EXPECT_TRUE(store->WriteString("IFPLAYLISTEXIST", "Overwrite playlist"));
    EXPECT_EQ(store->Names(), std::vector<std::string>{"IfPlaylistExist"});
    EXPECT_EQ(store->ReadString("ifplaylistexist"), "Overwrite playlist");
    EXPECT_TRUE(store->Remove("ifPlaylistExist"));
    EXPECT_FALSE(store->Remove("IfPlaylistExist"));
    EXPECT_FALSE(store->Has("IfPlaylistExist"));
    EXPECT_EQ(store->ReadString("IfPlaylistExist"), std::nullopt);

    for (const char* bad : {"", " lead", "trail ", "a=b", "a[b]", "line\nbreak", "#comment"}) {
        EXPECT_FALSE(store->WriteString(bad, "x")) << bad;
    }
}

TEST(SettingsStore, ValuesSurviveASaveExactly) {
    qmtest::TempDir dir;
    const fs::path file = dir / "deep" / "folder" / "s.conf";
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"Plain", "True"},
        {"Default audio format", "5"},
        {"CD-Drive", "0"},
        {"Blanks", "  both ends  "},
        {"Lines", "one\ntwo\r\nthree\ttab"},
        {"Specials", "a=b;c#d[e]\\f \"q\" 'q' @x %20"},
        {"Utf8", "Björk – 東京"},
        {"Empty", ""},
        {"MaskPlaylist", "{ARTIST}\\{ALBUM}.m3u"},
    };
    const qmtest::Bytes binary = {0x00, 0x01, 0xFF, 0x7F, 0x80, 'h', 'e', 'x', ':'};
    {
        auto store = OpenSettingsStore(file, StoreOpen::Create);
        ASSERT_TRUE(store);
        for (const auto& [name, value] : texts) {
            ASSERT_TRUE(store->WriteString(name, value));
        }
        ASSERT_TRUE(store->WriteBinary("ProxyPassword", binary));
        ASSERT_TRUE(store->WriteBinary("NoBytes", {}));
        ASSERT_TRUE(store->Save()); // makes the folders too
    }
    auto store = OpenSettingsStore(file, StoreOpen::Existing);
    ASSERT_TRUE(store);
    for (const auto& [name, value] : texts) {
        EXPECT_EQ(store->ReadString(name), value) << name;
        EXPECT_EQ(store->ReadBinary(name), std::nullopt) << name;
    }
    EXPECT_EQ(store->ReadBinary("ProxyPassword"), binary);
    EXPECT_EQ(store->ReadBinary("NoBytes"), qmtest::Bytes{});
    EXPECT_EQ(store->Names().size(), texts.size() + 2);
    // Owner-only: the file holds the (enciphered) proxy password.
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(SettingsStore, AFileWrittenByHandReadsAndKeepsItsComments) {
    qmtest::TempDir dir;
    const fs::path file = dir / "s.conf";
    WriteText(file, "# typed by hand\n"
                    "[Quavermill]\n"
                    "Default audio format = 5\n"
                    "MainFrameRect=10,20,800,600\n"
                    "ProxyPassword=hex:0aFF\n"
                    "NameFormat={ARTIST}\\{ALBUM}\\{TRACK}\n"
                    "\n"
                    "[Other]\n"
                    "Elsewhere=1\n");
    auto store = OpenSettingsStore(file, StoreOpen::Existing);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->ReadString("default audio format"), "5");
    EXPECT_EQ(store->ReadString("MainFrameRect"), "10,20,800,600");
    EXPECT_EQ(store->ReadBinary("ProxyPassword"), (qmtest::Bytes{0x0A, 0xFF}));
    EXPECT_FALSE(store->Has("Elsewhere")); // other groups are not ours
    // Single backslashes that start no escape are taken as typed.
    EXPECT_EQ(store->ReadString("NameFormat"), "{ARTIST}\\{ALBUM}\\{TRACK}");
    store->WriteString("NameFormat", "track{TRACK}");
    ASSERT_TRUE(store->Save());
    const std::string text = ReadText(file);
    EXPECT_NE(text.find("# typed by hand"), std::string::npos);
    EXPECT_NE(text.find("NameFormat=track{TRACK}"), std::string::npos);
    EXPECT_NE(text.find("Elsewhere=1"), std::string::npos);
}

TEST(SettingsStore, MissingAndDamagedFiles) {
    qmtest::TempDir dir;
    EXPECT_FALSE(OpenSettingsStore(dir / "none.conf", StoreOpen::Existing));
    auto fresh = OpenSettingsStore(dir / "none.conf", StoreOpen::Create);
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->Names().empty());
    EXPECT_FALSE(fs::exists(dir / "none.conf"));                    // nothing until Save
    EXPECT_FALSE(OpenSettingsStore(dir.path(), StoreOpen::Create)); // a folder

    qmtest::Bytes garbage(3000);
    for (std::size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<std::uint8_t>(i * 7919 % 251);
    }
    const std::string truncated = "[Quavermill]\nEnableTag=True\nNameForm";
    // Sound but larger than any settings file: never read at all.
    std::string huge = "[Quavermill]\nEnableTag=True\nNameFormat=";
    huge.append(qm::kMaxSettingsFileBytes, 'x');
    const std::vector<std::pair<std::string, qmtest::Bytes>> damaged = {
        {"huge.conf", qmtest::Bytes(huge.begin(), huge.end())},
        {"garbage.conf", garbage},
        {"truncated.conf", qmtest::Bytes(truncated.begin(), truncated.end())},
        {"nul.conf", qmtest::Bytes{'[', 'Q', ']', '\n', 'A', '=', 0, '\n'}},
        {"nogroup.conf", qmtest::Bytes{'A', '=', '1', '\n'}},
    };
    for (const auto& [name, content] : damaged) {
        const fs::path file = dir / name;
        qmtest::WriteFile(file, content);
        std::string damage;
        EXPECT_FALSE(OpenSettingsStore(file, StoreOpen::Existing, &damage)) << name;
        EXPECT_EQ(damage.rfind(file.string() + ": ", 0), 0u) << damage;
        if (name == "huge.conf") {
            EXPECT_NE(damage.find("larger than 1 MB"), std::string::npos) << damage;
        }
        auto store = OpenSettingsStore(file, StoreOpen::Create, &damage);
        ASSERT_TRUE(store) << name;
        EXPECT_FALSE(damage.empty()) << name;
        EXPECT_TRUE(store->Names().empty()) << name;
        store->WriteString("EnableTag", "False");
        ASSERT_TRUE(store->Save()) << name;
        // The new store replaces it; the damaged one is kept beside it.
        EXPECT_EQ(qmtest::ReadFile(file.string() + ".damaged"), content) << name;
        auto again = OpenSettingsStore(file, StoreOpen::Existing, &damage);
        ASSERT_TRUE(again) << name;
        EXPECT_EQ(damage, "") << name;
        EXPECT_EQ(again->ReadString("EnableTag"), "False") << name;
    }
}

// A save replaces the file by renaming a finished copy over it: a reader
// holding the old file (here: a second link to it) sees the old content
// whole, never a half-written one.
TEST(SettingsStore, SaveReplacesTheFileInOneStep) {
    qmtest::TempDir dir;
    const fs::path file = dir / "s.conf";
    auto store = OpenSettingsStore(file, StoreOpen::Create);
    store->WriteString("Value", "old");
    ASSERT_TRUE(store->Save());
    const std::string old = ReadText(file);
    fs::create_hard_link(file, dir / "old-link");
    store->WriteString("Value", "new");
    ASSERT_TRUE(store->Save());
    EXPECT_EQ(ReadText(dir / "old-link"), old);
    EXPECT_NE(ReadText(file).find("Value=new"), std::string::npos);
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "s.conf" || name == "old-link") << name; // no temporary left
    }
}

TEST(SettingsStore, AFailedSaveLeavesTheOldFile) {
    qmtest::TempDir dir;
    qmtest::OpenToEveryone(dir.path());
    const fs::path folder = dir / "locked";
    const fs::path file = folder / "s.conf";
    const int result = qmtest::RunUnprivileged([&] {
        auto store = OpenSettingsStore(file, StoreOpen::Create);
        store->WriteString("Value", "old");
        if (!store->Save()) {
            return 10;
        }
        std::error_code error;
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec, error);
        store->WriteString("Value", "new");
        const bool saved = store->Save();
        // Unreadable: opens in neither mode.
        fs::permissions(folder, fs::perms::owner_all, error);
        fs::permissions(file, fs::perms::none, error);
        const bool opened = OpenSettingsStore(file, StoreOpen::Existing) != nullptr ||
                            OpenSettingsStore(file, StoreOpen::Create) != nullptr;
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, error);
        return (saved ? 1 : 0) | (opened ? 2 : 0);
    });
    EXPECT_EQ(result, 0);
    EXPECT_NE(ReadText(file).find("Value=old"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

using qmtest::EnvironmentGuard;

TEST(SettingsStore, PathFollowsXdgAndTheOverride) {
    EnvironmentGuard config("XDG_CONFIG_HOME");
    EnvironmentGuard home("HOME");
    ::setenv("XDG_CONFIG_HOME", "/xdg/config", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(qm::DefaultSettingsPath(), fs::path("/xdg/config/Hollowcraft/Quavermill.conf"));
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(qm::DefaultSettingsPath(),
              fs::path("/home/someone/.config/Hollowcraft/Quavermill.conf"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(qm::DefaultSettingsPath(),
              fs::path("/home/someone/.config/Hollowcraft/Quavermill.conf"));

    EXPECT_EQ(qm::SettingsPath(), qm::DefaultSettingsPath());
    qm::SetSettingsPath("/tmp/other.conf");
    EXPECT_EQ(qm::SettingsPath(), fs::path("/tmp/other.conf"));
    qm::SetSettingsPath({});
    EXPECT_EQ(qm::SettingsPath(), qm::DefaultSettingsPath());
}

} // namespace
