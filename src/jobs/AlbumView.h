// What the album rip needs from its front end: the dialog's list (check
// boxes and the row progress bar), the idle/running switch, and questions.
// Every call comes from the front end's own thread.
#pragma once

#include <string>

#include "jobs/WarningPrompt.h"

class CAlbumView {
public:
    CAlbumView() = default;
    CAlbumView(const CAlbumView&) = delete;
    CAlbumView& operator=(const CAlbumView&) = delete;
    virtual ~CAlbumView() = default;

    virtual void SetRowChecked(int row, bool checked) = 0;
    // Places the row progress bar over `row` and shows it; -1 hides it.
    virtual void ShowRowProgress(int row) = 0;
    virtual void SetRowProgress(int percent) = 0;
    // Idle (true: "Start") or running (false: "Stop").
    virtual void EnableControls(bool enable) = 0;
    // The auto-answer prompt.
    virtual PromptAnswer Ask(CWarningPrompt& prompt) = 0;
    // A plain Yes/No question; true for Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
    virtual void ShowError(const std::string& text, const std::string& caption) = 0;
    // The job's 200 ms poll: while it runs, call CAlbumJob::OnTimer.
    virtual void StartPollTimer() = 0;
    virtual void StopPollTimer() = 0;
};
