#include "jobs/MusicBrainzLookup.h"

#include "core/Trace.h"
#include "disc/CDRipper.h"
#include "disc/MusicBrainzClient.h"
#include "disc/MusicBrainzDiscId.h"

CMusicBrainzLookup::CMusicBrainzLookup(CCDRipper& ripper, MetadataSettings settings)
    : m_ripper(ripper), m_settings(std::move(settings)) {
    QM_TRACE("MusicBrainzLookup");
}

int CMusicBrainzLookup::Query(bool prepare) {
    QM_TRACE("MusicBrainzLookup");
    m_matches.clear();
    m_lastError.clear();
    if (prepare) {
        m_ripper.PrepareTS();
    }
    if (m_ripper.GetDiscInfo().tracks.empty()) {
        m_lastError = "There is no disc in the drive, or its table of contents is unreadable.";
        QM_RETURN(0, 0);
    }
    m_discId = qm::MusicBrainzDiscId(m_ripper.GetHandle());
    if (m_discId.empty()) {
        m_lastError = "The disc has no audio tracks to look up.";
        QM_RETURN(1, 0);
    }
    CMusicBrainz client(m_settings.MusicBrainzServer);
    std::vector<qm::MbRelease> releases;
    const CMusicBrainz::Status status = client.LookUp(m_discId, &releases);
    m_lastError = client.GetLastError();
    if (status != CMusicBrainz::kOk) {
        QM_RETURN(2, 0);
    }
    m_matches = qm::MbMatches(releases, m_discId,
                              static_cast<std::int32_t>(m_ripper.GetDiscInfo().tracks.size()));
    QM_RETURN(3, static_cast<int>(m_matches.size()));
}

bool CMusicBrainzLookup::Choose(int index) {
    QM_TRACE("MusicBrainzLookup");
    m_picture.clear();
    m_pictureType.clear();
    if (index < 0 || static_cast<std::size_t>(index) >= m_matches.size()) {
        m_lastError = "There is no such match.";
        QM_RETURN(0, false);
    }
    const qm::MbMatch& match = m_matches[static_cast<std::size_t>(index)];
    CMusicBrainz client(m_settings.MusicBrainzServer);
    // Names from an earlier look-up must not mix with this one's.
    DiscInfo disc = m_ripper.GetDiscInfo();
    for (DiscTrackInfo& track : disc.tracks) {
        track.title.clear();
        track.artist.clear();
        track.extt.clear();
    }
    disc.genre.clear();
    if (client.Choose(match, m_discId, &disc) != CMusicBrainz::kOk) {
        m_lastError = client.GetLastError();
        QM_RETURN(1, false);
    }
    m_ripper.GetDiscInfo() = disc;
    m_lastError = client.GetLastError();
    if (m_settings.EmbedCoverArt || !m_settings.SaveCoverArt.empty()) {
        const CMusicBrainz::Status cover =
            client.GetFrontCover(m_settings.CoverArtServer, match.id, &m_picture, &m_pictureType);
        if (cover == CMusicBrainz::kFailed && m_lastError.empty()) {
            m_lastError = client.GetLastError();
        }
    }
    QM_RETURN(2, true);
}

void CMusicBrainzLookup::GivePictureTo(std::vector<TrackRecord>& tracks) const {
    QM_TRACE("MusicBrainzLookup");
    for (TrackRecord& record : tracks) {
        record.tag.SetPicture(m_picture, m_pictureType);
    }
}
