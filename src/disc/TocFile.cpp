#include "disc/TocFile.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>

namespace qm {

namespace {

// TOC files are a few kilobytes; anything this big is not one.
constexpr std::uintmax_t kMaxTocBytes = 1 << 20;
constexpr int kSubchannelBytes = 96;

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

enum class TokenKind { kWord, kString, kOpen, kClose, kComma };

struct Token {
    TokenKind kind = TokenKind::kWord;
    std::string text; // a string's bytes with its escapes decoded
    int line = 0;
};

// The bytes a TOC string stands for: a backslash and three octal digits are
// one byte, a backslash before any other character is that character.
std::string Unescape(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 >= raw.size()) {
            out += raw[i];
            continue;
        }
        std::size_t digits = 0;
        int value = 0;
        while (digits < 3 && i + 1 + digits < raw.size() && raw[i + 1 + digits] >= '0' &&
               raw[i + 1 + digits] <= '7') {
            value = value * 8 + (raw[i + 1 + digits] - '0');
            ++digits;
        }
        if (digits > 0) {
            out += static_cast<char>(value & 0xFF);
            i += digits;
        } else {
            out += raw[++i];
        }
    }
    return out;
}

struct ModeInfo {
    const char* name;
    int sectorBytes;
};

// The track modes and what one sector of each takes in its file.
constexpr ModeInfo kModes[] = {
    {"AUDIO", 2352},       {"MODE0", 2336},          {"MODE1", 2048},
    {"MODE1_RAW", 2352},   {"MODE2", 2336},          {"MODE2_FORM1", 2048},
    {"MODE2_FORM2", 2324}, {"MODE2_FORM_MIX", 2336}, {"MODE2_RAW", 2352}};

const ModeInfo* FindMode(const std::string& word) {
    for (const ModeInfo& mode : kModes) {
        if (word == mode.name) {
            return &mode;
        }
    }
    return nullptr;
}

bool IsSubchannelMode(const std::string& word) {
    return word == "RW" || word == "RW_RAW";
}

// A time: "m:s:f" (minutes unbounded, as cdrdao allows) or a count of
// samples.
struct TocTime {
    bool msf = false;
    std::int64_t value = 0; // sectors for m:s:f, samples otherwise
};

bool LooksLikeTime(const Token& token) {
    return token.kind == TokenKind::kWord && !token.text.empty() &&
           (std::isdigit(static_cast<unsigned char>(token.text[0])) != 0 ||
            token.text.find(':') != std::string::npos);
}

std::optional<TocTime> ParseTime(const std::string& text) {
    auto number = [](std::string_view part, std::int64_t* out) {
        if (part.empty() || part.size() > 10 || !std::all_of(part.begin(), part.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c)) != 0;
            })) {
            return false;
        }
        *out = std::stoll(std::string(part));
        return true;
    };
    const std::size_t first = text.find(':');
    TocTime time;
    if (first == std::string::npos) {
        if (!number(text, &time.value)) {
            return std::nullopt;
        }
        return time;
    }
    const std::size_t second = text.find(':', first + 1);
    std::int64_t m = 0;
    std::int64_t s = 0;
    std::int64_t f = 0;
    if (second == std::string::npos || !number(std::string_view(text).substr(0, first), &m) ||
        !number(std::string_view(text).substr(first + 1, second - first - 1), &s) ||
        !number(std::string_view(text).substr(second + 1), &f) || s >= 60 ||
        f >= kSectorsPerSecond || m > 1000) {
        return std::nullopt;
    }
    time.msf = true;
    time.value = (m * 60 + s) * kSectorsPerSecond + f;
    return time;
}

const char* const kAudioExtensions[] = {".wav",  ".wave", ".flac", ".ape",  ".wv",  ".ogg", ".oga",
                                        ".opus", ".mp3",  ".aif",  ".aiff", ".m4a", ".tta", ".mpc"};

bool IsAudioFileName(const std::filesystem::path& path) {
    const std::string ext = Lower(path.extension().string());
    return std::any_of(std::begin(kAudioExtensions), std::end(kAudioExtensions),
                       [&ext](const char* known) { return ext == known; });
}

class TocReader {
public:
    TocReader(const std::filesystem::path& folder, std::string name)
        : m_folder(folder), m_name(std::move(name)) {
        m_toc.sheet.sheet = m_folder / m_name;
    }

