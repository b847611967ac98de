#include "encoders/FLACEncoder.h"

#include <cstring>
#include <new>

#include "core/Log.h"
#include "core/Trace.h"
#include "platform/RiffFile.h"

namespace {

struct LevelParameters {
    unsigned maxLpcOrder;
    unsigned blockSize;
    bool midSide;
    bool looseMidSide;
    bool exhaustiveModelSearch;
    unsigned minResidualPartitionOrder;
    unsigned maxResidualPartitionOrder;
};

constexpr LevelParameters kLevels[9] = {
    {0, 1152, false, false, false, 2, 2}, // 0
    {0, 1152, false, false, false, 2, 2}, // 1
    {0, 1152, true, false, false, 0, 3},  // 2
    {6, 4608, false, false, false, 3, 3}, // 3
    {8, 4608, false, false, false, 3, 3}, // 4
    {8, 4608, true, false, false, 3, 3},  // 5
    {8, 4608, true, false, false, 0, 4},  // 6
    {8, 4608, true, false, true, 0, 6},   // 7
    {12, 4608, true, false, true, 0, 6},  // 8
};

// Interleaved samples of type T (inChannels) into per-channel arrays
// (outChannels); output channel ch takes input channel ch mod inChannels, so
// mono feeds every channel and stereo into mono keeps the left. `shift`
// moves the value to the output width (8-bit input into a 16-bit stream is
// scaled up, not left 48 dB quieter).
template <typename T>
void Deinterleave(const std::uint8_t* in, int inChannels, FLAC__int32* const* out, int outChannels,
                  std::size_t frames, int shift) {
    const auto stride = static_cast<std::size_t>(inChannels);
    for (int ch = 0; ch < outChannels; ++ch) {
        const std::size_t source = static_cast<std::size_t>(ch % inChannels);
        FLAC__int32* channel = out[ch];
        for (std::size_t i = 0; i < frames; ++i) {
            T sample;
            std::memcpy(&sample, in + (i * stride + source) * sizeof(T), sizeof(T));
            auto value = static_cast<FLAC__int32>(sample);
            if (shift > 0) {
                value *= FLAC__int32{1} << shift;
            } else if (shift < 0) {
                value >>= -shift;
            }
            channel[i] = value;
        }
    }
}

FLAC__StreamEncoderWriteStatus WriteToFile(const FLAC__StreamEncoder* /*encoder*/,
                                           const FLAC__byte buffer[], size_t bytes,
                                           uint32_t /*samples*/, uint32_t /*frame*/, void* file) {
    return static_cast<qm::RiffFile*>(file)->Write(buffer, bytes)
               ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
               : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

FLAC__StreamEncoderSeekStatus SeekInFile(const FLAC__StreamEncoder* /*encoder*/,
                                         FLAC__uint64 offset, void* file) {
    return static_cast<qm::RiffFile*>(file)->Seek(static_cast<std::int64_t>(offset))
               ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
               : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
}

FLAC__StreamEncoderTellStatus TellInFile(const FLAC__StreamEncoder* /*encoder*/,
                                         FLAC__uint64* offset, void* file) {
    *offset = static_cast<FLAC__uint64>(static_cast<qm::RiffFile*>(file)->Tell());
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

} // namespace

CFLACEncoder::CFLACEncoder() {
    QM_TRACE("CFLACEncoder");
    m_progressWeight = 2000;
}

CFLACEncoder::~CFLACEncoder() {
    QM_TRACE("~CFLACEncoder");
    // Never leave a half-made file behind when the sink dies unclosed.
    Abandon();
}

void CFLACEncoder::InitProgress(CProgress* progress, bool addProcess) {
    QM_TRACE("FLACEncoder");
    if (progress == nullptr) {
        QM_RETURN(0);
    }
    RegisterProcess(progress, addProcess, "Encoding FLAC");
    QM_EXIT(1);
}

std::int32_t CFLACEncoder::OutputSettings(const char* path, const Settings& settings) {
    QM_TRACE("FLACEncoder");
    // An encoder left by a failed start, or a stream that was never closed.
    Abandon();
    m_path.clear();
    m_failed = false;
    m_settings = settings;
    const std::uint32_t sampleRate = settings.sampleRate;
    const std::uint8_t channels = settings.channels;
    const std::int32_t bitsPerSample = settings.bitsPerSample;
    // Until SetInputProps says otherwise the input is what the file stores.
    m_inputSampleRate = sampleRate;
    m_inputChannels = channels;
    m_inputBits = bitsPerSample;

    m_encoder = FLAC__stream_encoder_new();
    if (m_encoder == nullptr) {
        ReportError(qm::err::kCreateEncoder, qm::mod::kFLACEncoder);
        QM_RETURN(0, 0);
    }
    // Function failures of this stage have always been filed under module
    // 14; the other errors under 15.
    if (!FLAC__stream_encoder_set_channels(m_encoder, channels)) {
        ReportError(qm::err::kFunctionFailed, qm::mod::kFLACDecoder, 0,
                    "FLAC__stream_encoder_set_channels");
        QM_RETURN(1, 0);
    }
    if (!FLAC__stream_encoder_set_bits_per_sample(m_encoder,
                                                  static_cast<uint32_t>(bitsPerSample))) {
        ReportError(qm::err::kFunctionFailed, qm::mod::kFLACDecoder, 0,
                    "FLAC__stream_encoder_set_bits_per_sample");
        QM_RETURN(2, 0);
    }
    if (!FLAC__stream_encoder_set_sample_rate(m_encoder, sampleRate)) {
        ReportError(qm::err::kFunctionFailed, qm::mod::kFLACDecoder, 0,
                    "FLAC__stream_encoder_set_sample_rate");
        QM_RETURN(3, 0);
    }
    m_path = path != nullptr ? path : "";
    if (SetCompressionLevel(settings.level) == 0) {
        QM_RETURN(4, 0);
    }

    // The file is ours, not libFLAC's: libFLAC ignores a failing fclose, and
    // that is where the last bytes of a stream reach the disk.
    if (BeginOutput(m_path)) {
        m_file = CreateOutputFile();
    }
    if (!m_file) {
        DiscardOutput();
        LogState(("cannot create " + m_path).c_str());
        ReportError(qm::err::kFunctionFailed, qm::mod::kFLACDecoder, FLAC__STREAM_ENCODER_IO_ERROR,
                    "FLAC__stream_encoder_init");
        QM_RETURN(5, 0);
    }
    const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
        m_encoder, WriteToFile, SeekInFile, TellInFile, nullptr, m_file.get());
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        LogState("FLAC__stream_encoder_init");
        ReportError(qm::err::kFunctionFailed, qm::mod::kFLACDecoder,
                    static_cast<std::int32_t>(FLAC__stream_encoder_get_state(m_encoder)),
                    "FLAC__stream_encoder_init");
        m_file->Close();
        m_file.reset();
        DiscardOutput();
        QM_RETURN(6, 0);
    }
    QM_RETURN(7, 1);
}

