#include "encoders/WMAEncoder.h"

#include <cstring>
#include <new>

#include "core/Progress.h"
#include "core/Trace.h"

namespace wm = qm::wm;

namespace {

constexpr std::uint64_t kTimeUnitsPerMs = 10000; // sample times count 100 ns

// MulDiv: a × b / c rounded to the nearest integer.
std::uint64_t MulDivRounded(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    return c == 0 ? 0 : (a * b + c / 2) / c;
}

bool Matches(const wm::WaveFormatEx& format, const CWMAEncoder::StreamDescription& wanted) {
    if (format.formatTag != wanted.formatTag ||
        static_cast<std::int64_t>(format.samplesPerSec) != wanted.sampleRate ||
        static_cast<std::int32_t>(format.channels) != wanted.channels ||
        format.bitsPerSample != 16) {
        return false;
    }
    if (wanted.vbr && wanted.passes == 1) {
        return format.avgBytesPerSec ==
               wm::kQualityBytesBase + static_cast<std::uint32_t>(wanted.bitrate);
    }
    const std::int64_t difference =
        static_cast<std::int64_t>(format.avgBytesPerSec) * 8 - wanted.bitrate;
    return difference >= -CWMAEncoder::kBitrateTolerance &&
           difference <= CWMAEncoder::kBitrateTolerance;
}

} // namespace

CWMAEncoder::CWMAEncoder() {
    QM_TRACE("CWMAEncoder");
    m_progressWeight = kProgressWeight;
    m_readyEvent = qm::Event::OpenNamed(kReadyEventName, true);
}

CWMAEncoder::~CWMAEncoder() {
    QM_TRACE("~CWMAEncoder");
    // A writer still open here was never closed: its file goes with it.
    ReleaseWriter();
}

void CWMAEncoder::ReportFailure(wm::HRESULT hr, const char* call) {
    QM_TRACE("WMAEncoder");
    ReportError(qm::err::kFunctionFailed, qm::mod::kWMAEncoder, hr, call);
}

void CWMAEncoder::ReleaseWriter() {
    QM_TRACE("WMAEncoder");
    m_inputProps.reset();
    m_preprocess = nullptr;
    m_writer.reset(); // closes an unfinished file
    DiscardOutput();
    m_writing = false;
    m_inputNumber = 0;
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_passInProgress = false;
    m_twoPass = false;
    m_passesLeft = 0;
}

CWMAEncoder::StreamDescription CWMAEncoder::Describe(std::int32_t lossless, std::int32_t bitrate,
                                                     std::int32_t sampleRate, std::int32_t channels,
                                                     std::int32_t vbr, std::int32_t passes) {
    QM_TRACE("WMAEncoder");
    StreamDescription wanted;
    if (lossless != 0) {
        wanted.bitrate = 100;
        wanted.formatTag = wm::kFormatWmaLossless;
        wanted.sampleRate = 44100;
        wanted.channels = 2;
        wanted.vbr = true;
        wanted.passes = 1;
    } else {
        wanted.bitrate = bitrate;
        wanted.formatTag = wm::kFormatWma;
        wanted.sampleRate = sampleRate;
        wanted.channels = channels;
        wanted.vbr = vbr != 0;
        wanted.passes = passes;
    }
    QM_RETURN(1, wanted);
}

bool CWMAEncoder::IsConfigurationAvailable(std::int32_t lossless, std::int32_t bitrate,
                                           std::int32_t sampleRate, std::int32_t channels,
                                           std::int32_t vbr, std::int32_t passes) {
    QM_TRACE("WMAEncoder");
    std::unique_ptr<wm::Profile> profile;
    try {
        const wm::HRESULT hr = GenAudioProfile(
            Describe(lossless, bitrate, sampleRate, channels, vbr, passes), &profile);
        QM_RETURN(0, wm::Succeeded(hr));
    } catch (const std::bad_alloc&) {
        QM_RETURN(1, false);
    }
}

