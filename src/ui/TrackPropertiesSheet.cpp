#include "ui/TrackPropertiesSheet.h"

#include "core/Trace.h"
#include "settings/Settings.h"
#include "ui/CuttingPage.h"
#include "ui/Id3TagPage.h"
#include "ui/SettingsHelp.h"
#include "ui/TrackFormatPage.h"

namespace qm::ui {

namespace {

struct TrackSheetState {
    ApplyNowSettings applyNow;
};

} // namespace

std::unique_ptr<CSettingsSheet> MakeTrackProperties(QWidget* parent,
                                                    const std::vector<TrackRecord*>& tracks,
                                                    const TrackPropertiesOptions& options) {
    QM_TRACE("TrackPropertiesSheet");
    if (tracks.empty()) {
        QM_RETURN(0, nullptr);
    }
    auto state = std::make_shared<TrackSheetState>();
    ReadSettingsStore(
        [&](const qm::SettingsStore& store) { LoadApplyNow(state->applyNow, store); });

    auto sheet = std::make_unique<CSettingsSheet>(QStringLiteral("Properties of track(s)"), parent);
    const std::vector<FormatSettings*> formats = FormatsOf(tracks);
    const std::vector<FormatSettings*> allTracks = FormatsOf(options.allTracks);
    sheet->AddPage(
        new CTrackFormatPage(FormatPageTargets{formats, allTracks, &state->applyNow.Format}));
    sheet->AddPage(new CId3TagPage(QStringLiteral("ID3 tag"), kHelpId3TagTrack,
                                   CId3TagPage::TrackTag(), tracks));
    sheet->AddPage(new CCuttingPage(kHelpCutoffTrack, tracks));
    AddFormatPages(*sheet, formats, allTracks, state->applyNow);

    sheet->SetCommit([state, applied = options.applied] {
        // The tracks live only for this disc; the switches are kept.
        ChangeSettingsStore(
            [&](qm::SettingsStore& store) { SaveApplyNow(state->applyNow, store); });
        if (applied) {
            applied();
        }
    });
    sheet->Keep(state);
    sheet->ShowPage(options.startPage);
    sheet->SetHelp(options.help);
    QM_RETURN(1, sheet);
}

bool ShowTrackProperties(QWidget* parent, const std::vector<TrackRecord*>& tracks,
                         const TrackPropertiesOptions& options) {
    QM_TRACE("TrackPropertiesSheet");
    const std::unique_ptr<CSettingsSheet> sheet = MakeTrackProperties(parent, tracks, options);
    if (!sheet) {
        QM_RETURN(0, false);
    }
    sheet->exec();
    QM_RETURN(1, sheet->Committed());
}

} // namespace qm::ui
