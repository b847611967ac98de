#include "core/FunctionTracer.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/Text.h"

namespace {

constexpr std::chrono::milliseconds kLockWait{2000};

bool SameName(const char* a, const char* b) {
    return std::strncmp(a, b, CFunctionTracer::kNameLength - 1) == 0;
}

// Appends to a fixed buffer, always NUL-terminated, never past its end. A
// field is read up to its NUL or its own size, whichever comes first, so a
// slot or line caught half-written gives a short text, not a runaway read.
// Control characters other than the line ends it writes itself become '?'.
class BoundedWriter {
public:
    BoundedWriter(char* out, std::size_t capacity) noexcept : m_out(out), m_capacity(capacity) {
        if (m_out != nullptr && m_capacity > 0) {
            m_out[0] = '\0';
        }
    }

    void Field(const char* text, std::size_t size) noexcept {
        for (std::size_t i = 0; i < size && text[i] != '\0'; ++i) {
            const char c = text[i];
            Put(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
        }
    }
    void Text(const char* text) noexcept {
        while (*text != '\0') {
            Put(*text++);
        }
    }
    std::size_t Length() const noexcept { return m_length; }

private:
    void Put(char c) noexcept {
        if (m_out == nullptr || m_length + 1 >= m_capacity) {
            return;
        }
        m_out[m_length++] = c;
        m_out[m_length] = '\0';
    }

    char* m_out;
    std::size_t m_capacity;
    std::size_t m_length = 0;
};

// Room for every text the tracer gives: each slot or line with its line end.
std::size_t StackCapacity(int slotCount) {
    return static_cast<std::size_t>(slotCount + 1) * (2 * CFunctionTracer::kNameLength + 16);
}
std::size_t LinesCapacity(int lineCapacity) {
    return static_cast<std::size_t>(lineCapacity) * (CFunctionTracer::kLineLength + 2) + 1;
}

std::string FromBuffer(std::vector<char>& buffer, std::size_t length) {
    return std::string(buffer.data(), length);
}

} // namespace

bool CFunctionTracer::Init(int slotCount, int lineCapacity) {
    std::lock_guard<std::timed_mutex> guard(m_lock);
    m_enabled = false;
    m_slotCount = slotCount < 5 ? 5 : slotCount;
    m_lineCapacity = lineCapacity < 10 ? 10 : lineCapacity;
    m_slots.assign(static_cast<std::size_t>(m_slotCount), Slot{});
    m_lines.assign(static_cast<std::size_t>(m_lineCapacity), {});
    m_depth = 0;
    m_lineFirst = 0;
    m_lineCount = 0;
    m_enabled = true;
    return true;
}

bool CFunctionTracer::Enter(const char* method, const char* classTag) {
    if (!IsRecording()) {
        return false;
    }
    std::unique_lock<std::timed_mutex> lock(m_lock, kLockWait);
    if (!lock.owns_lock()) {
        return false;
    }
    int index = -1;
    for (int i = 0; i < m_slotCount; ++i) {
        if (m_slots[static_cast<std::size_t>(i)].free) {
            index = i;
            break;
        }
    }
    if (index >= 0) {
        m_depth = index + 1;
    } else {
        // Every slot is taken: the innermost call gives its slot up.
        index = m_depth > 0 ? m_depth - 1 : 0;
    }
    Slot& slot = m_slots[static_cast<std::size_t>(index)];
    qm::CopyTruncated(slot.method, kNameLength, method);
    qm::CopyTruncated(slot.classTag, kNameLength, classTag);
    slot.free = 0;
    slot.state = 1;
    AppendLine("Starting %s:%s", method, classTag, 0);
    return true;
}

bool CFunctionTracer::Leave(const char* method, const char* classTag, int exitIndex) {
    if (!IsRecording()) {
        return false;
    }
    std::unique_lock<std::timed_mutex> lock(m_lock, kLockWait);
    if (!lock.owns_lock()) {
        return false;
    }
    const char* m = method != nullptr ? method : "";
    const char* c = classTag != nullptr ? classTag : "";
    for (int i = m_slotCount - 1; i >= 0; --i) {
        Slot& slot = m_slots[static_cast<std::size_t>(i)];
        if (slot.free || !SameName(slot.method, m) || !SameName(slot.classTag, c)) {
            continue;
        }
        slot.free = 1;
        slot.state = 2;
        // Keep the active calls packed at the bottom in calling order, with
        // the call just left directly above them.
        int at = i;
        while (at + 1 < m_slotCount && !m_slots[static_cast<std::size_t>(at + 1)].free) {
            std::swap(m_slots[static_cast<std::size_t>(at)],
                      m_slots[static_cast<std::size_t>(at + 1)]);
            ++at;
        }
        --m_depth;
        break;
    }
    AppendLine("Leaving  %s:%s [%d]", m, c, exitIndex);
    return true;
}

void CFunctionTracer::AppendLine(const char* format, const char* method, const char* classTag,
                                 int exitIndex) {
    std::size_t position;
    if (m_lineCount < m_lineCapacity) {
        position = static_cast<std::size_t>((m_lineFirst + m_lineCount) % m_lineCapacity);
        ++m_lineCount;
    } else {
        position = static_cast<std::size_t>(m_lineFirst);
        m_lineFirst = (m_lineFirst + 1) % m_lineCapacity;
    }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wformat-truncation"
#endif
    std::snprintf(m_lines[position].data(), kLineLength, format, method != nullptr ? method : "",
                  classTag != nullptr ? classTag : "", exitIndex);
#pragma GCC diagnostic pop
}

std::string CFunctionTracer::GetCurrentFunction() const {
    std::vector<char> buffer(2 * kNameLength + 2);
    return FromBuffer(buffer, FormatCurrentFunction(buffer.data(), buffer.size()));
}

std::string CFunctionTracer::GetCallStack() const {
    std::vector<char> buffer(StackCapacity(m_slotCount));
    return FromBuffer(buffer, FormatCallStack(buffer.data(), buffer.size()));
}

std::string CFunctionTracer::GetRecentLines() const {
    std::vector<char> buffer(LinesCapacity(m_lineCapacity));
    return FromBuffer(buffer, FormatRecentLines(buffer.data(), buffer.size()));
}

std::size_t CFunctionTracer::FormatCurrentFunction(char* out, std::size_t capacity) const noexcept {
    BoundedWriter writer(out, capacity);
    if (!m_enabled) {
        return 0;
    }
    for (int i = m_slotCount - 1; i >= 0; --i) {
        const Slot& slot = m_slots[static_cast<std::size_t>(i)];
        if (!slot.free) {
            writer.Field(slot.method, kNameLength);
            writer.Text(":");
            writer.Field(slot.classTag, kNameLength);
            break;
        }
    }
    return writer.Length();
}

std::size_t CFunctionTracer::FormatCallStack(char* out, std::size_t capacity) const noexcept {
    BoundedWriter writer(out, capacity);
    if (!m_enabled) {
        return 0;
    }
    bool separatorWritten = false;
    for (int i = 0; i < m_slotCount; ++i) {
        const Slot& slot = m_slots[static_cast<std::size_t>(i)];
        if (slot.state == 0) {
            continue;
        }
        const char* word;
        if (!slot.free) {
            word = slot.state == 1 ? "Enter" : (slot.state == 2 ? "Leave" : "Unknown");
        } else {
            if (!separatorWritten) {
                writer.Text("---------\r\n");
                separatorWritten = true;
            }
            if (slot.state != 1 && slot.state != 2) {
                break;
            }
            word = slot.state == 1 ? "Enter" : "Leave";
        }
        writer.Field(slot.method, kNameLength);
        writer.Text(":");
        writer.Field(slot.classTag, kNameLength);
        writer.Text(" [");
        writer.Text(word);
        writer.Text("]\r\n");
    }
    return writer.Length();
}

std::size_t CFunctionTracer::FormatRecentLines(char* out, std::size_t capacity) const noexcept {
    BoundedWriter writer(out, capacity);
    if (!m_enabled || m_lineCapacity <= 0) {
        return 0;
    }
    // The counters may be caught between two updates: keep them in range.
    const int count =
        m_lineCount < 0 ? 0 : (m_lineCount > m_lineCapacity ? m_lineCapacity : m_lineCount);
    const int first = m_lineFirst < 0 || m_lineFirst >= m_lineCapacity ? 0 : m_lineFirst;
    for (int i = 0; i < count; ++i) {
        writer.Field(m_lines[static_cast<std::size_t>((first + i) % m_lineCapacity)].data(),
                     kLineLength);
        writer.Text("\r\n");
    }
    return writer.Length();
}
