// The playlist settings: whether grabbed tracks go into a playlist, the
// fixed playlist or the name template (both shown without extension), the
// playlist format, and what to do with an existing playlist.
#pragma once

#include "settings/Settings.h"
#include "ui/SettingsBindings.h"
#include "ui/SettingsPage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace qm::ui {

class CPlaylistPage final : public CSettingsPage {
    Q_OBJECT

public:
    explicit CPlaylistPage(QuavermillSettings& settings, QWidget* parent = nullptr);

    void Load() override;
    void Store() override;

    // The entries of the format choice and their extensions.
    enum PlaylistFormat { kM3U = 0, kWPL = 1 };
    static constexpr const char* kBrowseFilter =
        "WinAmp playlists (*.m3u);;Windows Media Player playllists (*.wpl);;"
        "All supoprted playlists (*.m3u *.wpl)";

private:
    void UpdateControls();

    QuavermillSettings& m_settings;
    CFieldBindings<QuavermillSettings> m_bindings;
    QCheckBox* m_add = nullptr;
    QCheckBox* m_specifiedOnly = nullptr;
    QLineEdit* m_specified = nullptr;
    QLineEdit* m_mask = nullptr;
    QComboBox* m_format = nullptr;
    // What Load showed, so that Store rewrites only what was changed.
    QString m_shownSpecified;
    QString m_shownMask;
    int m_shownFormat = kM3U;
};

} // namespace qm::ui
