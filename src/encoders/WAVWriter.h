// The WAV sink: stores the PCM it is given as a RIFF WAVE file
// ("fmt " of 16 bytes, "fact" with the frame count, "data").
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "encoders/FileSink.h"
#include "encoders/WaveFormat.h"
#include "platform/RiffFile.h"

class CWAVWriter : public CFileSink {
public:
    static constexpr int kFailure = 57604; // 0xE104

    CWAVWriter();
    ~CWAVWriter() override;

    void InitProgress(CProgress* progress, bool addProcess) override;
    WriteResult Write(const void* data, std::int32_t frames) override;
    std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                               std::int32_t bitsPerSample) override;
    void Close(bool complete) override;
    std::int32_t Open(const char* fileName) override;

private:
    int WaveCreateFile(const std::string& path);
    int WaveStartDataWrite();
    int WaveWriteFile(const std::uint8_t* data, std::size_t bytes);
    int WaveCloseWriteFile(std::uint32_t frameCount);

    std::string m_path; // as given to Open, for the error text
    std::unique_ptr<qm::RiffFile> m_file;
    qm::RiffChunk m_chunk;
    qm::RiffChunk m_riffChunk;
    qm::WaveFormat m_format;
    std::uint32_t m_frames = 0;
};
