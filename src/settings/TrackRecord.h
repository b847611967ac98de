// What the program keeps per track of the disc: output format settings, the
// tag, the cut settings and the tag switches. The default track, held for
// the whole run, is the record every new track record is copied from; a
// default-constructed record holds its first-run defaults.
#pragma once

#include "output/ID3Tag.h"
#include "settings/FormatSettings.h"

struct TrackRecord {
    FormatSettings format;
    CID3Tag tag;
    bool isDataTrack = false;      // never grabbed
    bool enableTag = true;         // write a tag into the output file
    bool useCustomTag = false;     // the track's own artist/album/year/genre win over the info bar
    bool cutFromTrack = false;     // cut the start and the end of the track
    bool doRipFirst = false;       // grab only the first ripFirst seconds
    double cutFromBegin = 0.0;     // seconds
    double cutFromEnd = 0.0;       // seconds
    double ripFirst = 0.0;         // seconds
    bool useAdditionalTag = false; // keep comment, copyright and URL in the written tag

    bool operator==(const TrackRecord&) const = default;
};
