#include "output/Playlist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <new>
#include <system_error>

#include "core/Text.h"
#include "core/Trace.h"
#include "output/Naming.h"
#include "platform/AtomicFile.h"
#include "platform/UserFolders.h"

namespace {

namespace fs = std::filesystem;

// What a playlist name value may not hold (spaces, '"' and '|' stay).
constexpr std::string_view kRemovedFromPlaylistNames = "*?><\\/:";

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }
    // Closes now; false when the close reports a failed write.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool ReadAll(int fd, std::string* text) {
    text->clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            return true;
        }
        text->append(buffer, static_cast<std::size_t>(got));
    }
}

bool WriteAllAt(int fd, std::string_view bytes, off_t offset) {
    while (!bytes.empty()) {
        const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
        offset += written;
    }
    return true;
}

// Cuts a list back to what it held before a failed write. Nothing more can be
// done when that fails too.
void TakeBack(int fd, off_t size) {
    if (::ftruncate(fd, size) != 0) {
        return;
    }
}

// Calls `line` for every line of `text` without its line end (LF or CR LF);
// a last line without a line end counts too.
template <typename Visit> void ForEachLine(std::string_view text, Visit&& line) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view current = text.substr(0, end);
        if (!current.empty() && current.back() == '\r') {
            current.remove_suffix(1);
        }
        line(current);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
}

// A relative track path is made absolute: a list may be opened from any folder.
std::string AbsolutePath(const std::string& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return ec ? path : absolute.string();
}

// A list the user keeps read-only stays as it is, even though a rename could
// replace it.
bool IsReadOnly(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0;
}

// Starts a list again with `contents`: in one step, and only when what is
// there is a file that may be written.
bool StartAgain(const std::string& path, std::string_view contents) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() != fs::file_type::not_found &&
        (!fs::is_regular_file(status) || IsReadOnly(path))) {
        return false;
    }
    return qm::ReplaceFileContents(path, contents);
}

// Opens or creates the list for adding to it; an empty one gets `header`.
// `check` judges a list that is not empty.
template <typename Check>
bool OpenForAdding(const std::string& path, std::string_view header, Check&& check) {
    FileDescriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    struct stat info {};
    if (!file.ok() || ::fstat(file.get(), &info) != 0) {
        return false;
    }
    if (info.st_size == 0) {
        if (!WriteAllAt(file.get(), header, 0) || ::fsync(file.get()) != 0) {
            TakeBack(file.get(), 0);
            return false;
        }
        return file.Close();
    }
    return check(file.get());
}

// The list's real file: a symbolic link stays and its target is rewritten.
std::string RealFile(const std::string& path) {
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        const fs::path target = fs::weakly_canonical(path, ec);
        if (!ec) {
            return target.string();
        }
    }
    return path;
}

// Cuts the extension off a playlist name and says what goes back on: the
// extension as written when it is "m3u" or "wpl" in any case, else ".m3u".
std::pair<std::string, std::string> SplitPlaylistExtension(const std::string& name) {
    const std::string extension = ExtractExt(name);
    std::string stem = name;
    const std::size_t dot = name.rfind('.');
    const std::size_t slash = name.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        stem.resize(dot);
    }
    const bool known = qm::EqualsNoCase(extension, "m3u") || qm::EqualsNoCase(extension, "wpl");
    return {stem, known ? "." + extension : std::string(".m3u")};
}

// The tag reader of AddToWPL: it follows tags across lines, skips quoted
// attribute values, and finds the "</seq>" the new entry goes before.
class WplScanner {
public:
    enum class Result { kNone, kSeqEnd, kError };

    // Scans one line that starts at `base` in the rewritten list; for
    // kSeqEnd, `at` is where in it the entry goes: before that tag's "<",
    // which may stand on an earlier line.
    Result Scan(std::string_view line, std::size_t base, std::size_t* at) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (m_inTag && c == '"') {
                m_inQuote = !m_inQuote;
            }
            if (m_inQuote || (c != '<' && c != '>')) {
                if (m_inTag) {
                    m_tag += c;
                }
                continue;
            }
            if (c == '<') {
                if (m_inTag) {
                    return Fail();
                }
                m_inTag = true;
                m_tag.clear();
                m_tagStart = base + i;
                continue;
            }
            if (!m_inTag || m_tag.empty()) {
                return Fail();
            }
            m_inTag = false;
            const std::string_view name = std::string_view(m_tag).substr(0, m_tag.find(' '));
            if (m_tag.front() != '?' && name == "/seq") {
                *at = m_tagStart;
                return Result::kSeqEnd;
            }
        }
        return Result::kNone;
    }

