// A loopback test server run as a child process: it is started with its
// arguments, prints "PORT <n>" as its first line once it listens, and is
// ended with SIGTERM when this object goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qmtest {

class ServerProcess {
public:
    // Starts argv[0] with `args`; throws (naming `what`) when it does not
    // come up within 30 s.
    ServerProcess(std::vector<std::string> args, const std::string& what);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int Port() const { return m_port; }

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

// Serves the files of a folder over HTTP on 127.0.0.1 (file_server.py):
// a path names a file below the folder, the query is ignored, a missing file
// is a 404. Every request goes to `folder`/requests.log as one JSON line
// {"path","query","agent"}.
class FileServer {
public:
    explicit FileServer(const std::string& folder);
    int Port() const { return m_process.Port(); }
    std::string Url() const;
    // The requests seen so far, as the log holds them.
    std::vector<std::string> Requests() const;

private:
    std::string m_folder;
    ServerProcess m_process;
};

} // namespace qmtest
