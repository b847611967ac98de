#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

#include "APETestSignals.h"
#include "core/Error.h"
#include "core/Progress.h"
#include "encoders/APEEncoder.h"
#include "support/Oracles.h"
#include "support/PcmSource.h"
#include "support/TempDir.h"

namespace {

using apetest::Bytes;
using apetest::PcmFormat;

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint16_t U16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// The newest item the APE stage (module 11) filed, or null.
const CErrorItem* ApeItem(const CError& registry) {
    for (const CErrorItem* item = registry.GetLast(); item != nullptr; item = item->next) {
        if (item->module == qm::mod::kAPEEncoder) {
            return item;
        }
    }
    return nullptr;
}

// Runs `pcm` through a source into a fresh APE sink opened at `path`.
bool Grab(const std::filesystem::path& path, const Bytes& pcm, PcmFormat format, std::uint8_t level,
          std::int32_t blockFrames = 15288, CError* registry = nullptr) {
    qmtest::PcmSource source(pcm, format, blockFrames);
    CAPEEncoder encoder;
    auto finish = qm::Event::Create();
    encoder.SetFinishEvent(finish);
    if (registry != nullptr) {
        source.SetError(registry);
        encoder.SetError(registry);
    }
    if (encoder.OutputSettings(path.c_str(), {format.rate, format.channels, level, 16}) != 1) {
        return false;
    }
    source.Open(nullptr, &encoder);
    const bool ok = source.Start() == 1 && (registry == nullptr || !registry->IsAnyActual());
    EXPECT_TRUE(finish->IsSet());
    return ok;
}

struct Signal {
    const char* name;
    int channels;
    Bytes (*make)(int channels);
};

constexpr std::size_t kShort = 11025; // a quarter of a second

const Signal kSignals[] = {
    {"Silence", 0, [](int c) { return apetest::Silence(c, kShort); }},
    {"Square", 0, [](int c) { return apetest::Square(c, kShort, 441); }},
    {"Alternating", 0, [](int c) { return apetest::Square(c, kShort, 2); }},
    {"Noise", 0, [](int c) { return qmtest::Noise(apetest::Format(c), 0.25, 1.0, 7); }},
    {"Music", 0, [](int c) { return qmtest::MusicLike(apetest::Format(c), 0.25, 3); }},
    {"OneSample", 0, [](int c) { return qmtest::Noise(apetest::Format(c), 1.0 / 44100, 1.0); }},
    {"SevenSamples", 0,
     [](int c) { return qmtest::Noise(apetest::Format(c), 7.0 / 44100, 1.0, 5); }},
    {"FirstSilent", 2,
     [](int c) {
         return apetest::WithSilentChannel(qmtest::MusicLike(apetest::Format(c), 0.25, 4), 0);
     }},
    {"SecondSilent", 2,
     [](int c) {
         return apetest::WithSilentChannel(qmtest::MusicLike(apetest::Format(c), 0.25, 5), 1);
     }},
    {"Identical", 2,
     [](int c) { return apetest::Identical(qmtest::MusicLike(apetest::Format(c), 0.25, 6)); }},
};

struct Case {
    std::uint8_t level;
    int channels;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.channels << " channel(s), level setting " << static_cast<int>(c.level);
}

class APEEncoderRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(APEEncoderRoundTrip, FfmpegDecodesEverySignalExactly) {
    const Case c = GetParam();
    qmtest::TempDir dir;
    std::vector<std::filesystem::path> files;
    std::vector<Bytes> sent;
    std::vector<std::string> names;
    for (const Signal& signal : kSignals) {
        if (signal.channels != 0 && signal.channels != c.channels) {
            continue;
        }
        files.push_back(dir / (std::string(signal.name) + ".ape"));
        sent.push_back(signal.make(c.channels));
        names.push_back(signal.name);
        ASSERT_TRUE(Grab(files.back(), sent.back(), apetest::Format(c.channels), c.level))
            << signal.name;
    }
    std::string messages;
    const std::vector<Bytes> decoded = apetest::DecodeAll(files, &messages);
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_TRUE(apetest::SamePcm(decoded[i], sent[i])) << names[i] << "; ffmpeg: " << messages;
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, APEEncoderRoundTrip,
                         ::testing::Values(Case{0, 1}, Case{0, 2}, Case{1, 1}, Case{1, 2},
                                           Case{2, 1}, Case{2, 2}, Case{3, 1}, Case{3, 2},
                                           Case{4, 1}, Case{4, 2}),
                         [](const ::testing::TestParamInfo<Case>& p) {
                             return std::string(p.param.channels == 1 ? "Mono" : "Stereo") +
                                    "Level" + std::to_string(p.param.level);
                         });

TEST(APEEncoder, BlockSizesDoNotChangeTheFile) {
    // Two frames at "Normal"; 15,288-frame blocks straddle the frame
    // boundary and are handed over in two pieces.
    qmtest::TempDir dir;
    const Bytes pcm = qmtest::MusicLike(apetest::Format(2), 2.0, 21);
    ASSERT_TRUE(Grab(dir / "15288.ape", pcm, apetest::Format(2), 1, 15288));
    ASSERT_TRUE(Grab(dir / "588.ape", pcm, apetest::Format(2), 1, 588));
    ASSERT_TRUE(Grab(dir / "1.ape", pcm, apetest::Format(2), 1, 1));
    const Bytes reference = qmtest::ReadFile(dir / "15288.ape");
    EXPECT_EQ(U32(reference, 64), 2u); // total frames
    EXPECT_TRUE(qmtest::ReadFile(dir / "588.ape") == reference);
    EXPECT_TRUE(qmtest::ReadFile(dir / "1.ape") == reference);
    EXPECT_TRUE(apetest::DecodesExactly(dir / "15288.ape", pcm));
}

// Ten minutes of a cheap synthetic stereo signal: triangle tones that change
// pitch every half second, plus a little noise.
Bytes TenMinutes() {
    const std::size_t frames = 10 * 60 * 44100;
    std::vector<std::int16_t> samples(2 * frames);
    std::uint32_t state = 1;
    std::int32_t periodL = 100;
    std::int32_t periodR = 150;
    for (std::size_t i = 0; i < frames; ++i) {
        if (i % 22050 == 0) {
            state = state * 1664525u + 1013904223u;
            periodL = 40 + static_cast<std::int32_t>(state >> 24);
            periodR = 60 + static_cast<std::int32_t>((state >> 16) & 0xFF);
        }
        state = state * 1664525u + 1013904223u;
        const auto noise = static_cast<std::int32_t>(state >> 26) - 32;
        const auto phaseL = static_cast<std::int32_t>(i % static_cast<std::size_t>(periodL));
        const auto phaseR = static_cast<std::int32_t>(i % static_cast<std::size_t>(periodR));
        const std::int32_t left = (std::abs(2 * phaseL - periodL) * 20000) / periodL - 10000;
        const std::int32_t right = (std::abs(2 * phaseR - periodR) * 16000) / periodR - 8000;
        samples[2 * i] = static_cast<std::int16_t>(left + noise);
        samples[2 * i + 1] = static_cast<std::int16_t>((left + right) / 2 + noise);
    }
    return qmtest::FromSamples16(samples);
}

TEST(APEEncoder, TenMinuteTrack) {
    // Longer than the 99,999,999 bytes the compressor is told to expect:
    // the seek table grows beyond its estimate of 340 frames. Takes a minute
    // without optimisation (and under the sanitizers), so it runs only in
    // optimised trees; bench/ape checks ten minutes at every level.
#if !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "ten minutes of audio: run in an optimised build or bench/ape";
#endif
    qmtest::TempDir dir;
    const auto path = dir / "long.ape";
    const Bytes pcm = TenMinutes();
    ASSERT_TRUE(Grab(path, pcm, apetest::Format(2), 0));
    EXPECT_TRUE(apetest::DecodesExactly(path, pcm));
    const Bytes head = [&path] {
        Bytes all = qmtest::ReadFile(path);
        all.resize(80);
        return all;
    }();
    EXPECT_EQ(U32(head, 64), 359u); // frames
    EXPECT_EQ(U32(head, 16), 359u * 4);
    EXPECT_EQ(U32(head, 60), 26460000u - 358u * 73728u);
}

TEST(APEEncoder, LevelSettingsMapToCompressorLevels) {
    EXPECT_EQ(CAPEEncoder::LevelValue(0), 1000);
    EXPECT_EQ(CAPEEncoder::LevelValue(1), 2000);
    EXPECT_EQ(CAPEEncoder::LevelValue(2), 3000);
    EXPECT_EQ(CAPEEncoder::LevelValue(3), 4000);
    EXPECT_EQ(CAPEEncoder::LevelValue(4), 5000);
    EXPECT_EQ(CAPEEncoder::LevelValue(5), 4000);
    EXPECT_EQ(CAPEEncoder::LevelValue(255), 4000);

    // What reaches the file: the level field and the frame length.
    qmtest::TempDir dir;
    const Bytes pcm = qmtest::Noise(apetest::Format(2), 0.05, 0.2);
    for (const auto& [setting, value, blocks] :
         {std::tuple{3, 4000, 294912}, std::tuple{9, 4000, 294912}, std::tuple{4, 5000, 1179648},
          std::tuple{0, 1000, 73728}}) {
        const auto path = dir / ("level" + std::to_string(setting) + ".ape");
        ASSERT_TRUE(Grab(path, pcm, apetest::Format(2), static_cast<std::uint8_t>(setting)));
        const Bytes file = qmtest::ReadFile(path);
        EXPECT_EQ(U16(file, 52), value) << "setting " << setting;
        EXPECT_EQ(U32(file, 56), static_cast<std::uint32_t>(blocks)) << "setting " << setting;
    }
}

TEST(APEEncoder, OneChannelIsMonoEverythingElseStereo) {
    qmtest::TempDir dir;
    std::vector<std::filesystem::path> files;
    std::vector<Bytes> sent;
    for (const auto& [channels, stored] :
         {std::pair{1, 1}, std::pair{2, 2}, std::pair{0, 2}, std::pair{3, 2}}) {
        files.push_back(dir / ("c" + std::to_string(channels) + ".ape"));
        CAPEEncoder encoder;
        ASSERT_EQ(encoder.OutputSettings(files.back().c_str(),
                                         {44100, static_cast<std::uint8_t>(channels), 1, 16}),
                  1);
        ASSERT_EQ(encoder.SetInputProps(44100, static_cast<std::uint8_t>(stored), 16), 0);
        sent.push_back(qmtest::MusicLike(apetest::Format(stored), 0.1, 2));
        ASSERT_EQ(encoder.Write(sent.back().data(),
                                static_cast<std::int32_t>(sent.back().size() / 2 / stored)),
                  WriteResult::Accepted);
        encoder.Close(true);
        const Bytes file = qmtest::ReadFile(files.back());
        EXPECT_EQ(U16(file, 70), stored) << "channel setting " << channels;
    }
    const std::vector<Bytes> decoded = apetest::DecodeAll(files);
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_TRUE(apetest::SamePcm(decoded[i], sent[i])) << files[i].filename();
    }
}

