#include "disc/CueSheet.h"

#include <dlfcn.h>
#include <libcue.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "core/Text.h"

namespace qm {

namespace {

constexpr std::uintmax_t kMaxSheetBytes = kMaxCueSheetBytes;

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

} // namespace

std::string SheetTextAsUtf8(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    if (MakeValidUtf8(bytes) == bytes) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

namespace {

struct Token {
    std::string text;
    bool quoted = false;
};

// Words and "quoted strings"; false when a quote is not closed.
bool Tokens(std::string_view line, std::vector<Token>* out) {
    std::size_t at = 0;
    while (at < line.size()) {
        if (line[at] == ' ' || line[at] == '\t') {
            ++at;
            continue;
        }
        Token token;
        if (line[at] == '"') {
            const std::size_t end = line.find('"', at + 1);
            if (end == std::string_view::npos) {
                return false;
            }
            token.text = line.substr(at + 1, end - at - 1);
            token.quoted = true;
            at = end + 1;
        } else {
            const std::size_t end = line.find_first_of(" \t", at);
            token.text = line.substr(at, end == std::string_view::npos ? end : end - at);
            at = end == std::string_view::npos ? line.size() : end;
        }
        out->push_back(std::move(token));
    }
    return true;
}

// "mm:ss:ff" in sectors; -1 when malformed or out of range.
std::int32_t ParseMsf(const std::string& text) {
    int parts[3] = {};
    int count = 0;
    std::size_t at = 0;
    while (count < 3) {
        std::size_t end = at;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])) != 0) {
            ++end;
        }
        if (end == at || end - at > 4) {
            return -1;
        }
        parts[count++] = std::stoi(text.substr(at, end - at));
        if (count < 3) {
            if (end >= text.size() || text[end] != ':') {
                return -1;
            }
            at = end + 1;
        } else if (end != text.size()) {
            return -1;
        }
    }
    if (parts[1] >= 60 || parts[2] >= kSectorsPerSecond) {
        return -1;
    }
    return (parts[0] * 60 + parts[1]) * kSectorsPerSecond + parts[2];
}

bool AllDigits(const std::string& text, std::size_t count) {
    return text.size() == count && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isdigit(static_cast<unsigned char>(c)) != 0;
           });
}

bool IsIsrc(const std::string& text) {
    return text.size() == 12 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0;
           });
}

// libcue's scanner takes a backslash before a quote for an escaped quote
// and has no escape for a backslash: a value ending in one would run on to
// the next quote of the sheet and fail the whole parse. The backslashes a
// value ends with go to libcue as this character, and come back as
// backslashes in Text.
constexpr char kEndingBackslash = '\x1F';

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        out += c == '"' ? '\'' : c;
    }
    for (std::size_t i = out.size(); i > 1 && out[i - 1] == '\\'; --i) {
        out[i - 1] = kEndingBackslash;
    }
    return out + "\"";
}

const char* const kTextCommands[] = {"TITLE",     "PERFORMER", "SONGWRITER", "COMPOSER",
                                     "ARRANGER",  "MESSAGE",   "DISC_ID",    "GENRE",
                                     "TOC_INFO1", "TOC_INFO2", "UPC_EAN",    "SIZE_INFO"};

bool IsTextCommand(const std::string& word) {
    return std::any_of(std::begin(kTextCommands), std::end(kTextCommands),
                       [&word](const char* known) { return word == known; });
}

// The track modes whose sectors are 2352 bytes in the file, as a disc
// serves them.
bool IsRawMode(const std::string& mode) {
    return mode == "AUDIO" || mode == "MODE1/2352" || mode == "MODE2/2352";
}

bool IsKnownMode(const std::string& mode) {
    return IsRawMode(mode) || mode == "MODE1/2048" || mode == "MODE2/2336" ||
           mode == "MODE2/2048" || mode == "MODE2/2342" || mode == "MODE2/2332" || mode == "CDG";
}

bool IsFileType(const std::string& type) {
    return type == "BINARY" || type == "MOTOROLA" || type == "WAVE" || type == "AIFF" ||
           type == "MP3" || type == "FLAC";
}

