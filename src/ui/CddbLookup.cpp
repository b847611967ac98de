#include "ui/CddbLookup.h"

#include <string>
#include <thread>

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/Trace.h"
#include "disc/CDRipper.h"
#include "disc/CddbAccess.h"
#include "ui/QueryCDDBInfoDlg.h"

namespace qm::ui {

namespace {

void ShowError(QWidget* parent, const std::string& text, const std::string& reason) {
    const QString shown = reason.empty() ? QString::fromStdString(text)
                                         : QString::fromStdString(text + ":\n" + reason);
    QMessageBox::critical(parent, QStringLiteral("Error"), shown);
}

// The wait: a busy bar and Cancel. It closes only when the request has
// returned, so that nothing else can be done with the ripper meanwhile; Cancel,
// Escape and the close button end the request under way.
class CddbWaitDialog final : public QDialog {
public:
    CddbWaitDialog(const QString& text, QWidget* parent)
        : QDialog(parent), m_text(new QLabel(text, this)),
          m_cancel(new QPushButton(QStringLiteral("Cancel"), this)) {
        QM_TRACE("CddbWait");
        setObjectName(QStringLiteral("CddbWait"));
        setWindowTitle(QStringLiteral("CDDB"));
        setModal(true);
        m_cancel->setObjectName(QStringLiteral("Cancel"));
        auto* busy = new QProgressBar(this);
        busy->setRange(0, 0);
        busy->setTextVisible(false);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch(1);
        buttons->addWidget(m_cancel);
        buttons->addStretch(1);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(m_text);
        layout->addWidget(busy);
        layout->addLayout(buttons);
        connect(m_cancel, &QPushButton::clicked, this, &CddbWaitDialog::reject);
        setMinimumWidth(320);
    }

    void Finish() {
        QM_TRACE("CddbWait");
        m_finished = true;
        done(m_cancelled ? QDialog::Rejected : QDialog::Accepted);
    }
    bool Cancelled() const { return m_cancelled; }

    void reject() override {
        QM_TRACE("CddbWait");
        if (m_finished || m_cancelled) {
            QM_RETURN(0);
        }
        m_cancelled = true;
        m_text->setText(QStringLiteral("Cancelling..."));
        m_cancel->setEnabled(false);
        qm::CDDBCancel();
        QM_EXIT(1);
    }

private:
    QLabel* m_text;
    QPushButton* m_cancel;
    bool m_finished = false;
    bool m_cancelled = false;
};

} // namespace

bool RunCddbRequest(QWidget* parent, const QString& text, const std::function<void()>& work) {
    QM_TRACE("MainFrm");
    CddbWaitDialog wait(text, parent);
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(
            &wait, [&wait] { wait.Finish(); }, Qt::QueuedConnection);
    });
    wait.exec();
    worker.join();
    QM_RETURN(0, !wait.Cancelled());
}

CWindowLookupView::CWindowLookupView(QWidget* parent) : m_parent(parent) {
    QM_TRACE("MainFrm");
}

bool CWindowLookupView::RunRequest(const std::string& text, const std::function<void()>& work) {
    QM_TRACE("MainFrm");
    QM_RETURN(0, RunCddbRequest(m_parent, QString::fromStdString(text), work));
}

std::int32_t CWindowLookupView::Choose(CQueryCDDBInfo& matches) {
    QM_TRACE("MainFrm");
    CQueryCDDBInfoDlg chooser(matches, m_parent);
    QM_RETURN(0, chooser.Choose());
}

void CWindowLookupView::ShowFailure(LookupFailure failure, const std::string& reason) {
    QM_TRACE("MainFrm");
    switch (failure) {
    case LookupFailure::kNoDisc:
        ShowError(m_parent, kCddbNoDiskText, "");
        break;
    case LookupFailure::kQueryFailed:
        ShowError(m_parent, kCddbQueryFailedText, reason);
        break;
    case LookupFailure::kNoMatch:
        ShowError(m_parent, kCddbNoMatchText, "");
        break;
    case LookupFailure::kEntryFailed:
        ShowError(m_parent, kCddbEntryFailedText, reason);
        break;
    }
}

bool RunCddbLookup(QWidget* parent, CCDRipper& ripper, const QuavermillSettings& settings) {
    QM_TRACE("MainFrm");
    CWindowLookupView view(parent);
    CNamesLookup lookup(ripper, settings.cddb);
    QM_RETURN(0, lookup.Fetch(view));
}

} // namespace qm::ui
