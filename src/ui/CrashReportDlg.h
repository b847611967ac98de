// The crash report window, shown by `quavermill --crash-report RECORD`, the
// process the crash handler starts: who the report goes to, its subject (the
// code, the traced method that was running and the address), room for the
// user's own description, and Send, which hands the mail to the user's mail
// client. Nothing is sent by the program itself.
#pragma once

#include <QDialog>

#include <filesystem>

#include "core/CrashRecord.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace qm::ui {

class CCrashReportDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kSupportName = "Quavermill support";
    static constexpr const char* kSupportAddress = "support@quavermill.example";
    static constexpr const char* kNoMailMessage =
        "MAPI is not installed.\nI am not able to send feedback.";
    static constexpr const char* kHandOffFailedMessage =
        "Failed to load MAPI function\nI am not able to send feedback";

    explicit CCrashReportDlg(CrashRecord record, QWidget* parent = nullptr);

    QLineEdit* RecipientName() const { return m_name; }
    QLineEdit* RecipientAddress() const { return m_address; }
    QLineEdit* Subject() const { return m_subject; }
    QPlainTextEdit* Description() const { return m_description; }
    QPushButton* SendButton() const { return m_send; }

    // Send: builds the mail and hands it over; closes the window whatever
    // came of it (saying so when it could not be handed over).
    void OnSend();

private:
    CrashRecord m_record;
    QLineEdit* m_name;
    QLineEdit* m_address;
    QLineEdit* m_subject;
    QPlainTextEdit* m_description;
    QPushButton* m_send;
};

// `quavermill --crash-report RECORD`: shows the report of the record; the
// exit status (0, or 2 when the record cannot be read).
int RunCrashReport(const std::filesystem::path& record);

} // namespace qm::ui
