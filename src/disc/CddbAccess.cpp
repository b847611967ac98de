#include "disc/CddbAccess.h"

#include <curl/curl.h>
#include <glib.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "core/CDDBSettings.h"
#include "core/Text.h"

#ifndef QM_VERSION
#define QM_VERSION "0"
#endif

namespace qm {

namespace {

struct Options {
    std::string server;
    std::string proxy;
    std::string client;
    std::string email;
    std::string path;
    std::string credentials;
    std::int32_t useProxy = 0;
    std::int32_t proxyPort = 0;
    std::int32_t port = 0;
    std::int32_t timeoutMs = 0;
};

std::mutex g_optionsLock;
Options g_options;
// Raised by CDDBCancel; a request ends when it changes under it.
std::atomic<unsigned> g_cancels{0};

thread_local std::string t_lastText;

// Query and server-list replies are a few lines; anything near this is not
// a CDDB server talking.
constexpr std::size_t kListReplyLimit = 64 * 1024;
// Room for the disc id, the track count, 99 track starts and the length.
constexpr int kDiscIdValues = 103;

int Fail(int error, std::string text) {
    SetAspiLibError(error);
    t_lastText = std::move(text);
    return kCdFailed;
}

int Done() {
    SetAspiLibError(kCdErrNone);
    t_lastText.clear();
    return kCdOk;
}

Options Snapshot() {
    std::lock_guard<std::mutex> lock(g_optionsLock);
    return g_options;
}

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// A server's words as they may go into the log: no control characters.
std::string Printable(std::string_view text) {
    std::string out(Utf8Prefix(text, 200));
    BlankControls(out);
    return out;
}

bool IsCategory(std::string_view text) {
    return !text.empty() && text.size() < sizeof(CddbMatch::category) &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return g_ascii_isalnum(c) || c == '_' || c == '-'; });
}

bool IsDiscId(std::string_view text) {
    return !text.empty() && text.size() < sizeof(CddbMatch::discId) &&
           std::all_of(text.begin(), text.end(), [](char c) { return g_ascii_isxdigit(c); });
}

bool ParseNumber(std::string_view text, std::int32_t* value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, *value);
    return result.ec == std::errc() && result.ptr == end;
}

struct CurlFree {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
    void operator()(char* text) const { curl_free(text); }
};

// One word of a command or the hello, escaped for the query string. Blanks
// become '_': the server splits the words at blanks.
std::string Word(CURL* curl, std::string_view text) {
    std::string plain(text);
    std::replace(plain.begin(), plain.end(), ' ', '_');
    std::unique_ptr<char, CurlFree> escaped(
        curl_easy_escape(curl, plain.c_str(), static_cast<int>(plain.size())));
    return escaped ? std::string(escaped.get()) : std::string();
}

std::string QueryString(CURL* curl, const Options& options,
                        const std::vector<std::string>& command) {
    std::string query = "cmd=";
    for (std::size_t i = 0; i < command.size(); ++i) {
        query += (i == 0 ? "" : "+") + Word(curl, command[i]);
    }
    // hello=user+host+client+version, the user and host from the e-mail.
    const std::string email = options.email.empty() ? kDefaultCDDBEMail : options.email;
    const auto at = email.find('@');
    const std::string user = at == std::string::npos || at == 0 ? email : email.substr(0, at);
    const std::string host =
        at == std::string::npos || at + 1 == email.size() ? "localhost" : email.substr(at + 1);
    const std::string client = options.client.empty() ? "Quavermill" : options.client;
    query += "&hello=" + Word(curl, user) + "+" + Word(curl, host) + "+" + Word(curl, client) +
             "+" + Word(curl, QM_VERSION);
    query += "&proto=6";
    return query;
}

