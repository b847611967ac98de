#include <gtest/gtest.h>

#include <thread>

#include "core/Error.h"
#include "core/Progress.h"
#include "pipeline/Normalizer.h"
#include "pipeline/Resampler.h"
#include "support/PcmSource.h"
#include "support/RecordingSink.h"

namespace {

using qmtest::Bytes;
using qmtest::PcmFormat;
using qmtest::RecordingSink;

struct Parameters {
    bool enabled = true;
    bool onlyIfLowerOrHigher = false;
    int targetPeak = 96;
    int maxPeak = 98;
    int minPeak = 91;
    bool useWindow = false;
    int windowSize = 1000;
};

void Configure(CNormalizer& normalizer, const Parameters& p) {
    normalizer.SetParameters(p.enabled, p.onlyIfLowerOrHigher, p.targetPeak, p.maxPeak, p.minPeak,
                             p.useWindow, p.windowSize);
}

// Streams `pcm` through a normalizer into a recording sink.
Bytes Normalize(const Bytes& pcm, const Parameters& p, PcmFormat format = {},
                std::int32_t block = 15288) {
    qmtest::PcmSource source(pcm, format, block);
    CNormalizer normalizer;
    RecordingSink sink;
    Configure(normalizer, p);
    normalizer.SetEncoder(&sink);
    source.Open(nullptr, &normalizer);
    source.Start();
    EXPECT_EQ(sink.closes, std::vector<bool>{true});
    return sink.data;
}

// Wires source -> normalizer -> sink the way the rip job does.
void Wire(qmtest::PcmSource& source, CNormalizer& normalizer, RecordingSink& sink, CError& registry,
          const qm::EventHandle& finish) {
    normalizer.SetEncoder(&sink);
    normalizer.SetFinishEvent(finish);
    normalizer.SetError(&registry);
    source.Open(nullptr, &normalizer);
    source.SetError(&registry);
}

Bytes Samples16(std::vector<std::int16_t> values) {
    return qmtest::FromSamples16(values);
}

Bytes Mono16(std::vector<std::int16_t> values, const Parameters& p) {
    return Normalize(Samples16(std::move(values)), p, {44100, 1, 16}, 3);
}

TEST(Normalizer, RescalesOnlyOutsideTheBandWhenAsked) {
    Parameters p;
    p.onlyIfLowerOrHigher = true;
    p.maxPeak = 99;
    p.minPeak = 91;
    const Bytes loud = Samples16({31000, -1000, 500, 0});
    EXPECT_EQ(Mono16({31000, -1000, 500, 0}, p), loud); // 94 % lies inside
    // 50 %: scaled by 96 * 32767 / 16384 = 191 hundredths.
    EXPECT_EQ(qmtest::ToSamples16(Mono16({16384, -1000, 3, 0}, p)),
              (std::vector<std::int16_t>{31293, -1910, 5, 0}));
}

TEST(Normalizer, ScalesByTheReducedFractionTruncatingTowardZero) {
    Parameters p;
    p.targetPeak = 98; // 98 * 32767 / 16384 = 195 hundredths = 39 / 20
    EXPECT_EQ(qmtest::ToSamples16(Mono16({16384, -16384, 3, -3, 1, -1, 0}, p)),
              (std::vector<std::int16_t>{31948, -31948, 5, -5, 1, -1, 0}));
}

TEST(Normalizer, LimitsToPlusMinus32767) {
    // Measured by the moving average over 100 samples, the quiet track with
    // one loud click has a level of (99 * 100 + 20000) / 100 = 299, so the
    // scale (10520 hundredths) pushes the click and the last sample (never
    // part of a measured window) far past full scale.
    Parameters p;
    p.useWindow = true;
    p.windowSize = 100;
    std::vector<std::int16_t> track;
    for (int i = 0; i < 400; ++i) {
        track.push_back(i % 2 == 0 ? 100 : -100);
    }
    track[150] = 20000;
    track.push_back(-32768);
    const auto out = qmtest::ToSamples16(Mono16(track, p));
    EXPECT_EQ(out[0], 10520);
    EXPECT_EQ(out[1], -10520);
    EXPECT_EQ(out[150], 32767);
    EXPECT_EQ(out.back(), -32767); // never -32768
}

TEST(Normalizer, MovingAverageCountsOnlyFullWindowsBeforeTheNextValue) {
    Parameters p;
    p.useWindow = true;
    p.windowSize = 3;
    // Windows seen: (0,0,0), (0,0,9), (0,9,9): the loudest average is 6; the
    // last window (9,9,9) is never evaluated. With a peak of 6 the scale is
    // 96 * 32767 / 6 = 524272 hundredths, so 9 hits the limit (with a peak
    // of 9 it would become 31456).
    EXPECT_EQ(qmtest::ToSamples16(Mono16({0, 0, 0, 9, -9, 9}, p)),
              (std::vector<std::int16_t>{0, 0, 0, 32767, -32767, 32767}));
    // A track shorter than the window has no average at all: unchanged.
    p.windowSize = 100;
    EXPECT_EQ(Mono16({0, 9, -9, 9}, p), Samples16({0, 9, -9, 9}));
}

TEST(Normalizer, PassesSilenceAndOtherWidthsUnchanged) {
    const Parameters p;
    EXPECT_EQ(Normalize(Bytes(4000, 0), p), Bytes(4000, 0)); // peak 0: no scale to form

    // 24 and 32 bits are passed on as they are, block by block.
    Bytes wide(24000);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        wide[i] = static_cast<std::uint8_t>(i * 37);
    }
    for (const int bits : {24, 32}) {
        const PcmFormat format{44100, 2, bits};
        qmtest::PcmSource source(wide, format, 24000 / format.FrameBytes() / 4);
        CNormalizer normalizer;
        RecordingSink sink;
        normalizer.SetEncoder(&sink);
        source.Open(nullptr, &normalizer);
        source.Start();
        EXPECT_EQ(sink.format.bits, bits);
        EXPECT_EQ(sink.data, wide) << bits;
        EXPECT_EQ(sink.writes.size(), 4u) << bits;
    }