    std::optional<TocFile> Read(std::string_view bytes, std::string* error);

private:
    bool Fail(int line, const std::string& why) {
        if (m_error.empty()) {
            m_error = m_name + ": line " + std::to_string(line) + ": " + why;
        }
        return false;
    }
    bool Tokenize(std::string_view text);
    bool AtEnd() const { return m_at >= m_tokens.size(); }
    const Token* Peek() const { return AtEnd() ? nullptr : &m_tokens[m_at]; }
    bool PeekWord(const char* word) const {
        const Token* next = Peek();
        return next != nullptr && next->kind == TokenKind::kWord && Upper(next->text) == word;
    }
    int LastLine() const { return m_tokens.empty() ? 1 : m_tokens.back().line; }

    bool Statement(const Token& keyword);
    bool String(int line, const std::string& what, std::string* out);
    bool Time(int line, const std::string& what, TocTime* out);
    bool OptionalTime(std::optional<TocTime>* out);
    // "#bytes" where one stands next; `out` is left alone otherwise.
    bool OptionalByteOffset(std::int64_t* out);
    bool Sectors(int line, const TocTime& time, const std::string& what, std::int64_t* out);
    bool CdText(int line, bool disc);
    bool SkipBlock(int line);
    bool AudioFile(int line);
    bool DataFile(int line);
    bool Silence(int line, bool zero);
    int FileIndex(const std::string& name, const std::string& type, int line);
    CueTrack* Track() { return m_toc.sheet.tracks.empty() ? nullptr : &m_toc.sheet.tracks.back(); }
    TocTrack* Pieces() { return m_toc.tracks.empty() ? nullptr : &m_toc.tracks.back(); }
    bool NeedTrack(int line, const std::string& keyword) {
        return Track() != nullptr || Fail(line, keyword + " before any TRACK");
    }

    std::filesystem::path m_folder;
    std::string m_name;
    std::string m_error;
    std::vector<Token> m_tokens;
    std::size_t m_at = 0;
    TocFile m_toc;
    int m_sectorBytes = kSectorBytes; // the current track's
    std::map<std::pair<std::string, std::string>, int> m_files;
};

bool TocReader::Tokenize(std::string_view text) {
    int line = 1;
    std::size_t at = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (c == '\n') {
            ++line;
            ++at;
        } else if (c == '\0') {
            return Fail(line, "not a TOC file (binary bytes)");
        } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            ++at;
        } else if (c == '/' && at + 1 < text.size() && text[at + 1] == '/') {
            at = text.find('\n', at);
            if (at == std::string_view::npos) {
                at = text.size();
            }
        } else if (c == '"') {
            std::size_t end = at + 1;
            while (end < text.size() && text[end] != '"' && text[end] != '\n') {
                end += text[end] == '\\' && end + 1 < text.size() ? 2 : 1;
            }
            if (end >= text.size() || text[end] != '"') {
                return Fail(line, "a quote is not closed");
            }
            m_tokens.push_back(
                Token{TokenKind::kString, Unescape(text.substr(at + 1, end - at - 1)), line});
            at = end + 1;
        } else if (c == '{' || c == '}' || c == ',') {
            m_tokens.push_back(Token{c == '{'   ? TokenKind::kOpen
                                     : c == '}' ? TokenKind::kClose
                                                : TokenKind::kComma,
                                     std::string(1, c), line});
            ++at;
        } else {
            std::size_t end = at;
            while (end < text.size() && std::isspace(static_cast<unsigned char>(text[end])) == 0 &&
                   text[end] != '"' && text[end] != '{' && text[end] != '}' && text[end] != ',' &&
                   text[end] != '\0' && text.substr(end, 2) != "//") {
                ++end;
            }
            m_tokens.push_back(
                Token{TokenKind::kWord, std::string(text.substr(at, end - at)), line});
            at = end;
        }
    }
    return true;
}

bool TocReader::String(int line, const std::string& what, std::string* out) {
    const Token* next = Peek();
    if (next == nullptr || next->kind != TokenKind::kString) {
        return Fail(next != nullptr ? next->line : line, what);
    }
    *out = next->text;
    ++m_at;
    return true;
}

