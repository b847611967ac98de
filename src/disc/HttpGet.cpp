#include "disc/HttpGet.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <mutex>
#include <string_view>

#include "core/Text.h"

namespace qm {

namespace {

struct Transfer {
    HttpReply* reply;
    std::size_t limit;
};

std::size_t TakeBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    if (transfer->reply->body.size() + bytes > transfer->limit) {
        transfer->reply->tooLarge = true;
        return 0; // ends the transfer
    }
    transfer->reply->body.append(data, bytes);
    return bytes;
}

std::size_t TakeHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* reply = static_cast<HttpReply*>(user);
    const std::size_t bytes = size * count;
    std::string_view line(data, bytes);
    // A redirect's headers come first: each new status line starts afresh.
    if (line.starts_with("HTTP/")) {
        reply->retryAfter = -1;
    }
    static constexpr std::string_view kRetry = "retry-after:";
    if (line.size() > kRetry.size() && StartsWithNoCase(line, kRetry)) {
        std::string_view value = line.substr(kRetry.size());
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        std::int32_t seconds = -1;
        const auto result = std::from_chars(value.data(), value.data() + value.size(), seconds);
        // An HTTP date instead of seconds counts as no advice.
        reply->retryAfter = result.ec == std::errc() && seconds >= 0 ? seconds : -1;
    }
    return bytes;
}

struct CurlFree {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

} // namespace

HttpReply HttpGet(const HttpRequest& request) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    HttpReply reply;
    std::unique_ptr<CURL, CurlFree> handle(curl_easy_init());
    if (!handle) {
        reply.error = "out of memory";
        return reply;
    }
    CURL* curl = handle.get();
    Transfer transfer{&reply, request.maxBytes};
    std::unique_ptr<curl_slist, CurlFree> headers;
    if (!request.accept.empty()) {
        headers.reset(curl_slist_append(nullptr, ("Accept: " + request.accept).c_str()));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    }
    char error[CURL_ERROR_SIZE] = {};
    const long total = std::max<long>(request.timeoutMs, 1);
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, total);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min<long>(total, 10000));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, request.userAgent.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, TakeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, TakeHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");

    const CURLcode result = curl_easy_perform(curl);
    if (reply.tooLarge) {
        reply.error = Format("the answer is larger than %zu bytes", request.maxBytes);
        return reply;
    }
    if (result != CURLE_OK) {
        reply.error = error[0] != '\0' ? std::string(error) : curl_easy_strerror(result);
        return reply;
    }
    reply.done = true;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    char* type = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr) {
        reply.type = type;
    }
    return reply;
}

} // namespace qm
