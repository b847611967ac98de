// The grab log: the coloured one-line messages the grab and album jobs add
// while they run, kept for the whole run in the order added, and shown by
// the log window (or printed by the terminal front end).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// How an entry is shown: plain, attention (red), success (green).
enum GrabLogKind : std::uint8_t { kLogPlain = 0, kLogAttention = 1, kLogSuccess = 2 };

struct GrabLogEntry {
    std::uint8_t kind = kLogPlain;
    std::string text;

    bool operator==(const GrabLogEntry&) const = default;
};

class CGrabLog {
public:
    CGrabLog() = default;
    CGrabLog(const CGrabLog&) = delete;
    CGrabLog& operator=(const CGrabLog&) = delete;

    // Appends a copy of `text`; always 1.
    int AddToLog(const std::string& text, std::uint8_t kind);
    // A snapshot of every entry, oldest first: what the log window shows when
    // it opens.
    std::vector<GrabLogEntry> GetEntries() const;
    std::size_t GetCount() const;

private:
    // A front end may read the log from another thread than the one the job
    // adds to it from.
    mutable std::mutex m_lock;
    std::vector<GrabLogEntry> m_entries;
};
