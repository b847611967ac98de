// The WMA sink: builds a one-stream audio profile from the WMA settings by
// searching the writer's codec formats, writes 16-bit PCM through the
// writer with sample times, and in two-pass mode keeps the whole
// track in memory for an analysis pass before writing it. Writes no tags.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encoders/FileSink.h"
#include "encoders/WMProfile.h"
#include "encoders/WMTypes.h"
#include "encoders/WMWriter.h"

class CWMAEncoder : public CFileSink {
public:
    static constexpr std::int32_t kProgressWeight = 3000;
    static constexpr const char* kProcessName = "Encoding WMA (2nd pass)";
    static constexpr const char* kProfileName = "Custom Profile";
    // A codec format matches a wanted bitrate within this many bit/s.
    static constexpr std::int64_t kBitrateTolerance = 249;

    // The stream the profile is built for.
    struct StreamDescription {
        std::int32_t bitrate = 0; // bit/s, or the quality 0..100 for one-pass VBR
        std::uint16_t formatTag = qm::wm::kFormatWma;
        std::int32_t sampleRate = 0;
        std::int32_t channels = 0;
        bool vbr = false;
        std::int32_t passes = 1;
    };

    // The WMA settings of one track. A lossless track is written as quality
    // 100, 44100 Hz stereo, format 0x163, whatever the other values say.
    struct Settings {
        std::int32_t lossless = 0;
        std::int32_t bitrate = 0; // bit/s, or the quality 0..100 for one-pass VBR
        std::int32_t sampleRate = 0;
        std::int32_t channels = 0;
        std::int32_t vbr = 0;
        std::int32_t passes = 1;
    };

    CWMAEncoder();
    ~CWMAEncoder() override;

    // 1 on success, 0 on failure.
    int OutputSettings(const char* path, const Settings& settings);
    // OutputSettings with the kept settings and this path.
    std::int32_t Open(const char* fileName) override;

    void InitProgress(CProgress* progress, bool addProcess) override;
    // 0 on success, else the writer's failure code.
    std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                               std::int32_t bitsPerSample) override;
    WriteResult Write(const void* data, std::int32_t frames) override;
    void Close(bool complete) override;

    // Searches the writer's codec formats for the described stream and
    // builds the profile; kNoMatchingFormat when nothing matches.
    static qm::wm::Result<qm::wm::Profile> GenAudioProfile(const StreamDescription& wanted);
    // The stream OutputSettings asks for with these settings.
    static StreamDescription Describe(std::int32_t lossless, std::int32_t bitrate,
                                      std::int32_t sampleRate, std::int32_t channels,
                                      std::int32_t vbr, std::int32_t passes);
    // Whether the writer can write a WMA configuration at all (the same
    // search OutputSettings runs). Settings pages and format descriptions
    // use it to mark configurations that would fail before a grab starts.
    static bool IsConfigurationAvailable(std::int32_t lossless, std::int32_t bitrate,
                                         std::int32_t sampleRate, std::int32_t channels,
                                         std::int32_t vbr, std::int32_t passes);

private:
    struct StoredBlock {
        std::vector<std::uint8_t> bytes;
        std::int32_t frames = 0;
    };

    // Makes the writer for `profile` and points it at the output; false
    // (with the failure filed) when that fails.
    bool Init(const qm::wm::Profile& profile);
    void ReportFailure(qm::wm::Status status, const char* call);
    // Drops the writer and the unfinished file.
    void ReleaseWriter();

    std::string m_path;
    Settings m_settings;

    std::unique_ptr<qm::wm::Writer> m_writer;
    bool m_writing = false; // BeginWriting succeeded and the file is open

    std::uint32_t m_passesLeft = 0;
    bool m_passInProgress = false;
    bool m_twoPass = false;
    std::vector<StoredBlock> m_blocks;

    qm::wm::WaveFormatEx m_inputFormat;
    std::uint64_t m_bytesWritten = 0;
    std::uint64_t m_timeMs = 0;
};
