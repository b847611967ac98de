// Player and normalization: how tracks are played, the sound played when a
// disc is done, and how a grabbed track is brought to its peak level.
#pragma once

#include <string>
#include <vector>

#include "settings/Settings.h"
#include "ui/SettingsBindings.h"
#include "ui/SettingsPage.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace qm::ui {

class CPlayerPage final : public CSettingsPage {
    Q_OBJECT

public:
    // `playbackDevices` label the sound output devices by index
    // ("PlaybackDevice").
    CPlayerPage(QuavermillSettings& settings, const std::vector<std::string>& playbackDevices,
                QWidget* parent = nullptr);

    void Load() override;
    // The window size must be 1 to 65535, the lower level not above the
    // upper one.
    bool Validate() override;
    void Store() override;

    static constexpr int kMaxWindowSize = 65535;
    static constexpr const char* kWindowSizeMessage =
        "Window size should from 1 to 65535. Please correct it";

private:
    void UpdateControls();

    QuavermillSettings& m_settings;
    CFieldBindings<QuavermillSettings> m_bindings;
    QCheckBox* m_normalize = nullptr;
    QCheckBox* m_onlyIf = nullptr;
    QCheckBox* m_useWindow = nullptr;
    QCheckBox* m_enableSound = nullptr;
    QSpinBox* m_minPeak = nullptr;
    QSpinBox* m_maxPeak = nullptr;
    QLineEdit* m_windowSize = nullptr;
    QLineEdit* m_soundFile = nullptr;
};

} // namespace qm::ui
