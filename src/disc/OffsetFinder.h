// Finds a drive's read offset from the disc's AccurateRip answer: reads a
// few sectors around sector 450 of each track as the drive delivers them and
// slides a one-sector window over them, one sample at a time, until its sum
// equals a sector-450 value of the answer. The offset that matches on the
// most tracks wins; the common offsets are tried first, then every one
// within five sectors.
#pragma once

#include <cstdint>
#include <vector>

#include "disc/AccurateRip.h"
#include "disc/CdAccess.h"

namespace qm {

struct OffsetSearch {
    bool found = false;
    int offset = 0;
    int tracksMatched = 0; // tracks whose sector 450 the offset explains
    int tracksTried = 0;   // tracks with a sector 450 and an answer for it
};

// `handle`'s own read offset is set to 0 for the search and left so.
OffsetSearch FindReadOffset(CdHandle* handle, const DiscToc& toc,
                            const std::vector<ArChunk>& chunks);

} // namespace qm
