// The CUETools database: the table-of-contents string a look-up sends, the
// entries of its answer, and the verdict on a track's CRC.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disc/AccurateRip.h"
#include "disc/CdDrive.h"

namespace qm {

// "0:16032:32072:47282:62810": every track's start, "-" before a data
// track's, then the lead-out.
std::string CtdbTocString(const DiscToc& toc);
// The look-up's address below `server` ("http://db.cuetools.net").
std::string CtdbLookupUrl(const std::string& server, const DiscToc& toc);

struct CtdbEntry {
    std::string id;
    std::uint32_t crc32 = 0;
    int confidence = 0;
    std::vector<std::uint32_t> trackCrcs;
    std::string toc;
};

// The entries of an answer (none: the disc is not in the database);
// nullopt when the text is no answer.
std::optional<std::vector<CtdbEntry>> ParseCtdb(std::string_view xml);

struct CtdbVerdict {
    VerifyStatus status = VerifyStatus::kUnknown;
    int confidence = 0;  // of the entry that matched
    int submissions = 0; // every entry's confidence
};

// The track at `position` (1-based among the audio tracks) with `crc`.
CtdbVerdict MatchCtdb(const std::vector<CtdbEntry>& entries, int position, std::uint32_t crc);
// The whole disc's CRC.
CtdbVerdict MatchCtdbDisc(const std::vector<CtdbEntry>& entries, std::uint32_t crc);
// "verified (confidence 4)", "differs (9 submissions)", "not in database".
std::string CtdbVerdictText(const CtdbVerdict& verdict);

} // namespace qm
