// `album`: rips the chosen tracks into one album file as the album dialog
// does, through the same job: each track limited to its range, silence
// between tracks, one tag, and a cue sheet beside the file.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CliContext.h"
#include "CliDisc.h"
#include "CliView.h"
#include "core/Text.h"
#include "jobs/AlbumJob.h"
#include "jobs/Data.h"
#include "jobs/TrackList.h"
#include "settings/Settings.h"

namespace qmcli {

namespace {

struct AlbumOptions {
    std::string tracks = "all";
    std::vector<std::string> ranges;
    std::string silence;
    std::string format;
    std::string file;
    CLI::Option* silenceOption = nullptr;
};

// The album job's front end in the terminal: the list, progress and prompts
// are the grab's own (through the CliView the track list fills).
class CliAlbumView final : public CAlbumView {
public:
    explicit CliAlbumView(CliView& view) : m_view(view) {}

    void SetRowChecked(int row, bool checked) override { m_view.SetRowChecked(row, checked); }
    void ShowRowProgress(int row) override { m_view.ShowRowProgress(row); }
    void SetRowProgress(int percent) override { m_view.SetRowProgress(percent); }
    void EnableControls(bool enable) override { m_view.EnableControls(enable); }
    PromptAnswer Ask(CWarningPrompt& prompt) override { return m_view.Ask(prompt); }
    bool AskYesNo(const std::string& /*text*/, const std::string& /*caption*/) override {
        return true;
    }
    void ShowError(const std::string& text, const std::string& caption) override {
        m_view.ShowError(text, caption);
    }
    void StartPollTimer() override { m_view.StartPollTimer(); }
    void StopPollTimer() override { m_view.StopPollTimer(); }

private:
    CliView& m_view;
};

// "N=FROM-TO" into the job. False (the reason printed) when the text or the
// range is wrong.
bool ApplyRange(CAlbumJob& job, const std::string& text) {
    const std::size_t equals = text.find('=');
    const std::size_t dash = text.find('-', equals == std::string::npos ? 0 : equals);
    bool okTrack = false;
    const std::string trackText = text.substr(0, equals);
    const std::int32_t track = qm::LeadingInteger(trackText, &okTrack);
    if (equals == std::string::npos || dash == std::string::npos || !okTrack ||
        trackText.find_first_not_of("0123456789") != std::string::npos) {
        PrintError("--range takes N=FROM-TO, e.g. 2=0:01.00-0:04.50 (got '" + text + "')");
        return false;
    }
    const std::string fromText = text.substr(equals + 1, dash - equals - 1);
    const std::string toText = text.substr(dash + 1);
    double from = 0;
    double to = 0;
    for (const auto& [part, value] : {std::pair{&fromText, &from}, std::pair{&toText, &to}}) {
        if (!CAlbumJob::StringToTime(*part, value)) {
            PrintError("'" + *part +
                       "' is not a time: minutes:seconds.hundredths below 60 minutes and 60 "
                       "seconds, e.g. 1:30.5 (a lone number counts as minutes)");
            return false;
        }
    }
    const std::vector<CAlbumJob::Row>& rows = job.GetRows();
    int row = -1;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].track == track) {
            row = static_cast<int>(i);
        }
    }
    if (row < 0) {
        PrintError(qm::Format("the disc has no track %d", track));
        return false;
    }
    if (!job.SetRange(row, from, to)) {
        const CAlbumJob::Row& entry = rows[static_cast<std::size_t>(row)];
        PrintError(entry.isData
                       ? qm::Format("track %d is a data track", track)
                       : qm::Format("the range %s-%s is empty or outside track %d (00:00.00-%s)",
                                    CAlbumJob::TimeToString(from).c_str(),
                                    CAlbumJob::TimeToString(to).c_str(), track,
                                    CAlbumJob::TimeToString(entry.length).c_str()));
        return false;
    }
    return true;
}

