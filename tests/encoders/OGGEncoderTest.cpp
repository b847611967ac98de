#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/Error.h"
#include "encoders/OGGEncoder.h"
#include "support/Chain.h"
#include "support/Oracles.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using qmtest::Bytes;
using qmtest::PcmFormat;

struct OggSettings {
    std::int32_t avgBitrate = 128;
    bool abr = false;
    float quality = 0.5f;
    std::uint32_t sampleRate = 44100;
    std::uint8_t channels = 2;
};

bool EncodeOgg(const std::filesystem::path& path, const OggSettings& s, const Bytes& pcm,
               PcmFormat format) {
    COGGEncoder encoder;
    CError registry;
    encoder.SetError(&registry);
    if (!encoder.OutputSettings(path.c_str(),
                                {s.avgBitrate, s.abr, s.quality, s.sampleRate, s.channels})) {
        return false;
    }
    const auto result = qmtest::RunChain(encoder, pcm, format, &registry);
    return result.ok && result.finished;
}

// oggdec's decoding as 16-bit samples in the stream's channel count.
std::vector<std::int16_t> DecodeOgg(const std::filesystem::path& path) {
    const auto result = qmtest::Run("oggdec -Q -R -o - " + qmtest::ShellQuote(path.string()));
    EXPECT_EQ(result.exitCode, 0) << "oggdec refused " << path;
    return qmtest::ToSamples16(Bytes(result.out.begin(), result.out.end()));
}

double Correlation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                   std::size_t step = 1, std::size_t firstA = 0, std::size_t firstB = 0) {
    double ab = 0.0;
    double aa = 0.0;
    double bb = 0.0;
    for (std::size_t i = firstA, j = firstB; i < a.size() && j < b.size(); i += step, j += step) {
        ab += static_cast<double>(a[i]) * b[j];
        aa += static_cast<double>(a[i]) * a[i];
        bb += static_cast<double>(b[j]) * b[j];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

struct OggPage {
    std::uint8_t flags = 0;
    std::int64_t granule = 0;
    std::string body;
};

// The pages of an Ogg file, read from their headers.
std::vector<OggPage> ReadPages(const Bytes& file) {
    std::vector<OggPage> pages;
    std::size_t at = 0;
    while (at + 27 <= file.size() && std::memcmp(&file[at], "OggS", 4) == 0) {
        OggPage page;
        page.flags = file[at + 5];
        std::memcpy(&page.granule, &file[at + 6], 8);
        const std::size_t segments = file[at + 26];
        std::size_t bodySize = 0;
        for (std::size_t i = 0; i < segments; ++i) {
            bodySize += file[at + 27 + i];
        }
        const std::size_t body = at + 27 + segments;
        page.body.assign(reinterpret_cast<const char*>(&file[body]), bodySize);
        pages.push_back(page);
        at = body + bodySize;
    }
    EXPECT_EQ(at, file.size()) << "bytes after the last page";
    return pages;
}

TEST(OGGEncoder, QualityStreamDecodesSampleExact) {
    qmtest::TempDir dir;
    const auto path = dir / "q5.ogg";
    const PcmFormat format{44100, 2, 16};
    const Bytes pcm = qmtest::MusicLike(format, 3.0);
    ASSERT_TRUE(EncodeOgg(path, {}, pcm, format));

    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.codec, "vorbis");
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.channels, 2);
    // Quality 0.5 is libvorbis' level 5, whose nominal rate at 44.1 kHz
    // stereo is 160 kbit/s.
    EXPECT_EQ(info.bitRate, 160000);

    const auto decoded = DecodeOgg(path);
    const auto input = qmtest::ToSamples16(pcm);
    EXPECT_EQ(decoded.size(), input.size());
    EXPECT_GT(Correlation(decoded, input), 0.95);
    const auto pages = ReadPages(qmtest::ReadFile(path));
    ASSERT_FALSE(pages.empty());
    EXPECT_TRUE(pages.back().flags & 0x04) << "no end-of-stream page";
    EXPECT_EQ(pages.back().granule, static_cast<std::int64_t>(input.size() / 2));
}

TEST(OGGEncoder, AverageBitrateModeGivesTheNominalRate) {
    qmtest::TempDir dir;
    const auto path = dir / "abr.ogg";
    const PcmFormat format{44100, 2, 16};
    OggSettings abr;
    abr.abr = true;
    abr.avgBitrate = 128;
    ASSERT_TRUE(EncodeOgg(path, abr, qmtest::MusicLike(format, 2.0), format));
    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.bitRate, 128000);
}

TEST(OGGEncoder, MonoAtLowRate) {
    qmtest::TempDir dir;
    const auto path = dir / "mono.ogg";
    const PcmFormat format{22050, 1, 16};
    const Bytes pcm = qmtest::MusicLike(format, 2.0);
    OggSettings mono;
    mono.sampleRate = 22050;
    mono.channels = 1;
    mono.quality = 0.3f;
    ASSERT_TRUE(EncodeOgg(path, mono, pcm, format));
    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.sampleRate, 22050);
    EXPECT_EQ(info.channels, 1);
    const auto decoded = DecodeOgg(path);
    EXPECT_EQ(decoded.size(), pcm.size() / 2);
    EXPECT_GT(Correlation(decoded, qmtest::ToSamples16(pcm)), 0.95);
}

