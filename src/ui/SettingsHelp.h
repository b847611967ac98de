// The application's help topic ids of the settings pages. The application
// keeps the id of what is shown (the sheets report it as their page
// changes) and opens help/<topic>.htm for it on Help.
#pragma once

namespace qm::ui {

enum HelpTopicId : int {
    kHelpSummary = 0,
    kHelpMp3Settings = 2,
    kHelpWmaSettings = 3,
    kHelpOggSettings = 4,
    kHelpTrackFormat = 5,
    kHelpId3TagTrack = 6,
    kHelpGeneralSettings = 7,
    kHelpOutputSettings = 8,
    kHelpId3TagSettings = 9,
    kHelpPlaylistSettings = 10,
    kHelpCddbSettings = 11,
    kHelpCutoffSettings = 12,
    kHelpCutoffTrack = 13,
    kHelpPlayerSettings = 14,
    kHelpApeSettings = 15,
};

} // namespace qm::ui
