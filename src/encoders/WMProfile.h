// Profiles of the WMA runtime stand-in: the profile manager (with its codec
// enumeration), a profile and the stream configurations it holds. The calls
// and results follow the Windows Media Format runtime as far as the WMA sink
// uses it; ownership is by smart pointers instead of reference counts.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "encoders/WMCodecFormats.h"
#include "encoders/WMTypes.h"

namespace qm::wm {

// One stream of a profile, or one codec format offered by the enumeration.
class StreamConfig {
public:
    explicit StreamConfig(MajorType type) : m_type(type) {}

    HRESULT GetStreamType(MajorType* type) const;
    HRESULT SetStreamNumber(std::uint16_t number);
    HRESULT GetStreamNumber(std::uint16_t* number) const;
    HRESULT SetStreamName(const std::string& name);
    HRESULT GetStreamName(std::string* name) const;
    HRESULT SetConnectionName(const std::string& name);
    HRESULT GetConnectionName(std::string* name) const;
    HRESULT SetBitrate(std::uint32_t bitrate);
    HRESULT GetBitrate(std::uint32_t* bitrate) const;
    HRESULT SetMediaType(const MediaType& type);
    HRESULT GetMediaType(MediaType* type) const;
    // The stream's property vault (only "_VBRENABLED" is known).
    HRESULT SetProperty(const std::string& name, std::uint32_t value);
    HRESULT GetProperty(const std::string& name, std::uint32_t* value) const;

private:
    MajorType m_type;
    std::uint16_t m_number = 0;
    std::string m_name;
    std::string m_connection;
    std::uint32_t m_bitrate = 0;
    MediaType m_mediaType;
    std::map<std::string, std::uint32_t> m_properties;
};

class Profile {
public:
    explicit Profile(std::uint32_t version) : m_version(version) {}

    HRESULT SetName(const std::string& name);
    HRESULT GetName(std::string* name) const;
    HRESULT GetVersion(std::uint32_t* version) const;
    HRESULT CreateNewStream(MajorType type, std::unique_ptr<StreamConfig>* config) const;
    // Adds a copy of `config`; its stream number must be 1..63 and unused.
    HRESULT AddStream(const StreamConfig& config);
    HRESULT GetStreamCount(std::uint32_t* count) const;
    HRESULT GetStream(std::uint32_t index, const StreamConfig** config) const;

private:
    std::uint32_t m_version;
    std::string m_name;
    std::vector<StreamConfig> m_streams;
};

class ProfileManager {
public:
    HRESULT SetSystemProfileVersion(std::uint32_t version);
    HRESULT GetSystemProfileVersion(std::uint32_t* version) const;
    HRESULT CreateEmptyProfile(std::uint32_t version, std::unique_ptr<Profile>* profile) const;

    // Codec enumeration (the codec info face of the manager).
    HRESULT GetCodecInfoCount(MajorType type, std::uint32_t* count) const;
    HRESULT GetCodecName(MajorType type, std::uint32_t codec, std::string* name) const;
    // `value` is the BOOL or DWORD of the setting.
    HRESULT SetCodecEnumerationSetting(MajorType type, std::uint32_t codec, const std::string& name,
                                       std::uint32_t value);
    HRESULT GetCodecFormatCount(MajorType type, std::uint32_t codec, std::uint32_t* count) const;
    // The format as a stream configuration whose media type holds it.
    HRESULT GetCodecFormat(MajorType type, std::uint32_t codec, std::uint32_t format,
                           std::unique_ptr<StreamConfig>* config) const;

private:
    const CodecEnumeration* Enumeration(std::uint32_t codec) const;

    std::uint32_t m_version = kProfileVersion9;
    std::map<std::uint32_t, CodecEnumeration> m_enumeration;
};

HRESULT WMCreateProfileManager(std::unique_ptr<ProfileManager>* manager);

} // namespace qm::wm
