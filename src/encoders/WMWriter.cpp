#include "encoders/WMWriter.h"

#include <algorithm>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace qm::wm {

namespace {

constexpr std::uint64_t kTimeUnitsPerSecond = 10'000'000; // sample times: 100 ns
// Sample times are whole milliseconds; a later time within this much of
// the audio so far is rounding, not a gap.
constexpr std::uint64_t kGapToleranceMs = 2;
// A sample stamped more than a day after the audio so far is refused.
constexpr std::uint64_t kMaxGapSeconds = std::uint64_t{24} * 60 * 60;
// Silence is fed through the converter in pieces of this many frames.
constexpr std::uint32_t kSilenceChunk = 4096;

HRESULT FromAv(int error) {
    return error == AVERROR(ENOMEM) ? E_OUTOFMEMORY : E_FAIL;
}

MediaType PcmMediaType(std::uint32_t rate, std::uint16_t channels) {
    MediaType type;
    type.majorType = MajorType::Audio;
    type.subtype = kFormatPcm;
    type.fixedSizeSamples = true;
    type.sampleSize = channels * 2u;
    type.formatType = FormatType::WaveFormatEx;
    type.format.formatTag = kFormatPcm;
    type.format.channels = channels;
    type.format.samplesPerSec = rate;
    type.format.blockAlign = static_cast<std::uint16_t>(channels * 2);
    type.format.avgBytesPerSec = rate * type.format.blockAlign;
    type.format.bitsPerSample = 16;
    return type;
}

bool IsWritablePcm(const MediaType& type) {
    const WaveFormatEx& f = type.format;
    return type.majorType == MajorType::Audio && type.subtype == kFormatPcm &&
           type.formatType == FormatType::WaveFormatEx && f.formatTag == kFormatPcm &&
           f.bitsPerSample == 16 && (f.channels == 1 || f.channels == 2) && f.samplesPerSec > 0 &&
           f.samplesPerSec <= 384000;
}

} // namespace

// Everything FFmpeg holds for one open output file.
struct Writer::Stream {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* converter = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    std::int64_t nextPts = 0;
    int inChannels = 0;
    int outChannels = 0;
    int frameSize = 0;
    std::vector<std::vector<float>> planes; // converter output, one per channel
    std::vector<std::uint8_t*> planePointers;

    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() {
        CloseFile();
        av_packet_free(&packet);
        av_frame_free(&frame);
        if (fifo != nullptr) {
            av_audio_fifo_free(fifo);
        }
        swr_free(&converter);
        avcodec_free_context(&codec);
        avformat_free_context(format);
    }

    // Closes the file if it is open; false when its last bytes could not be
    // written.
    bool CloseFile() {
        if (format == nullptr || format->pb == nullptr) {
            return true;
        }
        avio_flush(format->pb);
        const bool ok = format->pb->error >= 0;
        return avio_closep(&format->pb) >= 0 && ok;
    }

    HRESULT EncodeFrames(bool all);
    HRESULT Send(const AVFrame* input);
    HRESULT Convert(const std::uint8_t* pcm, int frames);
    HRESULT AddSilence(int frames);
};

HRESULT Writer::Stream::Send(const AVFrame* input) {
    int error = avcodec_send_frame(codec, input);
    if (error < 0) {
        return FromAv(error);
    }
    for (;;) {
        error = avcodec_receive_packet(codec, packet);
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) {
            return S_OK;
        }
        if (error < 0) {
            return FromAv(error);
        }
        packet->stream_index = 0;
        av_packet_rescale_ts(packet, codec->time_base, format->streams[0]->time_base);
        error = av_interleaved_write_frame(format, packet);
        if (error < 0) {
            return FromAv(error);
        }
    }
}