bool TocReader::Time(int line, const std::string& what, TocTime* out) {
    const Token* next = Peek();
    if (next == nullptr || next->kind != TokenKind::kWord) {
        return Fail(next != nullptr ? next->line : line, what + " needs a time");
    }
    const auto time = ParseTime(next->text);
    if (!time) {
        return Fail(next->line, "bad time " + next->text.substr(0, 40));
    }
    *out = *time;
    ++m_at;
    return true;
}

bool TocReader::OptionalTime(std::optional<TocTime>* out) {
    const Token* next = Peek();
    if (next == nullptr || !LooksLikeTime(*next)) {
        return true;
    }
    TocTime time;
    if (!Time(next->line, "", &time)) {
        return false;
    }
    *out = time;
    return true;
}

// A time that must be whole sectors (START, PREGAP, INDEX).
bool TocReader::Sectors(int line, const TocTime& time, const std::string& what, std::int64_t* out) {
    if (time.msf) {
        *out = time.value;
        return true;
    }
    if (time.value % kFramesPerSector != 0) {
        return Fail(line, what + " does not fall on a sector");
    }
    *out = time.value / kFramesPerSector;
    return true;
}

// A { ... } group, nested groups included.
bool TocReader::SkipBlock(int line) {
    const Token* open = Peek();
    if (open == nullptr || open->kind != TokenKind::kOpen) {
        return Fail(open != nullptr ? open->line : line, "a { is missing");
    }
    int depth = 0;
    while (!AtEnd()) {
        const Token& token = m_tokens[m_at++];
        if (token.kind == TokenKind::kOpen) {
            ++depth;
        } else if (token.kind == TokenKind::kClose && --depth == 0) {
            return true;
        }
    }
    return Fail(line, "a { is not closed");
}

bool TocReader::CdText(int line, bool disc) {
    const Token* open = Peek();
    if (open == nullptr || open->kind != TokenKind::kOpen) {
        return Fail(line, "CD_TEXT needs a { block }");
    }
    ++m_at;
    int language = -1; // the block whose texts are taken: the first
    while (true) {
        const Token* next = Peek();
        if (next == nullptr) {
            return Fail(line, "the CD_TEXT block is not closed");
        }
        const Token token = *next;
        ++m_at;
        if (token.kind == TokenKind::kClose) {
            return true;
        }
        const std::string word = Upper(token.text);
        if (token.kind == TokenKind::kWord && word == "LANGUAGE_MAP") {
            if (!SkipBlock(token.line)) {
                return false;
            }
            continue;
        }
        if (token.kind != TokenKind::kWord || word != "LANGUAGE") {
            return Fail(token.line,
                        "CD_TEXT holds LANGUAGE blocks, not " + token.text.substr(0, 40));
        }
        const Token* number = Peek();
        if (number == nullptr || number->kind != TokenKind::kWord ||
            !std::all_of(number->text.begin(), number->text.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }) ||
            number->text.empty() || number->text.size() > 1) {
            return Fail(token.line, "LANGUAGE needs a number from 0 to 7");
        }
        const int which = number->text[0] - '0';
        ++m_at;
        const Token* block = Peek();
        if (block == nullptr || block->kind != TokenKind::kOpen) {
            return Fail(token.line, "LANGUAGE needs a { block }");
        }
        ++m_at;
        const bool taken = language < 0 || language == which;
        language = language < 0 ? which : language;
        while (true) {
            const Token* item = Peek();
            if (item == nullptr) {
                return Fail(token.line, "the LANGUAGE block is not closed");
            }
            if (item->kind == TokenKind::kClose) {
                ++m_at;
                break;
            }
            if (item->kind != TokenKind::kWord) {
                return Fail(item->line, "a CD-Text item needs a name");
            }
            const std::string key = Upper(item->text);
            const int itemLine = item->line;
            ++m_at;
            const Token* value = Peek();
            if (value == nullptr) {
                return Fail(itemLine, key + " needs a value");
            }
            if (value->kind == TokenKind::kOpen) {
                if (!SkipBlock(itemLine)) {
                    return false;
                }
                continue;
            }
            if (value->kind != TokenKind::kString) {
                return Fail(value->line, key + " needs a text in quotes");
            }
            const std::string text = SheetTextAsUtf8(value->text);
            ++m_at;
            if (!taken) {
                continue;
            }
            if (disc) {
                CueSheet& sheet = m_toc.sheet;
                std::string* field = key == "TITLE"        ? &sheet.title
                                     : key == "PERFORMER"  ? &sheet.performer
                                     : key == "SONGWRITER" ? &sheet.songwriter
                                                           : nullptr;
                if (field != nullptr) {
                    *field = text;
                }
            } else {
                CueTrack& track = *Track();
                std::string* field = key == "TITLE"        ? &track.title
                                     : key == "PERFORMER"  ? &track.performer
                                     : key == "SONGWRITER" ? &track.songwriter
                                                           : nullptr;
                if (field != nullptr) {
                    *field = text;
                }
                if (key == "ISRC" && track.isrc.empty()) {
                    std::string code = text;
                    code.erase(std::remove(code.begin(), code.end(), '-'), code.end());
                    if (code.size() == 12) {
                        track.isrc = code;
                    }
                }
            }
        }
    }
}

