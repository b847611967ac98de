#include "jobs/RipReport.h"

#include <filesystem>

#include "core/Text.h"
#include "core/Trace.h"
#include "output/CueSheet.h"

namespace {

std::string Hex(std::uint32_t value) {
    return qm::Format("%08X", value);
}

} // namespace

std::string ArResultText(const RipReport& report, const RipReportTrack& track) {
    QM_TRACE("RipReport");
    if (!track.verdict.checked) {
        QM_RETURN(0, qm::VerdictText(track.verdict));
    }
    if (!report.disc.arFound && !report.disc.arError.empty()) {
        QM_RETURN(1, std::string("Not verified (AccurateRip could not be asked)"));
    }
    QM_RETURN(2, qm::ArVerdictText(track.verdict.ar));
}

std::string CtdbResultText(const RipReport& report, const RipReportTrack& track) {
    QM_TRACE("RipReport");
    if (!track.verdict.checked) {
        QM_RETURN(0, qm::VerdictText(track.verdict));
    }
    if (!report.disc.ctdbFound && !report.disc.ctdbError.empty()) {
        QM_RETURN(1, std::string("not verified (CTDB could not be asked)"));
    }
    QM_RETURN(2, qm::CtdbVerdictText(track.verdict.ctdb));
}

std::vector<std::pair<std::string, std::string>> RipTagFields(const RipReport& report,
                                                              const RipReportTrack& track) {
    QM_TRACE("RipReport");
    std::vector<std::pair<std::string, std::string>> fields;
    if (!report.verified) {
        QM_RETURN(0, fields);
    }
    const qm::ArDiscIds& ids = report.disc.arIds;
    fields.emplace_back(kTagAccurateRipResult, ArResultText(report, track));
    fields.emplace_back(kTagCtdbResult, CtdbResultText(report, track));
    fields.emplace_back(kTagAccurateRipDiscId, qm::Format("%03d-%08x-%08x-%08x", ids.audioTracks,
                                                          ids.id1, ids.id2, ids.cddb));
    if (track.sums.complete) {
        fields.emplace_back(kTagAccurateRipV1, Hex(track.sums.arV1));
        fields.emplace_back(kTagAccurateRipV2, Hex(track.sums.arV2));
        fields.emplace_back(kTagCrc32, Hex(track.sums.crc32));
    }
    QM_RETURN(1, fields);
}

std::string RipSummary(const RipReport& report) {
    QM_TRACE("RipReport");
    if (!report.verified) {
        QM_RETURN(0, std::string("Not verified"));
    }
    int accurate = 0;
    int unknown = 0;
    for (const RipReportTrack& track : report.tracks) {
        accurate += track.verdict.ar.status == qm::VerifyStatus::kMatch ? 1 : 0;
        unknown += track.verdict.ar.status == qm::VerifyStatus::kUnknown ? 1 : 0;
    }
    const int total = static_cast<int>(report.tracks.size());
    if (unknown == total) {
        QM_RETURN(1, std::string("Not in database"));
    }
    if (accurate == total) {
        QM_RETURN(2, qm::Format("All %d tracks accurately ripped", total));
    }
    QM_RETURN(3, qm::Format("%d of %d tracks accurately ripped", accurate, total));
}

std::string RipLogText(const RipReport& report) {
    QM_TRACE("RipReport");
    std::string log = "Quavermill " QM_VERSION " rip log\n\n";
    log += "Drive: " + report.drive + "\n";
    log += qm::Format("Read offset: %+d samples\n", report.readOffset);
    log += "Jitter correction: " + report.jitterMode + "\n";
    log += "Disc: " + report.artist + " / " + report.album + "\n";
    log += "CDDB disc id: " + Hex(report.cddbId) + "\n";
    if (report.verified) {
        const qm::DiscVerification& disc = report.disc;
        log += "AccurateRip: " + disc.arUrl +
               (disc.arFound            ? " (found)"
                : !disc.arError.empty() ? " (look-up failed: " + disc.arError + ")"
                                        : " (not in database)") +
               "\n";
        log += "CTDB: " + qm::CtdbTocString(disc.toc) +
               (disc.ctdbFound            ? " (found)"
                : !disc.ctdbError.empty() ? " (look-up failed: " + disc.ctdbError + ")"
                                          : " (not in database)") +
               "\n";
    }
    for (const RipReportTrack& track : report.tracks) {
        log += qm::Format("\nTrack %02d\n", track.number);
        log += "  File: " + track.file + "\n";
        log += qm::Format("  Peak level: %.1f %%\n", track.sums.peak * 100.0 / 32767.0);
        log += "  CRC-32: " + Hex(track.sums.crc32) + "\n";
        log += "  AccurateRip v1: " + Hex(track.sums.arV1) + "\n";
        log += "  AccurateRip v2: " + Hex(track.sums.arV2) + "\n";
        if (report.verified) {
            log += "  AccurateRip: " + ArResultText(report, track) + "\n";
            log += "  CTDB: " + CtdbResultText(report, track) + "\n";
        }
    }
    log += "\n" + RipSummary(report) + "\n";
    QM_RETURN(0, log);
}

std::string RipCueSheetText(const RipReport& report) {
    QM_TRACE("RipReport");
    CCueSheet sheet;
    sheet.AddRem("DISCID", Hex(report.cddbId));
    sheet.AddRem("COMMENT", "\"Quavermill " QM_VERSION "\"");
    sheet.SetPerformer(report.artist);
    sheet.SetTitle(report.album);
    sheet.SetCatalog(report.catalog);
    for (const RipReportTrack& track : report.tracks) {
        const std::string name = std::filesystem::path(track.file).filename().string();
        CCueSheet::File& file = sheet.AddFile(name, CCueSheet::FileTypeFor(name));
        CCueSheet::Track entry;
        entry.number = track.number;
        entry.title = track.title;
        entry.performer = track.artist;
        if (const auto isrc = report.isrcs.find(track.number); isrc != report.isrcs.end()) {
            sheet.SetIsrc(track.number, isrc->second);
        }
        file.tracks.push_back(entry);
    }
    QM_RETURN(0, sheet.Text());
}
