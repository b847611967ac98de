// Takes the README's screenshots of the desktop program on the demo disc:
// the main window with the disc loaded, the window in the middle of a grab,
// and the settings sheet. Run by tools/take-screenshots.sh under Xvfb.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "jobs/Data.h"
#include "platform/SettingsStore.h"
#include "settings/Settings.h"
#include "ui/MainFrame.h"
#include "ui/QuavermillApp.h"
#include "ui/SettingsSheet.h"
#include "ui/TracksWnd.h"

namespace {

namespace fs = std::filesystem;

void Settle(int milliseconds = 300) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

bool Save(QWidget& widget, const fs::path& file) {
    if (!widget.grab().save(QString::fromStdString(file.string()), "PNG")) {
        std::fprintf(stderr, "take-screenshots: cannot write %s\n", file.c_str());
        return false;
    }
    std::printf("%s\n", file.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: take-screenshots DEMO-FOLDER OUTPUT-FOLDER\n");
        return 2;
    }
    const fs::path demo = fs::absolute(argv[1]);
    const fs::path output = fs::absolute(argv[2]);
    fs::create_directories(output);
    QTemporaryDir work;
    const fs::path folder = work.path().toStdString();

    // The user's own settings stay untouched: a store of the run's own.
    QuavermillSettings settings;
    settings.naming.OutputFolder = (folder / "Music").string();
    settings.naming.NameFormat = "{ARTIST}\\{ALBUM}\\{TRACK} - {TITLE}";
    // MP3, the default, is also the slowest of the common formats: a grab in
    // a Release build lasts long enough for the poll to show it under way.
    settings.DefaultTrack.format.format = OutputFormat::MP3;
    settings.job.EjectAtEnd = false;
    settings.window.ColumnWidth = {46, 240, 130, 52, 210, 150};
    qm::SetSettingsPath(folder / "settings.conf");
    SaveSettings(settings);

    qm::ui::CQuavermillApp app;
    qm::ui::StartOptions options;
    options.device = (demo / "demo.cue").string();
    options.settingsFile = (folder / "settings.conf").string();
    options.dataDir = demo.string();
    if (!app.InitInstance(options)) {
        return 1;
    }
    qm::ui::CMainFrame& frame = *app.MainWindow();
    qm::ui::CTracksWnd& tracks = frame.Tracks();
    frame.resize(1100, 560);
    frame.move(0, 0);
    for (int row = 0; row < tracks.topLevelItemCount(); ++row) {
        tracks.topLevelItem(row)->setCheckState(0, row < 4 ? Qt::Checked : Qt::Unchecked);
    }
    tracks.topLevelItem(1)->setSelected(true);
    Settle();
    bool ok = Save(frame, output / "main-window.png");

    // Mid-grab: the first track that shows well on its way.
    bool taken = false;
    QObject::connect(tracks.RowProgressBar(), &QProgressBar::valueChanged, [&](int value) {
        if (!taken && tracks.RowProgressRow() >= 0 && value >= 20 && value <= 90) {
            taken = true;
            ok = Save(frame, output / "mid-grab.png") && ok;
        }
    });
    tracks.clearSelection();
    frame.OnGrab();
    while (app.Data().IsProcessing()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (!taken) {
        std::fprintf(stderr, "take-screenshots: the grab ended before it could be shown\n");
        ok = false;
    }

    qm::ui::SettingsSheetOptions sheetOptions;
    sheetOptions.startPage = qm::ui::kOutputPage;
    const auto sheet = qm::ui::MakeSettingsSheet(&frame, app.Settings(), sheetOptions);
    sheet->resize(760, 560);
    sheet->show();
    Settle();
    ok = Save(*sheet, output / "settings.png") && ok;
    sheet->reject();
    return ok ? 0 : 1;
}
