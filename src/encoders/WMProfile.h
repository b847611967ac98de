// What the WMA sink asks the writer for: a profile of one audio stream, and
// the codec enumeration it searches for the stream's format.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "encoders/WMCodecFormats.h"
#include "encoders/WMTypes.h"

namespace qm::wm {

// One stream of a profile.
struct StreamConfig {
    std::uint16_t number = 0; // 1..63
    std::string name;
    std::string connection;
    std::uint32_t bitrate = 0; // bit/s
    MediaType mediaType;
    bool vbr = false;
};

struct Profile {
    std::string name;
    std::vector<StreamConfig> streams;
};

// The audio codecs and the formats each offers under its enumeration
// settings (VBR, passes), which change what a codec offers.
class CodecEnumeration {
public:
    std::uint32_t CodecCount(MajorType type) const;
    // `value` is the flag or number of the setting; kSettingNotSupported for
    // a setting or value the codec cannot honour, kInvalidArgument for a
    // codec that does not exist.
    Status SetSetting(MajorType type, std::uint32_t codec, const std::string& name,
                      std::uint32_t value);
    // The formats codec `codec` offers under its settings; empty for a codec
    // that does not exist.
    const std::vector<WaveFormatEx>& Formats(MajorType type, std::uint32_t codec) const;

private:
    std::map<std::uint32_t, CodecSettings> m_settings;
};

} // namespace qm::wm
