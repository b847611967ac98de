#include "jobs/NamesLookup.h"

#include "core/Trace.h"
#include "disc/CDRipper.h"
#include "disc/CddbAccess.h"
#include "jobs/Data.h"
#include "jobs/MusicBrainzLookup.h"
#include "jobs/TrackList.h"

CNamesLookup::CNamesLookup(CCDRipper& ripper, const CDDBSettings& settings)
    : m_ripper(ripper), m_settings(settings),
      m_matches(std::make_unique<CQueryCDDBInfo>(std::span<qm::CddbMatch>())) {
    QM_TRACE("NamesLookup");
}

CNamesLookup::~CNamesLookup() = default;

void CNamesLookup::SetSources(const MetadataSettings& metadata) {
    QM_TRACE("NamesLookup");
    m_metadata = metadata;
}

void CNamesLookup::GivePictureTo(std::vector<TrackRecord>& tracks) const {
    QM_TRACE("NamesLookup");
    if (m_musicBrainz && !m_musicBrainz->GetPicture().empty()) {
        m_musicBrainz->GivePictureTo(tracks);
    }
}

std::int32_t CNamesLookup::Query() {
    QM_TRACE("NamesLookup");
    CCDRipper& ripper = m_ripper;
    const std::int32_t sources = m_metadata.MetadataSources;
    const bool askCddb = sources != kSourcesMusicBrainz;
    std::int32_t count = 0;
    m_reason.clear();
    if (askCddb) {
        count = ripper.QueryCDInfo(&m_settings, true);
        // The client keeps its reason per thread: it is read where the request ran.
        m_reason = qm::CDDBLastError();
    } else {
        ripper.PrepareTS();
    }
    switch (ripper.GetLastCDDBStatus()) {
    case CCDRipper::kCDDBNoDrive:
    case CCDRipper::kCDDBNoTracks:
        m_failure = LookupFailure::kNoDisc;
        m_matches = std::make_unique<CQueryCDDBInfo>(std::span<qm::CddbMatch>());
        QM_RETURN(0, 0);
    case CCDRipper::kCDDBQueryFailed:
        m_failure = LookupFailure::kQueryFailed;
        break;
    default:
        m_failure = LookupFailure::kNoMatch;
        break;
    }
    std::vector<qm::MbMatch> releases;
    m_musicBrainz.reset();
    if (sources != kSourcesCDDB) {
        // After a CDDB query the disc's records are ready, and its matches stay.
        m_musicBrainz = std::make_unique<CMusicBrainzLookup>(ripper, m_metadata);
        m_musicBrainz->Query(!askCddb);
        releases = m_musicBrainz->GetMatches();
        if (count == 0 && releases.empty() && !m_musicBrainz->GetLastError().empty() &&
            m_failure != LookupFailure::kQueryFailed) {
            m_failure = LookupFailure::kQueryFailed;
            m_reason = m_musicBrainz->GetLastError();
        }
    }
    m_matches = std::make_unique<CQueryCDDBInfo>(ripper.GetCDDBMatches(), releases);
    QM_RETURN(1, count + static_cast<std::int32_t>(releases.size()));
}

bool CNamesLookup::Extract(std::int32_t index) {
    QM_TRACE("NamesLookup");
    m_failure = LookupFailure::kEntryFailed;
    if (m_musicBrainz && m_matches->IsMusicBrainz(index)) {
        const bool named = m_musicBrainz->Choose(m_matches->MusicBrainzIndex(index));
        m_reason = m_musicBrainz->GetLastError();
        QM_RETURN(0, named);
    }
    const bool extracted = m_ripper.ExtractCDInfo(index);
    m_reason = qm::CDDBLastError();
    QM_RETURN(1, extracted);
}

bool CNamesLookup::Fetch(CNamesLookupView& view) {
    QM_TRACE("NamesLookup");
    std::int32_t count = 0;
    if (!view.RunRequest("Asking the CDDB server...", [&] { count = Query(); })) {
        QM_RETURN(0, false);
    }
    if (count <= 0) {
        view.ShowFailure(m_failure, m_failure == LookupFailure::kQueryFailed ? m_reason : "");
        QM_RETURN(1, false);
    }
    const std::int32_t chosen = view.Choose(*m_matches);
    if (chosen < 0) {
        QM_RETURN(2, false);
    }
    bool extracted = false;
    if (!view.RunRequest("Reading the CDDB entry...", [&] { extracted = Extract(chosen); })) {
        QM_RETURN(3, false);
    }
    if (!extracted) {
        view.ShowFailure(LookupFailure::kEntryFailed, m_reason);
        QM_RETURN(4, false);
    }
    QM_RETURN(5, true);
}

bool CNamesLookup::Run(CData& data, CTrackList& list, CNamesLookupView& view) {
    QM_TRACE("NamesLookup");
    data.Ripper().SetMixedCDMode(list.IsMixedCDMode());
    CNamesLookup lookup(data.Ripper(), data.Settings().cddb);
    lookup.SetSources(data.Settings().metadata);
    if (!lookup.Fetch(view)) {
        QM_RETURN(0, false);
    }
    lookup.GivePictureTo(data.Tracks());
    Apply(data, list);
    QM_RETURN(1, true);
}

void CNamesLookup::Apply(CData& data, CTrackList& list) {
    QM_TRACE("NamesLookup");
    list.GetCDDBInfo();
    const QuavermillSettings& settings = data.Settings();
    if (settings.cddb.AutoSaveLocalCDDB) {
        data.SaveLocalCDDB();
    }
    list.FollowMixedCD();
}