int TocReader::FileIndex(const std::string& name, const std::string& type, int line) {
    const auto key = std::make_pair(name, type);
    const auto known = m_files.find(key);
    if (known != m_files.end()) {
        return known->second;
    }
    std::string local = name;
    std::replace(local.begin(), local.end(), '\\', '/');
    std::filesystem::path path(local);
    if (path.is_relative()) {
        path = m_folder / path;
    }
    const int index = static_cast<int>(m_toc.sheet.files.size());
    m_toc.sheet.files.push_back(CueFileLine{path, type, line});
    m_files[key] = index;
    return index;
}

// FILE / AUDIOFILE "name" [SWAP] [#offset] start [length]
bool TocReader::AudioFile(int line) {
    std::string name;
    if (!String(line, "FILE needs a file name in quotes", &name)) {
        return false;
    }
    bool swap = false;
    if (PeekWord("SWAP")) {
        swap = true;
        ++m_at;
    }
    std::int64_t offset = 0;
    if (!OptionalByteOffset(&offset)) {
        return false;
    }
    TocTime start;
    if (!Time(line, "FILE", &start)) {
        return false;
    }
    std::optional<TocTime> length;
    if (!OptionalTime(&length)) {
        return false;
    }
    const bool data = Track()->data;
    if (!data && m_sectorBytes != kSectorBytes) {
        return Fail(line, "an audio track cannot carry sub-channel data");
    }
    // cdrdao reads WAVE (and other audio) files by their name; any other
    // file holds raw samples, most significant byte first unless SWAP.
    const bool audioFile = !data && IsAudioFileName(name);
    const std::string type = data || swap ? "BINARY" : audioFile ? "WAVE" : "MOTOROLA";
    auto bytes = [&](const TocTime& time) {
        return time.msf ? time.value * m_sectorBytes : time.value * 4;
    };
    TocPiece piece;
    piece.file = FileIndex(name, type, line);
    piece.offset = offset + bytes(start);
    piece.length = length && length->value > 0 ? bytes(*length) : -1;
    piece.sectorBytes = m_sectorBytes;
    piece.line = line;
    Pieces()->pieces.push_back(piece);
    return true;
}

bool TocReader::OptionalByteOffset(std::int64_t* out) {
    const Token* next = Peek();
    if (next == nullptr || next->kind != TokenKind::kWord || next->text.rfind('#', 0) != 0) {
        return true;
    }
    const auto bytes = ParseTime(next->text.substr(1));
    if (!bytes || bytes->msf) {
        return Fail(next->line, "bad byte offset " + next->text.substr(0, 40));
    }
    *out = bytes->value;
    ++m_at;
    return true;
}

// DATAFILE "name" [#offset] [length]
bool TocReader::DataFile(int line) {
    std::string name;
    if (!String(line, "DATAFILE needs a file name in quotes", &name)) {
        return false;
    }
    std::int64_t offset = 0;
    if (!OptionalByteOffset(&offset)) {
        return false;
    }
    std::optional<TocTime> length;
    if (!OptionalTime(&length)) {
        return false;
    }
    TocPiece piece;
    piece.file = FileIndex(name, Track()->data ? "BINARY" : "MOTOROLA", line);
    piece.offset = offset;
    piece.length = !length || length->value == 0 ? -1
                   : length->msf                 ? length->value * m_sectorBytes
                                                 : length->value * 4;
    piece.sectorBytes = m_sectorBytes;
    piece.line = line;
    Pieces()->pieces.push_back(piece);
    return true;
}