private:
    Result Fail() {
        m_inTag = false;
        m_inQuote = false;
        m_tag.clear();
        return Result::kError;
    }

    bool m_inTag = false;
    bool m_inQuote = false;
    std::string m_tag;
    std::size_t m_tagStart = 0;
};

} // namespace

std::string EscapeXml(std::string_view text) {
    const std::string valid = qm::MakeValidUtf8(text);
    std::string out;
    out.reserve(valid.size() + 16);
    for (const char c : valid) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            // XML 1.0 has no way to carry control characters.
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\xEF\xBF\xBD";
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string GeneratePlaylistName(const PlaylistOptions& options, const DiscInfo& disc) {
    QM_TRACE("Data");
    if (!options.addToPlaylist) {
        QM_RETURN(0, std::string());
    }
    if (options.useSpecifiedPlaylist) {
        const std::string& name = options.specifiedPlaylist;
        if (name.empty()) {
            QM_RETURN(1, std::string());
        }
        auto [stem, extension] = SplitPlaylistExtension(
            qm::IsAbsoluteName(name) ? qm::ExpandHome(name)
                                     : JoinFolder(options.outputFolder, name));
        QM_RETURN(2, stem + extension);
    }

    std::string mask = options.maskPlaylist;
    std::replace(mask.begin(), mask.end(), '\\', '/');
    const std::string expanded = ExpandTemplate(
        mask,
        [&](TemplateToken token) -> std::optional<std::string> {
            const auto orUnknown = [](const std::string& text, const char* unknown) {
                return text.empty() ? std::string(unknown) : text;
            };
            switch (token) {
            case kTokenArtist:
                return orUnknown(disc.artist, "UnknownArtist");
            case kTokenAlbum:
                return orUnknown(disc.title, "UnknownAlbum");
            case kTokenYear:
                return YearValue(std::to_string(disc.year));
            case kTokenGenre:
                return orUnknown(disc.genre, "UnknownGenre");
            default:
                return std::nullopt;
            }
        },
        kRemovedFromPlaylistNames, false);
    if (expanded.empty()) {
        QM_RETURN(3, std::string());
    }
    auto [stem, extension] = SplitPlaylistExtension(expanded);
    const std::size_t room = kMaxNameBytes - extension.size();
    // Only the user's mask says whether the name is absolute: a value that
    // starts with "~" must not move the list into the home folder.
    if (!mask.starts_with('/') && !mask.starts_with("~/")) {
        QM_RETURN(4, JoinFolder(options.outputFolder, NormalizeName(stem, room)) + extension);
    }
    // The folder the user typed before the first value stays as typed; what
    // the values made is cleaned.
    std::size_t firstValue = stem.size();
    for (const TemplateToken token : {kTokenArtist, kTokenAlbum, kTokenYear, kTokenGenre}) {
        firstValue = std::min(firstValue, mask.find(TemplateTokens[token]));
    }
    const std::size_t kept = stem.rfind('/', firstValue) + 1;
    QM_RETURN(5, qm::ExpandHome(stem.substr(0, kept)) + NormalizeName(stem.substr(kept), room) +
                     extension);
}

bool PreparePlaylist(const std::string& path, bool overwrite) {
    QM_TRACE("Data");
    if (qm::EqualsNoCase(ExtractExt(path), "wpl")) {
        QM_RETURN(0, PrepareWPL(path, overwrite));
    }
    QM_RETURN(1, PrepareM3U(path, overwrite));
}

bool AddToPlaylist(const std::string& playlist, const std::string& track) {
    QM_TRACE("Data");
    if (qm::EqualsNoCase(ExtractExt(playlist), "wpl")) {
        QM_RETURN(0, AddToWPL(playlist, track));
    }
    QM_RETURN(1, AddToM3U(playlist, track));
}

bool PrepareM3U(const std::string& path, bool overwrite) {
    QM_TRACE("Data");
    if (path.empty() || !PrepareDirectory(path)) {
        QM_RETURN(0, false);
    }
    if (overwrite) {
        QM_RETURN(1, StartAgain(path, kM3UHeader));
    }
    QM_RETURN(2, OpenForAdding(path, kM3UHeader, [](int fd) {
                  char head[7] = {};
                  return ::pread(fd, head, sizeof head, 0) == sizeof head &&
                         qm::EqualsNoCase(std::string_view(head, sizeof head), "#extm3u");
              }));
}

bool AddToM3U(const std::string& playlist, const std::string& track) {
    QM_TRACE("Data");
    // A line break in the path would split it into two entries.
    if (track.empty() || track.find_first_of("\r\n") != std::string::npos) {
        QM_RETURN(0, false);
    }
    const std::string entry = AbsolutePath(track);
    FileDescriptor file(::open(playlist.c_str(), O_RDWR | O_CLOEXEC));
    std::string text;
    if (!file.ok() || !ReadAll(file.get(), &text)) {
        QM_RETURN(1, false);
    }
    bool listed = false;
    ForEachLine(text, [&](std::string_view line) {
        listed = listed || qm::EqualsNoCase(line, entry) || qm::EqualsNoCase(line, track);
    });
    if (listed) {
        QM_RETURN(2, true);
    }
    // A list edited elsewhere may lack its last line end.
    const std::string line = (!text.empty() && text.back() != '\n' ? "\r\n" : "") + entry + "\r\n";
    const auto size = static_cast<off_t>(text.size());
    if (!WriteAllAt(file.get(), line, size) || ::fsync(file.get()) != 0) {
        // Half a line would damage the list: take it back.
        TakeBack(file.get(), size);
        QM_RETURN(3, false);
    }
    QM_RETURN(4, file.Close());
}

bool PrepareWPL(const std::string& path, bool overwrite) {
    QM_TRACE("Data");
    int existing = 0;
    if (path.empty() || !PrepareFolder(path, &existing)) {
        QM_RETURN(0, false);
    }
    if (overwrite) {
        QM_RETURN(1, StartAgain(path, kWplSkeleton));
    }
    QM_RETURN(2, OpenForAdding(path, kWplSkeleton, [](int) { return true; }));
}

bool AddToWPL(const std::string& playlist, const std::string& track) {
    QM_TRACE("Data");
    if (playlist.empty() || track.empty()) {
        QM_RETURN(0, false);
    }
    // Both paths absolute, so that "below the list's folder" means the same
    // place whichever folder each was given from. The folder is compared with
    // its case: on this system other letters name another folder.
    const std::string absoluteTrack = AbsolutePath(track);
    const std::string folder = ExtractFolderPath(AbsolutePath(playlist)) + "/";
    const std::string source =
        absoluteTrack.starts_with(folder) ? absoluteTrack.substr(folder.size()) : absoluteTrack;
    const std::string list = RealFile(playlist);
    try {
        const std::string media = "<media src=\"" + EscapeXml(source) + "\"/>\r\n";
        FileDescriptor file(::open(list.c_str(), O_RDONLY | O_CLOEXEC));
        std::string text;
        if (!file.ok() || !ReadAll(file.get(), &text) || IsReadOnly(list)) {
            QM_RETURN(1, false);
        }
        file.Close();
        std::string out;
        out.reserve(text.size() + media.size() + 64);
        WplScanner scanner;
        bool inserted = false;
        bool tagError = false;
        ForEachLine(text, [&](std::string_view line) {
            const std::size_t base = out.size();
            out.append(line).append("\r\n");
            if (inserted) {
                return;
            }
            std::size_t at = 0;
            const WplScanner::Result result = scanner.Scan(line, base, &at);
            if (result == WplScanner::Result::kSeqEnd) {
                out.insert(at, media);
                inserted = true;
            }
            tagError = tagError || result == WplScanner::Result::kError;
        });
        if (!inserted) {
            // Nothing to add: the list stays untouched.
            QM_RETURN(2, !tagError);
        }
        const std::string temp = list + "tmp";
        if (!qm::WriteNewFile(temp, out, list)) {
            QM_RETURN(3, false);
        }
        if (!MyRenameFile(temp, list)) {
            std::error_code ec;
            fs::remove(temp, ec);
            QM_RETURN(4, false);
        }
        QM_RETURN(5, !tagError);
    } catch (const std::bad_alloc&) {
        QM_RETURN(6, false);
    }
}
