#include <gtest/gtest.h>

#include "APETestSignals.h"
#include "core/Error.h"
#include "core/Progress.h"
#include "encoders/APEEncoder.h"
#include "support/PcmSource.h"
#include "support/TempDir.h"

namespace {

using apetest::Bytes;
using apetest::PcmFormat;

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
    if (encoder.OutputSettings(path.c_str(), format.rate, format.channels, level, 16) != 1) {
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
    const Signal* signal;
};

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (std::uint8_t level = 0; level <= 4; ++level) {
        for (int channels = 1; channels <= 2; ++channels) {
            for (const Signal& signal : kSignals) {
                if (signal.channels == 0 || signal.channels == channels) {
                    cases.push_back({level, channels, &signal});
                }
            }
        }
    }
    return cases;
}

class APEEncoderRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(APEEncoderRoundTrip, FfmpegDecodesExactly) {
    const Case c = GetParam();
    qmtest::TempDir dir;
    const auto path = dir / "out.ape";
    const Bytes pcm = c.signal->make(c.channels);
    ASSERT_TRUE(Grab(path, pcm, apetest::Format(c.channels), c.level));
    EXPECT_TRUE(apetest::DecodesExactly(path, pcm));
}

INSTANTIATE_TEST_SUITE_P(Matrix, APEEncoderRoundTrip, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& p) {
                             return std::string(p.param.signal->name) +
                                    (p.param.channels == 1 ? "Mono" : "Stereo") + "Level" +
                                    std::to_string(p.param.level);
                         });

} // namespace
