// The shared data's play control: digital playing through the ripper and
// the player, analog playing through the drive, and the completion sound.
#include <algorithm>
#include <chrono>
#include <thread>

#include "core/Diagnostics.h"
#include "core/Error.h"
#include "core/Progress.h"
#include "core/Trace.h"
#include "jobs/Data.h"
#include "jobs/TrackList.h"

namespace {

constexpr const char* kPlayingStatus = "Playing ...";

} // namespace

CData::~CData() {
    QM_TRACE("Data");
    StopPlay(false);
    m_sound.Stop();
}

bool CData::Play(std::int32_t listIndex, std::int32_t startOffset) {
    QM_TRACE("Data");
    if (m_playing.load() && !m_playEnded.load()) {
        QM_RETURN(0, true);
    }
    // The last track has been played out: that run ends here.
    StopPlay(false);
    if (IsProcessing() || listIndex < 0) {
        QM_RETURN(1, false);
    }
    // The row's track: the disc's first track number plus the row.
    std::int32_t first = -1;
    std::int32_t last = -1;
    if (!m_ripper.GetTrackRange(&first, &last)) {
        QM_RETURN(2, false);
    }
    const std::int32_t track = first + listIndex;
    if (track > last || m_ripper.IsDataTrack(track)) {
        QM_RETURN(3, false);
    }
    const std::int32_t start = m_ripper.GetStartSector(track);
    std::int32_t end = m_ripper.GetEndSector(track);
    // A data session after the audio part starts after its gap.
    if (track < last && m_ripper.IsDataTrack(track + 1)) {
        end -= CCDRipper::kDataTrackGap;
    }
    if (start < 0 || end <= start) {
        QM_RETURN(4, false);
    }
    m_playStart.store(start);
    m_playEnd.store(end);
    m_playTrack.store(track);
    m_playRow = listIndex;
    m_playSavedStatus = m_playList != nullptr ? m_playList->GetStatus(listIndex) : std::string();
    m_playDigital = m_settings.player.HowToPlay != 0;

    if (m_playDigital) {
        if (m_settings.player.PlaybackDevice < 0) {
            QM_RETURN(5, false);
        }
        g_Error.ResetAll();
        m_ripper.SetCutEnabled(false);
        m_player.SetDeviceId(m_settings.player.PlaybackDevice);
        m_player.SetPlaying(true);
        m_player.SetStartTime(std::max(startOffset, 0));
        m_ripper.SetPlayMode(true, startOffset);
        m_ripper.SetSendFormat(true);
        if (!m_playFinish) {
            m_playFinish = qm::Event::Create(false);
        }
        m_playFinish->Reset();
        m_playEnded.store(false);
        m_playThread = std::thread(&CData::PlayProc, this);
    } else {
        std::uint8_t hostAdapter = 0;
        std::uint8_t target = 0;
        std::uint8_t lun = 0;
        // A disc image cannot play itself: nothing starts.
        if (!m_ripper.GetHaTgtLun(&hostAdapter, &target, &lun) ||
            !m_driveControl.SelectDrive(hostAdapter, target, lun) ||
            !m_driveControl.PlayTrack(track, startOffset)) {
            m_playTrack.store(-1);
            QM_RETURN(6, false);
        }
        m_playEnded.store(false);
    }
    m_playing.store(true);
    m_paused.store(false);
    if (m_playList != nullptr) {
        m_playList->SetStatus(listIndex, kPlayingStatus);
    }
    QM_RETURN(7, true);
}

void CData::PlayProc() {
    QM_TRACE("Data");
    g_Progress.Clear();
    m_ripper.InitProgress(nullptr);
    if (m_ripper.ProcessSettings(m_playTrack.load(), &m_player, true)) {
        m_ripper.SetError(&g_Error);
        m_player.SetError(&g_Error);
        m_player.SetFinishEvent(m_playFinish);
        m_player.SetSeekEvent(m_ripper.GetSeekEvent());
        m_ripper.Start();
    } else {
        m_playFinish->Set();
    }
    // The ripper grabs as it did before playing.
    m_ripper.SetPlayMode(false, 0);
    m_playEnded.store(true);
}

bool CData::StopPlay(bool keepDrivePlaying) {
    QM_TRACE("Data");
    if (m_playing.exchange(false)) {
        if (m_playDigital) {
            // Until the worker has seen it: a ripper that is only starting
            // clears its terminate event once more before it reads.
            while (!m_playEnded.load()) {
                m_ripper.Terminate();
                // Ends a play-out of the last blocks at once.
                m_player.Stop();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        } else if (!keepDrivePlaying) {
            m_driveControl.StopPlay();
        }
        if (m_playList != nullptr && m_playRow >= 0 && m_playRow < m_playList->GetRowCount()) {
            m_playList->SetStatus(m_playRow, m_playSavedStatus);
        }
        m_playTrack.store(-1);
        m_paused.store(false);
    }
    if (m_playThread.joinable()) {
        m_playThread.join();
        m_player.Close(true);
    }
    QM_RETURN(0, !m_playing.load());
}

std::int32_t CData::GetPlayerPosition() {
    QM_TRACE("Data");
    if (!m_playing.load()) {
        QM_RETURN(0, -1);
    }
    if (m_playDigital) {
        if (!m_ripper.IsReading()) {
            QM_RETURN(1, -1);
        }
        QM_RETURN(2, m_ripper.GetCurrentSector() - m_playStart.load());
    }
    const std::int32_t sector = m_driveControl.GetPlayPosition();
    QM_RETURN(3, sector < 0 ? -1 : sector - m_playStart.load());
}

bool CData::PlayerSeek(std::int32_t seconds) {
    QM_TRACE("Data");
    if (!m_playing.load() || seconds < 0) {
        QM_RETURN(0, false);
    }
    const std::int64_t target =
        static_cast<std::int64_t>(seconds) * qm::kSectorsPerSecond + m_playStart.load();
    const std::int32_t end = m_playEnd.load();
    if (target >= end) {
        QM_RETURN(1, false);
    }
    const auto to = static_cast<std::int32_t>(target);
    if (m_playDigital) {
        // The seek and the drop of what is queued are one step for the
        // player's writer, so no block of the old place follows the new one.
        if (!m_player.ResetTime(seconds, [this, to, end] { return m_ripper.Seek(to, end); })) {
            QM_RETURN(2, false);
        }
        if (m_paused.load()) {
            m_player.Pause(true);
        }
        QM_RETURN(3, true);
    }
    if (!m_driveControl.PlaySectors(to, end)) {
        QM_RETURN(4, false);
    }
    m_paused.store(false);
    QM_RETURN(5, true);
}

bool CData::Pause(bool on) {
    QM_TRACE("Data");
    if (!m_playing.load()) {
        QM_RETURN(0, false);
    }
    if (m_playDigital) {
        if (!m_ripper.IsReading()) {
            QM_RETURN(1, false);
        }
        // The ripper waits between blocks, and the device stops at once
        // instead of playing out what it holds.
        if (on) {
            m_ripper.GetPauseEvent()->Reset();
        } else {
            m_ripper.GetPauseEvent()->Set();
        }
        m_player.Pause(on);
    } else if (!(on ? m_driveControl.PausePlay() : m_driveControl.ResumePlay())) {
        QM_RETURN(2, false);
    }
    m_paused.store(on);
    QM_RETURN(3, true);
}

void CData::PlaySound() {
    QM_TRACE("Data");
    if (!m_settings.player.EnableSound || m_settings.player.SoundFile.empty()) {
        QM_RETURN(0);
    }
    m_sound.Play(m_settings.player.SoundFile);
    QM_EXIT(1);
}