// Encodes every whole frame waiting; with `all`, also the rest, padded with
// silence to a whole frame.
HRESULT Writer::Stream::EncodeFrames(bool all) {
    for (;;) {
        const int waiting = av_audio_fifo_size(fifo);
        if (waiting == 0 || (waiting < frameSize && !all)) {
            return S_OK;
        }
        int error = av_frame_make_writable(frame);
        if (error < 0) {
            return FromAv(error);
        }
        const int take = std::min(waiting, frameSize);
        if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), take) != take) {
            return E_FAIL;
        }
        if (take < frameSize) {
            av_samples_set_silence(frame->data, take, frameSize - take, outChannels,
                                   AV_SAMPLE_FMT_FLTP);
        }
        frame->nb_samples = frameSize;
        frame->pts = nextPts;
        nextPts += frameSize;
        const HRESULT hr = Send(frame);
        if (Failed(hr)) {
            return hr;
        }
    }
}

// Converts `frames` input frames (null: drains the converter) into the fifo.
HRESULT Writer::Stream::Convert(const std::uint8_t* pcm, int frames) {
    for (;;) {
        const int room = swr_get_out_samples(converter, frames);
        if (room < 0) {
            return FromAv(room);
        }
        if (room == 0) {
            return S_OK;
        }
        for (int ch = 0; ch < outChannels; ++ch) {
            auto& plane = planes[static_cast<std::size_t>(ch)];
            if (plane.size() < static_cast<std::size_t>(room)) {
                plane.resize(static_cast<std::size_t>(room));
            }
            planePointers[static_cast<std::size_t>(ch)] =
                reinterpret_cast<std::uint8_t*>(plane.data());
        }
        const std::uint8_t* in[1] = {pcm};
        const int made = swr_convert(converter, planePointers.data(), room,
                                     pcm != nullptr ? in : nullptr, pcm != nullptr ? frames : 0);
        if (made < 0) {
            return FromAv(made);
        }
        if (made > 0 && av_audio_fifo_write(fifo, reinterpret_cast<void**>(planePointers.data()),
                                            made) != made) {
            return E_OUTOFMEMORY;
        }
        // Input is taken whole in one call; only draining needs more rounds.
        if (pcm != nullptr || made == 0) {
            return S_OK;
        }
    }
}

HRESULT Writer::Stream::AddSilence(int frames) {
    std::vector<float> zeros(static_cast<std::size_t>(frames), 0.0f);
    std::vector<void*> data(static_cast<std::size_t>(outChannels), zeros.data());
    return av_audio_fifo_write(fifo, data.data(), frames) == frames ? S_OK : E_OUTOFMEMORY;
}

HRESULT SampleBuffer::GetBufferAndLength(std::uint8_t** buffer, std::uint32_t* length) {
    if (buffer == nullptr || length == nullptr) {
        return E_POINTER;
    }
    *buffer = m_data.data();
    *length = m_length;
    return S_OK;
}

HRESULT SampleBuffer::GetMaxLength(std::uint32_t* length) const {
    if (length == nullptr) {
        return E_POINTER;
    }
    *length = static_cast<std::uint32_t>(m_data.size());
    return S_OK;
}

HRESULT SampleBuffer::SetLength(std::uint32_t length) {
    if (length > m_data.size()) {
        return E_INVALIDARG;
    }
    m_length = length;
    return S_OK;
}

HRESULT InputMediaProps::GetType(MajorType* type) const {
    if (type == nullptr) {
        return E_POINTER;
    }
    *type = m_mediaType.majorType;
    return S_OK;
}

HRESULT InputMediaProps::GetMediaType(MediaType* type) const {
    if (type == nullptr) {
        return E_POINTER;
    }
    *type = m_mediaType;
    return S_OK;
}

HRESULT InputMediaProps::SetMediaType(const MediaType& type) {
    m_mediaType = type;
    return S_OK;
}

Writer::Writer() = default;

// A stream never ended leaves its file closed but incomplete; the caller
// removes it.
Writer::~Writer() = default;

