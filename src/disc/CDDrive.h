// Direct control of one drive, chosen by host adapter, target and LUN: eject
// its disc, and play its audio through the drive's own output (pause, resume,
// stop, position). Disc images and drives that cannot do a thing answer
// false; nothing here ever ejects an image.
#pragma once

#include <cstdint>
#include <memory>

#include "disc/CdDrive.h"

class CCDDrive {
public:
    CCDDrive() = default;
    CCDDrive(const CCDDrive&) = delete;
    CCDDrive& operator=(const CCDDrive&) = delete;
    ~CCDDrive();

    // Makes the drive layer ready (libcdio's log handler among other things).
    bool Init();
    bool SelectDrive(std::uint8_t hostAdapter, std::uint8_t target, std::uint8_t lun);
    bool IsSelected() const { return m_drive != nullptr; }
    bool Eject();

    // Plays `track` from `startOffsetSeconds` into it to its end.
    bool PlayTrack(std::int32_t track, std::int32_t startOffsetSeconds);
    // Plays the sectors from `start` up to `end` (exclusive).
    bool PlaySectors(std::int32_t start, std::int32_t end);
    bool StopPlay();
    bool PausePlay();
    bool ResumePlay();
    // The sector the drive is playing; -1 when it cannot say.
    std::int32_t GetPlayPosition();
    std::int32_t GetTrackStart(std::int32_t track);
    std::int32_t GetTrackSize(std::int32_t track);

private:
    bool TrackBounds(std::int32_t track, std::int32_t* start, std::int32_t* end);
    void Release();

    std::shared_ptr<qm::CdDrive> m_drive;
};
