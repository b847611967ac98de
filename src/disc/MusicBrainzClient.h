// The MusicBrainz web service client: looks a disc id up
// (/ws/2/discid/<id>?inc=recordings+artist-credits), fetches one release
// (/ws/2/release/<mbid>?inc=recordings+artist-credits+labels) and the front
// cover from the cover art archive. It names itself with a User-Agent the
// service asks of every client and sends at most one request a second,
// process-wide; a 503 "slow down" is retried after the wait the server asks
// for, a few times, then reported.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "disc/HttpGet.h"
#include "disc/MusicBrainzRelease.h"

class CMusicBrainz {
public:
    enum Status { kOk = 0, kNotFound = 1, kFailed = 2 };

    static constexpr const char* kDefaultServer = "musicbrainz.org";
    static constexpr const char* kDefaultCoverArtBase = "https://coverartarchive.org";
    // Pictures larger than this are refused.
    static constexpr std::size_t kMaxCoverBytes = 8u << 20;

    // `server` is "host[:port]" or a URL's start ("http://host:port"); a bare
    // host is asked over https, a host with a port over plain http.
    explicit CMusicBrainz(std::string server = kDefaultServer);

    // The releases that hold disc `discId`. kNotFound (no error) when the
    // server does not know the disc; kFailed with GetLastError for no network,
    // a malformed answer, an answer for another disc, a server that refuses.
    Status LookUp(const std::string& discId, std::vector<qm::MbRelease>* releases);
    // The whole release `mbid`.
    Status GetRelease(const std::string& mbid, qm::MbRelease* release);
    // Names `disc` from the chosen match: the whole release is fetched and
    // its medium holding `discId` used; when that fails, the match as the
    // disc-id answer gave it (GetLastError then says why). kOk either way
    // unless the match names no medium of this disc.
    Status Choose(const qm::MbMatch& match, const std::string& discId, DiscInfo* disc);
    // The front cover of release `mbid` under `base` (the archive's URL):
    // the picture's bytes and MIME type (JPEG or PNG, by content).
    Status GetFrontCover(const std::string& base, const std::string& mbid, std::string* bytes,
                         std::string* mime);
    // What GetFrontCover makes of the archive's answer: a JPEG or PNG
    // picture (by its first bytes) of at most kMaxCoverBytes.
    Status TakeFrontCover(const qm::HttpReply& reply, std::string* bytes, std::string* mime);

    const std::string& GetLastError() const { return m_lastError; }

    void SetTimeout(std::int32_t milliseconds) { m_timeoutMs = milliseconds; }
    // The shortest time between two requests (the service's rule is a
    // second; tests of other things may shorten it).
    static void SetMinimumInterval(std::chrono::milliseconds interval);
    // The longest wait a 503 may ask for before the client gives up at once.
    static constexpr std::int32_t kMaxRetryWaitSeconds = 10;
    static constexpr int kRetries = 2;

    // "Quavermill/<version> ( <contact> )".
    static std::string UserAgent();

private:
    // A GET of `path` on the server with the rate limit and the retries;
    // kOk with the body, kNotFound for a 404.
    Status Get(const std::string& url, std::size_t limit, std::string* body, std::string* type);
    std::string BaseUrl() const;

    std::string m_server;
    std::int32_t m_timeoutMs = 30000;
    std::string m_lastError;
};
