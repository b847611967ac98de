// A CDDB server on 127.0.0.1 for the tests (tests/support/cddb_server.py run
// by Debian's python3 on a free port): it serves the xmcd entries of a
// database folder with the protocol's status codes, or acts as an HTTP proxy
// that notes the credentials it saw, or answers late (or never). Also writes
// entries in the xmcd file format.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/ServerProcess.h"

namespace qmtest {

struct CddbServerOptions {
    bool proxy = false;        // an HTTP proxy instead of a CDDB server
    std::string proxyAuth;     // "user:password" the proxy demands (407 without)
    double delaySeconds = 0.0; // before every answer
};

class CddbServer {
public:
    // Serves the entries under `db` (db/<category>/<discid>). Throws when the
    // server does not come up.
    explicit CddbServer(std::filesystem::path db, CddbServerOptions options = {});
    ~CddbServer();
    CddbServer(const CddbServer&) = delete;
    CddbServer& operator=(const CddbServer&) = delete;

    static constexpr const char* kHost = "127.0.0.1";
    static constexpr const char* kPath = "/~cddb/cddb.cgi";
    int Port() const { return m_port; }
    // The requests it has seen, oldest first: {"cmd","hello","proto","path"}
    // for the server, {"url","credentials"} for the proxy.
    std::vector<nlohmann::json> Requests() const;
    void ClearRequests() const;
    // Makes commands misbehave, e.g. {"read": "403"} or {"query": "garbage"}
    // (see cddb_server.py); {} puts things right again.
    void SetFaults(const nlohmann::json& faults) const;

private:
    std::filesystem::path m_db;
    std::filesystem::path m_log;
    std::unique_ptr<ServerProcess> m_process;
    int m_port = 0;
};

// A disc as an xmcd entry describes it.
struct XmcdDisc {
    std::uint32_t discId = 0;
    std::vector<std::uint32_t> offsets; // frames from the lead-in, one per track
    std::uint32_t seconds = 0;          // disc length
    std::string dtitle;                 // "Artist / Album"
    std::string dyear;
    std::string dgenre;
    std::vector<std::string> titles; // TTITLE0 ...
    std::string extd;
};

// The entry in the xmcd file format (LF line ends), as a server stores it.
std::string XmcdEntry(const XmcdDisc& disc);
// Writes `text` as db/<category>/<discid> (the id in 8 lower-case hex digits).
void AddCddbEntry(const std::filesystem::path& db, const std::string& category,
                  std::uint32_t discId, const std::string& text);

} // namespace qmtest
