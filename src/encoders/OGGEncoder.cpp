#include "encoders/OGGEncoder.h"

#include <cstdio>
#include <cstring>

#include <vorbis/vorbisenc.h>

#include "core/Trace.h"
#include "platform/RiffFile.h"

namespace {

// Interleaved PCM (8 or 16 bits, inChannels) into the library's float arrays
// of outChannels channels, scaled so that -32768 gives -1.0. Output channel
// ch takes input channel ch mod inChannels: mono feeds every channel, stereo
// into mono keeps the left.
void ToFloat(const std::uint8_t* in, int bits, int inChannels, float** out, int outChannels,
             std::size_t frames) {
    if (bits == 16 && inChannels == outChannels) {
        for (std::size_t i = 0; i < frames; ++i) {
            for (int c = 0; c < outChannels; ++c) {
                std::int16_t sample;
                std::memcpy(&sample, in + 2 * (i * static_cast<std::size_t>(inChannels) + c), 2);
                out[c][i] = static_cast<float>(sample) / 32768.0f;
            }
        }
        return;
    }
    for (int c = 0; c < outChannels; ++c) {
        const int source = c % inChannels;
        float* channel = out[c];
        for (std::size_t i = 0; i < frames; ++i) {
            const std::size_t at = i * static_cast<std::size_t>(inChannels) + source;
            if (bits == 16) {
                std::int16_t sample;
                std::memcpy(&sample, in + 2 * at, 2);
                channel[i] = static_cast<float>(sample) / 32768.0f;
            } else {
                channel[i] = static_cast<float>(static_cast<std::int8_t>(in[at])) / 128.0f;
            }
        }
    }
}

} // namespace

COGGEncoder::COGGEncoder() {
    QM_TRACE("COGGEncoder");
    m_progressWeight = 3000;
    m_readyEvent = qm::Event::OpenNamed(kReadyEventName, true);
}

COGGEncoder::~COGGEncoder() {
    QM_TRACE("~COGGEncoder");
    // Never leave a half-made file behind when the sink dies unclosed.
    Abandon();
}

void COGGEncoder::InitProgress(CProgress* progress, bool addProcess) {
    QM_TRACE("OGGEncoder");
    if (progress == nullptr) {
        QM_RETURN(0);
    }
    RegisterProcess(progress, addProcess, "Encoding OGG");
    QM_EXIT(1);
}