TEST(APEEncoder, OtherRatesAreStoredAsGiven) {
    qmtest::TempDir dir;
    const auto path = dir / "x.ape";
    const PcmFormat format{22050, 1, 16};
    const Bytes pcm = qmtest::MusicLike(format, 0.2, 8);
    qmtest::PcmSource source(pcm, format);
    CAPEEncoder encoder;
    ASSERT_EQ(encoder.OutputSettings(path.c_str(), {22050, 1, 0, 16}), 1);
    source.Open(nullptr, &encoder);
    ASSERT_EQ(source.Start(), 1);
    const auto info = qmtest::Probe(path);
    EXPECT_EQ(info.codec, "ape");
    EXPECT_EQ(info.sampleRate, 22050);
    EXPECT_EQ(info.channels, 1);
    EXPECT_TRUE(apetest::DecodesExactly(path, pcm));
}

TEST(APEEncoder, OpenUsesTheKeptSettings) {
    qmtest::TempDir dir;
    CAPEEncoder encoder;
    ASSERT_EQ(encoder.OutputSettings((dir / "a.ape").c_str(), {48000, 1, 0, 16}), 1);
    encoder.Close(false);
    EXPECT_FALSE(std::filesystem::exists(dir / "a.ape"));
    ASSERT_EQ(encoder.Open((dir / "b.ape").c_str()), 1);
    ASSERT_EQ(encoder.SetInputProps(48000, 1, 16), 0);
    const Bytes pcm = qmtest::Noise({48000, 1, 16}, 0.05, 0.5);
    ASSERT_EQ(encoder.Write(pcm.data(), static_cast<std::int32_t>(pcm.size() / 2)),
              WriteResult::Accepted);
    encoder.Close(true);
    const Bytes file = qmtest::ReadFile(dir / "b.ape");
    EXPECT_EQ(U16(file, 52), 1000);
    EXPECT_EQ(U16(file, 70), 1);
    EXPECT_EQ(U32(file, 72), 48000u);
}

