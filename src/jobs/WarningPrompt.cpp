#include "jobs/WarningPrompt.h"

#include "core/Text.h"
#include "core/Trace.h"

CWarningPrompt::CWarningPrompt(std::string message, int countdown)
    : m_message(std::move(message)), m_countdown(countdown) {
    QM_TRACE("WarningDlg");
}

PromptAnswer CWarningPrompt::GetDefaultAnswer() const {
    QM_TRACE("WarningDlg");
    QM_RETURN(0, m_defaultIsNo ? PromptAnswer::kNo : PromptAnswer::kYes);
}

bool CWarningPrompt::Open() {
    QM_TRACE("WarningDlg");
    m_result.reset();
    QM_RETURN(0, m_countdown > 0);
}

std::string CWarningPrompt::GetYesLabel() const {
    QM_TRACE("WarningDlg");
    if (m_countdown > 0 && !m_defaultIsNo) {
        QM_RETURN(0, qm::Format("Yes(%d)", m_countdown));
    }
    QM_RETURN(1, std::string("Yes"));
}

std::string CWarningPrompt::GetNoLabel() const {
    QM_TRACE("WarningDlg");
    if (m_countdown > 0 && m_defaultIsNo) {
        QM_RETURN(0, qm::Format("No(%d)", m_countdown));
    }
    QM_RETURN(1, std::string("No"));
}

bool CWarningPrompt::OnTimer() {
    QM_TRACE("WarningDlg");
    if (IsClosed()) {
        QM_RETURN(0, true);
    }
    if (m_countdown <= 0) {
        QM_RETURN(1, false);
    }
    --m_countdown;
    if (m_countdown == 0) {
        m_result = GetDefaultAnswer();
        QM_RETURN(2, true);
    }
    QM_RETURN(3, false);
}

void CWarningPrompt::Answer(PromptAnswer answer) {
    QM_TRACE("WarningDlg");
    if (!IsClosed()) {
        m_result = answer;
    }
}

PromptAnswer CWarningPrompt::GetResult() const {
    QM_TRACE("WarningDlg");
    QM_RETURN(0, m_result.value_or(GetDefaultAnswer()));
}

PromptAnswer RunWarningPrompt(CWarningPrompt& prompt, const PromptWait& waitForUser,
                              const std::function<void(const CWarningPrompt&)>& show) {
    const bool ticking = prompt.Open();
    if (show) {
        show(prompt);
    }
    while (!prompt.IsClosed()) {
        if (const std::optional<PromptAnswer> answer = waitForUser(CWarningPrompt::kTickPeriod)) {
            prompt.Answer(*answer);
            break;
        }
        if (ticking && !prompt.OnTimer() && show) {
            show(prompt);
        }
    }
    return prompt.GetResult();
}