    // Disabled: buffered and passed on as it came.
    Parameters off;
    off.enabled = false;
    const Bytes music = qmtest::MusicLike({}, 0.2);
    EXPECT_EQ(Normalize(music, off), music);
}

TEST(Normalizer, EightBitTracks) {
    const PcmFormat mono8{22050, 1, 8};
    auto bytes = [](std::initializer_list<int> values) {
        Bytes out;
        for (const int v : values) {
            out.push_back(static_cast<std::uint8_t>(static_cast<std::int8_t>(v)));
        }
        return out;
    };
    // factor 96 * 127 / 100 / 64 = 1.905, truncated toward zero.
    EXPECT_EQ(Normalize(bytes({64, -64, 10, -10, 0}), {}, mono8, 2),
              bytes({121, -121, 19, -19, 0}));

    // With the window's average as the peak the products leave the byte
    // range; they are limited like 16-bit samples instead of wrapping round.
    // Here the level is (49 * 2 + 100) / 50 = 3 and the factor 40.64.
    Parameters p;
    p.useWindow = true;
    p.windowSize = 50;
    Bytes track;
    for (int i = 0; i < 200; ++i) {
        track.push_back(static_cast<std::uint8_t>(i % 2 == 0 ? 2 : -2));
    }
    track[100] = 100;
    track.push_back(static_cast<std::uint8_t>(-128));
    const Bytes out = Normalize(track, p, mono8, 64);
    EXPECT_EQ(static_cast<std::int8_t>(out[0]), 81);
    EXPECT_EQ(static_cast<std::int8_t>(out[1]), -81);
    EXPECT_EQ(static_cast<std::int8_t>(out[100]), 127);
    EXPECT_EQ(static_cast<std::int8_t>(out.back()), -127);

    Parameters band;
    band.onlyIfLowerOrHigher = true;
    EXPECT_EQ(Normalize(bytes({120, -3}), band, mono8, 2), bytes({120, -3})); // 94 %
}

