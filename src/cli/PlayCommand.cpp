// `play`: plays one track of the disc through the playback device, as the
// window's player does, in real time to the track's end. On a terminal,
// space pauses and resumes, the arrow keys seek 10 seconds, q stops; a live
// line shows the position as the window's time display does.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "CliContext.h"
#include "CliView.h"
#include "core/Diagnostics.h"
#include "core/Error.h"
#include "core/Text.h"
#include "disc/CDRipper.h"
#include "jobs/Data.h"
#include "player/Player.h"

namespace qmcli {

namespace {

constexpr int kTickMs = 100;
constexpr int kDisplayTicks = 5;
constexpr int kSeekStepSeconds = 10;
// Ticks without a change of position before an analog track counts as ended.
constexpr int kEndedTicks = 15;

struct PlayOptions {
    int track = 0; // 0: the first audio track
    int from = 0;
};

enum class Key { kNone, kPause, kBack, kForward, kQuit };

// One key from standard input when it is ready; arrows come as ESC [ C/D.
Key ReadKey() {
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    if (::poll(&ready, 1, 0) <= 0 || (ready.revents & POLLIN) == 0) {
        return Key::kNone;
    }
    char bytes[8] = {};
    const ssize_t count = ::read(STDIN_FILENO, bytes, sizeof bytes);
    if (count <= 0) {
        return Key::kNone;
    }
    if (count >= 3 && bytes[0] == '\x1b' && bytes[1] == '[') {
        return bytes[2] == 'C' ? Key::kForward : bytes[2] == 'D' ? Key::kBack : Key::kNone;
    }
    switch (bytes[0]) {
    case ' ':
        return Key::kPause;
    case 'q':
    case 'Q':
        return Key::kQuit;
    default:
        return Key::kNone;
    }
}

// The window's time display: "(mm:ss)", spaces for the brackets while paused.
std::string TimeText(int seconds, bool paused) {
    const char open = paused ? ' ' : '(';
    const char close = paused ? ' ' : ')';
    return qm::Format("%c%02d:%02d%c", open, seconds / 60, seconds % 60, close);
}

// The reason playing cannot start on the device the settings name; "" when
// it can.
std::string DeviceProblem(std::int32_t device) {
    const int count = CPlayer::GetDeviceCount();
    if (count == 0) {
        return "no sound output device can be opened";
    }
    if (device < 0 || device >= count) {
        return qm::Format("PlaybackDevice %d is beyond the %d sound output device(s) (0 to %d)",
                          device, count, count - 1);
    }
    return {};
}

int RunPlay(const CliContext& context, const PlayOptions& options) {
    if (!context.OpenNamedImage()) {
        return kExitUsage;
    }
    auto data = std::make_unique<CData>();
    context.PrepareData(*data);
    QuavermillSettings& settings = data->Settings();
    CCDRipper& ripper = data->Ripper();
    if (!context.AttachDrive(ripper, settings)) {
        return kExitUsage;
    }
    std::int32_t first = -1;
    std::int32_t last = -1;
    if (!ripper.GetTrackRange(&first, &last)) {
        PrintError("no disc in the drive, or its table of contents is unreadable");
        return kExitUsage;
    }
    std::int32_t track = options.track;
    if (track == 0) {
        for (track = first; track <= last && ripper.IsDataTrack(track); ++track) {
        }
    }
    if (track < first || track > last) {
        PrintError(qm::Format("the disc has no track %d (tracks %d to %d)", track, first, last));
        return kExitUsage;
    }
    if (ripper.IsDataTrack(track)) {
        PrintError(qm::Format("track %d is a data track", track));
        return kExitUsage;
    }
    const std::int32_t length = ripper.GetTrackLength(track, true) / qm::kSectorsPerSecond;
    if (options.from < 0 || (options.from > 0 && options.from >= length)) {
        PrintError(qm::Format("--from %d is not within track %d (%d seconds long)", options.from,
                              track, length));
        return kExitUsage;
    }
    const bool digital = settings.player.HowToPlay != 0;
    if (digital) {
        if (const std::string problem = DeviceProblem(settings.player.PlaybackDevice);
            !problem.empty()) {
            PrintError(problem);
            return kExitUsage;
        }
    }

    data->SetFirstTrack(first);
    if (!data->Play(track - first, options.from)) {
        PrintError(digital ? "the track cannot be played"
                           : "the drive cannot play audio itself (a disc image cannot); set "
                             "HowToPlay to 1 to play it through the sound output");
        return kExitUsage;
    }
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::fprintf(stderr, "Playing track %d (%02d:%02d)%s\n", track, length / 60, length % 60,
                 ::isatty(STDIN_FILENO) != 0 ? ": space pauses, left/right seek 10 s, q stops"
                                             : "");

    InterruptGuard interrupts;
    const SingleKeyMode keys;
    int exitCode = kExitOk;
    int lastPosition = -2;
    int unchanged = 0;
    for (int tick = 0;; ++tick) {
        if (InterruptGuard::Wait(kTickMs) && InterruptGuard::Take()) {
            exitCode = kExitCancelled;
            break;
        }
        const Key key = keys.IsActive() ? ReadKey() : Key::kNone;
        const int position = data->GetPlayerPosition();
        const int seconds = position < 0 ? 0 : position / qm::kSectorsPerSecond;
        if (key == Key::kQuit) {
            break;
        }
        if (key == Key::kPause) {
            data->Pause(!data->IsPlayPaused());
        } else if (key == Key::kBack || key == Key::kForward) {
            const int step = key == Key::kBack ? -kSeekStepSeconds : kSeekStepSeconds;
            data->PlayerSeek(std::max(seconds + step, 0));
        }
        if (digital ? data->IsPlayEnded() : false) {
            break;
        }
        if (!digital) {
            unchanged = position == lastPosition && !data->IsPlayPaused() ? unchanged + 1 : 0;
            lastPosition = position;
            if (unchanged >= kEndedTicks) {
                break;
            }
        }
        if (terminal && (tick % kDisplayTicks == 0 || key != Key::kNone)) {
            std::fprintf(stderr, "\r%s / %02d:%02d ",
                         TimeText(seconds, data->IsPlayPaused()).c_str(), length / 60, length % 60);
            std::fflush(stderr);
        }
    }
    if (terminal) {
        std::fputc('\n', stderr);
    }
    const bool ended = data->IsPlayEnded();
    data->StopPlay(false);
    // A device that would not open, a read that failed: the worker filed why.
    const CErrorItem* item = g_Error.GetLastActual();
    if (ended && item != nullptr && item->code != qm::err::kCancelled) {
        PrintError(g_Error.FullMessage(item));
        return item->module == qm::mod::kPlayer ? kExitUsage : kExitFailed;
    }
    return exitCode;
}

} // namespace

Command AddPlayCommand(CLI::App& app) {
    auto options = std::make_shared<PlayOptions>();
    Command command;
    command.app = app.add_subcommand(
        "play", "Play a track of the disc through the playback device (\"PlaybackDevice\")");
    command.app->option_defaults()->group("Options");
    command.app
        ->add_option("--track", options->track,
                     "The track to play (default: the first audio "
                     "track)")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    command.app->add_option("--from", options->from, "Start this many seconds into the track")
        ->type_name("SECONDS")
        ->check(CLI::NonNegativeNumber);
    command.app->footer("On a terminal: space pauses and resumes, left/right seek 10 seconds, q "
                        "stops. Exit status: 0 played to its end (or stopped with q), 2 usage "
                        "or set-up error (no device, or PlaybackDevice beyond the devices), 3 "
                        "cancelled with Ctrl-C.");
    command.run = [options](const CliContext& context) { return RunPlay(context, *options); };
    return command;
}

} // namespace qmcli
