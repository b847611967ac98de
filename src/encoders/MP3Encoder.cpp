#include "encoders/MP3Encoder.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "core/Trace.h"
#include "platform/RiffFile.h"

namespace {

std::string& LibraryFileName() {
    static std::string name = CMP3Encoder::kLibraryFileName;
    return name;
}

// The left sample of each 16-bit stereo frame.
void TakeLeft16(const std::uint8_t* in, std::int16_t* out, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) {
        std::memcpy(&out[i], in + 4 * i, 2);
    }
}

// 8-bit signed samples widened to 16 bits; with a stride of 2 only the left
// sample of each stereo frame.
void Widen8(const std::uint8_t* in, std::int16_t* out, std::size_t count, std::size_t stride) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<std::int16_t>(static_cast<std::int8_t>(in[i * stride]) * 256);
    }
}

} // namespace

CMP3Encoder::CMP3Encoder() {
    QM_TRACE("CMP3Encoder");
    m_progressWeight = 2000;
    m_readyEvent = qm::Event::OpenNamed(kReadyEventName, true);
    m_readyEvent->Set();
}

CMP3Encoder::~CMP3Encoder() {
    QM_TRACE("~CMP3Encoder");
    // Never leave a half-made file behind when the sink dies unclosed.
    Abandon();
    // The object's hold on the library goes with it; other holders keep it
    // loaded.
    DeInit();
}

void CMP3Encoder::SetLibraryFileName(const std::string& name) {
    QM_TRACE("MP3Encoder");
    LibraryFileName() = name.empty() ? std::string(kLibraryFileName) : name;
}

bool CMP3Encoder::Init(const char* folder) {
    QM_TRACE("MP3Encoder");
    m_folder = folder != nullptr ? folder : "";
    if (LoadLibrary()) {
        QM_RETURN(0, true);
    }
    // Without this item the job would count the track as done.
    ReportError(qm::err::kLameInit, qm::mod::kMP3Encoder);
    QM_RETURN(1, false);
}

bool CMP3Encoder::LoadLibrary() {
    QM_TRACE("MP3Encoder");
    if (m_loaded) {
        QM_RETURN(0, true);
    }
    std::string path = m_folder;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    path += LibraryFileName();
    qm::lame::Module* module = qm::lame::LoadModule(path);
    if (module == nullptr && !m_folder.empty()) {
        module = qm::lame::LoadModule(LibraryFileName());
    }
    if (module == nullptr) {
        m_loaded = false;
        QM_RETURN(1, false);
    }
    using namespace qm::lame;
    m_beInitStream = reinterpret_cast<BeInitStream>(GetProc(module, "beInitStream"));
    m_beEncodeChunk = reinterpret_cast<BeEncodeChunk>(GetProc(module, "beEncodeChunk"));
    m_beDeinitStream = reinterpret_cast<BeDeinitStream>(GetProc(module, "beDeinitStream"));
    m_beCloseStream = reinterpret_cast<BeCloseStream>(GetProc(module, "beCloseStream"));
    m_beVersion = reinterpret_cast<BeVersion>(GetProc(module, "beVersion"));
    m_beWriteVBRHeader = reinterpret_cast<BeWriteVBRHeader>(GetProc(module, "beWriteVBRHeader"));
    if (m_beInitStream == nullptr || m_beEncodeChunk == nullptr || m_beDeinitStream == nullptr ||
        m_beCloseStream == nullptr || m_beVersion == nullptr || m_beWriteVBRHeader == nullptr) {
        FreeModule(module);
        m_loaded = false;
        QM_RETURN(2, false);
    }
    m_library = module;
    m_loaded = true;
    QM_RETURN(3, true);
}

void CMP3Encoder::RetryLoad() {
    QM_TRACE("MP3Encoder");
    for (int attempt = 0; attempt < kLoadAttempts && !m_loaded; ++attempt) {
        LoadLibrary();
    }
}

void CMP3Encoder::DeInit() {
    QM_TRACE("MP3Encoder");
    // The six calls stay callable: a stream still open keeps its own hold
    // on the library, and a new stream needs Init again.
    qm::lame::FreeModule(m_library);
    m_library = nullptr;
    m_loaded = false;
}