TEST(Normalizer, DeliversTheTrackInItsBlocksAndClosesTheSink) {
    const PcmFormat cd;
    const Bytes music = qmtest::MusicLike(cd, 1.0, 2);
    qmtest::PcmSource source(music, cd, 15288);
    CNormalizer normalizer;
    RecordingSink sink;
    CError registry;
    CProgress progress;
    auto finish = qm::Event::Create();
    Wire(source, normalizer, sink, registry, finish);
    source.InitProgress(&progress);
    EXPECT_EQ(progress.GetCount(), 3); // source, "Normalizing", the sink
    EXPECT_EQ(source.Start(), 1);
    EXPECT_EQ(sink.writes, (std::vector<std::int32_t>{15288, 15288, 13524}));
    EXPECT_EQ(sink.closes, std::vector<bool>{true});
    EXPECT_EQ(sink.Finish(), finish);
    EXPECT_TRUE(finish->IsSet());
    EXPECT_EQ(sink.IsStreaming(), 1);
    EXPECT_FALSE(registry.IsAnyActual());
    EXPECT_EQ(progress.GetCurrent(), 2);
    EXPECT_EQ(progress.GetTotalPercent(), 100);

    // Scaled to 96 %: the loudest sample now sits at 96 % of full scale.
    int peak = 0;
    for (const std::int16_t s : qmtest::ToSamples16(sink.data)) {
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    EXPECT_NEAR(peak, 0.96 * 32767, 0.01 * 32767);
}

TEST(Normalizer, FailuresAreReported) {
    CError registry;
    CNormalizer normalizer;
    RecordingSink sink;
    normalizer.SetEncoder(&sink);
    normalizer.SetError(&registry);

    // A refusal downstream goes back upstream.
    sink.inputPropsResult = -1;
    EXPECT_EQ(normalizer.SetInputProps(44100, 2, 16), -1);
    sink.inputPropsResult = 0;
    ASSERT_EQ(normalizer.SetInputProps(44100, 2, 16), 0);

    // A block too big to keep is refused, not silently dropped.
    const Bytes block(400);
    EXPECT_EQ(normalizer.Write(block.data(), 0x7FFFFFFF), WriteResult::Refused);
    ASSERT_NE(registry.GetLast(), nullptr);
    EXPECT_EQ(registry.GetLast()->code, 2);
    registry.ResetAll();

    // A sink that refuses a block ends the delivery with the sink closed as
    // incomplete, and no error of the normalizer's own.
    EXPECT_EQ(normalizer.Write(block.data(), 100), WriteResult::Accepted);
    EXPECT_EQ(normalizer.Write(block.data(), 100), WriteResult::Accepted);
    sink.writeResult = WriteResult::Refused;
    normalizer.Close(true);
    EXPECT_EQ(sink.writes.size(), 1u);
    EXPECT_EQ(sink.closes, std::vector<bool>{false});
    EXPECT_EQ(registry.GetLastActual(), nullptr);

    // Closing an aborted stream passes the abort on.
    sink.writeResult = WriteResult::Accepted;
    normalizer.SetInputProps(44100, 2, 16);
    EXPECT_EQ(normalizer.Write(block.data(), 100), WriteResult::Accepted);
    normalizer.Close(false);
    EXPECT_EQ(sink.closes, (std::vector<bool>{false, false}));
    EXPECT_EQ(sink.writes.size(), 1u);
}

// Lets a test stop the normalizer from another thread at an exact point:
// at the n-th look at the terminate event the worker announces it has got
// there and waits until the other thread has signalled terminate.
class ScriptedNormalizer : public CNormalizer {
public:
    bool IsTerminated() override {
        if (++m_polls == stopAt) {
            reached->Set();
            resumed->Wait(qm::kInfinite);
        }
        return CNormalizer::IsTerminated();
    }
    int stopAt = 0;
    qm::EventHandle reached = qm::Event::Create();
    qm::EventHandle resumed = qm::Event::Create();

private:
    int m_polls = 0;
};

struct StopOutcome {
    std::size_t blocksDelivered = 0;
    std::vector<bool> closes;
    int lastCode = 0;
    int lastModule = 0;
    bool finished = false;
};

// Three full blocks: every pass looks twice per block (at bytes 0 and
// 50000), delivery once per block.
StopOutcome StopAtPoll(int poll) {
    const PcmFormat cd;
    const Bytes music = qmtest::MusicLike(cd, 3 * 15288.0 / 44100, 4);
    qmtest::PcmSource source(music, cd, 15288);
    ScriptedNormalizer normalizer;
    normalizer.stopAt = poll;
    RecordingSink sink;
    CError registry;
    auto finish = qm::Event::Create();
    Wire(source, normalizer, sink, registry, finish);
    std::thread stopper([&normalizer] {
        // The time-out only keeps a broken build from hanging the run.
        EXPECT_TRUE(normalizer.reached->Wait(std::chrono::seconds(30)));
        normalizer.Terminate(); // what the job's stop does, from its own thread
        normalizer.resumed->Set();
    });
    source.Start();
    stopper.join();
    StopOutcome outcome;
    outcome.blocksDelivered = sink.writes.size();
    outcome.closes = sink.closes;
    if (registry.GetLast() != nullptr) {
        outcome.lastCode = registry.GetLast()->code;
        outcome.lastModule = registry.GetLast()->module;
    }
    outcome.finished = finish->IsSet();
    return outcome;
}

TEST(Normalizer, StopWhileMeasuringRescalingOrDelivering) {
    struct Case {
        const char* when;
        int poll;
        std::size_t delivered;
    };
    for (const Case& c :
         {Case{"measuring", 2, 0}, Case{"rescaling", 6 + 3, 0}, Case{"delivering", 12 + 2, 1}}) {
        const StopOutcome outcome = StopAtPoll(c.poll);
        EXPECT_EQ(outcome.blocksDelivered, c.delivered) << c.when;
        EXPECT_EQ(outcome.closes, std::vector<bool>{false}) << c.when;
        EXPECT_EQ(outcome.lastCode, 30) << c.when;
        EXPECT_EQ(outcome.lastModule, 1) << c.when;
        EXPECT_TRUE(outcome.finished) << c.when;
    }
}

TEST(Normalizer, StopWhileWaitingForTheSinkToBeReady) {
    const PcmFormat cd;
    const Bytes music = qmtest::MusicLike(cd, 0.5, 6);
    qmtest::PcmSource source(music, cd, 15288);
    CNormalizer normalizer;
    RecordingSink sink(true);
    CError registry;
    Wire(source, normalizer, sink, registry, qm::Event::Create());
    // Delivery begins by handing the sink the finish event; from then on the
    // sink holds the normalizer back, as the player does when its device is
    // full, and only the stop can end the wait.
    auto delivering = qm::Event::Create();
    sink.onFinishEvent = [&] {
        sink.Ready()->Reset();
        delivering->Set();
    };
    std::thread stopper([&] {
        EXPECT_TRUE(delivering->Wait(std::chrono::seconds(30)));
        normalizer.Terminate();
    });
    source.Start();
    stopper.join();
    EXPECT_TRUE(sink.data.empty());
    EXPECT_EQ(sink.closes, std::vector<bool>{false});
    ASSERT_NE(registry.GetLast(), nullptr);
    EXPECT_EQ(registry.GetLast()->code, 30);
}

TEST(Normalizer, InFrontOfTheResampler) {
    // The rip job's chain: normalizer, then resampler, then the encoder.
    const PcmFormat cd;
    const Bytes sine = qmtest::Sine(cd, 0.5, 1000.0, 0.25);
    qmtest::PcmSource source(sine, cd, 15288);
    CNormalizer normalizer;
    CResampler resampler;
    RecordingSink sink;
    CError registry;
    resampler.SetOutputFormat(48000, 1, 16);
    resampler.SetConversions(true, false, true);
    resampler.SetError(&registry);
    resampler.SetEncoder(&sink);
    normalizer.SetError(&registry);
    normalizer.SetEncoder(&resampler);
    Parameters p;
    p.targetPeak = 50;
    Configure(normalizer, p);
    source.Open(nullptr, &normalizer);
    source.Start();
    EXPECT_EQ(sink.format.rate, 48000u);
    EXPECT_EQ(sink.format.channels, 2); // the channel switch is off
    EXPECT_EQ(sink.data.size(), 24000u * 4);
    EXPECT_EQ(sink.closes, std::vector<bool>{true});
    const auto fit = qmtest::FitSine(qmtest::Channel(sink.data, sink.format, 0), 1000.0, 48000, 64);
    EXPECT_NEAR(fit.amplitude / 32767, 0.5, 0.01);
}

} // namespace
