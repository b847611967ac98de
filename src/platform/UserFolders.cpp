#include "platform/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace qm {

std::filesystem::path HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* entry = ::getpwuid(::getuid());
        home = entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
    }
    return home;
}

std::string ExpandHome(std::string_view path) {
    if (path == "~") {
        return HomeFolder().string();
    }
    if (path.starts_with("~/")) {
        std::string home = HomeFolder().string();
        if (!home.empty() && home.back() == '/') {
            home.pop_back();
        }
        return home + std::string(path.substr(1));
    }
    return std::string(path);
}

bool IsAbsoluteName(std::string_view path) {
    return path.starts_with('/') || path == "~" || path.starts_with("~/");
}

std::filesystem::path DefaultDataFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        return std::filesystem::path(data) / "Quavermill";
    }
    return HomeFolder() / ".local" / "share" / "Quavermill";
}

std::filesystem::path ResolveDataFolder(std::string_view dataDirOption) {
    if (dataDirOption.empty()) {
        return DefaultDataFolder();
    }
    return ExpandHome(dataDirOption);
}

} // namespace qm
