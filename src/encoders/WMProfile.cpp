#include "encoders/WMProfile.h"

#include <new>

namespace qm::wm {

namespace {

constexpr std::uint16_t kMaxStreamNumber = 63;

} // namespace

HRESULT StreamConfig::GetStreamType(MajorType* type) const {
    if (type == nullptr) {
        return E_POINTER;
    }
    *type = m_type;
    return S_OK;
}

HRESULT StreamConfig::SetStreamNumber(std::uint16_t number) {
    if (number == 0 || number > kMaxStreamNumber) {
        return E_INVALIDARG;
    }
    m_number = number;
    return S_OK;
}

HRESULT StreamConfig::GetStreamNumber(std::uint16_t* number) const {
    if (number == nullptr) {
        return E_POINTER;
    }
    *number = m_number;
    return S_OK;
}

HRESULT StreamConfig::SetStreamName(const std::string& name) {
    m_name = name;
    return S_OK;
}

HRESULT StreamConfig::GetStreamName(std::string* name) const {
    if (name == nullptr) {
        return E_POINTER;
    }
    *name = m_name;
    return S_OK;
}

HRESULT StreamConfig::SetConnectionName(const std::string& name) {
    m_connection = name;
    return S_OK;
}

HRESULT StreamConfig::GetConnectionName(std::string* name) const {
    if (name == nullptr) {
        return E_POINTER;
    }
    *name = m_connection;
    return S_OK;
}

HRESULT StreamConfig::SetBitrate(std::uint32_t bitrate) {
    m_bitrate = bitrate;
    return S_OK;
}

HRESULT StreamConfig::GetBitrate(std::uint32_t* bitrate) const {
    if (bitrate == nullptr) {
        return E_POINTER;
    }
    *bitrate = m_bitrate;
    return S_OK;
}

HRESULT StreamConfig::SetMediaType(const MediaType& type) {
    if (type.majorType != m_type) {
        return E_INVALIDARG;
    }
    m_mediaType = type;
    return S_OK;
}

HRESULT StreamConfig::GetMediaType(MediaType* type) const {
    if (type == nullptr) {
        return E_POINTER;
    }
    *type = m_mediaType;
    return S_OK;
}

HRESULT StreamConfig::SetProperty(const std::string& name, std::uint32_t value) {
    if (name != kVbrEnabled) {
        return kSettingNotSupported;
    }
    m_properties[name] = value;
    return S_OK;
}

HRESULT StreamConfig::GetProperty(const std::string& name, std::uint32_t* value) const {
    if (value == nullptr) {
        return E_POINTER;
    }
    const auto found = m_properties.find(name);
    if (found == m_properties.end()) {
        return kSettingNotSupported;
    }
    *value = found->second;
    return S_OK;
}

HRESULT Profile::SetName(const std::string& name) {
    m_name = name;
    return S_OK;
}

HRESULT Profile::GetName(std::string* name) const {
    if (name == nullptr) {
        return E_POINTER;
    }
    *name = m_name;
    return S_OK;
}

HRESULT Profile::GetVersion(std::uint32_t* version) const {
    if (version == nullptr) {
        return E_POINTER;
    }
    *version = m_version;
    return S_OK;
}

HRESULT Profile::CreateNewStream(MajorType type, std::unique_ptr<StreamConfig>* config) const {
    if (config == nullptr) {
        return E_POINTER;
    }
    if (type != MajorType::Audio) {
        return E_INVALIDARG; // this runtime writes audio only
    }
    config->reset(new (std::nothrow) StreamConfig(type));
    return *config ? S_OK : E_OUTOFMEMORY;
}

HRESULT Profile::AddStream(const StreamConfig& config) {
    std::uint16_t number = 0;
    config.GetStreamNumber(&number);
    if (number == 0) {
        return E_INVALIDARG;
    }
    for (const StreamConfig& stream : m_streams) {
        std::uint16_t other = 0;
        stream.GetStreamNumber(&other);
        if (other == number) {
            return E_INVALIDARG;
        }
    }
    m_streams.push_back(config);
    return S_OK;
}

HRESULT Profile::GetStreamCount(std::uint32_t* count) const {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = static_cast<std::uint32_t>(m_streams.size());
    return S_OK;
}

HRESULT Profile::GetStream(std::uint32_t index, const StreamConfig** config) const {
    if (config == nullptr) {
        return E_POINTER;
    }
    if (index >= m_streams.size()) {
        return E_INVALIDARG;
    }
    *config = &m_streams[index];
    return S_OK;
}

HRESULT ProfileManager::SetSystemProfileVersion(std::uint32_t version) {
    if (version != kProfileVersion9) {
        return E_INVALIDARG; // the only profile version this runtime knows
    }
    m_version = version;
    return S_OK;
}

HRESULT ProfileManager::GetSystemProfileVersion(std::uint32_t* version) const {
    if (version == nullptr) {
        return E_POINTER;
    }
    *version = m_version;
    return S_OK;
}

HRESULT ProfileManager::CreateEmptyProfile(std::uint32_t version,
                                           std::unique_ptr<Profile>* profile) const {
    if (profile == nullptr) {
        return E_POINTER;
    }
    if (version != kProfileVersion9) {
        return E_INVALIDARG;
    }
    profile->reset(new (std::nothrow) Profile(version));
    return *profile ? S_OK : E_OUTOFMEMORY;
}

HRESULT ProfileManager::GetCodecInfoCount(MajorType type, std::uint32_t* count) const {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = type == MajorType::Audio ? AudioCodecCount() : 0;
    return S_OK;
}

HRESULT ProfileManager::GetCodecName(MajorType type, std::uint32_t codec, std::string* name) const {
    if (name == nullptr) {
        return E_POINTER;
    }
    if (type != MajorType::Audio || codec >= AudioCodecCount()) {
        return E_INVALIDARG;
    }
    *name = AudioCodecName(codec);
    return S_OK;
}

HRESULT ProfileManager::SetCodecEnumerationSetting(MajorType type, std::uint32_t codec,
                                                   const std::string& name, std::uint32_t value) {
    if (type != MajorType::Audio || codec >= AudioCodecCount()) {
        return E_INVALIDARG;
    }
    const HRESULT hr = CheckEnumerationSetting(codec, name, value);
    if (Failed(hr)) {
        return hr;
    }
    CodecEnumeration& settings = m_enumeration[codec];
    if (name == kVbrEnabled) {
        settings.vbr = value != 0;
    } else {
        settings.passes = value;
    }
    return S_OK;
}

const CodecEnumeration* ProfileManager::Enumeration(std::uint32_t codec) const {
    static const CodecEnumeration defaults;
    const auto found = m_enumeration.find(codec);
    return found != m_enumeration.end() ? &found->second : &defaults;
}

HRESULT ProfileManager::GetCodecFormatCount(MajorType type, std::uint32_t codec,
                                            std::uint32_t* count) const {
    if (count == nullptr) {
        return E_POINTER;
    }
    if (type != MajorType::Audio || codec >= AudioCodecCount()) {
        return E_INVALIDARG;
    }
    *count = static_cast<std::uint32_t>(AudioCodecFormats(codec, *Enumeration(codec)).size());
    return S_OK;
}

HRESULT ProfileManager::GetCodecFormat(MajorType type, std::uint32_t codec, std::uint32_t format,
                                       std::unique_ptr<StreamConfig>* config) const {
    if (config == nullptr) {
        return E_POINTER;
    }
    if (type != MajorType::Audio || codec >= AudioCodecCount()) {
        return E_INVALIDARG;
    }
    const auto& formats = AudioCodecFormats(codec, *Enumeration(codec));
    if (format >= formats.size()) {
        return E_INVALIDARG;
    }
    const WaveFormatEx& wave = formats[format];
    MediaType media;
    media.majorType = MajorType::Audio;
    media.subtype = wave.formatTag;
    media.fixedSizeSamples = true;
    media.temporalCompression = false;
    media.sampleSize = wave.blockAlign;
    media.formatType = FormatType::WaveFormatEx;
    media.format = wave;
    config->reset(new (std::nothrow) StreamConfig(MajorType::Audio));
    if (!*config) {
        return E_OUTOFMEMORY;
    }
    (*config)->SetMediaType(media);
    (*config)->SetBitrate(static_cast<std::uint32_t>(EncodeBitrate(wave)));
    return S_OK;
}

HRESULT WMCreateProfileManager(std::unique_ptr<ProfileManager>* manager) {
    if (manager == nullptr) {
        return E_POINTER;
    }
    manager->reset(new (std::nothrow) ProfileManager);
    return *manager ? S_OK : E_OUTOFMEMORY;
}

} // namespace qm::wm
