// Where the help pages are and how a help topic is opened: one HTML page per
// topic (help/<topic>.htm), shown by the desktop's browser.
#pragma once

#include <filesystem>
#include <string>

namespace qm::ui {

// The folder of the help pages: share/quavermill/help beside the installed
// program, else the source tree's help/ (a program run from its build
// tree), else the installation prefix's. Empty when none holds the pages.
std::filesystem::path HelpFolder();
// The installed help folder of the program at `program`
// (<prefix>/bin/quavermill → <prefix>/share/quavermill/help); empty when it
// holds no pages.
std::filesystem::path InstalledHelpFolder(const std::filesystem::path& program);
// The page of a help topic id: "summary.htm" for 0, 1 and every id the
// table does not know, "mp3_settings.htm" for 2 ...
std::string HelpTopicFile(int helpTopicId);
// Opens the page of the topic in the desktop's browser. False when the page
// is missing or nothing could open it.
bool OpenHelpTopic(int helpTopicId);

} // namespace qm::ui
