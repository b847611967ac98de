// The MusicBrainz disc id of a disc, computed by libdiscid from the table of
// contents, and the codes libdiscid reads from a real drive (MCN, ISRCs).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disc/CdAccess.h"
#include "disc/CdDrive.h"

namespace qm {

// From the table as the service counts it: first and last audio track, the
// lead-out and each track's start, all as sector + 150. "" when libdiscid
// refuses the table.
std::string MusicBrainzDiscId(int first, int last, std::int32_t leadout,
                              const std::vector<std::int32_t>& offsets);

// Of a table of contents: its first session's audio tracks. A data track
// after the audio (an Enhanced CD) is left out, and the audio then ends
// 11400 sectors before it, where its session's lead-out was.
std::string MusicBrainzDiscId(const DiscToc& toc);

// Of the disc in the drive behind `handle`; "" without a table.
std::string MusicBrainzDiscId(CdHandle* handle);

// The media catalogue number and the tracks' ISRCs that a real drive
// reports ("" where it reports none). False for a disc image or a drive that
// cannot be read.
bool ReadDiscCodes(const std::string& device, std::string* mcn, std::vector<std::string>* isrcs);

} // namespace qm
