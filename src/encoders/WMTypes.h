// The types the WMA sink and its FFmpeg-based writer share: failure codes,
// the wave format block and the media type that carries it. Profiles and
// the codec enumeration live in WMProfile.*, the writer in WMWriter.*.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace qm::wm {

// Failure codes keep the 32-bit values users have always been shown:
// they are stored in the error registry and printed in hexadecimal.
using Status = std::int32_t;

constexpr Status MakeStatus(std::uint32_t value) {
    return static_cast<Status>(value);
}

inline constexpr Status kOk = 0;
inline constexpr Status kFail = MakeStatus(0x80004005);
inline constexpr Status kInvalidArgument = MakeStatus(0x80070057);
inline constexpr Status kOutOfMemory = MakeStatus(0x8007000E);
// The output file cannot be created.
inline constexpr Status kFileOpenFailed = MakeStatus(0xC00D001D);
// A call out of order (writing before BeginWriting, a pass not begun ...).
inline constexpr Status kInvalidRequest = MakeStatus(0xC00D002B);
// No codec format matches the wanted stream.
inline constexpr Status kNoMatchingFormat = MakeStatus(0xC00D0BC2);
// A codec does not know an enumeration setting, or not that value.
inline constexpr Status kSettingNotSupported = MakeStatus(0xC00D0BCD);
// The input's media type cannot be written by this profile.
inline constexpr Status kInvalidInputFormat = MakeStatus(0xC00D0BB8);

constexpr bool Failed(Status status) {
    return status < 0;
}
constexpr bool Succeeded(Status status) {
    return status >= 0;
}

// A value, or the code of the failure that kept it from being made.
template <typename T> class Result {
public:
    Result(T value) : m_value(std::move(value)) {} // NOLINT: a value is a success
    static Result Failure(Status status) {
        Result result;
        result.m_status = status;
        return result;
    }

    explicit operator bool() const { return m_value.has_value(); }
    Status GetStatus() const { return m_status; }
    T& operator*() { return *m_value; }
    const T& operator*() const { return *m_value; }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }

private:
    Result() = default;

    std::optional<T> m_value;
    Status m_status = kOk;
};

inline constexpr std::uint16_t kFormatPcm = 0x0001;
inline constexpr std::uint16_t kFormatWma = 0x0161;         // standard WMA
inline constexpr std::uint16_t kFormatWmaLossless = 0x0163; // WMA Lossless

// Average bytes per second of a one-pass VBR (quality) format: this base
// plus the quality 0..100.
inline constexpr std::uint32_t kQualityBytesBase = 0x7FFFFF00;

// Codec enumeration setting names.
inline constexpr const char* kVbrEnabled = "_VBRENABLED";
inline constexpr const char* kPassesUsed = "_PASSESUSED";

// The wave format block: 18 bytes plus `extra` (extraSize bytes).
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

// A stream's media type. The audio subtype is the format tag.
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
