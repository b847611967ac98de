// Independent readers of the playlists the program writes: the playlist
// parser of the GNOME media players (totem-pl-parser, through Debian's
// python3-gi), which reads M3U and WPL lists as a player does, and xmllint
// for whether a WPL is well-formed XML.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qmtest {

struct PlaylistEntries {
    bool ok = false;                // the parser read the list
    std::vector<std::string> paths; // each entry as the local path it names
};

PlaylistEntries ReadPlaylist(const std::filesystem::path& list);

// True when xmllint finds the file well-formed; its complaint otherwise.
bool XmlWellFormed(const std::filesystem::path& file, std::string* complaint = nullptr);

} // namespace qmtest
