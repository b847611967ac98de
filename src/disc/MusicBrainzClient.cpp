#include "disc/MusicBrainzClient.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include "core/Text.h"
#include "core/Trace.h"
#include "disc/HttpGet.h"

namespace {

std::mutex g_rateMutex;
std::chrono::steady_clock::time_point g_lastRequest;
std::chrono::milliseconds g_interval{1000};

// Waits until the last request is at least the interval old, and counts this
// one as the last.
void WaitForTurn() {
    std::lock_guard<std::mutex> lock(g_rateMutex);
    const auto now = std::chrono::steady_clock::now();
    const auto due = g_lastRequest + g_interval;
    if (now < due) {
        std::this_thread::sleep_for(due - now);
    }
    g_lastRequest = std::chrono::steady_clock::now();
}

bool SafeId(const std::string& id) {
    return !id.empty() && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               c == '-' || c == '_' || c == '.';
    });
}

// The picture's type by its first bytes.
std::string PictureType(const std::string& bytes) {
    if (bytes.size() > 3 && bytes.compare(0, 3, "\xFF\xD8\xFF") == 0) {
        return "image/jpeg";
    }
    if (bytes.size() > 8 && bytes.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0) {
        return "image/png";
    }
    return {};
}

} // namespace

CMusicBrainz::CMusicBrainz(std::string server) : m_server(std::move(server)) {
    QM_TRACE("MusicBrainz");
    if (m_server.empty()) {
        m_server = kDefaultServer;
    }
}

void CMusicBrainz::SetMinimumInterval(std::chrono::milliseconds interval) {
    QM_TRACE("MusicBrainz");
    std::lock_guard<std::mutex> lock(g_rateMutex);
    g_interval = interval;
}

std::string CMusicBrainz::UserAgent() {
    QM_TRACE("MusicBrainz");
    return "Quavermill/" QM_VERSION " ( quavermill@localhost )";
}

std::string CMusicBrainz::BaseUrl() const {
    QM_TRACE("MusicBrainz");
    if (m_server.find("://") != std::string::npos) {
        std::string base = m_server;
        while (!base.empty() && base.back() == '/') {
            base.pop_back();
        }
        QM_RETURN(0, base);
    }
    // A port of its own marks a server of one's own, spoken to in plain HTTP.
    const bool port = m_server.find(':') != std::string::npos && m_server.front() != '[';
    QM_RETURN(1, (port ? "http://" : "https://") + m_server);
}

CMusicBrainz::Status CMusicBrainz::Get(const std::string& url, std::size_t limit, std::string* body,
                                       std::string* type) {
    QM_TRACE("MusicBrainz");
    qm::HttpRequest request;
    request.url = url;
    request.userAgent = UserAgent();
    request.timeoutMs = m_timeoutMs;
    request.maxBytes = limit;
    for (int attempt = 0;; ++attempt) {
        WaitForTurn();
        const qm::HttpReply reply = qm::HttpGet(request);
        if (!reply.done) {
            m_lastError = "MusicBrainz could not be reached: " + reply.error;
            QM_RETURN(0, kFailed);
        }
        if (reply.status == 200) {
            *body = reply.body;
            *type = reply.type;
            m_lastError.clear();
            QM_RETURN(1, kOk);
        }
        if (reply.status == 404) {
            m_lastError.clear();
            QM_RETURN(2, kNotFound);
        }
        if (reply.status == 503 || reply.status == 429) {
            const std::int32_t wait = reply.retryAfter >= 0 ? reply.retryAfter : 1;
            if (attempt < kRetries && wait <= kMaxRetryWaitSeconds) {
                std::this_thread::sleep_for(std::chrono::seconds(wait));
                continue;
            }
            m_lastError = qm::Format("The MusicBrainz server is busy (HTTP %ld) and asks to "
                                     "slow down; try again later.",
                                     reply.status);
            QM_RETURN(3, kFailed);
        }
        m_lastError = qm::Format("The MusicBrainz server answered HTTP status %ld.", reply.status);
        QM_RETURN(4, kFailed);
    }
}

