// Output naming: how a naming mask, the disc's names and a track's tag become
// the path of an output file, and the folder and path helpers that writing
// files and playlists needs.
//
// Names come from metadata that the network and users supply, so the part of
// a path that a mask makes is cleaned before use. Every value loses the
// characters that separate folders or that other systems refuse. In the
// expanded mask no component is empty, "." or "..", none starts with a dot
// (which would hide it), none holds a control character or broken UTF-8, and
// none is longer than the file system takes. A path built here therefore
// always stays inside its output folder.
//
// In a mask both "\" and "/" separate folders; paths are written with "/".
// The functions only read their arguments and the file system, so any thread
// may call them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/DiscInfo.h"
#include "output/ID3Tag.h"

// The mask tokens, in the order they are expanded. A token is matched with
// its case: "{title}" is plain text.
inline constexpr std::array<const char*, 7> TemplateTokens = {
    "{TITLE}", "{ARTIST}", "{ALBUM}", "{YEAR}", "{GENRE}", "{TRACK}", "{DISKID}"};
enum TemplateToken : std::size_t {
    kTokenTitle,
    kTokenArtist,
    kTokenAlbum,
    kTokenYear,
    kTokenGenre,
    kTokenTrack,
    kTokenDiskId,
};

// Longest file or folder name the file system takes, in bytes.
inline constexpr std::size_t kMaxNameBytes = 255;
// Longest text a mask may grow to while its tokens are replaced. A value may
// hold the text of a later token, which is then expanded in turn; without a
// bound a few hostile titles could grow the name without end.
inline constexpr std::size_t kMaxExpansionBytes = 16384;

// The extension of an output format with its dot: 0 ".wma", 1 ".mp3",
// 2 ".ogg", 3 ".wav", 4 ".ape", 5 ".flac"; "" for any other value.
const char* ExtensionOf(std::int32_t format);

// The mask of a new installation, also used in place of an empty one.
inline constexpr const char* kDefaultNameFormat = "track{TRACK}";

// The naming settings a track's path is built from.
struct NamingOptions {
    std::string outputFolder;                    // "" = the current folder; "~/" = home
    std::string nameFormat = kDefaultNameFormat; // the mask ("" = the default)
    bool generateIfExist = false;                // make a new name instead of overwriting
    bool mixedCD = false;                        // the disc has an artist per track
};

// What one track record (or the album record of an album rip) brings to a
// name.
struct NamingRecord {
    const CID3Tag& tag;
    bool useCustomTag = false; // the tag's artist, album, year and genre win over the disc's
    std::int32_t format = 1;   // output format number
};

// The path of disc track `trackNumber` (its number on the disc, not its
// index): the output folder, the expanded mask and the format's extension.
// With generateIfExist the first of name, name_#02 ... name_#98 under which
// nothing exists yet; the plain name when all are taken. "" when the mask
// leaves no file name and the format has no extension. The caller checks the
// track number against the disc.
std::string FormatTrackName(const NamingOptions& options, const DiscInfo& disc,
                            const NamingRecord& record, std::int32_t trackNumber,
                            std::uint32_t discId);

// The album rip's name: `mask` expanded against the album record, plus its
// format's extension, without folder. "{TRACK}" is the tag's "Track" ("XX"
// when empty); "{DISKID}" stays as it is.
std::string FormatAlbumName(std::string_view mask, const DiscInfo& disc, const NamingRecord& record,
                            bool mixedCD);

// Cleans a name made from a mask (a file name, possibly below folders, always
// relative): folder components lose their trailing dots, every component its
// leading dots and control characters, broken UTF-8 becomes U+FFFD, and
// empty folder components go; each component is cut to kMaxNameBytes on a
// character boundary. The file name keeps its trailing dots.
std::string NormalizeFileName(std::string_view name);

// Creates every folder named on `path` up to its last "/" (the part after it
// is left alone). False when a folder cannot be created or a file stands
// where a folder is needed; folders made before that stay.
bool PrepareDirectory(const std::string& path);
// The same creation; `existingCount` gets how many of those levels were
// there already (file or folder).
bool PrepareFolder(const std::string& path, int* existingCount);

// Renames `oldPath` to `newPath` (replacing it), trying 5 times half a second
// apart. True once the old path is gone.
bool MyRenameFile(const std::string& oldPath, const std::string& newPath);

// Everything before the last "/", without it; "" when there is none.
std::string ExtractFolderPath(std::string_view path);
// Everything after the last "." of the whole text; "" when there is none.
std::string ExtractExt(std::string_view path);

// The naming mask check of the output settings page: the first of ? * < > :
// " | (searched in that order) that the mask holds, or 0. The backslash and
// the slash name sub-folders and are allowed.
char FindIllegalMaskCharacter(std::string_view mask);
inline constexpr const char* kIllegalMaskTitle = "Warning";
// "You specified the illegal character '%c' in template mask. Please remove it."
std::string IllegalMaskCharacterMessage(char illegal);

// Building blocks shared with the playlist names.

// The value a token takes, or nothing to leave the token in the text.
using TokenValue = std::function<std::optional<std::string>(TemplateToken token)>;

// Replaces the tokens of `mask` in the order of TemplateTokens. A token's
// value is asked for only when the mask (as expanded so far) holds it; it
// loses control characters, broken UTF-8 and every character of `removed`,
// and with `trim` the spaces at both ends. The text is kept below
// kMaxExpansionBytes.
std::string ExpandTemplate(std::string_view mask, const TokenValue& value, std::string_view removed,
                           bool trim);

// The "{YEAR}" value of a year text: its leading number, "UnknownYear" below 1.
std::string YearValue(std::string_view yearText);

// `folder` and `name` joined by one "/" ("~/" in the folder expanded); just
// `name` when the folder is empty.
std::string JoinFolder(std::string_view folder, std::string_view name);

// NormalizeFileName with the file name cut to `fileNameBytes` instead, to
// leave room for what is appended to it.
std::string NormalizeName(std::string_view name, std::size_t fileNameBytes);
