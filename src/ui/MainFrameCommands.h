// The main window's command table as its menus and toolbars use it: the
// Settings menu's entries with the page each opens, and the commands that
// stay off while a grab runs. Internal to the main window's files.
#pragma once

#include "ui/MainFrame.h"
#include "ui/SettingsSheet.h"

namespace qm::ui::mainframe {

// The format combo's names, by OutputFormat value.
inline constexpr const char* kFormatNames[] = {"WMA", "MP3", "OGG", "WAV", "APE", "FLAC"};
inline constexpr int kFormatCount = 6;
inline constexpr int kBlankFormat = -1;

// The Settings menu's entries, in its order, and the page each opens.
struct SettingsEntry {
    int id;
    const char* text;
    const char* tip;
    SettingsPageId page;
};

inline constexpr SettingsEntry kSettingsEntries[] = {
    {ID_GENERAL_SETTINGS, "G&eneral", "General settings", kGeneralPage},
    {ID_OUTPUT_SETTINGS, "&Output settings", "", kOutputPage},
    {ID_WMA_SETTINGS, "&WMA settings", "WMA settings", kWmaPage},
    {ID_MP3_SETTINGS, "&MP3 settings", "MP3 settings", kMp3Page},
    {ID_WAV_SETTINGS, "WA&V settings", "WAV settings", kWavPage},
    {ID_OGG_SETTINGS, "O&GG settings", "OGG settings", kOggPage},
    {ID_APE_SETTINGS, "&APE settings", "APE settings", kApePage},
    {ID_FLAC_SETTINGS, "&FLAC settings", "FLAC settings", kFlacPage},
    {ID_PLAYER_SETTINGS, "&Player && Normalization", "Player settings", kPlayerPage},
    {ID_ID3TAG_SETTINGS, "&ID3 Tag", "ID3 Tag settings", kId3TagPage},
    {ID_PLAYLIST_SETTINGS, "Play&list", "Playlist settings", kPlaylistPage},
    {ID_CDDB_SETTINGS, "&CDDB settings", "CDDB settings", kCddbPage},
};

// Commands that change what a running grab reads: off while it runs.
inline constexpr int kIdleOnly[] = {
    ID_GRAB_MULTI,      ID_REFRESH,         ID_GET_CDDB_INFO, ID_LOAD_LOCAL_CDDB,
    ID_SAVE_LOCAL_CDDB, ID_SELECT_ALL,      ID_MARK_SELECTED, ID_UNMARK_SELECTED,
    ID_MIXED_CD,        ID_OPEN_DISC_IMAGE, ID_RIP_ALBUM,
};

} // namespace qm::ui::mainframe
