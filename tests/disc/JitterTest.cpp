// The jitter-corrected read on a drive whose every read lands up to a few
// hundred frames early or late.
#include <gtest/gtest.h>

#include <cstring>

#include "disc/CdAccess.h"
#include "disc/CdioDrive.h"
#include "disc/DriveList.h"
#include "support/DiscImage.h"
#include "support/FaultyDrive.h"
#include "support/TempDir.h"

namespace {

using qmtest::Bytes;

class JitterTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = qmtest::WriteTestImage(dir.path(), "jitter", {{false, 0, 120}, {false, 0, 300}}, 5);
        std::string error;
        auto disc = qm::CdioDrive::ForImage(image.layout.sheet, &error);
        ASSERT_TRUE(disc) << error;
        faulty = std::make_shared<qmtest::FaultyDrive>(disc);
        scoped = std::make_unique<qmtest::ScopedDrive>(faulty);
        const qm::DriveEntry entry =
            qm::DriveList::Instance().Drives().at(static_cast<std::size_t>(scoped->Index()));
        qm::CdHandleRequest request;
        request.hostAdapter = entry.hostAdapter;
        request.target = entry.target;
        request.lun = entry.lun;
        handle = qm::GetCDHandle(&request);
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override {
        if (handle != nullptr) {
            qm::CloseCDHandle(handle);
        }
    }

    // Reads sectors [first, end) block by block the way the ripper does in
    // "Always" mode and returns what was delivered.
    Bytes ReadRange(std::int32_t first, std::int32_t end, std::int32_t blockSectors,
                    int* overlapFailures) {
        auto block = qm::NewSectorBuffer(blockSectors);
        auto overlap = qm::NewSectorBuffer(3);
        Bytes out;
        for (std::int32_t at = first; at < end;) {
            block->startSector = at;
            block->sectorCount = std::min(blockSectors, end - at);
            const int result = qm::ReadCDAudioLBAEx(handle, block.get(), overlap.get());
            if (result != qm::kCdOk) {
                EXPECT_EQ(qm::GetAspiLibError(), qm::kCdErrOverlap);
                ++*overlapFailures;
            }
            EXPECT_GT(block->sectorCount, 0);
            EXPECT_EQ(block->validBytes, block->sectorCount * 2352);
            out.insert(out.end(), block->Data() + block->startOffset,
                       block->Data() + block->startOffset + block->validBytes);
            at += block->sectorCount;
        }
        return out;
    }

    qmtest::TempDir dir;
    qmtest::TestImage image;
    std::shared_ptr<qmtest::FaultyDrive> faulty;
    std::unique_ptr<qmtest::ScopedDrive> scoped;
    qm::CdHandle* handle = nullptr;
};

TEST_F(JitterTest, OverlapMatchingPutsEveryShiftedReadBackInPlace) {
    faulty->SetJitter(500, 11);
    int failures = 0;
    const Bytes got = ReadRange(130, 400, 26, &failures);
    EXPECT_EQ(failures, 0);
    EXPECT_GT(faulty->ShiftedReads(), 5);
    EXPECT_TRUE(got == image.Sectors(130, 400)) << "delivered samples differ from the disc";
}

TEST_F(JitterTest, SmallBlocksAreMatchedInTheHandlesOwnRoom) {
    // Play mode reads one sector a block: no room for the extra sectors.
    faulty->SetJitter(300, 12);
    int failures = 0;
    const Bytes got = ReadRange(150, 190, 1, &failures);
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(got == image.Sectors(150, 190));
}

TEST_F(JitterTest, AReferenceFoundNowhereDeliversTheSectorsUncheckedWithMinus15) {
    auto block = qm::NewSectorBuffer(26);
    auto overlap = qm::NewSectorBuffer(3);
    overlap->startSector = 197;
    overlap->sectorCount = 3;
    overlap->validBytes = 3 * 2352;
    std::memset(overlap->Data(), 0x55, 3 * 2352);
    block->startSector = 200;
    block->sectorCount = 26;
    EXPECT_EQ(qm::ReadCDAudioLBAEx(handle, block.get(), overlap.get()), qm::kCdFailed);
    EXPECT_EQ(qm::GetAspiLibError(), qm::kCdErrOverlap);
    ASSERT_GT(block->sectorCount, 0);
    const Bytes truth = image.Sectors(200, 200 + block->sectorCount);
    EXPECT_TRUE(std::equal(truth.begin(), truth.end(), block->Data() + block->startOffset));
    // The overlap now holds the tail of what was delivered.
    EXPECT_EQ(overlap->startSector + overlap->sectorCount, 200 + block->sectorCount);
    const Bytes tail = image.Sectors(overlap->startSector, 200 + block->sectorCount);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), overlap->Data()));
}

TEST_F(JitterTest, AnEmptyOrDistantOverlapMeansAPlainRead) {
    auto block = qm::NewSectorBuffer(26);
    auto overlap = qm::NewSectorBuffer(3);
    block->startSector = 10;
    block->sectorCount = 26;
    ASSERT_EQ(qm::ReadCDAudioLBAEx(handle, block.get(), overlap.get()), qm::kCdOk);
    EXPECT_EQ(block->startOffset, 0);
    EXPECT_EQ(block->sectorCount, 26);
    EXPECT_EQ(overlap->startSector, 33);
    EXPECT_EQ(overlap->sectorCount, 3);
    // A seek elsewhere: the kept tail does not lead up to sector 100.
    block->startSector = 100;
    block->sectorCount = 26;
    ASSERT_EQ(qm::ReadCDAudioLBAEx(handle, block.get(), overlap.get()), qm::kCdOk);
    EXPECT_EQ(block->startOffset, 0);
    EXPECT_EQ(block->sectorCount, 26);
    const Bytes truth = image.Sectors(100, 126);
    EXPECT_TRUE(std::equal(truth.begin(), truth.end(), block->Data()));
    EXPECT_EQ(faulty->Reads(), 2);
}

TEST_F(JitterTest, AFailedReadLeavesTheOverlapAsItWas) {
    auto block = qm::NewSectorBuffer(26);
    auto overlap = qm::NewSectorBuffer(3);
    block->startSector = 10;
    block->sectorCount = 26;
    ASSERT_EQ(qm::ReadCDAudioLBAEx(handle, block.get(), overlap.get()), qm::kCdOk);
    faulty->FailSector(40, 1);
    block->startSector = 36;
    block->sectorCount = 26;
    EXPECT_EQ(qm::ReadCDAudioLBAEx(handle, block.get(), overlap.get()), qm::kCdFailed);
    EXPECT_EQ(qm::GetAspiLibError(), qm::kCdErrRead);
    EXPECT_EQ(overlap->startSector, 33);
    // The second try reads and matches.
    ASSERT_EQ(qm::ReadCDAudioLBAEx(handle, block.get(), overlap.get()), qm::kCdOk);
    const Bytes truth = image.Sectors(36, 36 + block->sectorCount);
    EXPECT_TRUE(std::equal(truth.begin(), truth.end(), block->Data() + block->startOffset));
}

} // namespace
