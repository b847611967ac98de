#include "support/CddbServer.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qmtest {

namespace {

std::vector<std::string> ServerArgs(const std::filesystem::path& db,
                                    const CddbServerOptions& options) {
    std::vector<std::string> args = {"--db",  db.string(),
                                     "--log", LoopbackServer::LogIn(db).string(),
                                     "--cgi", CddbServer::kPath};
    if (options.proxy) {
        args.insert(args.end(), {"--mode", "proxy"});
    }
    if (!options.proxyAuth.empty()) {
        args.insert(args.end(), {"--proxy-auth", options.proxyAuth});
    }
    if (options.delaySeconds > 0) {
        args.insert(args.end(), {"--delay", std::to_string(options.delaySeconds)});
    }
    return args;
}

} // namespace

CddbServer::CddbServer(std::filesystem::path db, CddbServerOptions options)
    : m_server("cddb_server.py", ServerArgs(db, options), db) {}

CddbServer::~CddbServer() = default;

std::vector<nlohmann::json> CddbServer::Requests() const {
    return m_server.Requests();
}

void CddbServer::SetFaults(const nlohmann::json& faults) const {
    m_server.SetFaults(faults);
}

void CddbServer::ClearRequests() const {
    m_server.ClearRequests();
}

std::string RawReplyText(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
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
