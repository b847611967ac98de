// `grab`: grabs tracks of the disc in the drive as the window's Grab does,
// through the same track list and job, with the settings store for
// everything and the options overriding it for this run only.
#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "CliContext.h"
#include "CliDisc.h"
#include "CliView.h"
#include "core/Text.h"
#include "disc/CDRipper.h"
#include "jobs/Data.h"
#include "jobs/GrabJob.h"
#include "jobs/TrackList.h"
#include "output/Naming.h"

namespace qmcli {

namespace {

struct GrabOptions {
    std::string tracks = "all";
    std::string format;
    std::string output;
    std::string mask;
    bool cddb = false;
    bool musicbrainz = false;
    bool verify = false;
    int choose = 0; // 1-based; 0: the only or the first match
    CLI::Option* outputOption = nullptr;
    CLI::Option* maskOption = nullptr;
};

int RunGrab(const CliContext& context, const GrabOptions& options) {
    if (!context.OpenNamedImage()) {
        return kExitUsage;
    }
    auto data = std::make_unique<CData>();
    context.PrepareData(*data);
    QuavermillSettings& settings = data->Settings();
    if (!ApplyFormatOption(options.format, settings)) {
        return kExitUsage;
    }
    if (options.outputOption->count() > 0) {
        settings.naming.OutputFolder = options.output;
    }
    if (options.maskOption->count() > 0) {
        if (const char illegal = FindIllegalMaskCharacter(options.mask); illegal != '\0') {
            PrintError(IllegalMaskCharacterMessage(illegal));
            return kExitUsage;
        }
        settings.naming.NameFormat = options.mask;
    }
    if (options.verify) {
        settings.verify.VerifyRips = true;
    }
    if (!context.AttachDrive(data->Ripper(), settings)) {
        return kExitUsage;
    }

    CliView view(context.yes  ? std::optional(PromptAnswer::kYes)
                 : context.no ? std::optional(PromptAnswer::kNo)
                              : std::nullopt);
    CTrackList list(*data, view);
    CGrabJob job(*data, list, view);
    // --musicbrainz asks MusicBrainz alone, for this run.
    if (options.musicbrainz) {
        settings.metadata.MetadataSources = kSourcesMusicBrainz;
    }
    if (const int status =
            ReadDisc(*data, list, view, options.cddb || options.musicbrainz, options.choose);
        status != kExitOk) {
        return status;
    }

    const std::int32_t first = list.GetFirstTrack();
    const std::int32_t last = list.GetLastTrack();
    const auto tracks = ParseTrackList(options.tracks, first, last);
    if (!tracks) {
        PrintError("--tracks takes 'all' or numbers and ranges such as 1,3-5");
        return kExitUsage;
    }
    std::vector<int> chosen;
    for (const std::int32_t track : *tracks) {
        if (track < first || track > last) {
            PrintError(
                qm::Format("the disc has no track %d (tracks %d to %d)", track, first, last));
            return kExitUsage;
        }
        const int row = track - first;
        if (list.IsDataRow(row)) {
            if (options.tracks != "all") {
                std::fprintf(stderr, "Track %d is a data track and is not grabbed.\n", track);
            }
            continue;
        }
        chosen.push_back(row);
    }
    for (int row = 0; row < list.GetRowCount(); ++row) {
        list.SetChecked(row, false);
    }
    for (const int row : chosen) {
        list.SetChecked(row, true);
    }
    if (chosen.empty()) {
        PrintError("no audio track chosen");
        return kExitUsage;
    }

    InterruptGuard interrupts;
    job.StartProcess();
    RunJob(job, view);
    view.EndLiveLine();

    PrintLog(*data);
    const std::vector<std::string>& files = job.GetCompletedFiles();
    if (!files.empty()) {
        std::printf("\nFiles:\n");
        for (const std::string& file : files) {
            std::printf("  %s\n", file.c_str());
        }
    }
    if (settings.playlist.AddToPlaylist && job.IsPlaylistOk() && !job.GetPlaylistName().empty() &&
        !files.empty()) {
        std::printf("Playlist: %s\n", job.GetPlaylistName().c_str());
    }
    if (!job.GetRipLogName().empty()) {
        std::printf("Rip log: %s\n", job.GetRipLogName().c_str());
    }
    if (!job.GetRipCueName().empty()) {
        std::printf("Cue sheet: %s\n", job.GetRipCueName().c_str());
    }
    if (job.GetRipReport().verified) {
        std::printf("%s\n", RipSummary(job.GetRipReport()).c_str());
    }

    bool failed = false;
    bool done = true;
    for (const int row : chosen) {
        const CGrabJob::TrackOutcome outcome = job.GetOutcome(row);
        failed = failed || outcome == CGrabJob::TrackOutcome::kFailed;
        done = done && outcome == CGrabJob::TrackOutcome::kComplete;
    }
    if (failed) {
        return kExitFailed;
    }
    switch (job.GetEndReason()) {
    case CGrabJob::EndReason::kCancelled:
    case CGrabJob::EndReason::kDeclined:
        return kExitCancelled;
    default:
        break;
    }
    return done ? kExitOk : kExitFailed;
}

} // namespace

Command AddGrabCommand(CLI::App& app) {
    auto options = std::make_shared<GrabOptions>();
    Command command;
    command.app = app.add_subcommand(
        "grab", "Grab tracks of the disc into audio files, named, tagged and listed as the "
                "settings say (the options override them for this run)");
    command.app->option_defaults()->group("Options");
    command.app
        ->add_option("--tracks", options->tracks,
                     "Tracks to grab: 'all' (the default: every audio track) or a list such as "
                     "1,3-5")
        ->type_name("LIST");
    command.app
        ->add_option("--format", options->format, "Output format: wav, mp3, ogg, flac, ape, wma")
        ->type_name("FORMAT");
    options->outputOption =
        command.app->add_option("--output", options->output, "Output folder")->type_name("DIR");
    options->maskOption =
        command.app
            ->add_option("--mask", options->mask,
                         "Naming mask, e.g. \"{ARTIST}/{ALBUM}/{TRACK} - {TITLE}\" (also {YEAR}, "
                         "{GENRE}, {DISKID})")
            ->type_name("TEMPLATE");
    command.app->add_flag("--cddb", options->cddb,
                          "Look the disc up in the CDDB service before grabbing");
    command.app->add_flag("--musicbrainz", options->musicbrainz,
                          "Look the disc up in MusicBrainz before grabbing (its front cover "
                          "too, when EmbedCoverArt or SaveCoverArt ask for it)");
    command.app->add_flag("--verify", options->verify,
                          "Check every track against AccurateRip and CTDB while grabbing (the "
                          "checksums come from the same reads)");
    command.app
        ->add_option("--choose", options->choose,
                     "With --cddb or --musicbrainz: take match N of the look-up (default: the "
                     "first)")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    command.app->footer("Prompts answer themselves after their countdown; a key answers early "
                        "(y, n, Enter for the default), --yes/--no at once. Ctrl-C stops the "
                        "grab: the current track ends \"Cancelled\". Exit status: 0 every track "
                        "complete, 1 a track failed, 2 usage or set-up error, 3 cancelled.");
    command.run = [options](const CliContext& context) { return RunGrab(context, *options); };
    return command;
}

} // namespace qmcli
