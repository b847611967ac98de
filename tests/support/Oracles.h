// Independent readers of what the program writes: ffprobe for stream
// properties, ffmpeg for decoded PCM.
#pragma once

#include <filesystem>
#include <string>

#include "support/Pcm.h"

namespace qmtest {

struct StreamInfo {
    bool ok = false;
    std::string codec;      // codec_name, e.g. "pcm_s16le", "mp3", "flac"
    std::string sampleFmt;  // e.g. "s16", "u8", "fltp"
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0;  // 0 when the codec does not say
    long long bitRate = 0;  // stream bit rate, 0 when unknown
    double duration = 0.0; // seconds
    std::string formatName; // container, e.g. "wav", "ogg", "asf"
};

StreamInfo Probe(const std::filesystem::path& file);

// The first audio stream decoded by ffmpeg to interleaved PCM in `sampleFmt`
// ("s16le", "u8", "s32le" ...); empty when ffmpeg fails. `extra` is added
// before the input (e.g. "-err_detect crccheck+explode").
Bytes DecodeWithFfmpeg(const std::filesystem::path& file, const std::string& sampleFmt = "s16le",
                       const std::string& extra = "");

} // namespace qmtest
