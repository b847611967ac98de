#include "disc/CDDrive.h"

#include "core/Trace.h"
#include "disc/CDRipper.h"
#include "disc/CdioLog.h"
#include "disc/DriveList.h"

CCDDrive::~CCDDrive() {
    QM_TRACE("CDDrive");
    Release();
}

void CCDDrive::Release() {
    QM_TRACE("CDDrive");
    if (m_drive) {
        m_drive->Close();
        m_drive.reset();
    }
}

bool CCDDrive::Init() {
    QM_TRACE("CDDrive");
    qm::InstallCdioLogHandler();
    qm::DriveList::Instance();
    return true;
}

bool CCDDrive::SelectDrive(std::uint8_t hostAdapter, std::uint8_t target, std::uint8_t lun) {
    QM_TRACE("CDDrive");
    Release();
    auto drive = qm::DriveList::Instance().Find(hostAdapter, target, lun);
    if (!drive || !drive->Open(0)) {
        QM_RETURN(0, false);
    }
    m_drive = std::move(drive);
    QM_RETURN(1, true);
}

bool CCDDrive::Eject() {
    QM_TRACE("CDDrive");
    if (!m_drive) {
        QM_RETURN(0, false);
    }
    QM_RETURN(1, m_drive->Eject() == qm::DriveStatus::kOk);
}

bool CCDDrive::TrackBounds(std::int32_t track, std::int32_t* start, std::int32_t* end) {
    QM_TRACE("CDDrive");
    qm::DiscToc toc;
    if (!m_drive || !m_drive->ReadToc(toc) || track < toc.firstTrack || track > toc.lastTrack) {
        QM_RETURN(0, false);
    }
    const auto index = static_cast<std::size_t>(track - toc.firstTrack);
    *start = toc.tracks[index].start;
    if (index + 1 < toc.tracks.size()) {
        *end = toc.tracks[index + 1].start;
        // Up to the audio part's end when a data session follows.
        if (toc.tracks[index + 1].data && !toc.tracks[index].data &&
            qm::SessionBreakBefore(toc, index + 1)) {
            *end -= CCDRipper::kDataTrackGap;
        }
    } else {
        *end = toc.leadout;
    }
    QM_RETURN(1, *end > *start);
}

bool CCDDrive::PlayTrack(std::int32_t track, std::int32_t startOffsetSeconds) {
    QM_TRACE("CDDrive");
    std::int32_t start = 0;
    std::int32_t end = 0;
    if (!TrackBounds(track, &start, &end)) {
        QM_RETURN(0, false);
    }
    if (startOffsetSeconds > 0 &&
        static_cast<std::int64_t>(startOffsetSeconds) * qm::kSectorsPerSecond < end - start) {
        start += startOffsetSeconds * qm::kSectorsPerSecond;
    }
    QM_RETURN(1, PlaySectors(start, end));
}

bool CCDDrive::PlaySectors(std::int32_t start, std::int32_t end) {
    QM_TRACE("CDDrive");
    if (!m_drive) {
        QM_RETURN(0, false);
    }
    QM_RETURN(1, m_drive->PlayAudio(start, end) == qm::DriveStatus::kOk);
}

bool CCDDrive::StopPlay() {
    QM_TRACE("CDDrive");
    if (!m_drive) {
        QM_RETURN(0, false);
    }
    QM_RETURN(1, m_drive->StopAudio() == qm::DriveStatus::kOk);
}

bool CCDDrive::PausePlay() {
    QM_TRACE("CDDrive");
    if (!m_drive) {
        QM_RETURN(0, false);
    }
    QM_RETURN(1, m_drive->PauseAudio() == qm::DriveStatus::kOk);
}

bool CCDDrive::ResumePlay() {
    QM_TRACE("CDDrive");
    if (!m_drive) {
        QM_RETURN(0, false);
    }
    QM_RETURN(1, m_drive->ResumeAudio() == qm::DriveStatus::kOk);
}

std::int32_t CCDDrive::GetPlayPosition() {
    QM_TRACE("CDDrive");
    qm::PlayPosition position;
    if (!m_drive || m_drive->ReadPosition(position) != qm::DriveStatus::kOk) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, position.absolute);
}

std::int32_t CCDDrive::GetTrackStart(std::int32_t track) {
    QM_TRACE("CDDrive");
    std::int32_t start = 0;
    std::int32_t end = 0;
    if (!TrackBounds(track, &start, &end)) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, start);
}

std::int32_t CCDDrive::GetTrackSize(std::int32_t track) {
    QM_TRACE("CDDrive");
    std::int32_t start = 0;
    std::int32_t end = 0;
    if (!TrackBounds(track, &start, &end)) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, end - start);
}
