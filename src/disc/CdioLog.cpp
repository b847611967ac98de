#include "disc/CdioLog.h"

#include <cdio/logging.h>

#include <mutex>

namespace qm {

namespace {

std::mutex g_messageLock;
std::string g_lastMessage;
int g_count = 0;
constexpr int kKeep = 2;

void OnCdioMessage(cdio_log_level_t level, const char message[]) {
    if (level < CDIO_LOG_WARN || message == nullptr) {
        return;
    }
    std::string text = message;
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    std::lock_guard<std::mutex> lock(g_messageLock);
    // The first messages after a failure say most; later drivers only add
    // that the file is not theirs either.
    if (g_count++ < kKeep) {
        g_lastMessage += g_lastMessage.empty() ? text : "; " + text;
    }
}

} // namespace

void InstallCdioLogHandler() {
    static std::once_flag once;
    std::call_once(once, [] { cdio_log_set_handler(OnCdioMessage); });
}

std::string LastCdioMessage() {
    std::lock_guard<std::mutex> lock(g_messageLock);
    return g_lastMessage;
}

void ClearCdioMessage() {
    std::lock_guard<std::mutex> lock(g_messageLock);
    g_lastMessage.clear();
    g_count = 0;
}

} // namespace qm