bool CMP3Encoder::OutputSettings(const char* path, const Settings& settings) {
    QM_TRACE("MP3Encoder");
    RetryLoad();

    m_config = {};
    m_config.format = qm::lame::kConfigFormat;
    m_config.version = qm::lame::kConfigVersion;
    m_config.size = qm::lame::kConfigSize;
    m_config.resampleRate = settings.sampleRate;
    m_config.mode = settings.mode;
    m_config.bitrate = static_cast<std::uint32_t>(settings.minBitrate);
    m_config.maxBitrate = static_cast<std::uint32_t>(settings.maxBitrate);
    m_config.preset = qm::lame::kNoPreset;
    m_config.mpegVersion = 1;
    m_config.privateBit = 1;
    m_config.crc = 1;
    m_config.copyright = 1;
    m_config.original = 1;
    m_config.writeVbrHeader = settings.variable ? 1 : 0;
    m_config.enableVbr = settings.variable ? 1 : 0;
    if (settings.variable) {
        if (settings.averageMode) {
            m_config.vbrAbrBps = static_cast<std::uint32_t>(settings.avgBitrate) * 1000;
            m_config.vbrMethod = qm::lame::kVbrMethodAbr;
        } else {
            m_config.vbrQuality = settings.vbrQuality;
            m_config.vbrMethod = qm::lame::kVbrMethodDefault;
        }
    }
    m_config.noReservoir = 1;

    // A stream that was never closed: its file is unfinished.
    Abandon();
    const std::string target = path != nullptr ? path : "";
    if (BeginOutput(target)) {
        m_file = CreateOutputFile();
    }
    if (!m_file) {
        DiscardOutput();
        ReportError(qm::err::kOpenFile, qm::mod::kMP3Encoder, 0, target.c_str());
        m_opened = false;
        QM_RETURN(0, false);
    }
    m_settings = settings;
    m_outputMono = settings.mode == qm::lame::kModeMono;
    m_opened = true;
    QM_RETURN(1, true);
}

std::int32_t CMP3Encoder::Open(const char* fileName) {
    QM_TRACE("MP3Encoder");
    const bool ok = OutputSettings(fileName, m_settings);
    QM_RETURN(0, ok ? 1 : 0);
}

void CMP3Encoder::InitProgress(CProgress* progress, bool addProcess) {
    QM_TRACE("MP3Encoder");
    if (progress == nullptr) {
        QM_RETURN(0);
    }
    RegisterProcess(progress, addProcess, "Encoding MP3");
    QM_EXIT(1);
}

std::int32_t CMP3Encoder::SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                        std::int32_t bitsPerSample) {
    QM_TRACE("MP3Encoder");
    RetryLoad();
    if (!m_opened) {
        QM_RETURN(0, static_cast<std::int32_t>(qm::lame::kInvalidHandle));
    }
    if (!m_loaded) {
        ReportError(qm::err::kLameInit, qm::mod::kMP3Encoder);
        QM_RETURN(1, static_cast<std::int32_t>(qm::lame::kInvalidHandle));
    }
    if ((bitsPerSample != 8 && bitsPerSample != 16) || channels < 1 || channels > 2) {
        char text[64];
        std::snprintf(text, sizeof text, "%u Hz, %u channels, %d bits", sampleRate,
                      static_cast<unsigned>(channels), bitsPerSample);
        ReportError(qm::err::kUnsupportedInput, qm::mod::kMP3Encoder, 0, text);
        QM_RETURN(2, static_cast<std::int32_t>(qm::lame::kInvalidFormat));
    }
    CloseStream();
    m_bits = bitsPerSample;
    m_config.resampleRate = m_settings.sampleRate;
    m_config.sampleRate = sampleRate;
    if (channels == 1) {
        m_inputMono = true;
        m_config.mode = qm::lame::kModeMono;
    } else {
        m_inputMono = false;
        m_config.mode = m_settings.mode;
    }
    m_outputMono = m_config.mode == qm::lame::kModeMono;

    std::uint32_t samples = 0;
    std::uint32_t bufferSize = 0;
    const std::uint32_t result = m_beInitStream(&m_config, &samples, &bufferSize, &m_stream);
    if (result != qm::lame::kOk) {
        m_stream = nullptr;
        // The source goes on regardless; the item makes the track fail.
        ReportError(qm::err::kLameInit, qm::mod::kMP3Encoder, static_cast<std::int32_t>(result));
        QM_RETURN(3, static_cast<std::int32_t>(result));
    }
    m_streamStarted = true;
    m_chunkSamples = samples;
    m_outputBufferSize = bufferSize;
    // The library takes 16-bit samples; 8-bit input is widened first.
    if (!m_buffer.Init(samples * 2, bufferSize, m_beEncodeChunk, m_beDeinitStream, m_file.get(),
                       m_stream)) {
        ReportError(qm::err::kNoMemory, qm::mod::kMP3Encoder);
        QM_RETURN(4, static_cast<std::int32_t>(qm::lame::kBufferTooSmall));
    }
    QM_RETURN(5, 0);
}

