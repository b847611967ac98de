// The rip job's chain with a real WAV writer at its end, read back by ffmpeg.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "core/Error.h"
#include "encoders/WAVWriter.h"
#include "pipeline/Normalizer.h"
#include "pipeline/Resampler.h"
#include "support/Oracles.h"
#include "support/PcmSource.h"
#include "support/RecordingSink.h"
#include "support/TempDir.h"

namespace {

using qmtest::Bytes;

// ripper -> normalizer -> resampler -> sink, wired as the rip job does it.
struct Chain {
    explicit Chain(const Bytes& pcm) : source(pcm, {}, 15288) {}

    void Run(CEncoder& sink) {
        resampler.SetConversions(true, true, true);
        resampler.SetOutputFormat(22050, 1, 8);
        sink.SetFinishEvent(finish);
        source.SetError(&registry);
        sink.SetError(&registry);
        resampler.SetError(&registry);
        resampler.SetEncoder(&sink);
        normalizer.SetFinishEvent(finish);
        normalizer.SetError(&registry);
        normalizer.SetEncoder(&resampler);
        normalizer.SetParameters(true, false, 90, 98, 91, false, 1000);
        source.Open(nullptr, &normalizer);
        source.Start();
    }

    qmtest::PcmSource source;
    CNormalizer normalizer;
    CResampler resampler;
    CError registry;
    qm::EventHandle finish = qm::Event::Create();
};

TEST(FilterChain, WavFileHoldsTheNormalizedConvertedTrack) {
    const Bytes music = qmtest::MusicLike({}, 1.0, 9);
    qmtest::TempDir dir;
    const auto path = dir / "track.wav";
    Chain chain(music);
    CWAVWriter writer;
    writer.Open(path.c_str());
    chain.Run(writer);
    EXPECT_TRUE(chain.finish->IsSet());
    EXPECT_FALSE(chain.registry.IsAnyActual());

    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.sampleRate, 22050);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.sampleFmt, "u8");
    const Bytes decoded = qmtest::DecodeWithFfmpeg(path, "u8");
    ASSERT_EQ(decoded.size(), 22050u);

    // The same chain into a recording sink sends exactly what ffmpeg reads.
    Chain again(music);
    qmtest::RecordingSink sink;
    again.Run(sink);
    ASSERT_EQ(sink.data.size(), decoded.size());
    int peak = 0;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        ASSERT_EQ(decoded[i], sink.data[i] ^ 0x80) << i;
        peak = std::max(peak, std::abs(static_cast<int>(static_cast<std::int8_t>(sink.data[i]))));
    }
    EXPECT_GT(peak, 90); // normalized to 90 % before the mix and the narrowing
}

// A WAV writer that lets the test act after each block it has written.
class WatchedWriter : public CWAVWriter {
public:
    WriteResult Write(const void* data, std::int32_t frames) override {
        const WriteResult result = CWAVWriter::Write(data, frames);
        ++blocks;
        if (afterBlock) {
            afterBlock(blocks);
        }
        return result;
    }
    int blocks = 0;
    std::function<void(int)> afterBlock;
};

TEST(FilterChain, StoppedTrackLeavesNoFile) {
    const Bytes music = qmtest::MusicLike({}, 1.0, 9);
    qmtest::TempDir dir;
    const auto path = dir / "track.wav";
    Chain chain(music);
    WatchedWriter writer;
    writer.Open(path.c_str());
    // The stop arrives once the first block has reached the file.
    writer.afterBlock = [&chain](int block) {
        if (block == 1) {
            chain.normalizer.Terminate();
        }
    };
    chain.Run(writer);
    EXPECT_EQ(writer.blocks, 1);
    EXPECT_TRUE(chain.finish->IsSet());
    ASSERT_NE(chain.registry.GetLastActual(), nullptr);
    EXPECT_EQ(chain.registry.GetLastActual()->code, 30);
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
