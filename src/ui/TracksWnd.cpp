#include "ui/TracksWnd.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMessageBox>
#include <QProgressBar>

#include "core/Trace.h"
#include "jobs/Data.h"
#include "ui/MainFrame.h"
#include "ui/WarningDlg.h"

namespace qm::ui {

namespace {

struct ColumnInfo {
    const char* header;
    int defaultWidth;
};

// By settings index.
constexpr std::array<ColumnInfo, CTracksWnd::kSettingsColumns> kColumns = {{
    {"N", 46}, // the check box and a two-digit number
    {"Track name", 300},
    {"Artist", 130},
    {"Time", 45},
    {"Output format", 130},
    {"Status", 130},
}};

QString ToQt(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

CTracksWnd::CTracksWnd(CData& shared, CMainFrame* frame, QWidget* parent)
    : QTreeWidget(parent), m_data(shared), m_frame(frame),
      m_rowProgress(new QProgressBar(viewport())) {
    QM_TRACE("TracksWnd");
    setObjectName(QStringLiteral("Tracks"));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // Labels are edited on a double click on their own cell only.
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    SetupColumns();

    m_rowProgress->setObjectName(QStringLiteral("RowProgress"));
    m_rowProgress->setRange(0, 100);
    m_rowProgress->setTextVisible(false);
    m_rowProgress->hide();

    // The job is polled every kPollPeriodMs, and at once (within
    // kWakePeriodMs) when a track has been read or has ended.
    m_pollTimer.setInterval(kWakePeriodMs);
    connect(&m_pollTimer, &QTimer::timeout, this, [this] {
        if (m_job->GetWakeEvent()->IsSet() || !m_sincePoll.isValid() ||
            m_sincePoll.elapsed() >= kPollPeriodMs) {
            m_sincePoll.restart();
            m_job->OnTimer();
        }
    });
    connect(this, &QTreeWidget::itemChanged, this, &CTracksWnd::OnItemChanged);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &CTracksWnd::OnSelectionChanged);
    connect(this, &QTreeWidget::itemDoubleClicked, this, &CTracksWnd::OnDblClickTracks);
    connect(header(), &QHeaderView::sectionResized, this, [this] { PlaceRowProgress(); });

    m_list = std::make_unique<CTrackList>(m_data, *this);
    m_job = std::make_unique<CGrabJob>(m_data, *m_list, *this);
    m_data.SetPlayList(m_list.get());
}

CTracksWnd::~CTracksWnd() {
    QM_TRACE("TracksWnd");
    m_pollTimer.stop();
    m_data.StopPlay(false);
    m_data.SetPlayList(nullptr);
    // The job waits for its worker; it goes before the list it reads.
    m_job.reset();
    m_list.reset();
}

int CTracksWnd::ColumnWidthFor(int settingsIndex, int defaultWidth) const {
    QM_TRACE("TracksWnd");
    const std::int32_t stored =
        m_data.Settings().window.ColumnWidth[static_cast<std::size_t>(settingsIndex)];
    QM_RETURN(0, stored >= 1 && stored <= kMaxColumnWidth ? stored : defaultWidth);
}

int CTracksWnd::SettingsIndexOf(int column) const {
    QM_TRACE("TracksWnd");
    if (column < 0 || column >= columnCount()) {
        QM_RETURN(0, -1);
    }
    if (m_mixed || column < kArtistSettingsIndex) {
        QM_RETURN(1, column);
    }
    QM_RETURN(2, column + 1);
}

void CTracksWnd::SetupColumns() {
    QM_TRACE("TracksWnd");
    const int count = m_mixed ? kSettingsColumns : kSettingsColumns - 1;
    setColumnCount(count);
    QStringList labels;
    for (int column = 0; column < count; ++column) {
        labels << QString::fromLatin1(
            kColumns[static_cast<std::size_t>(SettingsIndexOf(column))].header);
    }
    setHeaderLabels(labels);
    for (int column = 0; column < count; ++column) {
        const int index = SettingsIndexOf(column);
        setColumnWidth(
            column, ColumnWidthFor(index, kColumns[static_cast<std::size_t>(index)].defaultWidth));
    }
}

void CTracksWnd::SaveColumnWidth() {
    QM_TRACE("TracksWnd");
    for (int column = 0; column < columnCount(); ++column) {
        const int index = SettingsIndexOf(column);
        m_data.Settings().window.ColumnWidth[static_cast<std::size_t>(index)] = columnWidth(column);
    }
}

std::vector<int> CTracksWnd::SelectedRows() const {
    QM_TRACE("TracksWnd");
    std::vector<int> rows;
    for (int row = 0; row < topLevelItemCount(); ++row) {
        if (topLevelItem(row)->isSelected()) {
            rows.push_back(row);
        }
    }
    QM_RETURN(0, rows);
}

void CTracksWnd::FillRow(int row) {
    QM_TRACE("TracksWnd");
    QTreeWidgetItem* item = topLevelItem(row);
    if (item == nullptr || row >= static_cast<int>(m_rows.size())) {
        QM_RETURN(0);
    }
    const RowCache& cache = m_rows[static_cast<std::size_t>(row)];
    const bool filling = m_filling;
    m_filling = true;
    item->setText(0, ToQt(cache.texts.number));
    item->setText(1, ToQt(cache.texts.title));
    if (m_mixed) {
        item->setText(m_list->GetArtistColumn(), ToQt(cache.texts.artist));
    }
    item->setText(m_list->GetTimeColumn(), ToQt(cache.texts.time));
    item->setText(m_list->GetFormatColumn(), ToQt(cache.format));
    item->setText(m_list->GetStatusColumn(), ToQt(cache.status));
    m_filling = filling;
    QM_EXIT(1);
}

void CTracksWnd::ResetRows(int rows, bool checkBoxes) {
    QM_TRACE("TracksWnd");
    m_filling = true;
    ShowRowProgress(-1);
    clear();
    m_rows.assign(static_cast<std::size_t>(std::max(rows, 0)), RowCache{});
    m_checkBoxes = checkBoxes;
    for (int row = 0; row < rows; ++row) {
        auto* item = new QTreeWidgetItem(this);
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (checkBoxes) {
            flags |= Qt::ItemIsUserCheckable | Qt::ItemIsEditable;
            item->setCheckState(0, Qt::Unchecked);
        }
        item->setFlags(flags);
    }
    m_filling = false;
}

void CTracksWnd::SetRowTexts(int row, const TrackRowTexts& texts) {
    QM_TRACE("TracksWnd");
    if (row < 0 || row >= static_cast<int>(m_rows.size())) {
        QM_RETURN(0);
    }
    m_rows[static_cast<std::size_t>(row)].texts = texts;
    FillRow(row);
    QM_EXIT(1);
}

void CTracksWnd::SetRowFormat(int row, const std::string& text) {
    QM_TRACE("TracksWnd");
    if (row < 0 || row >= static_cast<int>(m_rows.size())) {
        QM_RETURN(0);
    }
    m_rows[static_cast<std::size_t>(row)].format = text;
    FillRow(row);
    QM_EXIT(1);
}

void CTracksWnd::SetRowStatus(int row, const std::string& text) {
    QM_TRACE("TracksWnd");
    if (row < 0 || row >= static_cast<int>(m_rows.size())) {
        QM_RETURN(0);
    }
    m_rows[static_cast<std::size_t>(row)].status = text;
    FillRow(row);
    QM_EXIT(1);
}

void CTracksWnd::SetRowChecked(int row, bool checked) {
    QM_TRACE("TracksWnd");
    QTreeWidgetItem* item = topLevelItem(row);
    if (item == nullptr || !m_checkBoxes) {
        QM_RETURN(0);
    }
    const bool filling = m_filling;
    m_filling = true;
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    m_filling = filling;
    QM_EXIT(1);
}

void CTracksWnd::SetRowSelected(int row, bool selected) {
    QM_TRACE("TracksWnd");
    QTreeWidgetItem* item = topLevelItem(row);
    if (item == nullptr) {
        QM_RETURN(0);
    }
    const bool filling = m_filling;
    m_filling = true;
    item->setSelected(selected);
    m_filling = filling;
    QM_EXIT(1);
}

void CTracksWnd::PlaceRowProgress() {
    QM_TRACE("TracksWnd");
    QTreeWidgetItem* item = m_progressRow >= 0 ? topLevelItem(m_progressRow) : nullptr;
    if (item == nullptr) {
        m_rowProgress->hide();
        QM_RETURN(0);
    }
    const QRect cell = visualItemRect(item);
    // The Status cell: the row's left edge plus the columns before it.
    int left = cell.left();
    for (int column = 0; column < m_list->GetStatusColumn(); ++column) {
        left += columnWidth(column);
    }
    m_rowProgress->setGeometry(left, cell.top(), columnWidth(m_list->GetStatusColumn()),
                               cell.height());
    m_rowProgress->show();
    m_rowProgress->raise();
    QM_EXIT(1);
}

void CTracksWnd::ShowRowProgress(int row) {
    QM_TRACE("TracksWnd");
    m_progressRow = row;
    if (row < 0) {
        m_rowProgress->hide();
        QM_RETURN(0);
    }
    m_rowProgress->setValue(0);
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        scrollToItem(item);
    }
    PlaceRowProgress();
    QM_EXIT(1);
}

void CTracksWnd::SetRowProgress(int percent) {
    QM_TRACE("TracksWnd");
    m_rowProgress->setValue(std::clamp(percent, 0, 100));
}

void CTracksWnd::SetMixedCDMode(bool on) {
    QM_TRACE("TracksWnd");
    if (on == m_mixed) {
        QM_RETURN(0);
    }
    SaveColumnWidth();
    m_mixed = on;
    m_filling = true;
    SetupColumns();
    if (on) {
        const std::int32_t stored = m_data.Settings().window.ColumnWidth[kArtistSettingsIndex];
        setColumnWidth(2, stored == 0 || stored > kMaxColumnWidth ? 130 : stored);
    }
    m_filling = false;
    for (int row = 0; row < topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = topLevelItem(row);
        for (int column = 2; column < columnCount(); ++column) {
            item->setText(column, QString());
        }
        FillRow(row);
    }
    PlaceRowProgress();
    if (m_frame != nullptr) {
        m_frame->SetMixedCDMenuText(on);
    }
    QM_EXIT(1);
}

std::string CTracksWnd::GetTitle() {
    QM_TRACE("TracksWnd");
    QM_RETURN(0, m_frame != nullptr ? m_frame->windowTitle().toStdString() : m_ownTitle);
}

void CTracksWnd::SetTitle(const std::string& title) {
    QM_TRACE("TracksWnd");
    if (m_frame != nullptr) {
        m_frame->setWindowTitle(ToQt(title));
    } else {
        m_ownTitle = title;
    }
}

void CTracksWnd::SetMainProgressRange(int maximum) {
    QM_TRACE("TracksWnd");
    if (m_frame != nullptr) {
        m_frame->SetMainProgressRange(maximum);
    }
}

void CTracksWnd::SetMainProgress(int position) {
    QM_TRACE("TracksWnd");
    if (m_frame != nullptr) {
        m_frame->SetMainProgress(position);
    }
}

void CTracksWnd::SetSpeedText(const std::string& text) {
    QM_TRACE("TracksWnd");
    if (m_frame != nullptr) {
        m_frame->SetSpeedText(text);
    }
}

void CTracksWnd::EnableControls(bool enable) {
    QM_TRACE("TracksWnd");
    setEnabled(enable);
    if (enable) {
        m_rowProgress->hide();
    }
    if (m_frame != nullptr) {
        m_frame->EnableControls(enable);
    }
}

InfoBarValues CTracksWnd::GetInfoBar() {
    QM_TRACE("TracksWnd");
    QM_RETURN(0, m_frame != nullptr ? m_frame->GetInfoBar() : m_ownInfo);
}

void CTracksWnd::SetInfoBar(const InfoBarValues& values) {
    QM_TRACE("TracksWnd");
    if (m_frame != nullptr) {
        m_frame->SetInfoBar(values);
    } else {
        m_ownInfo = values;
    }
}

void CTracksWnd::SyncFormatCombo(bool haveDisc, std::optional<OutputFormat> format) {
    QM_TRACE("TracksWnd");
    if (m_frame != nullptr) {
        m_frame->SyncFormatCombo(haveDisc, format);
    }
}

PromptAnswer CTracksWnd::Ask(CWarningPrompt& prompt) {
    QM_TRACE("TracksWnd");
    CWarningDlg dialog(prompt, m_frame != nullptr ? static_cast<QWidget*>(m_frame) : this);
    QM_RETURN(0, dialog.Run());
}

void CTracksWnd::ShowError(const std::string& text, const std::string& caption) {
    QM_TRACE("TracksWnd");
    QMessageBox box(QMessageBox::Critical, ToQt(caption), ToQt(text), QMessageBox::Ok,
                    m_frame != nullptr ? static_cast<QWidget*>(m_frame) : this);
    box.exec();
}

void CTracksWnd::StartPollTimer() {
    QM_TRACE("TracksWnd");
    m_pollTimer.start();
}

void CTracksWnd::StopPollTimer() {
    QM_TRACE("TracksWnd");
    m_pollTimer.stop();
}

void CTracksWnd::UpdateWindowTitle() {
    QM_TRACE("TracksWnd");
    if (m_frame != nullptr) {
        m_frame->UpdateWindowTitle();
    }
}

void CTracksWnd::OnMultiDiscEnd() {
    QM_TRACE("TracksWnd");
    // Asked once the job has finished its own end of the disc.
    if (m_frame != nullptr) {
        QMetaObject::invokeMethod(m_frame, &CMainFrame::OnMultiDiscEnd, Qt::QueuedConnection);
    }
}

void CTracksWnd::PostCommand(TracksCommand command) {
    QM_TRACE("TracksWnd");
    if (m_frame != nullptr) {
        QMetaObject::invokeMethod(
            m_frame, [frame = m_frame, command] { frame->RunTracksCommand(command); },
            Qt::QueuedConnection);
    }
}

void CTracksWnd::PlayCompletionSound(const std::string& soundFile) {
    QM_TRACE("TracksWnd");
    if (soundFile.empty()) {
        // No sound chosen: the system's bell stands in.
        QApplication::beep();
        QM_RETURN(0);
    }
    m_data.PlaySound();
    QM_EXIT(1);
}

void CTracksWnd::OnItemChanged(QTreeWidgetItem* item, int column) {
    QM_TRACE("TracksWnd");
    if (m_filling) {
        QM_RETURN(0);
    }
    const int row = indexOfTopLevelItem(item);
    if (row < 0) {
        QM_RETURN(1);
    }
    if (column == 0) {
        const bool checked = item->checkState(0) == Qt::Checked;
        if (checked != m_list->IsChecked(row)) {
            m_list->SetChecked(row, checked);
        }
        QM_RETURN(2);
    }
    if (column == CTrackList::kTitleColumn || (m_mixed && column == m_list->GetArtistColumn())) {
        // The end of an in-place edit.
        m_list->OnEndEditLabel(row, column, item->text(column).toStdString());
        FillRow(row);
    }
    QM_EXIT(3);
}

void CTracksWnd::OnSelectionChanged() {
    QM_TRACE("TracksWnd");
    if (m_filling) {
        QM_RETURN(0);
    }
    m_filling = true;
    for (int row = 0; row < topLevelItemCount(); ++row) {
        const bool selected = topLevelItem(row)->isSelected();
        if (selected != m_list->IsSelected(row)) {
            m_list->SetSelected(row, selected);
        }
    }
    m_filling = false;
    m_list->SyncFormat();
    if (m_frame != nullptr) {
        m_frame->SyncPlayerSlider();
    }
    QM_EXIT(1);
}

bool CTracksWnd::EditLabel(int row, int column) {
    QM_TRACE("TracksWnd");
    QTreeWidgetItem* item = topLevelItem(row);
    const bool editable =
        item != nullptr && m_list->HasDisc() && !m_list->IsDataRow(row) && !m_data.IsProcessing() &&
        (column == CTrackList::kTitleColumn || (m_mixed && column == m_list->GetArtistColumn()));
    if (!editable) {
        QM_RETURN(0, false);
    }
    editItem(item, column);
    QM_RETURN(1, true);
}

void CTracksWnd::OnDblClickTracks(QTreeWidgetItem* item, int column) {
    QM_TRACE("TracksWnd");
    EditLabel(indexOfTopLevelItem(item), column);
}

void CTracksWnd::contextMenuEvent(QContextMenuEvent* event) {
    QM_TRACE("TracksWnd");
    if (m_frame != nullptr) {
        m_frame->ShowTracksMenu(event->globalPos());
        event->accept();
    }
}

void CTracksWnd::resizeEvent(QResizeEvent* event) {
    QM_TRACE("TracksWnd");
    QTreeWidget::resizeEvent(event);
    PlaceRowProgress();
}

void CTracksWnd::scrollContentsBy(int dx, int dy) {
    QM_TRACE("TracksWnd");
    QTreeWidget::scrollContentsBy(dx, dy);
    PlaceRowProgress();
}

} // namespace qm::ui
