// The auto-answer prompt's logic, without a window: a Yes/No question whose
// default button counts the seconds down ("Yes(5)", "Yes(4)" ...) and that
// closes itself with the default answer when the count reaches 0, so that an
// unattended grab never stalls on a question. The window and the terminal
// each show it and drive its one-second tick; tests drive the tick directly.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

// The answers, by the values the dialog returns.
enum class PromptAnswer : int { kYes = 6, kNo = 7 };

class CWarningPrompt {
public:
    static constexpr std::chrono::milliseconds kTickPeriod{1000};

    CWarningPrompt() = default;
    CWarningPrompt(std::string message, int countdown);

    void SetMessage(std::string message) { m_message = std::move(message); }
    const std::string& GetMessage() const { return m_message; }
    // Seconds until the prompt answers itself; 0 waits for the user.
    void SetCountdown(int seconds) { m_countdown = seconds; }
    int GetCountdown() const { return m_countdown; }
    void SetDefaultIsNo(bool defaultIsNo) { m_defaultIsNo = defaultIsNo; }
    PromptAnswer GetDefaultAnswer() const;

    // Shows the prompt: true when it needs the one-second tick (a countdown
    // is set).
    bool Open();
    // The button labels: the default one carries the remaining seconds while
    // a countdown runs.
    std::string GetYesLabel() const;
    std::string GetNoLabel() const;
    // One tick of the timer: the count drops by one and at 0 the prompt
    // closes with the default answer. True once the prompt is closed.
    bool OnTimer();
    // A button pressed (at any time): the prompt closes with that answer.
    void Answer(PromptAnswer answer);
    bool IsClosed() const { return m_result.has_value(); }
    // The answer once closed; the default answer before.
    PromptAnswer GetResult() const;

private:
    std::string m_message;
    bool m_defaultIsNo = false;
    int m_countdown = 0;
    std::optional<PromptAnswer> m_result;
};

// Runs a prompt to its answer where nothing else drives its timer (the
// terminal, tests): `waitForUser` waits up to the given time for the user's
// answer and returns it, or nothing when the time passed; each wait that
// ends without an answer is one tick. `show` is called once the prompt is
// open and after every tick, to redraw the labels.
using PromptWait = std::function<std::optional<PromptAnswer>(std::chrono::milliseconds)>;
PromptAnswer RunWarningPrompt(CWarningPrompt& prompt, const PromptWait& waitForUser,
                              const std::function<void(const CWarningPrompt&)>& show);
