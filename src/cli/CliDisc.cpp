#include "CliDisc.h"

#include <cstdio>

#include "CliContext.h"
#include "CliView.h"
#include "core/Text.h"
#include "disc/LocalCDDB.h"
#include "jobs/Data.h"
#include "jobs/NamesLookup.h"
#include "jobs/TrackList.h"
#include "settings/Settings.h"

namespace qmcli {

namespace {

// The look-up in the terminal: the requests run at once, the choice is
// --choose (or the only, or the first match), failures go to standard error.
class CliLookupView final : public CNamesLookupView {
public:
    explicit CliLookupView(int choose) : m_choose(choose) {}

    bool RunRequest(const std::string& /*text*/, const std::function<void()>& work) override {
        work();
        return true;
    }

    std::int32_t Choose(CQueryCDDBInfo& matches) override {
        matches.Init();
        const int count = static_cast<int>(matches.GetRows().size());
        if (m_choose > 0) {
            const std::int32_t chosen = matches.OnOK(m_choose - 1);
            if (chosen < 0) {
                PrintError(
                    qm::Format("there is no match %d; the look-up found %d", m_choose, count));
            }
            return chosen;
        }
        if (count > 1) {
            std::fprintf(stderr, "CDDB: %d matches; taking the first (another with --choose N)\n",
                         count);
        }
        return 0;
    }

    void ShowFailure(LookupFailure failure, const std::string& reason) override {
        switch (failure) {
        case LookupFailure::kNoDisc:
            PrintError("no disc in the drive, or its table of contents is unreadable");
            break;
        case LookupFailure::kQueryFailed:
            PrintError("the CDDB query failed: " + reason);
            break;
        case LookupFailure::kNoMatch:
            PrintError("the CDDB server knows no such disc");
            break;
        case LookupFailure::kEntryFailed:
            PrintError("the CDDB entry cannot be read: " + reason);
            break;
        }
    }

private:
    int m_choose;
};

// What a refresh asked the main window to do. True when it asked for a
// CDDB look-up.
bool RunPostedCommands(CliView& view, CTrackList& list) {
    bool lookUp = false;
    while (!view.PostedCommands().empty()) {
        const TracksCommand command = view.PostedCommands().front();
        view.PostedCommands().pop_front();
        switch (command) {
        case TracksCommand::kMarkAll:
            // The tracks to grab are the ones the options name.
            break;
        case TracksCommand::kToggleMixedCD:
            list.ToggleMixedCDMode();
            break;
        case TracksCommand::kGetCDDBInfo:
            lookUp = true;
            break;
        }
    }
    return lookUp;
}

} // namespace

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

bool ApplyFormatOption(const std::string& name, QuavermillSettings& settings) {
    if (name.empty()) {
        return true;
    }
    const std::optional<OutputFormat> format = ParseFormat(name);
    if (!format) {
        PrintError("unknown format '" + name + "' (wav, mp3, ogg, flac, ape, wma)");
        return false;
    }
    settings.DefaultTrack.format.format = *format;
    return true;
}

int SaveChosenNames(CData& data, const CliContext& context, bool save, bool chosen,
                    const char* what) {
    if (!save) {
        return kExitOk;
    }
    if (!chosen) {
        PrintError(qm::Format("nothing to save: choose a %s with --choose N", what));
        return kExitUsage;
    }
    if (!data.SaveLocalCDDB()) {
        PrintError("cannot write the local CDDB entry in " + data.LocalCDDBFolder().string());
        return kExitFailed;
    }
    if (!context.json) {
        std::printf("\nSaved to %s\n",
                    (data.LocalCDDBFolder() / LocalCDDBFileName(data.GetCDDBID())).c_str());
    }
    return kExitOk;
}

int ReadDisc(CData& data, CTrackList& list, CliView& view, bool lookUp, int choose) {
    list.Refresh();
    if (!list.HasDisc()) {
        PrintError("no disc in the drive, or its table of contents is unreadable");
        return kExitUsage;
    }
    if (!list.HasAudioTracks()) {
        PrintError("the disc has no audio tracks");
        return kExitUsage;
    }
    const bool posted = RunPostedCommands(view, list);
    if (lookUp || data.Settings().job.GetCDDBBeforeGrab || posted) {
        CliLookupView lookupView(choose);
        if (CNamesLookup::Run(data, list, lookupView)) {
            const DiscInfo& disc = data.Ripper().GetDiscInfo();
            std::fprintf(stderr, "CDDB: %s / %s\n", disc.artist.c_str(), disc.title.c_str());
        }
    }
    return kExitOk;
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

} // namespace qmcli