HRESULT Writer::SetProfile(const Profile& profile) {
    if (m_writing) {
        return kInvalidRequest;
    }
    std::uint32_t count = 0;
    profile.GetStreamCount(&count);
    if (count != 1) {
        return E_INVALIDARG; // one audio stream is all this runtime writes
    }
    const StreamConfig* stream = nullptr;
    profile.GetStream(0, &stream);
    MediaType type;
    stream->GetMediaType(&type);
    const WaveFormatEx& f = type.format;
    if (type.majorType != MajorType::Audio || type.formatType != FormatType::WaveFormatEx ||
        f.formatTag != kFormatWma || (f.channels != 1 && f.channels != 2) ||
        EncodeBitrate(f) <= 0) {
        return E_INVALIDARG;
    }
    std::uint32_t vbr = 0;
    stream->GetProperty(kVbrEnabled, &vbr);
    m_outputFormat = f;
    m_vbr = vbr != 0;
    m_input = std::make_shared<InputMediaProps>(PcmMediaType(f.samplesPerSec, f.channels));
    m_haveProfile = true;
    m_passes = 0;
    return S_OK;
}

HRESULT Writer::GetInputCount(std::uint32_t* count) const {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = m_haveProfile ? 1 : 0;
    return S_OK;
}

HRESULT Writer::GetInputProps(std::uint32_t input, std::shared_ptr<InputMediaProps>* props) const {
    if (props == nullptr) {
        return E_POINTER;
    }
    if (!m_haveProfile || input != 0) {
        return E_INVALIDARG;
    }
    MediaType type;
    m_input->GetMediaType(&type);
    *props = std::make_shared<InputMediaProps>(type);
    return S_OK;
}

HRESULT Writer::SetInputProps(std::uint32_t input, const std::shared_ptr<InputMediaProps>& props) {
    if (!m_haveProfile || input != 0 || !props) {
        return E_INVALIDARG;
    }
    if (m_writing) {
        return kInvalidRequest;
    }
    MediaType type;
    props->GetMediaType(&type);
    if (!IsWritablePcm(type)) {
        return kInvalidInputFormat;
    }
    m_input = std::make_shared<InputMediaProps>(type);
    return S_OK;
}

HRESULT Writer::SetOutputFilename(const std::string& path) {
    if (m_writing) {
        return kInvalidRequest;
    }
    if (path.empty()) {
        return E_INVALIDARG;
    }
    m_path = path;
    return S_OK;
}

HRESULT Writer::BeginWriting() {
    if (!m_haveProfile || m_path.empty() || m_writing) {
        return kInvalidRequest;
    }
    MediaType inputType;
    m_input->GetMediaType(&inputType);
    const WaveFormatEx& in = inputType.format;
    const WaveFormatEx& out = m_outputFormat;

    auto stream = std::make_unique<Stream>();
    int error = 0;
    stream->codec = OpenWmaEncoder(out.samplesPerSec, out.channels, EncodeBitrate(out), &error);
    if (stream->codec == nullptr) {
        return FromAv(error);
    }
    stream->inChannels = in.channels;
    stream->outChannels = out.channels;
    stream->frameSize = stream->codec->frame_size;

    error = avformat_alloc_output_context2(&stream->format, nullptr, "asf", m_path.c_str());
    if (error < 0 || stream->format == nullptr) {
        return FromAv(error);
    }
    // Keeps libavformat from adding its own "encoder" attribute.
    stream->format->flags |= AVFMT_FLAG_BITEXACT;
    AVStream* st = avformat_new_stream(stream->format, nullptr);
    if (st == nullptr) {
        return E_OUTOFMEMORY;
    }
    st->time_base = stream->codec->time_base;
    error = avcodec_parameters_from_context(st->codecpar, stream->codec);
    if (error < 0) {
        return FromAv(error);
    }

    AVChannelLayout inLayout;
    AVChannelLayout outLayout;
    av_channel_layout_default(&inLayout, in.channels);
    av_channel_layout_default(&outLayout, out.channels);
    error = swr_alloc_set_opts2(&stream->converter, &outLayout, AV_SAMPLE_FMT_FLTP,
                                static_cast<int>(out.samplesPerSec), &inLayout, AV_SAMPLE_FMT_S16,
                                static_cast<int>(in.samplesPerSec), 0, nullptr);
    if (error < 0) {
        return FromAv(error);
    }
    if (in.channels != out.channels) {
        // Mono is the mean of both channels; stereo from mono repeats it.
        const double down[2] = {0.5, 0.5};
        const double up[2] = {1.0, 1.0};
        error = swr_set_matrix(stream->converter, in.channels == 2 ? down : up, 1);
        if (error < 0) {
            return FromAv(error);
        }
    }
    error = swr_init(stream->converter);
    if (error < 0) {
        return FromAv(error);
    }
    stream->fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, out.channels, stream->frameSize * 4);
    stream->frame = av_frame_alloc();
    stream->packet = av_packet_alloc();
    if (stream->fifo == nullptr || stream->frame == nullptr || stream->packet == nullptr) {
        return E_OUTOFMEMORY;
    }
    stream->frame->format = AV_SAMPLE_FMT_FLTP;
    stream->frame->sample_rate = static_cast<int>(out.samplesPerSec);
    stream->frame->nb_samples = stream->frameSize;
    if (av_channel_layout_copy(&stream->frame->ch_layout, &stream->codec->ch_layout) < 0 ||
        av_frame_get_buffer(stream->frame, 0) < 0) {
        return E_OUTOFMEMORY;
    }
    stream->planes.resize(out.channels);
    stream->planePointers.resize(out.channels);

    if (avio_open(&stream->format->pb, m_path.c_str(), AVIO_FLAG_WRITE) < 0) {
        return kFileOpenFailed;
    }
    // The header goes out without metadata.
    error = avformat_write_header(stream->format, nullptr);
    HRESULT hr = error < 0 ? FromAv(error) : S_OK;
    // The decoder drops the first frame: let that be silence, not audio.
    if (Succeeded(hr)) {
        hr = stream->AddSilence(stream->codec->initial_padding);
    }
    if (Failed(hr)) {
        return hr; // the file is closed with the stream; the caller removes it
    }
    m_stream = std::move(stream);
    m_writing = true;
    m_failure = S_OK;
    m_inputFrames = 0;
    return S_OK;
}

