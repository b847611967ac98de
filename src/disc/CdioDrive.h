// The drives libcdio reaches: a system CD drive, or a disc image (CUE/BIN,
// cdrdao TOC, NRG) that counts as a drive of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "disc/CdDrive.h"

typedef struct _CdIo CdIo_t;

namespace qm {

// What images report as their speed: they read as fast as the file allows.
constexpr int kImageSpeed = 9178; // KB/s, 52 × 176.5

class CdioDrive : public CdDrive {
public:
    static std::shared_ptr<CdioDrive> ForDevice(const std::string& device);
    // nullptr, with the reason in *error, when libcdio cannot open the image.
    static std::shared_ptr<CdioDrive> ForImage(const std::filesystem::path& sheet,
                                               std::string* error);
    ~CdioDrive() override;

    std::string Device() const override { return m_device; }
    bool IsImage() const override { return m_image; }
    bool Open(int readType) override;
    void Close() override;
    std::string Identity() override;
    bool Hardware(DriveHardware& hardware) override;
    bool ReadToc(DiscToc& toc) override;
    std::uint32_t MediaChanges() override;
    DriveStatus ReadAudio(std::int32_t lsn, std::int32_t sectors, std::uint8_t* dest) override;
    DriveStatus SetSpeed(int kbPerSecond) override;
    int GetCurrentSpeed() override;
    int GetMaximalSpeed() override;
    DriveStatus Eject() override;
    DriveStatus PlayAudio(std::int32_t start, std::int32_t end) override;
    DriveStatus PauseAudio() override;
    DriveStatus ResumeAudio() override;
    DriveStatus StopAudio() override;
    DriveStatus ReadPosition(PlayPosition& position) override;

private:
    CdioDrive(std::string device, bool image);
    // Makes a CUE sheet readable for libcdio; false, with the reason, when
    // it cannot be.
    bool StageCue(const std::filesystem::path& sheet, std::string* error);
    bool OpenLocked();
    void CloseLocked();
    bool ReadTocLocked(DiscToc& toc);
    // Asks the drive whether its disc changed since the last asking and, if
    // so, opens it afresh; false when it no longer opens.
    bool FollowMediaLocked();
    // The drive's capabilities page: maximal and current read speed in KB/s.
    bool ReadSpeeds(int* maximal, int* current);

    std::mutex m_lock;
    std::string m_device;
    bool m_image;
    std::filesystem::path m_stage; // private copy of a CUE sheet whose BIN has another name
    std::string m_openPath;        // what libcdio opens when not m_device
    bool m_bigEndian = false;      // the medium stores samples most significant byte first
    int m_readType = 0;
    int m_opens = 0;
    CdIo_t* m_cdio = nullptr;
    std::int32_t m_leadout = 0;
    int m_laterSessionTrack = 0; // a CUE sheet's first track after REM SESSION 02, if any
    std::atomic<std::uint32_t> m_mediaChanges{0};
};

} // namespace qm
