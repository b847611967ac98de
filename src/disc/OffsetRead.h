// Reads through a drive's read offset. A drive with offset +N delivers each
// sample N samples late (or early for -N); the corrected stream is
// corrected[i] = raw[i + N], with i counted from sector 0 in samples. So a
// read starts one sector earlier or ends one later than asked and keeps
// the samples between; where the disc has no samples (before sector 0, at
// or after its audio end) it gives digital silence.
#pragma once

#include <cstdint>
#include <vector>

#include "disc/CdDrive.h"

namespace qm {

// `sectors` corrected sectors from `lsn` into `dest`. `end` is the sector
// after the last readable one (0: unknown, nothing past the request is cut).
DriveStatus ReadWithOffset(CdDrive& drive, std::int32_t lsn, std::int32_t sectors,
                           std::int32_t offset, std::int32_t end, std::uint8_t* dest,
                           std::vector<std::uint8_t>& scratch);

} // namespace qm
