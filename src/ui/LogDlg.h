// The "Log" window: the grab log as it stands when the window opens, one
// coloured row per entry, and "OK". The window returns to where the user
// left it last time: its rectangle is kept under "LogLeftPosition",
// "LogRightPosition", "LogTopPosition" and "LogBottomPosition" and used only
// when all four are there.
#pragma once

#include <QDialog>

#include "ui/LogList.h"

class CGrabLog;
class QPushButton;

namespace qm {
class SettingsStore;
} // namespace qm

namespace qm::ui {

class CLogDlg : public QDialog {
    Q_OBJECT

public:
    // `store` keeps the window's place (null: no place kept); it must
    // outlive the dialog.
    CLogDlg(const CGrabLog& log, qm::SettingsStore* store, QWidget* parent = nullptr);

    CLogList* List() const { return m_list; }
    QPushButton* OkButton() const { return m_ok; }

    // "OK": writes the window's rectangle back and saves the store.
    void accept() override;

private:
    qm::SettingsStore* m_store;
    CLogList* m_list;
    QPushButton* m_ok;
};

// Shows the log window modally, keeping its place in the user's settings
// store (qm::SettingsPath()).
void ShowLogDialog(QWidget* parent, const CGrabLog& log);

} // namespace qm::ui
