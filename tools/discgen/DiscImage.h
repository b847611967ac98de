// Writes disc images of any layout: a CUE sheet (or a cdrdao TOC file) with
// one raw BIN beside it. The demo disc, the benchmarks and the tests all get
// their "discs" from here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace discgen {

constexpr std::int32_t kSectorBytes = 2352;
constexpr std::int32_t kFramesPerSector = 588;
constexpr std::int32_t kSectorsPerSecond = 75;

// The lead-out and lead-in between an Enhanced CD's audio and data sessions.
constexpr std::int32_t kSessionGap = 11400;

struct ImageTrack {
    // A Mode 1 track (raw 2352-byte sectors). One that follows audio with a
    // pregap of at least kSessionGap lies in a second session (REM SESSION 02).
    bool data = false;
    std::int32_t pregap = 0;  // sectors from INDEX 00 to INDEX 01, kept in the BIN
    std::int32_t sectors = 0; // sectors from INDEX 01 to the next track's INDEX 00
};

// Audio of one track, counted from the start of its pregap: fills `out` with
// the track's bytes at `offset`. Called in order, chunk by chunk.
using AudioFill =
    std::function<void(std::size_t track, std::uint64_t offset, std::span<std::uint8_t> out)>;

enum class SheetKind {
    Cue,       // CUE sheet, BIN in little-endian byte order ("BINARY")
    CdrdaoToc, // cdrdao TOC file, BIN in big-endian byte order; audio tracks only
};

struct ImageLayout {
    std::filesystem::path sheet;
    std::filesystem::path bin;
    std::vector<std::int32_t> starts; // sector of each track's INDEX 01 (as the TOC gives it)
    std::int32_t leadout = 0;
};

// Writes `sheet` and the BIN of the same name with ".bin". Sector n of the BIN
// is sector n of the disc. A data track's pregap is left as a hole in the file,
// so a disc with the long gap before a trailing data track stays cheap.
// nullopt, with the reason in *error, when the layout is unusable or a file
// cannot be written.
std::optional<ImageLayout> WriteImage(const std::filesystem::path& sheet,
                                      const std::vector<ImageTrack>& tracks, const AudioFill& fill,
                                      SheetKind kind = SheetKind::Cue,
                                      std::string* error = nullptr);

// Music-like stereo audio for `tracks`, a different tune for every track.
AudioFill MusicFill(const std::vector<ImageTrack>& tracks, std::uint32_t seed);

// Full-scale noise, fast to make and never the same twice on a disc: for
// benchmarks and for tests that compare bytes.
AudioFill NoiseFill(std::uint32_t seed);

// "mm:ss:ff" for a count of sectors.
std::string Msf(std::int32_t sectors);

} // namespace discgen
