// What the track list and its grab job need from a front end, and nothing
// more. The window (widgets) and the terminal each implement it, so that a
// grab behaves the same from both and runs in tests without a display.
//
// Every call comes from the front end's own thread (the one that calls the
// job's methods); the job's worker thread never calls the view.
#pragma once

#include <optional>
#include <string>

#include "jobs/WarningPrompt.h"
#include "settings/OutputFormat.h"

// The info bar: the disc-level names as the user sees and edits them, and
// the "Write track's number" box.
struct InfoBarValues {
    std::string artist;
    std::string album;
    std::string year; // as typed; "%d" of a year, or ""
    std::string genre;
    bool writeTrackNumber = true;

    bool operator==(const InfoBarValues&) const = default;
};

// The texts of one row of the list, but its format and status.
struct TrackRowTexts {
    std::string number; // "%2d", or "--" without a disc
    std::string title;  // the tag title, "track%d", "Data track" or "No CD in drive"
    std::string artist; // shown in mixed-CD mode only
    std::string time;   // "%02d:%02d"; empty for data rows

    bool operator==(const TrackRowTexts&) const = default;
};

// Commands a refresh asks the main window to run, as a user would.
enum class TracksCommand { kMarkAll, kGetCDDBInfo, kToggleMixedCD };

class CTracksView {
public:
    CTracksView() = default;
    CTracksView(const CTracksView&) = delete;
    CTracksView& operator=(const CTracksView&) = delete;
    virtual ~CTracksView() = default;

    // The list. ResetRows empties it and makes `rows` rows; with `checkBoxes`
    // they carry check boxes (a disc with audio tracks), without they do not
    // (no disc, a disc of data tracks only).
    virtual void ResetRows(int rows, bool checkBoxes) = 0;
    virtual void SetRowTexts(int row, const TrackRowTexts& texts) = 0;
    virtual void SetRowFormat(int row, const std::string& text) = 0;
    virtual void SetRowStatus(int row, const std::string& text) = 0;
    virtual void SetRowChecked(int row, bool checked) = 0;
    virtual void SetRowSelected(int row, bool selected) = 0;
    // Places the row progress bar over the Status cell of `row` and shows
    // it; -1 hides it.
    virtual void ShowRowProgress(int row) = 0;
    virtual void SetRowProgress(int percent) = 0;
    // Shows or hides the "Artist" column (mixed-CD mode) and names the menu
    // entry accordingly.
    virtual void SetMixedCDMode(bool on) = 0;

    // The window: its title, the main progress bar (range 0..maximum), the
    // read-speed text, and the switch between idle (enable) and grabbing.
    virtual std::string GetTitle() = 0;
    virtual void SetTitle(const std::string& title) = 0;
    virtual void SetMainProgressRange(int maximum) = 0;
    virtual void SetMainProgress(int position) = 0;
    virtual void SetSpeedText(const std::string& text) = 0;
    virtual void EnableControls(bool enable) = 0;

    // The info bar and the format combo.
    virtual InfoBarValues GetInfoBar() = 0;
    virtual void SetInfoBar(const InfoBarValues& values) = 0;
    // With a disc: the info bar is enabled and the format combo shows
    // `format`, or the blank entry when the selected rows differ or none is
    // selected. Without a disc: the combo shows only the blank entry and the
    // info bar is disabled.
    virtual void SyncFormatCombo(bool haveDisc, std::optional<OutputFormat> format) = 0;

    // Questions. Ask shows the auto-answer prompt (`prompt` holds the message
    // and the countdown) and returns its answer; ShowError is a plain message
    // box with an error icon.
    virtual PromptAnswer Ask(CWarningPrompt& prompt) = 0;
    virtual void ShowError(const std::string& text, const std::string& caption) = 0;

    // The job's 200 ms poll: while it runs, the front end calls
    // CGrabJob::OnTimer every 200 ms.
    virtual void StartPollTimer() = 0;
    virtual void StopPollTimer() = 0;

    // Notices to the main window: bring its title up to date; one disc of a
    // multi-disc grab is done (ask for the next); a command to run.
    virtual void UpdateWindowTitle() = 0;
    virtual void OnMultiDiscEnd() = 0;
    virtual void PostCommand(TracksCommand command) = 0;
    // The completion sound ("EnableSound", "SoundFile").
    virtual void PlayCompletionSound(const std::string& soundFile) = 0;
};
