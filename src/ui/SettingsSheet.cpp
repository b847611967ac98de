#include "ui/SettingsSheet.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "core/Trace.h"
#include "platform/SettingsStore.h"
#include "ui/ApePage.h"
#include "ui/CddbPage.h"
#include "ui/CuttingPage.h"
#include "ui/FlacPage.h"
#include "ui/GeneralPage.h"
#include "ui/Id3TagPage.h"
#include "ui/Mp3Page.h"
#include "ui/OggPage.h"
#include "ui/OutputPage.h"
#include "ui/PlayerPage.h"
#include "ui/PlaylistPage.h"
#include "ui/SettingsHelp.h"
#include "ui/WavPage.h"
#include "ui/WmaPage.h"

namespace qm::ui {

CSettingsSheet::CSettingsSheet(const QString& caption, QWidget* parent)
    : QDialog(parent), m_list(new QListWidget(this)), m_stack(new QStackedWidget(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                         QDialogButtonBox::Apply | QDialogButtonBox::Help,
                                     this)) {
    setWindowTitle(caption);
    m_list->setObjectName(QStringLiteral("Pages"));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* body = new QHBoxLayout;
    body->addWidget(m_list);
    body->addWidget(m_stack, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addWidget(m_buttons);
    connect(m_list, &QListWidget::currentRowChanged, this, &CSettingsSheet::OnPageChosen);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &CSettingsSheet::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &CSettingsSheet::reject);
    connect(m_buttons, &QDialogButtonBox::helpRequested, this, &CSettingsSheet::OnHelp);
    connect(m_buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            &CSettingsSheet::Apply);
    m_buttons->button(QDialogButtonBox::Help)->setVisible(false);
}

void CSettingsSheet::SetHelp(SheetHelp help) {
    m_help = std::move(help);
    m_buttons->button(QDialogButtonBox::Help)->setVisible(static_cast<bool>(m_help.help));
    if (m_help.topicChanged && CurrentPage() != nullptr) {
        m_help.topicChanged(CurrentPage()->HelpTopicId());
    }
}

CSettingsSheet::~CSettingsSheet() {
    // The pages refer to the records the state holds: they go first.
    m_list->disconnect(this);
    m_pages.clear();
    delete m_stack;
    m_stack = nullptr;
}

void CSettingsSheet::AddPage(CSettingsPage* page) {
    // Long pages scroll rather than stretch the sheet.
    auto* scroll = new QScrollArea(m_stack);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(page);
    m_stack->addWidget(scroll);
    m_pages.push_back(page);
    m_list->addItem(page->Title());
    m_list->setMaximumWidth(std::max(m_list->sizeHintForColumn(0) + 24, 120));
    if (m_pages.size() == 1) {
        m_list->setCurrentRow(0);
    }
}

int CSettingsSheet::PageCount() const {
    return static_cast<int>(m_pages.size());
}

CSettingsPage* CSettingsSheet::Page(int index) const {
    return index >= 0 && index < PageCount() ? m_pages[static_cast<std::size_t>(index)] : nullptr;
}

CSettingsPage* CSettingsSheet::CurrentPage() const {
    return Page(m_stack->currentIndex());
}

bool CSettingsSheet::ShowPage(int index) {
    m_list->setCurrentRow(index);
    return m_stack->currentIndex() == index;
}

void CSettingsSheet::OnPageChosen(int row) {
    QM_TRACE("SettingsSheet");
    const int shown = m_stack->currentIndex();
    if (row < 0 || row == shown) {
        QM_RETURN(0);
    }
    // A page with a fault stays until it is mended.
    if (CurrentPage() != nullptr && !CurrentPage()->Validate()) {
        const QSignalBlocker block(m_list);
        m_list->setCurrentRow(shown);
        QM_RETURN(1);
    }
    m_stack->setCurrentIndex(row);
    if (m_help.topicChanged) {
        m_help.topicChanged(CurrentPage()->HelpTopicId());
    }
    QM_EXIT(2);
}

bool CSettingsSheet::Apply() {
    QM_TRACE("SettingsSheet");
    if (CurrentPage() != nullptr && !CurrentPage()->Validate()) {
        QM_RETURN(0, false);
    }
    for (CSettingsPage* page : m_pages) {
        page->Store();
    }
    if (m_commit) {
        m_commit();
    }
    m_committed = true;
    for (CSettingsPage* page : m_pages) {
        page->Load();
    }
    QM_RETURN(1, true);
}

void CSettingsSheet::accept() {
    if (Apply()) {
        QDialog::accept();
    }
}

void CSettingsSheet::done(int result) {
    if (m_help.topicChanged) {
        m_help.topicChanged(kHelpSummary);
    }
    QDialog::done(result);
}

void CSettingsSheet::OnHelp() {
    const int topic = CurrentPage() != nullptr ? CurrentPage()->HelpTopicId() : kHelpSummary;
    if (m_help.help) {
        m_help.help(topic);
    }
}

void CSettingsSheet::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        OnHelp();
        return;
    }
    QDialog::keyPressEvent(event);
}

