// Reads through a drive's read offset, the offset search, and the
// AccurateRip and CUETools database look-ups against a loopback server
// serving answers made for a generated disc.
#include <gtest/gtest.h>

#include "disc/CDRipper.h"
#include "disc/CdioDrive.h"
#include "disc/OffsetFinder.h"
#include "disc/RipVerifier.h"
#include "encoders/WAVWriter.h"
#include "support/DiscImage.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "support/Verification.h"

namespace {

using qmtest::Bytes;

class VerifyTest : public ::testing::Test {
protected:
    // Three audio tracks of 7 s or more, so each has a sector 450.
    static void SetUpTestSuite() {
        s_dir = new qmtest::TempDir;
        s_image = new qmtest::TestImage(qmtest::WriteTestImage(
            s_dir->path(), "disc",
            {{false, 0, 7 * 75}, {false, 20, 8 * 75}, {false, 0, 7 * 75 + 13}}, 77));
    }
    static void TearDownTestSuite() {
        delete s_image;
        delete s_dir;
    }
    static const qmtest::TestImage& Image() { return *s_image; }

    Bytes Rip(CCDRipper& ripper, int track, qm::TrackChecksums* sums = nullptr) {
        const auto wav = dir.path() / "t.wav";
        CWAVWriter writer;
        writer.Open(wav.c_str());
        EXPECT_TRUE(ripper.ProcessSettings(track, &writer, true));
        EXPECT_EQ(ripper.Start(), 1);
        if (sums != nullptr) {
            *sums = ripper.GetTrackChecksums();
        }
        return qmtest::WavPayload(wav);
    }

