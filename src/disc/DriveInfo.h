// What the program can tell about a drive: its device and identity, the
// vendor, model and revision its INQUIRY answer names, and the read offset
// the AccurateRip drive list gives for it. A disc image has no hardware and
// needs no offset. The terminal's `drives` and the window's drive
// information show it; finding it opens the drive and may fetch the drive
// list, so it runs off the window's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disc/AccurateRip.h"
#include "disc/CdDrive.h"

namespace qm {

struct DriveInfo {
    std::string device;
    std::string identity;
    bool image = false;
    bool opens = false;       // the drive (or image) could be opened
    bool hasHardware = false; // the drive named its vendor and model
    DriveHardware hardware;
    bool listLoaded = false; // the AccurateRip drive list was at hand
    std::optional<DriveOffset> listed;
};

// Asks the drive itself; an open drive stays open, a closed one is closed again.
DriveInfo DescribeDrive(CdDrive& drive);
// Looks the drive up in the drive list (empty: the list could not be had).
void FindListedOffset(DriveInfo& info, const std::vector<DriveOffset>& list);
// The information as lines of text, with the read offset set in use.
std::string DriveInfoText(const DriveInfo& info, std::int32_t readOffset);

} // namespace qm
