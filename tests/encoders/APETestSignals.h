// Signals and checks shared by the APE tests: the extremes that break an
// encoder whose integer details are off, and the oracle check that ffmpeg's
// decoder gives back exactly what was encoded, frame CRCs included.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Oracles.h"
#include "support/Pcm.h"
#include "support/Process.h"

namespace apetest {

using qmtest::Bytes;
using qmtest::PcmFormat;

inline PcmFormat Format(int channels) {
    return PcmFormat{44100, static_cast<std::uint8_t>(channels), 16};
}

inline Bytes Silence(int channels, std::size_t frames) {
    return Bytes(frames * 2 * static_cast<std::size_t>(channels), 0);
}

// Full scale, +32767 for half a period and -32768 for the other; in stereo
// the second channel is the first's complement (-c0 - 1), which makes the
// side signal as large as it gets. Period 2 alternates every sample.
inline Bytes Square(int channels, std::size_t frames, std::size_t period) {
    std::vector<std::int16_t> samples;
    samples.reserve(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const std::int16_t first = (i % period) < period / 2 ? 32767 : -32768;
        samples.push_back(first);
        if (channels == 2) {
            samples.push_back(static_cast<std::int16_t>(-first - 1));
        }
    }
    return qmtest::FromSamples16(samples);
}

// Stereo `pcm` with channel `silent` (0 or 1) set to zero.
inline Bytes WithSilentChannel(Bytes pcm, int silent) {
    for (std::size_t i = static_cast<std::size_t>(2 * silent); i + 1 < pcm.size(); i += 4) {
        pcm[i] = 0;
        pcm[i + 1] = 0;
    }
    return pcm;
}

// Stereo `pcm` with channel 1 a copy of channel 0.
inline Bytes Identical(Bytes pcm) {
    for (std::size_t i = 0; i + 3 < pcm.size(); i += 4) {
        pcm[i + 2] = pcm[i];
        pcm[i + 3] = pcm[i + 1];
    }
    return pcm;
}

// ffmpeg's APE decoder, frame CRCs checked and decoder errors fatal, run
// once over all `files` (one process is much cheaper than one per file):
// the PCM of each (empty when nothing came out), and ffmpeg's messages in
// `messages` when given.
inline std::vector<Bytes> DecodeAll(const std::vector<std::filesystem::path>& files,
                                    std::string* messages = nullptr) {
    std::string command = "ffmpeg -nostdin -v error -y";
    for (const auto& file : files) {
        command += " -err_detect crccheck+explode -i " + qmtest::ShellQuote(file.string());
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        command += " -map " + std::to_string(i) + ":a:0 -f s16le -acodec pcm_s16le " +
                   qmtest::ShellQuote(files[i].string() + ".raw");
    }
    const qmtest::CommandResult result = qmtest::Run(command, true);
    if (messages != nullptr) {
        *messages = result.out;
    }
    std::vector<Bytes> decoded;
    for (const auto& file : files) {
        const std::filesystem::path raw = file.string() + ".raw";
        decoded.push_back(std::filesystem::exists(raw) ? qmtest::ReadFile(raw) : Bytes{});
        std::filesystem::remove(raw);
    }
    return decoded;
}

inline ::testing::AssertionResult SamePcm(const Bytes& decoded, const Bytes& pcm) {
    if (decoded.size() != pcm.size()) {
        return ::testing::AssertionFailure()
               << "decoded " << decoded.size() << " bytes, expected " << pcm.size();
    }
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        if (decoded[i] != pcm[i]) {
            return ::testing::AssertionFailure() << "first difference at byte " << i;
        }
    }
    return ::testing::AssertionSuccess();
}

// ffmpeg gives back exactly `pcm` from `file`.
inline ::testing::AssertionResult DecodesExactly(const std::filesystem::path& file,
                                                 const Bytes& pcm) {
    std::string messages;
    ::testing::AssertionResult result = SamePcm(DecodeAll({file}, &messages).front(), pcm);
    if (!result) {
        return result << "; ffmpeg said: " << messages;
    }
    return result;
}

} // namespace apetest
