// The access layer over libcdio on images the tests write: the drive list,
// handles, the table of contents in both address modes, plain reads, the disc
// id against libdiscid, byte order, and what images refuse to do.
#include <gtest/gtest.h>

#include <discid/discid.h>

#include <cstring>
#include <fstream>
#include <random>

#include "disc/CDDrive.h"
#include "disc/CdAccess.h"
#include "disc/CdioDrive.h"
#include "disc/DriveList.h"
#include "support/DiscImage.h"
#include "support/TempDir.h"

namespace {

using qmtest::ImageTrack;
using qmtest::TestImage;

constexpr std::int32_t kSecond = 75;

std::uint32_t Msb(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}

// The freedb id libdiscid computes for the layout the image was written with.
std::uint32_t LibDiscId(const TestImage& image) {
    DiscId* disc = discid_new();
    std::vector<int> offsets(image.layout.starts.size() + 1);
    offsets[0] = image.layout.leadout + 150;
    for (std::size_t i = 0; i < image.layout.starts.size(); ++i) {
        offsets[i + 1] = image.layout.starts[i] + 150;
    }
    const int last = static_cast<int>(image.layout.starts.size());
    std::uint32_t id = 0;
    if (discid_put(disc, 1, last, offsets.data()) != 0) {
        id = static_cast<std::uint32_t>(std::stoul(discid_get_freedb_id(disc), nullptr, 16));
    }
    discid_free(disc);
    return id;
}

qm::CdHandle* OpenHandle(const qmtest::ScopedDrive& drive) {
    qm::CdDriveList list;
    list.capacity = qm::kCdMaxDrives;
    EXPECT_EQ(qm::GetCDList(&list), qm::kCdOk);
    const int index = drive.Index();
    EXPECT_GE(index, 0);
    EXPECT_LT(index, list.count);
    qm::CdHandleRequest request;
    request.hostAdapter = list.drives[index].hostAdapter;
    request.target = list.drives[index].target;
    request.lun = list.drives[index].lun;
    return qm::GetCDHandle(&request);
}

// Pregaps, tiny tracks and a data track after the gap of an Enhanced CD.
std::vector<ImageTrack> MixedLayout() {
    return {{false, 0, 2 * kSecond}, {false, 33, 3}, {false, 75, kSecond + 7}, {true, 11400, 40}};
}

class CdAccessTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
};

TEST_F(CdAccessTest, TocInBothAddressModesMatchesTheWrittenLayout) {
    const TestImage image = qmtest::WriteTestImage(dir.path(), "mixed", MixedLayout());
    qmtest::ScopedDrive drive(image.layout.sheet);
    qm::CdHandle* handle = OpenHandle(drive);
    ASSERT_NE(handle, nullptr);

    qm::CdToc toc;
    ASSERT_EQ(qm::ReadTOC(handle, &toc), qm::kCdOk);
    const qm::CdToc sectors = toc;
    EXPECT_EQ(toc.firstTrack, 1);
    EXPECT_EQ(toc.lastTrack, 4);
    EXPECT_EQ(toc.length[0] << 8 | toc.length[1], 2 + 5 * 8);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(toc.entries[i].trackNumber, i + 1);
        EXPECT_EQ(Msb(toc.entries[i].address), static_cast<std::uint32_t>(image.Start(i + 1)))
            << "track " << i + 1;
        EXPECT_EQ((toc.entries[i].adrControl & qm::kTocDataTrack) != 0, i == 3);
    }
    EXPECT_EQ(toc.entries[4].trackNumber, qm::kTocLeadout);
    EXPECT_EQ(Msb(toc.entries[4].address), static_cast<std::uint32_t>(image.layout.leadout));

    ASSERT_EQ(qm::ModifyCDParms(handle, qm::kCdParamAddressMode, 1), qm::kCdOk);
    ASSERT_EQ(qm::ReadTOC(handle, &toc), qm::kCdOk);
    for (int i = 0; i < 5; ++i) {
        const std::int32_t lsn = i < 4 ? image.Start(i + 1) : image.layout.leadout;
        const std::int32_t frames = lsn + 150;
        EXPECT_EQ(toc.entries[i].address[0], 0);
        EXPECT_EQ(toc.entries[i].address[1], frames / (60 * 75));
        EXPECT_EQ(toc.entries[i].address[2], frames / 75 % 60);
        EXPECT_EQ(toc.entries[i].address[3], frames % 75);
    }
    // Who keeps one table makes the other form from it: it must be the very
    // table the drive gives, byte for byte.
    const qm::CdToc made = qm::MsfToc(sectors);
    EXPECT_EQ(std::memcmp(&made, &toc, sizeof toc), 0);
    EXPECT_TRUE(qm::CloseCDHandle(handle));
}

