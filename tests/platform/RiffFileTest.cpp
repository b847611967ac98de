#include <gtest/gtest.h>

#include "platform/RiffFile.h"
#include "support/Pcm.h"
#include "support/TempDir.h"

namespace {

std::uint32_t U32(const qmtest::Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

TEST(RiffFile, ChunksGetTheirSizesAndCanBeFoundAgain) {
    qmtest::TempDir dir;
    const auto path = dir / "x.riff";
    qm::RiffFile file(4096); // small buffer: patches land both in and out of it
    ASSERT_TRUE(file.Create(path));
    qm::RiffChunk riff;
    riff.formType = qm::FourCC('T', 'E', 'S', 'T');
    ASSERT_TRUE(file.CreateChunk(riff, true));
    qm::RiffChunk small;
    small.id = qm::FourCC('s', 'm', 'l', ' ');
    ASSERT_TRUE(file.CreateChunk(small, false));
    ASSERT_TRUE(file.Write("abc", 3)); // odd: padded
    ASSERT_TRUE(file.Ascend(small));
    qm::RiffChunk big;
    big.id = qm::FourCC('b', 'i', 'g', ' ');
    ASSERT_TRUE(file.CreateChunk(big, false));
    qmtest::Bytes payload(10000, 0x5A);
    ASSERT_TRUE(file.Write(payload.data(), payload.size()));
    ASSERT_TRUE(file.Ascend(big));
    ASSERT_TRUE(file.Ascend(riff));

    // Find "big" again and overwrite its first bytes.
    ASSERT_TRUE(file.Seek(0));
    qm::RiffChunk again;
    again.formType = qm::FourCC('T', 'E', 'S', 'T');
    ASSERT_TRUE(file.Descend(again, nullptr, qm::RiffFile::Find::Riff));
    qm::RiffChunk found;
    found.id = qm::FourCC('b', 'i', 'g', ' ');
    ASSERT_TRUE(file.Descend(found, &again, qm::RiffFile::Find::Chunk));
    EXPECT_EQ(found.size, 10000u);
    ASSERT_TRUE(file.Write("ZZZZ", 4));
    qm::RiffChunk missing;
    missing.id = qm::FourCC('n', 'o', 'n', 'e');
    ASSERT_TRUE(file.Seek(again.dataOffset + 4));
    EXPECT_FALSE(file.Descend(missing, &again, qm::RiffFile::Find::Chunk));
    ASSERT_TRUE(file.Close());

    const auto bytes = qmtest::ReadFile(path);
    ASSERT_EQ(bytes.size(), 12u + 8 + 4 + 8 + 10000);
    EXPECT_EQ(U32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(U32(bytes, 16), 3u);
    EXPECT_EQ(bytes[23], 0); // the pad byte
    EXPECT_EQ(U32(bytes, 28), 10000u);
    EXPECT_EQ(bytes[32], 'Z');
    EXPECT_EQ(bytes[36], 0x5A);
}

TEST(RiffFile, CreateFailsInAMissingFolder) {
    qmtest::TempDir dir;
    qm::RiffFile file;
    EXPECT_FALSE(file.Create(dir / "no" / "such.wav"));
    EXPECT_FALSE(file.Write("a", 1));
}

} // namespace
