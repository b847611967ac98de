#include "encoders/WMCodecFormats.h"

#include <array>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace qm::wm {

namespace {

constexpr std::array<std::uint32_t, 7> kRates = {48000, 44100, 32000, 22050, 16000, 11025, 8000};
constexpr std::array<std::int64_t, 12> kBitrates = {320000, 256000, 192000, 160000, 128000, 96000,
                                                    80000,  64000,  48000,  40000,  32000,  24000};
// `wmav2` refuses to open below this.
constexpr std::int64_t kMinBitrate = 24000;
// Above four bits a sample the codec only wastes space; no format offers more.
constexpr std::int64_t kMaxBitsPerSample = 4;

struct QualityStep {
    std::uint32_t quality;
    std::int64_t bitrate; // at 44100 or 48000 Hz, stereo
};
constexpr std::array<QualityStep, 6> kQualitySteps = {
    {{98, 256000}, {90, 192000}, {75, 160000}, {50, 128000}, {25, 96000}, {10, 64000}}};

struct Catalogue {
    bool haveEncoder = false;
    std::vector<WaveFormatEx> bitrateFormats; // CBR, and VBR with two passes
    std::vector<WaveFormatEx> qualityFormats; // VBR with one pass
};

// What the encoder says about a rate and channel count: its frame length
// and the codec data it puts into the wave format.
struct EncoderTraits {
    int frameLength = 0;
    std::vector<std::uint8_t> extra;
};

bool Probe(std::uint32_t rate, std::uint32_t channels, EncoderTraits* traits) {
    int error = 0;
    AVCodecContext* context = OpenWmaEncoder(rate, channels, kMinBitrate, &error);
    if (context == nullptr) {
        return false;
    }
    traits->frameLength = context->frame_size;
    traits->extra.assign(context->extradata, context->extradata + context->extradata_size);
    avcodec_free_context(&context);
    return traits->frameLength > 0;
}

WaveFormatEx Format(std::uint32_t rate, std::uint32_t channels, std::int64_t bitrate,
                    const EncoderTraits& traits) {
    WaveFormatEx format;
    format.formatTag = kFormatWma;
    format.channels = static_cast<std::uint16_t>(channels);
    format.samplesPerSec = rate;
    format.avgBytesPerSec = static_cast<std::uint32_t>(bitrate / 8);
    // One encoded frame: the bytes of its share of the bitrate, as the
    // encoder sizes its packets.
    format.blockAlign =
        static_cast<std::uint16_t>(bitrate * traits.frameLength / (std::int64_t{rate} * 8));
    format.bitsPerSample = 16;
    format.extra = traits.extra;
    format.extraSize = static_cast<std::uint16_t>(format.extra.size());
    return format;
}

Catalogue Build() {
    Catalogue catalogue;
    catalogue.haveEncoder = avcodec_find_encoder(AV_CODEC_ID_WMAV2) != nullptr;
    if (!catalogue.haveEncoder) {
        return catalogue;
    }
    for (const std::uint32_t rate : kRates) {
        for (const std::uint32_t channels : {2u, 1u}) {
            EncoderTraits traits;
            if (!Probe(rate, channels, &traits)) {
                continue;
            }
            for (const std::int64_t bitrate : kBitrates) {
                if (bitrate >= kMinBitrate &&
                    bitrate <= static_cast<std::int64_t>(rate) * channels * kMaxBitsPerSample) {
                    catalogue.bitrateFormats.push_back(Format(rate, channels, bitrate, traits));
                }
            }
            for (const QualityStep& step : kQualitySteps) {
                const std::int64_t bitrate = QualityBitrate(step.quality, rate, channels);
                if (bitrate > 0) {
                    WaveFormatEx format = Format(rate, channels, bitrate, traits);
                    format.avgBytesPerSec = kQualityBytesBase + step.quality;
                    catalogue.qualityFormats.push_back(std::move(format));
                }
            }
        }
    }
    return catalogue;
}

// Built once, on first use, from the encoder FFmpeg has.
const Catalogue& TheCatalogue() {
    static const Catalogue catalogue = Build();
    return catalogue;
}

} // namespace

std::uint32_t AudioCodecCount() {
    return TheCatalogue().haveEncoder ? 1 : 0;
}

std::string AudioCodecName(std::uint32_t codec) {
    return codec < AudioCodecCount() ? "Windows Media Audio (FFmpeg wmav2)" : "";
}

Status CheckEnumerationSetting(std::uint32_t codec, const std::string& name, std::uint32_t value) {
    if (codec >= AudioCodecCount()) {
        return kInvalidArgument;
    }
    if (name == kVbrEnabled) {
        return kOk;
    }
    if (name == kPassesUsed) {
        return value == 1 || value == 2 ? kOk : kSettingNotSupported;
    }
    return kSettingNotSupported;
}

const std::vector<WaveFormatEx>& AudioCodecFormats(std::uint32_t codec,
                                                   const CodecSettings& settings) {
    static const std::vector<WaveFormatEx> none;
    if (codec >= AudioCodecCount()) {
        return none;
    }
    const Catalogue& catalogue = TheCatalogue();
    if (settings.vbr && settings.passes == 1) {
        return catalogue.qualityFormats;
    }
    return catalogue.bitrateFormats;
}

bool IsQualityFormat(const WaveFormatEx& format) {
    return format.avgBytesPerSec >= kQualityBytesBase &&
           format.avgBytesPerSec - kQualityBytesBase <= 100;
}

std::int64_t QualityBitrate(std::uint32_t quality, std::uint32_t sampleRate,
                            std::uint32_t channels) {
    if (channels != 2 || (sampleRate != 44100 && sampleRate != 48000)) {
        return 0;
    }
    for (const QualityStep& step : kQualitySteps) {
        if (step.quality == quality) {
            return step.bitrate;
        }
    }
    return 0;
}

std::int64_t EncodeBitrate(const WaveFormatEx& format) {
    if (IsQualityFormat(format)) {
        return QualityBitrate(format.avgBytesPerSec - kQualityBytesBase, format.samplesPerSec,
                              format.channels);
    }
    return static_cast<std::int64_t>(format.avgBytesPerSec) * 8;
}

AVCodecContext* OpenWmaEncoder(std::uint32_t sampleRate, std::uint32_t channels,
                               std::int64_t bitrate, int* error) {
    *error = AVERROR_ENCODER_NOT_FOUND;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (codec == nullptr) {
        return nullptr;
    }
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (context == nullptr) {
        *error = AVERROR(ENOMEM);
        return nullptr;
    }
    context->sample_rate = static_cast<int>(sampleRate);
    av_channel_layout_default(&context->ch_layout, static_cast<int>(channels));
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    context->bit_rate = bitrate;
    context->time_base = AVRational{1, static_cast<int>(sampleRate)};
    *error = avcodec_open2(context, codec, nullptr);
    if (*error < 0) {
        avcodec_free_context(&context);
        return nullptr;
    }
    return context;
}

} // namespace qm::wm
