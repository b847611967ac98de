// The "Settings" sheet: every settings page in one dialog, over a copy of
// the settings of the run. OK and Apply check the page shown, write the
// changed values back into the settings (and, where a format page says
// "Apply changes to all tracks", into the tracks of the disc) and save them;
// Cancel changes nothing.
//
// CSettingsSheet is the dialog both this sheet and "Properties of track(s)"
// are made of: a list of pages beside the page shown, OK, Cancel, Apply and
// Help.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QDialog>

#include "settings/Settings.h"
#include "ui/CddbPage.h"

class QDialogButtonBox;
class QListWidget;
class QStackedWidget;

namespace qm::ui {

class CSettingsPage;

// The help of a sheet: `help` opens a topic (Help button, F1; without it
// the sheet has no Help button); `topicChanged` follows the page shown, and
// gets kHelpSummary when the sheet closes.
struct SheetHelp {
    std::function<void(int helpTopicId)> help;
    std::function<void(int helpTopicId)> topicChanged;
};

class CSettingsSheet : public QDialog {
    Q_OBJECT

public:
    CSettingsSheet(const QString& caption, QWidget* parent = nullptr);
    ~CSettingsSheet() override;

    void AddPage(CSettingsPage* page);
    int PageCount() const;
    CSettingsPage* Page(int index) const;
    CSettingsPage* CurrentPage() const;
    // Shows a page; false when the page shown refuses to be left.
    bool ShowPage(int index);

    // What OK and Apply do once every page has stored its values (write
    // back, save); the pages are then shown again from their records.
    void SetCommit(std::function<void()> commit) { m_commit = std::move(commit); }
    // Also reports the topic of the page shown.
    void SetHelp(SheetHelp help);
    // Anything to hold for as long as the pages live (their records).
    void Keep(std::shared_ptr<void> state) { m_state = std::move(state); }

    // Checks the page shown, stores every page and commits; false when the
    // page refused.
    bool Apply();
    // True once OK or Apply has committed.
    bool Committed() const { return m_committed; }

    void accept() override;
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnPageChosen(int row);
    void OnHelp();

    QListWidget* m_list;
    QStackedWidget* m_stack;
    QDialogButtonBox* m_buttons;
    std::vector<CSettingsPage*> m_pages;
    std::function<void()> m_commit;
    SheetHelp m_help;
    std::shared_ptr<void> m_state;
    bool m_committed = false;
};

// Adds the WAV, MP3, OGG, APE, FLAC and WMA pages over `formats`, their
// "Apply changes to all tracks" switches reaching `allTracks` and kept in
// `applyNow` (all three must outlive the sheet).
void AddFormatPages(CSettingsSheet& sheet, const std::vector<FormatSettings*>& formats,
                    const std::vector<FormatSettings*>& allTracks, ApplyNowSettings& applyNow);

// The pages of the "Settings" sheet, in the order it lists them; the
// Settings menu opens the sheet at one of them.
enum SettingsPageId : int {
    kGeneralPage,
    kOutputPage,
    kCuttingPage,
    kPlayerPage,
    kPlaylistPage,
    kId3TagPage,
    kDefaultTagPage,
    kCddbPage,
    kWavPage,
    kMp3Page,
    kOggPage,
    kApePage,
    kFlacPage,
    kWmaPage,
};

struct SettingsSheetOptions {
    SettingsPageId startPage = kGeneralPage;
    // The drives by index ("CD-Drive"), and the sound output devices by
    // index ("PlaybackDevice"); missing names are shown by number.
    std::vector<std::string> driveNames;
    std::vector<std::string> playbackDevices;
    // The track records of the disc shown: where "Apply changes to all
    // tracks" passes format changes on to.
    std::vector<TrackRecord*> allTracks;
    // The CDDB server picker the CDDB page offers (none: no server list).
    ServerPicker pickServer;
    // Called after each write-back (OK, Apply), e.g. to show the new format
    // descriptions and output folder.
    std::function<void()> applied;
    SheetHelp help;
};

// The sheet over `settings` (which must outlive it), not shown yet.
std::unique_ptr<CSettingsSheet> MakeSettingsSheet(QWidget* parent, QuavermillSettings& settings,
                                                  const SettingsSheetOptions& options = {});

// Shows the sheet modally. True when OK or Apply wrote the settings back
// (they are then saved as well, with settings.drive.driveCount as set).
bool ShowSettingsSheet(QWidget* parent, QuavermillSettings& settings,
                       const SettingsSheetOptions& options = {});

} // namespace qm::ui
