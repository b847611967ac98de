// A front end for the job tests: it keeps what the job shows, answers the
// auto-answer prompt by letting its countdown run out (each tick is one
// second that passed, with no waiting) or with a scripted key press, and
// carries out the commands a refresh posts, as the main window would.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jobs/TrackList.h"
#include "jobs/TracksView.h"

namespace jobtest {

struct AskedPrompt {
    std::string message;
    int countdown = 0;
    std::vector<std::string> yesLabels; // as shown, one per second
    int ticks = 0;                      // seconds until it was answered
    PromptAnswer answer = PromptAnswer::kYes;
};

class TestView : public CTracksView {
public:
    // Rows.
    int rowCount = 0;
    bool checkBoxes = false;
    std::vector<TrackRowTexts> rows;
    std::vector<std::string> formats;
    std::vector<std::string> statuses;
    std::vector<bool> checked;
    std::vector<bool> selected;
    int progressRow = -1;
    std::vector<int> rowProgress;
    bool mixedMode = false;
    // Window.
    std::string title = "Quavermill";
    std::vector<std::string> titles;
    int mainRange = 0;
    std::vector<int> mainPositions;
    std::string speed;
    bool enabled = true;
    // Info bar and combo.
    InfoBarValues info;
    bool haveDisc = false;
    std::optional<OutputFormat> comboFormat;
    // Questions and notices.
    std::vector<AskedPrompt> prompts;
    std::deque<PromptAnswer> keyPresses; // answered at once, in turn
    std::vector<std::pair<std::string, std::string>> errors;
    bool pollTimer = false;
    int windowTitleUpdates = 0;
    int multiDiscEnds = 0;
    std::vector<TracksCommand> commands;
    std::vector<std::string> sounds;
    // The track list that posted commands are run on (as the main window
    // forwards them); none: they are only kept.
    CTrackList* list = nullptr;
    // Called when a row's status is set and when the row progress bar moves
    // to a row.
    std::function<void(int row, const std::string& status)> onStatus;
    std::function<void(int row)> onRowStarted;

    void ResetRows(int count, bool withCheckBoxes) override {
        rowCount = count;
        checkBoxes = withCheckBoxes;
        rows.assign(static_cast<std::size_t>(count), TrackRowTexts{});
        formats.assign(static_cast<std::size_t>(count), "");
        statuses.assign(static_cast<std::size_t>(count), "");
        checked.assign(static_cast<std::size_t>(count), false);
        selected.assign(static_cast<std::size_t>(count), false);
    }
    void SetRowTexts(int row, const TrackRowTexts& texts) override { At(rows, row) = texts; }
    void SetRowFormat(int row, const std::string& text) override { At(formats, row) = text; }
    void SetRowStatus(int row, const std::string& text) override {
        At(statuses, row) = text;
        if (onStatus) {
            onStatus(row, text);
        }
    }
    void SetRowChecked(int row, bool on) override {
        checked.at(static_cast<std::size_t>(row)) = on;
    }
    void SetRowSelected(int row, bool on) override {
        selected.at(static_cast<std::size_t>(row)) = on;
    }
    void ShowRowProgress(int row) override {
        progressRow = row;
        if (row >= 0 && onRowStarted) {
            onRowStarted(row);
        }
    }
    void SetRowProgress(int percent) override { rowProgress.push_back(percent); }
    void SetMixedCDMode(bool on) override { mixedMode = on; }

    std::string GetTitle() override { return title; }
    void SetTitle(const std::string& text) override {
        title = text;
        titles.push_back(text);
    }
    void SetMainProgressRange(int maximum) override { mainRange = maximum; }
    void SetMainProgress(int position) override { mainPositions.push_back(position); }
    void SetSpeedText(const std::string& text) override { speed = text; }
    void EnableControls(bool enable) override { enabled = enable; }

    InfoBarValues GetInfoBar() override { return info; }
    void SetInfoBar(const InfoBarValues& values) override { info = values; }
    void SyncFormatCombo(bool disc, std::optional<OutputFormat> format) override {
        haveDisc = disc;
        comboFormat = format;
    }

    PromptAnswer Ask(CWarningPrompt& prompt) override {
        AskedPrompt asked;
        asked.message = prompt.GetMessage();
        asked.countdown = prompt.GetCountdown();
        std::optional<PromptAnswer> key;
        if (!keyPresses.empty()) {
            key = keyPresses.front();
            keyPresses.pop_front();
        }
        asked.answer = RunWarningPrompt(
            prompt,
            [&](std::chrono::milliseconds) -> std::optional<PromptAnswer> {
                if (key) {
                    return key;
                }
                ++asked.ticks;
                return std::nullopt;
            },
            [&](const CWarningPrompt& shown) { asked.yesLabels.push_back(shown.GetYesLabel()); });
        prompts.push_back(asked);
        return asked.answer;
    }
    void ShowError(const std::string& text, const std::string& caption) override {
        errors.emplace_back(text, caption);
    }

    void StartPollTimer() override { pollTimer = true; }
    void StopPollTimer() override { pollTimer = false; }
    void UpdateWindowTitle() override { ++windowTitleUpdates; }
    void OnMultiDiscEnd() override { ++multiDiscEnds; }
    void PostCommand(TracksCommand command) override {
        commands.push_back(command);
        if (list == nullptr) {
            return;
        }
        switch (command) {
        case TracksCommand::kMarkAll:
            list->MarkAll();
            break;
        case TracksCommand::kToggleMixedCD:
            list->EnableMixedCDMode(!list->IsMixedCDMode());
            break;
        case TracksCommand::kGetCDDBInfo:
            break;
        }
    }
    void PlayCompletionSound(const std::string& file) override { sounds.push_back(file); }

private:
    template <typename T> static T& At(std::vector<T>& values, int row) {
        return values.at(static_cast<std::size_t>(row));
    }
};

} // namespace jobtest
