#include "ui/WarningDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "core/Trace.h"

namespace qm::ui {

CWarningDlg::CWarningDlg(CWarningPrompt& prompt, QWidget* parent)
    : QDialog(parent), m_prompt(prompt), m_message(new QLabel(this)), m_yes(new QPushButton(this)),
      m_no(new QPushButton(this)) {
    QM_TRACE("WarningDlg");
    setWindowTitle(QStringLiteral("Warning"));
    setObjectName(QStringLiteral("WarningDlg"));
    m_message->setObjectName(QStringLiteral("Message"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_yes->setObjectName(QStringLiteral("Yes"));
    m_no->setObjectName(QStringLiteral("No"));
    // Enter presses the button with the focus, which starts on the default
    // one; no button grabs Enter for itself.
    m_yes->setAutoDefault(true);
    m_no->setAutoDefault(true);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("Icon"));
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxCritical, nullptr, this).pixmap(size, size));
    icon->setAlignment(Qt::AlignTop);

    auto* body = new QHBoxLayout;
    body->addWidget(icon);
    body->addWidget(m_message, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_yes);
    buttons->addWidget(m_no);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addLayout(buttons);

    m_timer.setInterval(static_cast<int>(CWarningPrompt::kTickPeriod.count()));
    connect(&m_timer, &QTimer::timeout, this, &CWarningDlg::OnTimer);
    connect(m_yes, &QPushButton::clicked, this, [this] { OnAnswer(PromptAnswer::kYes); });
    connect(m_no, &QPushButton::clicked, this, [this] { OnAnswer(PromptAnswer::kNo); });
}

PromptAnswer CWarningDlg::Run() {
    QM_TRACE("WarningDlg");
    m_message->setText(QString::fromStdString(m_prompt.GetMessage()));
    const bool ticking = m_prompt.Open();
    ShowLabels();
    QPushButton* const defaultButton =
        m_prompt.GetDefaultAnswer() == PromptAnswer::kNo ? m_no : m_yes;
    defaultButton->setDefault(true);
    defaultButton->setFocus(Qt::OtherFocusReason);
    if (ticking) {
        m_timer.start();
    }
    exec();
    m_timer.stop();
    QM_RETURN(0, m_prompt.GetResult());
}

void CWarningDlg::ShowLabels() {
    QM_TRACE("WarningDlg");
    m_yes->setText(QString::fromStdString(m_prompt.GetYesLabel()));
    m_no->setText(QString::fromStdString(m_prompt.GetNoLabel()));
}

void CWarningDlg::OnTimer() {
    QM_TRACE("WarningDlg");
    if (m_prompt.OnTimer()) {
        m_timer.stop();
        done(static_cast<int>(m_prompt.GetResult()));
        QM_RETURN(0);
    }
    ShowLabels();
    QM_EXIT(1);
}

void CWarningDlg::OnAnswer(PromptAnswer answer) {
    QM_TRACE("WarningDlg");
    m_timer.stop();
    m_prompt.Answer(answer);
    done(static_cast<int>(answer));
}

// Escape and the window's close button answer No, as the No button does.
void CWarningDlg::reject() {
    QM_TRACE("WarningDlg");
    OnAnswer(PromptAnswer::kNo);
}

} // namespace qm::ui
