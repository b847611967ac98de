#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "core/Error.h"
#include "core/Progress.h"
#include "pipeline/PcmConversion.h"
#include "pipeline/Resampler.h"
#include "support/PcmSource.h"
#include "support/RecordingSink.h"

namespace {

using qmtest::Bytes;
using qmtest::PcmFormat;
using qmtest::RecordingSink;

struct Converted {
    PcmFormat format;
    Bytes data;
    std::vector<bool> closes;
};

// Streams `pcm` the way the ripper does, in blocks of `block` frames, through
// a resampler asked for `out`.
Converted Convert(const Bytes& pcm, PcmFormat in, PcmFormat out, std::int32_t block,
                  std::int32_t minimumFrames = 0) {
    qmtest::PcmSource source(pcm, in, block);
    CResampler resampler;
    RecordingSink sink;
    resampler.SetOutputFormat(out.rate, out.channels, static_cast<std::uint8_t>(out.bits));
    resampler.SetMinimumFrames(minimumFrames);
    resampler.Open(nullptr, &sink);
    source.Open(nullptr, &resampler);
    source.Start();
    return {sink.format, sink.data, sink.closes};
}

Bytes Samples16(std::initializer_list<std::int16_t> values) {
    return qmtest::FromSamples16(std::vector<std::int16_t>(values));
}

TEST(Resampler, KernelRowsAreCentredAndSumToUnity) {
    const qm::KernelTable& kernel = qm::ResamplerKernel();
    for (std::size_t p = 0; p < kernel.size(); ++p) {
        int sum = 0;
        int magnitude = 0;
        for (const std::int16_t tap : kernel[p]) {
            sum += tap;
            magnitude += std::abs(tap);
        }
        EXPECT_EQ(sum, 1 << qm::kKernelShift) << "row " << p;
        // The converter sums a row's products in 32 bits.
        EXPECT_LT(magnitude, 65536) << "row " << p;
    }
    auto largest = [&kernel](std::size_t row) {
        return std::max_element(kernel[row].begin(), kernel[row].end()) - kernel[row].begin();
    };
    EXPECT_EQ(largest(0), 8);
    EXPECT_EQ(largest(159), 7);
    for (std::size_t k = 0; k < 16; ++k) {
        EXPECT_NEAR(kernel[80][k], kernel[80][15 - k], 1) << k; // halfway: symmetric
        EXPECT_NEAR(kernel[159][k], kernel[1][15 - k], 1) << k; // the last mirrors the first
        EXPECT_NEAR(kernel[160][k], kernel[0][15 - k], 1) << k;
    }
}

TEST(Resampler, StepsAndOutputLengthFollowTheRates) {
    EXPECT_EQ(qm::MakeRateStep(44100, 48000).step, 147u);
    EXPECT_EQ(qm::MakeRateStep(44100, 48000).remainder, 0u);
    EXPECT_EQ(qm::MakeRateStep(48000, 44100).step, 174u);
    EXPECT_EQ(qm::MakeRateStep(44100, 22050).step, 320u);
    EXPECT_EQ(qm::MakeRateStep(44100, 22050).remainder, 0u);

    const PcmFormat cd;
    const Bytes second = qmtest::Noise(cd, 1.0, 0.5);
    EXPECT_EQ(Convert(second, cd, {48000, 2, 16}, 15288).data.size(), 48000u * 4);
    EXPECT_EQ(Convert(second, cd, {22050, 2, 16}, 15288).data.size(), 22050u * 4);
    // 160 * 48000 / 44100 is not whole: the remainder is carried, so the
    // output is exactly as long as the input and not 0.09 % longer.
    const Bytes second48 = qmtest::Noise({48000, 2, 16}, 1.0, 0.5);
    EXPECT_EQ(Convert(second48, {48000, 2, 16}, cd, 15288).data.size(), 44100u * 4);
    const Bytes second32 = Convert(second, cd, {32000, 2, 16}, 588).data;
    EXPECT_EQ(second32.size(), 32000u * 4);
}

TEST(Resampler, HalvingEmitsOneOutputForEverySecondInput) {
    CResampler resampler;
    RecordingSink sink;
    resampler.SetOutputFormat(22050, 1, 16);
    resampler.Open(nullptr, &sink);
    ASSERT_EQ(resampler.SetInputProps(44100, 1, 16), 0);
    const Bytes sample = Samples16({1000});
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(resampler.Write(sample.data(), 1),
                  WriteResult::Accepted); // also when nothing was due
        EXPECT_EQ(sink.writes.size(), static_cast<std::size_t>(i / 2 + 1)) << i;
    }
}

