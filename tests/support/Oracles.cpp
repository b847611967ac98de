#include "support/Oracles.h"

#include <nlohmann/json.hpp>

#include "support/Process.h"

namespace qmtest {

StreamInfo Probe(const std::filesystem::path& file) {
    StreamInfo info;
    const CommandResult result =
        Run("ffprobe -v error -print_format json -show_streams -show_format -select_streams a:0 " +
            ShellQuote(file.string()));
    if (result.exitCode != 0) {
        return info;
    }
    const auto json = nlohmann::json::parse(result.out, nullptr, false);
    if (json.is_discarded() || !json.contains("streams") || json["streams"].empty()) {
        return info;
    }
    const auto& s = json["streams"][0];
    auto number = [](const nlohmann::json& j, const char* key) -> double {
        if (!j.contains(key)) {
            return 0.0;
        }
        const auto& v = j[key];
        if (v.is_string()) {
            try {
                return std::stod(v.get<std::string>());
            } catch (...) {
                return 0.0;
            }
        }
        return v.is_number() ? v.get<double>() : 0.0;
    };
    info.codec = s.value("codec_name", "");
    info.sampleFmt = s.value("sample_fmt", "");
    info.sampleRate = static_cast<int>(number(s, "sample_rate"));
    info.channels = static_cast<int>(number(s, "channels"));
    info.bitsPerSample = static_cast<int>(number(s, "bits_per_sample"));
    info.bitRate = static_cast<long long>(number(s, "bit_rate"));
    info.duration = number(s, "duration");
    if (json.contains("format")) {
        info.formatName = json["format"].value("format_name", "");
        if (info.duration == 0.0) {
            info.duration = number(json["format"], "duration");
        }
        if (info.bitRate == 0) {
            info.bitRate = static_cast<long long>(number(json["format"], "bit_rate"));
        }
    }
    info.ok = true;
    return info;
}

Bytes DecodeWithFfmpeg(const std::filesystem::path& file, const std::string& sampleFmt,
                       const std::string& extra) {
    const std::string codec = sampleFmt == "u8" ? "pcm_u8" : "pcm_" + sampleFmt;
    const CommandResult result = Run("ffmpeg -nostdin -v error " + extra + " -i " +
                                     ShellQuote(file.string()) + " -map 0:a:0 -f " + sampleFmt +
                                     " -acodec " + codec + " -");
    if (result.exitCode != 0) {
        return {};
    }
    return Bytes(result.out.begin(), result.out.end());
}

} // namespace qmtest
