// The main window's player: the play/stop button, pause, the previous and
// next tracks, the position slider and the time display that timer 99
// updates while a track plays.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include "core/Text.h"
#include "core/Trace.h"
#include "disc/CdDrive.h"
#include "jobs/Data.h"
#include "jobs/TrackList.h"
#include "jobs/WarningPrompt.h"
#include "ui/MainFrame.h"
#include "ui/TracksWnd.h"

namespace qm::ui {

namespace {

constexpr int kPlayerTimerMs = 500;
constexpr int kPlayerTimerDelayMs = 100;
// Ticks without a change of position that mean the track has ended.
constexpr int kEndedTicks = 3;
constexpr int kDiscChangedCountdown = 5;
constexpr int kStatusMessageMs = 8000;
constexpr std::size_t kDisplayWidth = 8;

void ShowTime(QLabel* display, const std::string& text) {
    // Texts longer than the display are not shown.
    if (text.size() <= kDisplayWidth) {
        display->setText(QString::fromStdString(text));
    }
}

} // namespace

void CMainFrame::ConnectPlayer() {
    QM_TRACE("MainFrm");
    connect(Action(ID_PLAYER_PLAY), &QAction::triggered, this, &CMainFrame::OnPlayerPlay);
    connect(Action(ID_PLAYER_PAUSE), &QAction::triggered, this, &CMainFrame::OnPlayerPause);
    connect(Action(ID_PLAYER_NEXT), &QAction::triggered, this, &CMainFrame::OnPlayerNext);
    connect(Action(ID_PLAYER_PREVIOUS), &QAction::triggered, this, &CMainFrame::OnPlayerPrevious);
    for (const int id : {ID_PLAYER_PLAY, ID_PLAYER_PAUSE, ID_PLAYER_PREVIOUS, ID_PLAYER_NEXT}) {
        Action(id)->setEnabled(true);
    }
    m_slider->setEnabled(true);
    connect(m_slider, &QSlider::sliderMoved, this, [this](int value) { OnHScroll(value, false); });
    connect(m_slider, &QSlider::sliderReleased, this,
            [this] { OnHScroll(m_slider->value(), true); });
    // Steps by keys or clicks beside the thumb end at once, as a release.
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        if (m_data.IsPlaying() && !m_slider->isSliderDown()) {
            OnHScroll(value, true);
        }
    });
    m_playerTimer.setTimerType(Qt::CoarseTimer);
    connect(&m_playerTimer, &QTimer::timeout, this, &CMainFrame::OnPlayerTimer);
}

void CMainFrame::ShowPlayerButton(bool playing) {
    QM_TRACE("MainFrm");
    QAction* play = Action(ID_PLAYER_PLAY);
    play->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaStop : QStyle::SP_MediaPlay));
    play->setText(playing ? QStringLiteral("Stop") : QStringLiteral("Play"));
    play->setToolTip(play->text());
}

void CMainFrame::StartPlayerTimer() {
    QM_TRACE("MainFrm");
    m_lastPlayerPosition = -2;
    m_unchangedTicks = 0;
    m_playerTimer.stop();
    QTimer::singleShot(kPlayerTimerDelayMs, this, [this] {
        if (m_data.IsPlaying()) {
            m_playerTimer.start(kPlayerTimerMs);
        }
    });
}

void CMainFrame::StopPlayerTimer() {
    QM_TRACE("MainFrm");
    m_playerTimer.stop();
}

bool CMainFrame::CheckPlayerDisc() {
    QM_TRACE("MainFrm");
    const std::uint32_t id = m_data.GetCDDBID();
    if (id == 0) {
        QApplication::beep();
        QMessageBox::critical(this, QStringLiteral("Error"), QStringLiteral("No disk in drive."));
        QM_RETURN(0, false);
    }
    if (id != m_tracks->TrackList().GetDiscId()) {
        CWarningPrompt prompt("Disk have been changed.\n\r Continue anyway ?",
                              kDiscChangedCountdown);
        if (m_tracks->Ask(prompt) == PromptAnswer::kNo) {
            QM_RETURN(1, false);
        }
    }
    QM_RETURN(2, true);
}

