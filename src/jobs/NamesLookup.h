// Naming the disc from a look-up, the same from every front end: ask for
// the matches, let the user (or the only match) choose one, fetch the
// chosen entry into the ripper's disc information, and hand the names to
// the track list, the local cache and the mixed-CD mode.
//
// The requests block their caller's thread; a front end that must stay
// responsive runs them on a worker through CNamesLookupView::RunRequest.
// Meanwhile nothing else may use the ripper.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "disc/QueryCDDBInfo.h"

class CCDRipper;
class CData;
class CTrackList;
struct CDDBSettings;

// Why a look-up gave no names.
enum class LookupFailure {
    kNoDisc,      // no disc, or its table of contents is unreadable
    kQueryFailed, // the server could not be asked, or refused
    kNoMatch,     // the server knows no such disc
    kEntryFailed, // the chosen entry could not be read
};

// What the look-up needs of its front end.
class CNamesLookupView {
public:
    CNamesLookupView() = default;
    CNamesLookupView(const CNamesLookupView&) = delete;
    CNamesLookupView& operator=(const CNamesLookupView&) = delete;
    virtual ~CNamesLookupView() = default;

    // Runs `work`, a blocking request described by `text`; false when the
    // user gave up waiting (what `work` found is then ignored).
    virtual bool RunRequest(const std::string& text, const std::function<void()>& work) = 0;
    // The match to take: an index into `matches`' rows, or -1 for none.
    // The chooser corrects the titles (CQueryCDDBInfo::Init) before it
    // shows or takes one.
    virtual std::int32_t Choose(CQueryCDDBInfo& matches) = 0;
    // Tells the user why there are no names; `reason` is the client's own
    // text ("" when it has none).
    virtual void ShowFailure(LookupFailure failure, const std::string& reason) = 0;
};

class CNamesLookup {
public:
    // The look-up asks the server `settings` name for the disc `ripper` is
    // attached to; the names end up in the ripper's disc information.
    CNamesLookup(CCDRipper& ripper, const CDDBSettings& settings);

    // The look-up up to the choice, in the caller's thread: the number of
    // matches (0: GetFailure says why). Track titles "artist / title" are
    // split as the ripper's mixed-CD mode says.
    std::int32_t Query();
    // The matches of the last Query, as the chooser gets them.
    CQueryCDDBInfo& Matches() { return *m_matches; }
    // Fetches match `index` into the disc information.
    bool Extract(std::int32_t index);
    LookupFailure GetFailure() const { return m_failure; }
    const std::string& GetReason() const { return m_reason; }

    // Query, choose, extract: true when the chosen match's names are the
    // ripper's disc information. A failure was shown; a cancelled wait or
    // choice says nothing.
    bool Fetch(CNamesLookupView& view);
    // The whole flow for the list's disc: Fetch in the list's mixed-CD mode,
    // then Apply. True when the disc got names.
    static bool Run(CData& data, CTrackList& list, CNamesLookupView& view);
    // After a match was extracted: the track list takes the names, the local
    // cache keeps them ("AutoSaveLocalCDDB") and the mixed-CD mode follows
    // them ("AutoDetectMixedCD").
    static void Apply(CData& data, CTrackList& list);

private:
    CCDRipper& m_ripper;
    const CDDBSettings& m_settings;
    std::unique_ptr<CQueryCDDBInfo> m_matches;
    LookupFailure m_failure = LookupFailure::kNoMatch;
    std::string m_reason;
};
