#include "support/Chain.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/Error.h"
#include "core/Progress.h"
#include "pipeline/Encoder.h"
#include "support/PcmSource.h"

namespace qmtest {

ChainResult RunChain(CEncoder& sink, const Bytes& pcm, PcmFormat format, CError* registry,
                     std::int32_t blockFrames) {
    PcmSource source(std::span<const std::uint8_t>(pcm), format, blockFrames);
    auto finish = qm::Event::Create();
    sink.SetFinishEvent(finish);
    if (registry != nullptr) {
        source.SetError(registry);
        sink.SetError(registry);
    }
    source.Open(nullptr, &sink);
    ChainResult result;
    result.ok = source.Start() == 1 && (registry == nullptr || !registry->IsAnyActual());
    result.finished = finish->IsSet();
    return result;
}

std::string RegisteredProcess(CEncoder& sink) {
    CProgress progress;
    sink.InitProgress(&progress, true);
    std::string description;
    if (progress.GetCount() == 1 && progress.NextProcess()) {
        progress.GetCurrentDescription(&description);
    }
    return description;
}

const CErrorItem* FindItem(const CError& registry, int module) {
    for (const CErrorItem* item = registry.GetLast(); item != nullptr; item = item->next) {
        if (item->module == module) {
            return item;
        }
    }
    return nullptr;
}

bool RunInLimitedChild(std::uint64_t bytes, bool (*body)(void*), void* context) {
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{bytes, bytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(body(context) ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child) {
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace qmtest