int CWMAEncoder::OutputSettings(const char* path, const Settings& settings) {
    QM_TRACE("WMAEncoder");
    // A writer left from a track that was never closed goes first.
    ReleaseWriter();
    try {
        m_path = path != nullptr ? path : "";
        m_settings = settings;
        // A path that cannot take a file fails below, as the writer refuses
        // an empty name.
        static_cast<void>(BeginOutput(m_path));

        std::unique_ptr<wm::ProfileManager> manager;
        wm::HRESULT hr = wm::WMCreateProfileManager(&manager);
        if (wm::Failed(hr)) {
            ReportFailure(hr, "WMCreateProfileManager");
            QM_RETURN(0, 0);
        }
        manager->SetSystemProfileVersion(wm::kProfileVersion9);
        manager.reset();

        const StreamDescription wanted =
            Describe(settings.lossless, settings.bitrate, settings.sampleRate, settings.channels,
                     settings.vbr, settings.passes);
        std::unique_ptr<wm::Profile> profile;
        hr = GenAudioProfile(wanted, &profile);
        if (wm::Failed(hr)) {
            ReportFailure(hr, "GenAudioProfile");
            QM_RETURN(1, 0);
        }
        if (wanted.passes == 2) {
            m_twoPass = true;
            m_passInProgress = true;
        }
        if (wm::Failed(Init(*profile))) {
            ReleaseWriter();
            QM_RETURN(2, 0);
        }
        QM_RETURN(3, 1);
    } catch (const std::bad_alloc&) {
        ReleaseWriter();
        ReportError(qm::err::kNoMemory, qm::mod::kWMAEncoder);
        QM_RETURN(4, 0);
    }
}

std::int32_t CWMAEncoder::Open(const char* fileName) {
    QM_TRACE("WMAEncoder");
    QM_RETURN(0, OutputSettings(fileName, m_settings));
}

wm::HRESULT CWMAEncoder::GenAudioProfile(const StreamDescription& wanted,
                                         std::unique_ptr<wm::Profile>* profile) {
    QM_TRACE("WMAEncoder");
    std::unique_ptr<wm::ProfileManager> manager;
    wm::HRESULT hr = wm::WMCreateProfileManager(&manager);
    if (wm::Failed(hr)) {
        QM_RETURN(0, hr);
    }
    std::unique_ptr<wm::Profile> built;
    hr = manager->CreateEmptyProfile(wm::kProfileVersion9, &built);
    if (wm::Failed(hr)) {
        QM_RETURN(1, hr);
    }
    built->SetName(kProfileName);

    std::uint32_t codecs = 0;
    hr = manager->GetCodecInfoCount(wm::MajorType::Audio, &codecs);
    if (wm::Failed(hr)) {
        QM_RETURN(2, hr);
    }
    bool chosen = false;
    wm::WaveFormatEx best;
    for (std::uint32_t codec = 0; codec < codecs && !chosen; ++codec) {
        if (wanted.vbr) {
            hr = manager->SetCodecEnumerationSetting(wm::MajorType::Audio, codec, wm::kVbrEnabled,
                                                     1);
            if (wm::Succeeded(hr)) {
                hr = manager->SetCodecEnumerationSetting(wm::MajorType::Audio, codec,
                                                         wm::kPassesUsed,
                                                         static_cast<std::uint32_t>(wanted.passes));
            }
            if (hr == wm::kSettingNotSupported) {
                continue;
            }
            if (wm::Failed(hr)) {
                QM_RETURN(3, hr);
            }
        }
        std::uint32_t formats = 0;
        hr = manager->GetCodecFormatCount(wm::MajorType::Audio, codec, &formats);
        if (wm::Failed(hr)) {
            QM_RETURN(4, hr);
        }
        for (std::uint32_t index = 0; index < formats; ++index) {
            std::unique_ptr<wm::StreamConfig> config;
            hr = manager->GetCodecFormat(wm::MajorType::Audio, codec, index, &config);
            if (wm::Failed(hr)) {
                QM_RETURN(5, hr);
            }
            wm::MediaType type;
            config->GetMediaType(&type);
            if (type.formatType != wm::FormatType::WaveFormatEx) {
                QM_RETURN(6, wm::E_FAIL);
            }
            // The largest block alignment wins; a later equal one replaces.
            if (Matches(type.format, wanted) &&
                (!chosen || type.format.blockAlign >= best.blockAlign)) {
                best = type.format;
                chosen = true;
            }
        }
    }
    if (!chosen) {
        QM_RETURN(7, wm::kNoMatchingFormat);
    }

    std::unique_ptr<wm::StreamConfig> stream;
    hr = built->CreateNewStream(wm::MajorType::Audio, &stream);
    if (wm::Failed(hr)) {
        QM_RETURN(8, hr);
    }
    stream->SetStreamNumber(1);
    stream->SetStreamName("Audio Stream");
    stream->SetConnectionName("Audio");
    // A quality format's byte rate is a marker, not a rate: give the rate
    // it is written at instead.
    stream->SetBitrate(static_cast<std::uint32_t>(
        wm::IsQualityFormat(best) ? wm::EncodeBitrate(best)
                                  : static_cast<std::int64_t>(best.avgBytesPerSec) * 8));
    wm::MediaType type;
    type.majorType = wm::MajorType::Audio;
    type.subtype = best.formatTag;
    type.fixedSizeSamples = true;
    type.temporalCompression = false;
    type.sampleSize = best.blockAlign;
    type.formatType = wm::FormatType::WaveFormatEx;
    type.format = best;
    hr = stream->SetMediaType(type);
    if (wm::Succeeded(hr)) {
        hr = stream->SetProperty(wm::kVbrEnabled, wanted.vbr ? 1 : 0);
    }
    if (wm::Succeeded(hr)) {
        hr = built->AddStream(*stream);
    }
    if (wm::Failed(hr)) {
        QM_RETURN(9, hr);
    }
    *profile = std::move(built);
    QM_RETURN(10, wm::S_OK);
}