std::string Text(const char* value) {
    std::string text = value == nullptr ? std::string() : value;
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == kEndingBackslash; --i) {
        text[i - 1] = '\\';
    }
    return text;
}

// libcdio exports a cdtext_get of its own, which wins the program's link:
// libcue's is looked up in libcue itself.
using CdtextGet = const char* (*)(enum Pti, const Cdtext*);

CdtextGet LibcueCdtextGet() {
    static const CdtextGet get = []() -> CdtextGet {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&cue_parse_string), &info) == 0 ||
            info.dli_fname == nullptr) {
            return nullptr;
        }
        void* library = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
        if (library == nullptr) {
            return nullptr;
        }
        return reinterpret_cast<CdtextGet>(dlsym(library, "cdtext_get"));
    }();
    return get;
}

// libcue keeps its parser state in globals.
std::mutex& LibcueLock() {
    static std::mutex lock;
    return lock;
}

class SheetReader {
public:
    SheetReader(const std::filesystem::path& folder, std::string name)
        : m_folder(folder), m_name(std::move(name)) {
        m_sheet.sheet = m_folder / m_name;
    }

    std::optional<CueSheet> Read(std::string_view bytes, std::string* error);

private:
    bool Fail(int line, const std::string& why) {
        m_error = m_name + ": line " + std::to_string(line) + ": " + why;
        return false;
    }
    bool Line(int number, std::string_view text);
    bool Rem(const std::vector<Token>& words);
    bool Settle(bool last);
    bool Finish();
    bool ReadNames(const std::string& canonical);

    std::filesystem::path m_folder;
    std::string m_name;
    CueSheet m_sheet;
    std::string m_error;
    std::ostringstream m_canonical; // the sheet as libcue reads it
    int m_session = 1;
    int m_lastLine = 0;
    // Per track: why a disc image cannot serve it (its mode), and where its
    // lines begin in m_canonical.
    std::vector<std::string> m_unservable;
    std::vector<std::size_t> m_canonicalAt;
};

bool SheetReader::Rem(const std::vector<Token>& words) {
    if (words.size() < 3) {
        return true;
    }
    const std::string key = Upper(words[1].text);
    std::string value = words[2].text;
    for (std::size_t i = 3; i < words.size(); ++i) {
        value += " " + words[i].text;
    }
    if (key == "SESSION") {
        m_session = std::max(1, LeadingInteger(value));
    } else if (!m_sheet.tracks.empty()) {
        return true; // a track's REM lines say nothing the disc needs
    } else if (key == "GENRE") {
        m_sheet.genre = value;
    } else if (key == "DATE") {
        m_sheet.date = value;
    } else if (key == "DISCID") {
        m_sheet.discId = value;
    } else if (key == "COMMENT") {
        m_sheet.comment = value;
    }
    return true;
}

