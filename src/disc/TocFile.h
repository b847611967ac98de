// cdrdao TOC files as users keep them beside their disc images: tracks made
// of runs of audio files (WAV, FLAC or raw samples), data files and
// silence, with START, PREGAP and INDEX marks, ISRC and CATALOG codes and
// CD-Text. ReadTocFile checks the whole grammar (a refusal names the line)
// and LayOutTocFile turns the file and its files' lengths into the disc it
// describes, in the same shape a CUE sheet gives.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disc/CueSheet.h"

namespace qm {

// One run of a track: `length` bytes from `offset` of file `file`, or
// silence when `file` is -1. A length of -1 runs to the file's end.
struct TocPiece {
    int file = -1;
    std::int64_t offset = 0;
    std::int64_t length = 0;
    int sectorBytes = kSectorBytes; // one sector of the track in the file
    int line = 0;
};

struct TocTrack {
    std::vector<TocPiece> pieces;
    // INDEX 01 lies `start` sectors into the track; -1: where the first
    // `startPieces` pieces end (a START with no time).
    std::int64_t start = 0;
    int startPieces = -1;
    int startLine = 0;
    std::vector<std::int32_t> indexes; // INDEX 02 ..., sectors from INDEX 01
    std::vector<int> indexLines;
    bool rawSectors = true; // the files hold 2352-byte sectors a drive serves
};

struct TocFile {
    // Names, codes, flags and modes, as a CUE sheet holds them; `files`
    // lists every file the tracks name. Track indexes are filled in by
    // LayOutTocFile, as sectors of the disc (their `file` is -1).
    CueSheet sheet;
    std::vector<TocTrack> tracks; // beside sheet.tracks
};

// The TOC file at `path`, or nullopt with the reason (naming the file and the
// line) in *error.
std::optional<TocFile> ReadTocFile(const std::filesystem::path& path, std::string* error);
// The same for a TOC file's text; file names resolve in `folder`, `name` is
// what refusals call it.
std::optional<TocFile> ParseTocFile(std::string_view text, const std::filesystem::path& folder,
                                    const std::string& name, std::string* error);

// Whether the TOC file names an audio file (WAV, FLAC ...), which only the
// sheet drive reads, rather than raw images alone.
bool TocNamesAudioFiles(const TocFile& toc);

// The disc the TOC file describes, given the bytes of each of its files
// (samples for audio files, as ImageAudioFile counts them); fills the
// sheet's track indexes. Sectors of data tracks whose files hold cooked
// sectors come out as segments of file kUnreadableSegment.
std::optional<SheetLayout> LayOutTocFile(TocFile& toc, const std::vector<std::int64_t>& fileBytes,
                                         std::string* error);

} // namespace qm
