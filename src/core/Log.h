// The run log: the last lines of the current run in a ring, optionally
// mirrored to a file with a time stamp per line.
#pragma once

#include <mutex>
#include <string>
#include <vector>

class CLog {
public:
    CLog() = default;
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;
    virtual ~CLog() = default;

    bool Init(int capacity, const char* fileName);
    void Add(const std::string& line);
    void Clear();

    // The lines held, oldest first.
    std::vector<std::string> GetLines() const;

private:
    mutable std::mutex m_lock;
    std::string m_fileName;
    std::vector<std::string> m_ring;
    int m_capacity = 0;
    int m_next = 0;
    int m_count = 0;
};
