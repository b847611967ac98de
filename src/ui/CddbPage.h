// The CDDB settings: the server and its HTTP path and port, the contact
// e-mail the server is told, the proxy with its credentials, and the local
// CDDB cache; and the picker that fills server, path and port from the list
// of servers the current server knows of (the picker is the caller's).
#pragma once

#include <functional>

#include "disc/CDDBServersList.h"
#include "settings/Settings.h"
#include "ui/SettingsBindings.h"
#include "ui/SettingsPage.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace qm::ui {

// Shows the list of servers the server `shown` names knows of and lets the
// user choose one; true with the choice, false when cancelled or failed.
using ServerPicker = std::function<bool(QWidget* parent, const CDDBSettings& shown,
                                        CCDDBServersList::Choice* choice)>;

class CCddbPage final : public CSettingsPage {
    Q_OBJECT

public:
    // Without a picker the page offers no server list.
    CCddbPage(QuavermillSettings& settings, ServerPicker picker, QWidget* parent = nullptr);

    void Load() override;
    // The ports must be numbers of 1 to 65535 where they are used.
    bool Validate() override;
    void Store() override;

    // The CDDB settings as the page shows them now (for the picker).
    CDDBSettings Shown() const;
    // Opens the server picker; fills server, path and port from its choice.
    void OnServers();

private:
    void UpdateControls();

    QuavermillSettings& m_settings;
    ServerPicker m_picker;
    CFieldBindings<QuavermillSettings> m_bindings;
    QLineEdit* m_server = nullptr;
    QLineEdit* m_path = nullptr;
    QSpinBox* m_port = nullptr;
    QCheckBox* m_useProxy = nullptr;
    QCheckBox* m_systemProxy = nullptr;
    QCheckBox* m_proxyAuth = nullptr;
    QLineEdit* m_proxyServer = nullptr;
    QSpinBox* m_proxyPort = nullptr;
    QLineEdit* m_proxyUser = nullptr;
    QLineEdit* m_proxyPassword = nullptr;
};

} // namespace qm::ui
