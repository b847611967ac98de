#include "encoders/WMProfile.h"

namespace qm::wm {

std::uint32_t CodecEnumeration::CodecCount(MajorType type) const {
    return type == MajorType::Audio ? AudioCodecCount() : 0;
}

Status CodecEnumeration::SetSetting(MajorType type, std::uint32_t codec, const std::string& name,
                                    std::uint32_t value) {
    if (codec >= CodecCount(type)) {
        return kInvalidArgument;
    }
    const Status status = CheckEnumerationSetting(codec, name, value);
    if (Failed(status)) {
        return status;
    }
    CodecSettings& settings = m_settings[codec];
    if (name == kVbrEnabled) {
        settings.vbr = value != 0;
    } else {
        settings.passes = value;
    }
    return kOk;
}

const std::vector<WaveFormatEx>& CodecEnumeration::Formats(MajorType type,
                                                           std::uint32_t codec) const {
    static const std::vector<WaveFormatEx> none;
    static const CodecSettings defaults;
    if (codec >= CodecCount(type)) {
        return none;
    }
    const auto found = m_settings.find(codec);
    return AudioCodecFormats(codec, found != m_settings.end() ? found->second : defaults);
}

} // namespace qm::wm
