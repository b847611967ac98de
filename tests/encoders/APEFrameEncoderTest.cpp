#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoders/APEFrameEncoder.h"
#include "support/Pcm.h"

namespace {

using qm::ape::FrameFlags;

std::vector<std::uint8_t> Pcm(const std::vector<std::int16_t>& samples) {
    return qmtest::FromSamples16(samples);
}

TEST(APEFrameEncoder, CrcIsTheZlibOne) {
    const std::string check = "123456789";
    EXPECT_EQ(qm::ape::Crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()),
              0xCBF43926u);
}

TEST(APEFrameEncoder, FlagsNameSilentAndIdenticalChannels) {
    EXPECT_EQ(FrameFlags(Pcm({0, 0, 0}).data(), 3, 1), 1u);
    EXPECT_EQ(FrameFlags(Pcm({0, 0, 1}).data(), 3, 1), 0u);
    // Stereo: 1 when the second sample of every pair is 0, 2 when the
    // first is, 4 when both are equal.
    EXPECT_EQ(FrameFlags(Pcm({5, 0, -3, 0}).data(), 2, 2), 1u);
    EXPECT_EQ(FrameFlags(Pcm({0, 5, 0, 256}).data(), 2, 2), 2u);
    EXPECT_EQ(FrameFlags(Pcm({7, 7, -256, -256}).data(), 2, 2), 4u);
    EXPECT_EQ(FrameFlags(Pcm({0, 0, 0, 0}).data(), 2, 2), 7u);
    EXPECT_EQ(FrameFlags(Pcm({1, 2, 0, 0}).data(), 2, 2), 0u);
    // Equal low bytes alone do not make identical channels.
    EXPECT_EQ(FrameFlags(Pcm({0x0101, 0x0201}).data(), 1, 2), 0u);
}

TEST(APEFrameEncoder, SilentFrameIsThirteenBytes) {
    // CRC word with the flags bit, the flags, and an empty code.
    qm::ape::FrameEncoder encoder(2, 5000);
    const std::vector<std::uint8_t> pcm(4 * 1000, 0);
    std::vector<std::uint8_t> out;
    encoder.Encode(pcm.data(), 1000, &out);
    ASSERT_EQ(out.size(), 13u);
    const std::uint32_t crc = qm::ape::Crc32(pcm.data(), pcm.size());
    const std::uint32_t word = (crc >> 1) | 0x80000000u;
    EXPECT_EQ(out[0], word >> 24);
    EXPECT_EQ(out[3], word & 0xFF);
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 4, out.begin() + 8),
              (std::vector<std::uint8_t>{0, 0, 0, 7}));
}

TEST(APEFrameEncoder, FramesDoNotCarryStateOver) {
    // Every frame starts afresh: the same PCM gives the same bytes, whatever
    // was encoded before.
    const auto music = qmtest::MusicLike({44100, 2, 16}, 0.1, 4);
    const auto noise = qmtest::Noise({44100, 2, 16}, 0.1, 0.8, 4);
    const int blocks = static_cast<int>(music.size() / 4);
    qm::ape::FrameEncoder fresh(2, 4000);
    std::vector<std::uint8_t> first;
    fresh.Encode(music.data(), blocks, &first);
    qm::ape::FrameEncoder used(2, 4000);
    std::vector<std::uint8_t> ignored;
    used.Encode(noise.data(), blocks, &ignored);
    std::vector<std::uint8_t> second;
    used.Encode(music.data(), blocks, &second);
    EXPECT_EQ(first, second);
}

} // namespace
