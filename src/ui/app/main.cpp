// quavermill: the desktop program. Takes the same global options as
// quavermill-cli: --device, --settings and --data-dir.
#include <CLI/CLI.hpp>

#include <QApplication>

#include "ui/CrashReportDlg.h"
#include "ui/MainFrame.h"
#include "ui/QuavermillApp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quavermill"));

    qm::ui::StartOptions options;
    CLI::App cli{"Quavermill: grabs the tracks of audio CDs and disc images into audio files.",
                 "quavermill"};
    cli.set_version_flag("--version", "quavermill " QM_VERSION);
    cli.add_option("--device", options.device,
                   "Drive index, device path or disc image (.cue, .toc, .nrg)")
        ->type_name("DRIVE");
    cli.add_option("--settings", options.settingsFile, "Settings store file")->type_name("FILE");
    cli.add_option("--data-dir", options.dataDir,
                   "Data folder holding \"Local CDDB\" (default $XDG_DATA_HOME/Quavermill)")
        ->type_name("DIR");
    std::string crashRecord;
    cli.add_option("--crash-report", crashRecord,
                   "Shows the report of a crash record and offers to mail it")
        ->type_name("RECORD");
    // Qt has taken the options it knows (-platform ...) out of argv.
    const QStringList arguments = QApplication::arguments();
    std::vector<std::string> words;
    for (qsizetype i = arguments.size() - 1; i >= 1; --i) {
        words.push_back(arguments[i].toStdString());
    }
    try {
        cli.parse(words);
    } catch (const CLI::ParseError& e) {
        return cli.exit(e) == 0 ? 0 : 2;
    }

    if (!crashRecord.empty()) {
        return qm::ui::RunCrashReport(crashRecord);
    }
    qm::ui::CQuavermillApp app;
    if (!app.InitInstance(options)) {
        return app.ExitCode();
    }
    return QApplication::exec();
}
