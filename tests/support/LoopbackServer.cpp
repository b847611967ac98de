#include "support/LoopbackServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
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

LoopbackServer::LoopbackServer(const std::string& script, std::vector<std::string> args,
                               std::filesystem::path folder)
    : m_folder(std::move(folder)) {
    std::filesystem::create_directories(m_folder);
    const std::string path = std::string(QM_SOURCE_DIR) + "/tests/support/" + script;
    args.insert(args.begin(), {SystemPython(), path});
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
        throw std::runtime_error("cannot start " + path);
    }
    m_port = ReadPort(pipe[0]);
    ::close(pipe[0]);
    if (m_port == 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        throw std::runtime_error("the test server " + script + " did not start");
    }
}

LoopbackServer::~LoopbackServer() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::vector<nlohmann::json> LoopbackServer::Requests() const {
    std::vector<nlohmann::json> requests;
    std::ifstream in(LogIn(m_folder));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            requests.push_back(nlohmann::json::parse(line));
        }
    }
    return requests;
}

void LoopbackServer::SetFaults(const nlohmann::json& faults) const {
    std::ofstream(m_folder / "faults.json") << (faults.is_object() ? faults.dump() : "{}");
}

void LoopbackServer::ClearRequests() const {
    std::ofstream(LogIn(m_folder), std::ios::trunc);
}

WebServer::WebServer(const std::filesystem::path& root)
    : LoopbackServer("web_server.py", {"--root", root.string(), "--log", LogIn(root).string()},
                     root),
      m_root(root) {}

std::string WebServer::HostPort() const {
    return "127.0.0.1:" + std::to_string(Port());
}

void WebServer::Add(const std::string& path, const std::filesystem::path& file) const {
    const std::filesystem::path target = m_root / path;
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(file, target, std::filesystem::copy_options::overwrite_existing);
}

void WebServer::AddText(const std::string& path, const std::string& text) const {
    const std::filesystem::path target = m_root / path;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream(target, std::ios::binary) << text;
}

FileServer::FileServer(const std::filesystem::path& folder)
    : LoopbackServer("web_server.py", {"--root", folder.string(), "--log", LogIn(folder).string()},
                     folder) {}

std::string FileServer::Url() const {
    return "http://127.0.0.1:" + std::to_string(Port());
}

std::vector<std::string> FileServer::Requests() const {
    std::vector<std::string> lines;
    for (const nlohmann::json& request : LoopbackServer::Requests()) {
        lines.push_back(request.dump());
    }
    return lines;
}

} // namespace qmtest