bool COGGEncoder::OutputSettings(const char* path, const Settings& settings) {
    QM_TRACE("OGGEncoder");
    // A stream that was never closed: its file is unfinished.
    Abandon();
    m_settings = settings;
    const std::int32_t avgBitrate = settings.avgBitrate;
    const bool abr = settings.abr;
    const float quality = settings.quality;
    const std::uint32_t sampleRate = settings.sampleRate;
    const std::uint8_t channels = settings.channels;
    m_path = path != nullptr ? path : "";
    m_ended = false;

    if (BeginOutput(m_path)) {
        m_file = CreateOutputFile();
    }
    if (!m_file) {
        DiscardOutput();
        ReportError(qm::err::kOpenFile, qm::mod::kOGGEncoder, 0, m_path.c_str());
        QM_RETURN(0, false);
    }

    vorbis_info_init(&m_info);
    m_infoReady = true;
    const int setup =
        abr ? vorbis_encode_init(&m_info, channels, static_cast<long>(sampleRate), -1,
                                 static_cast<long>(avgBitrate) * 1000, -1)
            : vorbis_encode_init_vbr(&m_info, channels, static_cast<long>(sampleRate), quality);
    if (setup != 0) {
        ReportError(qm::err::kInvalidOutputSettings, qm::mod::kOGGEncoder);
        Abandon();
        QM_RETURN(1, false);
    }

    vorbis_comment_init(&m_comment);
    m_commentReady = true;
    int result = vorbis_analysis_init(&m_dsp, &m_info);
    if (result != 0) {
        ReportError(qm::err::kFunctionFailed, qm::mod::kOGGEncoder, result, "vorbis_analysis_init");
        Abandon();
        QM_RETURN(2, false);
    }
    m_dspReady = true;
    result = vorbis_block_init(&m_dsp, &m_block);
    if (result != 0) {
        ReportError(qm::err::kFunctionFailed, qm::mod::kOGGEncoder, result, "vorbis_block_init");
        Abandon();
        QM_RETURN(3, false);
    }
    m_blockReady = true;
    result = ogg_stream_init(&m_streamState, 0);
    if (result != 0) {
        ReportError(qm::err::kFunctionFailed, qm::mod::kOGGEncoder, result, "ogg_stream_init");
        Abandon();
        QM_RETURN(4, false);
    }
    m_streamReady = true;

    ogg_packet identification;
    ogg_packet comments;
    ogg_packet setupPacket;
    result =
        vorbis_analysis_headerout(&m_dsp, &m_comment, &identification, &comments, &setupPacket);
    if (result != 0) {
        ReportError(qm::err::kFunctionFailed, qm::mod::kOGGEncoder, result,
                    "vorbis_analysis_headerout");
        Abandon();
        QM_RETURN(5, false);
    }
    for (ogg_packet* packet : {&identification, &comments, &setupPacket}) {
        result = ogg_stream_packetin(&m_streamState, packet);
        if (result != 0) {
            ReportError(qm::err::kFunctionFailed, qm::mod::kOGGEncoder, result,
                        "ogg_stream_packetin");
            Abandon();
            QM_RETURN(6, false);
        }
    }
    m_headerBytes = 0;
    while (ogg_stream_flush(&m_streamState, &m_page) != 0) {
        if (!WritePage()) {
            ReportError(qm::err::kFunctionFailed, qm::mod::kOGGEncoder, 0, "WritePage");
            Abandon();
            QM_RETURN(7, false);
        }
        m_headerBytes += m_page.header_len + m_page.body_len;
    }

    m_streamChannels = channels;
    m_streamSampleRate = sampleRate;
    m_inputChannels = channels;
    m_inputBits = 16;
    m_readyEvent->Set();
    QM_RETURN(8, true);
}

std::int32_t COGGEncoder::Open(const char* fileName) {
    QM_TRACE("OGGEncoder");
    const bool ok = OutputSettings(fileName, m_settings);
    QM_RETURN(0, ok ? 1 : 0);
}

std::int32_t COGGEncoder::SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                        std::int32_t bitsPerSample) {
    QM_TRACE("OGGEncoder");
    // The stream's own format was fixed by OutputSettings; the input format
    // only says how to read the blocks, so that a block is never read past
    // its end.
    if ((bitsPerSample != 8 && bitsPerSample != 16) || channels == 0) {
        char text[64];
        std::snprintf(text, sizeof text, "%u Hz, %u channels, %d bits", sampleRate,
                      static_cast<unsigned>(channels), bitsPerSample);
        ReportError(qm::err::kUnsupportedInput, qm::mod::kOGGEncoder, 0, text);
        QM_RETURN(0, -1);
    }
    m_inputChannels = channels;
    m_inputBits = bitsPerSample;
    QM_RETURN(1, 0);
}