TEST(APEEncoder, AbortedCloseLeavesNoFile) {
    qmtest::TempDir dir;
    const auto path = dir / "partial.ape";
    CAPEEncoder encoder;
    auto finish = qm::Event::Create();
    encoder.SetFinishEvent(finish);
    ASSERT_EQ(encoder.OutputSettings(path.c_str(), {44100, 2, 2, 16}), 1);
    ASSERT_EQ(encoder.SetInputProps(44100, 2, 16), 0);
    // More than a frame, so that something has reached the file.
    const Bytes pcm = qmtest::Noise(apetest::Format(2), 2.0, 0.5);
    ASSERT_EQ(encoder.Write(pcm.data(), static_cast<std::int32_t>(pcm.size() / 4)),
              WriteResult::Accepted);
    EXPECT_TRUE(std::filesystem::exists(path));
    encoder.Close(false);
    EXPECT_TRUE(finish->IsSet());
    EXPECT_FALSE(std::filesystem::exists(path));

    // The stage is ready for the next file.
    finish->Reset();
    ASSERT_TRUE(Grab(path, pcm, apetest::Format(2), 2));
    EXPECT_TRUE(apetest::DecodesExactly(path, pcm));
}

TEST(APEEncoder, EmptyStreamFailsWithoutLeavingAFile) {
    // No APE file can hold zero samples; rather than a file decoders
    // refuse, the track fails with "Failed to write file" and leaves none.
    qmtest::TempDir dir;
    const auto path = dir / "empty.ape";
    CError registry;
    EXPECT_FALSE(Grab(path, {}, apetest::Format(2), 1, 15288, &registry));
    EXPECT_FALSE(std::filesystem::exists(path));
    const CErrorItem* item = ApeItem(registry);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->code, qm::err::kWriteFailed);
    EXPECT_EQ(registry.FullMessage(item), "Failed to write file (error in 'APE encoder' module)");
}

