#include "encoders/APEEncoder.h"

#include <algorithm>
#include <cstring>

#include "core/Text.h"
#include "core/Trace.h"

CAPEEncoder::CAPEEncoder() {
    QM_TRACE("CAPEEncoder");
    m_progressWeight = 2000;
    m_compressor = CreateIAPECompress();
}

CAPEEncoder::~CAPEEncoder() {
    QM_TRACE("~CAPEEncoder");
    // The compressor closes an unfinished file; the sink removes it.
    m_compressor.reset();
}

int CAPEEncoder::LevelValue(std::uint8_t level) {
    QM_TRACE("APEEncoder");
    switch (level) {
    case 0:
        QM_RETURN(0, 1000);
    case 1:
        QM_RETURN(1, 2000);
    case 2:
        QM_RETURN(2, 3000);
    case 4:
        QM_RETURN(3, 5000);
    default:
        QM_RETURN(4, 4000);
    }
}

int CAPEEncoder::OutputSettings(const char* path, const Settings& settings) {
    QM_TRACE("APEEncoder");
    m_settings = settings;
    const int libraryChannels = settings.channels == 1 ? 1 : 2;

    // A file still open from an earlier call is abandoned: its compressor
    // closes it and BeginOutput removes it.
    if (!m_path.empty() || !m_compressor) {
        m_path.clear();
        m_compressor.reset();
        m_compressor = CreateIAPECompress();
    }
    const char* target = path != nullptr ? path : "";
    qm::WaveFormat format;
    FillWaveFormatEx(&format, static_cast<int>(settings.sampleRate), settings.bitsPerSample,
                     libraryChannels);
    const bool named = BeginOutput(target);
    if (named) {
        ReserveOutput();
    }
    if (!named || !m_compressor ||
        m_compressor->Start(TemporaryOutputPath().c_str(), &format, kMaxAudioBytes,
                            LevelValue(settings.level), nullptr,
                            IAPECompress::kCreateWavHeader) != 0) {
        // A compressor that failed to start holds no file.
        DiscardOutput();
        ReportError(qm::err::kOpenFile, qm::mod::kAPEEncoder, 0, target);
        QM_RETURN(0, 0);
    }
    m_path = target;
    QM_RETURN(1, 1);
}

std::int32_t CAPEEncoder::Open(const char* fileName) {
    QM_TRACE("APEEncoder");
    return OutputSettings(fileName, m_settings);
}

void CAPEEncoder::InitProgress(CProgress* progress, bool addProcess) {
    QM_TRACE("APEEncoder");
    if (progress == nullptr) {
        QM_RETURN(0);
    }
    RegisterProcess(progress, addProcess, "Encoding APE");
    QM_EXIT(1);
}

std::int32_t CAPEEncoder::SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                        std::int32_t bitsPerSample) {
    QM_TRACE("APEEncoder");
    m_inSampleRate = sampleRate;
    m_inChannels = channels;
    m_inBitsPerSample = bitsPerSample;
    // The compressor takes the bytes as the format it was opened with; any
    // other stream would be stored as noise or at the wrong speed.
    const std::uint8_t libraryChannels = m_settings.channels == 1 ? 1 : 2;
    if (!m_path.empty() && (sampleRate != m_settings.sampleRate || channels != libraryChannels ||
                            bitsPerSample != m_settings.bitsPerSample)) {
        const std::string text = qm::Format("%u Hz, %u channels, %d bits", sampleRate,
                                            static_cast<unsigned>(channels), bitsPerSample);
        ReportError(qm::err::kUnsupportedInput, qm::mod::kAPEEncoder, 0, text.c_str());
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, 0);
}

WriteResult CAPEEncoder::Write(const void* data, std::int32_t frames) {
    QM_TRACE("APEEncoder");
    if (frames <= 0) {
        QM_RETURN(0, WriteResult::Accepted);
    }
    // Before SetInputProps the stream is taken to be in the output format.
    const int frameBytes = m_inChannels != 0
                               ? m_inChannels * m_inBitsPerSample / 8
                               : (m_settings.channels == 1 ? 1 : 2) * m_settings.bitsPerSample / 8;
    std::int64_t remaining = static_cast<std::int64_t>(frames) * frameBytes;
    const auto* source = static_cast<const std::uint8_t*>(data);
    while (remaining > 0) {
        std::int64_t available = 0;
        std::uint8_t* buffer = m_compressor ? m_compressor->LockBuffer(&available) : nullptr;
        if (buffer == nullptr || available <= 0 || source == nullptr) {
            ReportError(qm::err::kWriteFailed, qm::mod::kAPEEncoder);
            QM_RETURN(1, WriteResult::Refused);
        }
        const std::int64_t part = std::min(available, remaining);
        std::memcpy(buffer, source, static_cast<std::size_t>(part));
        if (m_compressor->UnlockBuffer(part, true) != 0) {
            ReportError(qm::err::kWriteFailed, qm::mod::kAPEEncoder);
            QM_RETURN(2, WriteResult::Refused);
        }
        source += part;
        remaining -= part;
    }
    QM_RETURN(3, WriteResult::Accepted);
}

void CAPEEncoder::Close(bool complete) {
    QM_TRACE("APEEncoder");
    bool finished = true;
    if (!m_path.empty() && complete && m_compressor) {
        // Also fails for a stream without a single sample, which no APE
        // file can hold; the compressor then leaves no file.
        finished = m_compressor->Finish(nullptr, 0, 0) == 0;
        if (!finished) {
            ReportError(qm::err::kWriteFailed, qm::mod::kAPEEncoder);
        }
    }
    // An aborted stream is not worth compressing to its end: the fresh
    // compressor replaces the old one, which closes its unfinished file.
    m_compressor.reset();
    m_compressor = CreateIAPECompress();
    const bool keep = !m_path.empty() && complete && finished;
    if (!EndOutput(keep) && keep) {
        // The file could not take its name.
        ReportError(qm::err::kWriteFailed, qm::mod::kAPEEncoder);
    }
    m_path.clear();
    m_inSampleRate = 0;
    m_inChannels = 0;
    m_inBitsPerSample = 0;
    SignalFinish();
}
