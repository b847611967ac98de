#include "disc/LocalCDDB.h"

#include <fstream>
#include <map>
#include <optional>
#include <string_view>
#include <system_error>

#include "core/GenreTable.h"
#include "core/RemoveSpaces.h"
#include "core/Text.h"
#include "core/Trace.h"
#include "disc/XmcdText.h"
#include "platform/AtomicFile.h"

namespace {

constexpr const char* kTitle = "Quavermill";
// A track value is read up to this length.
constexpr std::size_t kMaxValue = 1023;

void AddLine(std::string& file, std::string_view key, const std::string& value) {
    file += qm::XmcdLines(key, value, "\r\n");
}

const CID3Tag* TagAt(std::span<const CID3Tag* const> tags, std::int32_t index) {
    return index >= 0 && static_cast<std::size_t>(index) < tags.size()
               ? tags[static_cast<std::size_t>(index)]
               : nullptr;
}

// A value of the file as the names take it: escapes decoded, control
// characters (decoded line breaks included) as blanks.
std::string NameText(const std::string& joined) {
    std::string text = qm::XmcdUnescape(joined);
    qm::BlankControls(text);
    return text;
}

} // namespace

std::string LocalCDDBFileName(std::uint32_t discId) {
    return qm::Format("%X", discId);
}

bool SaveLocalCDDB(const std::filesystem::path& folder, std::uint32_t discId, const DiscInfo& disc,
                   std::span<const CID3Tag* const> tags, std::int32_t firstTrack,
                   std::int32_t lastTrack) {
    QM_TRACE("Data");
    if (discId == 0) {
        QM_RETURN(0, false);
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);

    std::string file = qm::Format("# %s\r\n# version 1.25\r\n", kTitle);
    AddLine(file, "DARTIST", disc.artist);
    AddLine(file, "DTITLE", disc.title);
    AddLine(file, "DGENRE", disc.genre);
    if (disc.year > 0) {
        AddLine(file, "DYEAR", std::to_string(disc.year));
    }
    for (std::int32_t track = firstTrack; track <= lastTrack; ++track) {
        const std::int32_t index = track - firstTrack;
        const CID3Tag* tag = TagAt(tags, index);
        const std::string title = tag != nullptr ? tag->GetTag("Title") : "";
        const std::string artist = tag != nullptr ? tag->GetTag("Artist") : "";
        const std::string key = qm::Format("TTITLE%d", index);
        // A track without an artist of its own belongs to the disc artist.
        if (artist.empty() || qm::EqualsNoCase(artist, disc.artist)) {
            AddLine(file, key, title);
        } else {
            AddLine(file, key, artist + " / " + title + " ");
        }
    }
    const bool saved = qm::ReplaceFileContents(folder / LocalCDDBFileName(discId), file);
    QM_RETURN(1, saved);
}