    qmtest::TempDir dir;

private:
    static qmtest::TempDir* s_dir;
    static qmtest::TestImage* s_image;
};

qmtest::TempDir* VerifyTest::s_dir = nullptr;
qmtest::TestImage* VerifyTest::s_image = nullptr;

TEST_F(VerifyTest, AReadOffsetShiftsTheGrabWithSilenceAtTheDiscEnds) {
    qmtest::ScopedDrive drive(Image().layout.sheet);
    const qm::DiscToc toc = qmtest::TocOf(Image());
    const Bytes disc = Image().Sectors(0, toc.leadout);
    const std::int64_t discBytes = static_cast<std::int64_t>(disc.size());
    for (int jitter : {CCDRipper::kJitterNever, CCDRipper::kJitterAlways}) {
        CCDRipper ripper;
        ASSERT_TRUE(ripper.Attach(drive.Index(), 0));
        ripper.SetJitterMode(jitter);
        for (int offset : {6, 667, -1164}) {
            ripper.SetReadOffset(offset);
            for (int track = 1; track <= 3; ++track) {
                SCOPED_TRACE(testing::Message()
                             << "jitter " << jitter << " offset " << offset << " track " << track);
                const std::int64_t from = static_cast<std::int64_t>(Image().Start(track)) * 2352;
                const std::int64_t to = static_cast<std::int64_t>(Image().End(track)) * 2352;
                Bytes expected;
                for (std::int64_t at = from + offset * 4; at < to + offset * 4; ++at) {
                    expected.push_back(
                        at >= 0 && at < discBytes ? disc[static_cast<std::size_t>(at)] : 0);
                }
                const Bytes got = Rip(ripper, track);
                ASSERT_EQ(got.size(), expected.size());
                EXPECT_TRUE(got == expected);
            }
        }
        // Back to 0: the plain slices again.
        ripper.SetReadOffset(0);
        EXPECT_TRUE(Rip(ripper, 2) == Image().Sectors(Image().Start(2), Image().End(2)));
    }
}

TEST_F(VerifyTest, OffsetSearchFindsTheDrivesShift) {
    qmtest::FileServer server(dir.path().string());
    const std::string answer = qmtest::DbarChunk(Image(), 9);
    qmtest::ServeDbar(dir.path(), Image(), answer);
    const qm::DiscToc toc = qmtest::TocOf(Image());
    const qm::DiscVerification disc = qm::LookUpDisc(toc, server.Url(), server.Url());
    ASSERT_TRUE(disc.arFound);
    std::string error;
    for (int shift : {667, -472, 0, 1203}) {
        SCOPED_TRACE(shift);
        auto shifted = std::make_shared<qmtest::ShiftedDrive>(
            qm::CdioDrive::ForImage(Image().layout.sheet, &error), shift);
        qmtest::ScopedDrive drive(shifted);
        CCDRipper ripper;
        ASSERT_TRUE(ripper.Attach(drive.Index(), 0));
        const qm::OffsetSearch found = qm::FindReadOffset(ripper.GetHandle(), toc, disc.arChunks);
        ASSERT_TRUE(found.found);
        EXPECT_EQ(found.offset, shift);
        EXPECT_EQ(found.tracksMatched, 3);
        // Ripped with the offset found, every track is accurate.
        ripper.SetReadOffset(found.offset);
        for (int track = 1; track <= 3; ++track) {
            qm::TrackChecksums sums;
            Rip(ripper, track, &sums);
            EXPECT_EQ(qm::VerifyTrack(disc, track, sums).ar.status, qm::VerifyStatus::kMatch);
        }
    }
}

TEST_F(VerifyTest, AccurateRipAnswersFromTheServer) {
    qmtest::FileServer server(dir.path().string());
    const qm::DiscToc toc = qmtest::TocOf(Image());
    qmtest::ScopedDrive drive(Image().layout.sheet);
    CCDRipper ripper;
    ASSERT_TRUE(ripper.Attach(drive.Index(), 0));
    std::vector<qm::TrackChecksums> sums(4);
    for (int track = 1; track <= 3; ++track) {
        Rip(ripper, track, &sums[static_cast<std::size_t>(track)]);
    }

    // Two chunks: a v1 set and a v2 set; the v2 match is named.
    std::string answer = qmtest::DbarChunk(Image(), 3, false) + qmtest::DbarChunk(Image(), 12);
    const std::string path = qmtest::ServeDbar(dir.path(), Image(), answer);
    qm::DiscVerification disc = qm::LookUpDisc(toc, server.Url(), server.Url());
    EXPECT_TRUE(disc.arFound);
    EXPECT_EQ(disc.arUrl, server.Url() + path);
    EXPECT_TRUE(disc.arError.empty()) << disc.arError;
    for (int track = 1; track <= 3; ++track) {
        const qm::TrackVerdict v =
            qm::VerifyTrack(disc, track, sums[static_cast<std::size_t>(track)]);
        EXPECT_EQ(qm::ArVerdictText(v.ar), "Accurately ripped (confidence 12) [v2]");
    }
    const auto requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_NE(requests.front().find("Quavermill/"), std::string::npos) << "User-Agent";

    // Track 2's entry altered in both chunks: only track 2 differs.
    const std::size_t entry2 = 13 + 9 + 1;
    answer[entry2] ^= 0x55;
    answer[answer.size() / 2 + entry2] ^= 0x55;
    qmtest::ServeDbar(dir.path(), Image(), answer);
    disc = qm::LookUpDisc(toc, server.Url(), server.Url());
    EXPECT_EQ(qm::VerifyTrack(disc, 1, sums[1]).ar.status, qm::VerifyStatus::kMatch);
    EXPECT_EQ(qm::ArVerdictText(qm::VerifyTrack(disc, 2, sums[2]).ar),
              "Not accurately ripped (15 submissions differ)");
    EXPECT_EQ(qm::VerifyTrack(disc, 3, sums[3]).ar.status, qm::VerifyStatus::kMatch);

    // Unknown disc: 404.
    std::filesystem::remove_all(dir.path() / "accuraterip");
    disc = qm::LookUpDisc(toc, server.Url(), server.Url());
    EXPECT_FALSE(disc.arFound);
    EXPECT_TRUE(disc.arError.empty()) << "a 404 is no failure";
    EXPECT_EQ(qm::ArVerdictText(qm::VerifyTrack(disc, 1, sums[1]).ar), "Not in database");

    // No server at all: said so, still no verdict but "not in database".
    disc = qm::LookUpDisc(toc, "http://127.0.0.1:1", "http://127.0.0.1:1");
    EXPECT_FALSE(disc.arError.empty());
    EXPECT_FALSE(disc.ctdbError.empty());
}

TEST_F(VerifyTest, CtdbAnswersFromTheServer) {
    qmtest::FileServer server(dir.path().string());
    const qm::DiscToc toc = qmtest::TocOf(Image());
    qmtest::ScopedDrive drive(Image().layout.sheet);
    CCDRipper ripper;
    ASSERT_TRUE(ripper.Attach(drive.Index(), 0));
    std::vector<qm::TrackChecksums> sums(4);
    for (int track = 1; track <= 3; ++track) {
        Rip(ripper, track, &sums[static_cast<std::size_t>(track)]);
    }
    std::vector<std::uint32_t> crcs = qmtest::CtdbTrackCrcs(Image());
    qmtest::ServeCtdb(dir.path(), Image(), 6, crcs);
    qm::DiscVerification disc = qm::LookUpDisc(toc, server.Url(), server.Url());
    EXPECT_TRUE(disc.ctdbFound);
    for (int track = 1; track <= 3; ++track) {
        EXPECT_EQ(qm::CtdbVerdictText(
                      qm::VerifyTrack(disc, track, sums[static_cast<std::size_t>(track)]).ctdb),
                  "verified (confidence 6)");
    }
    // The disc's CRC from the tracks' equals the served one.
    std::uint32_t joined = sums[1].ctdbCrc;
    joined = qm::CombineCrc(joined, sums[2].ctdbCrc, sums[2].ctdbBytes);
    joined = qm::CombineCrc(joined, sums[3].ctdbCrc, sums[3].ctdbBytes);
    EXPECT_EQ(joined, qmtest::CtdbDiscCrc(Image()));
    const auto requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_NE(requests.back().find(qm::CtdbTocString(toc)), std::string::npos);

    crcs[2] ^= 1;
    qmtest::ServeCtdb(dir.path(), Image(), 6, crcs);
    disc = qm::LookUpDisc(toc, server.Url(), server.Url());
    EXPECT_EQ(qm::VerifyTrack(disc, 1, sums[1]).ctdb.status, qm::VerifyStatus::kMatch);
    EXPECT_EQ(qm::VerifyTrack(disc, 2, sums[2]).ctdb.status, qm::VerifyStatus::kMatch);
    EXPECT_EQ(qm::CtdbVerdictText(qm::VerifyTrack(disc, 3, sums[3]).ctdb),
              "differs (6 submissions)");

    qmtest::ServeCtdb(dir.path(), Image(), 0, {});
    disc = qm::LookUpDisc(toc, server.Url(), server.Url());
    EXPECT_FALSE(disc.ctdbFound);
    EXPECT_TRUE(disc.ctdbError.empty());
    EXPECT_EQ(qm::CtdbVerdictText(qm::VerifyTrack(disc, 1, sums[1]).ctdb), "not in database");
}

} // namespace