WriteResult CMP3Encoder::Write(const void* data, std::int32_t frames) {
    QM_TRACE("MP3Encoder");
    RetryLoad();
    if (!m_streamStarted || m_buffer.IsEmpty()) {
        QM_RETURN(0, WriteResult::Refused);
    }
    if (frames <= 0 || data == nullptr) {
        QM_RETURN(1, WriteResult::Accepted);
    }
    const auto count = static_cast<std::size_t>(frames);
    const std::size_t c = m_inputMono ? 1 : 2;
    const bool leftOnly = m_outputMono && !m_inputMono;
    const std::size_t samples = leftOnly ? count : count * c;
    const void* block = data;
    if (m_bits != 16 || leftOnly) {
        if (m_convert.size() < samples) {
            try {
                m_convert.resize(c * count + 100);
            } catch (const std::bad_alloc&) {
                ReportError(qm::err::kNoMemory, qm::mod::kMP3Encoder);
                QM_RETURN(2, WriteResult::Refused);
            }
        }
        const auto* in = static_cast<const std::uint8_t*>(data);
        if (m_bits == 8) {
            Widen8(in, m_convert.data(), samples, leftOnly ? 2 : 1);
        } else {
            TakeLeft16(in, m_convert.data(), count);
        }
        block = m_convert.data();
    }
    if (!m_buffer.Write(block, static_cast<std::uint32_t>(samples), 2)) {
        ReportError(qm::err::kWriteFailed, qm::mod::kMP3Encoder);
        QM_RETURN(3, WriteResult::Refused);
    }
    QM_RETURN(4, WriteResult::Accepted);
}

void CMP3Encoder::Close(bool complete) {
    QM_TRACE("MP3Encoder");
    if (!m_opened) {
        // Nothing was started, but whoever waits for this sink must learn
        // that it is done.
        SignalFinish();
        QM_RETURN(0);
    }
    RetryLoad();
    const bool started = m_streamStarted;
    bool ok = started;
    if (complete && started) {
        ok = m_buffer.Flush();
    }
    // Also for an aborted stream, so that the library frees it.
    CloseStream();
    if (m_file) {
        ok = m_file->Close() && ok;
        m_file.reset();
    }
    m_buffer.Free();
    if (complete && ok && m_config.enableVbr != 0) {
        // The library reopens the file by name: the temporary one.
        ok = m_beWriteVBRHeader(TemporaryOutputPath().c_str()) == qm::lame::kOk;
    }
    ok = EndOutput(complete && ok);
    // A stream that never started was reported when it failed to start.
    if (complete && started && !ok) {
        ReportError(qm::err::kWriteFailed, qm::mod::kMP3Encoder);
    }
    m_opened = false;
    SignalFinish();
    QM_EXIT(1);
}

void CMP3Encoder::Abandon() {
    QM_TRACE("MP3Encoder");
    CloseStream();
    m_buffer.Free();
    if (m_file) {
        m_file->Close();
        m_file.reset();
    }
    DiscardOutput();
    m_opened = false;
}

void CMP3Encoder::CloseStream() {
    QM_TRACE("MP3Encoder");
    if (m_streamStarted && m_stream != nullptr && m_beCloseStream != nullptr) {
        m_beCloseStream(m_stream);
    }
    m_stream = nullptr;
    m_streamStarted = false;
}
