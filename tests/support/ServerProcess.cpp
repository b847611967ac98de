#include "support/ServerProcess.h"

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

ServerProcess::ServerProcess(std::vector<std::string> args, const std::string& what) {
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
        throw std::runtime_error("cannot start " + what);
    }
    m_port = ReadPort(pipe[0]);
    ::close(pipe[0]);
    if (m_port == 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        throw std::runtime_error(what + " did not start");
    }
}

ServerProcess::~ServerProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}

FileServer::FileServer(const std::string& folder)
    : m_folder(folder),
      m_process({SystemPython(), std::string(QM_SOURCE_DIR) + "/tests/support/file_server.py",
                 "--root", folder, "--log", folder + "/requests.log"},
                "the file test server") {}

std::string FileServer::Url() const {
    return "http://127.0.0.1:" + std::to_string(Port());
}

std::vector<std::string> FileServer::Requests() const {
    std::vector<std::string> lines;
    std::ifstream in(m_folder + "/requests.log");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

} // namespace qmtest
