// The general settings: the drive and how it is read, what a refresh and a
// grab do besides grabbing, and mixed (various-artists) discs.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "ui/SettingsBindings.h"
#include "ui/SettingsPage.h"

class QComboBox;

namespace qm::ui {

class CGeneralPage final : public CSettingsPage {
    Q_OBJECT

public:
    // `driveNames` label the drives by index ("CD-Drive"); drives beyond
    // them, up to settings.drive.driveCount, are shown by number.
    CGeneralPage(QuavermillSettings& settings, const std::vector<std::string>& driveNames,
                 QWidget* parent = nullptr);

    void Load() override;
    void Store() override;

private:
    void ShowReadMethod(int drive);
    void KeepReadMethod(int drive);

    QuavermillSettings& m_settings;
    CFieldBindings<QuavermillSettings> m_bindings;
    QComboBox* m_drive = nullptr;
    QComboBox* m_readMethod = nullptr;
    // The read method of every drive as edited; the combo shows m_shownDrive's.
    std::array<std::int32_t, kMaxDrives> m_readMethods{};
    int m_shownDrive = -1;
};

} // namespace qm::ui
