// The function tracer: every traced method enters it on its first line and
// leaves it on every return. It keeps the current call nesting in a few slots
// and the last lines of the trace in a ring, in memory only, so that a crash
// report can say where the program was. The crash handler reads it from a
// signal handler: the Format* views take no lock, allocate nothing and stay
// within their buffers even when a call was cut off in the middle of writing
// a slot or a line.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
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

    // The same texts written into `out` (`capacity` bytes, NUL included,
    // cut when it is too small); the length written. Async-signal-safe.
    std::size_t FormatCurrentFunction(char* out, std::size_t capacity) const noexcept;
    std::size_t FormatCallStack(char* out, std::size_t capacity) const noexcept;
    std::size_t FormatRecentLines(char* out, std::size_t capacity) const noexcept;

    // Stops recording for good: calls entered after it change nothing, so
    // that what a crash handler reads is not rewritten under it by other
    // threads. Async-signal-safe.
    void Freeze() noexcept { m_frozen.store(true, std::memory_order_relaxed); }

    bool IsEnabled() const { return m_enabled; }

private:
    bool IsRecording() const noexcept {
        return m_enabled && !m_frozen.load(std::memory_order_relaxed);
    }

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
    std::atomic<bool> m_frozen{false};
};
