// The WMA writer on its own: the codec formats it offers and the writer's
// rules (order of calls, preprocessing passes, sample times).
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "encoders/WMAEncoder.h"
#include "encoders/WMCodecFormats.h"
#include "encoders/WMProfile.h"
#include "encoders/WMWriter.h"
#include "support/Oracles.h"
#include "support/TempDir.h"

namespace {

namespace wm = qm::wm;

wm::Profile MakeProfile(std::int32_t bitrate, std::int32_t rate, std::int32_t channels, bool vbr,
                        std::int32_t passes) {
    const CWMAEncoder::StreamDescription wanted{bitrate, wm::kFormatWma, rate, channels,
                                                vbr,     passes};
    const auto profile = CWMAEncoder::GenAudioProfile(wanted);
    EXPECT_TRUE(profile) << std::hex << profile.GetStatus();
    return profile ? *profile : wm::Profile{};
}

wm::MediaType PcmInput(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits = 16) {
    wm::MediaType type;
    type.majorType = wm::MajorType::Audio;
    type.subtype = wm::kFormatPcm;
    type.formatType = wm::FormatType::WaveFormatEx;
    type.format.formatTag = wm::kFormatPcm;
    type.format.channels = channels;
    type.format.samplesPerSec = rate;
    type.format.bitsPerSample = bits;
    type.format.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    type.format.avgBytesPerSec = rate * type.format.blockAlign;
    return type;
}

// A writer begun on `path` for a stereo stream of this kind; its input is
// CD audio, or with `cdInput` false the stream's own format (the default).
std::unique_ptr<wm::Writer> BeginWriter(const std::filesystem::path& path, std::int32_t bitrate,
                                        std::int32_t rate, bool vbr, std::int32_t passes,
                                        bool cdInput = true) {
    auto writer = std::make_unique<wm::Writer>();
    const wm::Profile profile = MakeProfile(bitrate, rate, 2, vbr, passes);
    if (wm::Failed(writer->SetProfile(profile)) ||
        (cdInput && wm::Failed(writer->SetInputType(PcmInput(44100, 2)))) ||
        wm::Failed(writer->SetOutputFilename(path.string())) ||
        wm::Failed(writer->BeginWriting())) {
        ADD_FAILURE() << "the writer did not begin";
        return nullptr;
    }
    return writer;
}

// Hands `pcm` to the writer as one sample stamped `seconds` from the start.
wm::Status WriteAt(wm::Writer& writer, const qmtest::Bytes& pcm, double seconds) {
    return writer.WriteSample(static_cast<std::uint64_t>(seconds * 1e7), pcm);
}

TEST(WMWriter, CodecFormatsAreWhatWmav2Writes) {
    ASSERT_EQ(wm::AudioCodecCount(), 1u);
    const auto& bitrates = wm::AudioCodecFormats(0, {false, 1});
    ASSERT_FALSE(bitrates.empty());
    for (const wm::WaveFormatEx& f : bitrates) {
        EXPECT_EQ(f.formatTag, wm::kFormatWma);
        EXPECT_EQ(f.bitsPerSample, 16);
        EXPECT_TRUE(f.channels == 1 || f.channels == 2);
        EXPECT_GE(f.samplesPerSec, 8000u);
        EXPECT_LE(f.samplesPerSec, 48000u);
        EXPECT_GE(f.avgBytesPerSec * 8, 24000u);
        EXPECT_EQ(f.extraSize, f.extra.size());
        // The encoder opens at this format and sizes its packets as listed.
        int error = 0;
        AVCodecContext* context =
            wm::OpenWmaEncoder(f.samplesPerSec, f.channels, wm::EncodeBitrate(f), &error);
        ASSERT_NE(context, nullptr) << f.samplesPerSec << " Hz " << f.avgBytesPerSec * 8;
        EXPECT_EQ(context->block_align, f.blockAlign);
        EXPECT_EQ(std::vector<std::uint8_t>(context->extradata,
                                            context->extradata + context->extradata_size),
                  f.extra);
        avcodec_free_context(&context);
    }
    // Two passes offer the same bitrates; one pass offers qualities.
    EXPECT_EQ(wm::AudioCodecFormats(0, {true, 2}).size(), bitrates.size());
    const auto& qualities = wm::AudioCodecFormats(0, {true, 1});
    EXPECT_EQ(qualities.size(), 12u); // six qualities at 44100 and 48000 Hz stereo
    const std::pair<std::uint32_t, std::int64_t> steps[] = {
        {98, 256000}, {90, 192000}, {75, 160000}, {50, 128000}, {25, 96000}, {10, 64000}};
    for (const auto& [quality, bitrate] : steps) {
        int found = 0;
        for (const wm::WaveFormatEx& f : qualities) {
            if (f.avgBytesPerSec == wm::kQualityBytesBase + quality) {
                ++found;
                EXPECT_EQ(wm::EncodeBitrate(f), bitrate) << quality;
            }
        }
        EXPECT_EQ(found, 2) << quality;
    }
}

TEST(WMWriter, EnumerationRefusesWhatTheCodecCannotDo) {
    wm::CodecEnumeration codecs;
    const auto audio = wm::MajorType::Audio;
    EXPECT_EQ(codecs.SetSetting(audio, 0, wm::kPassesUsed, 3), wm::kSettingNotSupported);
    EXPECT_EQ(codecs.SetSetting(audio, 0, "_NOSUCHSETTING", 1), wm::kSettingNotSupported);
    EXPECT_EQ(codecs.SetSetting(audio, 1, wm::kVbrEnabled, 1), wm::kInvalidArgument);
    EXPECT_EQ(codecs.CodecCount(wm::MajorType::Video), 0u);
    EXPECT_TRUE(codecs.Formats(audio, 1).empty());

    ASSERT_EQ(codecs.SetSetting(audio, 0, wm::kVbrEnabled, 1), wm::kOk);
    ASSERT_EQ(codecs.SetSetting(audio, 0, wm::kPassesUsed, 1), wm::kOk);
    const auto& formats = codecs.Formats(audio, 0);
    ASSERT_FALSE(formats.empty());
    EXPECT_TRUE(wm::IsQualityFormat(formats.back()));
}

TEST(WMWriter, CallsOutOfOrderAreRefused) {
    qmtest::TempDir dir;
    wm::Writer writer;
    EXPECT_EQ(writer.BeginWriting(), wm::kInvalidRequest); // no profile
    EXPECT_EQ(writer.SetInputType(PcmInput(44100, 2)), wm::kInvalidArgument);

    // A lossless stream is nothing this writer can write.
    const wm::Profile profile = MakeProfile(128000, 44100, 2, false, 1);
    ASSERT_EQ(profile.streams.size(), 1u);
    wm::Profile lossless = profile;
    lossless.streams.front().mediaType.format.formatTag = wm::kFormatWmaLossless;
    EXPECT_EQ(writer.SetProfile(lossless), wm::kInvalidArgument);
    wm::Profile twoStreams = profile;
    twoStreams.streams.push_back(profile.streams.front());
    EXPECT_EQ(writer.SetProfile(twoStreams), wm::kInvalidArgument);

    ASSERT_EQ(writer.SetProfile(profile), wm::kOk);
    EXPECT_EQ(writer.SetInputType(PcmInput(44100, 2, 8)), wm::kInvalidInputFormat);
    ASSERT_EQ(writer.SetInputType(PcmInput(44100, 2)), wm::kOk);
    EXPECT_EQ(writer.BeginWriting(), wm::kInvalidRequest); // no file name
    EXPECT_EQ(WriteAt(writer, qmtest::Bytes(400), 0), wm::kInvalidRequest);

    // A CBR stream has no analysis pass to run.
    EXPECT_EQ(writer.GetMaxPreprocessingPasses(), 0u);
    EXPECT_EQ(writer.SetNumPreprocessingPasses(1), wm::kInvalidArgument);

    ASSERT_EQ(writer.SetOutputFilename((dir / "a.wma").string()), wm::kOk);
    ASSERT_EQ(writer.BeginWriting(), wm::kOk);
    EXPECT_EQ(writer.SetInputType(PcmInput(22050, 1)), wm::kInvalidRequest);
    EXPECT_EQ(writer.BeginPreprocessingPass(), wm::kInvalidRequest);
    EXPECT_EQ(writer.EndWriting(), wm::kOk);
    EXPECT_EQ(writer.EndWriting(), wm::kInvalidRequest);
    EXPECT_TRUE(std::filesystem::exists(dir / "a.wma"));
}

TEST(WMWriter, TwoPassStreamRunsOneAnalysisPassBeforeWriting) {
    qmtest::TempDir dir;
    const auto writer = BeginWriter(dir / "a.wma", 128000, 44100, true, 2);
    ASSERT_TRUE(writer);
    ASSERT_EQ(writer->GetMaxPreprocessingPasses(), 1u);
    ASSERT_EQ(writer->SetNumPreprocessingPasses(1), wm::kOk);
    ASSERT_EQ(writer->BeginPreprocessingPass(), wm::kOk);
    const qmtest::Bytes pcm = qmtest::Sine({}, 0.5, 440.0);
    EXPECT_EQ(WriteAt(*writer, pcm, 0), wm::kInvalidRequest); // not during the pass
    EXPECT_EQ(writer->PreprocessSample(pcm), wm::kOk);
    ASSERT_EQ(writer->EndPreprocessingPass(), wm::kOk);
    EXPECT_EQ(writer->PreprocessSample(pcm), wm::kInvalidRequest);    // no pass running
    EXPECT_EQ(writer->BeginPreprocessingPass(), wm::kInvalidRequest); // none left
    EXPECT_EQ(WriteAt(*writer, pcm, 0), wm::kOk);
    EXPECT_EQ(writer->EndWriting(), wm::kOk);
}

TEST(WMWriter, ALaterSampleTimeIsPrecededBySilence) {
    qmtest::TempDir dir;
    const auto path = dir / "gap.wma";
    const auto writer = BeginWriter(path, 128000, 44100, false, 1);
    ASSERT_TRUE(writer);
    const qmtest::Bytes second = qmtest::Sine({}, 1.0, 440.0, 0.5);
    ASSERT_EQ(WriteAt(*writer, second, 0.0), wm::kOk);
    ASSERT_EQ(WriteAt(*writer, second, 2.0), wm::kOk); // one second later than the audio
    ASSERT_EQ(writer->EndWriting(), wm::kOk);

    const auto decoded = qmtest::ToSamples16(qmtest::DecodeWithFfmpeg(path));
    ASSERT_GE(decoded.size(), 3u * 44100 * 2);
    EXPECT_LT(decoded.size(), (3u * 44100 + 2 * 2048) * 2);
    auto peak = [&decoded](double from, double to) {
        int most = 0;
        for (auto i = static_cast<std::size_t>(from * 44100) * 2;
             i < static_cast<std::size_t>(to * 44100) * 2; ++i) {
            most = std::max(most, std::abs(static_cast<int>(decoded[i])));
        }
        return most;
    };
    EXPECT_GT(peak(0.1, 0.9), 10000);
    EXPECT_LT(peak(1.1, 1.9), 100) << "the gap is not silent";
    EXPECT_GT(peak(2.1, 2.9), 10000);
}

TEST(WMWriter, WriterGoneBeforeTheEndLeavesTheFileToTheCaller) {
    qmtest::TempDir dir;
    const auto path = dir / "gone.wma";
    {
        const auto writer = BeginWriter(path, 64000, 48000, false, 1, false);
        ASSERT_TRUE(writer);
        ASSERT_EQ(WriteAt(*writer, qmtest::Sine({48000, 2, 16}, 0.5, 440.0), 0.0), wm::kOk);
    }
    // Closed, incomplete and still there: removing it is the WMA sink's
    // business (see FileSinkTest).
    EXPECT_TRUE(std::filesystem::exists(path));
}

} // namespace
