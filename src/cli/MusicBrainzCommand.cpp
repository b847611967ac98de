// `musicbrainz`: looks the disc in the drive up by its MusicBrainz disc id in
// the service the settings name (MusicBrainzServer), lists the releases that
// hold it and shows the names of the chosen one (or of the only one);
// `--save` keeps them in the local cache as a CDDB entry's are kept.
#include <cstdio>
#include <optional>

#include <nlohmann/json.hpp>

#include "CliContext.h"
#include "CliDisc.h"
#include "CliView.h"
#include "core/Text.h"
#include "disc/CDRipper.h"
#include "disc/LocalCDDB.h"
#include "jobs/Data.h"
#include "jobs/MusicBrainzLookup.h"
#include "jobs/TrackList.h"
#include "settings/Settings.h"

namespace qmcli {

namespace {

struct MusicBrainzOptions {
    int choose = 0; // 1-based; 0: none given
    bool save = false;
};

std::string Dump(const nlohmann::ordered_json& out) {
    return out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

int RunMusicBrainz(const CliContext& context, const MusicBrainzOptions& options) {
    if (!context.OpenNamedImage()) {
        return kExitUsage;
    }
    CData data;
    context.PrepareData(data);
    CCDRipper& ripper = data.Ripper();
    if (!context.AttachDrive(ripper)) {
        return kExitUsage;
    }
    CliView view(std::nullopt);
    CTrackList list(data, view);
    list.Refresh();
    CMusicBrainzLookup lookup(data.Ripper(), data.Settings().metadata);
    const int count = lookup.Query();
    if (count == 0) {
        const std::string reason = !lookup.GetLastError().empty()
                                       ? lookup.GetLastError()
                                       : "MusicBrainz knows no disc with id " + lookup.GetDiscId();
        if (context.json) {
            nlohmann::ordered_json out;
            out["discid"] = lookup.GetDiscId();
            out["error"] = reason;
            out["matches"] = nlohmann::ordered_json::array();
            std::printf("%s\n", Dump(out).c_str());
        }
        PrintError(reason);
        return list.HasDisc() ? kExitFailed : kExitUsage;
    }
    std::optional<int> chosen;
    if (options.choose != 0) {
        if (options.choose > count) {
            PrintError(
                qm::Format("there is no match %d; the look-up found %d", options.choose, count));
            return kExitUsage;
        }
        chosen = options.choose - 1;
    } else if (count == 1) {
        chosen = 0;
    }
    const bool named = chosen && lookup.Choose(*chosen);
    if (named) {
        lookup.GivePictureTo(data.Tracks());
        list.GetCDDBInfo();
        if (!lookup.GetLastError().empty()) {
            PrintError(lookup.GetLastError());
        }
    }
    const DiscInfo& disc = ripper.GetDiscInfo();
    const auto& matches = lookup.GetMatches();
    if (context.json) {
        nlohmann::ordered_json out;
        out["discid"] = lookup.GetDiscId();
        out["matches"] = nlohmann::ordered_json::array();
        int number = 1;
        for (const qm::MbMatch& match : matches) {
            out["matches"].push_back({{"number", number++},
                                      {"source", "MusicBrainz"},
                                      {"id", match.id},
                                      {"title", match.title},
                                      {"artist", match.artist},
                                      {"date", match.date},
                                      {"country", match.country},
                                      {"tracks", match.tracks}});
        }
        out["chosen"] = chosen ? nlohmann::ordered_json(*chosen + 1) : nlohmann::ordered_json();
        if (named) {
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
        std::printf("MusicBrainz disc id %s: %d release%s\n\n", lookup.GetDiscId().c_str(), count,
                    count == 1 ? "" : "s");
        std::printf("  #  %-30s %-30s %-10s %-7s %s\n", "Title", "Artist", "Date", "Country",
                    "Tracks");
        int number = 1;
        for (const qm::MbMatch& match : matches) {
            std::printf("%3d  %-30s %-30s %-10s %-7s %d\n", number++, match.title.c_str(),
                        match.artist.c_str(), match.date.c_str(), match.country.c_str(),
                        match.tracks);
        }
        if (!chosen) {
            std::printf("\nSeveral releases hold this disc; show one with --choose N.\n");
        } else if (named) {
            std::printf("\nArtist: %s\nAlbum:  %s\nYear:   %s\n\n", disc.artist.c_str(),
                        disc.title.c_str(), disc.year > 0 ? std::to_string(disc.year).c_str() : "");
            for (std::size_t i = 0; i < disc.tracks.size(); ++i) {
                const DiscTrackInfo& track = disc.tracks[i];
                const std::string name =
                    track.artist.empty() ? track.title : track.artist + " / " + track.title;
                std::printf("%3d  %s\n", disc.firstTrack + static_cast<int>(i), name.c_str());
            }
        }
    }
    if (chosen && !named) {
        PrintError(lookup.GetLastError());
        return kExitFailed;
    }
    return SaveChosenNames(data, context, options.save, named, "release");
}

} // namespace

Command AddMusicBrainzCommand(CLI::App& app) {
    auto options = std::make_shared<MusicBrainzOptions>();
    Command command;
    command.app = app.add_subcommand(
        "musicbrainz", "Look the disc up by its MusicBrainz disc id in the service the settings "
                       "name (MusicBrainzServer) and show the names of the chosen release");
    command.app->option_defaults()->group("Options");
    command.app
        ->add_option("--choose", options->choose,
                     "Show the names of release N of the list (a single one is shown anyway)")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    command.app->add_flag("--save", options->save,
                          "Store the chosen (or only) release in the local CDDB cache");
    command.app->footer("Exit status 1 when the service cannot be asked or knows no release of "
                        "the disc.");
    command.run = [options](const CliContext& context) {
        return RunMusicBrainz(context, *options);
    };
    return command;
}

} // namespace qmcli