std::int32_t CFLACEncoder::Open(const char* fileName) {
    QM_TRACE("FLACEncoder");
    QM_RETURN(0, OutputSettings(fileName, m_settings));
}

std::int32_t CFLACEncoder::SetCompressionLevel(std::int32_t level) {
    QM_TRACE("FLACEncoder");
    if (level < 0 || level > 8 || m_encoder == nullptr) {
        ReportError(qm::err::kFunctionFailed, qm::mod::kFLACDecoder, 0, "SetCompressionLevel");
        QM_RETURN(0, 0);
    }
    const LevelParameters& p = kLevels[level];
    const char* failed = nullptr;
    if (!FLAC__stream_encoder_set_max_lpc_order(m_encoder, p.maxLpcOrder)) {
        failed = "set_max_lpc_order@SetCompressionLevel";
    } else if (!FLAC__stream_encoder_set_blocksize(m_encoder, p.blockSize)) {
        failed = "set_blocksize@SetCompressionLevel";
    } else if (!FLAC__stream_encoder_set_do_mid_side_stereo(m_encoder, p.midSide)) {
        failed = "set_do_mid_side_stereo@SetCompressionLevel";
    } else if (!FLAC__stream_encoder_set_do_exhaustive_model_search(m_encoder,
                                                                    p.exhaustiveModelSearch)) {
        failed = "set_do_exhaustive_model_search@SetCompressionLevel";
    } else if (!FLAC__stream_encoder_set_loose_mid_side_stereo(m_encoder, p.looseMidSide)) {
        failed = "set_loose_mid_side_stereo@SetCompressionLevel";
    } else if (!FLAC__stream_encoder_set_min_residual_partition_order(
                   m_encoder, p.minResidualPartitionOrder)) {
        failed = "set_min_residual_partition_order@SetCompressionLevel";
    } else if (!FLAC__stream_encoder_set_max_residual_partition_order(
                   m_encoder, p.maxResidualPartitionOrder)) {
        failed = "set_max_residual_partition_order@SetCompressionLevel";
    }
    if (failed != nullptr) {
        ReportError(qm::err::kFunctionFailed, qm::mod::kFLACDecoder, 0, failed);
        QM_RETURN(1, 0);
    }
    QM_RETURN(2, 1);
}

