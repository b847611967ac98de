// The fixed list of WMA configurations that a track's wma.configuration
// indexes. The list ends with an entry whose sample rate is 0.
#pragma once

#include <array>
#include <cstdint>

struct WmaConfiguration {
    std::int32_t bitrate = 0; // bit/s; the quality 0..100 for one-pass VBR entries
    std::uint32_t sampleRate = 0;
    std::uint8_t channels = 0;
    bool vbr = false;
    std::int32_t passes = 1; // 1 or 2
};

inline constexpr int kWmaConfigurationCount = 56;
// The first-run and the missing-value configuration.
inline constexpr int kWmaFirstRunConfiguration = 28;
inline constexpr int kWmaMissingConfiguration = 29;

// kWmaConfigurationCount entries and the end entry.
extern const std::array<WmaConfiguration, kWmaConfigurationCount + 1> WmaConfigurationTable;
