// The AccurateRip database: a disc's ids and the path of its answer, the
// answer's chunks (one per set of submissions), the verdict on a track's
// checksums, and the list of drive read offsets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disc/CdDrive.h"

namespace qm {

struct ArDiscIds {
    int audioTracks = 0;
    std::uint32_t id1 = 0;
    std::uint32_t id2 = 0;
    std::uint32_t cddb = 0;
};

// The ids of a table of contents whose lead-out is the disc's real one (on
// an Enhanced CD, the end of the data session).
ArDiscIds AccurateRipIds(const DiscToc& toc);
// "e/d/2/dBAR-013-001af2de-0105994e-ad0be00d.bin"
std::string AccurateRipPath(const ArDiscIds& ids);
// The answer's address below `server` ("http://www.accuraterip.com").
std::string AccurateRipUrl(const std::string& server, const ArDiscIds& ids);

struct ArEntry {
    std::uint8_t confidence = 0;
    std::uint32_t crc = 0;
    std::uint32_t crc450 = 0;
};

struct ArChunk {
    int tracks = 0;
    std::uint32_t id1 = 0;
    std::uint32_t id2 = 0;
    std::uint32_t cddb = 0;
    std::vector<ArEntry> entries;
};

// Splits an answer into its chunks; nullopt when the bytes are not one.
std::optional<std::vector<ArChunk>> ParseDbar(std::string_view bytes);

// The answer's slot of the track at `position` (1-based among the audio
// tracks); -1 when it has none. On a disc that starts with a data track the
// first slot is the data track's and the last audio track has none.
int ArSlot(const DiscToc& toc, int position);

enum class VerifyStatus { kUnknown, kMatch, kMismatch };

struct ArVerdict {
    VerifyStatus status = VerifyStatus::kUnknown;
    int confidence = 0;  // of the entry that matched
    int version = 0;     // 2 or 1: the sum that matched
    int submissions = 0; // submissions for the track in every chunk
};

// A track matches when its v2 (checked first) or v1 sum equals the entry of
// its slot in any chunk; the best confidence wins. No chunk with an entry
// for the slot: unknown.
ArVerdict MatchAccurateRip(const std::vector<ArChunk>& chunks, int slot, std::uint32_t v1,
                           std::uint32_t v2);
// "Accurately ripped (confidence 5) [v2]", "Not accurately ripped (7
// submissions differ)", "Not in database".
std::string ArVerdictText(const ArVerdict& verdict);

// One record of the drive offset list.
struct DriveOffset {
    std::int16_t offset = 0;
    std::string name; // "VENDOR - MODEL"
    int submissions = 0;
};

std::vector<DriveOffset> ParseDriveOffsets(std::string_view bytes);
// The offset of the drive whose INQUIRY vendor and model are given.
std::optional<DriveOffset> FindDriveOffset(const std::vector<DriveOffset>& list,
                                           const std::string& vendor, const std::string& model);
// The offsets most drives have, most common first, for trying on a disc.
const std::vector<int>& CommonReadOffsets();

} // namespace qm
