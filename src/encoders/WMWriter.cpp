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

Status FromAv(int error) {
    return error == AVERROR(ENOMEM) ? kOutOfMemory : kFail;
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

    Status EncodeFrames(bool all);
    Status Send(const AVFrame* input);
    Status Convert(const std::uint8_t* pcm, int frames);
    Status AddSilence(int frames);
};

Status Writer::Stream::Send(const AVFrame* input) {
    int error = avcodec_send_frame(codec, input);
    if (error < 0) {
        return FromAv(error);
    }
    for (;;) {
        error = avcodec_receive_packet(codec, packet);
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) {
            return kOk;
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
Status Writer::Stream::EncodeFrames(bool all) {
    for (;;) {
        const int waiting = av_audio_fifo_size(fifo);
        if (waiting == 0 || (waiting < frameSize && !all)) {
            return kOk;
        }
        int error = av_frame_make_writable(frame);
        if (error < 0) {
            return FromAv(error);
        }
        const int take = std::min(waiting, frameSize);
        if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), take) != take) {
            return kFail;
        }
        if (take < frameSize) {
            av_samples_set_silence(frame->data, take, frameSize - take, outChannels,
                                   AV_SAMPLE_FMT_FLTP);
        }
        frame->nb_samples = frameSize;
        frame->pts = nextPts;
        nextPts += frameSize;
        const Status status = Send(frame);
        if (Failed(status)) {
            return status;
        }
    }
}

// Converts `frames` input frames (null: drains the converter) into the fifo.
Status Writer::Stream::Convert(const std::uint8_t* pcm, int frames) {
    for (;;) {
        const int room = swr_get_out_samples(converter, frames);
        if (room < 0) {
            return FromAv(room);
        }
        if (room == 0) {
            return kOk;
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
            return kOutOfMemory;
        }
        // Input is taken whole in one call; only draining needs more rounds.
        if (pcm != nullptr || made == 0) {
            return kOk;
        }
    }
}

Status Writer::Stream::AddSilence(int frames) {
    std::vector<float> zeros(static_cast<std::size_t>(frames), 0.0f);
    std::vector<void*> data(static_cast<std::size_t>(outChannels), zeros.data());
    return av_audio_fifo_write(fifo, data.data(), frames) == frames ? kOk : kOutOfMemory;
}

// A stream never ended leaves its file closed but incomplete; the caller
// removes it.
Writer::Writer() = default;
Writer::~Writer() = default;

Status Writer::SetProfile(const Profile& profile) {
    if (m_writing) {
        return kInvalidRequest;
    }
    if (profile.streams.size() != 1) {
        return kInvalidArgument; // one audio stream is all this writer writes
    }
    const StreamConfig& stream = profile.streams.front();
    const MediaType& type = stream.mediaType;
    const WaveFormatEx& f = type.format;
    if (type.majorType != MajorType::Audio || type.formatType != FormatType::WaveFormatEx ||
        f.formatTag != kFormatWma || (f.channels != 1 && f.channels != 2) ||
        EncodeBitrate(f) <= 0) {
        return kInvalidArgument;
    }
    m_outputFormat = f;
    m_vbr = stream.vbr;
    m_input = PcmMediaType(f.samplesPerSec, f.channels);
    m_haveProfile = true;
    m_passes = 0;
    return kOk;
}

Status Writer::SetInputType(const MediaType& type) {
    if (!m_haveProfile) {
        return kInvalidArgument;
    }
    if (m_writing) {
        return kInvalidRequest;
    }
    if (!IsWritablePcm(type)) {
        return kInvalidInputFormat;
    }
    m_input = type;
    return kOk;
}

Status Writer::SetOutputFilename(const std::string& path) {
    if (m_writing) {
        return kInvalidRequest;
    }
    if (path.empty()) {
        return kInvalidArgument;
    }
    m_path = path;
    return kOk;
}

Status Writer::BeginWriting() {
    if (!m_haveProfile || m_path.empty() || m_writing) {
        return kInvalidRequest;
    }
    const WaveFormatEx& in = m_input.format;
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
        return kOutOfMemory;
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
        return kOutOfMemory;
    }
    stream->frame->format = AV_SAMPLE_FMT_FLTP;
    stream->frame->sample_rate = static_cast<int>(out.samplesPerSec);
    stream->frame->nb_samples = stream->frameSize;
    if (av_channel_layout_copy(&stream->frame->ch_layout, &stream->codec->ch_layout) < 0 ||
        av_frame_get_buffer(stream->frame, 0) < 0) {
        return kOutOfMemory;
    }
    stream->planes.resize(out.channels);
    stream->planePointers.resize(out.channels);

    if (avio_open(&stream->format->pb, m_path.c_str(), AVIO_FLAG_WRITE) < 0) {
        return kFileOpenFailed;
    }
    // The header goes out without metadata.
    error = avformat_write_header(stream->format, nullptr);
    Status status = error < 0 ? FromAv(error) : kOk;
    // The decoder drops the first frame: let that be silence, not audio.
    if (Succeeded(status)) {
        status = stream->AddSilence(stream->codec->initial_padding);
    }
    if (Failed(status)) {
        return status; // the file is closed with the stream; the caller removes it
    }
    m_stream = std::move(stream);
    m_writing = true;
    m_failure = kOk;
    m_inputFrames = 0;
    return kOk;
}

