// What the MusicBrainz web service (ws/2, XML) says about a disc: the
// releases that hold a disc id, each with its media and their tracks, and how
// the medium of our disc names the album and its tracks. Parsing is apart
// from the network, so that any answer can be read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/DiscInfo.h"

namespace qm {

struct MbTrack {
    std::int32_t position = 0;  // 1.. on the medium; 0 for the pregap's hidden track
    std::string number;         // as printed: "1", "A", "" ...
    std::string title;          // the track's own title, else the recording's
    std::string artist;         // the track's own credit, else the recording's, "" for none
    std::int64_t lengthMs = -1; // the track's length, else the recording's; -1 for none
};

struct MbMedium {
    std::int32_t position = 0;
    std::string title;
    std::string format;
    std::vector<std::string> discIds;
    std::int32_t trackCount = 0; // as the track list says, tracks given or not
    std::vector<MbTrack> tracks; // audio tracks, in order
    bool hasPregap = false;      // a hidden track before track 1
    std::int32_t dataTracks = 0;
};

struct MbRelease {
    std::string id; // the release's MBID
    std::string title;
    std::string artist;   // the release's credit, "" when the answer gives none
    std::string artistId; // the first credited artist's MBID
    std::string date;     // "YYYY", "YYYY-MM" or "YYYY-MM-DD", "" for none
    std::string country;
    std::string barcode;
    std::string label;
    std::string catalog;
    std::vector<MbMedium> media;
};

// A disc-id look-up: the disc the server answered for and the releases.
struct MbDiscAnswer {
    std::string discId;
    std::vector<MbRelease> releases;
};

// One release offered for the disc, as the disc-id answer lists it.
struct MbMatch {
    std::string id;
    std::string title;
    std::string artist; // "" when the answer gives no credit
    std::string date;
    std::string country;
    std::int32_t tracks = 0; // of the medium that holds the disc
    int medium = -1;         // that medium's index in `release.media`
    MbRelease release;       // the release as the disc-id answer gave it
};

// The matches of a disc-id answer for disc `discId` of `trackCount` tracks.
std::vector<MbMatch> MbMatches(const std::vector<MbRelease>& releases, std::string_view discId,
                               std::int32_t trackCount);

// The artist MusicBrainz credits for compilations of many artists.
inline constexpr const char* kMbVariousArtistsId = "89ad4ac3-39f7-470e-963a-56509c546377";

// Parse an answer; false with `error` in words for anything that is not a
// well-formed ws/2 answer of that kind.
bool ParseMbDiscAnswer(std::string_view xml, MbDiscAnswer* answer, std::string* error);
bool ParseMbRelease(std::string_view xml, MbRelease* release, std::string* error);

// The medium of `release` that holds disc `discId`; without one, the only
// medium, or else the first whose track count is `trackCount`; -1 when none
// fits.
int FindMbMedium(const MbRelease& release, std::string_view discId, std::int32_t trackCount);

// Names the disc from medium `medium` of `release`: album (with " (disc N/M)"
// for a release of several media), album artist, year, and per track title
// and artist (a track's artist is kept only where it differs from the album
// artist, as on a mixed disc). Label and catalogue number go into the disc's
// extended data. Tracks the medium lacks keep their names; the track records
// themselves (count, lengths) are left as they are.
void ApplyMbRelease(const MbRelease& release, int medium, DiscInfo* disc);

// A compilation of many artists, whose tracks each name their own.
bool IsVariousArtists(const MbRelease& release);

} // namespace qm
