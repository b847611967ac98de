// The base of the per-format pages: they edit the format settings of one or
// more tracks (or of the default track), and carry the switch "Apply changes
// to all tracks", which passes the changes on to every track of the disc.
#pragma once

#include <vector>

#include "settings/FormatSettings.h"
#include "settings/TrackRecord.h"
#include "ui/SettingsBindings.h"
#include "ui/SettingsPage.h"

class QCheckBox;
class QComboBox;
class QFormLayout;

namespace qm::ui {

struct FormatPageTargets {
    std::vector<FormatSettings*> formats;   // what the page edits
    std::vector<FormatSettings*> allTracks; // what "Apply changes to all tracks" also reaches
    // The switch's state, kept under the format's "ApplyNow_" value; null:
    // the page has no switch.
    bool* applyNow = nullptr;
};

// The format settings of each track.
std::vector<FormatSettings*> FormatsOf(const std::vector<TrackRecord*>& tracks);

class CFormatPage : public CSettingsPage {
    Q_OBJECT

public:
    CFormatPage(const QString& title, int helpTopicId, FormatPageTargets targets,
                QWidget* parent = nullptr);

    void Load() override;
    void Store() override;

protected:
    // The group the page's fields go into.
    QFormLayout* Fields() const { return m_fields; }
    CFieldBindings<FormatSettings>& Bindings() { return m_bindings; }
    // Called at the end of a page's constructor: adds the switch (named
    // `applyNowName`) and shows the records.
    void FinishPage(const char* applyNowName);
    // After Load: lets a page enable its fields by what they show.
    virtual void UpdateControls() {}

    // A choice field of the page, named by its store value.
    QComboBox* AddCombo(const char* name, const QString& label);

private:
    FormatPageTargets m_targets;
    CFieldBindings<FormatSettings> m_bindings;
    QFormLayout* m_fields;
    QCheckBox* m_applyNow = nullptr;
};

} // namespace qm::ui
