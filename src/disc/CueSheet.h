// CUE sheets as users keep them beside their disc images: one BIN or audio
// file for the whole disc, or one file per track with the gaps appended to
// the previous file, left out, or in a file of their own. ReadCueSheet
// checks every line (a refusal names the line), libcue reads the names and
// flags, and LayOutSheet turns the sheet and its files' lengths into the disc
// it describes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disc/CdDrive.h"

namespace qm {

struct CueFileLine {
    std::filesystem::path path; // as resolved beside the sheet
    std::string type;           // BINARY, MOTOROLA, WAVE, AIFF, MP3, FLAC
    int line = 0;
};

struct CueIndex {
    int number = 0;
    int file = 0;              // into CueSheet::files
    std::int32_t position = 0; // sectors from the start of that file
    int line = 0;
};

struct CueTrack {
    int number = 0;
    int line = 0; // the TRACK line
    std::string mode;
    bool data = false;
    std::vector<CueIndex> indexes; // in the sheet's order
    std::int32_t pregap = 0;       // silence before the track that no file holds
    std::int32_t postgap = 0;      // silence after it
    bool preEmphasis = false;
    bool copyPermitted = false;
    bool fourChannel = false;
    int session = 1;
    std::string isrc;
    std::string title;
    std::string performer;
    std::string songwriter;

    const CueIndex* Index(int number) const;
};

struct CueSheet {
    std::filesystem::path sheet;
    std::string catalog;
    std::string title;
    std::string performer;
    std::string songwriter;
    std::string genre;
    std::string date;
    std::string discId;
    std::string comment;
    std::vector<CueFileLine> files;
    std::vector<CueTrack> tracks;
    // Where the disc ends before its files do: a last data track that was
    // never ripped (only its INDEX 00 is in the sheet) began there.
    std::optional<CueIndex> end;
};

// Sheets are a few kilobytes; a larger one than this is refused.
constexpr std::size_t kMaxCueSheetBytes = 1 << 20;

// The sheet at `path`, or nullopt with the reason (naming the sheet and the
// line) in *error. UTF-8 or Latin-1, CR LF or LF.
std::optional<CueSheet> ReadCueSheet(const std::filesystem::path& path, std::string* error);
// Sheet text as UTF-8: a byte-order mark goes, and text that is not UTF-8 is
// taken as Latin-1, which older rippers write.
std::string SheetTextAsUtf8(std::string_view bytes);

// The bytes of a sheet file (CUE or TOC), or nothing with `error` set: a
// missing file, or one over `limit` bytes ("<path>: <tooLarge>").
std::optional<std::string> ReadSheetBytes(const std::filesystem::path& path, std::uintmax_t limit,
                                          const std::string& tooLarge, std::string* error);

// The same for a sheet's text; FILE names resolve in `folder`. `name` is what
// refusals call the sheet.
std::optional<CueSheet> ParseCueSheet(std::string_view text, const std::filesystem::path& folder,
                                      const std::string& name, std::string* error);

// A segment of a data track whose file holds cooked sectors (2048 or 2336
// bytes), which no audio read can be served from.
constexpr int kUnreadableSegment = -2;

// One stretch of the disc: `sectors` sectors of file `file` from sector
// `from` (and `skew` bytes past it: a TOC file's offsets need not fall on a
// sector), or silence when `file` is -1.
struct DiscSegment {
    int file = -1;
    std::int64_t from = 0;
    std::int32_t sectors = 0;
    std::int32_t skew = 0;
};

struct SheetLayout {
    DiscToc toc;
    std::vector<DiscSegment> segments; // from sector 0 to the lead-out
};

// The disc a sheet describes, given the length of each of its files in
// sectors. Gaps count as a disc counts them: a PREGAP or POSTGAP is silence
// between the files, an INDEX 00 in the previous file belongs to the track
// before. nullopt, naming the line, when an index lies past its file's end or
// the tracks do not follow each other.
std::optional<SheetLayout> LayOutSheet(const CueSheet& sheet,
                                       const std::vector<std::int64_t>& fileSectors,
                                       std::string* error);

} // namespace qm