wm::HRESULT CWMAEncoder::Init(const wm::Profile& profile) {
    QM_TRACE("WMAEncoder");
    m_inputProps.reset();
    m_writer.reset();
    m_writing = false;
    wm::HRESULT hr = wm::WMCreateWriter(&m_writer);
    if (wm::Failed(hr)) {
        ReportFailure(hr, "WMCreateWrite");
        QM_RETURN(0, hr);
    }
    hr = m_writer->SetProfile(profile);
    if (wm::Failed(hr)) {
        ReportFailure(hr, "SetProfile");
        QM_RETURN(1, hr);
    }
    std::uint32_t inputs = 0;
    hr = m_writer->GetInputCount(&inputs);
    if (wm::Failed(hr)) {
        ReportFailure(hr, "GetInputCount");
        QM_RETURN(2, hr);
    }
    for (std::uint32_t input = 0; input < inputs; ++input) {
        std::shared_ptr<wm::InputMediaProps> props;
        hr = m_writer->GetInputProps(input, &props);
        if (wm::Failed(hr)) {
            ReportFailure(hr, "GetInputProps");
            QM_RETURN(3, hr);
        }
        wm::MajorType type = wm::MajorType::Unknown;
        hr = props->GetType(&type);
        if (wm::Failed(hr)) {
            ReportFailure(hr, "GetType");
            QM_RETURN(4, hr);
        }
        if (type == wm::MajorType::Audio) {
            m_inputProps = props;
            m_inputNumber = input;
        }
    }
    if (!m_inputProps) {
        ReportError(qm::err::kCreateEncoder, qm::mod::kWMAEncoder);
        QM_RETURN(5, wm::E_FAIL);
    }
    // Paths are UTF-8 here already: nothing to convert.
    hr = m_writer->SetOutputFilename(HasOutput() ? TemporaryOutputPath() : std::string());
    if (wm::Failed(hr)) {
        ReportError(qm::err::kOpenFile, qm::mod::kWMAEncoder, 0, m_path.c_str());
        QM_RETURN(6, hr);
    }
    QM_RETURN(7, wm::S_OK);
}

void CWMAEncoder::InitProgress(CProgress* progress, bool addProcess) {
    QM_TRACE("WMAEncoder");
    RegisterProcess(progress, addProcess, kProcessName);
    if (progress != nullptr && m_twoPass) {
        // The writing pass after the analysis is a process of its own.
        progress->Add(static_cast<std::uint32_t>(m_progressWeight), kProcessName);
    }
}

