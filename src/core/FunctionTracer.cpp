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
    if (!m_enabled) {
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
    if (!m_enabled) {
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
#pragma GCC diagnostic ignored "-Wformat-truncation"
    std::snprintf(m_lines[position].data(), kLineLength, format, method != nullptr ? method : "",
                  classTag != nullptr ? classTag : "", exitIndex);
#pragma GCC diagnostic pop
}

std::string CFunctionTracer::GetCurrentFunction() const {
    if (!m_enabled) {
        return {};
    }
    for (int i = m_slotCount - 1; i >= 0; --i) {
        const Slot& slot = m_slots[static_cast<std::size_t>(i)];
        if (!slot.free) {
            return std::string(slot.method) + ":" + slot.classTag;
        }
    }
    return {};
}

std::string CFunctionTracer::GetCallStack() const {
    std::string out;
    if (!m_enabled) {
        return out;
    }
    bool separatorWritten = false;
    for (const Slot& slot : m_slots) {
        if (slot.state == 0) {
            continue;
        }
        const char* word;
        if (!slot.free) {
            word = slot.state == 1 ? "Enter" : (slot.state == 2 ? "Leave" : "Unknown");
        } else {
            if (!separatorWritten) {
                out += "---------\r\n";
                separatorWritten = true;
            }
            if (slot.state != 1 && slot.state != 2) {
                break;
            }
            word = slot.state == 1 ? "Enter" : "Leave";
        }
        out += slot.method;
        out += ':';
        out += slot.classTag;
        out += " [";
        out += word;
        out += "]\r\n";
    }
    return out;
}

std::string CFunctionTracer::GetRecentLines() const {
    std::string out;
    if (!m_enabled) {
        return out;
    }
    for (int i = 0; i < m_lineCount; ++i) {
        out += m_lines[static_cast<std::size_t>((m_lineFirst + i) % m_lineCapacity)].data();
        out += "\r\n";
    }
    return out;
}
