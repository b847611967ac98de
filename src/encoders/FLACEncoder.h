// The FLAC sink: libFLAC's stream encoder with the parameters of one of nine
// compression levels, fed per-channel 32-bit arrays built from the
// interleaved PCM. The Vorbis comments are added by the tag writer later.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <FLAC/stream_encoder.h>

#include "encoders/FileSink.h"

namespace qm {
class RiffFile;
}

class CFLACEncoder : public CFileSink {
public:
    // What the file stores; the input may differ (SetInputProps) and is
    // converted to it.
    struct Settings {
        std::int32_t level = 5; // 0..8
        std::uint32_t sampleRate = 44100;
        std::uint8_t channels = 2;
        std::int32_t bitsPerSample = 16;
    };

    CFLACEncoder();
    ~CFLACEncoder() override;

    // 1 on success, 0 on failure.
    std::int32_t OutputSettings(const char* path, const Settings& settings);
    // Level 0..8; 1 on success, 0 on failure.
    std::int32_t SetCompressionLevel(std::int32_t level);
    // Makes sure of `channels` arrays of at least `frames` samples each;
    // 0 when memory ran out.
    std::int32_t ReallocateBuffer(std::uint8_t channels, std::int32_t frames);

    void InitProgress(CProgress* progress, bool addProcess) override;
    WriteResult Write(const void* data, std::int32_t frames) override;
    std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                               std::int32_t bitsPerSample) override;
    void Close(bool complete) override;
    std::int32_t Open(const char* fileName) override;

private:
    void FreeBuffer();
    // Drops the encoder and the unfinished file of this stream.
    void Abandon();
    // Adds libFLAC's own account of a failure to the run log, when there is one.
    void LogState(const char* step);

    FLAC__StreamEncoder* m_encoder = nullptr;
    std::string m_path;

    Settings m_settings;

    std::uint32_t m_inputSampleRate = 44100;
    std::uint8_t m_inputChannels = 2;
    std::int32_t m_inputBits = 16;

    std::vector<std::unique_ptr<FLAC__int32[]>> m_buffers;
    std::vector<FLAC__int32*> m_bufferPointers;
    std::uint8_t m_bufferChannels = 0;
    std::int32_t m_bufferCapacity = 0;

    std::unique_ptr<qm::RiffFile> m_file;
    // A failure already reported for this stream (Close does not repeat it).
    bool m_failed = false;
};
