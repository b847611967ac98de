// The local CDDB cache: one small text file per disc, named by its CDDB disc
// id, holding the names a look-up or the user gave the disc, so that it is
// named again without a query. The writer and the reader live together
// because they must agree: a file written here reads back to the same disc
// artist, album, genre, year and track titles.
//
// The file: CR LF lines of key=value in the xmcd way (backslash, line break
// and tab escaped; a value too long for one 256-byte line continues on more
// lines of the same key, which the reader joins). "# " and the program's
// title, "# version 1.25", then DARTIST, DTITLE, DGENRE, DYEAR (only when the
// year is above 0), and a TTITLE<n> line per track numbered from 0, as
// "title" or, for a track of another artist, "artist / title ". An entry as a
// server writes it (no DARTIST, DTITLE "artist / album") reads as well, and
// so does one in Latin-1.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "core/DiscInfo.h"
#include "output/ID3Tag.h"

// The cache folder's name inside the data folder.
inline constexpr const char* kLocalCDDBFolder = "Local CDDB";

// The name of a disc's file: its id in upper-case hexadecimal ("%X").
std::string LocalCDDBFileName(std::uint32_t discId);

// Writes the file of disc `discId` into `folder` (created when missing): the
// disc's names from `disc` and each track's title and artist from its tag.
// `tags` holds the tags of tracks firstTrack..lastTrack in order (a missing
// or null one counts as empty). The old file is replaced in one step, so a
// failed save leaves it as it was. False for disc id 0 or a failed write.
bool SaveLocalCDDB(const std::filesystem::path& folder, std::uint32_t discId, const DiscInfo& disc,
                   std::span<const CID3Tag* const> tags, std::int32_t firstTrack,
                   std::int32_t lastTrack);

// A cache file holds a few kilobytes; a larger one than this is not read.
inline constexpr std::uintmax_t kLocalCDDBMaxBytes = 256 * 1024;

// Reads the file of disc `discId` from `folder` into `disc` and the tags.
// Only the keys the file holds change (repeated lines of a key are joined);
// with `parseMixedCD` a track title "artist / title" is split at " / ". Then every tag gets
// the album, the disc artist where it has none, the year (1..9999) and the
// genre spelt as in GenreTable (a genre not in it is removed from the tags,
// and so is a year outside that range). False, with nothing changed, for disc
// id 0 or a file that cannot be read; for a file larger than
// kLocalCDDBMaxBytes with the reason in *error.
bool LoadLocalCDDB(const std::filesystem::path& folder, std::uint32_t discId, DiscInfo& disc,
                   std::span<CID3Tag* const> tags, std::int32_t firstTrack, std::int32_t lastTrack,
                   bool parseMixedCD, std::string* error = nullptr);
