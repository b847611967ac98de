// The filter stage that converts a stream, block by block, to the sample
// rate, channel count and sample width the next sink wants. Its sink face
// takes the upstream stage's blocks; its source face feeds the next sink.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pipeline/FilterStage.h"
#include "pipeline/PcmConversion.h"

class CResampler : public CFilterStage {
public:
    CResampler();
    ~CResampler() override;

    // Source face (the terminate event, registry and finish event are the
    // filter stage's).
    // Frees the buffers; closes the next sink with false when terminated.
    void Stop(bool complete) override;
    // `sink` becomes the next sink. Always true.
    bool Open(const char* fileName, CEncoder* sink) override;
    using CEncoder::Open;

    // Sink face.
    // Keeps the tracker and passes the call on; no process of its own.
    void InitProgress(CProgress* progress, bool addProcess) override;
    using CDecoder::InitProgress;
    // 0 accepted (the next sink's own answer otherwise), -1 refused with
    // error 32 (input) or 33 (output) when a registry is attached.
    std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                               std::int32_t bitsPerSample) override;
    // The next sink's answer; 0 when nothing was due yet, 1 without a next
    // sink, -1 when a buffer could not be had (error 2).
    WriteResult Write(const void* data, std::int32_t frames) override;
    void Close(bool complete) override;

    // Set-up by the job, before the chain runs.
    void SetOutputFormat(std::uint32_t sampleRate, std::uint8_t channels,
                         std::uint8_t bitsPerSample);
    // One switch per dimension; where it is off, the output keeps the
    // input's value.
    void SetConversions(bool rate, bool channels, bool bits);
    // Small blocks are gathered until at least this many frames wait (0, the
    // default, delivers every block at once).
    void SetMinimumFrames(std::int32_t frames);
    // Frees the work buffers and the accumulation buffer.
    void Clear();

private:
    struct Format {
        std::uint32_t rate = 0;
        std::uint8_t channels = 0;
        std::uint8_t bits = 0;
        std::size_t FrameBytes() const { return std::size_t{channels} * (bits / 8u); }
    };
    // The block a conversion step reads: the caller's data or a work buffer.
    struct Block {
        const std::uint8_t* data = nullptr;
        int buffer = -1; // -1 the caller's, otherwise the work buffer's index
        Format format;
        std::size_t frames = 0;
    };

    WriteResult Convert(const std::uint8_t* data, std::size_t frames);
    // The work buffer the current block is not in, with room for `bytes`;
    // null (and error 2 filed) when it cannot be had.
    std::uint8_t* Target(const Block& block, std::size_t bytes, int* index);
    bool Resample(Block& block);

    Format m_input;
    Format m_requested;
    Format m_output;
    bool m_convertRate = true;
    bool m_convertChannels = true;
    bool m_convertBits = true;

    std::uint8_t* m_work[2] = {nullptr, nullptr};
    std::size_t m_workSize[2] = {0, 0};

    qm::RateStep m_step;
    qm::RateState m_rateState;

    std::int32_t m_minimumFrames = 0;
    std::uint8_t* m_pending = nullptr;
    std::size_t m_pendingSize = 0;
    std::size_t m_pendingBytes = 0;
    std::size_t m_pendingFrames = 0;
};