std::int32_t CFLACEncoder::ReallocateBuffer(std::uint8_t channels, std::int32_t frames) {
    QM_TRACE("FLACEncoder");
    if (channels == m_bufferChannels && frames <= m_bufferCapacity) {
        QM_RETURN(0, 1);
    }
    FreeBuffer();
    const auto count = static_cast<std::size_t>(frames > 0 ? frames : 1);
    std::vector<std::unique_ptr<FLAC__int32[]>> buffers;
    std::vector<FLAC__int32*> pointers;
    try {
        for (std::uint8_t ch = 0; ch < channels; ++ch) {
            buffers.emplace_back(new FLAC__int32[count]);
            pointers.push_back(buffers.back().get());
        }
    } catch (const std::bad_alloc&) {
        // What was made in this call goes with `buffers`.
        QM_RETURN(1, 0);
    }
    m_buffers = std::move(buffers);
    m_bufferPointers = std::move(pointers);
    m_bufferChannels = channels;
    m_bufferCapacity = static_cast<std::int32_t>(count);
    QM_RETURN(2, 1);
}

std::int32_t CFLACEncoder::SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                         std::int32_t bitsPerSample) {
    QM_TRACE("FLACEncoder");
    m_inputSampleRate = sampleRate;
    m_inputChannels = channels;
    m_inputBits = bitsPerSample;
    QM_RETURN(0, 0);
}

WriteResult CFLACEncoder::Write(const void* data, std::int32_t frames) {
    QM_TRACE("FLACEncoder");
    if (m_encoder == nullptr) {
        QM_RETURN(0, WriteResult::Refused);
    }
    switch (m_inputBits) {
    case 8:
    case 16:
    case 32:
        break;
    default:
        // Widths the stage cannot read are passed over.
        QM_RETURN(1, WriteResult::Accepted);
    }
    if (frames <= 0 || data == nullptr || m_inputChannels == 0) {
        QM_RETURN(2, WriteResult::Accepted);
    }
    if (ReallocateBuffer(m_settings.channels, frames) == 0) {
        ReportError(qm::err::kNoMemory, qm::mod::kFLACEncoder);
        m_failed = true;
        QM_RETURN(3, WriteResult::Refused);
    }
    const auto* in = static_cast<const std::uint8_t*>(data);
    const auto count = static_cast<std::size_t>(frames);
    const int shift = m_settings.bitsPerSample - m_inputBits;
    if (m_inputBits == 8) {
        Deinterleave<std::int8_t>(in, m_inputChannels, m_bufferPointers.data(), m_settings.channels,
                                  count, shift);
    } else if (m_inputBits == 16) {
        Deinterleave<std::int16_t>(in, m_inputChannels, m_bufferPointers.data(),
                                   m_settings.channels, count, shift);
    } else {
        Deinterleave<std::int32_t>(in, m_inputChannels, m_bufferPointers.data(),
                                   m_settings.channels, count, shift);
    }
    if (!FLAC__stream_encoder_process(m_encoder, m_bufferPointers.data(),
                                      static_cast<uint32_t>(frames))) {
        LogState("FLAC__stream_encoder_process");
        ReportError(qm::err::kWriteFailed, qm::mod::kFLACEncoder);
        m_failed = true;
        QM_RETURN(4, WriteResult::Refused);
    }
    QM_RETURN(5, WriteResult::Accepted);
}

void CFLACEncoder::Close(bool complete) {
    QM_TRACE("FLACEncoder");
    // Only a file this stream created is ours to finish or delete; a stream
    // that never started leaves whatever is at the path alone.
    const bool started = m_file != nullptr;
    bool ok = true;
    if (m_encoder != nullptr) {
        if (complete && started) {
            // Writes the last frames and completes the stream information.
            ok = FLAC__stream_encoder_finish(m_encoder) != 0;
            if (!ok) {
                LogState("FLAC__stream_encoder_finish");
            }
        }
        FLAC__stream_encoder_delete(m_encoder);
        m_encoder = nullptr;
    }
    FreeBuffer();
    if (started) {
        ok = m_file->Close() && ok;
        m_file.reset();
    }
    ok = EndOutput(started && complete && ok);
    if (started && complete && !ok && !m_failed) {
        ReportError(qm::err::kWriteFailed, qm::mod::kFLACEncoder);
    }
    m_failed = false;
    SignalFinish();
    QM_EXIT(1);
}

void CFLACEncoder::Abandon() {
    QM_TRACE("FLACEncoder");
    if (m_encoder != nullptr) {
        FLAC__stream_encoder_delete(m_encoder);
        m_encoder = nullptr;
    }
    if (m_file) {
        m_file->Close();
        m_file.reset();
    }
    DiscardOutput();
}

void CFLACEncoder::FreeBuffer() {
    QM_TRACE("FLACEncoder");
    m_buffers.clear();
    m_bufferPointers.clear();
    m_bufferChannels = 0;
    m_bufferCapacity = 0;
}

void CFLACEncoder::LogState(const char* step) {
    QM_TRACE("FLACEncoder");
    if (m_log == nullptr) {
        QM_RETURN(0);
    }
    std::string line = "FLAC encoder: ";
    line += step;
    if (m_encoder != nullptr) {
        line += ": ";
        line += FLAC__stream_encoder_get_resolved_state_string(m_encoder);
    }
    m_log->Add(line);
    QM_EXIT(1);
}
