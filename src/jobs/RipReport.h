// What a grab leaves beside its files as proof and description of the rip:
// the rip log (program, drive, read offset and settings, per track the
// file, peak level, CRC-32 and the AccurateRip and CTDB verdicts, and a
// summary line) and a cue sheet of the grabbed files (one FILE per track).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disc/RipVerifier.h"

struct RipReportTrack {
    int number = 0;
    std::string file;
    std::string title;
    std::string artist;
    qm::TrackChecksums sums;
    qm::TrackVerdict verdict;
};

struct RipReport {
    std::string drive;
    std::int32_t readOffset = 0;
    std::string jitterMode; // the "JitterCorrection" text
    std::string artist;
    std::string album;
    std::uint32_t cddbId = 0;
    bool verified = false; // the databases were asked
    qm::DiscVerification disc;
    std::vector<RipReportTrack> tracks;
};

// "All 3 tracks accurately ripped", "2 of 3 tracks accurately ripped",
// "Not verified".
std::string RipSummary(const RipReport& report);
std::string RipLogText(const RipReport& report);
// The cue sheet (through the shared cue sheet writer), file names relative
// to the sheet's folder.
std::string RipCueSheetText(const RipReport& report);
