#include "disc/OffsetFinder.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "core/Trace.h"
#include "disc/RipChecksums.h"

namespace qm {

namespace {

// Sectors read on each side of sector 450.
constexpr std::int32_t kReach = 6;
constexpr int kMaxShift = (kReach - 1) * kFramesPerSector;

std::uint32_t Sum450(const std::uint8_t* samples) {
    std::uint32_t sum = 0;
    for (std::uint32_t j = 1; j <= static_cast<std::uint32_t>(kFramesPerSector); ++j) {
        std::uint32_t word = 0;
        std::memcpy(&word, samples + (j - 1) * 4, 4);
        sum += word * j;
    }
    return sum;
}

} // namespace

OffsetSearch FindReadOffset(CdHandle* handle, const DiscToc& toc,
                            const std::vector<ArChunk>& chunks) {
    QM_TRACE("OffsetFinder");
    OffsetSearch search;
    if (handle == nullptr || ModifyCDParms(handle, kCdParamReadOffset, 0) != kCdOk) {
        QM_RETURN(0, search);
    }
    std::vector<int> candidates = CommonReadOffsets();
    for (int shift = 0; shift <= kMaxShift; ++shift) {
        for (int offset : {shift, -shift}) {
            if (std::find(candidates.begin(), candidates.end(), offset) == candidates.end()) {
                candidates.push_back(offset);
            }
        }
    }
    std::vector<int> matches(candidates.size(), 0);
    SectorBufferPtr buffer = NewSectorBuffer(2 * kReach + 1);
    if (!buffer) {
        QM_RETURN(1, search);
    }
    int position = 0;
    for (std::size_t i = 0; i < toc.tracks.size(); ++i) {
        const DiscTocTrack& track = toc.tracks[i];
        if (track.data) {
            continue;
        }
        ++position;
        const std::int32_t end = i + 1 < toc.tracks.size() ? toc.tracks[i + 1].start : toc.leadout;
        const int slot = ArSlot(toc, position);
        std::set<std::uint32_t> wanted;
        for (const ArChunk& chunk : chunks) {
            if (slot >= 0 && static_cast<std::size_t>(slot) < chunk.entries.size() &&
                chunk.entries[static_cast<std::size_t>(slot)].crc450 != 0) {
                wanted.insert(chunk.entries[static_cast<std::size_t>(slot)].crc450);
            }
        }
        const std::int32_t first =
            track.start + static_cast<std::int32_t>(kArOffsetSector) - kReach;
        if (wanted.empty() || first + 2 * kReach + 1 > end) {
            continue;
        }
        buffer->startSector = first;
        buffer->sectorCount = 2 * kReach + 1;
        if (ReadCDAudioLBA(handle, buffer.get()) != kCdOk) {
            continue;
        }
        ++search.tracksTried;
        // Sample 450·588 of the corrected track is raw sample 450·588 + offset.
        const std::uint8_t* middle = buffer->Data() + kReach * kSectorBytes;
        for (std::size_t c = 0; c < candidates.size(); ++c) {
            if (wanted.count(Sum450(middle + candidates[c] * 4)) != 0) {
                ++matches[c];
            }
        }
    }
    const auto best = std::max_element(matches.begin(), matches.end());
    if (best != matches.end() && *best > 0) {
        search.found = true;
        search.offset = candidates[static_cast<std::size_t>(best - matches.begin())];
        search.tracksMatched = *best;
    }
    QM_RETURN(2, search);
}

} // namespace qm
