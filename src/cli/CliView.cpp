#include "CliView.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "core/Text.h"

namespace qmcli {

namespace {

int g_wakePipe[2] = {-1, -1};
std::atomic<int> g_interrupts{0};
struct sigaction g_oldInt {};
struct sigaction g_oldTerm {};

void OnInterrupt(int /*signal*/) {
    g_interrupts.fetch_add(1);
    if (g_wakePipe[1] >= 0) {
        const char byte = 'x';
        [[maybe_unused]] const ssize_t written = ::write(g_wakePipe[1], &byte, 1);
    }
}

const char* AnswerText(PromptAnswer answer) {
    return answer == PromptAnswer::kYes ? "Yes" : "No";
}

// Prompt texts carry the Windows line break "\n\r".
std::string WithoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

} // namespace

SingleKeyMode::SingleKeyMode() {
    if (::isatty(STDIN_FILENO) == 0 || ::tcgetattr(STDIN_FILENO, &m_saved) != 0) {
        return;
    }
    termios raw = m_saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    m_active = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

SingleKeyMode::~SingleKeyMode() {
    if (m_active) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }
}

InterruptGuard::InterruptGuard() {
    if (::pipe2(g_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        g_wakePipe[0] = g_wakePipe[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &g_oldInt);
    ::sigaction(SIGTERM, &action, &g_oldTerm);
}

InterruptGuard::~InterruptGuard() {
    ::sigaction(SIGINT, &g_oldInt, nullptr);
    ::sigaction(SIGTERM, &g_oldTerm, nullptr);
    for (int& end : g_wakePipe) {
        if (end >= 0) {
            ::close(end);
            end = -1;
        }
    }
}

bool InterruptGuard::Take() {
    if (g_wakePipe[0] >= 0) {
        char drain[64];
        while (::read(g_wakePipe[0], drain, sizeof drain) > 0) {
        }
    }
    return g_interrupts.exchange(0) > 0;
}

int InterruptGuard::WakeDescriptor() {
    return g_wakePipe[0];
}

bool InterruptGuard::Wait(int milliseconds) {
    if (g_interrupts.load() > 0) {
        return true;
    }
    pollfd wake{g_wakePipe[0], POLLIN, 0};
    const int ready = ::poll(&wake, g_wakePipe[0] >= 0 ? 1 : 0, milliseconds);
    return ready > 0 || g_interrupts.load() > 0;
}

CliView::CliView(std::optional<PromptAnswer> answer)
    : m_answer(answer), m_terminal(::isatty(STDERR_FILENO) != 0) {}

const TrackRowTexts& CliView::RowTexts(int row) const {
    static const TrackRowTexts kNone;
    return row >= 0 && static_cast<std::size_t>(row) < m_rows.size()
               ? m_rows[static_cast<std::size_t>(row)]
               : kNone;
}

std::string CliView::TrackName(int row) const {
    const TrackRowTexts& texts = RowTexts(row);
    return "Track " + texts.number + "  " + texts.title;
}

void CliView::EndLiveLine() {
    if (m_liveLine) {
        std::fputc('\n', stderr);
        m_liveLine = false;
    }
}

void CliView::ResetRows(int rows, bool /*checkBoxes*/) {
    m_rows.assign(static_cast<std::size_t>(std::max(rows, 0)), TrackRowTexts{});
}

void CliView::SetRowTexts(int row, const TrackRowTexts& texts) {
    if (row >= 0 && static_cast<std::size_t>(row) < m_rows.size()) {
        m_rows[static_cast<std::size_t>(row)] = texts;
    }
}

void CliView::SetRowFormat(int /*row*/, const std::string& /*text*/) {}

void CliView::SetRowStatus(int row, const std::string& text) {
    if (text.empty()) {
        return;
    }
    EndLiveLine();
    std::fprintf(stderr, "%s  %s\n", TrackName(row).c_str(), text.c_str());
}

void CliView::SetRowChecked(int /*row*/, bool /*checked*/) {}

void CliView::SetRowSelected(int /*row*/, bool /*selected*/) {}

void CliView::ShowRowProgress(int row) {
    if (row < 0) {
        EndLiveLine();
        m_row = -1;
        return;
    }
    m_row = row;
    m_percent = 0;
    m_lastPlainStep = 0;
    if (!m_terminal) {
        std::fprintf(stderr, "%s ...\n", TrackName(row).c_str());
    }
    DrawProgress();
}

void CliView::SetRowProgress(int percent) {
    // Drawn once the poll has told everything (DrawProgress).
    m_percent = percent;
}

void CliView::DrawProgress() {
    if (m_row < 0) {
        return;
    }
    const int overall = m_mainRange > 0 ? m_mainPosition * 100 / m_mainRange : 0;
    const std::string line =
        qm::Format("%s  %3d%%  %s  overall %d%%", TrackName(m_row).c_str(), m_percent,
                   m_speed.empty() ? "----" : m_speed.c_str(), overall);
    if (m_terminal) {
        std::fprintf(stderr, "\r\033[K%s", std::string(qm::Utf8Prefix(line, 100)).c_str());
        std::fflush(stderr);
        m_liveLine = true;
        return;
    }
    // Without a terminal, a line at each quarter of the track.
    const int step = m_percent / 25;
    if (step > m_lastPlainStep && m_percent < 100) {
        m_lastPlainStep = step;
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

void CliView::SetMixedCDMode(bool /*on*/) {}

std::string CliView::GetTitle() {
    return "Quavermill";
}

void CliView::SetTitle(const std::string& /*title*/) {}

void CliView::SetMainProgressRange(int maximum) {
    m_mainRange = maximum;
    m_mainPosition = 0;
}

void CliView::SetMainProgress(int position) {
    m_mainPosition = position;
}

void CliView::SetSpeedText(const std::string& text) {
    m_speed = text;
}

void CliView::EnableControls(bool /*enable*/) {}

InfoBarValues CliView::GetInfoBar() {
    return m_info;
}

void CliView::SetInfoBar(const InfoBarValues& values) {
    m_info = values;
}

void CliView::SyncFormatCombo(bool /*haveDisc*/, std::optional<OutputFormat> /*format*/) {}

std::optional<PromptAnswer> CliView::WaitForKey(std::chrono::milliseconds period,
                                                PromptAnswer defaultAnswer) {
    const auto deadline = std::chrono::steady_clock::now() + period;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd fds[2] = {{InterruptGuard::WakeDescriptor(), POLLIN, 0},
                         {m_stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (InterruptGuard::Take()) {
            return PromptAnswer::kNo;
        }
        if (ready <= 0 || (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            continue;
        }
        char keys[64];
        const ssize_t count = ::read(STDIN_FILENO, keys, sizeof keys);
        if (count <= 0) {
            // Nothing more will come from there; the countdown answers.
            m_stdinOpen = false;
            continue;
        }
        for (ssize_t i = 0; i < count; ++i) {
            switch (keys[i]) {
            case 'y':
            case 'Y':
                return PromptAnswer::kYes;
            case 'n':
            case 'N':
                return PromptAnswer::kNo;
            case '\n':
            case '\r':
                return defaultAnswer;
            default:
                break;
            }
        }
    }
}

PromptAnswer CliView::Ask(CWarningPrompt& prompt) {
    EndLiveLine();
    const std::string message = WithoutCarriageReturns(prompt.GetMessage());
    if (m_answer) {
        std::fprintf(stderr, "%s %s\n", message.c_str(), AnswerText(*m_answer));
        return *m_answer;
    }
    std::fprintf(stderr, "%s\n", message.c_str());
    const SingleKeyMode keys;
    const PromptAnswer answer = RunWarningPrompt(
        prompt,
        [&](std::chrono::milliseconds period) {
            return WaitForKey(period, prompt.GetDefaultAnswer());
        },
        [&](const CWarningPrompt& shown) {
            if (m_terminal) {
                std::fprintf(stderr, "\r\033[K[%s] [%s] (y/n) ", shown.GetYesLabel().c_str(),
                             shown.GetNoLabel().c_str());
            } else {
                const bool yesCounts = shown.GetDefaultAnswer() == PromptAnswer::kYes;
                std::fprintf(stderr, "%s ",
                             (yesCounts ? shown.GetYesLabel() : shown.GetNoLabel()).c_str());
            }
            std::fflush(stderr);
        });
    std::fprintf(stderr, "-> %s\n", AnswerText(answer));
    return answer;
}

void CliView::ShowError(const std::string& text, const std::string& caption) {
    EndLiveLine();
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void CliView::StartPollTimer() {
    m_pollTimer = true;
}

void CliView::StopPollTimer() {
    m_pollTimer = false;
}

void CliView::UpdateWindowTitle() {}

void CliView::OnMultiDiscEnd() {}

void CliView::PostCommand(TracksCommand command) {
    m_commands.push_back(command);
}

void CliView::PlayCompletionSound(const std::string& /*soundFile*/) {
    // No sound output here: a terminal gets its bell.
    if (m_terminal) {
        std::fputc('\a', stderr);
        std::fflush(stderr);
    }
}

} // namespace qmcli
