// quavermill-cli: the terminal front end over the same job engine as the
// window. One file per command; the global options live in CliContext.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <vector>

#include "CliContext.h"
#include "core/CrashHandler.h"
#include "core/Diagnostics.h"
#include "disc/CdioLog.h"
#include "platform/SettingsStore.h"
#include "platform/UserFolders.h"

int main(int argc, char** argv) {
    qm::InstallCrashHandler({.productLine = "Quavermill v" QM_VERSION,
                             .programName = "quavermill-cli",
                             .dataFolder = qm::DefaultDataFolder(),
                             .mode = qm::CrashReportMode::kPrintReportCommand,
                             .reportProgram = {}});
    g_FunctionTracer.Init(10, 20);
    qm::InstallCdioLogHandler();

    CLI::App app{"Quavermill: grabs the tracks of audio CDs and disc images into audio files.",
                 "quavermill-cli"};
    app.set_version_flag("--version", "quavermill-cli " QM_VERSION);
    app.footer("Exit status: 0 done, 1 a track failed, 2 usage or set-up error (bad option, no "
               "drive, unreadable image), 3 cancelled.");
    app.require_subcommand(0, 1);
    // Options a command does not know fall through to the global ones, so
    // those may stand after the command too.
    app.fallthrough();

    qmcli::CliContext context;
    qmcli::AddGlobalOptions(app, context);
    const std::vector<qmcli::Command> commands = {
        qmcli::AddDrivesCommand(app), qmcli::AddTocCommand(app),
        qmcli::AddCddbCommand(app),   qmcli::AddGrabCommand(app),
        qmcli::AddConfigCommand(app), qmcli::AddAlbumCommand(app),
        qmcli::AddPlayCommand(app),   qmcli::AddMusicBrainzCommand(app),
        qmcli::AddVerifyCommand(app), qmcli::AddOffsetCommand(app)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? qmcli::kExitOk : qmcli::kExitUsage;
    }
    // Every command reads and writes the store --settings names.
    if (!context.settingsFile.empty()) {
        qm::SetSettingsPath(context.settingsFile);
    }
    qmcli::UseDataFolderForCrashes(context);
    for (const qmcli::Command& command : commands) {
        if (command.app->parsed()) {
            return command.run(context);
        }
    }
    std::fputs(app.help().c_str(), stdout);
    return qmcli::kExitOk;
}
