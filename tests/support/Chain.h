// Runs a configured sink the way a rip job does: a PcmSource in front, a
// fresh finish event, and the registry shared by source and sink.
#pragma once

#include <cstdint>
#include <string>

#include "support/Pcm.h"

class CEncoder;
class CError;
struct CErrorItem;

namespace qmtest {

struct ChainResult {
    bool ok = false;       // the source ended normally and nothing was filed
    bool finished = false; // the sink signalled the finish event
};

ChainResult RunChain(CEncoder& sink, const Bytes& pcm, PcmFormat format, CError* registry = nullptr,
                     std::int32_t blockFrames = 15288);

// What the sink registers with a fresh progress tracker when asked to (its
// process's description); "" when it registers nothing.
std::string RegisteredProcess(CEncoder& sink);

// The newest item filed for `module`; null when there is none.
const CErrorItem* FindItem(const CError& registry, int module);

// Runs `body` in a forked child whose files may not grow past `bytes`
// (SIGXFSZ ignored, so writes fail with EFBIG instead of killing it), so the
// limit never touches the test runner. True when the child ran and `body`
// returned true.
template <typename Body> bool RunWithFileSizeLimit(std::uint64_t bytes, Body body);

bool RunInLimitedChild(std::uint64_t bytes, bool (*body)(void*), void* context);

template <typename Body> bool RunWithFileSizeLimit(std::uint64_t bytes, Body body) {
    return RunInLimitedChild(
        bytes, [](void* context) { return (*static_cast<Body*>(context))(); }, &body);
}

} // namespace qmtest