bool SheetReader::Line(int number, std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        return Fail(number, "not a CUE sheet (binary bytes)");
    }
    std::vector<Token> words;
    if (!Tokens(text, &words)) {
        return Fail(number, "a quote is not closed");
    }
    if (words.empty()) {
        return true;
    }
    const std::string command = Upper(words[0].text);
    if (command == "REM") {
        return Rem(words);
    }
    const bool inTrack = !m_sheet.tracks.empty();
    CueTrack* track = inTrack ? &m_sheet.tracks.back() : nullptr;
    if (command == "CATALOG") {
        if (words.size() != 2 || !AllDigits(words[1].text, 13)) {
            return Fail(number, "CATALOG needs a 13-digit number");
        }
        m_sheet.catalog = words[1].text;
    } else if (command == "CDTEXTFILE") {
        // Names come from the sheet's own lines.
    } else if (command == "FILE") {
        if (words.size() != 3) {
            return Fail(number, "FILE needs a name and a type");
        }
        const std::string type = Upper(words[2].text);
        if (!IsFileType(type)) {
            return Fail(number, "unknown file type " + words[2].text);
        }
        std::string name = words[1].text;
        // Sheets written on Windows separate folders with backslashes.
        std::replace(name.begin(), name.end(), '\\', '/');
        std::filesystem::path path(name);
        if (path.is_relative()) {
            path = m_folder / path;
        }
        m_sheet.files.push_back(CueFileLine{path, type, number});
        m_canonical << "FILE " << Quoted(words[1].text) << " " << type << "\n";
        return true;
    } else if (command == "TRACK") {
        if (m_sheet.files.empty()) {
            return Fail(number, "TRACK before any FILE");
        }
        if (words.size() != 3 || !AllDigits(words[1].text, words[1].text.size()) ||
            words[1].text.empty() || words[1].text.size() > 2) {
            return Fail(number, "TRACK needs a number from 1 to 99 and a mode");
        }
        const int value = std::stoi(words[1].text);
        if (value < 1 || value > 99) {
            return Fail(number, "TRACK needs a number from 1 to 99 and a mode");
        }
        if (inTrack && value != track->number + 1) {
            return Fail(number, "track " + std::to_string(value) + " does not follow track " +
                                    std::to_string(track->number));
        }
        if (inTrack && !Settle(false)) {
            return false;
        }
        const std::string mode = Upper(words[2].text);
        // A data track the image cannot serve is refused below, unless it is
        // a last track that was never ripped (Settle).
        std::string unservable;
        if (!IsKnownMode(mode)) {
            if (mode.rfind("MODE", 0) != 0) {
                return Fail(number, "unknown track mode " + words[2].text);
            }
            unservable = "unknown track mode " + words[2].text;
        } else if (!IsRawMode(mode)) {
            unservable = "a " + mode + " track cannot be read as a disc image";
        }
        CueTrack added;
        added.number = value;
        added.line = number;
        added.mode = mode;
        added.data = mode != "AUDIO";
        added.session = m_session;
        m_sheet.tracks.push_back(added);
        m_unservable.push_back(unservable);
        m_canonicalAt.push_back(m_canonical.str().size());
        m_canonical << "TRACK " << value << " " << (unservable.empty() ? mode : "MODE1/2352")
                    << "\n";
        return true;
    } else if (command == "INDEX") {
        if (!inTrack) {
            return Fail(number, "INDEX before any TRACK");
        }
        if (words.size() != 3 || !AllDigits(words[1].text, words[1].text.size()) ||
            words[1].text.empty() || words[1].text.size() > 2) {
            return Fail(number, "INDEX needs a number from 0 to 99 and a time");
        }
        const int value = std::stoi(words[1].text);
        const std::int32_t at = ParseMsf(words[2].text);
        if (at < 0) {
            return Fail(number, "bad time " + words[2].text);
        }
        if (!track->indexes.empty() && value <= track->indexes.back().number) {
            return Fail(number, "INDEX " + words[1].text + " is out of order");
        }
        if (value > 1 && (track->indexes.empty() || track->indexes.back().number < 1)) {
            return Fail(number, "INDEX " + words[1].text + " before INDEX 01");
        }
        const int file = static_cast<int>(m_sheet.files.size()) - 1;
        if (!track->indexes.empty() && track->indexes.back().file == file &&
            at < track->indexes.back().position) {
            return Fail(number, "INDEX " + words[1].text + " lies before the index above it");
        }
        track->indexes.push_back(CueIndex{value, file, at, number});
        m_canonical << "INDEX " << value << " " << at << "\n";
        return true;
    } else if (command == "PREGAP" || command == "POSTGAP") {
        if (!inTrack) {
            return Fail(number, command + " before any TRACK");
        }
        const std::int32_t at = words.size() == 2 ? ParseMsf(words[1].text) : -1;
        if (at < 0) {
            return Fail(number, command + " needs a time mm:ss:ff");
        }
        if (command == "PREGAP") {
            if (!track->indexes.empty()) {
                return Fail(number, "PREGAP after an INDEX");
            }
            track->pregap = at;
        } else {
            track->postgap = at;
        }
        return true;
    } else if (command == "FLAGS") {
        if (!inTrack) {
            return Fail(number, "FLAGS before any TRACK");
        }
        std::string flags;
        for (std::size_t i = 1; i < words.size(); ++i) {
            const std::string flag = Upper(words[i].text);
            if (flag != "PRE" && flag != "DCP" && flag != "4CH" && flag != "SCMS") {
                return Fail(number, "unknown flag " + words[i].text);
            }
            flags += " " + flag;
        }
        m_canonical << "FLAGS" << flags << "\n";
        return true;
    } else if (command == "ISRC") {
        if (!inTrack || words.size() != 2) {
            return Fail(number, "ISRC belongs to a track and needs a code");
        }
        // A malformed code is dropped rather than refusing the disc for it.
        if (IsIsrc(words[1].text)) {
            m_canonical << "ISRC " << words[1].text << "\n";
        }
        return true;
    } else if (IsTextCommand(command)) {
        if (words.size() < 2) {
            return Fail(number, command + " needs a text");
        }
        std::string value = words[1].text;
        for (std::size_t i = 2; i < words.size(); ++i) {
            value += " " + words[i].text;
        }
        m_canonical << command << " " << Quoted(value) << "\n";
        return true;
    } else {
        return Fail(number, "unknown command " + words[0].text.substr(0, 40));
    }
    m_canonical << "\n";
    return true;
}

