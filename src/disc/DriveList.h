// The drives the program can read from, in index order: the system's CD
// drives first, then every disc image the user opened and every drive a
// caller added (tests add drives that misbehave on purpose). Each drive has a
// host adapter, target and LUN by which handles and the drive control find it:
// adapter 0 for system drives, 1 for images, 2 for added drives.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "disc/CdDrive.h"

namespace qm {

struct DriveEntry {
    std::shared_ptr<CdDrive> drive;
    std::uint8_t hostAdapter = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
};

class DriveList {
public:
    static constexpr std::uint8_t kSystemAdapter = 0;
    static constexpr std::uint8_t kImageAdapter = 1;
    static constexpr std::uint8_t kAddedAdapter = 2;

    static DriveList& Instance();

    std::vector<DriveEntry> Drives();
    std::shared_ptr<CdDrive> Find(std::uint8_t hostAdapter, std::uint8_t target, std::uint8_t lun);
    // Index of the drive whose device (or image sheet) is `path`; -1 if none.
    int IndexOf(const std::string& path);
    int IndexOf(const std::shared_ptr<CdDrive>& drive);

    // Opens a disc image as a drive and returns its index; an image that is
    // already open keeps its index. CUE sheets, TOC files over audio files
    // and audio files with a sheet of their own become sheet drives; NRG
    // images and TOC files over raw images go to libcdio. -1, with the
    // reason in *error (naming the sheet's line where one is wrong), when
    // the image cannot be read.
    int AddImage(const std::filesystem::path& sheet, std::string* error = nullptr);
    int AddDrive(std::shared_ptr<CdDrive> drive);
    bool Remove(const std::shared_ptr<CdDrive>& drive);

    // Looks for system drives again (a drive plugged in since).
    void Rescan();

private:
    DriveList();
    void ScanLocked();
    int AddLocked(std::shared_ptr<CdDrive> drive, std::uint8_t adapter);
    int IndexLocked(const std::shared_ptr<CdDrive>& drive) const;

    std::mutex m_lock;
    std::vector<DriveEntry> m_system;
    std::vector<DriveEntry> m_opened;
    std::uint16_t m_nextSerial = 0;
};

} // namespace qm
