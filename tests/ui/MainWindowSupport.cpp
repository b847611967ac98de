#include "MainWindowSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "disc/DriveList.h"
#include "disc/LocalCDDB.h"
#include "jobs/Data.h"
#include "platform/SettingsStore.h"
#include "support/Pcm.h"
#include "ui/MainFrame.h"
#include "ui/QuavermillApp.h"
#include "ui/TracksWnd.h"

namespace qmtest::mainui {

namespace fs = std::filesystem;

Session::Session(const std::function<void(QuavermillSettings&)>& adjust) {
    QuavermillSettings settings;
    settings.naming.OutputFolder = OutDir().string();
    settings.naming.NameFormat = "{TRACK} - {TITLE}";
    settings.DefaultTrack.format.format = OutputFormat::WAV;
    settings.normalizer.Normalize = false;
    settings.job.EjectAtEnd = false;
    if (adjust) {
        adjust(settings);
    }
    qm::SetSettingsPath(SettingsFile());
    if (!SaveSettings(settings)) {
        throw std::runtime_error("cannot write the session's settings");
    }
}

Session::~Session() {
    // The drive access layer takes only a few drives: the images of this
    // session leave the drive list with it.
    auto& drives = qm::DriveList::Instance();
    const std::string folder = Dir().string() + "/";
    for (const qm::DriveEntry& entry : drives.Drives()) {
        if (entry.drive->Device().rfind(folder, 0) == 0) {
            drives.Remove(entry.drive);
        }
    }
}

TestImage Session::WriteImage(const std::string& name, const std::vector<ImageTrack>& tracks,
                              std::uint32_t seed) const {
    return WriteTestImage(Dir(), name, tracks, seed);
}

std::unique_ptr<qm::ui::CQuavermillApp> Session::Start(const std::string& device) const {
    auto app = std::make_unique<qm::ui::CQuavermillApp>();
    qm::ui::StartOptions options;
    options.device = device;
    options.settingsFile = SettingsFile().string();
    options.dataDir = DataDir().string();
    if (!app->InitInstance(options)) {
        return nullptr;
    }
    return app;
}

void WriteCacheEntry(qm::ui::CQuavermillApp& app, const std::string& artist,
                     const std::string& album, const std::vector<std::string>& titles) {
    CData& data = app.Data();
    std::string text = "# Quavermill\r\n# version 1.25\r\n";
    text += "DARTIST=" + artist + "\r\nDTITLE=" + album + "\r\nDGENRE=Jazz\r\nDYEAR=2021\r\n";
    for (std::size_t i = 0; i < titles.size(); ++i) {
        text += "TTITLE" + std::to_string(i) + "=" + titles[i] + "\r\n";
    }
    fs::create_directories(data.LocalCDDBFolder());
    WriteText(data.LocalCDDBFolder() / LocalCDDBFileName(data.GetCDDBID()), text);
}

void OnNextModal(std::function<void(QWidget*)> handle, int timeoutMs) {
    auto* timer = new QTimer;
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    QObject::connect(timer, &QTimer::timeout, [timer, elapsed, handle, timeoutMs] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            handle(modal);
        } else if (elapsed->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(20);
}

bool WaitForGrabEnd(qm::ui::CQuavermillApp& app, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (app.Data().IsProcessing()) {
        if (elapsed.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

std::vector<ImageTrack> Tracks(std::initializer_list<std::int32_t> seconds) {
    std::vector<ImageTrack> tracks;
    for (const std::int32_t length : seconds) {
        ImageTrack track;
        track.sectors = length * kSecond;
        tracks.push_back(track);
    }
    return tracks;
}

QString CellText(qm::ui::CMainFrame& frame, int row, int column) {
    QTreeWidgetItem* item = frame.Tracks().topLevelItem(row);
    return item != nullptr ? item->text(column) : QString();
}

bool RowChecked(qm::ui::CMainFrame& frame, int row) {
    QTreeWidgetItem* item = frame.Tracks().topLevelItem(row);
    return item != nullptr && item->checkState(0) == Qt::Checked;
}

void CheckRow(qm::ui::CMainFrame& frame, int row, bool checked) {
    if (QTreeWidgetItem* item = frame.Tracks().topLevelItem(row)) {
        item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    }
}

} // namespace qmtest::mainui
