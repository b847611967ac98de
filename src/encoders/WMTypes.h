// The few types of the Windows Media writing interfaces that the WMA sink
// talks in: result codes, the wave format block and the media type that
// carries it. The stand-in for that runtime (profile manager, writer) lives
// in WMProfile.* and WMWriter.* and runs on FFmpeg.
#pragma once

#include <cstdint>
#include <vector>

namespace qm::wm {

// Runtime results keep their 32-bit values: they are stored in the error
// registry and shown to users in hexadecimal.
using HRESULT = std::int32_t;

constexpr HRESULT MakeResult(std::uint32_t value) {
    return static_cast<HRESULT>(value);
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = MakeResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFF);
inline constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057);
inline constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000E);
inline constexpr HRESULT E_POINTER = MakeResult(0x80004003);
// The output file cannot be created.
inline constexpr HRESULT kFileOpenFailed = MakeResult(0xC00D001D);
// A call out of order (writing before BeginWriting, a pass not begun ...).
inline constexpr HRESULT kInvalidRequest = MakeResult(0xC00D002B);
// No codec format matches the wanted stream.
inline constexpr HRESULT kNoMatchingFormat = MakeResult(0xC00D0BC2);
// A codec does not know an enumeration setting, or not that value.
inline constexpr HRESULT kSettingNotSupported = MakeResult(0xC00D0BCD);
// The input's media type cannot be written by this profile.
inline constexpr HRESULT kInvalidInputFormat = MakeResult(0xC00D0BB8);

constexpr bool Failed(HRESULT hr) {
    return hr < 0;
}
constexpr bool Succeeded(HRESULT hr) {
    return hr >= 0;
}

inline constexpr std::uint16_t kFormatPcm = 0x0001;
inline constexpr std::uint16_t kFormatWma = 0x0161;         // standard WMA
inline constexpr std::uint16_t kFormatWmaLossless = 0x0163; // WMA Lossless

// Average bytes per second of a one-pass VBR (quality) format: this base
// plus the quality 0..100.
inline constexpr std::uint32_t kQualityBytesBase = 0x7FFFFF00;

// Codec enumeration and stream property names.
inline constexpr const char* kVbrEnabled = "_VBRENABLED";
inline constexpr const char* kPassesUsed = "_PASSESUSED";

// The profile version the encoder asks for (9.0).
inline constexpr std::uint32_t kProfileVersion9 = 0x00090000;

// WAVEFORMATEX: 18 bytes plus `extra` (extraSize bytes).
struct WaveFormatEx {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t extraSize = 0;
    std::vector<std::uint8_t> extra;
};

enum class MajorType { Unknown, Audio, Video };
enum class FormatType { None, WaveFormatEx };

// WM_MEDIA_TYPE. The audio subtype is the format tag (the runtime derives
// its subtype identifiers from it).
struct MediaType {
    MajorType majorType = MajorType::Unknown;
    std::uint32_t subtype = 0;
    bool fixedSizeSamples = false;
    bool temporalCompression = false;
    std::uint32_t sampleSize = 0;
    FormatType formatType = FormatType::None;
    WaveFormatEx format; // meaningful when formatType is WaveFormatEx
};

} // namespace qm::wm
