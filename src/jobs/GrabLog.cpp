#include "jobs/GrabLog.h"

#include "core/Trace.h"

int CGrabLog::AddToLog(const std::string& text, std::uint8_t kind) {
    QM_TRACE("Data");
    const std::lock_guard lock(m_lock);
    m_entries.push_back({kind, text});
    QM_RETURN(0, 1);
}

std::vector<GrabLogEntry> CGrabLog::GetEntries() const {
    QM_TRACE("Data");
    const std::lock_guard lock(m_lock);
    QM_RETURN(0, m_entries);
}

std::size_t CGrabLog::GetCount() const {
    QM_TRACE("Data");
    const std::lock_guard lock(m_lock);
    QM_RETURN(0, m_entries.size());
}