namespace {

// What the "Settings" sheet's pages edit until it is confirmed.
struct SettingsSheetState {
    QuavermillSettings work;
    ApplyNowSettings applyNow;
};

// Writes the settings and the apply-now switches in one save; false when
// the store could not be written (the old one is then unchanged).
bool SaveSheet(const QuavermillSettings& settings, const ApplyNowSettings& applyNow) {
    QM_TRACE("SettingsSheet");
    const auto store = qm::OpenSettingsStore(qm::SettingsPath(), qm::StoreOpen::Create);
    if (!store) {
        QM_RETURN(0, false);
    }
    SaveSettings(settings, *store);
    SaveApplyNow(applyNow, *store);
    QM_RETURN(1, store->Save());
}

} // namespace

void AddFormatPages(CSettingsSheet& sheet, const std::vector<FormatSettings*>& formats,
                    const std::vector<FormatSettings*>& allTracks, ApplyNowSettings& applyNow) {
    const auto targets = [&](bool* switchState) {
        return FormatPageTargets{formats, allTracks, switchState};
    };
    sheet.AddPage(new CWavPage(targets(&applyNow.WAV)));
    sheet.AddPage(new CMp3Page(targets(&applyNow.MP3)));
    sheet.AddPage(new COggPage(targets(&applyNow.OGG)));
    sheet.AddPage(new CApePage(targets(&applyNow.APE)));
    sheet.AddPage(new CFlacPage(targets(&applyNow.FLAC)));
    sheet.AddPage(new CWmaPage(targets(&applyNow.WMA)));
}

std::unique_ptr<CSettingsSheet> MakeSettingsSheet(QWidget* parent, QuavermillSettings& settings,
                                                  const SettingsSheetOptions& options) {
    QM_TRACE("SettingsSheet");
    auto state = std::make_shared<SettingsSheetState>();
    state->work = settings;
    ReadSettingsStore(
        [&](const qm::SettingsStore& store) { LoadApplyNow(state->applyNow, store); });

    auto sheet = std::make_unique<CSettingsSheet>(QStringLiteral("Settings"), parent);
    QuavermillSettings& work = state->work;
    TrackRecord* defaultTrack = &work.DefaultTrack;
    sheet->AddPage(new CGeneralPage(work, options.driveNames));
    sheet->AddPage(new COutputPage(work));
    sheet->AddPage(new CCuttingPage(kHelpCutoffSettings, {defaultTrack}));
    sheet->AddPage(new CPlayerPage(work, options.playbackDevices));
    sheet->AddPage(new CPlaylistPage(work));
    sheet->AddPage(new CId3TagPage(QStringLiteral("ID3 tag"), kHelpId3TagSettings,
                                   CId3TagPage::DefaultTrackSwitches(), {defaultTrack}));
    sheet->AddPage(new CId3TagPage(QStringLiteral("Default tag"), kHelpId3TagSettings,
                                   CId3TagPage::DefaultTrackTag(), {defaultTrack}));
    sheet->AddPage(new CCddbPage(work, options.pickServer));
    AddFormatPages(*sheet, {&defaultTrack->format}, FormatsOf(options.allTracks), state->applyNow);

    CSettingsSheet* shown = sheet.get();
    sheet->SetCommit([state, &settings, applied = options.applied, shown] {
        // What the pages do not show stays as the window keeps it.
        QuavermillSettings updated = state->work;
        updated.window = settings.window;
        updated.drive.driveCount = settings.drive.driveCount;
        settings = updated;
        state->work = settings;
        if (!SaveSheet(settings, state->applyNow)) {
            QMessageBox::warning(shown, QStringLiteral("Settings"),
                                 QStringLiteral("The settings could not be saved to %1. They "
                                                "stay in use until the program ends.")
                                     .arg(QString::fromStdString(qm::SettingsPath().string())));
        }
        if (applied) {
            applied();
        }
    });
    sheet->Keep(state);
    sheet->ShowPage(options.startPage);
    sheet->SetHelp(options.help);
    QM_RETURN(0, sheet);
}

bool ShowSettingsSheet(QWidget* parent, QuavermillSettings& settings,
                       const SettingsSheetOptions& options) {
    QM_TRACE("SettingsSheet");
    const std::unique_ptr<CSettingsSheet> sheet = MakeSettingsSheet(parent, settings, options);
    sheet->exec();
    QM_RETURN(0, sheet->Committed());
}

} // namespace qm::ui
