// Disc-level metadata: what naming, the local CDDB cache, the tag writers and
// the track list read. Filled by a CDDB look-up or the local cache.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DiscTrackInfo {
    std::string title;
    std::string artist;
    std::int32_t length = 0; // seconds
    std::string extt;        // the entry's extended track data (EXTTn)
};

struct DiscInfo {
    std::int32_t year = 0; // 0 or less: no year
    std::string genre;
    std::string artist;
    std::string title;
    std::string extd;                  // the entry's extended disc data, line breaks kept
    std::vector<DiscTrackInfo> tracks; // index 0 = first track of the TOC
    std::int32_t firstTrack = 0;
    std::int32_t lastTrack = 0;
};
