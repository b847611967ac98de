#include "support/CddbServer.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/Process.h"
#include "support/ServerProcess.h"

namespace qmtest {

CddbServer::CddbServer(std::filesystem::path db, CddbServerOptions options)
    : m_db(std::move(db)), m_log(m_db / "requests.log") {
    std::filesystem::create_directories(m_db);
    const std::string script = std::string(QM_SOURCE_DIR) + "/tests/support/cddb_server.py";
    std::vector<std::string> args = {SystemPython(), script,         "--db",  m_db.string(),
                                     "--log",        m_log.string(), "--cgi", kPath};
    if (options.proxy) {
        args.insert(args.end(), {"--mode", "proxy"});
    }
    if (!options.proxyAuth.empty()) {
        args.insert(args.end(), {"--proxy-auth", options.proxyAuth});
    }
    if (options.delaySeconds > 0) {
        args.insert(args.end(), {"--delay", std::to_string(options.delaySeconds)});
    }
    m_process = std::make_unique<ServerProcess>(std::move(args), "the CDDB test server");
    m_port = m_process->Port();
}

CddbServer::~CddbServer() = default;

std::vector<nlohmann::json> CddbServer::Requests() const {
    std::vector<nlohmann::json> requests;
    std::ifstream in(m_log);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            requests.push_back(nlohmann::json::parse(line));
        }
    }
    return requests;
}

void CddbServer::SetFaults(const nlohmann::json& faults) const {
    std::ofstream(m_db / "faults.json") << (faults.is_object() ? faults.dump() : "{}");
}

void CddbServer::ClearRequests() const {
    std::ofstream(m_log, std::ios::trunc);
}

std::string XmcdEntry(const XmcdDisc& disc) {
    std::ostringstream out;
    out << "# xmcd\n#\n# Track frame offsets:\n";
    for (std::uint32_t offset : disc.offsets) {
        out << "#\t" << offset << "\n";
    }
    out << "#\n# Disc length: " << disc.seconds << " seconds\n#\n# Revision: 3\n"
        << "# Submitted via: quavermill-tests 1.0\n#\n";
    char id[16];
    std::snprintf(id, sizeof id, "%08x", disc.discId);
    out << "DISCID=" << id << "\n";
    out << "DTITLE=" << disc.dtitle << "\n";
    out << "DYEAR=" << disc.dyear << "\n";
    out << "DGENRE=" << disc.dgenre << "\n";
    for (std::size_t i = 0; i < disc.titles.size(); ++i) {
        out << "TTITLE" << i << "=" << disc.titles[i] << "\n";
    }
    out << "EXTD=" << disc.extd << "\n";
    for (std::size_t i = 0; i < disc.titles.size(); ++i) {
        out << "EXTT" << i << "=\n";
    }
    out << "PLAYORDER=\n";
    return out.str();
}

void AddCddbEntry(const std::filesystem::path& db, const std::string& category,
                  std::uint32_t discId, const std::string& text) {
    char id[16];
    std::snprintf(id, sizeof id, "%08x", discId);
    std::filesystem::create_directories(db / category);
    std::ofstream(db / category / id, std::ios::binary) << text;
}

} // namespace qmtest