WriteResult COGGEncoder::Write(const void* data, std::int32_t frames) {
    QM_TRACE("OGGEncoder");
    if (!m_streamReady || m_ended || frames < 0) {
        QM_RETURN(0, WriteResult::Refused);
    }
    // Only "no data and no frames" ends the stream; an empty block from the
    // source changes nothing.
    if (frames == 0 && data != nullptr) {
        QM_RETURN(1, WriteResult::Accepted);
    }
    if (frames > 0) {
        if (data == nullptr) {
            QM_RETURN(2, WriteResult::Refused);
        }
        float** buffer = vorbis_analysis_buffer(&m_dsp, frames);
        if (buffer == nullptr) {
            ReportError(qm::err::kFunctionFailed, qm::mod::kOGGEncoder, 0,
                        "vorbis_analysis_buffer");
            QM_RETURN(3, WriteResult::Refused);
        }
        ToFloat(static_cast<const std::uint8_t*>(data), m_inputBits,
                m_inputChannels != 0 ? m_inputChannels : m_streamChannels, buffer, m_streamChannels,
                static_cast<std::size_t>(frames));
    } else {
        m_ended = true;
    }
    int result = vorbis_analysis_wrote(&m_dsp, frames);
    if (result != 0) {
        ReportError(qm::err::kFunctionFailed, qm::mod::kOGGEncoder, result,
                    "vorbis_analysis_wrote");
        QM_RETURN(4, WriteResult::Refused);
    }

    bool endOfStream = false;
    while (vorbis_analysis_blockout(&m_dsp, &m_block) == 1) {
        result = vorbis_analysis(&m_block, nullptr);
        if (result != 0) {
            ReportError(qm::err::kFunctionFailed, qm::mod::kOGGEncoder, result, "vorbis_analysis");
            QM_RETURN(5, WriteResult::Refused);
        }
        result = vorbis_bitrate_addblock(&m_block);
        if (result != 0) {
            ReportError(qm::err::kFunctionFailed, qm::mod::kOGGEncoder, result,
                        "vorbis_bitrate_addblock");
            QM_RETURN(6, WriteResult::Refused);
        }
        while (vorbis_bitrate_flushpacket(&m_dsp, &m_packet) != 0) {
            result = ogg_stream_packetin(&m_streamState, &m_packet);
            if (result != 0) {
                ReportError(qm::err::kFunctionFailed, qm::mod::kOGGEncoder, result,
                            "ogg_stream_packetin");
                QM_RETURN(7, WriteResult::Refused);
            }
            while (!endOfStream && ogg_stream_pageout(&m_streamState, &m_page) != 0) {
                if (!WritePage()) {
                    ReportError(qm::err::kWriteFailed, qm::mod::kOGGEncoder);
                    QM_RETURN(8, WriteResult::Refused);
                }
                endOfStream = ogg_page_eos(&m_page) != 0;
            }
        }
    }
    QM_RETURN(9, WriteResult::Accepted);
}

void COGGEncoder::Close(bool complete) {
    QM_TRACE("OGGEncoder");
    // Only a file this stream created is ours to finish or delete.
    const bool started = m_file != nullptr;
    bool ok = true;
    bool reported = false;
    if (complete && m_streamReady && !m_ended) {
        // End of stream: drains the encoder and writes the final pages.
        ok = Write(nullptr, 0) == WriteResult::Accepted;
        reported = !ok;
    }
    // Also for an aborted stream: the library states hold memory.
    ClearLibraryStates();
    if (started) {
        ok = m_file->Close() && ok;
        m_file.reset();
    }
    ok = EndOutput(started && complete && ok);
    if (started && complete && !ok && !reported) {
        ReportError(qm::err::kWriteFailed, qm::mod::kOGGEncoder);
    }
    m_ended = false;
    SignalFinish();
    QM_EXIT(1);
}

bool COGGEncoder::WritePage() {
    QM_TRACE("OGGEncoder");
    if (!m_file || m_page.header_len + m_page.body_len <= 0) {
        QM_RETURN(0, false);
    }
    const bool ok = m_file->Write(m_page.header, static_cast<std::size_t>(m_page.header_len)) &&
                    m_file->Write(m_page.body, static_cast<std::size_t>(m_page.body_len));
    QM_RETURN(1, ok);
}

void COGGEncoder::ClearLibraryStates() {
    QM_TRACE("OGGEncoder");
    if (m_streamReady) {
        ogg_stream_clear(&m_streamState);
        m_streamReady = false;
    }
    if (m_blockReady) {
        vorbis_block_clear(&m_block);
        m_blockReady = false;
    }
    if (m_dspReady) {
        vorbis_dsp_clear(&m_dsp);
        m_dspReady = false;
    }
    if (m_commentReady) {
        vorbis_comment_clear(&m_comment);
        m_commentReady = false;
    }
    if (m_infoReady) {
        vorbis_info_clear(&m_info);
        m_infoReady = false;
    }
}

void COGGEncoder::Abandon() {
    QM_TRACE("OGGEncoder");
    ClearLibraryStates();
    if (m_file) {
        m_file->Close();
        m_file.reset();
    }
    DiscardOutput();
    m_ended = false;
}
