// The auto-answer prompt's window: the question beside the system's error
// icon, Yes and No, the default button counting the seconds down ("Yes(5)",
// "Yes(4)" ...) on a one-second timer, and the default answer given when the
// count runs out. The logic is the prompt's own; this shows it and drives
// its tick.
#pragma once

#include <QDialog>
#include <QTimer>

#include "jobs/WarningPrompt.h"

class QLabel;
class QPushButton;

namespace qm::ui {

class CWarningDlg : public QDialog {
    Q_OBJECT

public:
    // `prompt` (message, countdown, default) must outlive the dialog.
    explicit CWarningDlg(CWarningPrompt& prompt, QWidget* parent = nullptr);

    // Shows the prompt modally and returns its answer.
    PromptAnswer Run();

    QPushButton* YesButton() const { return m_yes; }
    QPushButton* NoButton() const { return m_no; }
    QLabel* MessageLabel() const { return m_message; }

    void reject() override;

private:
    void OnTimer();
    void OnAnswer(PromptAnswer answer);
    void ShowLabels();

    CWarningPrompt& m_prompt;
    QLabel* m_message;
    QPushButton* m_yes;
    QPushButton* m_no;
    QTimer m_timer;
};

} // namespace qm::ui
