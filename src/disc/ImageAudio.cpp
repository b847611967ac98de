#include "disc/ImageAudio.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

namespace qm {

namespace {

constexpr std::int64_t kSectorBytes = 2352;
constexpr int kCdRate = 44100;
constexpr std::size_t kWriteBuffer = 1 << 20;

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

bool ReadAt(int fd, std::int64_t at, void* dest, std::size_t bytes) {
    auto* out = static_cast<std::uint8_t*>(dest);
    while (bytes > 0) {
        const ssize_t got = ::pread(fd, out, bytes, static_cast<off_t>(at));
        if (got <= 0) {
            return false;
        }
        out += got;
        at += got;
        bytes -= static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t bytes) {
    while (bytes > 0) {
        const ssize_t put = ::write(fd, data, bytes);
        if (put <= 0) {
            return false;
        }
        data += put;
        bytes -= static_cast<std::size_t>(put);
    }
    return true;
}

enum class WavAnswer { kNotWav, kCdAudio, kOtherAudio };

// Where a RIFF WAVE file's samples are, when it holds CD audio.
WavAnswer ProbeWav(int fd, std::int64_t fileBytes, std::int64_t* offset, std::int64_t* bytes,
                   std::string* what) {
    std::uint8_t head[12];
    if (!ReadAt(fd, 0, head, sizeof head) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        return WavAnswer::kNotWav;
    }
    std::int64_t at = 12;
    bool cd = false;
    bool seenFormat = false;
    while (at + 8 <= fileBytes) {
        std::uint8_t chunk[8];
        if (!ReadAt(fd, at, chunk, sizeof chunk)) {
            break;
        }
        const std::int64_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            std::uint8_t format[16];
            if (!ReadAt(fd, at + 8, format, sizeof format)) {
                break;
            }
            const unsigned tag = Le16(format);
            const unsigned channels = Le16(format + 2);
            const std::uint32_t rate = Le32(format + 4);
            const unsigned bits = Le16(format + 14);
            seenFormat = true;
            cd = (tag == 1 || tag == 0xFFFE) && channels == 2 && rate == kCdRate && bits == 16;
            *what = std::to_string(rate) + " Hz, " + std::to_string(bits) + "-bit, " +
                    std::to_string(channels) + " channel(s)";
        } else if (std::memcmp(chunk, "data", 4) == 0 && seenFormat) {
            if (!cd) {
                return WavAnswer::kOtherAudio;
            }
            *offset = at + 8;
            // Streamed files leave the size open; the file's end bounds it.
            *bytes = std::min<std::int64_t>(size, fileBytes - *offset);
            if (size == 0xFFFFFFFF || size == 0) {
                *bytes = fileBytes - *offset;
            }
            *bytes -= *bytes % 4;
            return WavAnswer::kCdAudio;
        }
        at += 8 + size + (size & 1);
    }
    return seenFormat ? WavAnswer::kOtherAudio : WavAnswer::kNotWav;
}

// An open FFmpeg input with its audio decoder.
class Decoder {
public:
    ~Decoder() {
        avcodec_free_context(&m_codec);
        avformat_close_input(&m_format);
    }

