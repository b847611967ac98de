#include "disc/HttpGet.h"

#include <algorithm>
#include <curl/curl.h>
#include <memory>
#include <mutex>

#include "core/Trace.h"

namespace qm {

namespace {

struct CurlFree {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

struct Body {
    std::string text;
    std::size_t limit = 0;
    bool overflow = false;
};

std::size_t Take(char* data, std::size_t size, std::size_t count, void* user) {
    auto* body = static_cast<Body*>(user);
    const std::size_t bytes = size * count;
    if (body->text.size() + bytes > body->limit) {
        body->overflow = true;
        return 0;
    }
    body->text.append(data, bytes);
    return bytes;
}

} // namespace

HttpReply HttpGet(const std::string& url, std::size_t limit, long timeoutMs) {
    QM_TRACE("HttpGet");
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    HttpReply reply;
    std::unique_ptr<CURL, CurlFree> handle(curl_easy_init());
    if (!handle) {
        reply.error = "out of memory";
        QM_RETURN(0, reply);
    }
    CURL* curl = handle.get();
    Body body;
    body.limit = limit;
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min(timeoutMs, kHttpConnectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Quavermill/" QM_VERSION);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Take);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    const CURLcode result = curl_easy_perform(curl);
    if (body.overflow) {
        reply.reached = true;
        reply.error = "the answer is too long";
        QM_RETURN(1, reply);
    }
    if (result != CURLE_OK) {
        reply.error = error[0] != '\0' ? error : curl_easy_strerror(result);
        QM_RETURN(2, reply);
    }
    reply.reached = true;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    reply.body = std::move(body.text);
    QM_RETURN(3, reply);
}

} // namespace qm