TEST(APEEncoder, OpenFailureIsError1AndDeletesNothingElse) {
    qmtest::TempDir dir;
    const auto good = dir / "good.ape";
    const Bytes pcm = qmtest::Noise(apetest::Format(2), 0.1, 0.5);
    CAPEEncoder encoder;
    CError registry;
    encoder.SetError(&registry);
    auto finish = qm::Event::Create();
    encoder.SetFinishEvent(finish);
    ASSERT_EQ(encoder.OutputSettings(good.c_str(), {44100, 2, 1, 16}), 1);
    ASSERT_EQ(encoder.SetInputProps(44100, 2, 16), 0);
    ASSERT_EQ(encoder.Write(pcm.data(), static_cast<std::int32_t>(pcm.size() / 4)),
              WriteResult::Accepted);
    encoder.Close(true);
    ASSERT_TRUE(std::filesystem::exists(good));
    EXPECT_FALSE(registry.IsAnyActual());

    // The next track cannot be opened; the job then closes with FALSE,
    // which must not touch the finished file of the track before.
    const auto bad = dir / "missing" / "next.ape";
    EXPECT_EQ(encoder.OutputSettings(bad.c_str(), {44100, 2, 1, 16}), 0);
    const CErrorItem* item = ApeItem(registry);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->code, qm::err::kOpenFile);
    EXPECT_EQ(std::string(item->text), bad.string());
    EXPECT_EQ(encoder.Write(pcm.data(), 10), WriteResult::Refused);
    EXPECT_EQ(ApeItem(registry)->code, qm::err::kWriteFailed);
    finish->Reset();
    encoder.Close(false);
    EXPECT_TRUE(finish->IsSet());
    EXPECT_TRUE(std::filesystem::exists(good));
    EXPECT_TRUE(apetest::DecodesExactly(good, pcm));
}

TEST(APEEncoder, ReopeningDropsTheUnfinishedFile) {
    qmtest::TempDir dir;
    CAPEEncoder encoder;
    ASSERT_EQ(encoder.OutputSettings((dir / "first.ape").c_str(), {44100, 2, 0, 16}), 1);
    ASSERT_EQ(encoder.Open((dir / "second.ape").c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "first.ape"));
    const Bytes pcm = qmtest::Noise(apetest::Format(2), 0.05, 0.5);
    ASSERT_EQ(encoder.SetInputProps(44100, 2, 16), 0);
    ASSERT_EQ(encoder.Write(pcm.data(), static_cast<std::int32_t>(pcm.size() / 4)),
              WriteResult::Accepted);
    encoder.Close(true);
    EXPECT_TRUE(apetest::DecodesExactly(dir / "second.ape", pcm));
}

