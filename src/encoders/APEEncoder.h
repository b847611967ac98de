// The APE sink: hands each PCM block to our Monkey's Audio compressor, which
// compresses and writes the file. Tags are added later by the tag writer.
// No APE file can hold a stream without a single sample: Close(true) after
// no write fails with "Failed to write file" and leaves no file, as does any
// failure to finish the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "encoders/APECompress.h"
#include "encoders/FileSink.h"

class CAPEEncoder : public CFileSink {
public:
    // What the compressor is told to expect; it only sizes the seek table.
    static constexpr std::int64_t kMaxAudioBytes = 99999999;

    struct Settings {
        std::uint32_t sampleRate = 44100;
        std::uint8_t channels = 2; // 1 gives a mono file, anything else stereo
        std::uint8_t level = 2;    // 0 ("Fast") to 4 ("Insane")
        std::uint8_t bitsPerSample = 16;
    };

    CAPEEncoder();
    ~CAPEEncoder() override;

    // Opens the output; 1 on success, 0 on failure.
    int OutputSettings(const char* path, const Settings& settings);

    void InitProgress(CProgress* progress, bool addProcess) override;
    WriteResult Write(const void* data, std::int32_t frames) override;
    std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                               std::int32_t bitsPerSample) override;
    void Close(bool complete) override;
    // OutputSettings with the kept settings and this path.
    std::int32_t Open(const char* fileName) override;

    // The compressor's level value for a setting (4000 for unknown ones).
    static int LevelValue(std::uint8_t level);

private:
    std::unique_ptr<IAPECompress> m_compressor;
    std::string m_path;  // the final path of the stream until Close
    Settings m_settings; // what the file stores
    std::uint32_t m_inSampleRate = 0;
    std::uint8_t m_inChannels = 0;
    std::int32_t m_inBitsPerSample = 0;
};
