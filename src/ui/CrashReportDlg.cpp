#include "ui/CrashReportDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "core/CrashHandler.h"
#include "core/Trace.h"
#include "platform/MailHandOff.h"
#include "ui/QuavermillApp.h"

#ifndef QM_VERSION
#define QM_VERSION "0"
#endif

namespace qm::ui {

namespace {

QLineEdit* ReadOnlyField(const QString& text, const char* name, QWidget* parent) {
    QM_TRACE("CrashReportDlg");
    auto* field = new QLineEdit(text, parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setReadOnly(true);
    field->setMaxLength(200);
    field->setCursorPosition(0);
    QM_RETURN(0, field);
}

} // namespace

CCrashReportDlg::CCrashReportDlg(CrashRecord record, QWidget* parent)
    : QDialog(parent), m_record(std::move(record)) {
    QM_TRACE_AS("CCrashReportDlg", "CCrashReportDlg");
    setObjectName(QStringLiteral("CrashReportDlg"));
    setWindowTitle(QStringLiteral("Quavermill error report"));
    setFont(QFont(QStringLiteral("Arial")));

    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(
        QStringLiteral("Quavermill met an error it could not recover from and had to end. "
                       "You can mail a report of it to the makers: your mail client shows the "
                       "message before anything is sent."),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* form = new QFormLayout;
    m_name = ReadOnlyField(QString::fromLatin1(kSupportName), "RecipientName", this);
    m_address = ReadOnlyField(QString::fromLatin1(kSupportAddress), "RecipientAddress", this);
    m_subject = ReadOnlyField(QString::fromStdString(CrashMailSubject(m_record)), "Subject", this);
    form->addRow(QStringLiteral("To:"), m_name);
    form->addRow(QStringLiteral("Address:"), m_address);
    form->addRow(QStringLiteral("Subject:"), m_subject);
    layout->addLayout(form);

    layout->addWidget(
        new QLabel(QStringLiteral("What were you doing when it happened? (optional)"), this));
    m_description = new QPlainTextEdit(this);
    m_description->setObjectName(QStringLiteral("Description"));
    layout->addWidget(m_description, 1);

    auto* buttons = new QDialogButtonBox(this);
    m_send = buttons->addButton(QStringLiteral("Send"), QDialogButtonBox::AcceptRole);
    m_send->setObjectName(QStringLiteral("Send"));
    m_send->setDefault(true);
    m_send->setAutoDefault(true);
    QPushButton* close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("Close"));
    close->setAutoDefault(false);
    connect(m_send, &QPushButton::clicked, this, &CCrashReportDlg::OnSend);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(560, 400);
    m_send->setFocus();
}

void CCrashReportDlg::OnSend() {
    QM_TRACE("CrashReportDlg");
    // The mail's lines end as the rest of the report's do.
    QString typed = m_description->toPlainText();
    if (typed.trimmed().isEmpty()) {
        typed.clear();
    }
    typed.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    const std::string body = CrashMailBody(m_record, OperatingSystemLine(), typed.toStdString());
    const MailHandOffResult result =
        HandMailToClient(kSupportAddress, CrashMailSubject(m_record), body);
    if (result == MailHandOffResult::kNoMailProgram) {
        QMessageBox::critical(this, windowTitle(), QString::fromLatin1(kNoMailMessage));
    } else if (result == MailHandOffResult::kFailed) {
        QMessageBox::critical(this, windowTitle(), QString::fromLatin1(kHandOffFailedMessage));
    }
    accept();
}

int RunCrashReport(const std::filesystem::path& record) {
    QM_TRACE("CrashReportDlg");
    // A fault in the report itself must not start yet another report.
    std::error_code ec;
    const std::filesystem::path crashFolder = std::filesystem::absolute(record, ec).parent_path();
    qm::InstallCrashHandler({.productLine = "Quavermill v" QM_VERSION,
                             .programName = "quavermill",
                             .dataFolder = crashFolder.parent_path(),
                             .mode = qm::CrashReportMode::kPrintReportCommand,
                             .reportProgram = {}});
    std::optional<CrashRecord> read = ReadCrashRecord(record);
    if (!read) {
        std::fprintf(stderr, "quavermill: %s is not a crash record that can be read\n",
                     record.c_str());
        QM_RETURN(0, 2);
    }
    MarkCrashRecordMentioned(record);
    CCrashReportDlg dialog(std::move(*read));
    // An automated run that crashed must not leave a window nobody closes.
    if (std::getenv(CQuavermillApp::kAutoCloseVariable) != nullptr) {
        QTimer::singleShot(0, &dialog, &QDialog::reject);
    }
    dialog.exec();
    QM_RETURN(1, 0);
}

} // namespace qm::ui
