// A grab job on a disc image in a drive that can misbehave: the shared data,
// the track list and the job over the test front end, with the output, the
// data folder and the disc in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TestView.h"
#include "disc/CdioDrive.h"
#include "disc/LocalCDDB.h"
#include "jobs/Data.h"
#include "jobs/GrabJob.h"
#include "jobs/TrackList.h"
#include "support/DiscImage.h"
#include "support/FaultyDrive.h"
#include "support/Pcm.h"
#include "support/TempDir.h"

namespace jobtest {

namespace fs = std::filesystem;

using qmtest::EmptyDrive;

inline constexpr std::int32_t kSecond = 75;

// The names a disc's cache entry gives.
struct DiscNames {
    std::string artist = "The Testers";
    std::string album = "Grab Suite";
    std::string genre = "Jazz";
    int year = 2021;
    std::vector<std::string> titles;
};

class JobFixture : public ::testing::Test {
protected:
    void SetUp() override {
        view.list = &list;
        data.SetDataFolder(dir / "data");
        QuavermillSettings& settings = data.Settings();
        settings.naming.OutputFolder = (dir / "out").string();
        settings.naming.NameFormat = "{ARTIST}\\{ALBUM}\\{TRACK} - {TITLE}";
        // Bit-exact outputs unless a test asks for the normalizer.
        settings.normalizer.Normalize = false;
        // Only the audio files, playlists and tags; the rip log and cue sheet
        // have tests of their own.
        settings.verify.RipLog = false;
        settings.verify.RipCueSheet = false;
    }

    // Writes a disc image of `tracks`, puts it into a drive and attaches the
    // ripper to it; `names` (when given) go into its local cache entry
    // first. Then the list is refreshed and every audio track checked.
    void InsertDisc(const std::vector<qmtest::ImageTrack>& tracks, const DiscNames* names = nullptr,
                    std::uint32_t seed = 1) {
        image = qmtest::WriteTestImage(dir.path(), "disc" + std::to_string(seed), tracks, seed);
        std::string error;
        auto disc = qm::CdioDrive::ForImage(image.layout.sheet, &error);
        ASSERT_TRUE(disc) << error;
        faulty = std::make_shared<qmtest::FaultyDrive>(disc);
        drive = std::make_unique<qmtest::ScopedDrive>(faulty);
        ASSERT_TRUE(data.Ripper().Attach(drive->Index(), 0));
        if (names != nullptr) {
            WriteCacheEntry(*names);
        }
        ASSERT_TRUE(list.Refresh());
        list.MarkAll();
    }

    void WriteCacheEntry(const DiscNames& names) {
        std::string text = "# Quavermill\r\n# version 1.25\r\n";
        text += "DARTIST=" + names.artist + "\r\nDTITLE=" + names.album + "\r\n";
        text += "DGENRE=" + names.genre + "\r\nDYEAR=" + std::to_string(names.year) + "\r\n";
        for (std::size_t i = 0; i < names.titles.size(); ++i) {
            text += "TTITLE" + std::to_string(i) + "=" + names.titles[i] + "\r\n";
        }
        fs::create_directories(data.LocalCDDBFolder());
        qmtest::WriteText(data.LocalCDDBFolder() / LocalCDDBFileName(data.GetCDDBID()), text);
    }

    // A second disc, ready to be swapped in.
    std::shared_ptr<qm::CdDrive> OtherDisc(const std::vector<qmtest::ImageTrack>& tracks,
                                           std::uint32_t seed, qmtest::TestImage* written) {
        *written = qmtest::WriteTestImage(dir.path(), "other" + std::to_string(seed), tracks, seed);
        std::string error;
        auto disc = qm::CdioDrive::ForImage(written->layout.sheet, &error);
        EXPECT_TRUE(disc) << error;
        return disc;
    }

    // Runs the job as the front end would: the poll every few milliseconds
    // while its timer runs. `onPoll` runs before each poll.
    void RunJob(const std::function<void()>& onPoll = {}) {
        const auto finish = qm::Event::OpenNamed(CGrabJob::kFinishEventName, false);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (job.IsProcessing()) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the grab does not end";
            finish->Wait(std::chrono::milliseconds(10));
            if (onPoll) {
                onPoll();
            }
            if (view.pollTimer) {
                job.OnTimer();
            }
        }
    }

    void Grab(const std::function<void()>& onPoll = {}) {
        job.StartProcess();
        RunJob(onPoll);
    }

    // The file a track was named.
    fs::path TrackFile(const DiscNames& names, int track, const std::string& title,
                       const char* extension) const {
        char number[8];
        std::snprintf(number, sizeof number, "%02d", track);
        return dir / "out" / names.artist / names.album /
               (std::string(number) + " - " + title + extension);
    }

    // Every regular file below the output folder.
    std::vector<fs::path> OutputFiles() const { return qmtest::FilesUnder(dir / "out"); }

    qmtest::Bytes TrackPcm(const qmtest::TestImage& disc, int track) const {
        return disc.Sectors(disc.Start(track), disc.End(track));
    }

    qmtest::TempDir dir;
    qmtest::TestImage image;
    std::shared_ptr<qmtest::FaultyDrive> faulty;
    std::unique_ptr<qmtest::ScopedDrive> drive;
    CData data;
    TestView view;
    CTrackList list{data, view};
    CGrabJob job{data, list, view};
};

} // namespace jobtest
