// Encodes one APE frame (file version 3990, 16-bit PCM) into its logical byte
// stream: the CRC word, the flags word when the frame is special (silence,
// one silent channel, identical channels), then the range code of the
// prediction residuals. Every frame starts from a fresh state.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "encoders/APENNFilter.h"
#include "encoders/APEPredictor.h"
#include "encoders/APERangeCoder.h"

namespace qm::ape {

// Frame flags ("special codes").
constexpr std::uint32_t kFlagSecondSilent = 1; // mono: all silent; stereo: channel 1 silent
constexpr std::uint32_t kFlagFirstSilent = 2;  // stereo: channel 0 silent
constexpr std::uint32_t kFlagPseudoStereo = 4; // stereo: both channels identical

// CRC-32 (IEEE, as zlib computes it) of `bytes` bytes.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t bytes);

// The flags of a frame of interleaved 16-bit little-endian PCM.
std::uint32_t FrameFlags(const std::uint8_t* pcm, int blocks, int channels);

class FrameEncoder {
public:
    // `level` is one of 1000, 2000, 3000, 4000, 5000; `channels` 1 or 2.
    FrameEncoder(int channels, int level);

    // Appends the frame made of `blocks` blocks of `pcm` to `out`.
    void Encode(const std::uint8_t* pcm, int blocks, std::vector<std::uint8_t>* out);

private:
    void Reset();
    void EncodeMono(const std::uint8_t* pcm, int blocks, int stride);
    void EncodeStereo(const std::uint8_t* pcm, int blocks);

    int m_channels;
    RangeCoder m_coder;
    ResidualState m_stateY;
    ResidualState m_stateX;
    Predictor m_predictorY;
    Predictor m_predictorX;
    // Largest first, the order the encoder applies them.
    std::vector<std::unique_ptr<NNFilter>> m_filtersY;
    std::vector<std::unique_ptr<NNFilter>> m_filtersX;
    // Work space for one run of samples.
    std::vector<std::int32_t> m_x;
    std::vector<std::int32_t> m_y;
    std::vector<std::int32_t> m_previousX;
    std::vector<std::int32_t> m_residualX;
    std::vector<std::int32_t> m_residualY;
};

} // namespace qm::ape
