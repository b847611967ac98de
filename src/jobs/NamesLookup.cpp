#include "jobs/NamesLookup.h"

#include "core/Trace.h"
#include "disc/CDRipper.h"
#include "disc/CddbAccess.h"
#include "jobs/Data.h"
#include "jobs/TrackList.h"

CNamesLookup::CNamesLookup(CCDRipper& ripper, const CDDBSettings& settings)
    : m_ripper(ripper), m_settings(settings),
      m_matches(std::make_unique<CQueryCDDBInfo>(std::span<qm::CddbMatch>())) {
    QM_TRACE("NamesLookup");
}

std::int32_t CNamesLookup::Query() {
    QM_TRACE("NamesLookup");
    CCDRipper& ripper = m_ripper;
    const std::int32_t count = ripper.QueryCDInfo(&m_settings, true);
    // The client keeps its reason per thread: it is read where the request ran.
    m_reason = qm::CDDBLastError();
    switch (ripper.GetLastCDDBStatus()) {
    case CCDRipper::kCDDBNoDrive:
    case CCDRipper::kCDDBNoTracks:
        m_failure = LookupFailure::kNoDisc;
        break;
    case CCDRipper::kCDDBQueryFailed:
        m_failure = LookupFailure::kQueryFailed;
        break;
    default:
        m_failure = LookupFailure::kNoMatch;
        break;
    }
    m_matches = std::make_unique<CQueryCDDBInfo>(ripper.GetCDDBMatches());
    QM_RETURN(0, count);
}

bool CNamesLookup::Extract(std::int32_t index) {
    QM_TRACE("NamesLookup");
    const bool extracted = m_ripper.ExtractCDInfo(index);
    m_reason = qm::CDDBLastError();
    m_failure = LookupFailure::kEntryFailed;
    QM_RETURN(0, extracted);
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
    if (!lookup.Fetch(view)) {
        QM_RETURN(0, false);
    }
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
