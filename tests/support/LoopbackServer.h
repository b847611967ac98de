// A test server on 127.0.0.1: a python script of tests/support run by
// Debian's python3, which prints "PORT <n>" once it listens, notes every
// request as one JSON line in a log, and reads faults.json from its folder at
// every request. Stopped when the object goes.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qmtest {

class LoopbackServer {
public:
    // Runs tests/support/`script` with `args`; `folder` (created) holds the
    // log (`Log()`, to be passed in `args`) and faults.json. Throws when the
    // server does not come up.
    LoopbackServer(const std::string& script, std::vector<std::string> args,
                   std::filesystem::path folder);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    static std::filesystem::path LogIn(const std::filesystem::path& folder) {
        return folder / "requests.log";
    }
    int Port() const { return m_port; }
    // The requests it has seen, oldest first.
    std::vector<nlohmann::json> Requests() const;
    void ClearRequests() const;
    // Writes faults.json ({} puts things right again).
    void SetFaults(const nlohmann::json& faults) const;

private:
    std::filesystem::path m_folder;
    pid_t m_pid = -1;
    int m_port = 0;
};

// The MusicBrainz web service and the cover art archive as a folder of
// answers (tests/support/web_server.py): /ws/2/discid/<id> answers
// ws/2/discid/<id>.xml, /release/<mbid>/front the file release/<mbid>/front.
class WebServer : public LoopbackServer {
public:
    explicit WebServer(const std::filesystem::path& root);
    // "127.0.0.1:<port>", as the MusicBrainzServer setting names a server.
    std::string HostPort() const;
    // Places `file` (or `text`) under the root as `path`.
    void Add(const std::string& path, const std::filesystem::path& file) const;
    void AddText(const std::string& path, const std::string& text) const;

private:
    std::filesystem::path m_root;
};

// AccurateRip and CTDB answers as a folder of files (web_server.py): a path
// names a file below the folder whatever its query ("/lookup2.php?toc=..."
// serves "lookup2.php"), a missing one is a 404.
class FileServer : public LoopbackServer {
public:
    explicit FileServer(const std::filesystem::path& folder);
    // "http://127.0.0.1:<port>", as AccurateRipServer and CTDBServer name one.
    std::string Url() const;
    // The requests seen so far, one JSON text each (path, query, user agent).
    std::vector<std::string> Requests() const;
};

} // namespace qmtest
