// The APE tag on a real Monkey's Audio file. ffmpeg cannot encode APE, so
// the file comes from our own APE encoder; until that encoder is part of the
// tree this test is not built (TagWriterTest checks the APE tag on other
// audio data meanwhile).
#include <gtest/gtest.h>

#if __has_include("encoders/APEEncoder.h")

#include "encoders/APEEncoder.h"
#include "output/ID3Tag.h"
#include "support/Oracles.h"
#include "support/Pcm.h"
#include "support/TagReader.h"
#include "support/TempDir.h"

namespace {

TEST(TagWriter, RealApeFileGetsItsTagAndDecodesAsBefore) {
    qmtest::TempDir dir;
    const auto file = dir / "track.ape";
    const qmtest::PcmFormat format;
    const qmtest::Bytes pcm = qmtest::Sine(format, 1.0, 440.0);
    {
        CAPEEncoder encoder;
        encoder.Open(file.c_str());
        ASSERT_EQ(encoder.SetInputProps(format.rate, format.channels, format.bits), 0);
        ASSERT_EQ(encoder.Write(pcm.data(), static_cast<std::int32_t>(pcm.size() / 4)),
                  WriteResult::Accepted);
        encoder.Close(true);
    }
    ASSERT_TRUE(std::filesystem::exists(file));
    const qmtest::Bytes before = qmtest::DecodeWithFfmpeg(file);
    ASSERT_FALSE(before.empty());

    CID3Tag tag;
    tag.SetTag("Title", "Real APE");
    tag.SetTag("URL", "http://example.com/");
    ASSERT_TRUE(tag.Write(file.string()));
    const qmtest::ReadTags read = qmtest::ReadTagsWithMutagen(file);
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.One("Title"), "Real APE");
    EXPECT_EQ(read.One("File URL"), "http://example.com/");
    EXPECT_EQ(qmtest::ReadTagsWithFfprobe(file).at("title"), "Real APE");
    EXPECT_EQ(qmtest::DecodeWithFfmpeg(file), before);
}

} // namespace

#endif
