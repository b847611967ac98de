// The CDDB client of the CD access layer: options, the query for the disc in
// a drive, the entry of one match as raw text in the xmcd file format, and
// the server list. It speaks the CDDB HTTP protocol (proto 6, UTF-8) over
// libcurl, optionally through an HTTP proxy.
//
// Results are 1 (done) or 4 (failed), as for the other access functions;
// GetAspiLibError then says why (kCdErrNetwork, kCdErrServer, kCdErrReply,
// kCdErrTooLong, kCdErrArgument, kCdErrNoDisc) and CDDBLastError says it in
// words. Options are process-wide; every call takes a copy of them when it
// starts, so they may be changed from any thread. A call blocks its thread
// until the server has answered or the time-out has passed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "disc/CdAccess.h"

namespace qm {

// Options of CDDBSetOption: a text, a number, or both as said.
constexpr int kCddbOptServer = 0;            // text: server host
constexpr int kCddbOptProxy = 1;             // text: proxy host
constexpr int kCddbOptUseProxy = 2;          // number: 0 goes direct, else through the proxy
constexpr int kCddbOptClient = 3;            // text: client name in the hello
constexpr int kCddbOptEMail = 4;             // text: the user's e-mail for the hello
constexpr int kCddbOptProxyPort = 5;         // number
constexpr int kCddbOptPath = 6;              // text: path of the CDDB HTTP interface
constexpr int kCddbOptPort = 7;              // number: server port, 0 for 80
constexpr int kCddbOptCompat = 8;            // number: always 1; kept for the callers' sake
constexpr int kCddbOptProxyCredentials = 11; // text: "user:password", a password alone, or ""
// Ours: the longest a whole exchange may take, in milliseconds (0: the
// default). Connecting gets at most kCddbConnectTimeoutMs of it.
constexpr int kCddbOptTimeout = 12;

constexpr std::int32_t kCddbDefaultTimeoutMs = 30000;
constexpr std::int32_t kCddbConnectTimeoutMs = 10000;

constexpr int kCddbMaxMatches = 10;
constexpr int kCddbMaxSites = 8;
// What a caller gives CDDBGetDiskInfo for an entry's text.
constexpr int kCddbEntryBytes = 10240;

// One disc the query found. Texts are UTF-8, cut on a character boundary.
struct CddbMatch {
    char category[12] = {}; // the server's category: "rock", "misc" ...
    char discId[9] = {};    // 8 hex digits
    std::int32_t exact = 0; // the server called it an exact match
    char artist[81] = {};
    char title[81] = {};
};
static_assert(sizeof(CddbMatch) == 192);

// The caller sets capacity and matches (room for that many); CDDBQuery sets
// count.
struct CddbQuery {
    std::int32_t capacity = 0;
    std::int32_t count = 0;
    CddbMatch* matches = nullptr;
};

struct CddbSite {
    char host[81] = {};
    std::int32_t http = 0; // 1: the HTTP interface at `path`; 0: the CDDBP protocol
    std::int32_t port = 0;
    char path[81] = {};
    char latitude[16] = {};
    char longitude[16] = {};
    char description[81] = {};
};

struct CddbSiteList {
    std::int32_t capacity = 0;
    std::int32_t count = 0;
    CddbSite* sites = nullptr;
};

// 1, or 4 for an option this layer does not know.
int CDDBSetOption(int option, const char* text, std::int32_t number);
// Looks the disc in the drive up. Status 1 also when the server knows no
// match (count 0). An empty server host fails at once, without network.
int CDDBQuery(CdHandle* handle, CddbQuery* query);
// The entry of `match` as text (lines ending in LF), NUL-terminated, in
// `text` of `size` bytes. An entry that does not fit, or a reply that is not
// a whole entry, fails and leaves `text` as it was.
int CDDBGetDiskInfo(const CddbMatch* match, char* text, int size);
// The servers the server knows of, at most list->capacity.
int CDDBGetServerList(CddbSiteList* list);

// What the three requests above make of a server's reply once it came: its
// body as sent (UTF-8 or Latin-1, CR LF or LF), read with the same results
// and errors. Apart from the network, so that any reply can be read.
int CDDBReadQueryReply(std::string_view body, CddbQuery* query);
int CDDBReadEntryReply(std::string_view body, char* text, int size);
int CDDBReadSitesReply(std::string_view body, CddbSiteList* list);

// Ends every CDDB request under way, in any thread, as failed (within about
// a second); requests that start afterwards run as usual. For a window that
// lets the user give up waiting.
void CDDBCancel();

// An HTTP proxy as the http_proxy variable gives it: "host:port" or
// "http://[user:password@]host:port[/]". False when it is neither; `port` is
// 0 when the text names none.
bool ParseProxyAddress(const std::string& text, std::string* host, std::int32_t* port);

// What went wrong with the last CDDB call on this thread, in words ("" after
// a success).
std::string CDDBLastError();

} // namespace qm
