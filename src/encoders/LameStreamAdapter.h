// The MP3 library as the MP3 sink drives it: a module loaded at run time that
// offers six stream calls by name ("beInitStream", "beEncodeChunk",
// "beDeinitStream", "beCloseStream", "beVersion", "beWriteVBRHeader") and a
// 331-byte configuration record. Behind the calls sits libmp3lame, opened
// with dlopen; this adapter maps the record and the calls onto lame_*.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm::lame {

// Result codes of the stream calls.
constexpr std::uint32_t kOk = 0;
constexpr std::uint32_t kInvalidFormat = 1;
constexpr std::uint32_t kInvalidFormatParameters = 2;
constexpr std::uint32_t kNoMoreHandles = 3;
constexpr std::uint32_t kInvalidHandle = 4;
constexpr std::uint32_t kBufferTooSmall = 5;

// Record identification.
constexpr std::uint32_t kConfigFormat = 256;
constexpr std::uint32_t kConfigVersion = 1;
constexpr std::uint32_t kConfigSize = 331;

// Channel modes of the record.
constexpr std::int32_t kModeStereo = 0;
constexpr std::int32_t kModeJointStereo = 1;
constexpr std::int32_t kModeDualChannel = 2;
constexpr std::int32_t kModeMono = 3;

// VBR methods of the record.
constexpr std::int32_t kVbrMethodNone = -1;
constexpr std::int32_t kVbrMethodDefault = 0;
constexpr std::int32_t kVbrMethodOld = 1;
constexpr std::int32_t kVbrMethodNew = 2;
constexpr std::int32_t kVbrMethodMtrh = 3;
constexpr std::int32_t kVbrMethodAbr = 4;

constexpr std::int32_t kNoPreset = -1;

#pragma pack(push, 1)
// All fields little-endian; every byte not set is 0.
struct StreamConfig {
    std::uint32_t format;        // kConfigFormat
    std::uint32_t version;       // kConfigVersion
    std::uint32_t size;          // kConfigSize
    std::uint32_t sampleRate;    // of the PCM given to the stream
    std::uint32_t resampleRate;  // of the MP3 written; 0 = the input rate
    std::int32_t mode;           // kMode...
    std::uint32_t bitrate;       // kbit/s; the minimum in VBR
    std::uint32_t maxBitrate;    // kbit/s; VBR only
    std::int32_t preset;         // kNoPreset
    std::uint32_t mpegVersion;   // not used by the encoder
    std::uint32_t psyModel;      // not used by the encoder
    std::uint32_t emphasis;      //
    std::int32_t privateBit;     //
    std::int32_t crc;            // error protection
    std::int32_t copyright;      //
    std::int32_t original;       //
    std::int32_t writeVbrHeader; // Xing/LAME frame at the start of the file
    std::int32_t enableVbr;      //
    std::int32_t vbrQuality;     // 0..9, VBR without ABR
    std::uint32_t vbrAbrBps;     // average bitrate in bit/s, ABR
    std::int32_t vbrMethod;      // kVbrMethod...
    std::int32_t noReservoir;    //
    std::int32_t strictIso;      //
    std::uint16_t quality;       // low byte, taken when the high byte is its complement
    std::uint8_t reserved[237];
};

struct Version {
    std::uint8_t adapterMajor;
    std::uint8_t adapterMinor;
    std::uint8_t major; // of the encoder
    std::uint8_t minor;
    std::uint8_t day;
    std::uint8_t month;
    std::uint16_t year;
    char homepage[257];
    std::uint8_t alphaLevel;
    std::uint8_t betaLevel;
    std::uint8_t mmxEnabled;
    std::uint8_t reserved[125];
};
#pragma pack(pop)

static_assert(sizeof(StreamConfig) == kConfigSize);
static_assert(offsetof(StreamConfig, sampleRate) == 12);
static_assert(offsetof(StreamConfig, resampleRate) == 16);
static_assert(offsetof(StreamConfig, mode) == 20);
static_assert(offsetof(StreamConfig, bitrate) == 24);
static_assert(offsetof(StreamConfig, maxBitrate) == 28);
static_assert(offsetof(StreamConfig, preset) == 32);
static_assert(offsetof(StreamConfig, mpegVersion) == 36);
static_assert(offsetof(StreamConfig, psyModel) == 40);
static_assert(offsetof(StreamConfig, emphasis) == 44);
static_assert(offsetof(StreamConfig, privateBit) == 48);
static_assert(offsetof(StreamConfig, crc) == 52);
static_assert(offsetof(StreamConfig, copyright) == 56);
static_assert(offsetof(StreamConfig, original) == 60);
static_assert(offsetof(StreamConfig, writeVbrHeader) == 64);
static_assert(offsetof(StreamConfig, enableVbr) == 68);
static_assert(offsetof(StreamConfig, vbrQuality) == 72);
static_assert(offsetof(StreamConfig, vbrAbrBps) == 76);
static_assert(offsetof(StreamConfig, vbrMethod) == 80);
static_assert(offsetof(StreamConfig, noReservoir) == 84);
static_assert(offsetof(StreamConfig, strictIso) == 88);
static_assert(offsetof(StreamConfig, quality) == 92);
static_assert(sizeof(Version) == 393);

struct Stream;
using StreamHandle = Stream*;

// The six calls. Sample counts are totals over all channels (interleaved
// 16-bit PCM); a chunk holds at most the samples beInitStream announced.
using BeInitStream = std::uint32_t (*)(StreamConfig* config, std::uint32_t* samples,
                                       std::uint32_t* bufferSize, StreamHandle* stream);
using BeEncodeChunk = std::uint32_t (*)(StreamHandle stream, std::uint32_t samples,
                                        std::int16_t* pcm, std::uint8_t* output,
                                        std::uint32_t* outputBytes);
using BeDeinitStream = std::uint32_t (*)(StreamHandle stream, std::uint8_t* output,
                                         std::uint32_t* outputBytes);
using BeCloseStream = std::uint32_t (*)(StreamHandle stream);
using BeVersion = void (*)(Version* version);
// Writes the VBR header of the stream closed last by this thread over the
// first frame of the finished file at `path`; kOk when that stream had none.
using BeWriteVBRHeader = std::uint32_t (*)(const char* path);

struct Module;
using Proc = void (*)();

// Opens the library file (a bare name is looked for on the library path).
// Null when it cannot be opened or lacks a needed lame_* entry.
Module* LoadModule(const std::string& file);
// One of the six calls by name; null for an unknown name. Cast to its type.
Proc GetProc(Module* module, const char* name);
// Releases the module; streams still open keep the library loaded.
void FreeModule(Module* module);

} // namespace qm::lame
