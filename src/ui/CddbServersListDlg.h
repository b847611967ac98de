// The CDDB server picker: the servers the configured server knows of
// ("Server", "Port", "CGI", "Is HTTP"); "OK" hands host, path and port of the
// selected row to the CDDB settings page. The list is asked for on a worker
// thread while the window keeps running.
#pragma once

#include <QDialog>

#include "disc/CDDBServersList.h"
#include "ui/CddbPage.h"

class QTreeWidget;

namespace qm::ui {

class CCDDBServersListDlg : public QDialog {
    Q_OBJECT

public:
    // `list` (loaded) must outlive the dialog.
    explicit CCDDBServersListDlg(CCDDBServersList& list, QWidget* parent = nullptr);

    QTreeWidget* List() const { return m_list; }
    // Valid after "OK" accepted the dialog.
    const CCDDBServersList::Choice& GetChoice() const { return m_choice; }

    // "OK": the selected row's server; without a selection the dialog ends
    // as cancelled.
    void accept() override;

private:
    CCDDBServersList& m_servers;
    QTreeWidget* m_list;
    CCDDBServersList::Choice m_choice;
};

// The picker the CDDB page offers: loads the list from the server the page
// shows (a failure gives "Failed to get list" in a box titled "Error") and
// shows it.
ServerPicker MakeCddbServerPicker();

} // namespace qm::ui
