// The PCM format record of a RIFF "fmt " chunk (a WAVEFORMATEX), kept by
// the WAV writer and handed to the APE compressor.
#pragma once

#include <cstdint>

namespace qm {

struct WaveFormat {
    std::uint16_t formatTag = 1; // PCM
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t extraSize = 0;
};

} // namespace qm
