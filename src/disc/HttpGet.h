// One HTTP(S) GET over libcurl for the web services the disc layer asks
// (MusicBrainz, the cover art archive): a time-out for the whole exchange, a
// limit on the body, redirects followed (http and https only), and what a
// refusing server said (status, Retry-After).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

struct HttpRequest {
    std::string url;
    std::string userAgent;
    std::string accept;               // the Accept header, "" for none
    std::int32_t timeoutMs = 30000;   // the whole exchange
    std::size_t maxBytes = 16u << 20; // a longer body fails with tooLarge
};

struct HttpReply {
    bool done = false;            // an answer came (of any status)
    long status = 0;              // HTTP status
    std::string body;             // as sent, up to the limit
    std::string type;             // Content-Type, "" when none was sent
    std::int32_t retryAfter = -1; // seconds a 503 or 429 asks to wait, -1 when it says none
    bool tooLarge = false;
    std::string error; // why there was no answer, in words
};

HttpReply HttpGet(const HttpRequest& request);

} // namespace qm
