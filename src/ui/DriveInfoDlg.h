// The "Drive information" window: the selected drive's identity, vendor,
// model and revision, and the read offset the AccurateRip drive list gives
// for it beside the one in use. Asking the drive and fetching the list run
// on a worker; the window shows "Asking the drive..." until they are done,
// and a window closed before then leaves the worker to finish on its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include <QDialog>
#include <QTimer>

class QLabel;
class QPushButton;

namespace qm {
class CdDrive;
} // namespace qm

namespace qm::ui {

class CDriveInfoDlg : public QDialog {
    Q_OBJECT

public:
    // The drive list is kept in (or fetched into) `dataFolder` from
    // `arServer`; `readOffset` is the one the settings hold.
    CDriveInfoDlg(std::shared_ptr<qm::CdDrive> drive, std::filesystem::path dataFolder,
                  std::string arServer, std::int32_t readOffset, QWidget* parent = nullptr);
    ~CDriveInfoDlg() override;

    QLabel* Text() const { return m_text; }
    // The worker has answered and the text is final.
    bool IsDone() const { return m_done; }

private:
    struct Work;
    void Poll();

    std::shared_ptr<Work> m_work;
    std::int32_t m_readOffset;
    QLabel* m_text;
    QPushButton* m_ok;
    QTimer m_poll;
    bool m_done = false;
};

} // namespace qm::ui
