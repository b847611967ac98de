// The function tracer: every traced method enters it on its first line and
// leaves it on every return. It keeps the current call nesting in a few slots
// and the last lines of the trace in a ring, in memory only, so that a crash
// report can say where the program was.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class CFunctionTracer {
public:
    static constexpr int kNameLength = 60;
    static constexpr int kLineLength = 160;

    struct Slot {
        char method[kNameLength] = {};
        char classTag[kNameLength] = {};
        std::uint8_t state = 0; // 0 never used, 1 entered, 2 left
        std::int32_t free = 1;
    };

    CFunctionTracer() = default;
    CFunctionTracer(const CFunctionTracer&) = delete;
    CFunctionTracer& operator=(const CFunctionTracer&) = delete;
    virtual ~CFunctionTracer() = default;

    bool Init(int slotCount, int lineCapacity);
    bool Enter(const char* method, const char* classTag);
    bool Leave(const char* method, const char* classTag, int exitIndex);

    std::string GetCurrentFunction() const;
    std::string GetCallStack() const;
    std::string GetRecentLines() const;

    bool IsEnabled() const { return m_enabled; }

private:

    void AppendLine(const char* format, const char* method, const char* classTag, int exitIndex);

    std::vector<Slot> m_slots;
    std::timed_mutex m_lock;
    std::int32_t m_depth = 0;
    std::int32_t m_slotCount = 0;
    std::vector<std::array<char, kLineLength>> m_lines;
    std::int32_t m_lineCapacity = 0;
    std::int32_t m_lineFirst = 0;
    std::int32_t m_lineCount = 0;
    bool m_enabled = false;
};
