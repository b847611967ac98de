// "Properties of track(s)": the per-track pages (format, tag, cutting and one
// page per format) over the selected tracks. A value all of them share is
// shown, one they differ in is blank; OK and Apply write only what was
// changed, into every selected track, and a format page's "Apply changes to
// all tracks" passes those changes on to every track of the disc.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "settings/TrackRecord.h"
#include "ui/SettingsSheet.h"

namespace qm::ui {

// The pages of the sheet, in the order it lists them.
enum TrackPageId : int {
    kTrackFormatPage,
    kTrackTagPage,
    kTrackCuttingPage,
    kTrackWavPage,
    kTrackMp3Page,
    kTrackOggPage,
    kTrackApePage,
    kTrackFlacPage,
    kTrackWmaPage,
};

struct TrackPropertiesOptions {
    TrackPageId startPage = kTrackFormatPage;
    // Every track of the disc, for "Apply changes to all tracks" (empty:
    // the switches reach only the selected tracks).
    std::vector<TrackRecord*> allTracks;
    // Called after each write-back (OK, Apply), e.g. to show the new format
    // descriptions and titles.
    std::function<void()> applied;
    SheetHelp help;
};

// The sheet over `tracks` (which must outlive it), not shown yet; null
// when there are no tracks.
std::unique_ptr<CSettingsSheet> MakeTrackProperties(QWidget* parent,
                                                    const std::vector<TrackRecord*>& tracks,
                                                    const TrackPropertiesOptions& options = {});

// Shows the sheet modally. True when OK or Apply wrote into the tracks. The
// apply-now switches are saved in the settings store.
bool ShowTrackProperties(QWidget* parent, const std::vector<TrackRecord*>& tracks,
                         const TrackPropertiesOptions& options = {});

} // namespace qm::ui
