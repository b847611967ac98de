// The MP3 sink: drives the MP3 library (loaded at run time, see
// LameStreamAdapter.h) through its six stream calls, writes the output file and
// puts the VBR header into its first frame once the stream is complete (before
// the file takes its final name).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encoders/FileSink.h"
#include "encoders/LameAudioBuffer.h"
#include "encoders/LameStreamAdapter.h"

namespace qm {
class RiffFile;
}

class CMP3Encoder : public CFileSink {
public:
    // The MP3 settings of one track (built by the rip jobs from the format
    // settings).
    struct Settings {
        std::int32_t minBitrate = 128; // kbit/s; the bitrate in constant-bitrate mode
        std::int32_t maxBitrate = 320; // kbit/s
        std::int32_t avgBitrate = 0;   // kbit/s
        bool variable = false;
        bool averageMode = false; // avgBitrate > 0
        std::uint32_t sampleRate = 44100;
        std::uint8_t mode = qm::lame::kModeJointStereo; // 0 stereo, 1 joint, 2 dual, 3 mono
        std::int32_t vbrQuality = 4;                    // 0..9
    };

    // The library's file, looked for in the folder given to Init and then
    // on the system's library path.
    static constexpr const char* kLibraryFileName = "libmp3lame.so.0";
    static constexpr int kLoadAttempts = 5;

    CMP3Encoder();
    ~CMP3Encoder() override;

    bool Init(const char* folder);
    void DeInit();
    bool OutputSettings(const char* path, const Settings& settings);

    void InitProgress(CProgress* progress, bool addProcess) override;
    WriteResult Write(const void* data, std::int32_t frames) override;
    std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                               std::int32_t bitsPerSample) override;
    void Close(bool complete) override;
    std::int32_t Open(const char* fileName) override;

    bool IsLoaded() const { return m_loaded; }
    const qm::lame::StreamConfig& GetConfig() const { return m_config; }

    // Tests hide the system's library behind another file name; empty
    // restores kLibraryFileName.
    static void SetLibraryFileName(const std::string& name);

private:
    bool LoadLibrary();
    void RetryLoad();
    void CloseStream();
    // Drops the stream and the file it created, unfinished.
    void Abandon();

    qm::lame::Module* m_library = nullptr;
    bool m_loaded = false;
    std::string m_folder;

    qm::lame::BeInitStream m_beInitStream = nullptr;
    qm::lame::BeEncodeChunk m_beEncodeChunk = nullptr;
    qm::lame::BeDeinitStream m_beDeinitStream = nullptr;
    qm::lame::BeCloseStream m_beCloseStream = nullptr;
    qm::lame::BeVersion m_beVersion = nullptr;
    qm::lame::BeWriteVBRHeader m_beWriteVBRHeader = nullptr;

    qm::lame::StreamHandle m_stream = nullptr;
    std::uint32_t m_chunkSamples = 0;
    std::uint32_t m_outputBufferSize = 0;
    bool m_streamStarted = false;

    qm::lame::StreamConfig m_config{};

    std::unique_ptr<qm::RiffFile> m_file;
    bool m_opened = false;
    Settings m_settings;

    std::int32_t m_bits = 16;
    bool m_inputMono = false;
    bool m_outputMono = false;

    std::vector<std::int16_t> m_convert;
    CLameAudioBuffer m_buffer;
};
