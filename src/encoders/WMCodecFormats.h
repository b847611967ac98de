// The audio codecs the WMA writer knows and the formats each offers,
// which is what FFmpeg's `wmav2` encoder can really write: format tag
// 0x161, 16 bits, mono or stereo, 8000..48000 Hz, at 24,000 bit/s or more.
// There is no WMA Lossless, Pro or Voice encoder, so no such format exists.
//
// `wmav2` has no VBR mode. Under the VBR enumeration settings the codec
// offers VBR-enabled formats that are written at a fixed bitrate: quality
// formats (one pass) at a bitrate chosen by the quality, and bitrate formats
// (two passes) at their own bitrate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoders/WMTypes.h"

struct AVCodecContext;

namespace qm::wm {

// The codec enumeration settings of one codec.
struct CodecSettings {
    bool vbr = false;
    std::uint32_t passes = 1;
};

// Number of audio codecs, in enumeration order. 0 when FFmpeg lacks `wmav2`.
std::uint32_t AudioCodecCount();
std::string AudioCodecName(std::uint32_t codec);

// Checks one enumeration setting against what the codec can do:
// kSettingNotSupported for an unknown name or a value the codec cannot
// honour (VBR with 3 passes ...).
Status CheckEnumerationSetting(std::uint32_t codec, const std::string& name, std::uint32_t value);

// The formats codec `codec` offers under `settings`; empty for a bad index.
const std::vector<WaveFormatEx>& AudioCodecFormats(std::uint32_t codec,
                                                   const CodecSettings& settings);

// True for a one-pass VBR (quality) format.
bool IsQualityFormat(const WaveFormatEx& format);
// The bitrate a quality format is written at (0 when the quality has no
// bitrate at that rate and channel count).
std::int64_t QualityBitrate(std::uint32_t quality, std::uint32_t sampleRate,
                            std::uint32_t channels);
// The bitrate the encoder runs at for a format of this writer.
std::int64_t EncodeBitrate(const WaveFormatEx& format);

// Opens FFmpeg's `wmav2` encoder for planar float input. Null when FFmpeg
// refuses the combination; `*error` then holds its error code.
AVCodecContext* OpenWmaEncoder(std::uint32_t sampleRate, std::uint32_t channels,
                               std::int64_t bitrate, int* error);

} // namespace qm::wm
