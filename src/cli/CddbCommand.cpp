// `cddb`: looks the disc in the drive up in the CDDB service the settings
// name, lists the matches and shows the names of the chosen one (or of the
// only one); `cddb --servers` prints the servers the CDDB server knows of.
#include <cstdio>
#include <optional>

#include <nlohmann/json.hpp>

#include "CliContext.h"
#include "CliDisc.h"
#include "CliView.h"
#include "core/Text.h"
#include "disc/CDDBServersList.h"
#include "disc/CDRipper.h"
#include "disc/LocalCDDB.h"
#include "disc/QueryCDDBInfo.h"
#include "jobs/Data.h"
#include "jobs/NamesLookup.h"
#include "jobs/TrackList.h"
#include "settings/Settings.h"

namespace qmcli {

namespace {

struct CddbOptions {
    int choose = 0; // 1-based; 0: none given
    bool servers = false;
    bool mixed = false;
    bool save = false;
};

std::string Dump(const nlohmann::ordered_json& out) {
    return out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Time(std::int32_t seconds) {
    return seconds < 0 ? std::string("--:--") : qm::Format("%02d:%02d", seconds / 60, seconds % 60);
}

int RunServers(const CliContext& context, const QuavermillSettings& settings) {
    CCDRipper ripper;
    CCDDBServersList list;
    if (!list.Load(ripper, settings.cddb)) {
        PrintError(std::string(CCDDBServersList::kFailedText) + ": " + qm::CDDBLastError());
        return kExitFailed;
    }
    if (context.json) {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (const qm::CddbSite& site : list.GetSites()) {
            out.push_back({{"server", site.host},
                           {"port", site.port},
                           {"cgi", site.path},
                           {"http", site.http != 0},
                           {"description", site.description}});
        }
        std::printf("%s\n", Dump(out).c_str());
        return kExitOk;
    }
    std::printf("%-32s %5s  %-20s %s\n", "Server", "Port", "CGI", "Is HTTP");
    for (const CCDDBServersList::Row& row : list.GetRows()) {
        std::printf("%-32s %5s  %-20s %s\n", row.server.c_str(), row.port.c_str(), row.cgi.c_str(),
                    row.isHttp.c_str());
    }
    return kExitOk;
}

// Why a look-up gave no matches, as an exit status (the reason printed).
int LookupFailed(LookupFailure failure, std::int32_t status, const std::string& clientReason,
                 const std::string& discId, bool json) {
    std::string reason;
    int exit = kExitFailed;
    switch (failure) {
    case LookupFailure::kNoDisc:
        reason = "no disc in the drive, or its table of contents is unreadable";
        exit = kExitUsage;
        break;
    case LookupFailure::kQueryFailed:
        reason = "the CDDB query failed: " + clientReason;
        break;
    default:
        reason = "the CDDB server knows no disc with id " + discId;
        break;
    }
    if (json) {
        nlohmann::ordered_json out;
        out["discid"] = discId;
        out["status"] = status;
        out["error"] = reason;
        out["matches"] = nlohmann::ordered_json::array();
        std::printf("%s\n", Dump(out).c_str());
    }
    PrintError(reason);
    return exit;
}

int RunCddb(const CliContext& context, const CddbOptions& options) {
    if (!context.OpenNamedImage()) {
        return kExitUsage;
    }
    CData data;
    context.PrepareData(data);
    const QuavermillSettings& settings = data.Settings();
    if (options.servers) {
        return RunServers(context, settings);
    }
    CCDRipper& ripper = data.Ripper();
    if (!context.AttachDrive(ripper)) {
        return kExitUsage;
    }
    // The track list keeps the names --save stores: its records are built
    // before the look-up, which then names them.
    CliView view(std::nullopt);
    CTrackList list(data, view);
    if (options.save) {
        list.Refresh();
        if (options.mixed) {
            list.EnableMixedCDMode(true);
        }
    }
    ripper.SetMixedCDMode(options.mixed);
    CNamesLookup lookup(ripper, settings.cddb);
    // The sources the settings name answer together, in one list.
    lookup.SetSources(settings.metadata);
    const std::int32_t count = lookup.Query();
    const std::string discId = qm::Format("%08x", ripper.GetCDDBID());
    if (count == 0) {
        return LookupFailed(lookup.GetFailure(), ripper.GetLastCDDBStatus(), lookup.GetReason(),
                            discId, context.json);
    }
    CQueryCDDBInfo& chooser = lookup.Matches();
    chooser.Init();
    std::optional<int> chosen;
    if (options.choose != 0) {
        chosen = chooser.OnOK(options.choose - 1);
        if (*chosen < 0) {
            PrintError(
                qm::Format("there is no match %d; the look-up found %d", options.choose, count));
            return kExitUsage;
        }
    } else if (chooser.GetAutoChoice() >= 0) {
        chosen = chooser.GetAutoChoice();
    }
    const bool extracted = chosen && lookup.Extract(*chosen);
    if (extracted) {
        lookup.GivePictureTo(data.Tracks());
    }
    const DiscInfo& disc = ripper.GetDiscInfo();

    if (context.json) {
        nlohmann::ordered_json out;
        out["discid"] = discId;
        out["status"] = chosen ? ripper.GetLastCDDBStatus() : 0;
        out["matches"] = nlohmann::ordered_json::array();
        int number = 1;
        const auto cddbMatches = ripper.GetCDDBMatches();
        for (const CQueryCDDBInfo::Row& row : chooser.GetRows()) {
            const int index = number - 1;
            nlohmann::ordered_json match = {{"number", number++},   {"source", row.source},
                                            {"artist", row.artist}, {"album", row.album},
                                            {"genre", row.genre},   {"exact", !row.match.empty()}};
            if (chooser.IsMusicBrainz(index)) {
                const qm::MbMatch& release =
                    chooser
                        .GetReleases()[static_cast<std::size_t>(chooser.MusicBrainzIndex(index))];
                match["id"] = release.id;
                match["title"] = release.title;
                match["date"] = release.date;
                match["country"] = release.country;
                match["tracks"] = release.tracks;
            } else {
                const qm::CddbMatch& entry = cddbMatches[static_cast<std::size_t>(index)];
                match["category"] = entry.category;
                match["discid"] = entry.discId;
                match["title"] = row.album;
            }
            out["matches"].push_back(match);
        }
        out["chosen"] = chosen ? nlohmann::ordered_json(*chosen + 1) : nlohmann::ordered_json();
        if (extracted) {
            nlohmann::ordered_json tracks = nlohmann::ordered_json::array();
            for (std::size_t i = 0; i < disc.tracks.size(); ++i) {
                tracks.push_back({{"number", disc.firstTrack + static_cast<int>(i)},
                                  {"title", disc.tracks[i].title},
                                  {"artist", disc.tracks[i].artist},
                                  {"length", disc.tracks[i].length}});
            }
            out["disc"] = {{"artist", disc.artist},
                           {"album", disc.title},
                           {"genre", disc.genre},
                           {"year", disc.year},
                           {"tracks", tracks}};
        }
        std::printf("%s\n", Dump(out).c_str());
    } else {
        const std::int32_t all = count;
        std::printf("Disc id %s: %d match%s\n\n", discId.c_str(), all, all == 1 ? "" : "es");
        std::printf("  #  %-30s %-30s %-12s %-5s %s\n", "Artist", "Album", "Genre", "Exact",
                    "Source");
        int number = 1;
        for (const CQueryCDDBInfo::Row& row : chooser.GetRows()) {
            std::printf("%3d  %-30s %-30s %-12s %-5s %s\n", number++, row.artist.c_str(),
                        row.album.c_str(), row.genre.c_str(),
                        row.match.empty() ? "No" : row.match.c_str(), row.source.c_str());
        }
        if (!chosen) {
            std::printf("\nSeveral discs match; show one with --choose N.\n");
        } else if (extracted) {
            std::printf("\nArtist: %s\nAlbum:  %s\nYear:   %s\nGenre:  %s\n\n", disc.artist.c_str(),
                        disc.title.c_str(), disc.year > 0 ? std::to_string(disc.year).c_str() : "",
                        disc.genre.c_str());
            for (std::size_t i = 0; i < disc.tracks.size(); ++i) {
                const DiscTrackInfo& track = disc.tracks[i];
                const std::string name =
                    track.artist.empty() ? track.title : track.artist + " / " + track.title;
                std::printf("%3d  %s  %s\n", disc.firstTrack + static_cast<int>(i),
                            Time(track.length).c_str(), name.c_str());
            }
        }
    }
    if (chosen && !extracted) {
        PrintError(qm::Format("the entry of match %d cannot be read: %s", *chosen + 1,
                              lookup.GetReason().c_str()));
        return kExitFailed;
    }
    if (options.save && extracted) {
        list.GetCDDBInfo();
    }
    return SaveChosenNames(data, context, options.save, extracted, "match");
}

} // namespace

Command AddCddbCommand(CLI::App& app) {
    auto options = std::make_shared<CddbOptions>();
    Command command;
    command.app = app.add_subcommand(
        "cddb", "Look the disc up in the CDDB service the settings name (server, port, path, "
                "proxy, e-mail) and show the names of the chosen match");
    command.app->option_defaults()->group("Options");
    command.app
        ->add_option("--choose", options->choose,
                     "Show the names of match N of the list (a single match is shown anyway)")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    command.app->add_flag("--servers", options->servers,
                          "Print the servers the CDDB server knows of instead");
    command.app->add_flag("--save", options->save,
                          "Store the chosen (or only) match in the local CDDB cache");
    command.app->add_flag("--mixed", options->mixed,
                          "Split track titles \"artist / title\" (a mixed-artist disc)");
    command.app->footer("Exit status 1 when the server cannot be asked, knows no match or its "
                        "entry cannot be read.");
    command.run = [options](const CliContext& context) { return RunCddb(context, *options); };
    return command;
}

} // namespace qmcli