TEST(Resampler, UnityGainAndSaturation) {
    // A full-scale sine keeps its level, up and down and to half the rate.
    for (const auto& [in, out] : {std::pair{44100u, 48000u}, std::pair{48000u, 44100u},
                                  std::pair{44100u, 22050u}, std::pair{44100u, 32000u}}) {
        const PcmFormat from{in, 1, 16};
        const Bytes sine = qmtest::Sine(from, 0.5, 1000.0, 1.0);
        const Converted result = Convert(sine, from, {out, 1, 16}, 15288);
        const auto fit =
            qmtest::FitSine(qmtest::Channel(result.data, result.format, 0), 1000.0, out, 64);
        EXPECT_NEAR(20 * std::log10(fit.amplitude / 32767.0), 0.0, 0.1) << in << " -> " << out;
        EXPECT_GT(fit.sinad, 70.0) << in << " -> " << out;
    }

    // A constant passes exactly: every row sums to one.
    std::vector<std::int16_t> level(4000, -12345);
    const Converted flat =
        Convert(qmtest::FromSamples16(level), {44100, 1, 16}, {48000, 1, 16}, 588);
    const auto samples = qmtest::ToSamples16(flat.data);
    for (std::size_t i = 32; i < samples.size(); ++i) {
        ASSERT_EQ(samples[i], -12345) << i;
    }

    // A full-scale square wave overshoots at its edges: the overshoot is cut
    // at the 16-bit limits instead of wrapping to the opposite sign.
    std::vector<std::int16_t> square;
    for (int i = 0; i < 44100; ++i) {
        square.push_back((i / 50) % 2 == 0 ? 32767 : -32768);
    }
    const Converted cut =
        Convert(qmtest::FromSamples16(square), {44100, 1, 16}, {48000, 1, 16}, 15288);
    const auto converted = qmtest::ToSamples16(cut.data);
    int crossings = 0;
    bool reachedTop = false;
    for (std::size_t i = 32; i < converted.size(); ++i) { // past the ringing in from silence
        crossings += (converted[i - 1] < 0) != (converted[i] < 0);
        reachedTop = reachedTop || converted[i] == 32767;
    }
    EXPECT_TRUE(reachedTop);
    EXPECT_LE(crossings, 44100 / 50 + 1); // one per edge, none from wrapping
}

TEST(Resampler, GoingDownKeepsWhatTheNewRateCannotHoldOutOfTheBand) {
    // 15 kHz cannot exist at 22050 Hz; what is left of it folds to 7050 Hz.
    const PcmFormat from{44100, 1, 16};
    const Bytes tone = qmtest::Sine(from, 0.5, 15000.0, 1.0);
    const Converted result = Convert(tone, from, {22050, 1, 16}, 15288);
    const auto alias =
        qmtest::FitSine(qmtest::Channel(result.data, result.format, 0), 7050.0, 22050, 64);
    EXPECT_LT(20 * std::log10(alias.amplitude / 32767.0), -36.0);
    // What the new rate holds comes through.
    const Bytes low = qmtest::Sine(from, 0.5, 5000.0, 1.0);
    const Converted passed = Convert(low, from, {22050, 1, 16}, 15288);
    const auto fit =
        qmtest::FitSine(qmtest::Channel(passed.data, passed.format, 0), 5000.0, 22050, 64);
    EXPECT_NEAR(20 * std::log10(fit.amplitude / 32767.0), 0.0, 0.2);

    // Going up nothing is cut: a 15 kHz tone keeps its level at 48000 Hz.
    const Converted up = Convert(tone, from, {48000, 1, 16}, 15288);
    const auto kept = qmtest::FitSine(qmtest::Channel(up.data, up.format, 0), 15000.0, 48000, 64);
    EXPECT_NEAR(20 * std::log10(kept.amplitude / 32767.0), 0.0, 0.5);
}

TEST(Resampler, OutputDoesNotDependOnBlockSize) {
    const PcmFormat cd;
    const Bytes music = qmtest::MusicLike(cd, 0.8, 3);
    const Bytes music48 = qmtest::MusicLike({48000, 2, 16}, 0.8, 5);
    struct Case {
        const Bytes* input;
        PcmFormat in;
        PcmFormat out;
    };
    const Case cases[] = {{&music, cd, {48000, 2, 16}},
                          {&music48, {48000, 2, 16}, cd},
                          {&music, cd, {22050, 2, 16}},
                          {&music, cd, {32000, 1, 8}}};
    for (const Case& c : cases) {
        const Bytes whole = Convert(*c.input, c.in, c.out, 15288).data;
        ASSERT_FALSE(whole.empty());
        for (const std::int32_t block : {1, 7, 588}) {
            EXPECT_EQ(Convert(*c.input, c.in, c.out, block).data, whole)
                << c.in.rate << " -> " << c.out.rate << " in blocks of " << block;
        }
        // Gathering small blocks first changes nothing either.
        EXPECT_EQ(Convert(*c.input, c.in, c.out, 7, 1000).data, whole);
    }
}

