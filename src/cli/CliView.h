// The terminal front end of the track list and its grab job: progress on
// standard error (a live line on a terminal, plain lines otherwise), the
// self-answering prompt counting down in the terminal, and Ctrl-C turned
// into a stop the main loop hands to the job.
#pragma once

#include <termios.h>

#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "jobs/TracksView.h"

namespace qmcli {

// While it lives, Ctrl-C (and SIGTERM) only raise a flag and wake Wait.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    // True once for every interrupt since the last call.
    static bool Take();
    // The descriptor that becomes readable on an interrupt (-1 without a
    // guard).
    static int WakeDescriptor();
    // Waits up to `milliseconds` for an interrupt; true when one came.
    static bool Wait(int milliseconds);
};

// The terminal of standard input in single-key mode (no echo, no line
// editing), while the object lives; nothing when standard input is no
// terminal.
class SingleKeyMode {
public:
    SingleKeyMode();
    ~SingleKeyMode();
    SingleKeyMode(const SingleKeyMode&) = delete;
    SingleKeyMode& operator=(const SingleKeyMode&) = delete;
    bool IsActive() const { return m_active; }

private:
    termios m_saved{};
    bool m_active = false;
};

class CliView : public CTracksView {
public:
    // `answer`: the answer every prompt gets at once (--yes, --no).
    explicit CliView(std::optional<PromptAnswer> answer);

    // The commands a refresh posted, oldest first; the caller runs them.
    std::deque<TracksCommand>& PostedCommands() { return m_commands; }
    bool IsPollTimerRunning() const { return m_pollTimer; }
    const TrackRowTexts& RowTexts(int row) const;
    // Ends a live line so that ordinary output starts on a line of its own.
    void EndLiveLine();
    // Shows the progress of the track being grabbed: the live line, or a
    // plain line at each quarter of the track. After each poll of the job.
    void DrawProgress();

    void ResetRows(int rows, bool checkBoxes) override;
    void SetRowTexts(int row, const TrackRowTexts& texts) override;
    void SetRowFormat(int row, const std::string& text) override;
    void SetRowStatus(int row, const std::string& text) override;
    void SetRowChecked(int row, bool checked) override;
    void SetRowSelected(int row, bool selected) override;
    void ShowRowProgress(int row) override;
    void SetRowProgress(int percent) override;
    void SetMixedCDMode(bool on) override;
    std::string GetTitle() override;
    void SetTitle(const std::string& title) override;
    void SetMainProgressRange(int maximum) override;
    void SetMainProgress(int position) override;
    void SetSpeedText(const std::string& text) override;
    void EnableControls(bool enable) override;
    InfoBarValues GetInfoBar() override;
    void SetInfoBar(const InfoBarValues& values) override;
    void SyncFormatCombo(bool haveDisc, std::optional<OutputFormat> format) override;
    PromptAnswer Ask(CWarningPrompt& prompt) override;
    void ShowError(const std::string& text, const std::string& caption) override;
    void StartPollTimer() override;
    void StopPollTimer() override;
    void UpdateWindowTitle() override;
    void OnMultiDiscEnd() override;
    void PostCommand(TracksCommand command) override;
    void PlayCompletionSound(const std::string& soundFile) override;

private:
    // Waits up to `period` for y, n or Enter (the default answer); an
    // interrupt answers No.
    std::optional<PromptAnswer> WaitForKey(std::chrono::milliseconds period,
                                           PromptAnswer defaultAnswer);
    std::string TrackName(int row) const;

    std::optional<PromptAnswer> m_answer;
    bool m_terminal = false;
    bool m_liveLine = false;
    bool m_stdinOpen = true;
    std::vector<TrackRowTexts> m_rows;
    InfoBarValues m_info;
    std::deque<TracksCommand> m_commands;
    bool m_pollTimer = false;
    int m_row = -1;
    int m_percent = 0;
    int m_lastPlainStep = -1;
    std::string m_speed;
    int m_mainRange = 0;
    int m_mainPosition = 0;
};

} // namespace qmcli
