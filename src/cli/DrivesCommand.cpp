// `drives`: the CD drives and opened disc images, by index.
#include <cstdio>
#include <optional>

#include <nlohmann/json.hpp>

#include "CliContext.h"
#include "disc/CDRipper.h"
#include "disc/DriveList.h"
#include "disc/RipVerifier.h"
#include "jobs/Data.h"
#include "settings/Settings.h"

namespace qmcli {

namespace {

int RunDrives(const CliContext& context) {
    if (!context.OpenNamedImage()) {
        return kExitUsage;
    }
    CCDRipper ripper;
    const auto drives = qm::DriveList::Instance().Drives();
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    // The AccurateRip drive list is fetched (once, then kept in the data
    // folder) only when a real drive can be named in it.
    std::optional<std::vector<qm::DriveOffset>> offsets;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        char identity[256] = {};
        if (!ripper.GetDriveInfo(static_cast<std::int32_t>(i), identity, sizeof identity)) {
            std::snprintf(identity, sizeof identity, "(does not open)");
        }
        const std::string device = drives[i].drive->Device();
        qm::DriveHardware hardware;
        std::optional<qm::DriveOffset> offset;
        if (drives[i].drive->Open(0)) {
            if (drives[i].drive->Hardware(hardware)) {
                if (!offsets) {
                    CData data;
                    context.PrepareData(data);
                    offsets = qm::LoadDriveOffsets(data.DataFolder(),
                                                   data.Settings().verify.AccurateRipServer);
                }
                offset = qm::FindDriveOffset(*offsets, hardware.vendor, hardware.model);
            }
            drives[i].drive->Close();
        }
        if (context.json) {
            nlohmann::ordered_json entry = {
                {"index", i}, {"device", device}, {"identity", identity}};
            if (!hardware.model.empty()) {
                entry["vendor"] = hardware.vendor;
                entry["model"] = hardware.model;
                entry["revision"] = hardware.revision;
            }
            if (offset) {
                entry["offset"] = offset->offset;
            }
            list.push_back(entry);
        } else {
            std::printf("%zu  %s  %s", i, device.c_str(), identity);
            if (offset) {
                std::printf("  (read offset %+d in the AccurateRip drive list)", offset->offset);
            } else if (!hardware.model.empty()) {
                std::printf("  (not in the AccurateRip drive list; try offset --find)");
            }
            std::printf("\n");
        }
    }
    if (context.json) {
        std::printf("%s\n", list.dump().c_str());
    } else if (drives.empty()) {
        std::printf("No CD drive found. Name a disc image with --device FILE.cue.\n");
    }
    return kExitOk;
}

} // namespace

Command AddDrivesCommand(CLI::App& app) {
    Command command;
    command.app = app.add_subcommand(
        "drives", "List the CD drives and opened disc images: index, device or path, identity");
    command.run = RunDrives;
    return command;
}

} // namespace qmcli
