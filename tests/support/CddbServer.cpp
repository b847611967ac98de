#include "support/CddbServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/Process.h"

extern char** environ;

namespace qmtest {

namespace {

// The first line the server prints, "PORT <n>"; 0 when it does not come.
int ReadPort(int fd) {
    std::string line;
    char c = 0;
    while (line.size() < 64) {
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, 30000) <= 0 || ::read(fd, &c, 1) != 1) {
            return 0;
        }
        if (c == '\n') {
            break;
        }
        line += c;
    }
    int port = 0;
    return std::sscanf(line.c_str(), "PORT %d", &port) == 1 ? port : 0;
}

} // namespace

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
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    const int spawned = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (spawned != 0) {
        ::close(pipe[0]);
        throw std::runtime_error("cannot start " + script);
    }
    m_port = ReadPort(pipe[0]);
    ::close(pipe[0]);
    if (m_port == 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        throw std::runtime_error("the CDDB test server did not start");
    }
}

CddbServer::~CddbServer() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}

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