TEST_F(CdAccessTest, DiscIdAgreesWithLibdiscid) {
    std::mt19937 rng(7);
    for (int round = 0; round < 6; ++round) {
        const auto tracks = qmtest::RandomTracks(rng, 12, true);
        const TestImage image =
            qmtest::WriteTestImage(dir.path(), "r" + std::to_string(round), tracks);
        qmtest::ScopedDrive drive(image.layout.sheet);
        qm::CdHandle* handle = OpenHandle(drive);
        ASSERT_NE(handle, nullptr);
        std::uint32_t ids[103] = {};
        ASSERT_EQ(qm::GetCDDBDiskID(handle, ids, 103), qm::kCdOk);
        EXPECT_EQ(ids[0], LibDiscId(image)) << "round " << round;
        ASSERT_EQ(ids[1], tracks.size());
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            EXPECT_EQ(ids[2 + i], static_cast<std::uint32_t>(image.layout.starts[i] + 150));
        }
        EXPECT_EQ(ids[2 + tracks.size()],
                  static_cast<std::uint32_t>(image.layout.leadout + 150) / 75);
        // Too small an array is refused, not overrun.
        EXPECT_EQ(qm::GetCDDBDiskID(handle, ids, static_cast<int>(tracks.size()) + 2),
                  qm::kCdFailed);
        qm::CloseCDHandle(handle);
    }
}

TEST_F(CdAccessTest, PlainReadsGiveTheBinAndStopAtTheEndOfTheDisc) {
    const TestImage image =
        qmtest::WriteTestImage(dir.path(), "plain", {{false, 0, 40}, {false, 10, 30}});
    qmtest::ScopedDrive drive(image.layout.sheet);
    qm::CdHandle* handle = OpenHandle(drive);
    ASSERT_NE(handle, nullptr);
    auto buffer = qm::NewSectorBuffer(26);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->capacity, 26 * 2352);

    buffer->startSector = 35;
    buffer->sectorCount = 26;
    ASSERT_EQ(qm::ReadCDAudioLBA(handle, buffer.get()), qm::kCdOk);
    EXPECT_EQ(buffer->validBytes, 26 * 2352);
    EXPECT_EQ(buffer->startOffset, 0);
    EXPECT_TRUE(std::equal(buffer->Data(), buffer->Data() + buffer->validBytes,
                           image.Sectors(35, 61).begin()));

    // Past the lead-out an image would hand back stale bytes; the layer says no.
    buffer->startSector = image.layout.leadout - 2;
    buffer->sectorCount = 3;
    EXPECT_EQ(qm::ReadCDAudioLBA(handle, buffer.get()), qm::kCdFailed);
    EXPECT_EQ(qm::GetAspiLibError(), qm::kCdErrRead);
    EXPECT_EQ(buffer->validBytes, 0);
    // More sectors than the buffer holds is a caller's mistake, not a read.
    buffer->startSector = 0;
    buffer->sectorCount = 27;
    EXPECT_EQ(qm::ReadCDAudioLBA(handle, buffer.get()), qm::kCdFailed);
    EXPECT_EQ(qm::GetAspiLibError(), qm::kCdErrArgument);
    qm::CloseCDHandle(handle);
}

TEST_F(CdAccessTest, CdrdaoImagesArriveLittleEndian) {
    // libcdio takes a pregap (START) of the last track of a TOC file twice
    // when it works out the lead-out, so the pregap sits in the middle.
    const std::vector<ImageTrack> tracks = {{false, 0, 50}, {false, 20, 60}, {false, 0, 30}};
    const TestImage cue = qmtest::WriteTestImage(dir.path(), "le", tracks, 3);
    const TestImage toc =
        qmtest::WriteTestImage(dir.path(), "be", tracks, 3, discgen::SheetKind::CdrdaoToc);
    qmtest::ScopedDrive cueDrive(cue.layout.sheet);
    qmtest::ScopedDrive tocDrive(toc.layout.sheet);
    qm::DiscToc cueToc;
    qm::DiscToc tocToc;
    ASSERT_TRUE(cueDrive.Drive()->Open(0));
    ASSERT_TRUE(tocDrive.Drive()->Open(0));
    ASSERT_TRUE(cueDrive.Drive()->ReadToc(cueToc));
    ASSERT_TRUE(tocDrive.Drive()->ReadToc(tocToc));
    ASSERT_EQ(tocToc.tracks.size(), 3u);
    EXPECT_EQ(tocToc.tracks[1].start, cueToc.tracks[1].start);
    EXPECT_EQ(tocToc.tracks[2].start, cueToc.tracks[2].start);
    EXPECT_EQ(tocToc.leadout, cueToc.leadout);

    qmtest::Bytes fromCue(160 * 2352);
    qmtest::Bytes fromToc(160 * 2352);
    ASSERT_EQ(cueDrive.Drive()->ReadAudio(0, 160, fromCue.data()), qm::DriveStatus::kOk);
    ASSERT_EQ(tocDrive.Drive()->ReadAudio(0, 160, fromToc.data()), qm::DriveStatus::kOk);
    EXPECT_TRUE(fromCue == fromToc);
    EXPECT_TRUE(fromCue == cue.Sectors(0, 160));
    cueDrive.Drive()->Close();
    tocDrive.Drive()->Close();
}

