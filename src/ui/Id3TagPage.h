// The tag pages over one or more track records: the switches that say what
// is written into a file's tag, and the tag's text fields. The "Settings"
// sheet shows the switches of the default track ("ID3 tag") and its comment,
// URL and copyright ("Default tag"); "Properties of track(s)" shows both for
// the selected tracks.
#pragma once

#include <vector>

#include "settings/TrackRecord.h"
#include "ui/SettingsBindings.h"
#include "ui/SettingsPage.h"

namespace qm::ui {

class CId3TagPage final : public CSettingsPage {
    Q_OBJECT

public:
    struct Content {
        bool switches = true;            // "EnableTag", "UseCustomTag", "UseAdditionalTag"
        std::vector<const char*> fields; // tag field names, shown in this order
    };
    // The content of each use.
    static Content DefaultTrackSwitches();
    static Content DefaultTrackTag(); // "Comment", "URL", "Copyright"
    static Content TrackTag();        // the switches and every field

    CId3TagPage(const QString& title, int helpTopicId, const Content& content,
                std::vector<TrackRecord*> tracks, QWidget* parent = nullptr);

    void Load() override;
    void Store() override;

private:
    std::vector<TrackRecord*> m_tracks;
    CFieldBindings<TrackRecord> m_bindings;
};

} // namespace qm::ui