HRESULT Writer::AllocateSample(std::uint32_t size, std::unique_ptr<SampleBuffer>* sample) {
    if (sample == nullptr) {
        return E_POINTER;
    }
    try {
        *sample = std::make_unique<SampleBuffer>(size);
    } catch (const std::bad_alloc&) {
        sample->reset();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT Writer::Consume(const std::uint8_t* pcm, std::uint32_t frames) {
    HRESULT hr = m_stream->Convert(pcm, static_cast<int>(frames));
    if (Succeeded(hr)) {
        hr = m_stream->EncodeFrames(false);
    }
    return hr;
}

HRESULT Writer::ConsumeSilence(std::uint64_t frames) {
    const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(kSilenceChunk) *
                                          static_cast<std::size_t>(m_stream->inChannels) * 2);
    while (frames > 0) {
        const auto part =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, kSilenceChunk));
        const HRESULT hr = Consume(zeros.data(), part);
        if (Failed(hr)) {
            return hr;
        }
        frames -= part;
    }
    return S_OK;
}

HRESULT Writer::WriteSample(std::uint32_t input, std::uint64_t sampleTime, std::uint32_t /*flags*/,
                            SampleBuffer* sample) {
    if (input != 0 || sample == nullptr) {
        return E_INVALIDARG;
    }
    if (!m_writing || m_passActive) {
        return kInvalidRequest;
    }
    if (Failed(m_failure)) {
        return m_failure; // the file is already broken; EndWriting says so again
    }
    std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    sample->GetBufferAndLength(&data, &length);
    const std::uint32_t frameBytes = static_cast<std::uint32_t>(m_stream->inChannels) * 2;
    const std::uint32_t frames = length / frameBytes;

    MediaType type;
    m_input->GetMediaType(&type);
    const std::uint64_t rate = type.format.samplesPerSec;
    const std::uint64_t tolerance = rate * kGapToleranceMs / 1000;
    if (sampleTime / kTimeUnitsPerSecond > kMaxGapSeconds + m_inputFrames / rate) {
        return E_INVALIDARG;
    }
    const std::uint64_t due = sampleTime * rate / kTimeUnitsPerSecond;
    HRESULT hr = S_OK;
    if (due > m_inputFrames + tolerance) {
        hr = ConsumeSilence(due - m_inputFrames);
        m_inputFrames = due;
    }
    if (Succeeded(hr)) {
        hr = Consume(data, frames);
        m_inputFrames += frames;
    }
    if (Failed(hr)) {
        m_failure = hr;
    }
    return hr;
}

