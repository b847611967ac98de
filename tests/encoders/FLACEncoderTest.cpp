#include <gtest/gtest.h>

#include <algorithm>

#include "core/Error.h"
#include "core/Log.h"
#include "encoders/FLACEncoder.h"
#include "support/Chain.h"
#include "support/Oracles.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using qmtest::Bytes;
using qmtest::PcmFormat;

struct FlacSettings {
    std::int32_t level = 5;
    std::uint32_t sampleRate = 44100;
    std::uint8_t channels = 2;
};

bool EncodeFlac(const std::filesystem::path& path, const FlacSettings& s, const Bytes& pcm,
                PcmFormat format, CError* registry = nullptr) {
    CFLACEncoder encoder;
    CError own;
    CError* errors = registry != nullptr ? registry : &own;
    encoder.SetError(errors);
    if (encoder.OutputSettings(path.c_str(), {s.level, s.sampleRate, s.channels, 16}) != 1) {
        return false;
    }
    const auto result = qmtest::RunChain(encoder, pcm, format, errors);
    return result.ok && result.finished;
}

// The flac tool's decoding, as raw little-endian signed samples.
Bytes DecodeFlac(const std::filesystem::path& path) {
    const auto result = qmtest::Run("flac -d -s -c --force-raw-format --endian=little "
                                    "--sign=signed " +
                                    qmtest::ShellQuote(path.string()));
    EXPECT_EQ(result.exitCode, 0) << "flac refused " << path;
    return Bytes(result.out.begin(), result.out.end());
}

// STREAMINFO's minimum and maximum block size.
std::pair<int, int> BlockSizes(const Bytes& file) {
    if (file.size() < 12) {
        return {0, 0};
    }
    return {(file[8] << 8) | file[9], (file[10] << 8) | file[11]};
}

class FLACEncoderLevels : public ::testing::TestWithParam<int> {};

TEST_P(FLACEncoderLevels, DecodesBitIdenticallyWithTheLevelsBlockSize) {
    const int level = GetParam();
    qmtest::TempDir dir;
    const auto path = dir / "level.flac";
    const PcmFormat format{44100, 2, 16};
    const Bytes pcm = qmtest::MusicLike(format, 1.0);
    FlacSettings settings;
    settings.level = level;
    ASSERT_TRUE(EncodeFlac(path, settings, pcm, format));

    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.codec, "flac");
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.channels, 2);
    EXPECT_TRUE(DecodeFlac(path) == pcm) << "decoded PCM differs from what was sent";
    const int expected = level <= 2 ? 1152 : 4608;
    EXPECT_EQ(BlockSizes(qmtest::ReadFile(path)), std::make_pair(expected, expected));
}

INSTANTIATE_TEST_SUITE_P(Levels, FLACEncoderLevels, ::testing::Range(0, 9),
                         [](const ::testing::TestParamInfo<int>& p) {
                             return "Level" + std::to_string(p.param);
                         });

TEST(FLACEncoder, LevelsZeroAndOneAreTheSame) {
    qmtest::TempDir dir;
    const PcmFormat format{44100, 2, 16};
    const Bytes pcm = qmtest::MusicLike(format, 1.0);
    FlacSettings zero;
    zero.level = 0;
    FlacSettings one;
    one.level = 1;
    ASSERT_TRUE(EncodeFlac(dir / "0.flac", zero, pcm, format));
    ASSERT_TRUE(EncodeFlac(dir / "1.flac", one, pcm, format));
    EXPECT_TRUE(qmtest::ReadFile(dir / "0.flac") == qmtest::ReadFile(dir / "1.flac"));
}

TEST(FLACEncoder, LevelOutsideTheTableFailsAndLeavesAnExistingFileAlone) {
    qmtest::TempDir dir;
    const auto path = dir / "earlier.flac";
    qmtest::WriteFile(path, Bytes(64, 9)); // a file from an earlier grab
    for (int level : {9, -1}) {
        CFLACEncoder encoder;
        CError registry;
        encoder.SetError(&registry);
        auto finish = qm::Event::Create();
        encoder.SetFinishEvent(finish);
        EXPECT_EQ(encoder.OutputSettings(path.c_str(), {level, 44100, 2, 16}), 0);
        const CErrorItem* item = qmtest::FindItem(registry, 14);
        ASSERT_NE(item, nullptr) << "level " << level;
        EXPECT_EQ(item->code, 10);
        EXPECT_EQ(std::string(item->text), "SetCompressionLevel");
        encoder.Close(false);
        EXPECT_TRUE(finish->IsSet());
        EXPECT_EQ(qmtest::ReadFile(path).size(), 64u) << "level " << level;
    }
}

TEST(FLACEncoder, ChannelsAreMappedFromTheInput) {
    qmtest::TempDir dir;
    const auto monoIn = qmtest::MusicLike({44100, 1, 16}, 1.0);
    // Mono into stereo: each sample in both channels.
    ASSERT_TRUE(EncodeFlac(dir / "wide.flac", {}, monoIn, {44100, 1, 16}));
    const auto wide = qmtest::ToSamples16(DecodeFlac(dir / "wide.flac"));
    const auto mono = qmtest::ToSamples16(monoIn);
    ASSERT_EQ(wide.size(), 2 * mono.size());
    for (std::size_t i = 0; i < mono.size(); ++i) {
        ASSERT_EQ(wide[2 * i], mono[i]) << i;
        ASSERT_EQ(wide[2 * i + 1], mono[i]) << i;
    }
    // Stereo into mono: the left channel.
    const auto stereoIn = qmtest::MusicLike({44100, 2, 16}, 1.0);
    FlacSettings monoOut;
    monoOut.channels = 1;
    ASSERT_TRUE(EncodeFlac(dir / "left.flac", monoOut, stereoIn, {44100, 2, 16}));
    const auto left = qmtest::ToSamples16(DecodeFlac(dir / "left.flac"));
    const auto stereo = qmtest::ToSamples16(stereoIn);
    ASSERT_EQ(2 * left.size(), stereo.size());
    for (std::size_t i = 0; i < left.size(); ++i) {
        ASSERT_EQ(left[i], stereo[2 * i]) << i;
    }
}

