// The cut settings of one or more track records: seconds cut from the start
// and the end of a track, or only its first seconds grabbed.
#pragma once

#include <vector>

#include "settings/TrackRecord.h"
#include "ui/SettingsBindings.h"
#include "ui/SettingsPage.h"

class QCheckBox;
class QDoubleSpinBox;

namespace qm::ui {

class CCuttingPage final : public CSettingsPage {
    Q_OBJECT

public:
    // The longest cut, in seconds: longer than any disc.
    static constexpr double kMaxSeconds = 5999.9;

    CCuttingPage(int helpTopicId, std::vector<TrackRecord*> tracks, QWidget* parent = nullptr);

    void Load() override;
    void Store() override;

private:
    void UpdateControls();

    std::vector<TrackRecord*> m_tracks;
    CFieldBindings<TrackRecord> m_bindings;
    QCheckBox* m_cut = nullptr;
    QCheckBox* m_first = nullptr;
    QDoubleSpinBox* m_begin = nullptr;
    QDoubleSpinBox* m_end = nullptr;
    QDoubleSpinBox* m_firstSeconds = nullptr;
};

} // namespace qm::ui