    bool Open(const std::filesystem::path& path, std::string* error) {
        const std::string name = path.filename().string();
        if (avformat_open_input(&m_format, path.c_str(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(m_format, nullptr) < 0) {
            *error = "not an audio file that can be decoded: " + name;
            return false;
        }
        m_stream = av_find_best_stream(m_format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (m_stream < 0) {
            *error = "no audio in " + name;
            return false;
        }
        const AVStream* stream = m_format->streams[m_stream];
        const AVCodecParameters* par = stream->codecpar;
        const int bits =
            par->bits_per_raw_sample > 0 ? par->bits_per_raw_sample : par->bits_per_coded_sample;
        const bool lossless =
            par->codec_id == AV_CODEC_ID_FLAC || par->codec_id == AV_CODEC_ID_APE ||
            par->codec_id == AV_CODEC_ID_WAVPACK || par->codec_id == AV_CODEC_ID_ALAC ||
            par->codec_id == AV_CODEC_ID_TTA ||
            (par->codec_id >= AV_CODEC_ID_FIRST_AUDIO && par->codec_id < AV_CODEC_ID_ADPCM_IMA_QT);
        if (par->sample_rate != kCdRate || par->ch_layout.nb_channels != 2 ||
            (lossless && bits != 16)) {
            *error = name + " is not CD audio (44.1 kHz, 16-bit, stereo): " +
                     std::to_string(par->sample_rate) + " Hz, " +
                     (lossless ? std::to_string(bits) + "-bit, " : std::string()) +
                     std::to_string(par->ch_layout.nb_channels) + " channel(s)";
            return false;
        }
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        m_codec = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
        if (m_codec == nullptr || avcodec_parameters_to_context(m_codec, par) < 0 ||
            avcodec_open2(m_codec, codec, nullptr) < 0) {
            *error = "no decoder for " + name;
            return false;
        }
        if (lossless && stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            m_frames = av_rescale_q(stream->duration, stream->time_base, AVRational{1, kCdRate});
        }
        return true;
    }

    // Frames the container announces; -1 when only decoding can tell.
    std::int64_t Frames() const { return m_frames; }

    // Every sample in order, as little-endian 16-bit stereo, in pieces.
    template <typename Sink> bool Run(Sink&& sink) {
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        std::vector<std::uint8_t> out;
        bool ok = packet != nullptr && frame != nullptr;
        bool draining = false;
        while (ok) {
            if (!draining) {
                const int rc = av_read_frame(m_format, packet);
                if (rc < 0) {
                    draining = true;
                    avcodec_send_packet(m_codec, nullptr);
                } else {
                    if (packet->stream_index == m_stream &&
                        avcodec_send_packet(m_codec, packet) < 0) {
                        ok = false;
                    }
                    av_packet_unref(packet);
                }
            }
            while (ok) {
                const int rc = avcodec_receive_frame(m_codec, frame);
                if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
                    break;
                }
                if (rc < 0) {
                    ok = false;
                    break;
                }
                // Packed 16-bit samples, what lossless decoders give, go on
                // as they are; anything else is converted first.
                if (std::endian::native == std::endian::little &&
                    frame->format == AV_SAMPLE_FMT_S16) {
                    ok = sink(frame->extended_data[0],
                              static_cast<std::size_t>(frame->nb_samples) * 4);
                } else {
                    ok = Convert(frame, &out) && sink(out.data(), out.size());
                }
                av_frame_unref(frame);
            }
            if (draining) {
                break;
            }
        }
        av_frame_free(&frame);
        av_packet_free(&packet);
        return ok;
    }

private:
    static std::int16_t FromFloat(double value) {
        const double scaled = std::nearbyint(value * 32768.0);
        return static_cast<std::int16_t>(std::clamp(scaled, -32768.0, 32767.0));
    }

    static bool Convert(const AVFrame* frame, std::vector<std::uint8_t>* out) {
        const int samples = frame->nb_samples;
        out->resize(static_cast<std::size_t>(samples) * 4);
        auto* dest = reinterpret_cast<std::int16_t*>(out->data());
        const auto format = static_cast<AVSampleFormat>(frame->format);
        const bool planar = av_sample_fmt_is_planar(format) != 0;
        // What lossless decoders give: 16-bit samples, packed or planar.
        if constexpr (std::endian::native == std::endian::little) {
            if (format == AV_SAMPLE_FMT_S16) {
                std::memcpy(dest, frame->extended_data[0], out->size());
                return true;
            }
            if (format == AV_SAMPLE_FMT_S16P) {
                const auto* left = reinterpret_cast<const std::int16_t*>(frame->extended_data[0]);
                const auto* right = reinterpret_cast<const std::int16_t*>(frame->extended_data[1]);
                for (int i = 0; i < samples; ++i) {
                    dest[2 * i] = left[i];
                    dest[2 * i + 1] = right[i];
                }
                return true;
            }
        }
        for (int i = 0; i < samples; ++i) {
            for (int c = 0; c < 2; ++c) {
                const int plane = planar ? c : 0;
                const int at = planar ? i : i * 2 + c;
                const std::uint8_t* data = frame->extended_data[plane];
                std::int16_t value = 0;
                switch (av_get_packed_sample_fmt(format)) {
                case AV_SAMPLE_FMT_S16:
                    value = reinterpret_cast<const std::int16_t*>(data)[at];
                    break;
                case AV_SAMPLE_FMT_S32:
                    value = static_cast<std::int16_t>(
                        reinterpret_cast<const std::int32_t*>(data)[at] >> 16);
                    break;
                case AV_SAMPLE_FMT_FLT:
                    value = FromFloat(reinterpret_cast<const float*>(data)[at]);
                    break;
                case AV_SAMPLE_FMT_DBL:
                    value = FromFloat(reinterpret_cast<const double*>(data)[at]);
                    break;
                case AV_SAMPLE_FMT_U8:
                    value = static_cast<std::int16_t>((data[at] - 128) << 8);
                    break;
                default:
                    return false;
                }
                // Samples go out little-endian whatever the host is.
                auto* bytes = reinterpret_cast<std::uint8_t*>(dest + i * 2 + c);
                bytes[0] = static_cast<std::uint8_t>(value & 0xFF);
                bytes[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
            }
        }
        return true;
    }

    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    int m_stream = -1;
    std::int64_t m_frames = -1;
};

// An unnamed file in the temporary folder: it goes when it is closed.
int TemporaryFile() {
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    const std::string folder = ec ? std::string("/tmp") : dir.string();
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        return fd;
    }
    std::string pattern = folder + "/quavermill-audio-XXXXXX";
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) {
        ::unlink(pattern.c_str());
    }
    return fd;
}

} // namespace

ImageAudioFile::~ImageAudioFile() {
    if (m_decoder.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_progressLock);
            m_stop = true;
        }
        m_decoder.join();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::unique_ptr<ImageAudioFile> ImageAudioFile::Open(const std::filesystem::path& path,
                                                     const std::string& type, std::string* error) {
    std::unique_ptr<ImageAudioFile> file(new ImageAudioFile());
    file->m_path = path;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        *error = "the sheet's file is missing: " + path.string();
        return nullptr;
    }
    const auto fileBytes = static_cast<std::int64_t>(std::filesystem::file_size(path, ec));
    file->m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (ec || file->m_fd < 0) {
        *error = "cannot open " + path.string();
        return nullptr;
    }
    if (type == "BINARY" || type == "MOTOROLA") {
        file->m_bytes = fileBytes;
        file->m_swap = type == "MOTOROLA";
        return file;
    }
    std::string what;
    switch (ProbeWav(file->m_fd, fileBytes, &file->m_offset, &file->m_bytes, &what)) {
    case WavAnswer::kCdAudio:
        return file;
    case WavAnswer::kOtherAudio:
        *error = path.filename().string() + " is not CD audio (44.1 kHz, 16-bit, stereo): " + what;
        return nullptr;
    case WavAnswer::kNotWav:
        break;
    }
    Decoder decoder;
    if (!decoder.Open(path, error)) {
        return nullptr;
    }
    ::close(file->m_fd);
    file->m_fd = -1;
    file->m_kind = Kind::kDecoded;
    std::int64_t frames = decoder.Frames();
    if (frames < 0) {
        // Only decoding tells how long a lossy file is: decode it now.
        if (!file->Decode()) {
            *error = "cannot decode " + path.filename().string();
            return nullptr;
        }
        frames = file->m_ready / 4;
    }
    file->m_bytes = frames * 4;
    return file;
}

bool ImageAudioFile::StartDecoding() {
    m_decoded = true;
    m_fd = TemporaryFile();
    if (m_fd < 0) {
        m_failed = true;
        m_done = true;
        return false;
    }
    m_offset = 0;
    m_decoder = std::thread([this] { DecodeAll(); });
    return true;
}

void ImageAudioFile::DecodeAll() {
    Decoder decoder;
    std::string ignored;
    bool ok = decoder.Open(m_path, &ignored);
    std::vector<std::uint8_t> buffer;
    buffer.reserve(kWriteBuffer);
    std::int64_t written = 0;
    // Whole buffers go to the file and are announced to the readers.
    auto flush = [&]() {
        if (!WriteAll(m_fd, buffer.data(), buffer.size())) {
            return false;
        }
        written += static_cast<std::int64_t>(buffer.size());
        buffer.clear();
        std::lock_guard<std::mutex> lock(m_progressLock);
        m_ready = written;
        m_progress.notify_all();
        return !m_stop;
    };
    ok = ok && decoder.Run([&](const std::uint8_t* data, std::size_t bytes) {
        if (buffer.size() + bytes > kWriteBuffer && !flush()) {
            return false;
        }
        buffer.insert(buffer.end(), data, data + bytes);
        return true;
    });
    ok = ok && flush();
    std::lock_guard<std::mutex> lock(m_progressLock);
    m_failed = !ok;
    m_done = true;
    m_progress.notify_all();
}

bool ImageAudioFile::WaitFor(std::int64_t end) {
    std::unique_lock<std::mutex> lock(m_progressLock);
    m_progress.wait(lock, [&] { return m_done || m_ready >= end; });
    return m_ready >= end;
}

bool ImageAudioFile::Decode() {
    if (!StartDecoding()) {
        return false;
    }
    m_decoder.join();
    return !m_failed;
}

bool ImageAudioFile::Read(std::int64_t first, std::int32_t count, std::uint8_t* dest) {
    if (first < 0 || count < 0 || first + count > Sectors()) {
        return false;
    }
    return ReadBytes(first * kSectorBytes, static_cast<std::int64_t>(count) * kSectorBytes, dest);
}

bool ImageAudioFile::ReadBytes(std::int64_t from, std::int64_t wanted, std::uint8_t* dest) {
    if (m_kind == Kind::kDecoded) {
        if (!m_decoded && !StartDecoding()) {
            return false;
        }
        // The samples the read needs, up to the length the file announced.
        // A file that decodes shorter than that fails the reads past its
        // true end instead of serving silence for them.
        if (!WaitFor(std::min(from + wanted, m_bytes))) {
            return false;
        }
        std::lock_guard<std::mutex> lock(m_progressLock);
        if (m_failed) {
            return false;
        }
    }
    if (from < 0 || wanted < 0 || from + wanted > m_bytes + kSectorBytes || m_fd < 0) {
        return false;
    }
    const std::int64_t present = std::clamp<std::int64_t>(m_bytes - from, 0, wanted);
    if (present > 0 && !ReadAt(m_fd, m_offset + from, dest, static_cast<std::size_t>(present))) {
        return false;
    }
    std::memset(dest + present, 0, static_cast<std::size_t>(wanted - present));
    // Byte-swapped samples pair up from where the read starts: a TOC file's
    // byte offset, or a sector, is where its samples begin.
    if (m_swap) {
        for (std::int64_t i = 0; i + 1 < wanted; i += 2) {
            std::swap(dest[i], dest[i + 1]);
        }
    }
    return true;
}

} // namespace qm