void CMainFrame::OnPlayerPlay() {
    QM_TRACE("MainFrm");
    if (m_data.IsPlaying()) {
        m_data.StopPlay(false);
        ShowPlayerButton(false);
        StopPlayerTimer();
        SyncPlayerSlider();
        QM_RETURN(0);
    }
    if (m_data.IsProcessing() || !CheckPlayerDisc()) {
        QM_RETURN(1);
    }
    const std::vector<int> rows = m_tracks->SelectedRows();
    if (rows.empty()) {
        QM_RETURN(2);
    }
    if (!m_data.Play(rows.front(), m_slider->value())) {
        if (m_data.Settings().player.HowToPlay == 0) {
            statusBar()->showMessage(
                QStringLiteral("The drive cannot play this disc itself (a disc image cannot): "
                               "choose digital playing on the Player settings page."),
                kStatusMessageMs);
        }
        QM_RETURN(3);
    }
    ShowPlayerButton(true);
    StartPlayerTimer();
    QM_EXIT(4);
}

void CMainFrame::OnPlayerPause() {
    QM_TRACE("MainFrm");
    if (!m_data.IsPlaying()) {
        QM_RETURN(0);
    }
    m_data.Pause(!m_data.IsPlayPaused());
    OnPlayerTimer();
    QM_EXIT(1);
}

void CMainFrame::PlayNeighbour(int step) {
    QM_TRACE("MainFrm");
    if (m_data.IsProcessing() || !CheckPlayerDisc()) {
        QM_RETURN(0);
    }
    CTrackList& list = m_tracks->TrackList();
    const std::vector<int> rows = m_tracks->SelectedRows();
    int row = rows.empty() ? (step > 0 ? -1 : list.GetRowCount()) : rows.front();
    do {
        row += step;
    } while (row >= 0 && row < list.GetRowCount() && list.IsDataRow(row));
    if (row < 0 || row >= list.GetRowCount()) {
        QM_RETURN(1);
    }
    const bool playing = m_data.IsPlaying();
    if (playing) {
        m_data.StopPlay(false);
        StopPlayerTimer();
    }
    for (int other = 0; other < list.GetRowCount(); ++other) {
        list.SetSelected(other, other == row);
    }
    {
        const QSignalBlocker block(m_slider);
        m_slider->setValue(0);
    }
    SyncPlayerSlider();
    if (playing) {
        OnPlayerPlay();
    }
    QM_EXIT(2);
}

void CMainFrame::OnPlayerNext() {
    QM_TRACE("MainFrm");
    PlayNeighbour(1);
}

void CMainFrame::OnPlayerPrevious() {
    QM_TRACE("MainFrm");
    PlayNeighbour(-1);
}

void CMainFrame::OnPlayerTimer() {
    QM_TRACE("MainFrm");
    if (!m_data.IsPlaying()) {
        const int at = m_slider->value();
        ShowTime(m_timeDisplay, qm::Format("(%02d:%02d)", at / 60, at % 60));
        QM_RETURN(0);
    }
    if (m_data.IsPlayEnded()) {
        // The player has closed: played out, or it could not play.
        StopPlayerTimer();
        OnProcessEnd();
        QM_RETURN(1);
    }
    const std::int32_t position = m_data.GetPlayerPosition();
    const bool paused = m_data.IsPlayPaused();
    const int seconds = position < 0 ? 0 : position / qm::kSectorsPerSecond;
    ShowTime(m_timeDisplay, qm::Format("%c%02d:%02d%c", paused ? ' ' : '(', seconds / 60,
                                       seconds % 60, paused ? ' ' : ')'));
    if (!m_slider->isSliderDown()) {
        const QSignalBlocker block(m_slider);
        m_slider->setValue(seconds);
    }
    m_unchangedTicks = position == m_lastPlayerPosition && !paused ? m_unchangedTicks + 1 : 0;
    m_lastPlayerPosition = position;
    if (m_unchangedTicks >= kEndedTicks) {
        m_data.StopPlay(false);
        ShowPlayerButton(false);
        SyncPlayerSlider();
        StopPlayerTimer();
        QM_RETURN(2);
    }
    QM_EXIT(3);
}

void CMainFrame::OnHScroll(int seconds, bool released) {
    QM_TRACE("MainFrm");
    if (!released) {
        ShowTime(m_timeDisplay, qm::Format("(%02d:%02d)", seconds / 60, seconds % 60));
    }
    if (m_data.IsPlaying()) {
        m_data.PlayerSeek(seconds);
        m_unchangedTicks = 0;
    }
}

} // namespace qm::ui
