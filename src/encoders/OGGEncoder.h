// The Ogg Vorbis sink: codes PCM with libvorbis (quality or average-bitrate
// mode) and writes every Ogg page libogg hands out. The comment header is
// left empty; the tag writer fills it once the file is complete.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include "encoders/FileSink.h"

namespace qm {
class RiffFile;
}

class COGGEncoder : public CFileSink {
public:
    struct Settings {
        std::int32_t avgBitrate = 128; // kbit/s, used when abr is true
        bool abr = false;
        float quality = 0.5f; // 0.0..1.0 (the settings' 0..10 divided by 10)
        std::uint32_t sampleRate = 44100;
        std::uint8_t channels = 2;
    };

    COGGEncoder();
    ~COGGEncoder() override;

    bool OutputSettings(const char* path, const Settings& settings);

    void InitProgress(CProgress* progress, bool addProcess) override;
    // frames 0 ends the stream and drains the encoder.
    WriteResult Write(const void* data, std::int32_t frames) override;
    std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                               std::int32_t bitsPerSample) override;
    void Close(bool complete) override;
    std::int32_t Open(const char* fileName) override;

private:
    bool WritePage();
    void ClearLibraryStates();
    // Undoes a half-made start: library states and the unfinished file.
    void Abandon();

    ogg_stream_state m_streamState{};
    ogg_page m_page{};
    ogg_packet m_packet{};
    vorbis_info m_info{};
    vorbis_comment m_comment{};
    vorbis_dsp_state m_dsp{};
    vorbis_block m_block{};
    // Which of the states above are initialised (and must be cleared).
    bool m_infoReady = false;
    bool m_commentReady = false;
    bool m_dspReady = false;
    bool m_blockReady = false;
    bool m_streamReady = false;

    std::unique_ptr<qm::RiffFile> m_file;
    std::string m_path;

    Settings m_settings;
    // Set once the stream is started; the write path uses these.
    std::uint32_t m_streamSampleRate = 0;
    std::uint8_t m_streamChannels = 0;
    // What SetInputProps announced (0: same as the stream).
    std::uint8_t m_inputChannels = 0;
    std::int32_t m_inputBits = 16;

    std::int64_t m_headerBytes = 0;
    // The end of the stream was given to the library; nothing more goes in.
    bool m_ended = false;
};