// SILENCE length / ZERO [mode] [sub-channel mode] length
bool TocReader::Silence(int line, bool zero) {
    if (zero) {
        if (const Token* next = Peek();
            next != nullptr && next->kind == TokenKind::kWord && FindMode(Upper(next->text))) {
            ++m_at;
        }
        if (const Token* next = Peek(); next != nullptr && next->kind == TokenKind::kWord &&
                                        IsSubchannelMode(Upper(next->text))) {
            ++m_at;
        }
    }
    TocTime length;
    if (!Time(line, zero ? "ZERO" : "SILENCE", &length)) {
        return false;
    }
    TocPiece piece;
    piece.length = length.msf ? length.value * kSectorBytes : length.value * 4;
    piece.line = line;
    Pieces()->pieces.push_back(piece);
    return true;
}

bool TocReader::Statement(const Token& keyword) {
    const int line = keyword.line;
    if (keyword.kind != TokenKind::kWord) {
        return Fail(line, "unexpected " + keyword.text.substr(0, 40));
    }
    const std::string word = Upper(keyword.text);
    CueTrack* track = Track();
    if (word == "CATALOG") {
        const Token* next = Peek();
        std::string code;
        if (next != nullptr && next->kind == TokenKind::kString) {
            code = next->text;
            ++m_at;
        } else if (next != nullptr && next->kind == TokenKind::kWord && LooksLikeTime(*next)) {
            code = next->text;
            ++m_at;
        }
        if (code.size() != 13 || !std::all_of(code.begin(), code.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c)) != 0;
            })) {
            return Fail(line, "CATALOG needs a 13-digit number");
        }
        m_toc.sheet.catalog = code;
        return true;
    }
    if (word == "CD_DA" || word == "CD_ROM" || word == "CD_ROM_XA" || word == "CD_I") {
        return track == nullptr || Fail(line, word + " belongs before the first TRACK");
    }
    if (word == "CD_TEXT") {
        return CdText(line, track == nullptr);
    }
    if (word == "TRACK") {
        const Token* next = Peek();
        const std::string mode =
            next != nullptr && next->kind == TokenKind::kWord ? Upper(next->text) : "";
        const ModeInfo* info = FindMode(mode);
        if (info == nullptr) {
            return Fail(line, mode.empty() ? "TRACK needs a mode"
                                           : "unknown track mode " + next->text.substr(0, 40));
        }
        ++m_at;
        m_sectorBytes = info->sectorBytes;
        if (const Token* sub = Peek();
            sub != nullptr && sub->kind == TokenKind::kWord && IsSubchannelMode(Upper(sub->text))) {
            m_sectorBytes += kSubchannelBytes;
            ++m_at;
        }
        if (m_toc.sheet.tracks.size() >= 99) {
            return Fail(line, "more than 99 tracks");
        }
        CueTrack added;
        added.number = static_cast<int>(m_toc.sheet.tracks.size()) + 1;
        added.line = line;
        added.mode = mode;
        added.data = mode != "AUDIO";
        m_toc.sheet.tracks.push_back(added);
        TocTrack pieces;
        pieces.rawSectors = m_sectorBytes == kSectorBytes;
        m_toc.tracks.push_back(pieces);
        return true;
    }
    if (!NeedTrack(line, word)) {
        return false;
    }
    TocTrack& pieces = *Pieces();
    if (word == "NO") {
        const Token* next = Peek();
        const std::string what = next != nullptr ? Upper(next->text) : "";
        if (what != "COPY" && what != "PRE_EMPHASIS") {
            return Fail(line, "NO goes with COPY or PRE_EMPHASIS");
        }
        ++m_at;
        (what == "COPY" ? track->copyPermitted : track->preEmphasis) = false;
        return true;
    }
    if (word == "COPY") {
        track->copyPermitted = true;
        return true;
    }
    if (word == "PRE_EMPHASIS") {
        track->preEmphasis = true;
        return true;
    }
    if (word == "TWO_CHANNEL_AUDIO" || word == "FOUR_CHANNEL_AUDIO") {
        track->fourChannel = word == "FOUR_CHANNEL_AUDIO";
        return true;
    }
    if (word == "ISRC") {
        std::string code;
        if (!String(line, "ISRC needs a code in quotes", &code)) {
            return false;
        }
        if (code.size() != 12 || !std::all_of(code.begin(), code.end(), [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) != 0;
            })) {
            return Fail(line, "ISRC needs a 12-character code");
        }
        track->isrc = code;
        return true;
    }
    if (word == "SILENCE" || word == "ZERO") {
        return Silence(line, word == "ZERO");
    }
    if (word == "FILE" || word == "AUDIOFILE") {
        return AudioFile(line);
    }
    if (word == "DATAFILE") {
        return DataFile(line);
    }
    if (word == "FIFO") {
        return Fail(line, "a FIFO cannot be read as a disc image");
    }
    if (word == "PREGAP" || word == "START") {
        if (pieces.startLine != 0) {
            return Fail(line, word + " after a START or PREGAP of the same track");
        }
        pieces.startLine = line;
        std::optional<TocTime> time;
        if (word == "PREGAP") {
            if (!pieces.pieces.empty()) {
                return Fail(line, "PREGAP after the track's data");
            }
            TocTime needed;
            if (!Time(line, "PREGAP", &needed)) {
                return false;
            }
            time = needed;
        } else if (!OptionalTime(&time)) {
            return false;
        }
        if (!time) {
            pieces.startPieces = static_cast<int>(pieces.pieces.size());
            pieces.start = -1;
            return true;
        }
        if (!Sectors(line, *time, word, &pieces.start)) {
            return false;
        }
        if (word == "PREGAP") {
            TocPiece silence;
            silence.length = pieces.start * kSectorBytes;
            silence.line = line;
            pieces.pieces.push_back(silence);
        }
        return true;
    }
    if (word == "INDEX") {
        TocTime time;
        std::int64_t at = 0;
        if (!Time(line, "INDEX", &time) || !Sectors(line, time, "INDEX", &at)) {
            return false;
        }
        if (at <= 0 || (!pieces.indexes.empty() && at <= pieces.indexes.back())) {
            return Fail(line, "INDEX does not follow the index before it");
        }
        if (pieces.indexes.size() >= 98) {
            return Fail(line, "more than 99 indexes");
        }
        pieces.indexes.push_back(static_cast<std::int32_t>(at));
        pieces.indexLines.push_back(line);
        return true;
    }
    return Fail(line, "unknown keyword " + keyword.text.substr(0, 40));
}

