// Our Monkey's Audio compressor: writes .ape files (file version 3990,
// 16-bit PCM, mono or stereo, levels 1000 to 5000) with the seek table,
// frame CRCs and the file MD5. It offers the calls of the usual compressor
// object: describe the input with FillWaveFormatEx, Start a file, fill the
// compressor's own buffer through LockBuffer/UnlockBuffer, and Finish.
//
// Results are 0 for success, one of the kAPEError codes otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encoders/WaveFormat.h"

namespace qm {
class RiffFile;
namespace ape {
class FrameEncoder;
}
} // namespace qm

constexpr int kAPESuccess = 0;
constexpr int kAPEErrorInvalidFormat = 1;   // not 16-bit PCM, mono or stereo
constexpr int kAPEErrorInvalidLevel = 2;    // not 1000, 2000, 3000, 4000, 5000
constexpr int kAPEErrorInvalidArgument = 3; // a bad size or pointer
constexpr int kAPEErrorNotStarted = 4;      // a call out of order
constexpr int kAPEErrorOpen = 5;            // the output file cannot be created
constexpr int kAPEErrorWrite = 6;           // writing the output failed
constexpr int kAPEErrorNoMemory = 7;
constexpr int kAPEErrorEmpty = 8;        // no sample was given: no valid file can exist
constexpr int kAPEErrorPartialBlock = 9; // the input ends inside a block
constexpr int kAPEErrorTooLarge = 10;    // past the format's 32-bit seek offsets

// Describes PCM input; 0 on success.
int FillWaveFormatEx(qm::WaveFormat* format, int sampleRate, int bitsPerSample, int channels);

class IAPECompress {
public:
    // `headerBytes` value asking the decoder side to make a WAV header.
    static constexpr std::int64_t kCreateWavHeader = -1;

    IAPECompress() = default;
    IAPECompress(const IAPECompress&) = delete;
    IAPECompress& operator=(const IAPECompress&) = delete;
    // An unfinished file is closed; removing it is the caller's business.
    virtual ~IAPECompress() = default;

    // Creates the output file. `maxAudioBytes` is the caller's estimate of
    // the PCM bytes to come (it sizes the seek table; a longer stream still
    // works); `headerData` holds `headerBytes` of the source's WAV header to
    // store, or is null with kCreateWavHeader.
    virtual int Start(const char* outputFilename, const qm::WaveFormat* input,
                      std::int64_t maxAudioBytes, int compressionLevel, const void* headerData,
                      std::int64_t headerBytes) = 0;
    // The free part of the compressor's buffer and its size; null (and 0)
    // when nothing can be taken.
    virtual std::uint8_t* LockBuffer(std::int64_t* bytesAvailable) = 0;
    // Takes `bytesAdded` bytes written into the locked buffer; with
    // `process` a full buffer is compressed at once.
    virtual int UnlockBuffer(std::int64_t bytesAdded, bool process) = 0;
    // Compresses the rest, appends `terminatingBytes` of trailing data (the
    // first `wavTerminatingBytes` of which belong to the WAV file) and
    // completes the header. After a failure the file is closed but
    // incomplete; the caller removes it.
    virtual int Finish(const void* terminatingData, std::int64_t terminatingBytes,
                       std::int64_t wavTerminatingBytes) = 0;
};

// A fresh compressor; null (with *errorCode set) when none can be made.
std::unique_ptr<IAPECompress> CreateIAPECompress(int* errorCode = nullptr);

class CAPECompress : public IAPECompress {
public:
    static constexpr int kVersion = 3990;

    // `blocksPerFrame` 0 uses the standard frame length of each level; tests
    // set short frames to get many frames out of a short signal.
    explicit CAPECompress(std::uint32_t blocksPerFrame = 0);
    ~CAPECompress() override;

    int Start(const char* outputFilename, const qm::WaveFormat* input, std::int64_t maxAudioBytes,
              int compressionLevel, const void* headerData, std::int64_t headerBytes) override;
    std::uint8_t* LockBuffer(std::int64_t* bytesAvailable) override;
    int UnlockBuffer(std::int64_t bytesAdded, bool process) override;
    int Finish(const void* terminatingData, std::int64_t terminatingBytes,
               std::int64_t wavTerminatingBytes) override;

    // The standard blocks per frame of a level.
    static std::uint32_t BlocksPerFrame(int compressionLevel);

private:
    enum class State { Idle, Started, Finished, Failed };
    struct Md5;

    int CompressBuffer();
    int WriteStream(bool final);
    int GrowSeekTable(std::uint32_t entries);
    int WriteHeaders(const std::vector<std::uint8_t>& terminating);
    // Closes an unfinished file; returns `code`.
    int Fail(int code);

    std::uint32_t m_fixedBlocksPerFrame;
    State m_state = State::Idle;
    qm::WaveFormat m_format;
    int m_level = 0;
    std::uint32_t m_blocksPerFrame = 0;
    std::unique_ptr<qm::RiffFile> m_file;
    std::unique_ptr<qm::ape::FrameEncoder> m_encoder;
    std::unique_ptr<Md5> m_md5;
    std::vector<std::uint8_t> m_buffer; // one frame of PCM
    std::size_t m_filled = 0;
    std::vector<std::uint8_t> m_headerData;
    bool m_createWavHeader = true;
    std::vector<std::uint8_t> m_stream; // logical bytes not yet stored
    std::uint64_t m_streamLength = 0;   // logical bytes produced so far
    std::vector<std::uint64_t> m_frameOffsets;
    std::uint32_t m_seekEntries = 0; // reserved in the file
    std::int64_t m_firstFrame = 0;   // file offset of the frame data
    std::uint64_t m_totalBlocks = 0;
    std::uint32_t m_finalFrameBlocks = 0;
};
