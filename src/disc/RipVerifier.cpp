#include "disc/RipVerifier.h"

#include <fstream>
#include <sstream>

#include "core/Trace.h"
#include "disc/HttpGet.h"
#include "platform/AtomicFile.h"

namespace qm {

namespace {

// A 99-track answer of 200 chunks is under 200 KB.
constexpr std::size_t kAnswerLimit = 4 * 1024 * 1024;

std::string Base(std::string server) {
    while (!server.empty() && server.back() == '/') {
        server.pop_back();
    }
    return server;
}

// The databases answer quickly or not at all; a slow one must not hold up a grab.
HttpReply Fetch(const std::string& url) {
    HttpRequest request;
    request.url = url;
    request.userAgent = "Quavermill/" QM_VERSION;
    request.timeoutMs = 15000;
    request.maxBytes = kAnswerLimit;
    return HttpGet(request);
}

} // namespace

DiscVerification LookUpDisc(const DiscToc& toc, const std::string& arServer,
                            const std::string& ctdbServer) {
    QM_TRACE("RipVerifier");
    DiscVerification disc;
    disc.toc = toc;
    disc.arIds = AccurateRipIds(toc);
    disc.arUrl =
        AccurateRipUrl(arServer.empty() ? kDefaultAccurateRipServer : arServer, disc.arIds);
    const HttpReply ar = Fetch(disc.arUrl);
    if (!ar.done) {
        disc.arError = ar.error;
    } else if (ar.status == 200) {
        // An HTML page in place of the answer is the server's "not found".
        if (auto chunks = ParseDbar(ar.body)) {
            disc.arFound = true;
            disc.arChunks = std::move(*chunks);
        }
    } else if (ar.status != 404) {
        disc.arError = "HTTP status " + std::to_string(ar.status);
    }

    disc.ctdbUrl = CtdbLookupUrl(ctdbServer.empty() ? kDefaultCtdbServer : ctdbServer, toc);
    const HttpReply ctdb = Fetch(disc.ctdbUrl);
    if (!ctdb.done) {
        disc.ctdbError = ctdb.error;
    } else if (ctdb.status == 200) {
        if (auto entries = ParseCtdb(ctdb.body)) {
            disc.ctdbFound = !entries->empty();
            disc.ctdbEntries = std::move(*entries);
        } else {
            disc.ctdbError = "the answer is not the database's";
        }
    } else if (ctdb.status != 404) {
        disc.ctdbError = "HTTP status " + std::to_string(ctdb.status);
    }
    QM_RETURN(0, disc);
}

int AudioPosition(const DiscToc& toc, int track) {
    QM_TRACE("RipVerifier");
    int position = 0;
    for (const DiscTocTrack& entry : toc.tracks) {
        if (entry.data) {
            if (entry.number == track) {
                QM_RETURN(0, 0);
            }
            continue;
        }
        ++position;
        if (entry.number == track) {
            QM_RETURN(1, position);
        }
    }
    QM_RETURN(2, 0);
}

TrackVerdict VerifyTrack(const DiscVerification& disc, int track, const TrackChecksums& sums) {
    QM_TRACE("RipVerifier");
    TrackVerdict verdict;
    const int position = AudioPosition(disc.toc, track);
    if (!sums.complete || position == 0) {
        QM_RETURN(0, verdict);
    }
    verdict.checked = true;
    verdict.ar = MatchAccurateRip(disc.arChunks, ArSlot(disc.toc, position), sums.arV1, sums.arV2);
    verdict.ctdb = MatchCtdb(disc.ctdbEntries, position, sums.ctdbCrc);
    QM_RETURN(1, verdict);
}

std::string VerdictText(const TrackVerdict& verdict) {
    QM_TRACE("RipVerifier");
    if (!verdict.checked) {
        QM_RETURN(0, std::string("Not verified (the track was not read whole)"));
    }
    QM_RETURN(1, ArVerdictText(verdict.ar) + ", CTDB " + CtdbVerdictText(verdict.ctdb));
}

std::vector<DriveOffset> LoadDriveOffsets(const std::filesystem::path& folder,
                                          const std::string& server) {
    QM_TRACE("RipVerifier");
    const std::filesystem::path file = folder / "DriveOffsets.bin";
    // A file larger than any answer the server may send is not the list.
    std::error_code sizeError;
    const std::uintmax_t size = std::filesystem::file_size(file, sizeError);
    std::ifstream in;
    if (!sizeError && size <= kAnswerLimit) {
        in.open(file, std::ios::binary);
    }
    if (in) {
        std::ostringstream bytes;
        bytes << in.rdbuf();
        std::vector<DriveOffset> list = ParseDriveOffsets(bytes.str());
        if (!list.empty()) {
            QM_RETURN(0, list);
        }
    }
    const HttpReply reply = Fetch(Base(server.empty() ? kDefaultAccurateRipServer : server) +
                                  "/accuraterip/DriveOffsets.bin");
    if (!reply.done || reply.status != 200) {
        QM_RETURN(1, std::vector<DriveOffset>{});
    }
    std::vector<DriveOffset> list = ParseDriveOffsets(reply.body);
    if (!list.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        ReplaceFileContents(file, reply.body);
    }
    QM_RETURN(2, list);
}

} // namespace qm