TEST(OGGEncoder, MonoInputIntoStereoSettingFeedsBothChannels) {
    qmtest::TempDir dir;
    const auto path = dir / "wide.ogg";
    const PcmFormat mono{44100, 1, 16};
    const Bytes pcm = qmtest::MusicLike(mono, 2.0);
    ASSERT_TRUE(EncodeOgg(path, {}, pcm, mono));
    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.channels, 2);
    const auto decoded = DecodeOgg(path);
    const auto input = qmtest::ToSamples16(pcm);
    ASSERT_EQ(decoded.size(), 2 * input.size());
    EXPECT_GT(Correlation(decoded, decoded, 2, 0, 1), 0.99) << "channels differ";
    std::vector<std::int16_t> left;
    for (std::size_t i = 0; i < decoded.size(); i += 2) {
        left.push_back(decoded[i]);
    }
    EXPECT_GT(Correlation(left, input), 0.95);
}

TEST(OGGEncoder, EmptyStreamClosedCompleteHasHeadersAndEndOfStream) {
    qmtest::TempDir dir;
    const auto path = dir / "empty.ogg";
    COGGEncoder encoder;
    CError registry;
    encoder.SetError(&registry);
    auto finish = qm::Event::Create();
    encoder.SetFinishEvent(finish);
    ASSERT_TRUE(encoder.OutputSettings(path.c_str(), {128, false, 0.5f, 44100, 2}));
    ASSERT_EQ(encoder.SetInputProps(44100, 2, 16), 0);
    // An empty block from the source is not the end of the stream.
    const std::uint8_t nothing[4] = {};
    EXPECT_EQ(encoder.Write(nothing, 0), WriteResult::Accepted);
    encoder.Close(true);
    EXPECT_TRUE(finish->IsSet());
    EXPECT_FALSE(registry.IsAnyActual());

    const auto pages = ReadPages(qmtest::ReadFile(path));
    ASSERT_GE(pages.size(), 3u);
    EXPECT_EQ(pages[0].body.substr(0, 7), std::string("\x01vorbis", 7));
    EXPECT_EQ(pages[1].body.substr(0, 7), std::string("\x03vorbis", 7));
    EXPECT_NE(pages[1].body.find(std::string("\x05vorbis", 7)), std::string::npos);
    EXPECT_TRUE(pages.back().flags & 0x04);
    EXPECT_TRUE(DecodeOgg(path).empty());
    EXPECT_TRUE(qmtest::Probe(path).ok);
}

TEST(OGGEncoder, AbortedCloseDeletesTheFileAndSignals) {
    qmtest::TempDir dir;
    const auto path = dir / "aborted.ogg";
    COGGEncoder encoder;
    auto finish = qm::Event::Create();
    encoder.SetFinishEvent(finish);
    ASSERT_TRUE(encoder.OutputSettings(path.c_str(), {128, false, 0.5f, 44100, 2}));
    const Bytes pcm = qmtest::MusicLike({}, 1.0);
    ASSERT_EQ(encoder.Write(pcm.data(), static_cast<std::int32_t>(pcm.size() / 4)),
              WriteResult::Accepted);
    ASSERT_TRUE(std::filesystem::exists(path));
    encoder.Close(false);
    EXPECT_TRUE(finish->IsSet());
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(OGGEncoder, InvalidSettingsAreError27AndLeaveNoFile) {
    // An average bitrate far below what libvorbis can do at 44.1 kHz.
    qmtest::TempDir dir;
    const auto path = dir / "bad.ogg";
    COGGEncoder encoder;
    CError registry;
    encoder.SetError(&registry);
    EXPECT_FALSE(encoder.OutputSettings(path.c_str(), {2, true, 0.5f, 44100, 2}));
    const CErrorItem* item = qmtest::FindItem(registry, 10);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->code, 27);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(encoder.Write(nullptr, 0), WriteResult::Refused); // no stream to end
    encoder.Close(true);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(OGGEncoder, OutputFileThatCannotBeCreatedIsError1) {
    qmtest::TempDir dir;
    const auto path = dir / "missing" / "x.ogg";
    COGGEncoder encoder;
    CError registry;
    encoder.SetError(&registry);
    EXPECT_FALSE(encoder.OutputSettings(path.c_str(), {128, false, 0.5f, 44100, 2}));
    const CErrorItem* item = qmtest::FindItem(registry, 10);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->code, 1);
    EXPECT_EQ(registry.FullMessage(item),
              "Failed to open output file '" + path.string() + "' (error in 'OGG encoder' module)");
}

TEST(OGGEncoder, RefusedWriteIsError34AndLeavesNoFile) {
    qmtest::TempDir dir;
    const auto path = dir / "big.ogg";
    const PcmFormat format{44100, 2, 16};
    const Bytes pcm = qmtest::MusicLike(format, 5.0);
    const bool right = qmtest::RunWithFileSizeLimit(20 * 1024, [&] {
        COGGEncoder encoder;
        CError registry;
        encoder.SetError(&registry);
        if (!encoder.OutputSettings(path.c_str(), {128, false, 0.5f, 44100, 2})) {
            return false;
        }
        const auto result = qmtest::RunChain(encoder, pcm, format, &registry);
        const CErrorItem* item = qmtest::FindItem(registry, 10);
        return !result.ok && result.finished && item != nullptr && item->code == 34;
    });
    EXPECT_TRUE(right) << "no error 34 in module 10, or the write succeeded";
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(OGGEncoder, ProgressRegistersEncodingOGG) {
    COGGEncoder encoder;
    EXPECT_EQ(qmtest::RegisteredProcess(encoder), "Encoding OGG");
    EXPECT_EQ(encoder.GetProgressWeight(), 3000);
}

} // namespace
