// Cuts the MP3 sink's PCM into the chunk size the MP3 library asks for,
// encodes every full chunk at once and appends the coded bytes to the file.
#pragma once

#include <cstdint>
#include <vector>

#include "encoders/LameStreamAdapter.h"

namespace qm {
class RiffFile;
}

class CLameAudioBuffer {
public:
    CLameAudioBuffer();
    ~CLameAudioBuffer();
    CLameAudioBuffer(const CLameAudioBuffer&) = delete;
    CLameAudioBuffer& operator=(const CLameAudioBuffer&) = delete;

    // Allocates a chunk of `chunkBytes` and an output buffer of four times
    // that, or `minOutputBytes` when the library asked for more. False (and
    // empty) for a chunk size of 0 or when memory ran out.
    bool Init(std::uint32_t chunkBytes, std::uint32_t minOutputBytes,
              qm::lame::BeEncodeChunk encodeChunk, qm::lame::BeDeinitStream deinitStream,
              qm::RiffFile* file, qm::lame::StreamHandle stream);
    // Places `samples` samples of `bytesPerSample` bytes; every chunk that
    // fills up is encoded and written. False when the library or the file
    // failed (bytes written so far stay).
    bool Write(const void* block, std::uint32_t samples, std::uint32_t bytesPerSample);
    // Encodes what is left, then drains the library. False on any failure.
    bool Flush();
    void Free();

    bool IsEmpty() const { return m_chunkBytes == 0; }
    std::uint32_t GetChunkBytes() const { return m_chunkBytes; }
    std::uint32_t GetFill() const { return m_fill; }

private:
    bool EncodeChunk(std::uint32_t bytes);
    bool Store(std::uint32_t bytes);

    std::vector<std::int16_t> m_input;
    std::vector<std::uint8_t> m_output;
    std::uint32_t m_chunkBytes = 0;
    std::uint32_t m_fill = 0;
    std::uint32_t m_bytesPerSample = 2;
    qm::lame::BeEncodeChunk m_encodeChunk = nullptr;
    qm::lame::BeDeinitStream m_deinitStream = nullptr;
    qm::RiffFile* m_file = nullptr;
    qm::lame::StreamHandle m_stream = nullptr;
};
