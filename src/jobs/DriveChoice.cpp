#include "jobs/DriveChoice.h"

#include "core/Trace.h"
#include "disc/CDRipper.h"
#include "settings/Settings.h"

std::int32_t ChooseDrive(CCDRipper& ripper, const QuavermillSettings& settings,
                         std::int32_t requested) {
    QM_TRACE("DriveChoice");
    const std::int32_t count = ripper.GetCDNumber();
    if (count <= 0) {
        QM_RETURN(0, -1);
    }
    if (requested >= 0) {
        // Named by the user: opened as it is, or refused when it is not there.
        QM_RETURN(1, requested);
    }
    std::int32_t index = settings.drive.CDDrive;
    if (settings.drive.AutoDetectCD) {
        const std::int32_t found = ripper.AutoDetect();
        if (found >= 0) {
            index = found;
        }
    }
    if (index < 0 || index >= count) {
        index = 0;
    }
    QM_RETURN(2, index);
}

bool AttachChosenDrive(CCDRipper& ripper, QuavermillSettings& settings, std::int32_t index) {
    QM_TRACE("DriveChoice");
    ripper.Detach();
    settings.drive.CDDrive = index;
    const std::int32_t readType = index >= 0 && index < kMaxDrives
                                      ? settings.drive.ReadMethod[static_cast<std::size_t>(index)]
                                      : 0;
    QM_RETURN(0, ripper.Attach(index, readType));
}
