// What a grab leaves beside its files as proof and description of the rip:
// the rip log (program, drive, read offset and settings, per track the
// file, peak level, CRC-32 and the AccurateRip and CTDB verdicts, and a
// summary line) and a cue sheet of the grabbed files (one FILE per track).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
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
    // What a real drive reports of the disc ("" / absent where it reports
    // nothing): the catalogue number and the ISRC of each track by number.
    std::string catalog;
    std::map<int, std::string> isrcs;
    bool verified = false; // the databases were asked
    qm::DiscVerification disc;
    std::vector<RipReportTrack> tracks;
};

// The names the verification results go under in a track's tag (Vorbis
// comments, ID3v2 TXXX descriptions, APE items, WMA attributes).
constexpr const char* kTagAccurateRipResult = "ACCURATERIPRESULT";
constexpr const char* kTagAccurateRipV1 = "ACCURATERIPV1";
constexpr const char* kTagAccurateRipV2 = "ACCURATERIPV2";
constexpr const char* kTagAccurateRipDiscId = "ACCURATERIPDISCID";
constexpr const char* kTagCtdbResult = "CTDBRESULT";
constexpr const char* kTagCrc32 = "CRC32";

// The AccurateRip and CTDB results of a track as the user reads them: the
// verdict, or why there is none (the track was not read whole, the
// database could not be asked).
std::string ArResultText(const RipReport& report, const RipReportTrack& track);
std::string CtdbResultText(const RipReport& report, const RipReportTrack& track);
// The tag fields of a verified grab's track, by the names above; none when
// the grab did not verify. Checksums only for a track read whole.
std::vector<std::pair<std::string, std::string>> RipTagFields(const RipReport& report,
                                                              const RipReportTrack& track);

// "All 3 tracks accurately ripped", "2 of 3 tracks accurately ripped",
// "Not verified".
std::string RipSummary(const RipReport& report);
std::string RipLogText(const RipReport& report);
// The cue sheet (through the shared cue sheet writer), file names relative
// to the sheet's folder.
std::string RipCueSheetText(const RipReport& report);
