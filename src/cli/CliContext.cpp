#include "CliContext.h"

#include <cstdio>
#include <filesystem>

#include "disc/CDRipper.h"
#include "disc/CdioDrive.h"
#include "disc/DriveList.h"
#include "jobs/Data.h"
#include "jobs/DriveChoice.h"
#include "platform/SettingsStore.h"
#include "platform/UserFolders.h"
#include "settings/Settings.h"

namespace qmcli {

namespace {

bool IsIndex(const std::string& text) {
    return !text.empty() && text.size() < 4 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// The drive-list index of what --device names; -1 (reason printed) if none.
int ResolveDevice(const std::string& named) {
    auto& list = qm::DriveList::Instance();
    if (IsIndex(named)) {
        const int index = std::stoi(named);
        if (index >= static_cast<int>(list.Drives().size())) {
            PrintError("there is no drive " + named + " (see 'quavermill-cli drives')");
            return -1;
        }
        return index;
    }
    const int known = list.IndexOf(named);
    if (known >= 0) {
        return known;
    }
    std::error_code ec;
    if (std::filesystem::is_block_file(named, ec)) {
        return list.AddDrive(qm::CdioDrive::ForDevice(named));
    }
    std::string error;
    const int index = list.AddImage(named, &error);
    if (index < 0) {
        PrintError("cannot open the disc image: " + error);
    }
    return index;
}

} // namespace

void PrintError(const std::string& text) {
    std::fprintf(stderr, "quavermill-cli: %s\n", text.c_str());
}

bool CliContext::OpenNamedImage() const {
    return device.empty() || ResolveDevice(device) >= 0;
}

bool CliContext::AttachDrive(CCDRipper& ripper) const {
    // Without settings: the drive that holds an audio disc, else the first,
    // read the plain way.
    QuavermillSettings plain;
    plain.drive.AutoDetectCD = true;
    plain.drive.CDDrive = 0;
    plain.drive.ReadMethod.fill(0);
    return AttachDrive(ripper, plain);
}

bool CliContext::AttachDrive(CCDRipper& ripper, const QuavermillSettings& settings) const {
    std::int32_t requested = -1;
    if (!device.empty()) {
        requested = ResolveDevice(device);
        if (requested < 0) {
            return false;
        }
    }
    const std::int32_t index = ChooseDrive(ripper, settings, requested);
    if (index < 0) {
        PrintError("no CD drive found; name a disc image with --device FILE.cue");
        return false;
    }
    // The command's own copy: "CD-Drive" is not stored from here.
    QuavermillSettings chosen = settings;
    if (!AttachChosenDrive(ripper, chosen, index)) {
        PrintError("cannot open drive " + std::to_string(index));
        return false;
    }
    return true;
}

void CliContext::PrepareData(CData& data) const {
    LoadSettings(data.Settings());
    data.SetDataFolder(qm::ResolveDataFolder(dataDir));
}

void CliContext::LoadSettings(QuavermillSettings& settings) const {
    if (!settingsFile.empty()) {
        qm::SetSettingsPath(settingsFile);
    }
    settings.drive.driveCount =
        static_cast<std::int32_t>(qm::DriveList::Instance().Drives().size());
    ::LoadSettings(settings);
}

void AddGlobalOptions(CLI::App& app, CliContext& context) {
    app.option_defaults()->group("Global options (before or after the command)");
    app.add_option("--device", context.device,
                   "Drive index (as 'drives' lists), device path or disc image (.cue, .toc, .nrg, "
                   "or an audio file with a cue sheet inside)")
        ->type_name("DRIVE");
    app.add_option("--settings", context.settingsFile, "Settings store file")->type_name("FILE");
    app.add_option("--data-dir", context.dataDir,
                   "Data folder holding \"Local CDDB\" (default $XDG_DATA_HOME/Quavermill)")
        ->type_name("DIR");
    auto* yes = app.add_flag("--yes", context.yes, "Answer every question with Yes at once");
    auto* no = app.add_flag("--no", context.no, "Answer every question with No at once");
    yes->excludes(no);
    app.add_flag("--json", context.json, "Machine-readable output where a command offers it");
}

} // namespace qmcli