TEST_F(CdAccessTest, CueSheetsMayNameTheirBinAsTheyLikeAndInEitherByteOrder) {
    const std::vector<ImageTrack> tracks = {{false, 0, 40}, {false, 15, 30}};
    const TestImage reference = qmtest::WriteTestImage(dir.path(), "ref", tracks, 9);
    const TestImage motorola =
        qmtest::WriteTestImage(dir.path(), "raw", tracks, 9, discgen::SheetKind::CdrdaoToc);
    std::filesystem::create_directory(dir / "sheets");
    std::filesystem::rename(motorola.layout.bin, dir / "Album (disc 1).bin");
    // The sheet of the little-endian image, pointed at the big-endian BIN.
    std::ifstream in(reference.layout.sheet);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text.replace(0, text.find('\n'), "FILE \"../Album (disc 1).bin\" MOTOROLA");
    std::ofstream(dir / "sheets" / "album.cue") << text;

    qmtest::ScopedDrive drive(dir / "sheets" / "album.cue");
    ASSERT_TRUE(drive.Drive()->Open(0));
    qm::DiscToc toc;
    ASSERT_TRUE(drive.Drive()->ReadToc(toc));
    EXPECT_EQ(toc.tracks.at(1).start, reference.Start(2));
    EXPECT_EQ(drive.Drive()->Identity(), "Disc image: album.cue");
    qmtest::Bytes pcm(85 * 2352);
    ASSERT_EQ(drive.Drive()->ReadAudio(0, 85, pcm.data()), qm::DriveStatus::kOk);
    EXPECT_TRUE(pcm == reference.Sectors(0, 85));
    drive.Drive()->Close();

    std::string error;
    std::ofstream(dir / "split.cue")
        << "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
           "FILE \"b.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n";
    // One file per track, or a WAVE file, is read as well; a missing one is
    // named with its FILE line.
    EXPECT_EQ(qm::DriveList::Instance().AddImage(dir / "split.cue", &error), -1);
    EXPECT_NE(error.find("split.cue: line 1: the sheet's file is missing"), std::string::npos)
        << error;
    std::ofstream(dir / "wave.cue")
        << "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    EXPECT_EQ(qm::DriveList::Instance().AddImage(dir / "wave.cue", &error), -1);
    EXPECT_NE(error.find("a.wav"), std::string::npos) << error;
}

TEST_F(CdAccessTest, BrokenImagesAreRefusedWithAReasonAndTheProcessLivesOn) {
    auto& list = qm::DriveList::Instance();
    const std::size_t before = list.Drives().size();
    std::string error;
    EXPECT_EQ(list.AddImage(dir / "missing.cue", &error), -1);
    EXPECT_NE(error.find("missing.cue"), std::string::npos);

    // A sheet whose BIN is gone: libcdio's default log handler would exit here.
    std::ofstream(dir / "orphan.cue") << "FILE \"orphan.bin\" BINARY\n  TRACK 01 AUDIO\n"
                                         "    INDEX 01 00:00:00\n";
    error.clear();
    EXPECT_EQ(list.AddImage(dir / "orphan.cue", &error), -1);
    EXPECT_FALSE(error.empty());

    std::ofstream(dir / "noise.cue") << "this is not a cue sheet\n";
    EXPECT_EQ(list.AddImage(dir / "noise.cue", &error), -1);
    EXPECT_EQ(list.Drives().size(), before);
}

