#include <gtest/gtest.h>

#include "core/Error.h"
#include "core/Progress.h"
#include "encoders/WAVWriter.h"
#include "support/Chain.h"
#include "support/Oracles.h"
#include "support/PcmSource.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using qmtest::Bytes;
using qmtest::PcmFormat;

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// Runs `pcm` through a source into a fresh WAV writer at `path`.
bool Grab(const std::filesystem::path& path, const Bytes& pcm, PcmFormat format,
          CError* registry = nullptr, std::int32_t blockFrames = 15288) {
    qmtest::PcmSource source(pcm, format, blockFrames);
    CWAVWriter writer;
    auto finish = qm::Event::Create();
    writer.Open(path.c_str());
    writer.SetFinishEvent(finish);
    if (registry != nullptr) {
        source.SetError(registry);
        writer.SetError(registry);
    }
    source.Open(nullptr, &writer);
    const bool ok = source.Start() == 1 && (registry == nullptr || !registry->IsAnyActual());
    EXPECT_TRUE(finish->IsSet());
    return ok;
}

struct Case {
    PcmFormat format;
    const char* sampleFmt; // what ffmpeg should decode to
};

class WAVWriterFormats : public ::testing::TestWithParam<Case> {};

TEST_P(WAVWriterFormats, IndependentReadersSeeTheStreamSent) {
    const Case c = GetParam();
    qmtest::TempDir dir;
    const auto path = dir / "out.wav";
    // An odd frame count on purpose: 8-bit mono then needs a pad byte.
    const Bytes pcm = qmtest::MusicLike(c.format, 1.5 + 1.0 / c.format.rate);
    ASSERT_TRUE(Grab(path, pcm, c.format, nullptr, 1000));

    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.sampleRate, static_cast<int>(c.format.rate));
    EXPECT_EQ(info.channels, c.format.channels);
    EXPECT_EQ(info.bitsPerSample, c.format.bits);
    const double frames = static_cast<double>(pcm.size()) / c.format.FrameBytes();
    EXPECT_NEAR(info.duration, frames / c.format.rate, 0.001);

    const auto sox = qmtest::Run("sox --i -r " + qmtest::ShellQuote(path.string()));
    EXPECT_EQ(std::stoi(sox.out), static_cast<int>(c.format.rate));

    Bytes decoded = qmtest::DecodeWithFfmpeg(path, c.sampleFmt);
    if (c.format.bits == 8) {
        // ffmpeg gives unsigned 8-bit; the chain carries signed samples.
        for (auto& b : decoded) {
            b ^= 0x80;
        }
    }
    EXPECT_TRUE(decoded == pcm) << "decoded PCM differs from what was sent";

    const Bytes file = qmtest::ReadFile(path);
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(U32(file, 4), file.size() - 8);
    EXPECT_EQ(U32(file, 16), 16u);        // "fmt " size
    EXPECT_EQ(file[36], 'f');             // "fact" follows "fmt "
    EXPECT_EQ(U32(file, 44), frames);     // the frame count
    EXPECT_EQ(U32(file, 52), pcm.size()); // "data" size
}

INSTANTIATE_TEST_SUITE_P(Formats, WAVWriterFormats,
                         ::testing::Values(Case{{44100, 2, 16}, "s16le"},
                                           Case{{22050, 1, 16}, "s16le"}, Case{{8000, 1, 8}, "u8"},
                                           Case{{48000, 2, 8}, "u8"}),
                         [](const ::testing::TestParamInfo<Case>& p) {
                             const PcmFormat& f = p.param.format;
                             return std::to_string(f.rate) + "Hz" + std::to_string(f.channels) +
                                    "ch" + std::to_string(f.bits) + "bit";
                         });

TEST(WAVWriter, HeaderValuesForCommonFormats) {
    qmtest::TempDir dir;
    CWAVWriter writer;
    writer.Open((dir / "a.wav").c_str());
    ASSERT_EQ(writer.SetInputProps(44100, 2, 16), 0);
    writer.Close(true);
    Bytes file = qmtest::ReadFile(dir / "a.wav");
    EXPECT_EQ(U32(file, 28), 176400u);
    EXPECT_EQ(file[32], 4);
    EXPECT_EQ(U32(file, 44), 0u); // no write: fact 0
    EXPECT_EQ(U32(file, 52), 0u); // and an empty data chunk
    EXPECT_EQ(file.size(), 56u);

    CWAVWriter mono;
    mono.Open((dir / "b.wav").c_str());
    ASSERT_EQ(mono.SetInputProps(8000, 1, 8), 0);
    mono.Close(true);
    file = qmtest::ReadFile(dir / "b.wav");
    EXPECT_EQ(U32(file, 28), 8000u);
    EXPECT_EQ(file[32], 1);
}