HRESULT Writer::EndWriting() {
    if (!m_writing) {
        return kInvalidRequest;
    }
    HRESULT hr = m_failure;
    if (Succeeded(hr)) {
        hr = m_stream->Convert(nullptr, 0); // what the resampler still holds
    }
    if (Succeeded(hr)) {
        hr = m_stream->EncodeFrames(true);
    }
    // The decoder completes a frame only from the packet after it: one more
    // frame of silence lets the last frame of audio out whole.
    if (Succeeded(hr) && m_inputFrames > 0) {
        hr = m_stream->AddSilence(m_stream->frameSize);
    }
    if (Succeeded(hr) && m_inputFrames > 0) {
        hr = m_stream->EncodeFrames(true);
    }
    if (Succeeded(hr)) {
        hr = m_stream->Send(nullptr);
    }
    if (Succeeded(hr)) {
        const int error = av_write_trailer(m_stream->format);
        if (error < 0) {
            hr = FromAv(error);
        }
    }
    if (!m_stream->CloseFile() && Succeeded(hr)) {
        hr = E_FAIL;
    }
    m_stream.reset();
    m_writing = false;
    m_passActive = false;
    m_passes = 0;
    return hr;
}

HRESULT Writer::QueryPreprocess(WriterPreprocess** preprocess) {
    if (preprocess == nullptr) {
        return E_POINTER;
    }
    *preprocess = this;
    return S_OK;
}

HRESULT Writer::GetMaxPreprocessingPasses(std::uint32_t input, std::uint32_t /*flags*/,
                                          std::uint32_t* passes) {
    if (passes == nullptr) {
        return E_POINTER;
    }
    if (!m_haveProfile || input != 0) {
        return E_INVALIDARG;
    }
    // A VBR stream at a bitrate asks for an analysis pass; the encoder then
    // writes it at that bitrate. CBR and quality streams need none.
    *passes = m_vbr && !IsQualityFormat(m_outputFormat) ? 1 : 0;
    return S_OK;
}

HRESULT Writer::SetNumPreprocessingPasses(std::uint32_t input, std::uint32_t flags,
                                          std::uint32_t passes) {
    std::uint32_t most = 0;
    const HRESULT hr = GetMaxPreprocessingPasses(input, flags, &most);
    if (Failed(hr)) {
        return hr;
    }
    if (passes > most) {
        return E_INVALIDARG;
    }
    if (m_passActive) {
        return kInvalidRequest;
    }
    m_passes = passes;
    return S_OK;
}

HRESULT Writer::BeginPreprocessingPass(std::uint32_t input, std::uint32_t /*flags*/) {
    if (input != 0) {
        return E_INVALIDARG;
    }
    if (!m_writing || m_passActive || m_passes == 0) {
        return kInvalidRequest;
    }
    m_passActive = true;
    return S_OK;
}

HRESULT Writer::PreprocessSample(std::uint32_t input, std::uint64_t /*sampleTime*/,
                                 std::uint32_t /*flags*/, SampleBuffer* sample) {
    if (input != 0 || sample == nullptr) {
        return E_INVALIDARG;
    }
    // The encoder works at a fixed bitrate: there is nothing to learn.
    return m_passActive ? S_OK : kInvalidRequest;
}

HRESULT Writer::EndPreprocessingPass(std::uint32_t input, std::uint32_t /*flags*/) {
    if (input != 0) {
        return E_INVALIDARG;
    }
    if (!m_passActive) {
        return kInvalidRequest;
    }
    m_passActive = false;
    --m_passes;
    return S_OK;
}

HRESULT WMCreateWriter(std::unique_ptr<Writer>* writer) {
    if (writer == nullptr) {
        return E_POINTER;
    }
    writer->reset(new (std::nothrow) Writer);
    return *writer ? S_OK : E_OUTOFMEMORY;
}

} // namespace qm::wm
