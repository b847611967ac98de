#include "output/Naming.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "core/RemoveSpaces.h"
#include "core/Text.h"
#include "core/Trace.h"
#include "platform/UserFolders.h"

namespace {

namespace fs = std::filesystem;

// What a file name value may not hold: folder separators and what other
// systems refuse in names.
constexpr std::string_view kRemovedFromNames = "\\/:*?\"<>|";

constexpr const char* kExtensions[] = {".wma", ".mp3", ".ogg", ".wav", ".ape", ".flac"};

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// Control characters, broken UTF-8 and the characters of `removed` go.
std::string CleanValue(std::string_view value, std::string_view removed, bool trim) {
    std::string text = qm::MakeValidUtf8(value);
    std::erase_if(text, [removed](char c) {
        return IsControl(c) || removed.find(c) != std::string_view::npos;
    });
    if (trim) {
        RemoveSpacesFromStartAndEnd(text);
    }
    return text;
}

// Replaces every `token` in `text` with `value`, left to right, without
// looking into the inserted values again; stops growing at the limit.
void ReplaceAll(std::string& text, std::string_view token, std::string_view value) {
    std::size_t at = text.find(token);
    while (at != std::string::npos) {
        text.replace(at, token.size(), value);
        if (text.size() > kMaxExpansionBytes) {
            text.resize(qm::Utf8Prefix(text, kMaxExpansionBytes).size());
            return;
        }
        at = text.find(token, at + value.size());
    }
}

bool Exists(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    // A name that cannot even be looked at is no free name either.
    return status.type() != fs::file_type::not_found;
}

// The values track and album names share; the rest is up to the caller.
std::optional<std::string> RecordValue(TemplateToken token, const DiscInfo& disc,
                                       const NamingRecord& record, bool mixedCD) {
    const auto orUnknown = [](std::string text, const char* unknown) {
        return text.empty() ? std::string(unknown) : text;
    };
    switch (token) {
    case kTokenTitle:
        return orUnknown(record.tag.GetTag("Title"), "UnknownTitle");
    case kTokenArtist:
        return orUnknown(record.useCustomTag || mixedCD ? record.tag.GetTag("Artist") : disc.artist,
                         "UnknownArtist");
    case kTokenAlbum:
        return orUnknown(record.useCustomTag ? record.tag.GetTag("Album") : disc.title,
                         "UnknownAlbum");
    case kTokenYear:
        return YearValue(record.useCustomTag ? record.tag.GetTag("Year")
                                             : std::to_string(disc.year));
    case kTokenGenre:
        return orUnknown(record.useCustomTag ? record.tag.GetTag("Genre") : disc.genre,
                         "UnknownGenre");
    default:
        return std::nullopt;
    }
}

// True when the name ends without a file name: a mask that expanded to
// nothing, or to folders only.
bool HasNoFileName(std::string_view name) {
    return name.empty() || name.back() == '/';
}

// Sets the count of existing levels when `existing` is given (PrepareFolder),
// else refuses a file that stands where a folder is needed (PrepareDirectory).
bool CreateFolders(std::string_view path, int* existing) {
    for (std::size_t slash = path.find('/'); slash != std::string_view::npos;
         slash = path.find('/', slash + 1)) {
        // The root, and the empty levels of a doubled slash, are no folders to make.
        if (slash == 0 || path[slash - 1] == '/') {
            continue;
        }
        const fs::path prefix(path.substr(0, slash));
        std::error_code ec;
        const fs::file_status status = fs::status(prefix, ec);
        if (status.type() != fs::file_type::not_found) {
            if (existing != nullptr) {
                ++*existing;
            } else if (!fs::is_directory(status)) {
                return false;
            }
            continue;
        }
        if (!fs::create_directory(prefix, ec) && !fs::is_directory(prefix, ec)) {
            return false;
        }
    }
    return true;
}

} // namespace

const char* ExtensionOf(std::int32_t format) {
    if (format < 0 || format >= static_cast<std::int32_t>(std::size(kExtensions))) {
        return "";
    }
    return kExtensions[static_cast<std::size_t>(format)];
}

std::string ExpandTemplate(std::string_view mask, const TokenValue& value, std::string_view removed,
                           bool trim) {
    std::string text(qm::Utf8Prefix(mask, kMaxExpansionBytes));
    for (std::size_t i = 0; i < TemplateTokens.size(); ++i) {
        const std::string_view token = TemplateTokens[i];
        if (text.find(token) == std::string::npos) {
            continue;
        }
        const std::optional<std::string> raw = value(static_cast<TemplateToken>(i));
        if (raw) {
            ReplaceAll(text, token, CleanValue(*raw, removed, trim));
        }
    }
    return text;
}

std::string YearValue(std::string_view yearText) {
    const std::int32_t year = qm::LeadingInteger(yearText);
    return year < 1 ? std::string("UnknownYear") : std::to_string(year);
}

std::string JoinFolder(std::string_view folder, std::string_view name) {
    std::string path = qm::ExpandHome(folder);
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    return path.append(name);
}

