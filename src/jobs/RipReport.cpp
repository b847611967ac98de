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
            log += "  AccurateRip: " + qm::ArVerdictText(track.verdict.ar) + "\n";
            log += "  CTDB: " + qm::CtdbVerdictText(track.verdict.ctdb) + "\n";
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
    for (const RipReportTrack& track : report.tracks) {
        const std::string name = std::filesystem::path(track.file).filename().string();
        CCueSheet::File& file = sheet.AddFile(name, CCueSheet::FileTypeFor(name));
        CCueSheet::Track entry;
        entry.number = track.number;
        entry.title = track.title;
        entry.performer = track.artist;
        file.tracks.push_back(entry);
    }
    QM_RETURN(0, sheet.Text());
}