TEST_F(CdAccessTest, DriveListNamesImagesAndFindsThemAgain) {
    const TestImage a = qmtest::WriteTestImage(dir.path(), "a", {{false, 0, 10}});
    const TestImage b = qmtest::WriteTestImage(dir.path(), "b", {{false, 0, 10}});
    auto& list = qm::DriveList::Instance();
    qmtest::ScopedDrive first(a.layout.sheet);
    qmtest::ScopedDrive second(b.layout.sheet);
    EXPECT_EQ(second.Index(), first.Index() + 1);
    // Opening the same image again keeps its index.
    EXPECT_EQ(list.AddImage(a.layout.sheet), first.Index());
    EXPECT_EQ(list.IndexOf(a.layout.sheet.string()), first.Index());
    EXPECT_TRUE(first.Drive()->IsImage());

    qm::CdHandle* handle = OpenHandle(second);
    ASSERT_NE(handle, nullptr);
    char text[64];
    ASSERT_EQ(qm::GetCDId(handle, text, sizeof text), qm::kCdOk);
    EXPECT_STREQ(text, "Disc image: b.cue");
    // A short buffer gets a cut, terminated text.
    char shortText[8];
    ASSERT_EQ(qm::GetCDId(handle, shortText, sizeof shortText), qm::kCdOk);
    EXPECT_STREQ(shortText, "Disc im");
    qm::CloseCDHandle(handle);

    qm::CdDriveList drives;
    drives.capacity = 1;
    ASSERT_EQ(qm::GetCDList(&drives), qm::kCdOk);
    EXPECT_EQ(drives.count, 1);

    qm::CdHandleRequest bad;
    bad.size = 11;
    EXPECT_EQ(qm::GetCDHandle(&bad), nullptr);
    EXPECT_EQ(qm::GetAspiLibError(), qm::kCdErrArgument);
    qm::CdHandleRequest nowhere;
    nowhere.hostAdapter = 9;
    EXPECT_EQ(qm::GetCDHandle(&nowhere), nullptr);
    EXPECT_EQ(qm::GetAspiLibError(), qm::kCdErrNoDrive);
}

TEST_F(CdAccessTest, ImagesReportAFixedSpeedAndRefuseDriveControl) {
    const TestImage image = qmtest::WriteTestImage(
        dir.path(), "ctl", {{false, 0, 30}, {false, 0, 20}, {true, 11400, 30}});
    qmtest::ScopedDrive drive(image.layout.sheet);
    qm::CdHandle* handle = OpenHandle(drive);
    ASSERT_NE(handle, nullptr);
    std::uint32_t speed = 0;
    ASSERT_EQ(qm::QueryCDParms(handle, qm::kCdParamSpeed, &speed), qm::kCdOk);
    EXPECT_EQ(speed, static_cast<std::uint32_t>(qm::kImageSpeed));
    ASSERT_EQ(qm::QueryCDParms(handle, qm::kCdParamMaxSpeed, &speed), qm::kCdOk);
    EXPECT_EQ(speed, static_cast<std::uint32_t>(qm::kImageSpeed));
    EXPECT_EQ(qm::ModifyCDParms(handle, qm::kCdParamSpeed, 4 * 176), qm::kCdOk);
    EXPECT_EQ(qm::ModifyCDParms(handle, 99, 1), qm::kCdFailed);
    qm::CloseCDHandle(handle);

    qm::DriveList& list = qm::DriveList::Instance();
    const qm::DriveEntry entry = list.Drives().at(static_cast<std::size_t>(drive.Index()));
    CCDDrive control;
    ASSERT_TRUE(control.Init());
    ASSERT_TRUE(control.SelectDrive(entry.hostAdapter, entry.target, entry.lun));
    EXPECT_FALSE(control.Eject());
    EXPECT_FALSE(control.PlayTrack(1, 0));
    EXPECT_FALSE(control.PausePlay());
    EXPECT_FALSE(control.ResumePlay());
    EXPECT_FALSE(control.StopPlay());
    EXPECT_EQ(control.GetPlayPosition(), -1);
    EXPECT_EQ(control.GetTrackStart(2), 30);
    EXPECT_EQ(control.GetTrackSize(1), 30);
    // The track before the data session ends where the audio part does.
    EXPECT_EQ(control.GetTrackSize(2), 20);
    EXPECT_EQ(control.GetTrackSize(4), -1);
    // The image is still readable after the refused eject.
    qm::DiscToc toc;
    EXPECT_TRUE(drive.Drive()->ReadToc(toc));
    EXPECT_FALSE(control.SelectDrive(7, 7, 7));
    EXPECT_FALSE(control.Eject());
}

} // namespace
