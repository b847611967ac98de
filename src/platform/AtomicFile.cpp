#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>

namespace qm {

namespace {

bool WriteAll(int fd, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t written = ::write(fd, contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Writes, takes the mode, flushes and closes `fd`; false when any step fails.
bool FinishFile(int fd, std::string_view contents, const std::filesystem::path& keepModeOf) {
    bool ok = WriteAll(fd, contents);
    struct stat old {};
    if (ok && !keepModeOf.empty() && ::stat(keepModeOf.c_str(), &old) == 0) {
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    return ok;
}

// The rename is only durable once the folder itself is flushed.
void SyncFolder(const std::filesystem::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A new file named `base`.tmp and 8 random hex digits, with the usual
// permissions of a new file (mkstemp would make it private, and reading the
// umask means changing it for every thread).
int CreateUniqueFile(const std::string& base, std::string* name) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        unsigned value = attempt * 2654435761u ^ static_cast<unsigned>(::getpid());
        // Without random bytes (no entropy yet) the seed above stands; O_EXCL
        // still refuses a name that is taken.
        if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != sizeof value) {
            value ^= attempt;
        }
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".tmp%08x", value);
        *name = base + suffix;
        const int fd =
            ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

} // namespace

bool WriteNewFile(const std::filesystem::path& file, std::string_view contents,
                  const std::filesystem::path& keepModeOf) {
    const int fd =
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    if (!FinishFile(fd, contents, keepModeOf)) {
        ::unlink(file.c_str());
        return false;
    }
    return true;
}

bool ReplaceFileContents(const std::filesystem::path& file, std::string_view contents) {
    std::error_code ec;
    std::filesystem::path target = file;
    if (std::filesystem::is_symlink(file, ec)) {
        target = std::filesystem::weakly_canonical(file, ec);
        if (ec) {
            return false;
        }
    }
    std::string temp;
    const int fd = CreateUniqueFile(target.string(), &temp);
    if (fd < 0) {
        return false;
    }
    const bool ok = FinishFile(fd, contents, target);
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(target.parent_path());
    return true;
}

} // namespace qm
