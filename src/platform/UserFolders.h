// Where the program keeps what belongs to the user rather than to a disc: the
// home folder, the per-user data folder (the local CDDB cache and crash
// records live there, whatever folder the program was started from) and the
// "~/" shorthand users type in folder and playlist fields.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qm {

// $HOME, or the password database's home folder when it is unset or empty.
std::filesystem::path HomeFolder();

// "~" alone or "~/..." with the home folder put in; any other text unchanged
// ("~user" is not expanded).
std::string ExpandHome(std::string_view path);

// True for a path that names its place by itself: it starts with "/" or "~/"
// (or is "~").
bool IsAbsoluteName(std::string_view path);

// $XDG_DATA_HOME/Quavermill, or ~/.local/share/Quavermill when the variable
// is unset, empty or not absolute (as the XDG rules say).
std::filesystem::path DefaultDataFolder();

// The data folder a front end uses: the value of its --data-dir option ("~/"
// expanded) when one was given, else the default.
std::filesystem::path ResolveDataFolder(std::string_view dataDirOption);

} // namespace qm