bool BuildUrl(const Options& options, const std::string& query, std::string* url) {
    std::unique_ptr<CURLU, CurlFree> handle(curl_url());
    if (!handle) {
        return false;
    }
    std::string path = options.path.empty() ? std::string("/") : options.path;
    if (path.front() != '/') {
        path.insert(0, "/");
    }
    CURLU* u = handle.get();
    if (curl_url_set(u, CURLUPART_SCHEME, "http", 0) != CURLUE_OK ||
        curl_url_set(u, CURLUPART_HOST, options.server.c_str(), 0) != CURLUE_OK ||
        curl_url_set(u, CURLUPART_PATH, path.c_str(), CURLU_URLENCODE) != CURLUE_OK ||
        curl_url_set(u, CURLUPART_QUERY, query.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    if (options.port > 0 &&
        curl_url_set(u, CURLUPART_PORT, std::to_string(options.port).c_str(), 0) != CURLUE_OK) {
        return false;
    }
    char* text = nullptr;
    if (curl_url_get(u, CURLUPART_URL, &text, 0) != CURLUE_OK) {
        return false;
    }
    std::unique_ptr<char, CurlFree> owned(text);
    *url = text;
    return true;
}

struct Body {
    std::string text;
    std::size_t limit = 0;
    bool overflow = false;
};

std::size_t TakeBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* body = static_cast<Body*>(user);
    const std::size_t bytes = size * count;
    if (bytes > body->limit - body->text.size()) {
        body->overflow = true;
        return 0; // ends the transfer
    }
    body->text.append(data, bytes);
    return bytes;
}

int CancelWhenAsked(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return g_cancels.load() != *static_cast<const unsigned*>(user) ? 1 : 0;
}

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void SetProxyOptions(CURL* curl, const Options& options) {
    if (options.useProxy == 0) {
        // An empty proxy also keeps libcurl from taking one from the environment.
        curl_easy_setopt(curl, CURLOPT_PROXY, "");
        return;
    }
    curl_easy_setopt(curl, CURLOPT_PROXY, options.proxy.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    if (options.proxyPort > 0) {
        curl_easy_setopt(curl, CURLOPT_PROXYPORT, static_cast<long>(options.proxyPort));
    }
    // Every host goes through the proxy, whatever no_proxy says.
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
    if (!options.credentials.empty()) {
        const auto colon = options.credentials.find(':');
        const std::string user =
            colon == std::string::npos ? std::string() : options.credentials.substr(0, colon);
        const std::string password = colon == std::string::npos
                                         ? options.credentials
                                         : options.credentials.substr(colon + 1);
        curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, user.c_str());
        curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, password.c_str());
        curl_easy_setopt(curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
}

// One request with `command`; the body of a 200 answer in `*reply`. At most
// `limit` bytes are taken; a longer body fails with kCdErrTooLong.
int Exchange(const std::vector<std::string>& command, std::size_t limit, std::string* reply) {
    const unsigned cancels = g_cancels.load();
    const Options options = Snapshot();
    if (options.server.empty()) {
        return Fail(kCdErrNetwork, "no CDDB server is set");
    }
    if (options.useProxy != 0 && options.proxy.empty()) {
        return Fail(kCdErrNetwork, "the proxy is on but no proxy host is set");
    }
    InitCurlOnce();
    std::unique_ptr<CURL, CurlFree> handle(curl_easy_init());
    if (!handle) {
        return Fail(kCdErrNoMemory, "out of memory");
    }
    CURL* curl = handle.get();
    std::string url;
    if (!BuildUrl(options, QueryString(curl, options, command), &url)) {
        return Fail(kCdErrArgument, Format("\"%s\", port %d, is no server address",
                                           Printable(options.server).c_str(), options.port));
    }
    const long total = options.timeoutMs > 0 ? options.timeoutMs : kCddbDefaultTimeoutMs;
    Body body;
    body.limit = limit;
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, total);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min<long>(total, kCddbConnectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Quavermill/" QM_VERSION);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, TakeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CancelWhenAsked);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &cancels);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    SetProxyOptions(curl, options);

    const CURLcode result = curl_easy_perform(curl);
    if (body.overflow) {
        return Fail(kCdErrTooLong, "the server's reply is too long");
    }
    if (result == CURLE_ABORTED_BY_CALLBACK) {
        return Fail(kCdErrNetwork, "cancelled");
    }
    if (result != CURLE_OK) {
        return Fail(kCdErrNetwork, error[0] != '\0' ? std::string(error)
                                                    : std::string(curl_easy_strerror(result)));
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        return Fail(kCdErrServer, Format("the server answered HTTP status %ld", status));
    }
    *reply = std::move(body.text);
    return kCdOk;
}

// A CDDB reply: the status line, and for list replies the lines up to the
// terminating ".".
struct Reply {
    int code = 0;
    std::string status;
    std::vector<std::string> lines;
    bool terminated = false;
};

bool ParseReply(std::string_view body, Reply* reply) {
    if (body.find('\0') != std::string_view::npos) {
        return false;
    }
    bool first = true;
    while (!body.empty()) {
        const auto end = body.find('\n');
        std::string_view line = body.substr(0, end);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (first) {
            first = false;
            if (line.size() < 3 ||
                !std::all_of(line.begin(), line.begin() + 3,
                             [](char c) { return g_ascii_isdigit(c); }) ||
                (line.size() > 3 && line[3] != ' ')) {
                return false;
            }
            reply->code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
            reply->status = line;
            continue;
        }
        if (line == ".") {
            reply->terminated = true;
            break;
        }
        reply->lines.emplace_back(line);
    }
    return !first;
}

int ServerRefused(const Reply& reply) {
    return Fail(kCdErrServer, "the server answered \"" + Printable(reply.status) + "\"");
}

// Reads a reply's body as the server sent it (UTF-8 or a legacy encoding).
int Read(std::string_view body, Reply* reply) {
    if (!ParseReply(Utf8FromLegacy(body), reply)) {
        return Fail(kCdErrReply, "the server's reply is not a CDDB reply");
    }
    return kCdOk;
}

void CopyField(char* dest, std::size_t capacity, std::string_view text) {
    std::string clean(text);
    BlankControls(clean);
    CopyTruncated(dest, capacity, clean.c_str());
}

// "category discid artist / title" of a query reply.
bool ParseMatch(std::string_view line, bool exact, CddbMatch* match) {
    const auto space = line.find(' ');
    const std::string_view category = line.substr(0, space);
    std::string_view rest = space == std::string_view::npos ? "" : line.substr(space + 1);
    const auto space2 = rest.find(' ');
    const std::string_view discId = rest.substr(0, space2);
    const std::string_view dtitle = space2 == std::string_view::npos ? "" : rest.substr(space2 + 1);
    if (!IsCategory(category) || !IsDiscId(discId)) {
        return false;
    }
    *match = CddbMatch();
    CopyField(match->category, sizeof match->category, category);
    CopyField(match->discId, sizeof match->discId, discId);
    match->exact = exact ? 1 : 0;
    // The separator is " / "; a bare '/' only when there is none, so that
    // "AC/DC / Powerage" keeps its artist.
    auto slash = dtitle.find(" / ");
    if (slash == std::string_view::npos) {
        slash = dtitle.find('/');
    }
    if (slash == std::string_view::npos) {
        CopyField(match->artist, sizeof match->artist, Trimmed(dtitle));
        return true;
    }
    CopyField(match->artist, sizeof match->artist, Trimmed(dtitle.substr(0, slash)));
    CopyField(match->title, sizeof match->title,
              Trimmed(dtitle.substr(dtitle.find('/', slash) + 1)));
    return true;
}

// "host protocol port path latitude longitude description" (protocol level
// 3 and later), or "host port latitude longitude description" (older).
bool ParseSite(std::string_view line, CddbSite* site) {
    std::vector<std::string_view> words;
    std::string_view rest = line;
    while (words.size() < 6 && !rest.empty()) {
        const auto start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) {
            rest = {};
            break;
        }
        rest.remove_prefix(start);
        const auto end = rest.find(' ');
        words.push_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    *site = CddbSite();
    std::int32_t port = 0;
    std::string_view description;
    if (words.size() >= 6 && ParseNumber(words[2], &port)) {
        site->http = EqualsNoCase(words[1], "http") ? 1 : 0;
        CopyField(site->path, sizeof site->path, words[3] == "-" ? "" : words[3]);
        CopyField(site->latitude, sizeof site->latitude, words[4]);
        CopyField(site->longitude, sizeof site->longitude, words[5]);
        description = rest;
    } else if (words.size() >= 4 && ParseNumber(words[1], &port)) {
        CopyField(site->latitude, sizeof site->latitude, words[2]);
        CopyField(site->longitude, sizeof site->longitude, words[3]);
        description =
            line.substr(static_cast<std::size_t>(words[3].data() - line.data()) + words[3].size());
    } else {
        return false;
    }
    if (port <= 0 || port > 65535) {
        return false;
    }
    site->port = port;
    CopyField(site->host, sizeof site->host, words[0]);
    CopyField(site->description, sizeof site->description, Trimmed(description));
    return true;
}

bool HasKey(const std::vector<std::string>& lines, std::string_view key) {
    return std::any_of(lines.begin(), lines.end(), [key](const std::string& line) {
        const auto equals = line.find('=');
        return equals != std::string::npos &&
               EqualsNoCase(std::string_view(line).substr(0, equals), key);
    });
}

} // namespace

int CDDBSetOption(int option, const char* text, std::int32_t number) {
    const std::string value = text != nullptr ? text : "";
    std::lock_guard<std::mutex> lock(g_optionsLock);
    switch (option) {
    case kCddbOptServer:
        g_options.server = Trimmed(value);
        break;
    case kCddbOptProxy:
        g_options.proxy = Trimmed(value);
        break;
    case kCddbOptUseProxy:
        g_options.useProxy = number;
        break;
    case kCddbOptClient:
        g_options.client = value;
        break;
    case kCddbOptEMail:
        g_options.email = Trimmed(value);
        break;
    case kCddbOptProxyPort:
        g_options.proxyPort = number;
        break;
    case kCddbOptPath:
        g_options.path = Trimmed(value);
        break;
    case kCddbOptPort:
        g_options.port = number;
        break;
    case kCddbOptCompat:
        break;
    case kCddbOptProxyCredentials:
        g_options.credentials = value;
        break;
    case kCddbOptTimeout:
        g_options.timeoutMs = std::max(number, 0);
        break;
    default:
        return Fail(kCdErrArgument, Format("there is no CDDB option %d", option));
    }
    return Done();
}

int CDDBQuery(CdHandle* handle, CddbQuery* query) {
    if (handle == nullptr || query == nullptr || query->capacity < 0 ||
        (query->capacity > 0 && query->matches == nullptr)) {
        return Fail(kCdErrArgument, "");
    }
    query->count = 0;
    std::uint32_t ids[kDiscIdValues] = {};
    if (GetCDDBDiskID(handle, ids, kDiscIdValues) != kCdOk) {
        return Fail(kCdErrNoDisc, "the disc's table of contents cannot be read");
    }
    const std::uint32_t tracks = ids[1];
    std::vector<std::string> command = {"cddb", "query", Format("%08x", ids[0]),
                                        std::to_string(tracks)};
    for (std::uint32_t i = 0; i < tracks; ++i) {
        command.push_back(std::to_string(ids[2 + i]));
    }
    command.push_back(std::to_string(ids[tracks + 2]));

    std::string body;
    if (Exchange(command, kListReplyLimit, &body) != kCdOk) {
        return kCdFailed;
    }
    return CDDBReadQueryReply(body, query);
}

int CDDBReadQueryReply(std::string_view body, CddbQuery* query) {
    if (query == nullptr || query->capacity < 0 ||
        (query->capacity > 0 && query->matches == nullptr)) {
        return Fail(kCdErrArgument, "");
    }
    query->count = 0;
    Reply reply;
    if (Read(body, &reply) != kCdOk) {
        return kCdFailed;
    }
    switch (reply.code) {
    case 200: // one exact match, on the status line
        if (query->capacity > 0) {
            if (reply.status.size() <= 4 ||
                !ParseMatch(std::string_view(reply.status).substr(4), true, query->matches)) {
                return Fail(kCdErrReply, "the server's match is not \"category discid title\"");
            }
            query->count = 1;
        }
        break;
    case 210: // exact matches
    case 211: // close matches
        if (!reply.terminated) {
            return Fail(kCdErrReply, "the list of matches is cut short");
        }
        for (const std::string& line : reply.lines) {
            if (query->count < query->capacity &&
                ParseMatch(line, reply.code == 210, &query->matches[query->count])) {
                ++query->count;
            }
        }
        break;
    case 202: // no match
        break;
    default:
        return ServerRefused(reply);
    }
    return Done();
}

int CDDBGetDiskInfo(const CddbMatch* match, char* text, int size) {
    if (match == nullptr || text == nullptr || size <= 0) {
        return Fail(kCdErrArgument, "");
    }
    const std::string category(match->category, strnlen(match->category, sizeof match->category));
    const std::string discId(match->discId, strnlen(match->discId, sizeof match->discId));
    if (!IsCategory(category) || !IsDiscId(discId)) {
        return Fail(kCdErrArgument, "the match names no entry");
    }
    // Line ends and the status line may add to the entry on the wire; the
    // entry itself is measured below.
    const std::size_t limit = 2 * static_cast<std::size_t>(size) + 4096;
    std::string body;
    if (Exchange({"cddb", "read", category, discId}, limit, &body) != kCdOk) {
        if (GetAspiLibError() == kCdErrTooLong) {
            return Fail(kCdErrTooLong, Format("the entry is larger than %d bytes", size));
        }
        return kCdFailed;
    }
    return CDDBReadEntryReply(body, text, size);
}

int CDDBReadEntryReply(std::string_view body, char* text, int size) {
    if (text == nullptr || size <= 0) {
        return Fail(kCdErrArgument, "");
    }
    Reply reply;
    if (Read(body, &reply) != kCdOk) {
        return kCdFailed;
    }
    if (reply.code != 210) {
        return ServerRefused(reply);
    }
    if (!reply.terminated) {
        return Fail(kCdErrReply, "the entry is cut short");
    }
    if (!HasKey(reply.lines, "DTITLE")) {
        return Fail(kCdErrReply, "the reply holds no xmcd entry");
    }
    std::string entry;
    for (const std::string& line : reply.lines) {
        entry += line;
        entry += '\n';
    }
    if (entry.size() >= static_cast<std::size_t>(size)) {
        return Fail(kCdErrTooLong, Format("the entry is larger than %d bytes", size));
    }
    std::memcpy(text, entry.c_str(), entry.size() + 1);
    return Done();
}

int CDDBGetServerList(CddbSiteList* list) {
    if (list == nullptr || list->capacity < 0 || (list->capacity > 0 && list->sites == nullptr)) {
        return Fail(kCdErrArgument, "");
    }
    list->count = 0;
    std::string body;
    if (Exchange({"sites"}, kListReplyLimit, &body) != kCdOk) {
        return kCdFailed;
    }
    return CDDBReadSitesReply(body, list);
}

int CDDBReadSitesReply(std::string_view body, CddbSiteList* list) {
    if (list == nullptr || list->capacity < 0 || (list->capacity > 0 && list->sites == nullptr)) {
        return Fail(kCdErrArgument, "");
    }
    list->count = 0;
    Reply reply;
    if (Read(body, &reply) != kCdOk) {
        return kCdFailed;
    }
    if (reply.code != 210) {
        return ServerRefused(reply);
    }
    if (!reply.terminated) {
        return Fail(kCdErrReply, "the server list is cut short");
    }
    for (const std::string& line : reply.lines) {
        if (list->count < list->capacity && ParseSite(line, &list->sites[list->count])) {
            ++list->count;
        }
    }
    return Done();
}

void CDDBCancel() {
    g_cancels.fetch_add(1);
}

bool ParseProxyAddress(const std::string& text, std::string* host, std::int32_t* port) {
    // A bare "host:port" is an HTTP proxy.
    const std::string url = text.find("://") == std::string::npos ? "http://" + text : text;
    std::unique_ptr<CURLU, CurlFree> handle(curl_url());
    if (!handle || host == nullptr || port == nullptr ||
        curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
            CURLUE_OK) {
        return false;
    }
    char* scheme = nullptr;
    char* name = nullptr;
    char* number = nullptr;
    curl_url_get(handle.get(), CURLUPART_SCHEME, &scheme, 0);
    curl_url_get(handle.get(), CURLUPART_HOST, &name, 0);
    curl_url_get(handle.get(), CURLUPART_PORT, &number, 0);
    std::unique_ptr<char, CurlFree> owned[] = {std::unique_ptr<char, CurlFree>(scheme),
                                               std::unique_ptr<char, CurlFree>(name),
                                               std::unique_ptr<char, CurlFree>(number)};
    if (scheme == nullptr || !EqualsNoCase(scheme, "http") || name == nullptr || *name == '\0') {
        return false;
    }
    *host = name;
    *port = 0;
    return number == nullptr || (ParseNumber(number, port) && *port >= 0 && *port <= 65535);
}

std::string CDDBLastError() {
    return t_lastText;
}

} // namespace qm