TEST(Resampler, EachStreamStartsAfresh) {
    const PcmFormat cd;
    const Bytes music = qmtest::MusicLike(cd, 0.3, 7);
    qmtest::PcmSource first(music, cd, 588);
    qmtest::PcmSource second(music, cd, 588);
    CResampler resampler;
    RecordingSink sinkA;
    RecordingSink sinkB;
    resampler.SetOutputFormat(48000, 2, 16);
    resampler.Open(nullptr, &sinkA);
    first.Open(nullptr, &resampler);
    first.Start();
    resampler.Open(nullptr, &sinkB);
    second.Open(nullptr, &resampler);
    second.Start();
    EXPECT_EQ(sinkA.data, sinkB.data); // no tail of the first track in the second
}

TEST(Resampler, ChannelAndWidthConversions) {
    const PcmFormat stereo{44100, 2, 16};
    // Stereo to mono sums and stops short of full scale.
    Converted mono = Convert(Samples16({20000, 20000, -20000, -20000, 100, 200, -32768, 32767}),
                             stereo, {44100, 1, 16}, 4);
    EXPECT_EQ(qmtest::ToSamples16(mono.data), (std::vector<std::int16_t>{32752, -32752, 300, -1}));

    const Bytes stereo8 = {100, 100, static_cast<std::uint8_t>(-64), static_cast<std::uint8_t>(-63),
                           60,  66};
    mono = Convert(stereo8, {44100, 2, 8}, {44100, 1, 8}, 3);
    EXPECT_EQ(mono.data, (Bytes{126, static_cast<std::uint8_t>(-126), 126}));

    // 16 to 8 bits truncates toward zero; 8 to 16 shifts left.
    Converted narrow = Convert(Samples16({-200, 255, 256, -256, -257, 32767, -32768, 0}),
                               {44100, 1, 16}, {44100, 1, 8}, 8);
    EXPECT_EQ(narrow.format.bits, 8);
    const Bytes expected8 = {0,
                             0,
                             1,
                             static_cast<std::uint8_t>(-1),
                             static_cast<std::uint8_t>(-1),
                             127,
                             static_cast<std::uint8_t>(-128),
                             0};
    EXPECT_EQ(narrow.data, expected8);
    Converted wide =
        Convert(Bytes{5, static_cast<std::uint8_t>(-128)}, {44100, 1, 8}, {44100, 2, 16}, 2);
    EXPECT_EQ(qmtest::ToSamples16(wide.data),
              (std::vector<std::int16_t>{1280, 1280, -32768, -32768})); // and copied to both
}

TEST(Resampler, EightBitInputIsWidenedForTheRateConverter) {
    const Bytes level(2000, 50); // a constant, so the converted value is known
    const Converted wide = Convert(level, {22050, 1, 8}, {44100, 1, 16}, 588);
    EXPECT_EQ(wide.format.bits, 16);
    EXPECT_EQ(qmtest::ToSamples16(wide.data).back(), 50 * 256);

    CResampler resampler;
    RecordingSink sink;
    resampler.SetOutputFormat(44100, 1, 16);
    resampler.SetConversions(true, true, false); // keep the input's width
    resampler.Open(nullptr, &sink);
    ASSERT_EQ(resampler.SetInputProps(22050, 1, 8), 0);
    EXPECT_EQ(sink.format.bits, 8);
    EXPECT_EQ(resampler.Write(level.data(), static_cast<std::int32_t>(level.size())),
              WriteResult::Accepted);
    EXPECT_EQ(sink.data.size(), 4000u);
    EXPECT_EQ(sink.data.back(), 50);
}

