// One HTTP GET over libcurl for the verification databases: the status and
// the body, with time-outs, a size limit and the program's User-Agent.
#pragma once

#include <string>

namespace qm {

struct HttpReply {
    bool reached = false; // the server answered at all
    long status = 0;
    std::string body;
    std::string error; // why it was not reached, or the body was too long
};

constexpr long kHttpTimeoutMs = 15000;
constexpr long kHttpConnectTimeoutMs = 5000;

HttpReply HttpGet(const std::string& url, std::size_t limit, long timeoutMs = kHttpTimeoutMs);

} // namespace qm
