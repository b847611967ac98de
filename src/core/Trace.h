// One line per traced method: QM_TRACE("ClassTag") on its first line enters
// the tracer with the method's own name; QM_RETURN(index, value) leaves with
// the number of that return path. A method that falls off its end leaves
// with the last index given by QM_EXIT (0 when none).
#pragma once

#include "core/Diagnostics.h"

namespace qm {

class TraceGuard {
public:
    TraceGuard(const char* method, const char* classTag) noexcept
        : m_method(method), m_classTag(classTag) {
        g_FunctionTracer.Enter(method, classTag);
    }
    ~TraceGuard() { g_FunctionTracer.Leave(m_method, m_classTag, m_exitIndex); }
    TraceGuard(const TraceGuard&) = delete;
    TraceGuard& operator=(const TraceGuard&) = delete;

    void SetExit(int index) noexcept { m_exitIndex = index; }

private:
    const char* m_method;
    const char* m_classTag;
    int m_exitIndex = 0;
};

} // namespace qm

#define QM_TRACE(classTag) ::qm::TraceGuard qmTraceGuard_(__func__, classTag)
#define QM_TRACE_AS(method, classTag) ::qm::TraceGuard qmTraceGuard_(method, classTag)
#define QM_EXIT(index) qmTraceGuard_.SetExit(index)
#define QM_RETURN(index, ...)                                                                      \
    do {                                                                                           \
        qmTraceGuard_.SetExit(index);                                                              \
        return __VA_ARGS__;                                                                        \
    } while (0)
