#include "disc/DriveInfo.h"

#include "core/Text.h"
#include "core/Trace.h"

namespace qm {

DriveInfo DescribeDrive(CdDrive& drive) {
    QM_TRACE("DriveInfo");
    DriveInfo info;
    info.device = drive.Device();
    info.image = drive.IsImage();
    info.identity = drive.Identity();
    if (drive.Open(0)) {
        info.opens = true;
        info.hasHardware = !info.image && drive.Hardware(info.hardware);
        drive.Close();
    }
    QM_RETURN(0, info);
}

void FindListedOffset(DriveInfo& info, const std::vector<DriveOffset>& list) {
    QM_TRACE("DriveInfo");
    info.listLoaded = !list.empty();
    info.listed.reset();
    if (info.hasHardware && info.listLoaded) {
        info.listed = FindDriveOffset(list, info.hardware.vendor, info.hardware.model);
    }
}

std::string DriveInfoText(const DriveInfo& info, std::int32_t readOffset) {
    QM_TRACE("DriveInfo");
    std::string text = "Drive: " + info.identity + "\n";
    text += (info.image ? "Image: " : "Device: ") + info.device + "\n";
    if (info.image) {
        text += "A disc image, not a drive: it has no vendor, model or read offset, and its "
                "audio is read as stored.\n";
        text += Format("Read offset in use: %+d samples%s\n", readOffset,
                       readOffset != 0 ? " (an image needs 0)" : "");
        QM_RETURN(0, text);
    }
    if (!info.opens) {
        text += "The drive does not open: no disc, or no permission to read it.\n";
    } else if (!info.hasHardware) {
        text += "The drive does not name its vendor and model.\n";
    } else {
        text += "Vendor: " + info.hardware.vendor + "\n";
        text += "Model: " + info.hardware.model + "\n";
        text += "Revision: " + info.hardware.revision + "\n";
    }
    if (info.listed) {
        text += Format("AccurateRip drive list: read offset %+d samples\n", info.listed->offset);
    } else if (!info.hasHardware) {
        text += "AccurateRip drive list: the drive cannot be looked up\n";
    } else if (!info.listLoaded) {
        text += "AccurateRip drive list: could not be fetched\n";
    } else {
        text += "AccurateRip drive list: not listed (\"quavermill-cli offset --find\" finds the "
                "offset with a disc AccurateRip knows)\n";
    }
    text += Format("Read offset in use: %+d samples", readOffset);
    if (info.listed && info.listed->offset != readOffset) {
        text += Format(" (set it to %+d in Settings > General)", info.listed->offset);
    }
    text += "\n";
    QM_RETURN(1, text);
}

} // namespace qm