std::int32_t CWMAEncoder::SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                        std::int32_t /*bitsPerSample*/) {
    QM_TRACE("WMAEncoder");
    // The writer never holds the source back.
    if (m_readyEvent) {
        m_readyEvent->Set();
    }
    if (!m_writer || !m_inputProps) {
        ReportError(qm::err::kCreateEncoder, qm::mod::kWMAEncoder);
        QM_RETURN(0, wm::kInvalidRequest);
    }
    m_bytesWritten = 0;
    m_timeMs = 0;

    m_inputFormat = wm::WaveFormatEx{};
    m_inputFormat.formatTag = wm::kFormatPcm;
    m_inputFormat.channels = channels;
    m_inputFormat.samplesPerSec = sampleRate;
    m_inputFormat.bitsPerSample = 16; // the chain always delivers 16 bits here
    m_inputFormat.blockAlign = static_cast<std::uint16_t>(channels * 2);
    m_inputFormat.avgBytesPerSec = m_inputFormat.blockAlign * sampleRate;
    m_inputFormat.extraSize = 0;

    wm::MediaType type;
    type.majorType = wm::MajorType::Audio;
    type.subtype = wm::kFormatPcm;
    type.fixedSizeSamples = false;
    type.temporalCompression = false;
    type.sampleSize = m_inputFormat.blockAlign;
    type.formatType = wm::FormatType::WaveFormatEx;
    type.format = m_inputFormat;
    wm::HRESULT hr = m_inputProps->SetMediaType(type);
    if (wm::Failed(hr)) {
        ReportFailure(hr, "SetMediaType");
        QM_RETURN(1, hr);
    }
    hr = m_writer->SetInputProps(m_inputNumber, m_inputProps);
    if (wm::Failed(hr)) {
        ReportFailure(hr, "SetInputProps");
        QM_RETURN(2, hr);
    }
    ReserveOutput();
    hr = m_writer->BeginWriting();
    if (wm::Failed(hr)) {
        // Whatever the writer created goes when the stream is closed.
        if (hr == wm::kFileOpenFailed) {
            ReportError(qm::err::kOpenFile, qm::mod::kWMAEncoder, 0, m_path.c_str());
        } else {
            ReportFailure(hr, "BeginWriting");
        }
        QM_RETURN(3, hr);
    }
    m_writing = true;

    if (m_twoPass) {
        hr = m_writer->QueryPreprocess(&m_preprocess);
        std::uint32_t most = 0;
        if (wm::Succeeded(hr)) {
            hr = m_preprocess->GetMaxPreprocessingPasses(m_inputNumber, 0, &most);
        }
        if (wm::Succeeded(hr) && most != 0) {
            hr = m_preprocess->SetNumPreprocessingPasses(m_inputNumber, 0, most);
            if (wm::Succeeded(hr)) {
                hr = m_preprocess->BeginPreprocessingPass(m_inputNumber, 0);
            }
            m_passesLeft = most;
            m_blocks.clear();
        } else if (wm::Succeeded(hr)) {
            // No analysis to run: the samples go straight to the file rather
            // than into a pass that never writes them.
            m_passInProgress = false;
        }
        if (wm::Failed(hr)) {
            ReportFailure(hr, "BeginPreprocessingPass");
            // Sources go on after a refused format; nothing more is written.
            m_writer->EndWriting();
            m_writing = false;
            DiscardOutput();
            QM_RETURN(4, hr);
        }
    }
    QM_RETURN(5, 0);
}