TEST(WAVWriter, WriteBeforeFileAndCloseWithoutFile) {
    qmtest::TempDir dir;
    CWAVWriter writer;
    auto finish = qm::Event::Create();
    writer.SetFinishEvent(finish);
    writer.Open((dir / "never.wav").c_str());
    const std::uint8_t block[8] = {};
    EXPECT_EQ(writer.Write(block, 2), WriteResult::Accepted); // nothing open: nothing written
    writer.Close(true);
    EXPECT_TRUE(finish->IsSet());
    EXPECT_FALSE(std::filesystem::exists(dir / "never.wav"));
}

TEST(WAVWriter, AbortedCloseLeavesNoFile) {
    qmtest::TempDir dir;
    CWAVWriter writer;
    auto finish = qm::Event::Create();
    writer.SetFinishEvent(finish);
    writer.Open((dir / "partial.wav").c_str());
    ASSERT_EQ(writer.SetInputProps(44100, 2, 16), 0);
    const Bytes block(4 * 5000, 1);
    ASSERT_EQ(writer.Write(block.data(), 5000), WriteResult::Accepted);
    writer.Close(false);
    EXPECT_TRUE(finish->IsSet());
    EXPECT_FALSE(std::filesystem::exists(dir / "partial.wav"));
}

TEST(WAVWriter, OpenFailureIsError1InModule9) {
    qmtest::TempDir dir;
    CError registry;
    const auto path = dir / "missing" / "x.wav";
    EXPECT_FALSE(Grab(path, Bytes(400), {}, &registry));
    ASSERT_NE(registry.GetLastActual(), nullptr);
    // The source files its own item after the sink's; find the sink's.
    const CErrorItem* item = qmtest::FindItem(registry, 9);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->code, 1);
    EXPECT_EQ(std::string(item->text), path.string());
}

TEST(WAVWriter, ProgressRegistersOnlyWhenAsked) {
    CProgress progress;
    CWAVWriter writer;
    writer.InitProgress(&progress, false);
    EXPECT_EQ(progress.GetCount(), 0);
    writer.InitProgress(&progress, true);
    ASSERT_EQ(progress.GetCount(), 1);
    progress.NextProcess();
    std::string description;
    progress.GetCurrentDescription(&description);
    EXPECT_EQ(description, "Encoding WAV");
    writer.InitProgress(nullptr, true); // no tracker: nothing happens
}

TEST(WAVWriter, RefusedWriteIsError34AndLeavesNoFile) {
    // The file system refuses past 200 kB.
    qmtest::TempDir dir;
    const auto path = dir / "big.wav";
    const bool right = qmtest::RunWithFileSizeLimit(200 * 1024, [&] {
        CError registry;
        const Bytes pcm = qmtest::Sine({}, 5.0, 440.0); // 882 kB
        const bool ok = Grab(path, pcm, {}, &registry);
        const CErrorItem* item = qmtest::FindItem(registry, 9);
        return !ok && item != nullptr && item->code == 34;
    });
    EXPECT_TRUE(right) << "no error 34 in module 9, or the write succeeded";
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(WAVWriter, WriteReportsTheRefusalWhileTheStreamRuns) {
    // More than the writer buffers, so the refusal reaches Write itself and
    // not only the finishing Close.
    qmtest::TempDir dir;
    const auto path = dir / "refused.wav";
    const bool right = qmtest::RunWithFileSizeLimit(200 * 1024, [&] {
        CError registry;
        CWAVWriter writer;
        auto finish = qm::Event::Create();
        writer.SetFinishEvent(finish);
        writer.SetError(&registry);
        writer.Open(path.c_str());
        WriteResult result =
            writer.SetInputProps(44100, 2, 16) == 0 ? WriteResult::Accepted : WriteResult::Refused;
        const Bytes block(4 * 44100, 7); // one second per call
        for (int second = 0; second < 30 && result == WriteResult::Accepted; ++second) {
            result = writer.Write(block.data(), 44100);
        }
        const CErrorItem* item = qmtest::FindItem(registry, 9);
        const bool refused = result == WriteResult::Refused && item != nullptr && item->code == 34;
        writer.Close(false);
        return refused && finish->IsSet();
    });
    EXPECT_TRUE(right) << "Write did not return -1 with error 34 in module 9";
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