std::optional<TocFile> TocReader::Read(std::string_view bytes, std::string* error) {
    auto fail = [&]() -> std::optional<TocFile> {
        if (error != nullptr) {
            *error = m_error;
        }
        return std::nullopt;
    };
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    if (bytes.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        m_error = m_name + ": the TOC file is empty";
        return fail();
    }
    if (!Tokenize(bytes)) {
        return fail();
    }
    while (!AtEnd()) {
        const Token keyword = m_tokens[m_at++];
        if (!Statement(keyword)) {
            return fail();
        }
    }
    if (m_toc.sheet.tracks.empty()) {
        Fail(LastLine(), "the TOC file has no tracks");
        return fail();
    }
    for (std::size_t t = 0; t < m_toc.tracks.size(); ++t) {
        if (m_toc.tracks[t].pieces.empty()) {
            Fail(m_toc.sheet.tracks[t].line,
                 "track " + std::to_string(t + 1) + " has no FILE, DATAFILE, SILENCE or ZERO");
            return fail();
        }
    }
    return std::move(m_toc);
}

} // namespace

std::optional<TocFile> ParseTocFile(std::string_view text, const std::filesystem::path& folder,
                                    const std::string& name, std::string* error) {
    TocReader reader(folder, name);
    return reader.Read(text, error);
}

std::optional<TocFile> ReadTocFile(const std::filesystem::path& path, std::string* error) {
    const std::optional<std::string> bytes =
        ReadSheetBytes(path, kMaxTocBytes, "too large for a TOC file (over 1 MB)", error);
    if (!bytes) {
        return std::nullopt;
    }
    return ParseTocFile(*bytes, path.parent_path(), path.filename().string(), error);
}

bool TocNamesAudioFiles(const TocFile& toc) {
    return std::any_of(toc.sheet.files.begin(), toc.sheet.files.end(),
                       [](const CueFileLine& file) { return file.type == "WAVE"; });
}

