// The CDDB chooser: one row per match of the look-up ("Artist", "Album",
// "Genre", "Match", "Source": CDDB matches, then MusicBrainz releases), the
// titles corrected before they are shown; with
// exactly one match it chooses that one without showing itself. "OK" takes
// the selected row.
#pragma once

#include <cstdint>

#include <QDialog>

#include "disc/QueryCDDBInfo.h"

class QTreeWidget;

namespace qm::ui {

class CQueryCDDBInfoDlg : public QDialog {
    Q_OBJECT

public:
    // `info` must outlive the dialog; Init() is run on it here.
    explicit CQueryCDDBInfoDlg(CQueryCDDBInfo& info, QWidget* parent = nullptr);

    // The choice: the automatic one, or the user's ("OK" with a row
    // selected); -1 when cancelled or nothing was selected.
    std::int32_t Choose();
    std::int32_t Chosen() const { return m_chosen; }
    QTreeWidget* List() const { return m_list; }

    void accept() override;

private:
    CQueryCDDBInfo& m_info;
    QTreeWidget* m_list;
    std::int32_t m_chosen = -1;
};

} // namespace qm::ui