TEST(FLACEncoder, EightBitInputKeepsItsLevel) {
    qmtest::TempDir dir;
    const auto path = dir / "eight.flac";
    const PcmFormat eight{44100, 2, 8};
    const Bytes pcm = qmtest::MusicLike(eight, 0.5);
    ASSERT_TRUE(EncodeFlac(path, {}, pcm, eight));
    const auto decoded = qmtest::ToSamples16(DecodeFlac(path));
    ASSERT_EQ(decoded.size(), pcm.size());
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        ASSERT_EQ(decoded[i], static_cast<std::int8_t>(pcm[i]) * 256) << i;
    }
}

TEST(FLACEncoder, EmptyStreamClosedCompleteIsAValidFile) {
    qmtest::TempDir dir;
    const auto path = dir / "empty.flac";
    CFLACEncoder encoder;
    CError registry;
    encoder.SetError(&registry);
    auto finish = qm::Event::Create();
    encoder.SetFinishEvent(finish);
    ASSERT_EQ(encoder.OutputSettings(path.c_str(), {5, 44100, 2, 16}), 1);
    ASSERT_EQ(encoder.SetInputProps(44100, 2, 16), 0);
    encoder.Close(true);
    EXPECT_TRUE(finish->IsSet());
    EXPECT_FALSE(registry.IsAnyActual());
    EXPECT_EQ(qmtest::Run("flac -t -s " + qmtest::ShellQuote(path.string())).exitCode, 0);
    EXPECT_TRUE(DecodeFlac(path).empty());
}

TEST(FLACEncoder, AbortedCloseDeletesTheFileAndSignals) {
    qmtest::TempDir dir;
    const auto path = dir / "aborted.flac";
    CFLACEncoder encoder;
    auto finish = qm::Event::Create();
    encoder.SetFinishEvent(finish);
    ASSERT_EQ(encoder.OutputSettings(path.c_str(), {5, 44100, 2, 16}), 1);
    const Bytes pcm = qmtest::MusicLike({}, 1.0);
    ASSERT_EQ(encoder.Write(pcm.data(), static_cast<std::int32_t>(pcm.size() / 4)),
              WriteResult::Accepted);
    ASSERT_TRUE(std::filesystem::exists(path));
    encoder.Close(false);
    EXPECT_TRUE(finish->IsSet());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(encoder.Write(pcm.data(), 10), WriteResult::Refused); // no encoder any more
}

TEST(FLACEncoder, RefusedWriteIsError34AndLeavesNoFile) {
    qmtest::TempDir dir;
    const auto path = dir / "big.flac";
    const PcmFormat format{44100, 2, 16};
    const Bytes pcm = qmtest::MusicLike(format, 5.0);
    const bool right = qmtest::RunWithFileSizeLimit(100 * 1024, [&] {
        CFLACEncoder encoder;
        CError registry;
        CLog log;
        log.Init(20, nullptr);
        encoder.SetError(&registry);
        encoder.SetLog(&log);
        if (encoder.OutputSettings(path.c_str(), {5, 44100, 2, 16}) != 1) {
            return false;
        }
        const auto result = qmtest::RunChain(encoder, pcm, format, &registry);
        const CErrorItem* item = qmtest::FindItem(registry, 15);
        const auto lines = log.GetLines();
        const bool logged = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
            return l.find("FLAC__stream_encoder_process") != std::string::npos;
        });
        return !result.ok && result.finished && item != nullptr && item->code == 34 && logged;
    });
    EXPECT_TRUE(right) << "no error 34 in module 15 (and a log line), or the write succeeded";
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(FLACEncoder, FailureWhileFinishingLeavesNoFile) {
    // Small enough to stay in the file buffer until the close: the
    // failure shows only when the stream is finished.
    qmtest::TempDir dir;
    const auto path = dir / "tail.flac";
    const PcmFormat format{44100, 2, 16};
    const Bytes pcm = qmtest::MusicLike(format, 0.3);
    const bool right = qmtest::RunWithFileSizeLimit(4 * 1024, [&] {
        CFLACEncoder encoder;
        CError registry;
        encoder.SetError(&registry);
        if (encoder.OutputSettings(path.c_str(), {5, 44100, 2, 16}) != 1 ||
            encoder.Write(pcm.data(), static_cast<std::int32_t>(pcm.size() / 4)) ==
                WriteResult::Refused) {
            return false;
        }
        encoder.Close(true);
        const CErrorItem* item = qmtest::FindItem(registry, 15);
        return item != nullptr && item->code == 34;
    });
    EXPECT_TRUE(right) << "the failed finish was not reported as error 34 in module 15";
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(FLACEncoder, ProgressRegistersEncodingFLACAndNoReadyEvent) {
    CFLACEncoder encoder;
    EXPECT_EQ(qmtest::RegisteredProcess(encoder), "Encoding FLAC");
    EXPECT_EQ(encoder.GetProgressWeight(), 2000);
    EXPECT_EQ(encoder.GetReadyEvent(), nullptr); // the source never waits for this sink
}

} // namespace