std::optional<SheetLayout> LayOutTocFile(TocFile& toc, const std::vector<std::int64_t>& fileBytes,
                                         std::string* error) {
    const std::string name = toc.sheet.sheet.filename().string();
    auto fail = [&](int line, const std::string& why) -> std::optional<SheetLayout> {
        if (error != nullptr) {
            *error = name + ": line " + std::to_string(line) + ": " + why;
        }
        return std::nullopt;
    };
    if (fileBytes.size() != toc.sheet.files.size() ||
        toc.tracks.size() != toc.sheet.tracks.size()) {
        return fail(1, "the files do not match the TOC file");
    }
    SheetLayout layout;
    DiscToc& disc = layout.toc;
    disc.firstTrack = 1;
    disc.lastTrack = static_cast<int>(toc.tracks.size());
    std::int64_t at = 0;
    for (std::size_t t = 0; t < toc.tracks.size(); ++t) {
        const TocTrack& track = toc.tracks[t];
        CueTrack& named = toc.sheet.tracks[t];
        const std::string which = "track " + std::to_string(named.number);
        const std::int64_t begin = at;
        std::int64_t start = track.start;
        for (std::size_t p = 0; p < track.pieces.size(); ++p) {
            const TocPiece& piece = track.pieces[p];
            std::int64_t bytes = piece.length;
            std::int64_t sectors = 0;
            if (piece.file >= 0) {
                const CueFileLine& file = toc.sheet.files[static_cast<std::size_t>(piece.file)];
                const std::int64_t size = fileBytes[static_cast<std::size_t>(piece.file)];
                const std::string fileName = file.path.filename().string();
                const std::string holds =
                    " (" + std::to_string((size + kSectorBytes - 1) / kSectorBytes) + " sectors)";
                if (piece.offset >= size && (bytes != 0 || piece.offset > size)) {
                    return fail(piece.line, "starts past the end of " + fileName + holds);
                }
                if (bytes < 0) {
                    // To the file's end: a last partial sector is filled
                    // with silence, as a recorder would.
                    bytes = size - piece.offset;
                    sectors = (bytes + piece.sectorBytes - 1) / piece.sectorBytes;
                } else if (piece.offset + bytes > size) {
                    return fail(piece.line, "runs past the end of " + fileName + holds);
                }
            }
            if (sectors == 0) {
                if (bytes % piece.sectorBytes != 0) {
                    return fail(piece.line, "the length is not a whole number of sectors");
                }
                sectors = bytes / piece.sectorBytes;
            }
            if (at + sectors > 100LL * 60 * kSectorsPerSecond) {
                return fail(piece.line, "longer than any disc");
            }
            if (sectors > 0) {
                DiscSegment segment;
                segment.sectors = static_cast<std::int32_t>(sectors);
                if (piece.file >= 0 && track.rawSectors) {
                    segment.file = piece.file;
                    segment.from = piece.offset / kSectorBytes;
                    segment.skew = static_cast<std::int32_t>(piece.offset % kSectorBytes);
                } else if (piece.file >= 0) {
                    segment.file = kUnreadableSegment;
                }
                layout.segments.push_back(segment);
            }
            at += sectors;
            if (static_cast<int>(p) + 1 == track.startPieces) {
                start = at - begin;
            }
        }
        const std::int64_t length = at - begin;
        if (start < 0) {
            start = 0;
        }
        if (start >= length) {
            return fail(track.startLine != 0 ? track.startLine : named.line,
                        which + " has no sectors after its START");
        }
        named.indexes.clear();
        if (start > 0) {
            named.indexes.push_back(CueIndex{0, -1, static_cast<std::int32_t>(begin), named.line});
        }
        const auto one = static_cast<std::int32_t>(begin + start);
        named.indexes.push_back(
            CueIndex{1, -1, one, track.startLine != 0 ? track.startLine : named.line});
        for (std::size_t i = 0; i < track.indexes.size(); ++i) {
            if (track.indexes[i] >= length - start) {
                return fail(track.indexLines[i], "INDEX lies past the end of " + which);
            }
            named.indexes.push_back(
                CueIndex{static_cast<int>(i) + 2, -1, one + track.indexes[i], track.indexLines[i]});
        }
        DiscTocTrack entry;
        entry.number = named.number;
        entry.start = one;
        entry.data = named.data;
        entry.copyPermitted = named.copyPermitted;
        entry.preEmphasis = named.preEmphasis;
        entry.fourChannel = named.fourChannel;
        disc.tracks.push_back(entry);
    }
    disc.leadout = static_cast<std::int32_t>(at);
    return layout;
}

} // namespace qm
