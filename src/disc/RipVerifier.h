// Looks a disc up in AccurateRip and the CUETools database and judges each
// ripped track by its checksums. The look-ups are network calls: they run
// on a worker (a grab's, or the terminal's), never on the window's thread.
// A disc the databases do not know is "not in database", never a failure.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "disc/AccurateRip.h"
#include "disc/CdDrive.h"
#include "disc/Ctdb.h"
#include "disc/RipChecksums.h"

namespace qm {

constexpr const char* kDefaultAccurateRipServer = "http://www.accuraterip.com";
constexpr const char* kDefaultCtdbServer = "http://db.cuetools.net";

struct DiscVerification {
    DiscToc toc;
    ArDiscIds arIds;
    std::string arUrl;
    bool arFound = false;
    std::vector<ArChunk> arChunks;
    std::string arError; // the look-up failed (not: the disc is unknown)
    std::string ctdbUrl;
    bool ctdbFound = false;
    std::vector<CtdbEntry> ctdbEntries;
    std::string ctdbError;
};

DiscVerification LookUpDisc(const DiscToc& toc, const std::string& arServer,
                            const std::string& ctdbServer);

struct TrackVerdict {
    bool checked = false; // the whole track was read
    ArVerdict ar;
    CtdbVerdict ctdb;
};

// 1-based position of disc track `track` among the audio tracks; 0 for a
// data track or one not on the disc.
int AudioPosition(const DiscToc& toc, int track);
TrackVerdict VerifyTrack(const DiscVerification& disc, int track, const TrackChecksums& sums);
// "Accurately ripped (confidence 5) [v2], CTDB verified (confidence 3)"
std::string VerdictText(const TrackVerdict& verdict);

// The drive offset list, fetched from `server` once and kept as
// DriveOffsets.bin in `folder`; empty when it can be neither read nor fetched.
std::vector<DriveOffset> LoadDriveOffsets(const std::filesystem::path& folder,
                                          const std::string& server);

} // namespace qm