Status Writer::Consume(const std::uint8_t* pcm, std::uint32_t frames) {
    Status status = m_stream->Convert(pcm, static_cast<int>(frames));
    if (Succeeded(status)) {
        status = m_stream->EncodeFrames(false);
    }
    return status;
}

Status Writer::ConsumeSilence(std::uint64_t frames) {
    const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(kSilenceChunk) *
                                          static_cast<std::size_t>(m_stream->inChannels) * 2);
    while (frames > 0) {
        const auto part =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, kSilenceChunk));
        const Status status = Consume(zeros.data(), part);
        if (Failed(status)) {
            return status;
        }
        frames -= part;
    }
    return kOk;
}

Status Writer::WriteSample(std::uint64_t sampleTime, std::span<const std::uint8_t> pcm) {
    if (!m_writing || m_passActive) {
        return kInvalidRequest;
    }
    if (Failed(m_failure)) {
        return m_failure; // the file is already broken; EndWriting says so again
    }
    const std::size_t frameBytes = static_cast<std::size_t>(m_stream->inChannels) * 2;
    const auto frames = static_cast<std::uint32_t>(pcm.size() / frameBytes);

    const std::uint64_t rate = m_input.format.samplesPerSec;
    const std::uint64_t tolerance = rate * kGapToleranceMs / 1000;
    if (sampleTime / kTimeUnitsPerSecond > kMaxGapSeconds + m_inputFrames / rate) {
        return kInvalidArgument;
    }
    const std::uint64_t due = sampleTime * rate / kTimeUnitsPerSecond;
    Status status = kOk;
    if (due > m_inputFrames + tolerance) {
        status = ConsumeSilence(due - m_inputFrames);
        m_inputFrames = due;
    }
    if (Succeeded(status)) {
        status = Consume(pcm.data(), frames);
        m_inputFrames += frames;
    }
    if (Failed(status)) {
        m_failure = status;
    }
    return status;
}

Status Writer::EndWriting() {
    if (!m_writing) {
        return kInvalidRequest;
    }
    Status status = m_failure;
    if (Succeeded(status)) {
        status = m_stream->Convert(nullptr, 0); // what the resampler still holds
    }
    if (Succeeded(status)) {
        status = m_stream->EncodeFrames(true);
    }
    // The decoder completes a frame only from the packet after it: one more
    // frame of silence lets the last frame of audio out whole.
    if (Succeeded(status) && m_inputFrames > 0) {
        status = m_stream->AddSilence(m_stream->frameSize);
    }
    if (Succeeded(status) && m_inputFrames > 0) {
        status = m_stream->EncodeFrames(true);
    }
    if (Succeeded(status)) {
        status = m_stream->Send(nullptr);
    }
    if (Succeeded(status)) {
        const int error = av_write_trailer(m_stream->format);
        if (error < 0) {
            status = FromAv(error);
        }
    }
    if (!m_stream->CloseFile() && Succeeded(status)) {
        status = kFail;
    }
    m_stream.reset();
    m_writing = false;
    m_passActive = false;
    m_passes = 0;
    return status;
}

std::uint32_t Writer::GetMaxPreprocessingPasses() const {
    // A VBR stream at a bitrate asks for an analysis pass; the encoder then
    // writes it at that bitrate. CBR and quality streams need none.
    return m_haveProfile && m_vbr && !IsQualityFormat(m_outputFormat) ? 1 : 0;
}

Status Writer::SetNumPreprocessingPasses(std::uint32_t passes) {
    if (!m_haveProfile) {
        return kInvalidArgument;
    }
    if (passes > GetMaxPreprocessingPasses()) {
        return kInvalidArgument;
    }
    if (m_passActive) {
        return kInvalidRequest;
    }
    m_passes = passes;
    return kOk;
}

Status Writer::BeginPreprocessingPass() {
    if (!m_writing || m_passActive || m_passes == 0) {
        return kInvalidRequest;
    }
    m_passActive = true;
    return kOk;
}

Status Writer::PreprocessSample(std::span<const std::uint8_t> /*pcm*/) {
    // The encoder works at a fixed bitrate: there is nothing to learn.
    return m_passActive ? kOk : kInvalidRequest;
}

Status Writer::EndPreprocessingPass() {
    if (!m_passActive) {
        return kInvalidRequest;
    }
    m_passActive = false;
    --m_passes;
    return kOk;
}

} // namespace qm::wm
