// `toc`: the table of contents of the disc in the drive and its CDDB disc id.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "CliContext.h"
#include "core/Text.h"
#include "disc/CDRipper.h"
#include "disc/CdAccess.h"
#include "disc/SheetDrive.h"

namespace qmcli {

namespace {

std::string Msf(std::int32_t sectors) {
    return qm::Format("%02d:%02d:%02d", sectors / (60 * 75), sectors / 75 % 60, sectors % 75);
}

int RunToc(const CliContext& context) {
    CCDRipper ripper;
    if (!context.AttachDrive(ripper)) {
        return kExitUsage;
    }
    std::int32_t first = 0;
    std::int32_t last = 0;
    if (!ripper.GetTrackRange(&first, &last)) {
        PrintError("no disc in the drive, or its table of contents is unreadable");
        return kExitUsage;
    }
    std::uint32_t discId = 0;
    ripper.GetDiscId(&discId);
    const std::int32_t leadout = ripper.GetEndSector(last);
    const std::string id = qm::Format("%08x", discId);

    if (context.json) {
        nlohmann::ordered_json out;
        out["first"] = first;
        out["last"] = last;
        out["leadout"] = leadout;
        out["discid"] = id;
        // A disc image read through its CUE sheet adds the sheet's names.
        const auto drive = qm::HandleDrive(ripper.GetHandle());
        const auto* image = dynamic_cast<const qm::SheetDrive*>(drive.get());
        if (image != nullptr) {
            const DiscInfo names = qm::SheetDiscInfo(image->Sheet());
            out["disc"] = {{"artist", names.artist},
                           {"album", names.title},
                           {"year", names.year > 0 ? std::to_string(names.year) : ""},
                           {"genre", names.genre},
                           {"catalog", image->Sheet().catalog}};
        }
        out["tracks"] = nlohmann::ordered_json::array();
        for (std::int32_t track = first; track <= last; ++track) {
            nlohmann::ordered_json entry = {{"number", track},
                                            {"start", ripper.GetStartSector(track)},
                                            {"sectors", ripper.GetTrackLength(track, true)},
                                            {"data", ripper.IsDataTrack(track)}};
            const auto row = static_cast<std::size_t>(track - first);
            if (image != nullptr && row < image->Sheet().tracks.size()) {
                const qm::CueTrack& named = image->Sheet().tracks[row];
                entry["title"] = named.title;
                entry["artist"] = named.performer;
                entry["isrc"] = named.isrc;
            }
            out["tracks"].push_back(entry);
        }
        std::printf("%s\n", out.dump().c_str());
        return kExitOk;
    }

    char identity[256] = {};
    ripper.GetCDString(identity, sizeof identity);
    std::printf("%s\n", identity);
    std::printf("First track %d, last track %d, lead-out at sector %d, disc id %s\n\n", first, last,
                leadout, id.c_str());
    std::printf("Track     Start   Sectors  Length    Type\n");
    for (std::int32_t track = first; track <= last; ++track) {
        const std::int32_t sectors = ripper.GetTrackLength(track, true);
        std::printf("%5d  %8d  %8d  %s  %s\n", track, ripper.GetStartSector(track), sectors,
                    Msf(sectors).c_str(), ripper.IsDataTrack(track) ? "data" : "audio");
    }
    return kExitOk;
}

} // namespace

Command AddTocCommand(CLI::App& app) {
    Command command;
    command.app = app.add_subcommand(
        "toc", "Show the table of contents and the CDDB disc id (8 hex digits) of the disc");
    command.app->footer(
        "With --json: {\"first\":1,\"last\":N,\"leadout\":S,\"discid\":\"xxxxxxxx\","
        "\"tracks\":[{\"number\":1,\"start\":S,\"sectors\":N,\"data\":false},...]}");
    command.run = RunToc;
    return command;
}

} // namespace qmcli
