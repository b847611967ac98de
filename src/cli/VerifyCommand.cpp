// `verify`: reads tracks without writing audio files and judges them by
// AccurateRip and the CUETools database. `offset --find`: finds the drive's
// read offset from the disc's AccurateRip answer.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "CliContext.h"
#include "CliDisc.h"
#include "core/Error.h"
#include "core/Text.h"
#include "disc/CDRipper.h"
#include "disc/CdAccess.h"
#include "disc/OffsetFinder.h"
#include "disc/RipVerifier.h"
#include "pipeline/Encoder.h"
#include "settings/Settings.h"

namespace qmcli {

namespace {

// The end of the chain when only the checksums matter.
class DiscardSink : public CEncoder {
public:
    WriteResult Write(const void* /*data*/, std::int32_t /*frames*/) override {
        return WriteResult::Accepted;
    }
    std::int32_t SetInputProps(std::uint32_t /*rate*/, std::uint8_t /*channels*/,
                               std::int32_t /*bits*/) override {
        return 0;
    }
    void Close(bool /*complete*/) override { SignalFinish(); }
};

std::string Hex(std::uint32_t value) {
    return qm::Format("%08x", value);
}

const char* StatusName(qm::VerifyStatus status) {
    switch (status) {
    case qm::VerifyStatus::kMatch:
        return "match";
    case qm::VerifyStatus::kMismatch:
        return "mismatch";
    case qm::VerifyStatus::kUnknown:
        break;
    }
    return "unknown";
}

// The drive the settings or --device name, with the disc's table of contents
// read; false (printed) when there is nothing to read.
bool OpenDisc(const CliContext& context, QuavermillSettings& settings, CCDRipper& ripper,
              qm::DiscToc& toc) {
    if (!context.OpenNamedImage()) {
        return false;
    }
    context.LoadSettings(settings);
    if (!context.AttachDrive(ripper, settings)) {
        return false;
    }
    const auto drive = qm::HandleDrive(ripper.GetHandle());
    if (!drive || !drive->ReadToc(toc)) {
        PrintError("no disc in the drive, or its table of contents is unreadable");
        return false;
    }
    return true;
}

int RunVerify(const CliContext& context, const std::string& trackText) {
    QuavermillSettings settings;
    CCDRipper ripper;
    qm::DiscToc toc;
    if (!OpenDisc(context, settings, ripper, toc)) {
        return kExitUsage;
    }
    const auto tracks = ParseTrackList(trackText, toc.firstTrack, toc.lastTrack);
    if (!tracks || tracks->empty() || *tracks->begin() < toc.firstTrack ||
        *tracks->rbegin() > toc.lastTrack) {
        PrintError("--tracks takes 'all' or numbers and ranges of the disc's tracks");
        return kExitUsage;
    }
    const qm::DiscVerification disc =
        qm::LookUpDisc(toc, settings.verify.AccurateRipServer, settings.verify.CTDBServer);
    for (const std::string& error : {disc.arError, disc.ctdbError}) {
        if (!error.empty()) {
            std::fprintf(stderr, "Look-up failed: %s\n", error.c_str());
        }
    }
    ripper.SetJitterMode(settings.drive.JitterCorrection);
    ripper.SetReadOffset(settings.verify.ReadOffset);
    ripper.SetCutEnabled(false);
    CError registry;
    ripper.SetError(&registry);
    DiscardSink sink;

    nlohmann::ordered_json out;
    out["accuraterip"] = {{"found", disc.arFound}, {"url", disc.arUrl}};
    int best = 0;
    for (const qm::CtdbEntry& entry : disc.ctdbEntries) {
        best = std::max(best, entry.confidence);
    }
    out["ctdb"] = {{"found", disc.ctdbFound}, {"confidence", best}};
    out["tracks"] = nlohmann::ordered_json::array();
    bool failed = false;
    int accurate = 0;
    int checked = 0;
    if (!context.json) {
        std::printf(
            "AccurateRip: %s\nCTDB: %s\n\n", disc.arFound ? disc.arUrl.c_str() : "not in database",
            disc.ctdbFound ? qm::Format("found (confidence %d)", best).c_str() : "not in database");
    }
    for (const int track : *tracks) {
        if (qm::AudioPosition(toc, track) == 0) {
            std::fprintf(stderr, "Track %d is a data track and is not read.\n", track);
            continue;
        }
        registry.Clear();
        std::fprintf(stderr, "Reading track %d...\n", track);
        if (!ripper.ProcessSettings(track, &sink, true) || ripper.Start() != 1 ||
            registry.IsAnyActual()) {
            std::printf("Track %2d  read failed\n", track);
            failed = true;
            continue;
        }
        const qm::TrackChecksums sums = ripper.GetTrackChecksums();
        const qm::TrackVerdict verdict = qm::VerifyTrack(disc, track, sums);
        ++checked;
        accurate += verdict.ar.status == qm::VerifyStatus::kMatch ? 1 : 0;
        nlohmann::ordered_json ar = {{"status", StatusName(verdict.ar.status)},
                                     {"confidence", verdict.ar.confidence}};
        if (verdict.ar.version != 0) {
            ar["version"] = verdict.ar.version;
        }
        out["tracks"].push_back({{"number", track},
                                 {"arv1", Hex(sums.arV1)},
                                 {"arv2", Hex(sums.arV2)},
                                 {"crc32", Hex(sums.crc32)},
                                 {"accuraterip", ar},
                                 {"ctdb",
                                  {{"status", StatusName(verdict.ctdb.status)},
                                   {"confidence", verdict.ctdb.confidence}}}});
        if (!context.json) {
            std::printf("Track %2d  CRC32 %s  AR v1 %s v2 %s  %s\n", track, Hex(sums.crc32).c_str(),
                        Hex(sums.arV1).c_str(), Hex(sums.arV2).c_str(),
                        qm::VerdictText(verdict).c_str());
        }
    }
    if (context.json) {
        std::printf("%s\n", out.dump().c_str());
    } else {
        std::printf("\n%s\n",
                    disc.arFound
                        ? qm::Format("%d of %d tracks accurately ripped", accurate, checked).c_str()
                        : "Not in database");
    }
    return failed ? kExitFailed : kExitOk;
}

int RunOffset(const CliContext& context) {
    QuavermillSettings settings;
    CCDRipper ripper;
    qm::DiscToc toc;
    if (!OpenDisc(context, settings, ripper, toc)) {
        return kExitUsage;
    }
    const qm::DiscVerification disc =
        qm::LookUpDisc(toc, settings.verify.AccurateRipServer, settings.verify.CTDBServer);
    if (!disc.arFound) {
        PrintError(disc.arError.empty()
                       ? "the disc is not in the AccurateRip database; try another disc"
                       : "the AccurateRip look-up failed: " + disc.arError);
        return kExitFailed;
    }
    const qm::OffsetSearch found = qm::FindReadOffset(ripper.GetHandle(), toc, disc.arChunks);
    if (!found.found) {
        std::printf("No read offset found (%d tracks tried)\n", found.tracksTried);
        return kExitFailed;
    }
    std::printf("Read offset found: %+d (%d of %d tracks agree)\n", found.offset,
                found.tracksMatched, found.tracksTried);
    std::printf("Set it with: quavermill-cli config set ReadOffset %d\n", found.offset);
    return kExitOk;
}

} // namespace

Command AddVerifyCommand(CLI::App& app) {
    auto tracks = std::make_shared<std::string>("all");
    Command command;
    command.app = app.add_subcommand("verify", "Read tracks without writing audio files and check "
                                               "them against AccurateRip and CTDB");
    command.app->option_defaults()->group("Options");
    command.app
        ->add_option("--tracks", *tracks, "Tracks to verify: 'all' (the default) or e.g. 1,3-5")
        ->type_name("LIST");
    command.run = [tracks](const CliContext& context) { return RunVerify(context, *tracks); };
    return command;
}

Command AddOffsetCommand(CLI::App& app) {
    auto find = std::make_shared<bool>(false);
    Command command;
    command.app = app.add_subcommand(
        "offset", "The drive's read offset: --find tries the offsets against the disc's "
                  "AccurateRip answer");
    command.app->option_defaults()->group("Options");
    command.app->add_flag("--find", *find, "Find the read offset with the disc in the drive");
    command.run = [find](const CliContext& context) {
        if (!*find) {
            QuavermillSettings settings;
            context.LoadSettings(settings);
            std::printf("Read offset: %+d\n", settings.verify.ReadOffset);
            return static_cast<int>(kExitOk);
        }
        return RunOffset(context);
    };
    return command;
}

} // namespace qmcli