bool LoadLocalCDDB(const std::filesystem::path& folder, std::uint32_t discId, DiscInfo& disc,
                   std::span<CID3Tag* const> tags, std::int32_t firstTrack, std::int32_t lastTrack,
                   bool parseMixedCD, std::string* error) {
    QM_TRACE("Data");
    if (discId == 0) {
        QM_RETURN(0, false);
    }
    const std::filesystem::path path = folder / LocalCDDBFileName(discId);
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > kLocalCDDBMaxBytes) {
        if (error != nullptr) {
            *error = qm::Format("%s is larger than %ju KB and not a local CDDB file", path.c_str(),
                                kLocalCDDBMaxBytes / 1024);
        }
        QM_RETURN(3, false);
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        QM_RETURN(1, false);
    }
    // Without a readable table (-1) there are no tracks to name.
    const std::int32_t lastIndex =
        firstTrack < 0 || lastTrack < firstTrack ? -1 : lastTrack - firstTrack;
    if (lastIndex >= 0 && disc.tracks.size() < static_cast<std::size_t>(lastIndex) + 1) {
        disc.tracks.resize(static_cast<std::size_t>(lastIndex) + 1);
    }
    const auto tagAt = [&](std::int32_t index) -> CID3Tag* {
        return static_cast<std::size_t>(index) < tags.size() ? tags[static_cast<std::size_t>(index)]
                                                             : nullptr;
    };

    // A key may repeat: its lines are joined in order, as in any xmcd entry.
    std::optional<std::string> artistText;
    std::optional<std::string> titleText;
    std::optional<std::string> genreText;
    std::optional<std::string> yearText;
    std::map<std::int32_t, std::string> trackTexts;
    // Appended in place: a copy of the whole value for every line made a
    // file of many short lines take time and memory quadratic in its size.
    const auto join = [](std::optional<std::string>& to, std::string_view value) {
        if (!to) {
            to.emplace();
        }
        to->append(value);
    };
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t equals = line.find('=');
        if (line.empty() || line.front() == '#' || equals == std::string::npos) {
            continue;
        }
        const std::string_view key = std::string_view(line).substr(0, equals);
        // Files of older versions and of other programs may be in Latin-1.
        const std::string value = qm::Utf8FromLegacy(std::string_view(line).substr(equals + 1));
        if (qm::EqualsNoCase(key, "dartist")) {
            join(artistText, value);
        } else if (qm::EqualsNoCase(key, "dtitle")) {
            join(titleText, value);
        } else if (qm::EqualsNoCase(key, "dgenre")) {
            join(genreText, value);
        } else if (qm::EqualsNoCase(key, "dyear")) {
            join(yearText, value);
        } else if (key.size() >= 7 && qm::StartsWithNoCase(key, "ttitle")) {
            bool found = false;
            const std::int32_t index = qm::LeadingInteger(key.substr(6), &found);
            if (found && index >= 0 && index <= lastIndex) {
                trackTexts[index] += value;
            }
        }
    }

    if (titleText) {
        disc.title = NameText(*titleText);
        // An entry of the server's own kind has no DARTIST: its DTITLE
        // names artist and album, or is both when it does not split.
        if (!artistText) {
            std::string artist;
            std::string album;
            if (qm::XmcdSplit(disc.title, &artist, &album)) {
                disc.artist = artist;
                disc.title = album;
            } else {
                disc.artist = disc.title;
            }
        }
    }
    if (artistText) {
        disc.artist = NameText(*artistText);
    }
    if (genreText) {
        disc.genre = NameText(*genreText);
    }
    if (yearText) {
        disc.year = qm::LeadingInteger(*yearText);
    }
    for (const auto& [index, text] : trackTexts) {
        std::string value = NameText(text);
        value.resize(qm::Utf8Prefix(value, kMaxValue).size());
        DiscTrackInfo& entry = disc.tracks[static_cast<std::size_t>(index)];
        CID3Tag* tag = tagAt(index);
        std::string artist;
        std::string title;
        if (parseMixedCD && qm::XmcdSplit(value, &artist, &title)) {
            entry.artist = artist;
            entry.title = title;
            if (tag != nullptr) {
                tag->SetTag("Artist", artist);
                tag->SetTag("Title", title);
            }
        } else {
            entry.artist.clear();
            entry.title = value;
            if (tag != nullptr) {
                tag->RemoveTag("Artist");
                tag->SetTag("Title", value);
            }
        }
    }

    const int genre = GetGenreNumber(disc.genre);
    const bool hasYear = disc.year >= 1 && disc.year <= 9999;
    for (std::int32_t index = 0; index <= lastIndex; ++index) {
        CID3Tag* tag = tagAt(index);
        if (tag == nullptr) {
            continue;
        }
        tag->SetTag("Album", disc.title);
        if (tag->GetTag("Artist").empty()) {
            tag->SetTag("Artist", disc.artist);
        }
        if (hasYear) {
            tag->SetTag("Year", std::to_string(disc.year));
        } else {
            tag->RemoveTag("Year");
        }
        if (genre >= 0 && genre < kNoGenre) {
            tag->SetTag("Genre", GenreTable[static_cast<std::size_t>(genre)]);
        } else {
            tag->RemoveTag("Genre");
        }
    }
    QM_RETURN(2, true);
}