// The track just ended: it starts at its INDEX 01, or, when a sheet gives
// it only an INDEX 00, there. A last data track with only an INDEX 00 is one
// that was never ripped (its gap ends the previous file): it is dropped and
// the disc ends where it would have begun.
bool SheetReader::Settle(bool last) {
    CueTrack& track = m_sheet.tracks.back();
    const std::string& unservable = m_unservable.back();
    const std::string which = "track " + std::to_string(track.number);
    if (track.Index(1) != nullptr) {
        return unservable.empty() || Fail(track.line, unservable);
    }
    if (track.indexes.empty()) {
        return Fail(track.line, which + " has no INDEX 01");
    }
    if (track.data && last && m_sheet.tracks.size() > 1) {
        m_sheet.end = track.indexes.front();
        const std::string kept = m_canonical.str().substr(0, m_canonicalAt.back());
        m_canonical.str(kept);
        m_canonical.seekp(0, std::ios::end);
        m_sheet.tracks.pop_back();
        m_unservable.pop_back();
        m_canonicalAt.pop_back();
        return true;
    }
    if (!unservable.empty()) {
        return Fail(track.line, unservable);
    }
    track.indexes.front().number = 1;
    return true;
}

bool SheetReader::Finish() {
    if (m_sheet.tracks.empty()) {
        return Fail(m_lastLine, "the sheet has no tracks");
    }
    return Settle(true);
}

// Names, flags and codes as libcue reads them from the checked lines.
bool SheetReader::ReadNames(const std::string& canonical) {
    const CdtextGet cdtextGet = LibcueCdtextGet();
    if (cdtextGet == nullptr) {
        return Fail(1, "libcue cannot be reached");
    }
    std::lock_guard<std::mutex> lock(LibcueLock());
    Cd* cd = cue_parse_string(canonical.c_str());
    if (cd == nullptr) {
        return Fail(1, "libcue cannot read the sheet");
    }
    const int count = cd_get_ntrack(cd);
    if (count != static_cast<int>(m_sheet.tracks.size())) {
        cd_delete(cd);
        return Fail(1, "libcue reads " + std::to_string(count) + " tracks, not " +
                           std::to_string(m_sheet.tracks.size()));
    }
    if (const Cdtext* text = cd_get_cdtext(cd)) {
        m_sheet.title = Text(cdtextGet(PTI_TITLE, text));
        m_sheet.performer = Text(cdtextGet(PTI_PERFORMER, text));
        m_sheet.songwriter = Text(cdtextGet(PTI_SONGWRITER, text));
    }
    for (int i = 0; i < count; ++i) {
        const Track* from = cd_get_track(cd, i + 1);
        CueTrack& track = m_sheet.tracks[static_cast<std::size_t>(i)];
        if (from == nullptr) {
            continue;
        }
        if (const Cdtext* text = track_get_cdtext(from)) {
            track.title = Text(cdtextGet(PTI_TITLE, text));
            track.performer = Text(cdtextGet(PTI_PERFORMER, text));
            track.songwriter = Text(cdtextGet(PTI_SONGWRITER, text));
        }
        track.isrc = Text(track_get_isrc(from));
        track.preEmphasis = track_is_set_flag(from, FLAG_PRE_EMPHASIS) != 0;
        track.copyPermitted = track_is_set_flag(from, FLAG_COPY_PERMITTED) != 0;
        track.fourChannel = track_is_set_flag(from, FLAG_FOUR_CHANNEL) != 0;
    }
    cd_delete(cd);
    return true;
}

