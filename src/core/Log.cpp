#include "core/Log.h"

#include <cstdio>
#include <ctime>

#include "core/Trace.h"

bool CLog::Init(int capacity, const char* fileName) {
    QM_TRACE("Log");
    std::lock_guard<std::mutex> guard(m_lock);
    if (capacity <= 0 || capacity == m_capacity) {
        QM_RETURN(0, false);
    }
    if (fileName != nullptr && fileName[0] != '\0') {
        std::FILE* file = std::fopen(fileName, "w");
        if (file == nullptr) {
            QM_RETURN(1, false);
        }
        std::fclose(file);
        m_fileName = fileName;
    } else {
        m_fileName.clear();
    }
    m_ring.assign(static_cast<std::size_t>(capacity), std::string());
    m_capacity = capacity;
    m_next = 0;
    m_count = 0;
    QM_RETURN(2, true);
}

void CLog::Add(const std::string& line) {
    QM_TRACE("Log");
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_fileName.empty()) {
        if (std::FILE* file = std::fopen(m_fileName.c_str(), "a")) {
            std::time_t now = std::time(nullptr);
            std::tm local{};
            localtime_r(&now, &local);
            std::fprintf(file, "%02d:%02d:%02d - %s\n", local.tm_hour, local.tm_min, local.tm_sec,
                         line.c_str());
            std::fclose(file);
        }
    }
    if (m_capacity == 0) {
        QM_RETURN(0);
    }
    m_ring[static_cast<std::size_t>(m_next)] = line;
    m_next = (m_next + 1) % m_capacity;
    if (m_count < m_capacity) {
        ++m_count;
    }
    QM_EXIT(1);
}

void CLog::Clear() {
    QM_TRACE("Log");
    std::lock_guard<std::mutex> guard(m_lock);
    m_next = 0;
    m_count = 0;
}

std::vector<std::string> CLog::GetLines() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> lines;
    const int first = (m_next - m_count + m_capacity) % (m_capacity == 0 ? 1 : m_capacity);
    for (int i = 0; i < m_count; ++i) {
        lines.push_back(m_ring[static_cast<std::size_t>((first + i) % m_capacity)]);
    }
    return lines;
}
