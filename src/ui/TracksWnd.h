// The track list window: the rows of the disc in the drive with their check
// boxes, names, times, formats and states, the progress bar over the Status
// cell of the track being grabbed, and in-place editing of titles and
// artists. It owns the track list and the grab job and is their front end;
// what belongs to the whole window (title, main progress, speed text, info
// bar, format combo, notices) it hands on to the main frame.
//
// Threads: everything here runs on the window thread; the job's worker
// never calls the view, and the 200 ms timer polls the job's finish event.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>

#include "jobs/GrabJob.h"
#include "jobs/TrackList.h"
#include "jobs/TracksView.h"

class CData;
class QProgressBar;

namespace qm::ui {

class CMainFrame;

class CTracksWnd : public QTreeWidget, public CTracksView {
    Q_OBJECT

public:
    // Headers and default widths of the columns, by settings index
    // ("Column%dWidth"): N, Track name, Artist, Time, Output format, Status.
    static constexpr int kSettingsColumns = 6;
    static constexpr int kArtistSettingsIndex = 2;
    static constexpr int kMaxColumnWidth = 3000;
    static constexpr int kPollPeriodMs = 200;
    static constexpr int kWakePeriodMs = 20;

    // `frame` receives the window-level calls; null leaves them to this
    // widget alone (the title is then this widget's own).
    CTracksWnd(CData& shared, CMainFrame* frame, QWidget* parent = nullptr);
    ~CTracksWnd() override;

    CTrackList& TrackList() { return *m_list; }
    CGrabJob& Job() { return *m_job; }

    // Stores the widths of the columns shown into the settings.
    void SaveColumnWidth();
    // The settings index of a column of the list as it is now; -1 if none.
    int SettingsIndexOf(int column) const;
    // The rows the user selected, in order.
    std::vector<int> SelectedRows() const;
    QProgressBar* RowProgressBar() const { return m_rowProgress; }
    int RowProgressRow() const { return m_progressRow; }
    bool IsPollTimerActive() const { return m_pollTimer.isActive(); }
    // Opens the in-place editor over a cell as a double click does; false
    // when that cell cannot be edited.
    bool EditLabel(int row, int column);

    // CTracksView
    void ResetRows(int rows, bool checkBoxes) override;
    void SetRowTexts(int row, const TrackRowTexts& texts) override;
    void SetRowFormat(int row, const std::string& text) override;
    void SetRowStatus(int row, const std::string& text) override;
    void SetRowChecked(int row, bool checked) override;
    void SetRowSelected(int row, bool selected) override;
    void ShowRowProgress(int row) override;
    void SetRowProgress(int percent) override;
    void SetMixedCDMode(bool on) override;
    std::string GetTitle() override;
    void SetTitle(const std::string& title) override;
    void SetMainProgressRange(int maximum) override;
    void SetMainProgress(int position) override;
    void SetSpeedText(const std::string& text) override;
    void EnableControls(bool enable) override;
    InfoBarValues GetInfoBar() override;
    void SetInfoBar(const InfoBarValues& values) override;
    void SyncFormatCombo(bool haveDisc, std::optional<OutputFormat> format) override;
    PromptAnswer Ask(CWarningPrompt& prompt) override;
    void ShowError(const std::string& text, const std::string& caption) override;
    void StartPollTimer() override;
    void StopPollTimer() override;
    void UpdateWindowTitle() override;
    void OnMultiDiscEnd() override;
    void PostCommand(TracksCommand command) override;
    void PlayCompletionSound(const std::string& soundFile) override;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // What a row shows, kept so that the columns can be laid out again when
    // the artist column comes or goes.
    struct RowCache {
        TrackRowTexts texts;
        std::string format;
        std::string status;
    };

    void SetupColumns();
    void FillRow(int row);
    void PlaceRowProgress();
    void OnItemChanged(QTreeWidgetItem* item, int column);
    void OnSelectionChanged();
    void OnDblClickTracks(QTreeWidgetItem* item, int column);
    int ColumnWidthFor(int settingsIndex, int defaultWidth) const;

    CData& m_data;
    CMainFrame* m_frame;
    std::unique_ptr<CTrackList> m_list;
    std::unique_ptr<CGrabJob> m_job;
    std::vector<RowCache> m_rows;
    bool m_checkBoxes = false;
    bool m_mixed = false;
    // Set while this widget itself writes into the items.
    bool m_filling = false;
    QProgressBar* m_rowProgress;
    int m_progressRow = -1;
    QTimer m_pollTimer;
    QElapsedTimer m_sincePoll;
    std::string m_ownTitle;
    InfoBarValues m_ownInfo;
};

} // namespace qm::ui
