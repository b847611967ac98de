// What the commands that grab from the disc share: the disc read into the
// track list with the names the settings ask for, the format and track-list
// options, running a job's poll with Ctrl-C as Stop, and the grab log.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "settings/OutputFormat.h"

class CData;
class CTrackList;
struct QuavermillSettings;

namespace qmcli {

class CliView;
struct CliContext;

// "wav", "mp3", "ogg", "flac", "ape", "wma" in any case.
std::optional<OutputFormat> ParseFormat(const std::string& name);

// An empty `name` leaves the settings' format as it is; a name that is no
// format is printed and gives false.
bool ApplyFormatOption(const std::string& name, QuavermillSettings& settings);

// The names `data` holds saved in the local CDDB cache when `save` (printed
// where they went). kExitOk, kExitUsage when nothing was chosen (`what` names
// the kind of choice: "match", "release"), kExitFailed when it cannot be written.
int SaveChosenNames(CData& data, const CliContext& context, bool save, bool chosen,
                    const char* what);

// "all", or numbers and ranges separated by commas ("1,3-5"). Nothing for
// text that is neither.
std::optional<std::set<std::int32_t>> ParseTrackList(const std::string& text, std::int32_t first,
                                                     std::int32_t last);

// Reads the disc in the attached drive into `list`, runs the commands the
// refresh posted and looks the disc up when `lookUp`, the settings or the
// refresh ask for it (match `choose`, 1-based; 0: the only or the first).
// kExitOk, or the exit status of why there is nothing to grab (printed).
int ReadDisc(CData& data, CTrackList& list, CliView& view, bool lookUp, int choose);

// The job's 200 ms poll until it ends, and Ctrl-C as Stop. `job` has
// IsProcessing, OnTimer and StopProcess.
template <typename Job> void RunJob(Job& job, CliView& view);

// The grab log, one line a entry marked "!" (attention), "+" (success).
void PrintLog(CData& data);

} // namespace qmcli

#include "CliView.h"

template <typename Job> void qmcli::RunJob(Job& job, CliView& view) {
    bool stopping = false;
    while (job.IsProcessing()) {
        bool interrupted = false;
        if constexpr (requires { job.GetWakeEvent(); }) {
            // A track read or ended is taken up at once: the next one is
            // read, or reported, without waiting for the tick.
            for (int slice = 0; slice < 10 && !interrupted; ++slice) {
                interrupted = InterruptGuard::Wait(0);
                if (!interrupted && job.GetWakeEvent()->Wait(std::chrono::milliseconds(20))) {
                    break;
                }
            }
        } else {
            interrupted = InterruptGuard::Wait(200);
        }
        if (interrupted && InterruptGuard::Take() && !stopping) {
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
