// The MusicBrainz look-up of the disc in the drive, as the window and the
// terminal run it: the disc id of the table of contents, the matches the
// service lists for it, and the names of the chosen one put into the
// ripper's disc information, which the track list takes its names from (as
// a CDDB entry's are). With a match chosen, the front cover is fetched when
// the settings embed or save it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disc/MusicBrainzRelease.h"
#include "settings/Settings.h"

class CCDRipper;

class CMusicBrainzLookup {
public:
    CMusicBrainzLookup(CCDRipper& ripper, MetadataSettings settings);

    // Asks the service for the disc in the drive: the number of matches; 0
    // when there is none (GetLastError says why, "" for a disc the service
    // does not know). With `prepare` the disc's names are emptied and its
    // records rebuilt first (without, a CDDB query has just done so, and its
    // matches stay).
    int Query(bool prepare = true);
    const std::string& GetDiscId() const { return m_discId; }
    const std::vector<qm::MbMatch>& GetMatches() const { return m_matches; }

    // Names the disc from match `index` (0-based), then fetches its front
    // cover when the settings embed or save it. False for a match that is
    // not there or names no medium of this disc; a detail that could not be
    // fetched is noted in GetLastError and the match used as listed.
    bool Choose(int index);
    const std::string& GetLastError() const { return m_lastError; }

    // The chosen release's front cover ("" when none was fetched), and the
    // same given to every track's tag.
    const std::string& GetPicture() const { return m_picture; }
    const std::string& GetPictureType() const { return m_pictureType; }
    void GivePictureTo(std::vector<TrackRecord>& tracks) const;

private:
    CCDRipper& m_ripper;
    MetadataSettings m_settings;
    std::string m_discId;
    std::vector<qm::MbMatch> m_matches;
    std::string m_lastError;
    std::string m_picture;
    std::string m_pictureType;
};
