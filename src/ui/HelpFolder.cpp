#include "ui/HelpFolder.h"

#include <array>
#include <system_error>

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include "core/Trace.h"

namespace qm::ui {

namespace {

bool HoldsHelp(const std::filesystem::path& folder) {
    std::error_code error;
    return !folder.empty() && std::filesystem::is_regular_file(folder / "summary.htm", error);
}

} // namespace

std::filesystem::path InstalledHelpFolder(const std::filesystem::path& program) {
    QM_TRACE("Quavermill");
    std::filesystem::path folder =
        program.parent_path().parent_path() / "share" / "quavermill" / "help";
    if (!HoldsHelp(folder)) {
        QM_RETURN(0, std::filesystem::path());
    }
    QM_RETURN(1, folder);
}

std::filesystem::path HelpFolder() {
    QM_TRACE("Quavermill");
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        std::filesystem::path installed = InstalledHelpFolder(program);
        if (!installed.empty()) {
            QM_RETURN(0, installed);
        }
    }
#ifdef QM_SOURCE_HELP_DIR
    if (HoldsHelp(QM_SOURCE_HELP_DIR)) {
        QM_RETURN(1, std::filesystem::path(QM_SOURCE_HELP_DIR));
    }
#endif
#ifdef QM_INSTALLED_HELP_DIR
    if (HoldsHelp(QM_INSTALLED_HELP_DIR)) {
        QM_RETURN(2, std::filesystem::path(QM_INSTALLED_HELP_DIR));
    }
#endif
    QM_RETURN(3, std::filesystem::path());
}

std::string HelpTopicFile(int helpTopicId) {
    QM_TRACE("Quavermill");
    static constexpr std::array<const char*, 16> kTopics = {
        "summary",         "summary",         "mp3_settings",      "wma_settings",
        "ogg_settings",    "track_format",    "id3tag_track",      "general_settings",
        "output_settings", "id3tag_settings", "playlist_settings", "cddb_settings",
        "cutoff_settings", "cutoff_track",    "player_settings",   "ape_settings"};
    const char* topic = "summary";
    if (helpTopicId >= 0 && helpTopicId < static_cast<int>(kTopics.size())) {
        topic = kTopics[static_cast<std::size_t>(helpTopicId)];
    }
    QM_RETURN(0, std::string(topic) + ".htm");
}

bool OpenHelpTopic(int helpTopicId) {
    QM_TRACE("Quavermill");
    const std::filesystem::path folder = HelpFolder();
    if (folder.empty()) {
        QM_RETURN(0, false);
    }
    const std::filesystem::path page = folder / HelpTopicFile(helpTopicId);
    QM_RETURN(
        1, QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(page.string()))));
}

} // namespace qm::ui
