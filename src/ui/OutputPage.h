// The output settings: the folder everything is written under, the naming
// mask with a button per token and an example of the name it makes, what to
// do when a file exists, and the format new tracks get.
#pragma once

#include "settings/Settings.h"
#include "ui/SettingsBindings.h"
#include "ui/SettingsPage.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace qm::ui {

class COutputPage final : public CSettingsPage {
    Q_OBJECT

public:
    explicit COutputPage(QuavermillSettings& settings, QWidget* parent = nullptr);

    void Load() override;
    // Refuses a mask holding a character a file name may not hold.
    bool Validate() override;
    void Store() override;

private:
    void OnBrowse();
    void UpdateExample();

    QuavermillSettings& m_settings;
    CFieldBindings<QuavermillSettings> m_bindings;
    QLineEdit* m_folder = nullptr;
    QLineEdit* m_mask = nullptr;
    QComboBox* m_format = nullptr;
    QLabel* m_example = nullptr;
};

} // namespace qm::ui