CMusicBrainz::Status CMusicBrainz::LookUp(const std::string& discId,
                                          std::vector<qm::MbRelease>* releases) {
    QM_TRACE("MusicBrainz");
    releases->clear();
    if (!SafeId(discId)) {
        m_lastError = "The disc has no MusicBrainz disc id.";
        QM_RETURN(0, kFailed);
    }
    std::string body;
    std::string type;
    const Status status =
        Get(BaseUrl() + "/ws/2/discid/" + discId + "?inc=recordings+artist-credits", 4u << 20,
            &body, &type);
    if (status != kOk) {
        QM_RETURN(1, status);
    }
    qm::MbDiscAnswer answer;
    std::string error;
    if (!qm::ParseMbDiscAnswer(body, &answer, &error)) {
        m_lastError = "MusicBrainz sent an answer that cannot be read: " + error + ".";
        QM_RETURN(2, kFailed);
    }
    if (answer.discId != discId) {
        m_lastError =
            "MusicBrainz answered for another disc (" + qm::MakeValidUtf8(answer.discId) + ").";
        QM_RETURN(3, kFailed);
    }
    *releases = std::move(answer.releases);
    QM_RETURN(4, releases->empty() ? kNotFound : kOk);
}

CMusicBrainz::Status CMusicBrainz::GetRelease(const std::string& mbid, qm::MbRelease* release) {
    QM_TRACE("MusicBrainz");
    if (!SafeId(mbid)) {
        m_lastError = "The release has no MusicBrainz id.";
        QM_RETURN(0, kFailed);
    }
    std::string body;
    std::string type;
    const Status status =
        Get(BaseUrl() + "/ws/2/release/" + mbid + "?inc=recordings+artist-credits+labels", 8u << 20,
            &body, &type);
    if (status != kOk) {
        QM_RETURN(1, status);
    }
    qm::MbRelease parsed;
    std::string error;
    if (!qm::ParseMbRelease(body, &parsed, &error)) {
        m_lastError = "MusicBrainz sent an answer that cannot be read: " + error + ".";
        QM_RETURN(2, kFailed);
    }
    if (parsed.id != mbid) {
        m_lastError = "MusicBrainz answered with another release.";
        QM_RETURN(3, kFailed);
    }
    *release = std::move(parsed);
    QM_RETURN(4, kOk);
}

CMusicBrainz::Status CMusicBrainz::Choose(const qm::MbMatch& match, const std::string& discId,
                                          DiscInfo* disc) {
    QM_TRACE("MusicBrainz");
    const auto trackCount = static_cast<std::int32_t>(disc->tracks.size());
    qm::MbRelease release;
    int medium = -1;
    std::string why;
    if (GetRelease(match.id, &release) == kOk) {
        medium = qm::FindMbMedium(release, discId, trackCount);
    } else {
        why = m_lastError;
    }
    if (medium < 0) {
        release = match.release;
        medium = match.medium;
    }
    if (medium < 0) {
        m_lastError = "The release holds no medium of this disc.";
        QM_RETURN(0, kFailed);
    }
    qm::ApplyMbRelease(release, medium, disc);
    m_lastError = why;
    QM_RETURN(1, kOk);
}

CMusicBrainz::Status CMusicBrainz::GetFrontCover(const std::string& base, const std::string& mbid,
                                                 std::string* bytes, std::string* mime) {
    QM_TRACE("MusicBrainz");
    if (!SafeId(mbid)) {
        m_lastError = "The release has no MusicBrainz id.";
        QM_RETURN(0, kFailed);
    }
    std::string root = base.empty() ? kDefaultCoverArtBase : base;
    while (!root.empty() && root.back() == '/') {
        root.pop_back();
    }
    qm::HttpRequest request;
    request.url = root + "/release/" + mbid + "/front";
    request.userAgent = UserAgent();
    request.timeoutMs = m_timeoutMs;
    request.maxBytes = kMaxCoverBytes;
    QM_RETURN(1, TakeFrontCover(qm::HttpGet(request), bytes, mime));
}

CMusicBrainz::Status CMusicBrainz::TakeFrontCover(const qm::HttpReply& reply, std::string* bytes,
                                                  std::string* mime) {
    QM_TRACE("MusicBrainz");
    if (reply.tooLarge || reply.body.size() > kMaxCoverBytes) {
        m_lastError = qm::Format("The cover picture is larger than %zu MB and was not taken.",
                                 kMaxCoverBytes >> 20);
        QM_RETURN(1, kFailed);
    }
    if (!reply.done) {
        m_lastError = "The cover art archive could not be reached: " + reply.error;
        QM_RETURN(2, kFailed);
    }
    if (reply.status == 404) {
        m_lastError.clear();
        QM_RETURN(3, kNotFound);
    }
    if (reply.status != 200) {
        m_lastError = qm::Format("The cover art archive answered HTTP status %ld.", reply.status);
        QM_RETURN(4, kFailed);
    }
    const std::string kind = PictureType(reply.body);
    if (kind.empty()) {
        m_lastError = "The cover art archive sent no JPEG or PNG picture.";
        QM_RETURN(5, kFailed);
    }
    *bytes = reply.body;
    *mime = kind;
    m_lastError.clear();
    QM_RETURN(6, kOk);
}
