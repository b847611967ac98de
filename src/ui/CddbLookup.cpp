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
#include "disc/QueryCDDBInfo.h"
#include "jobs/MusicBrainzLookup.h"
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

bool RunCddbLookup(QWidget* parent, CCDRipper& ripper, const QuavermillSettings& settings,
                   std::vector<TrackRecord>* tracks) {
    QM_TRACE("MainFrm");
    const std::int32_t sources = settings.metadata.MetadataSources;
    const bool askCddb = sources != kSourcesMusicBrainz;
    const bool askMusicBrainz = sources == kSourcesMusicBrainz || sources == kSourcesBoth;
    std::int32_t count = 0;
    std::int32_t status = CCDRipper::kCDDBNoMatch;
    std::string reason;
    if (askCddb) {
        // The client's reason is kept per thread: it is read on the worker.
        const bool waited =
            RunCddbRequest(parent, QStringLiteral("Asking the CDDB server..."), [&] {
                count = ripper.QueryCDInfo(&settings.cddb, true);
                status = ripper.GetLastCDDBStatus();
                reason = qm::CDDBLastError();
            });
        if (!waited) {
            QM_RETURN(0, false);
        }
        if (status == CCDRipper::kCDDBNoDrive || status == CCDRipper::kCDDBNoTracks) {
            ShowError(parent, kCddbNoDiskText, "");
            QM_RETURN(1, false);
        }
    }
    CMusicBrainzLookup musicBrainz(ripper, settings.metadata);
    int releases = 0;
    if (askMusicBrainz) {
        // After a CDDB query the disc's records are ready, and its matches
        // stay.
        const bool waited = RunCddbRequest(parent, QStringLiteral("Asking MusicBrainz..."),
                                           [&] { releases = musicBrainz.Query(!askCddb); });
        if (!waited) {
            QM_RETURN(2, false);
        }
        if (!askCddb && releases == 0 && ripper.GetLastCDDBStatus() != CCDRipper::kCDDBOk) {
            ShowError(parent, kCddbNoDiskText, "");
            QM_RETURN(3, false);
        }
    }
    if (count + releases <= 0) {
        if (status == CCDRipper::kCDDBQueryFailed) {
            ShowError(parent, kCddbQueryFailedText, reason);
        } else if (!musicBrainz.GetLastError().empty()) {
            ShowError(parent, kMusicBrainzFailedText, musicBrainz.GetLastError());
        } else {
            ShowError(parent, kCddbNoMatchText, "");
        }
        QM_RETURN(4, false);
    }

    CQueryCDDBInfo matches(ripper.GetCDDBMatches(), musicBrainz.GetMatches());
    CQueryCDDBInfoDlg chooser(matches, parent);
    const std::int32_t chosen = chooser.Choose();
    if (chosen < 0) {
        QM_RETURN(5, false);
    }

    if (matches.IsMusicBrainz(chosen)) {
        bool named = false;
        const bool fetched =
            RunCddbRequest(parent, QStringLiteral("Reading the MusicBrainz release..."),
                           [&] { named = musicBrainz.Choose(matches.MusicBrainzIndex(chosen)); });
        if (!fetched) {
            QM_RETURN(6, false);
        }
        if (!named) {
            ShowError(parent, kMusicBrainzFailedText, musicBrainz.GetLastError());
            QM_RETURN(7, false);
        }
        if (tracks != nullptr) {
            musicBrainz.GivePictureTo(*tracks);
        }
        QM_RETURN(8, true);
    }

    bool extracted = false;
    const bool fetched = RunCddbRequest(parent, QStringLiteral("Reading the CDDB entry..."), [&] {
        extracted = ripper.ExtractCDInfo(chosen);
        reason = qm::CDDBLastError();
    });
    if (!fetched) {
        QM_RETURN(9, false);
    }
    if (!extracted) {
        ShowError(parent, kCddbEntryFailedText, reason);
        QM_RETURN(10, false);
    }
    QM_RETURN(11, true);
}

} // namespace qm::ui
