#include "disc/LocalCDDB.h"

#include <fstream>
#include <string_view>
#include <system_error>

#include "core/GenreTable.h"
#include "core/RemoveSpaces.h"
#include "core/Text.h"
#include "core/Trace.h"
#include "platform/AtomicFile.h"

namespace {

constexpr const char* kTitle = "Quavermill";
// Each line was formatted in a 1024-byte buffer: its text before the line end
// is kept within 1021 bytes, so that the CR LF always follows.
constexpr std::size_t kMaxLineText = 1021;
// A track value is read up to this length.
constexpr std::size_t kMaxValue = 1023;

// A value may not end its own line: a title holding a line break would
// otherwise add a line of its own (any key) to the file.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return text;
}

void AddLine(std::string& file, const std::string& text) {
    file += qm::Utf8Prefix(text, kMaxLineText);
    file += "\r\n";
}

const CID3Tag* TagAt(std::span<const CID3Tag* const> tags, std::int32_t index) {
    return index >= 0 && static_cast<std::size_t>(index) < tags.size()
               ? tags[static_cast<std::size_t>(index)]
               : nullptr;
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
    AddLine(file, "DARTIST=" + OneLine(disc.artist));
    AddLine(file, "DTITLE=" + OneLine(disc.title));
    AddLine(file, "DGENRE=" + OneLine(disc.genre));
    if (disc.year > 0) {
        AddLine(file, qm::Format("DYEAR=%d", disc.year));
    }
    for (std::int32_t track = firstTrack; track <= lastTrack; ++track) {
        const std::int32_t index = track - firstTrack;
        const CID3Tag* tag = TagAt(tags, index);
        const std::string title = OneLine(tag != nullptr ? tag->GetTag("Title") : "");
        const std::string artist = OneLine(tag != nullptr ? tag->GetTag("Artist") : "");
        // A track without an artist of its own belongs to the disc artist.
        if (artist.empty() || qm::EqualsNoCase(artist, disc.artist)) {
            AddLine(file, qm::Format("TTITLE%d=", index) + title);
        } else {
            AddLine(file, qm::Format("TTITLE%d=", index) + artist + " / " + title + " ");
        }
    }
    const bool saved = qm::ReplaceFileContents(folder / LocalCDDBFileName(discId), file);
    QM_RETURN(1, saved);
}

bool LoadLocalCDDB(const std::filesystem::path& folder, std::uint32_t discId, DiscInfo& disc,
                   std::span<CID3Tag* const> tags, std::int32_t firstTrack, std::int32_t lastTrack,
                   bool parseMixedCD) {
    QM_TRACE("Data");
    if (discId == 0) {
        QM_RETURN(0, false);
    }
    std::ifstream file(folder / LocalCDDBFileName(discId), std::ios::binary);
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
        // The cache is text of this system: anything else is repaired on reading.
        std::string value = qm::MakeValidUtf8(std::string_view(line).substr(equals + 1));
        if (qm::EqualsNoCase(key, "dartist")) {
            disc.artist = value;
        } else if (qm::EqualsNoCase(key, "dtitle")) {
            disc.title = value;
        } else if (qm::EqualsNoCase(key, "dgenre")) {
            disc.genre = value;
        } else if (qm::EqualsNoCase(key, "dyear")) {
            disc.year = qm::LeadingInteger(value);
        } else if (key.size() >= 7 && qm::StartsWithNoCase(key, "ttitle")) {
            bool found = false;
            const std::int32_t index = qm::LeadingInteger(key.substr(6), &found);
            if (!found || index < 0 || index > lastIndex) {
                continue;
            }
            value.resize(qm::Utf8Prefix(value, kMaxValue).size());
            DiscTrackInfo& entry = disc.tracks[static_cast<std::size_t>(index)];
            CID3Tag* tag = tagAt(index);
            const std::size_t slash = value.find('/');
            if (parseMixedCD && slash != std::string::npos) {
                std::string artist = value.substr(0, slash);
                std::string title = value.substr(slash + 1);
                RemoveSpacesFromStartAndEnd(artist);
                RemoveSpacesFromStartAndEnd(title);
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