WriteResult CWMAEncoder::Write(const void* data, std::int32_t frames) {
    QM_TRACE("WMAEncoder");
    if (!m_writing) {
        QM_RETURN(0, WriteResult::Accepted);
    }
    if (frames <= 0) {
        QM_RETURN(1, WriteResult::Accepted);
    }
    const std::uint64_t bytes = static_cast<std::uint64_t>(frames) * m_inputFormat.channels * 2;
    if (bytes > UINT32_MAX) {
        ReportError(qm::err::kNoMemory, qm::mod::kWMAEncoder);
        QM_RETURN(2, WriteResult::Refused);
    }
    std::unique_ptr<wm::SampleBuffer> sample;
    wm::HRESULT hr = m_writer->AllocateSample(static_cast<std::uint32_t>(bytes), &sample);
    if (wm::Failed(hr)) {
        ReportError(qm::err::kNoMemory, qm::mod::kWMAEncoder);
        QM_RETURN(3, WriteResult::Refused);
    }
    std::uint8_t* buffer = nullptr;
    std::uint32_t length = 0;
    sample->GetBufferAndLength(&buffer, &length);
    std::memcpy(buffer, data, static_cast<std::size_t>(bytes));
    const std::uint64_t time = m_timeMs * kTimeUnitsPerMs;

    if (m_passInProgress) {
        try {
            StoredBlock block;
            block.bytes.assign(buffer, buffer + bytes);
            block.frames = frames;
            m_blocks.push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            ReportError(qm::err::kNoMemory, qm::mod::kWMAEncoder);
            QM_RETURN(4, WriteResult::Refused);
        }
        m_preprocess->PreprocessSample(m_inputNumber, time, 0, sample.get());
    } else {
        hr = m_writer->WriteSample(m_inputNumber, time, 0, sample.get());
        if (wm::Failed(hr)) {
            // The file can no longer be finished; the source aborts.
            ReportError(qm::err::kWriteFailed, qm::mod::kWMAEncoder, hr);
            QM_RETURN(5, WriteResult::Refused);
        }
    }
    m_bytesWritten += bytes;
    m_timeMs = MulDivRounded(m_bytesWritten, 1000, m_inputFormat.avgBytesPerSec);
    QM_RETURN(6, WriteResult::Accepted);
}

void CWMAEncoder::Close(bool complete) {
    QM_TRACE("WMAEncoder");
    if (m_passInProgress && complete && m_writing && m_preprocess != nullptr) {
        m_preprocess->EndPreprocessingPass(m_inputNumber, 0);
        --m_passesLeft;
        if (m_progress != nullptr) {
            m_progress->NextProcess();
        }
        while (m_passesLeft > 0) {
            m_preprocess->BeginPreprocessingPass(m_inputNumber, 0);
            m_preprocess->EndPreprocessingPass(m_inputNumber, 0);
            --m_passesLeft;
        }
        m_passInProgress = false;
        // The writing pass is the stream itself: it starts at time 0 again
        // (times that went on after the analysis would put a gap first).
        m_bytesWritten = 0;
        m_timeMs = 0;
        const std::size_t count = m_blocks.size();
        for (std::size_t index = 0; index < count; ++index) {
            if (m_progress != nullptr) {
                m_progress->SetPercent(static_cast<std::uint8_t>(index * 100 / count));
            }
            StoredBlock& block = m_blocks[index];
            if (Write(block.bytes.data(), block.frames) == WriteResult::Refused) {
                complete = false; // the error is filed; the file goes
                break;
            }
            // Each block is written once more and no longer needed.
            std::vector<std::uint8_t>().swap(block.bytes);
        }
    }
    if (m_twoPass) {
        m_blocks.clear();
        m_blocks.shrink_to_fit();
        m_passInProgress = false;
        m_twoPass = false;
        Close(complete);
        QM_RETURN(0);
    }

    const bool started = m_writer && m_writing;
    bool finished = started;
    m_inputProps.reset();
    if (started) {
        const wm::HRESULT hr = m_writer->EndWriting();
        if (wm::Failed(hr) && complete) {
            ReportError(qm::err::kWriteFailed, qm::mod::kWMAEncoder, hr);
            finished = false;
        }
    }
    m_writer.reset();
    m_writing = false;
    m_preprocess = nullptr;
    m_inputNumber = 0;
    m_passesLeft = 0;
    // An aborted stream, or one whose end could not be written, is no file.
    if (complete && finished) {
        if (!CommitOutput()) {
            ReportError(qm::err::kWriteFailed, qm::mod::kWMAEncoder);
        }
    } else {
        DiscardOutput();
    }
    SignalFinish();
    QM_EXIT(1);
}
