// Helpers of the main window tests: a session of the program on a disc
// image with a settings file, data folder and output folder of its own, a
// hand that deals with the next modal dialog, and the row texts as the user
// sees them.
#pragma once

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <QString>

#include "settings/Settings.h"
#include "support/DiscImage.h"
#include "support/TempDir.h"

class QWidget;

namespace qm::ui {
class CMainFrame;
class CQuavermillApp;
} // namespace qm::ui

namespace qmtest::mainui {

// One second of disc, in sectors.
inline constexpr std::int32_t kSecond = 75;

// Audio tracks of these lengths in seconds.
std::vector<ImageTrack> Tracks(std::initializer_list<std::int32_t> seconds);

class Session {
public:
    // Writes the settings file the program starts with: output into out/,
    // WAV without the normalizer (bit-exact with the image), named by track
    // and title. `adjust` may change them first.
    explicit Session(const std::function<void(QuavermillSettings&)>& adjust = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::filesystem::path& Dir() const { return m_dir.path(); }
    std::filesystem::path SettingsFile() const { return m_dir / "settings.conf"; }
    std::filesystem::path DataDir() const { return m_dir / "data"; }
    std::filesystem::path OutDir() const { return m_dir / "out"; }

    // A disc image of `tracks` in the session's folder.
    TestImage WriteImage(const std::string& name, const std::vector<ImageTrack>& tracks,
                         std::uint32_t seed = 1) const;
    // Starts the program on `device` (none: the settings choose); null when
    // InitInstance failed.
    std::unique_ptr<qm::ui::CQuavermillApp> Start(const std::string& device = {}) const;

private:
    TempDir m_dir;
};

// Writes the local CDDB entry of the disc the application reads.
void WriteCacheEntry(qm::ui::CQuavermillApp& app, const std::string& artist,
                     const std::string& album, const std::vector<std::string>& titles);

// Calls `handle` with the next modal dialog once it shows (within
// `timeoutMs`); the handler closes it.
void OnNextModal(std::function<void(QWidget*)> handle, int timeoutMs = 20000);

// Waits until no grab runs; false after `timeoutMs`.
bool WaitForGrabEnd(qm::ui::CQuavermillApp& app, int timeoutMs = 120000);

// What the list shows in a cell.
QString CellText(qm::ui::CMainFrame& frame, int row, int column);
bool RowChecked(qm::ui::CMainFrame& frame, int row);
// Checks a row as a click on its box does.
void CheckRow(qm::ui::CMainFrame& frame, int row, bool checked);

} // namespace qmtest::mainui