int RunAlbum(const CliContext& context, const AlbumOptions& options) {
    if (!context.OpenNamedImage()) {
        return kExitUsage;
    }
    auto data = std::make_unique<CData>();
    context.PrepareData(*data);
    QuavermillSettings& settings = data->Settings();
    if (!ApplyFormatOption(options.format, settings)) {
        return kExitUsage;
    }
    double silence = 0;
    if (options.silenceOption->count() > 0) {
        char* end = nullptr;
        silence = std::strtod(options.silence.c_str(), &end);
        if (options.silence.empty() || end == nullptr || *end != '\0' || !(silence >= 0) ||
            silence > 3600) {
            PrintError("--silence takes seconds from 0 to 3600, e.g. 2.5");
            return kExitUsage;
        }
    }
    if (!context.AttachDrive(data->Ripper(), settings)) {
        return kExitUsage;
    }

    CliView view(context.yes  ? std::optional(PromptAnswer::kYes)
                 : context.no ? std::optional(PromptAnswer::kNo)
                              : std::nullopt);
    CTrackList list(*data, view);
    if (const int status = ReadDisc(*data, list, view, false, 0); status != kExitOk) {
        return status;
    }
    CliAlbumView albumView(view);
    CAlbumJob job(*data, albumView);
    job.SetStoreValues(false);
    RipAlbumSettings stored;
    ReadSettingsStore(
        [&stored](const qm::SettingsStore& store) { LoadRipAlbumSettings(stored, store); });
    if (!job.OnInitDialog(view.GetInfoBar(), stored)) {
        PrintError("no disc in the drive, or its table of contents is unreadable");
        return kExitUsage;
    }

    const std::int32_t first = list.GetFirstTrack();
    const std::int32_t last = list.GetLastTrack();
    const auto tracks = ParseTrackList(options.tracks, first, last);
    if (!tracks) {
        PrintError("--tracks takes 'all' or numbers and ranges such as 1,3-5");
        return kExitUsage;
    }
    for (const std::int32_t track : *tracks) {
        if (track < first || track > last) {
            PrintError(
                qm::Format("the disc has no track %d (tracks %d to %d)", track, first, last));
            return kExitUsage;
        }
        const int row = track - first;
        if (list.IsDataRow(row)) {
            if (options.tracks != "all") {
                std::fprintf(stderr, "Track %d is a data track and is not ripped.\n", track);
            }
            continue;
        }
        job.SetChecked(row, true);
    }
    for (const std::string& range : options.ranges) {
        if (!ApplyRange(job, range)) {
            return kExitUsage;
        }
    }
    if (options.silenceOption->count() > 0) {
        job.SetInsertSilence(silence > 0);
        job.SetSilenceLength(silence);
    }
    if (!options.file.empty()) {
        job.SetOutputFileName(options.file);
    } else {
        job.OnGenerateName();
    }
    if (job.GetNumberOfChecked() == 0) {
        PrintError("no audio track chosen");
        return kExitUsage;
    }

    InterruptGuard interrupts;
    job.OnStart();
    if (job.GetOutcome() == CAlbumJob::Outcome::kNone && !job.IsProcessing()) {
        // Refused before it began (the reason was printed): nothing written.
        return kExitUsage;
    }
    RunJob(job, view);
    view.EndLiveLine();
    PrintLog(*data);
    switch (job.GetOutcome()) {
    case CAlbumJob::Outcome::kComplete:
        std::printf("\nAlbum: %s\n", job.GetAlbumPath().c_str());
        if (!job.GetCuePath().empty()) {
            std::printf("Cue sheet: %s\n", job.GetCuePath().c_str());
        }
        return kExitOk;
    case CAlbumJob::Outcome::kCancelled:
        return kExitCancelled;
    default:
        return kExitFailed;
    }
}

} // namespace

Command AddAlbumCommand(CLI::App& app) {
    auto options = std::make_shared<AlbumOptions>();
    Command command;
    command.app = app.add_subcommand(
        "album", "Rip the chosen tracks (each limited to its range) into one album file with a "
                 "cue sheet beside it, as the album dialog does");
    command.app->option_defaults()->group("Options");
    command.app
        ->add_option("--tracks", options->tracks,
                     "Tracks to rip: 'all' (the default: every audio track) or a list such as "
                     "1,3-5")
        ->type_name("LIST");
    command.app
        ->add_option("--range", options->ranges,
                     "Rip only FROM-TO of track N, times as minutes:seconds.hundredths "
                     "(2=0:01.00-0:04.50; a lone number counts as minutes); repeatable")
        ->type_name("N=FROM-TO");
    options->silenceOption =
        command.app
            ->add_option("--silence", options->silence,
                         "Seconds of silence between tracks (0: none; default: the stored "
                         "\"SilenceLength_RipAlbum\" when \"InsertSilence_RipAlbum\" is on)")
            ->type_name("SECONDS");
    command.app
        ->add_option("--format", options->format, "Output format: wav, mp3, ogg, flac, ape, wma")
        ->type_name("FORMAT");
    command.app
        ->add_option("--file", options->file,
                     "The album file (default: \"Mask_RipAlbum\" below the output folder); the "
                     "format's extension is added when the name has none")
        ->type_name("PATH");
    command.app->footer("Ctrl-C stops the rip and deletes the album file. Exit status: 0 the "
                        "album is complete, 1 it failed (the file is deleted), 2 a bad option "
                        "or time, or the file cannot be set up, 3 cancelled.");
    command.run = [options](const CliContext& context) { return RunAlbum(context, *options); };
    return command;
}

} // namespace qmcli
