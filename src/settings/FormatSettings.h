// The output format of one track and the settings of every format, so that a
// track keeps them all when the user switches its format back and forth. A
// default-constructed value holds the first-run defaults.
#pragma once

#include <cstdint>

#include "settings/OutputFormat.h"

struct FormatSettings {
    OutputFormat format = OutputFormat::MP3;

    struct Flac {
        std::uint8_t channels = 2;
        std::uint32_t sampleRate = 44100;
        std::uint8_t compressionLevel = 2; // 0..8

        bool operator==(const Flac&) const = default;
    } flac;

    struct Wav {
        std::uint8_t channels = 2;
        std::uint32_t sampleRate = 44100;
        std::uint8_t bits = 16; // 8 or 16

        bool operator==(const Wav&) const = default;
    } wav;

    struct Ape {
        std::uint8_t channels = 2;
        std::uint32_t sampleRate = 44100;
        // 0 "Fast", 1 "Normal", 2 "High", 3 "Extra high", 4 "Insane"
        std::uint8_t compressionLevel = 2;

        bool operator==(const Ape&) const = default;
    } ape;

    struct Ogg {
        std::uint32_t avgBitrate = 128; // kbit/s
        std::uint8_t channels = 2;
        std::uint32_t sampleRate = 44100;
        float quality = 5.0f; // 0.0..10.0
        bool abr = false;     // average bitrate instead of quality

        bool operator==(const Ogg&) const = default;
    } ogg;

    struct Wma {
        bool lossless = false;
        std::int32_t configuration = 28; // index into WmaConfigurationTable

        bool operator==(const Wma&) const = default;
    } wma;

    struct Mp3 {
        std::int8_t vbrQuality = 6;     // 0..9
        std::uint32_t maxBitrate = 192; // kbit/s
        std::uint32_t avgBitrate = 0;   // kbit/s
        std::uint32_t minBitrate = 128; // kbit/s; the bitrate of constant-bitrate coding
        bool variable = true;
        std::uint8_t channels = 1; // channel mode of the encoder
        std::uint32_t sampleRate = 44100;

        bool operator==(const Mp3&) const = default;
    } mp3;

    bool operator==(const FormatSettings&) const = default;
};