std::optional<CueSheet> SheetReader::Read(std::string_view bytes, std::string* error) {
    auto fail = [&]() -> std::optional<CueSheet> {
        if (error != nullptr) {
            *error = m_error;
        }
        return std::nullopt;
    };
    if (bytes.empty()) {
        m_error = m_name + ": the sheet is empty";
        return fail();
    }
    const std::string text = SheetTextAsUtf8(bytes);
    std::size_t at = 0;
    int number = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string_view line(text.data() + at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        m_lastLine = ++number;
        if (!Line(number, line)) {
            return fail();
        }
        at = end + 1;
    }
    if (!Finish() || !ReadNames(m_canonical.str())) {
        return fail();
    }
    return std::move(m_sheet);
}

} // namespace

const CueIndex* CueTrack::Index(int wanted) const {
    for (const CueIndex& index : indexes) {
        if (index.number == wanted) {
            return &index;
        }
    }
    return nullptr;
}

std::optional<CueSheet> ParseCueSheet(std::string_view text, const std::filesystem::path& folder,
                                      const std::string& name, std::string* error) {
    if (text.size() > kMaxSheetBytes) {
        if (error != nullptr) {
            *error = name + ": too large for a CUE sheet (over 1 MB)";
        }
        return std::nullopt;
    }
    SheetReader reader(folder, name);
    return reader.Read(text, error);
}

