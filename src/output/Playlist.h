// Playlists: which file a grab lists its tracks in, and how a finished track
// is added to it, as an M3U list (a path per line) or a WPL list (XML). The
// format follows from the playlist's extension: ".wpl" in any case is WPL,
// anything else M3U.
//
// Both formats are written so that a failure at any step leaves the user's
// list as it was: an overwritten list is replaced in one rename, an M3U line
// that cannot be written whole is taken back, and a WPL is rewritten into
// "<list>tmp" and renamed over the old one only when all of it was written.
#pragma once

#include <string>
#include <string_view>

#include "core/DiscInfo.h"

// The playlist settings.
struct PlaylistOptions {
    bool addToPlaylist = false;       // playlists are written at all
    bool useSpecifiedPlaylist = true; // one fixed file, else a name from the mask
    std::string specifiedPlaylist;    // extension included
    std::string maskPlaylist;         // extension included
    std::string outputFolder;         // where names that are not absolute go
};

// The skeleton of a new WPL list, written in one piece.
inline constexpr const char* kWplSkeleton = "<?wpl version=\"1.0\"?>\r\n"
                                            "<smil>\r\n"
                                            "<head>\r\n<title>Playlist</title>\r\n</head>\r\n"
                                            "<body>\r\n<seq>\r\n</seq>\r\n</body>\r\n</smil>\r\n";
inline constexpr const char* kM3UHeader = "#EXTM3U\r\n";

// The playlist of a grab of the disc `disc`, "" when none is wanted. A name
// that starts with "/" or "~/" is taken as it is; any other goes below the
// output folder. The mask's "{ARTIST}", "{ALBUM}", "{YEAR}" and "{GENRE}" take
// the disc's values; "{TITLE}", "{TRACK}" and "{DISKID}" belong to no
// playlist and stay as written. A name ending in ".m3u" or ".wpl" (any case)
// keeps its extension; any other gets ".m3u" in place of its own.
std::string GeneratePlaylistName(const PlaylistOptions& options, const DiscInfo& disc);

// Creates the list (with its folders) or checks it, once at the start of a
// grab. With `overwrite` an existing list starts again empty; without, its
// entries stay, and an existing M3U must start with "#EXTM3U" (any case).
bool PreparePlaylist(const std::string& path, bool overwrite);
// Adds a finished track to a prepared list.
bool AddToPlaylist(const std::string& playlist, const std::string& track);

bool PrepareM3U(const std::string& path, bool overwrite);
// Appends the track's path (made absolute, so that the list works from any
// folder) unless the list already holds it in any letter case.
bool AddToM3U(const std::string& playlist, const std::string& track);

bool PrepareWPL(const std::string& path, bool overwrite);
// Inserts a media entry for the track before the list's "</seq>": the path
// relative to the list's folder when the track lies below it, else the full
// path. No duplicate check. A list without "</seq>" stays as it is; false
// when the list's tags do not read.
bool AddToWPL(const std::string& playlist, const std::string& track);

// XML text for an attribute value: & < > " ' as entities, broken UTF-8 and
// characters XML cannot carry as U+FFFD.
std::string EscapeXml(std::string_view text);
