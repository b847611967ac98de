// The progress tracker: a job registers up to ten weighted processes
// ("Ripping CD track", "Normalizing", ...); the worker advances them and the
// UI polls one overall percentage and the current process's description.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

class CProgress {
public:
    static constexpr int kMaxProcesses = 10;
    static constexpr int kDescriptionSize = 200;

    CProgress();
    CProgress(const CProgress&) = delete;
    CProgress& operator=(const CProgress&) = delete;
    virtual ~CProgress() = default;

    void Clear();
    bool Add(std::uint32_t weight, const char* description);
    bool NextProcess();
    bool SetCurrentProcess(int index);
    bool SetPercent(std::uint8_t value);
    std::uint8_t GetTotalPercent();
    void GetCurrentDescription(std::string* dest);

    int GetCount();
    int GetCurrent();

private:
    std::mutex m_lock;
    std::array<std::uint32_t, kMaxProcesses> m_weights{};
    std::uint8_t m_percent = 0;
    std::uint8_t m_count = 0;
    std::int32_t m_current = -1;
    std::array<std::array<char, kDescriptionSize>, kMaxProcesses> m_descriptions{};
};
