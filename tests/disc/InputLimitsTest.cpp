// The largest input of each kind the disc layer takes where the format sets
// no bound: a CUE sheet's text (also as a FLAC's CUESHEET tag), a TOC file,
// a local CDDB file, the drive offset list kept in the data folder. Above it
// the input is refused with a message and nothing it would have named
// changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "disc/AccurateRip.h"
#include "disc/CueSheet.h"
#include "disc/LocalCDDB.h"
#include "disc/RipVerifier.h"
#include "disc/TocFile.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

TEST(InputLimits, ASheetOverOneMegabyteIsRefusedAsFileAndAsText) {
    qmtest::TempDir dir;
    const std::string sheet = "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    // Padded with remarks to the limit exactly: still a sheet.
    std::string padded = sheet;
    const std::string rem = "REM " + std::string(90, 'x') + "\n";
    while (padded.size() + rem.size() <= qm::kMaxCueSheetBytes) {
        padded += rem;
    }
    padded.append(qm::kMaxCueSheetBytes - padded.size(), '\n');
    std::string error;
    EXPECT_TRUE(qm::ParseCueSheet(padded, dir.path(), "tag", &error)) << error;
    Write(dir / "limit.cue", padded);
    EXPECT_TRUE(qm::ReadCueSheet(dir / "limit.cue", &error)) << error;

    padded += '\n';
    EXPECT_FALSE(qm::ParseCueSheet(padded, dir.path(), "album.flac (CUESHEET tag)", &error));
    EXPECT_EQ(error, "album.flac (CUESHEET tag): too large for a CUE sheet (over 1 MB)");
    Write(dir / "over.cue", padded);
    EXPECT_FALSE(qm::ReadCueSheet(dir / "over.cue", &error));
    EXPECT_EQ(error, (dir / "over.cue").string() + ": too large for a CUE sheet (over 1 MB)");
}

TEST(InputLimits, ATocFileOverOneMegabyteIsRefused) {
    qmtest::TempDir dir;
    std::string toc = "CD_DA\n\nTRACK AUDIO\nSILENCE 00:02:00\n";
    const std::string remark = "// " + std::string(90, 'x') + "\n";
    while (toc.size() + remark.size() <= (1u << 20)) {
        toc += remark;
    }
    toc.append((1u << 20) - toc.size(), '\n');
    Write(dir / "limit.toc", toc);
    std::string error;
    EXPECT_TRUE(qm::ReadTocFile(dir / "limit.toc", &error)) << error;
    Write(dir / "over.toc", toc + "\n");
    EXPECT_FALSE(qm::ReadTocFile(dir / "over.toc", &error));
    EXPECT_EQ(error, (dir / "over.toc").string() + ": too large for a TOC file (over 1 MB)");
}

TEST(InputLimits, ALocalCddbFileOverTheLimitIsNotRead) {
    qmtest::TempDir dir;
    constexpr std::uint32_t kId = 0x0A0B0C0D;
    const fs::path file = dir / LocalCDDBFileName(kId);
    std::string text = "DARTIST=Artist\r\nDTITLE=Album\r\n";
    text += "TTITLE0=" + std::string(kLocalCDDBMaxBytes - text.size() - 10, 'x') + "\r\n";
    ASSERT_LE(text.size(), kLocalCDDBMaxBytes);
    Write(file, text);
    DiscInfo disc;
    CID3Tag tag;
    std::vector<CID3Tag*> tags = {&tag};
    std::string error;
    ASSERT_TRUE(LoadLocalCDDB(dir.path(), kId, disc, tags, 1, 1, false, &error));
    EXPECT_EQ(disc.artist, "Artist");
    EXPECT_EQ(error, "");

    text += "DARTIST=Someone else\r\n";
    Write(file, text);
    disc = DiscInfo();
    EXPECT_FALSE(LoadLocalCDDB(dir.path(), kId, disc, tags, 1, 1, false, &error));
    EXPECT_EQ(error, file.string() + " is larger than 256 KB and not a local CDDB file");
    EXPECT_EQ(disc.artist, "");
    EXPECT_TRUE(disc.tracks.empty());
}

TEST(InputLimits, ADriveOffsetListOverTheLimitIsNotTakenFromTheDataFolder) {
    qmtest::TempDir dir;
    std::string record(69, '\0');
    record[0] = 6;
    record.replace(2, 25, "PLEXTOR  - DVDR   PX-760A");
    record[35] = 12;
    Write(dir / "DriveOffsets.bin", record);
    // No server answers on port 1: what is used comes from the file.
    const auto list = qm::LoadDriveOffsets(dir.path(), "http://127.0.0.1:1");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].offset, 6);

    std::string huge;
    while (huge.size() <= 4u * 1024 * 1024) {
        huge += record;
    }
    Write(dir / "DriveOffsets.bin", huge);
    EXPECT_TRUE(qm::LoadDriveOffsets(dir.path(), "http://127.0.0.1:1").empty());
}

} // namespace