TEST(Resampler, InputAndOutputFormatsAreChecked) {
    CError registry;
    CResampler resampler;
    RecordingSink sink;
    resampler.Open(nullptr, &sink);
    resampler.SetError(&registry);
    EXPECT_EQ(sink.Registry(), &registry);
    resampler.SetOutputFormat(0, 0, 16);
    resampler.SetConversions(false, false, true); // as for WMA
    for (const auto& [rate, channels, bits] :
         {std::tuple{1999u, 2, 16}, std::tuple{96001u, 2, 16}, std::tuple{44100u, 3, 16},
          std::tuple{44100u, 2, 24}}) {
        EXPECT_EQ(resampler.SetInputProps(rate, static_cast<std::uint8_t>(channels), bits), -1);
        ASSERT_NE(registry.GetLast(), nullptr);
        EXPECT_EQ(registry.GetLast()->code, 32);
        EXPECT_EQ(registry.GetLast()->module, 16);
    }
    EXPECT_STREQ(registry.GetLast()->text, "44100Hz,2 channels,24 bits");
    EXPECT_EQ(sink.inputPropsCalls, 0);

    ASSERT_EQ(resampler.SetInputProps(32000, 1, 16), 0);
    EXPECT_EQ(sink.format.rate, 32000u);
    EXPECT_EQ(sink.format.channels, 1);

    // A rate the job asked for but nothing can step to.
    resampler.SetConversions(true, true, true);
    resampler.SetOutputFormat(0, 2, 16);
    EXPECT_EQ(resampler.SetInputProps(44100, 2, 16), -1);
    EXPECT_EQ(registry.GetLast()->code, 33);
    EXPECT_STREQ(registry.GetLast()->text, "0Hz,2 channels,16 bits");

    // Without a registry every input is passed on as it is.
    CResampler open;
    RecordingSink openSink;
    open.SetConversions(false, false, false);
    open.Open(nullptr, &openSink);
    ASSERT_EQ(open.SetInputProps(44100, 2, 24), 0);
    EXPECT_EQ(openSink.format.bits, 24);
    const Bytes block = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(open.Write(block.data(), 2), WriteResult::Accepted);
    EXPECT_EQ(openSink.data, block);
}

TEST(Resampler, CloseStopAndTheAccumulationBuffer) {
    CError registry;
    CResampler resampler;
    RecordingSink sink;
    resampler.Open(nullptr, &sink);
    resampler.SetError(&registry);
    resampler.SetOutputFormat(44100, 2, 16);
    resampler.SetMinimumFrames(100);
    ASSERT_EQ(resampler.SetInputProps(44100, 2, 16), 0);
    const Bytes block = qmtest::Noise({}, 60.0 / 44100, 0.5);
    EXPECT_EQ(resampler.Write(block.data(), 60), WriteResult::Accepted);
    EXPECT_TRUE(sink.writes.empty());
    EXPECT_EQ(resampler.Write(block.data(), 60), WriteResult::Accepted);
    EXPECT_EQ(sink.writes, std::vector<std::int32_t>{120});
    EXPECT_EQ(resampler.Write(block.data(), 60), WriteResult::Accepted);
    resampler.Close(true); // what waits is delivered before the sink closes
    EXPECT_EQ(sink.writes, (std::vector<std::int32_t>{120, 60}));
    EXPECT_EQ(sink.closes, std::vector<bool>{true});

    ASSERT_EQ(resampler.SetInputProps(44100, 2, 16), 0);
    EXPECT_EQ(resampler.Write(block.data(), 60), WriteResult::Accepted);
    resampler.Close(false); // an aborted stream drops it
    EXPECT_EQ(sink.writes.size(), 2u);
    EXPECT_EQ(sink.closes, (std::vector<bool>{true, false}));

    resampler.Stop(false); // not terminated: the sink stays as it is
    EXPECT_EQ(sink.closes.size(), 2u);
    resampler.Terminate();
    EXPECT_TRUE(resampler.IsTerminated());
    resampler.Stop(false);
    EXPECT_EQ(sink.closes, (std::vector<bool>{true, false, false}));

    // A block whose converted size cannot be counted is refused with error
    // 2, before anything of it is read.
    resampler.SetMinimumFrames(0);
    resampler.SetOutputFormat(96000, 2, 16);
    ASSERT_EQ(resampler.SetInputProps(44100, 2, 16), 0);
    EXPECT_EQ(resampler.Write(block.data(), 0x40000000), WriteResult::Refused);
    EXPECT_EQ(registry.GetLast()->code, 2);
    EXPECT_EQ(registry.GetLast()->module, 16);

    CResampler unconnected;
    EXPECT_EQ(unconnected.Write(block.data(), 60), WriteResult::Refused);
}

TEST(Resampler, PassesFinishEventAndProgressToTheNextSink) {
    CResampler resampler;
    RecordingSink sink;
    resampler.SetEncoder(&sink);
    auto finish = qm::Event::Create();
    resampler.SetFinishEvent(finish);
    EXPECT_EQ(sink.Finish(), finish);
    EXPECT_EQ(resampler.GetFinishEvent(), finish);
    CProgress progress;
    resampler.InitProgress(&progress, true);
    EXPECT_EQ(sink.Tracker(), &progress);
    EXPECT_EQ(progress.GetCount(), 1); // the sink's process only
    resampler.InitProgress(&progress, false);
    EXPECT_EQ(progress.GetCount(), 1);
}

} // namespace
