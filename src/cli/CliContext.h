// What every command of quavermill-cli shares: the global options (accepted
// before and after the command), the exit codes, and choosing the drive.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

class CCDRipper;
class CData;
struct QuavermillSettings;

namespace qmcli {

enum ExitCode : int {
    kExitOk = 0,        // every chosen track complete, or the command succeeded
    kExitFailed = 1,    // at least one track failed
    kExitUsage = 2,     // bad option, no drive, unreadable image
    kExitCancelled = 3, // the user cancelled
};

struct CliContext {
    std::string device;       // --device: drive index, device path or disc image
    std::string settingsFile; // --settings
    std::string dataDir;      // --data-dir
    bool yes = false;         // --yes: answer every prompt with Yes at once
    bool no = false;          // --no
    bool json = false;        // --json

    // Opens the drive --device names on the ripper (or, without --device, the
    // first drive that holds an audio disc, else the first drive). False, with
    // the reason printed, when there is none.
    bool AttachDrive(CCDRipper& ripper) const;
    // The same with the settings' choice when --device names none: the
    // drive that holds an audio disc when "AutoDetectCD" is on, else the
    // drive "CD-Drive" names; read with that drive's "ReadMethod_CD%d".
    bool AttachDrive(CCDRipper& ripper, const QuavermillSettings& settings) const;
    // Makes an image named by --device show up in the drive list. False, with
    // the reason printed, when it does not open.
    bool OpenNamedImage() const;
    // Reads the settings store (--settings, else the user's own). Without a
    // store every value keeps its first-run default.
    void LoadSettings(QuavermillSettings& settings) const;
    // The shared data for a command that grabs or keeps names: its settings
    // loaded and its data folder (--data-dir) set.
    void PrepareData(CData& data) const;
};

void AddGlobalOptions(CLI::App& app, CliContext& context);

// One command: its subcommand and what runs once the whole line is parsed.
struct Command {
    CLI::App* app = nullptr;
    std::function<int(const CliContext&)> run;
};

Command AddDrivesCommand(CLI::App& app);
Command AddTocCommand(CLI::App& app);
Command AddCddbCommand(CLI::App& app);
Command AddGrabCommand(CLI::App& app);
Command AddConfigCommand(CLI::App& app);
Command AddMusicBrainzCommand(CLI::App& app);
Command AddVerifyCommand(CLI::App& app);
Command AddOffsetCommand(CLI::App& app);
Command AddAlbumCommand(CLI::App& app);
Command AddPlayCommand(CLI::App& app);

// Crash records go to the data folder --data-dir names; says so once when a
// record from an earlier run is waiting there.
void UseDataFolderForCrashes(const CliContext& context);

// Prints "quavermill-cli: <text>" on standard error.
void PrintError(const std::string& text);

} // namespace qmcli