TEST(APEEncoder, InputInAnotherFormatIsRefused) {
    // The compressor would store such bytes as noise or at the wrong speed.
    qmtest::TempDir dir;
    CError registry;
    CAPEEncoder encoder;
    encoder.SetError(&registry);
    ASSERT_EQ(encoder.OutputSettings((dir / "x.ape").c_str(), {44100, 1, 1, 16}), 1);
    EXPECT_EQ(encoder.SetInputProps(44100, 2, 16), -1);
    const CErrorItem* item = ApeItem(registry);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->code, qm::err::kUnsupportedInput);
    EXPECT_EQ(encoder.SetInputProps(48000, 1, 16), -1);
    EXPECT_EQ(encoder.SetInputProps(44100, 1, 8), -1);
    EXPECT_EQ(encoder.SetInputProps(44100, 1, 16), 0);
    encoder.Close(false);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.ape"));
}

TEST(APEEncoder, ProgressRegistersOnlyWhenAsked) {
    CProgress progress;
    CAPEEncoder encoder;
    EXPECT_EQ(encoder.GetProgressWeight(), 2000);
    EXPECT_EQ(encoder.GetReadyEvent(), nullptr);
    encoder.InitProgress(&progress, false);
    EXPECT_EQ(progress.GetCount(), 0);
    encoder.InitProgress(&progress, true);
    ASSERT_EQ(progress.GetCount(), 1);
    progress.NextProcess();
    std::string description;
    progress.GetCurrentDescription(&description);
    EXPECT_EQ(description, "Encoding APE");
    encoder.InitProgress(nullptr, true);
}

TEST(APEEncoder, CloseWithoutAFileSignalsOnly) {
    qmtest::TempDir dir;
    CError registry;
    CAPEEncoder encoder;
    encoder.SetError(&registry);
    auto finish = qm::Event::Create();
    encoder.SetFinishEvent(finish);
    encoder.Close(true);
    EXPECT_TRUE(finish->IsSet());
    EXPECT_FALSE(registry.IsAnyActual());
}

// Runs `body` in a child process whose files may not grow past `limit`
// bytes; true when the child reports success.
template <typename Body> bool WithFileSizeLimit(rlim_t limit, Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST(APEEncoder, FailedWriteIsError34AndLeavesNoFile) {
    // Full-scale noise hardly compresses: the file outgrows the limit while
    // the blocks are written.
    qmtest::TempDir dir;
    const auto path = dir / "big.ape";
    EXPECT_TRUE(WithFileSizeLimit(200 * 1024, [&path] {
        CError registry;
        const Bytes pcm = qmtest::Noise(apetest::Format(2), 8.0, 1.0, 3);
        const bool ok = Grab(path, pcm, apetest::Format(2), 0, 15288, &registry);
        const CErrorItem* item = ApeItem(registry);
        return !ok && item != nullptr && item->code == qm::err::kWriteFailed;
    })) << "no error 34 in module 11, or the write succeeded";
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(APEEncoder, FailedFinishIsError34AndLeavesNoFile) {
    // Small enough to stay in the write buffer until Close finishes the file.
    qmtest::TempDir dir;
    const auto path = dir / "late.ape";
    EXPECT_TRUE(WithFileSizeLimit(20 * 1024, [&path] {
        CError registry;
        const Bytes pcm = qmtest::Noise(apetest::Format(2), 0.5, 1.0, 4);
        CAPEEncoder encoder;
        encoder.SetError(&registry);
        if (encoder.OutputSettings(path.c_str(), {44100, 2, 0, 16}) != 1 ||
            encoder.SetInputProps(44100, 2, 16) != 0 ||
            encoder.Write(pcm.data(), static_cast<std::int32_t>(pcm.size() / 4)) ==
                WriteResult::Refused) {
            return false;
        }
        encoder.Close(true);
        const CErrorItem* item = ApeItem(registry);
        return item != nullptr && item->code == qm::err::kWriteFailed;
    })) << "the failed finish was not reported";
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
