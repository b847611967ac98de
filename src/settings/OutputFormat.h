// The output formats, by the numbers the settings store and the track
// records use.
#pragma once

#include <cstdint>

enum class OutputFormat : std::int32_t {
    WMA = 0,
    MP3 = 1,
    OGG = 2,
    WAV = 3,
    APE = 4,
    FLAC = 5,
};