std::optional<std::string> ReadSheetBytes(const std::filesystem::path& path, std::uintmax_t limit,
                                          const std::string& tooLarge, std::string* error) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        if (error != nullptr) {
            *error = "no such file: " + path.string();
        }
        return std::nullopt;
    }
    if (size > limit) {
        if (error != nullptr) {
            *error = path.string() + ": " + tooLarge;
        }
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::optional<CueSheet> ReadCueSheet(const std::filesystem::path& path, std::string* error) {
    const std::optional<std::string> bytes =
        ReadSheetBytes(path, kMaxSheetBytes, "too large for a CUE sheet (over 1 MB)", error);
    if (!bytes) {
        return std::nullopt;
    }
    return ParseCueSheet(*bytes, path.parent_path(), path.filename().string(), error);
}

std::optional<SheetLayout> LayOutSheet(const CueSheet& sheet,
                                       const std::vector<std::int64_t>& fileSectors,
                                       std::string* error) {
    const std::string name = sheet.sheet.filename().string();
    auto fail = [&](int line, const std::string& why) -> std::optional<SheetLayout> {
        if (error != nullptr) {
            *error = name + ": line " + std::to_string(line) + ": " + why;
        }
        return std::nullopt;
    };
    if (fileSectors.size() != sheet.files.size()) {
        return fail(1, "the files do not match the FILE lines");
    }
    // A disc that ends before its files do (a track that was never ripped
    // began there) holds nothing of them after that point.
    std::vector<std::int64_t> lengths = fileSectors;
    if (sheet.end) {
        const auto file = static_cast<std::size_t>(sheet.end->file);
        if (sheet.end->position > lengths[file]) {
            return fail(sheet.end->line, "INDEX 0 lies past the end of " +
                                             sheet.files[file].path.filename().string() + " (" +
                                             std::to_string(lengths[file]) + " sectors)");
        }
        lengths[file] = sheet.end->position;
        for (std::size_t f = file + 1; f < lengths.size(); ++f) {
            lengths[f] = 0;
        }
    }
    // Silence between the files' sectors: at (file, sector), in the order
    // the disc plays it.
    struct Cut {
        int file;
        std::int64_t at;
        std::int32_t sectors;
    };
    std::vector<Cut> cuts;
    const auto lastFile = static_cast<int>(sheet.files.size()) - 1;
    for (std::size_t t = 0; t < sheet.tracks.size(); ++t) {
        const CueTrack& track = sheet.tracks[t];
        for (const CueIndex& index : track.indexes) {
            const std::int64_t length = lengths[static_cast<std::size_t>(index.file)];
            if (index.position > length || (index.number == 1 && index.position == length)) {
                return fail(
                    index.line,
                    "INDEX " + std::to_string(index.number) + " lies past the end of " +
                        sheet.files[static_cast<std::size_t>(index.file)].path.filename().string() +
                        " (" + std::to_string(length) + " sectors)");
            }
        }
        const CueIndex& first = track.indexes.front();
        if (track.pregap > 0) {
            cuts.push_back(Cut{first.file, first.position, track.pregap});
        }
        if (track.postgap > 0) {
            if (t + 1 < sheet.tracks.size()) {
                const CueIndex& next = sheet.tracks[t + 1].indexes.front();
                cuts.push_back(Cut{next.file, next.position, track.postgap});
            } else {
                cuts.push_back(Cut{lastFile, lengths.back(), track.postgap});
            }
        }
    }
    std::stable_sort(cuts.begin(), cuts.end(), [](const Cut& a, const Cut& b) {
        return a.file != b.file ? a.file < b.file : a.at < b.at;
    });

    SheetLayout layout;
    std::vector<std::int64_t> fileStart(sheet.files.size());
    std::int64_t disc = 0;
    std::size_t nextCut = 0;
    for (std::size_t f = 0; f < sheet.files.size(); ++f) {
        fileStart[f] = disc;
        std::int64_t done = 0;
        while (nextCut < cuts.size() && cuts[nextCut].file == static_cast<int>(f)) {
            const Cut& cut = cuts[nextCut++];
            if (cut.at > done) {
                layout.segments.push_back(DiscSegment{static_cast<int>(f), done,
                                                      static_cast<std::int32_t>(cut.at - done)});
                disc += cut.at - done;
                done = cut.at;
            }
            layout.segments.push_back(DiscSegment{-1, 0, cut.sectors});
            disc += cut.sectors;
        }
        if (lengths[f] > done) {
            layout.segments.push_back(DiscSegment{static_cast<int>(f), done,
                                                  static_cast<std::int32_t>(lengths[f] - done)});
            disc += lengths[f] - done;
        }
    }
    // A position in a file, after every silence cut in before it.
    auto discPosition = [&](int file, std::int64_t at) {
        std::int64_t position = fileStart[static_cast<std::size_t>(file)] + at;
        for (const Cut& cut : cuts) {
            if (cut.file == file && cut.at <= at) {
                position += cut.sectors;
            }
        }
        return position;
    };

    DiscToc& toc = layout.toc;
    toc.firstTrack = sheet.tracks.front().number;
    toc.lastTrack = sheet.tracks.back().number;
    std::int64_t previous = -1;
    int session = 1;
    for (const CueTrack& track : sheet.tracks) {
        const CueIndex* one = track.Index(1);
        const std::int64_t start = discPosition(one->file, one->position);
        if (start <= previous) {
            return fail(one->line, "track " + std::to_string(track.number) +
                                       " does not start after the track before it");
        }
        previous = start;
        DiscTocTrack entry;
        entry.number = track.number;
        entry.start = static_cast<std::int32_t>(start);
        entry.data = track.data;
        entry.copyPermitted = track.copyPermitted;
        entry.preEmphasis = track.preEmphasis;
        entry.fourChannel = track.fourChannel;
        if (track.session > session) {
            session = track.session;
            toc.lastSessionStart = entry.start;
        }
        toc.tracks.push_back(entry);
    }
    if (disc <= previous || disc > 100 * 60 * kSectorsPerSecond) {
        return fail(sheet.tracks.back().line,
                    disc <= previous ? "the last track has no sectors" : "longer than any disc");
    }
    toc.leadout = static_cast<std::int32_t>(disc);
    return layout;
}

} // namespace qm
