// `grab`: grabs tracks of the disc in the drive as the window's Grab does,
// through the same track list and job, with the settings store for
// everything and the options overriding it for this run only.
#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "CliContext.h"
#include "CliView.h"
#include "core/Text.h"
#include "disc/CDRipper.h"
#include "disc/QueryCDDBInfo.h"
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
    bool verify = false;
    int choose = 0; // 1-based; 0: the only or the first match
    CLI::Option* outputOption = nullptr;
    CLI::Option* maskOption = nullptr;
};

std::optional<OutputFormat> ParseFormat(const std::string& name) {
    static const std::pair<const char*, OutputFormat> kNames[] = {
        {"wav", OutputFormat::WAV},   {"mp3", OutputFormat::MP3}, {"ogg", OutputFormat::OGG},
        {"flac", OutputFormat::FLAC}, {"ape", OutputFormat::APE}, {"wma", OutputFormat::WMA}};
    for (const auto& [text, format] : kNames) {
        if (qm::EqualsNoCase(name, text)) {
            return format;
        }
    }
    return std::nullopt;
}

// "all", or numbers and ranges separated by commas ("1,3-5"). Nothing for
// text that is neither.
std::optional<std::set<std::int32_t>> ParseTrackList(const std::string& text, std::int32_t first,
                                                     std::int32_t last) {
    std::set<std::int32_t> tracks;
    if (qm::EqualsNoCase(text, "all")) {
        for (std::int32_t track = first; track <= last; ++track) {
            tracks.insert(track);
        }
        return tracks;
    }
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const std::size_t dash = item.find('-');
        bool okFrom = false;
        bool okTo = false;
        const std::string fromText = item.substr(0, dash);
        const std::int32_t from = qm::LeadingInteger(fromText, &okFrom);
        const std::int32_t to =
            dash == std::string::npos ? from : qm::LeadingInteger(item.substr(dash + 1), &okTo);
        const bool digitsOnly = item.find_first_not_of("0123456789-") == std::string::npos;
        if (!digitsOnly || !okFrom || (dash != std::string::npos && !okTo) || to < from) {
            return std::nullopt;
        }
        for (std::int32_t track = from; track <= to && track <= last + 1; ++track) {
            tracks.insert(track);
        }
        at = comma + 1;
    }
    return tracks;
}

// The CDDB look-up before a grab: the chosen match (or the only, or the
// first) names the disc, and is kept in the local cache when the settings
// say so. False (the reason printed) when nothing was found.
bool LookUpNames(CData& data, CTrackList& list, int choose) {
    CCDRipper& ripper = data.Ripper();
    QuavermillSettings& settings = data.Settings();
    ripper.SetMixedCDMode(list.IsMixedCDMode());
    const std::int32_t count = ripper.QueryCDInfo(&settings.cddb, true);
    if (count == 0) {
        PrintError(ripper.GetLastCDDBStatus() == CCDRipper::kCDDBQueryFailed
                       ? "the CDDB query failed: " + qm::CDDBLastError()
                       : std::string("the CDDB server knows no such disc"));
        return false;
    }
    CQueryCDDBInfo chooser(ripper.GetCDDBMatches());
    chooser.Init();
    std::int32_t chosen = 0;
    if (choose > 0) {
        chosen = chooser.OnOK(choose - 1);
        if (chosen < 0) {
            PrintError(qm::Format("there is no match %d; the look-up found %d", choose, count));
            return false;
        }
    } else if (count > 1) {
        std::fprintf(stderr, "CDDB: %d matches; taking the first (another with --choose N)\n",
                     count);
    }
    if (!ripper.ExtractCDInfo(chosen)) {
        PrintError("the CDDB entry cannot be read: " + qm::CDDBLastError());
        return false;
    }
    list.GetCDDBInfo();
    const DiscInfo& disc = ripper.GetDiscInfo();
    std::fprintf(stderr, "CDDB: %s / %s\n", disc.artist.c_str(), disc.title.c_str());
    if (settings.cddb.AutoSaveLocalCDDB) {
        data.SaveLocalCDDB();
    }
    return true;
}

// What a refresh asked the main window to do. True when it asked for a
// CDDB look-up.
bool RunPostedCommands(CliView& view, CTrackList& list) {
    bool lookUp = false;
    while (!view.PostedCommands().empty()) {
        const TracksCommand command = view.PostedCommands().front();
        view.PostedCommands().pop_front();
        switch (command) {
        case TracksCommand::kMarkAll:
            // The tracks to grab are the ones --tracks names.
            break;
        case TracksCommand::kToggleMixedCD:
            list.EnableMixedCDMode(!list.IsMixedCDMode());
            break;
        case TracksCommand::kGetCDDBInfo:
            lookUp = true;
            break;
        }
    }
    return lookUp;
}

// The job's 200 ms poll, and Ctrl-C as Stop.
void RunJob(CGrabJob& job, CliView& view) {
    bool stopping = false;
    while (job.IsProcessing()) {
        if (InterruptGuard::Wait(200) && InterruptGuard::Take() && !stopping) {
            view.EndLiveLine();
            std::fprintf(stderr, "Stopping...\n");
            job.StopProcess();
            stopping = true;
        }
        if (view.IsPollTimerRunning()) {
            job.OnTimer();
            view.DrawProgress();
        }
    }
}

void PrintLog(CData& data) {
    std::printf("\nGrab log:\n");
    for (const GrabLogEntry& entry : data.GrabLog().GetEntries()) {
        const char* mark = entry.kind == kLogAttention ? "!"
                           : entry.kind == kLogSuccess ? "+"
                                                       : " ";
        std::printf("%s %s\n", mark, entry.text.c_str());
    }
}

int RunGrab(const CliContext& context, const GrabOptions& options) {
    if (!context.OpenNamedImage()) {
        return kExitUsage;
    }
    auto data = std::make_unique<CData>();
    context.PrepareData(*data);
    QuavermillSettings& settings = data->Settings();
    if (!options.format.empty()) {
        const std::optional<OutputFormat> format = ParseFormat(options.format);
        if (!format) {
            PrintError("unknown format '" + options.format + "' (wav, mp3, ogg, flac, ape, wma)");
            return kExitUsage;
        }
        settings.DefaultTrack.format.format = *format;
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
    list.Refresh();
    if (!list.HasDisc()) {
        PrintError("no disc in the drive, or its table of contents is unreadable");
        return kExitUsage;
    }
    if (!list.HasAudioTracks()) {
        PrintError("the disc has no audio tracks");
        return kExitUsage;
    }
    const bool lookUp = RunPostedCommands(view, list);
    if (options.cddb || settings.job.GetCDDBBeforeGrab || lookUp) {
        if (LookUpNames(*data, list, options.choose) && settings.naming.AutoDetectMixedCD &&
            list.IsMixedCD() != list.IsMixedCDMode()) {
            list.EnableMixedCDMode(!list.IsMixedCDMode());
        }
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
        const std::string& status = list.GetStatus(row);
        failed = failed || status == "Failed";
        done = done && status.rfind("Complete", 0) == 0;
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
    command.app->add_flag("--verify", options->verify,
                          "Check every track against AccurateRip and CTDB while grabbing (the "
                          "checksums come from the same reads)");
    command.app
        ->add_option("--choose", options->choose,
                     "With --cddb: take match N of the look-up (default: the first)")
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
