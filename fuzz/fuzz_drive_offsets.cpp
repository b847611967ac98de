// The drive offset list (DriveOffsets.bin, from the data folder or the
// server): its records, and a drive looked up in them as the drives command
// looks one up.
#include "FuzzSupport.h"
#include "disc/AccurateRip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto list = qm::ParseDriveOffsets(qmfuzz::AsText(data, size));
    (void)qm::FindDriveOffset(list, "PLEXTOR", "DVDR   PX-760A");
    (void)qm::FindDriveOffset(list, "", "CDDVDW SH-224DB");
    if (!list.empty()) {
        (void)qm::FindDriveOffset(list, "", list.back().name);
    }
    return 0;
}