std::string NormalizeName(std::string_view name, std::size_t fileNameBytes) {
    const std::string text = qm::MakeValidUtf8(name);
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find_first_of("/\\", start);
        std::string part = text.substr(start, end == std::string::npos ? end : end - start);
        std::erase_if(part, IsControl);
        // A leading dot hides a name, and "." and ".." name other folders.
        part.erase(0, part.find_first_not_of('.'));
        if (end == std::string::npos) {
            out += qm::Utf8Prefix(part, fileNameBytes);
            return out;
        }
        part.resize(qm::Utf8Prefix(part, kMaxNameBytes).size());
        while (!part.empty() && part.back() == '.') {
            part.pop_back();
        }
        if (!part.empty()) {
            out += part;
            out += '/';
        }
        start = end + 1;
    }
}

std::string NormalizeFileName(std::string_view name) {
    QM_TRACE("Data");
    QM_RETURN(0, NormalizeName(name, kMaxNameBytes));
}

std::string FormatTrackName(const NamingOptions& options, const DiscInfo& disc,
                            const NamingRecord& record, std::int32_t trackNumber,
                            std::uint32_t discId) {
    QM_TRACE("Data");
    // An empty mask would give every track of the disc the same name, each
    // overwriting the one before: it means the default mask.
    const std::string_view mask =
        options.nameFormat.empty() ? kDefaultNameFormat : std::string_view(options.nameFormat);
    const std::string expanded = ExpandTemplate(
        mask,
        [&](TemplateToken token) -> std::optional<std::string> {
            if (token == kTokenTrack) {
                return qm::Format("%02d", trackNumber);
            }
            if (token == kTokenDiskId) {
                return qm::Format("%X", discId);
            }
            return RecordValue(token, disc, record, options.mixedCD);
        },
        kRemovedFromNames, true);
    const std::string_view extension = ExtensionOf(record.format);
    // Room for the extension and, when names are made unique, "_#98".
    const std::size_t reserved = extension.size() + (options.generateIfExist ? 4 : 0);
    const std::string name = NormalizeName(expanded, kMaxNameBytes - reserved);
    if (HasNoFileName(name) && extension.empty()) {
        QM_RETURN(0, std::string());
    }
    const std::string base = JoinFolder(options.outputFolder, name);
    const std::string plain = base + std::string(extension);
    if (options.generateIfExist) {
        for (int suffix = 1; suffix <= 98; ++suffix) {
            std::string candidate =
                suffix == 1 ? plain : base + qm::Format("_#%02d", suffix) + std::string(extension);
            if (!Exists(candidate)) {
                QM_RETURN(1, candidate);
            }
        }
    }
    QM_RETURN(2, plain);
}

std::string FormatAlbumName(std::string_view mask, const DiscInfo& disc, const NamingRecord& record,
                            bool mixedCD) {
    QM_TRACE("Data");
    const std::string expanded = ExpandTemplate(
        mask,
        [&](TemplateToken token) -> std::optional<std::string> {
            if (token == kTokenTrack) {
                const std::string track = record.tag.GetTag("Track");
                return track.empty() ? std::string("XX") : track;
            }
            if (token == kTokenDiskId) {
                return std::nullopt;
            }
            return RecordValue(token, disc, record, mixedCD);
        },
        kRemovedFromNames, true);
    const std::string_view extension = ExtensionOf(record.format);
    const std::string name = NormalizeName(expanded, kMaxNameBytes - extension.size());
    if (HasNoFileName(name) && extension.empty()) {
        QM_RETURN(0, std::string());
    }
    QM_RETURN(1, name + std::string(extension));
}

bool PrepareDirectory(const std::string& path) {
    QM_TRACE("Data");
    QM_RETURN(0, CreateFolders(path, nullptr));
}

bool PrepareFolder(const std::string& path, int* existingCount) {
    QM_TRACE("Data");
    int existing = 0;
    const bool ok = CreateFolders(path, &existing);
    if (existingCount != nullptr) {
        *existingCount = existing;
    }
    QM_RETURN(0, ok);
}

bool MyRenameFile(const std::string& oldPath, const std::string& newPath) {
    QM_TRACE("Data");
    // A rename here replaces the target in one step, so it is tried at once
    // and confirmed at once; only a failure (a busy file system) waits for
    // the next try.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (attempt > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        if (!Exists(oldPath)) {
            QM_RETURN(0, true);
        }
        std::error_code ec;
        fs::rename(oldPath, newPath, ec);
        if (!ec) {
            QM_RETURN(1, true);
        }
    }
    QM_RETURN(2, false);
}

std::string ExtractFolderPath(std::string_view path) {
    QM_TRACE("Data");
    const std::size_t slash = path.rfind('/');
    QM_RETURN(0,
              slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash)));
}

std::string ExtractExt(std::string_view path) {
    QM_TRACE("Data");
    const std::size_t dot = path.rfind('.');
    QM_RETURN(0, dot == std::string_view::npos ? std::string() : std::string(path.substr(dot + 1)));
}

char FindIllegalMaskCharacter(std::string_view mask) {
    QM_TRACE("Data");
    for (const char c : std::string_view("?*<>:\"|")) {
        if (mask.find(c) != std::string_view::npos) {
            QM_RETURN(0, c);
        }
    }
    QM_RETURN(1, '\0');
}

std::string IllegalMaskCharacterMessage(char illegal) {
    return qm::Format(
        "You specified the illegal character '%c' in template mask. Please remove it.", illegal);
}
