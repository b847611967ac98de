// `drives`: the CD drives and opened disc images, by index.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "CliContext.h"
#include "disc/CDRipper.h"
#include "disc/DriveList.h"

namespace qmcli {

namespace {

int RunDrives(const CliContext& context) {
    if (!context.OpenNamedImage()) {
        return kExitUsage;
    }
    CCDRipper ripper;
    const auto drives = qm::DriveList::Instance().Drives();
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < drives.size(); ++i) {
        char identity[256] = {};
        if (!ripper.GetDriveInfo(static_cast<std::int32_t>(i), identity, sizeof identity)) {
            std::snprintf(identity, sizeof identity, "(does not open)");
        }
        const std::string device = drives[i].drive->Device();
        if (context.json) {
            list.push_back({{"index", i}, {"device", device}, {"identity", identity}});
        } else {
            std::printf("%zu  %s  %s\n", i, device.c_str(), identity);
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
