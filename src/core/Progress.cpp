#include "core/Progress.h"

#include "core/Text.h"
#include "core/Trace.h"

// Every operation takes the lock: the worker registers and advances while
// the UI polls, so the description and the counters are read consistently.

CProgress::CProgress() {
    QM_TRACE("CProgress");
    m_weights.fill(10);
}

void CProgress::Clear() {
    QM_TRACE("Progress");
    std::lock_guard<std::mutex> guard(m_lock);
    m_count = 0;
    m_current = -1;
    m_percent = 0;
    m_weights.fill(10);
    for (auto& description : m_descriptions) {
        description[0] = '\0';
    }
}

bool CProgress::Add(std::uint32_t weight, const char* description) {
    QM_TRACE("Progress");
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_count >= kMaxProcesses) {
        QM_RETURN(0, false);
    }
    m_weights[m_count] = weight;
    qm::CopyTruncated(m_descriptions[m_count].data(), kDescriptionSize, description);
    ++m_count;
    QM_RETURN(1, true);
}

bool CProgress::NextProcess() {
    QM_TRACE("Progress");
    std::lock_guard<std::mutex> guard(m_lock);
    if ((m_count == 0 && m_current < 0) || m_current >= m_count) {
        QM_RETURN(0, false);
    }
    m_current = m_current < 0 ? 0 : m_current + 1;
    m_percent = 0;
    QM_RETURN(1, true);
}

bool CProgress::SetCurrentProcess(int index) {
    QM_TRACE("Progress");
    std::lock_guard<std::mutex> guard(m_lock);
    if (index >= m_count || index == m_current) {
        QM_RETURN(0, false);
    }
    m_current = index;
    m_percent = 0;
    QM_RETURN(1, true);
}

bool CProgress::SetPercent(std::uint8_t value) {
    QM_TRACE("Progress");
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_current >= m_count) {
        QM_RETURN(0, false);
    }
    m_percent = value > 100 ? 100 : value;
    QM_RETURN(1, true);
}

std::uint8_t CProgress::GetTotalPercent() {
    QM_TRACE("Progress");
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_count == 0 || m_current < 0) {
        QM_RETURN(0, 0);
    }
    if (m_current >= m_count) {
        QM_RETURN(1, 100);
    }
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    for (int i = 0; i < m_count; ++i) {
        if (i < m_current) {
            done += static_cast<std::uint64_t>(m_weights[static_cast<std::size_t>(i)]) * 100;
        }
        total += m_weights[static_cast<std::size_t>(i)];
    }
    done += static_cast<std::uint64_t>(m_percent) * m_weights[static_cast<std::size_t>(m_current)];
    if (total == 0) {
        QM_RETURN(2, 0);
    }
    QM_RETURN(3, static_cast<std::uint8_t>(done / total));
}

void CProgress::GetCurrentDescription(std::string* dest) {
    QM_TRACE("Progress");
    std::lock_guard<std::mutex> guard(m_lock);
    if (dest != nullptr && m_current >= 0 && m_current < m_count) {
        *dest = m_descriptions[static_cast<std::size_t>(m_current)].data();
    }
}

int CProgress::GetCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_count;
}

int CProgress::GetCurrent() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_current;
}
