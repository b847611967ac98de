// The track list without its window: one row per track of the disc in the
// drive with its check box, selection and status, the track records behind
// the rows (held by the shared data), and what keeps rows, records and the
// disc-level names in step: Refresh, UpdateCDInfo, UpdateFormatSettings,
// SyncFormat, the mixed-CD test and mode, and label editing. The front end
// shows the rows through CTracksView and passes the user's check, selection
// and edits back through the setters here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jobs/Data.h"
#include "jobs/TracksView.h"
#include "settings/FormatSettings.h"

class CTrackList {
public:
    // The column a label edit ends in.
    static constexpr int kTitleColumn = 1;
    static constexpr int kArtistColumn = 2;
    // Longest text a label edit keeps, in characters.
    static constexpr std::size_t kMaxLabelChars = 300;

    CTrackList(CData& data, CTracksView& view);
    CTrackList(const CTrackList&) = delete;
    CTrackList& operator=(const CTrackList&) = delete;

    // Reads the table of contents and rebuilds rows and records. False (and
    // nothing changed) when the table cannot be read.
    bool Refresh();
    // fromWindow: the info bar's names become the disc's, and the tags that
    // still held the old ones follow. Otherwise the info bar and every row
    // are rewritten from the disc and the tags.
    void UpdateCDInfo(bool fromWindow);
    // After a CDDB look-up filled the disc information: the tags take the
    // new names and the rows and the info bar show them.
    void GetCDDBInfo();
    // Every row's "Output format" text.
    void UpdateFormatSettings();
    // The format combo follows the selected rows.
    void SyncFormat();
    // True when the audio tracks' tag artists differ.
    bool IsMixedCD();
    void EnableMixedCDMode(bool on);
    bool IsMixedCDMode() const { return m_artistColumn >= 0; }
    // The mixed-CD command: switching on first takes the info bar's names
    // so that the artist column shows them; the format combo follows.
    void ToggleMixedCDMode();
    // With "AutoDetectMixedCD" on, the mode follows the track artists.
    void FollowMixedCD();
    // Column indexes (-1: not shown).
    int GetArtistColumn() const { return m_artistColumn; }
    int GetTimeColumn() const { return m_timeColumn; }
    int GetFormatColumn() const { return m_formatColumn; }
    int GetStatusColumn() const { return m_statusColumn; }
    // A label edit ended in `column` (title or, in mixed-CD mode, artist):
    // the cell and the tag take the text, cut to 300 characters.
    void OnEndEditLabel(int row, int column, const std::string& text);
    // The disc-level artist or album.
    void SetArtist(const std::string& artist);
    void SetAlbum(const std::string& album);

    // The text of a format setting as the "Output format" column shows it.
    static std::string FormatDescription(const FormatSettings& format);

    // The disc shown.
    std::int32_t GetFirstTrack() const { return m_firstTrack; }
    std::int32_t GetLastTrack() const { return m_lastTrack; }
    bool HasDisc() const { return m_firstTrack != -1 && m_lastTrack != -1; }
    bool HasAudioTracks() const { return m_hasAudioTracks; }
    bool HasDataTracks() const { return m_hasDataTracks; }
    // The CDDB id of the disc when its table was read (0: none).
    std::uint32_t GetDiscId() const { return m_discId; }
    void SetDiscId(std::uint32_t id) { m_discId = id; }

    // Rows: index = track number - first track.
    int GetRowCount() const { return static_cast<int>(m_rows.size()); }
    bool IsChecked(int row) const;
    void SetChecked(int row, bool checked);
    bool IsSelected(int row) const;
    void SetSelected(int row, bool selected);
    const std::string& GetStatus(int row) const;
    void SetStatus(int row, const std::string& text);
    bool IsDataRow(int row) const;
    // The main window's commands on rows.
    void MarkAll();
    void SelectAll();
    void MarkSelected(bool checked);

    CData& Data() { return m_data; }
    CTracksView& View() { return m_view; }

private:
    struct Row {
        bool checked = false;
        bool selected = false;
        std::string status;
        std::int32_t seconds = 0; // the track's length
    };

    // The texts of a row from its record (or "No CD in drive").
    TrackRowTexts RowTexts(int row);
    void ShowNoDisc();
    // The tags of the audio tracks from the disc information (names that
    // are set, the disc's artist, album, year and genre).
    void TagsFromDiscInfo();
    TrackRecord* Record(int row);

    CData& m_data;
    CTracksView& m_view;
    std::vector<Row> m_rows;
    std::int32_t m_firstTrack = -1;
    std::int32_t m_lastTrack = -1;
    bool m_hasAudioTracks = false;
    bool m_hasDataTracks = false;
    std::uint32_t m_discId = 0;
    int m_artistColumn = -1;
    int m_timeColumn = 2;
    int m_formatColumn = 3;
    int m_statusColumn = 4;
};
