#include "encoders/WMAEncoder.h"

#include <new>
#include <span>

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

void CWMAEncoder::ReportFailure(wm::Status status, const char* call) {
    QM_TRACE("WMAEncoder");
    ReportError(qm::err::kFunctionFailed, qm::mod::kWMAEncoder, status, call);
}

void CWMAEncoder::ReleaseWriter() {
    QM_TRACE("WMAEncoder");
    m_writer.reset(); // closes an unfinished file
    DiscardOutput();
    m_writing = false;
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
    try {
        const bool found = static_cast<bool>(
            GenAudioProfile(Describe(lossless, bitrate, sampleRate, channels, vbr, passes)));
        QM_RETURN(0, found);
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

        const StreamDescription wanted =
            Describe(settings.lossless, settings.bitrate, settings.sampleRate, settings.channels,
                     settings.vbr, settings.passes);
        const wm::Result<wm::Profile> profile = GenAudioProfile(wanted);
        if (!profile) {
            ReportFailure(profile.GetStatus(), "GenAudioProfile");
            QM_RETURN(1, 0);
        }
        if (wanted.passes == 2) {
            m_twoPass = true;
            m_passInProgress = true;
        }
        if (!Init(*profile)) {
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

wm::Result<wm::Profile> CWMAEncoder::GenAudioProfile(const StreamDescription& wanted) {
    QM_TRACE("WMAEncoder");
    wm::CodecEnumeration codecs;
    const std::uint32_t count = codecs.CodecCount(wm::MajorType::Audio);
    bool chosen = false;
    wm::WaveFormatEx best;
    for (std::uint32_t codec = 0; codec < count && !chosen; ++codec) {
        if (wanted.vbr) {
            wm::Status status = codecs.SetSetting(wm::MajorType::Audio, codec, wm::kVbrEnabled, 1);
            if (wm::Succeeded(status)) {
                status = codecs.SetSetting(wm::MajorType::Audio, codec, wm::kPassesUsed,
                                           static_cast<std::uint32_t>(wanted.passes));
            }
            if (status == wm::kSettingNotSupported) {
                continue;
            }
            if (wm::Failed(status)) {
                QM_RETURN(0, wm::Result<wm::Profile>::Failure(status));
            }
        }
        for (const wm::WaveFormatEx& format : codecs.Formats(wm::MajorType::Audio, codec)) {
            // The largest block alignment wins; a later equal one replaces.
            if (Matches(format, wanted) && (!chosen || format.blockAlign >= best.blockAlign)) {
                best = format;
                chosen = true;
            }
        }
    }
    if (!chosen) {
        QM_RETURN(1, wm::Result<wm::Profile>::Failure(wm::kNoMatchingFormat));
    }

    wm::StreamConfig stream;
    stream.number = 1;
    stream.name = "Audio Stream";
    stream.connection = "Audio";
    // A quality format's byte rate is a marker, not a rate: give the rate
    // it is written at instead.
    stream.bitrate = static_cast<std::uint32_t>(
        wm::IsQualityFormat(best) ? wm::EncodeBitrate(best)
                                  : static_cast<std::int64_t>(best.avgBytesPerSec) * 8);
    stream.mediaType.majorType = wm::MajorType::Audio;
    stream.mediaType.subtype = best.formatTag;
    stream.mediaType.fixedSizeSamples = true;
    stream.mediaType.temporalCompression = false;
    stream.mediaType.sampleSize = best.blockAlign;
    stream.mediaType.formatType = wm::FormatType::WaveFormatEx;
    stream.mediaType.format = best;
    stream.vbr = wanted.vbr;
    wm::Profile profile;
    profile.name = kProfileName;
    profile.streams.push_back(std::move(stream));
    QM_RETURN(2, profile);
}

bool CWMAEncoder::Init(const wm::Profile& profile) {
    QM_TRACE("WMAEncoder");
    m_writer = std::make_unique<wm::Writer>();
    m_writing = false;
    const wm::Status status = m_writer->SetProfile(profile);
    if (wm::Failed(status)) {
        ReportFailure(status, "SetProfile");
        QM_RETURN(0, false);
    }
    // Paths are UTF-8 here already: nothing to convert.
    if (wm::Failed(
            m_writer->SetOutputFilename(HasOutput() ? TemporaryOutputPath() : std::string()))) {
        ReportError(qm::err::kOpenFile, qm::mod::kWMAEncoder, 0, m_path.c_str());
        QM_RETURN(1, false);
    }
    QM_RETURN(2, true);
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
    if (!m_writer) {
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
    wm::Status status = m_writer->SetInputType(type);
    if (wm::Failed(status)) {
        ReportFailure(status, "SetInputProps");
        QM_RETURN(2, status);
    }
    ReserveOutput();
    status = m_writer->BeginWriting();
    if (wm::Failed(status)) {
        // Whatever the writer created goes when the stream is closed.
        if (status == wm::kFileOpenFailed) {
            ReportError(qm::err::kOpenFile, qm::mod::kWMAEncoder, 0, m_path.c_str());
        } else {
            ReportFailure(status, "BeginWriting");
        }
        QM_RETURN(3, status);
    }
    m_writing = true;

    if (m_twoPass) {
        const std::uint32_t most = m_writer->GetMaxPreprocessingPasses();
        if (most != 0) {
            status = m_writer->SetNumPreprocessingPasses(most);
            if (wm::Succeeded(status)) {
                status = m_writer->BeginPreprocessingPass();
            }
            m_passesLeft = most;
            m_blocks.clear();
        } else {
            // No analysis to run: the samples go straight to the file rather
            // than into a pass that never writes them.
            m_passInProgress = false;
        }
        if (wm::Failed(status)) {
            ReportFailure(status, "BeginPreprocessingPass");
            // Sources go on after a refused format; nothing more is written.
            m_writer->EndWriting();
            m_writing = false;
            DiscardOutput();
            QM_RETURN(4, status);
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
    const std::span<const std::uint8_t> pcm(static_cast<const std::uint8_t*>(data),
                                            static_cast<std::size_t>(bytes));
    const std::uint64_t time = m_timeMs * kTimeUnitsPerMs;

    if (m_passInProgress) {
        try {
            StoredBlock block;
            block.bytes.assign(pcm.begin(), pcm.end());
            block.frames = frames;
            m_blocks.push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            ReportError(qm::err::kNoMemory, qm::mod::kWMAEncoder);
            QM_RETURN(4, WriteResult::Refused);
        }
        m_writer->PreprocessSample(pcm);
    } else {
        const wm::Status status = m_writer->WriteSample(time, pcm);
        if (wm::Failed(status)) {
            // The file can no longer be finished; the source aborts.
            ReportError(qm::err::kWriteFailed, qm::mod::kWMAEncoder, status);
            QM_RETURN(5, WriteResult::Refused);
        }
    }
    m_bytesWritten += bytes;
    m_timeMs = MulDivRounded(m_bytesWritten, 1000, m_inputFormat.avgBytesPerSec);
    QM_RETURN(6, WriteResult::Accepted);
}

void CWMAEncoder::Close(bool complete) {
    QM_TRACE("WMAEncoder");
    if (m_passInProgress && complete && m_writing) {
        m_writer->EndPreprocessingPass();
        --m_passesLeft;
        if (m_progress != nullptr) {
            m_progress->NextProcess();
        }
        while (m_passesLeft > 0) {
            m_writer->BeginPreprocessingPass();
            m_writer->EndPreprocessingPass();
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
    if (started) {
        const wm::Status status = m_writer->EndWriting();
        if (wm::Failed(status) && complete) {
            ReportError(qm::err::kWriteFailed, qm::mod::kWMAEncoder, status);
            finished = false;
        }
    }
    m_writer.reset();
    m_writing = false;
    m_passesLeft = 0;
    // An aborted stream, or one whose end could not be written, is no file.
    const bool keep = complete && finished;
    if (!EndOutput(keep) && keep) {
        // The file could not take its name.
        ReportError(qm::err::kWriteFailed, qm::mod::kWMAEncoder);
    }
    SignalFinish();
    QM_EXIT(1);
}
