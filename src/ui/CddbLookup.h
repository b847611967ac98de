// The main window's CDDB look-up: the query runs on a worker thread while a
// modal "please wait" dialog keeps the window thread running (Cancel gives up
// the wait: the request is ended and the worker joined within about a
// second); several matches are chosen among in CQueryCDDBInfoDlg, one is
// taken at once; the chosen entry is then fetched the same way and becomes
// the ripper's disc information. The caller then takes the names into its
// track list (CTrackList::GetCDDBInfo) and stores them.
//
// While a look-up runs the worker uses the ripper: the caller leaves the
// ripper alone until RunCddbLookup returns (the dialogs are modal, so only
// timers of the caller's own could reach it).
#pragma once

#include <functional>

#include <QString>

#include "jobs/NamesLookup.h"
#include "settings/Settings.h"

class CCDRipper;
class QWidget;

namespace qm::ui {

// The texts of the look-up's "Error" boxes; the reason the CDDB client gave
// follows the first two.
inline constexpr const char* kCddbNoDiskText = "No disk in drive.";
inline constexpr const char* kCddbQueryFailedText = "Failed to get CDDB info";
inline constexpr const char* kCddbNoMatchText = "The CDDB server knows no disk with this id.";
inline constexpr const char* kCddbEntryFailedText = "Failed to read the CDDB entry";

// Runs `work` on a thread of its own while a modal dialog with `text` and
// Cancel shows (object name "CddbWait"); events keep flowing meanwhile.
// Cancel (a button named "Cancel") ends every CDDB request under way and
// waits for `work` to return; the dialog stays up until then.
// False when the user cancelled (what `work` did is then to be ignored).
bool RunCddbRequest(QWidget* parent, const QString& text, const std::function<void()>& work);

// The look-up's front end in the window: the requests wait in the dialog
// above, several matches are chosen among in CQueryCDDBInfoDlg, failures
// are told in a box titled "Error".
class CWindowLookupView final : public CNamesLookupView {
public:
    explicit CWindowLookupView(QWidget* parent);
    bool RunRequest(const std::string& text, const std::function<void()>& work) override;
    std::int32_t Choose(CQueryCDDBInfo& matches) override;
    void ShowFailure(LookupFailure failure, const std::string& reason) override;

private:
    QWidget* m_parent;
};

// The whole look-up for the disc the ripper is attached to, with `settings`'
// CDDB server, proxy and e-mail; track titles "artist / title" are split as
// the ripper's mixed-CD mode says (CCDRipper::SetMixedCDMode). True when a match was chosen and its
// names are now the ripper's disc information; failures are told in a box titled "Error", a
// cancelled wait or choice says nothing.
bool RunCddbLookup(QWidget* parent, CCDRipper& ripper, const QuavermillSettings& settings);

} // namespace qm::ui
