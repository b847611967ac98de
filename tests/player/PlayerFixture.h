// Playing through SDL's file-writing audio driver: the device writes what
// reaches it, one device period (one sector of CD audio) at a time and at
// real-time pace, into a file the test reads back and maps onto the sectors
// of the track that was played.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "disc/CdDrive.h"
#include "jobs/Data.h"
#include "jobs/TestView.h"
#include "jobs/TrackList.h"
#include "support/DiscImage.h"
#include "support/Environment.h"
#include "support/Pcm.h"
#include "support/TempDir.h"

namespace playertest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline constexpr int kSecond = qm::kSectorsPerSecond;
// A device period the output is cut into: what the player hands SDL per
// callback, one sector.
inline constexpr std::size_t kPeriod = qm::kSectorBytes;
// A period of silence in the device's output (nothing queued, or paused).
inline constexpr int kSilence = -1;

// The device's output as a sequence of periods: for each, the index of the
// track sector it holds (0 = the track's first), or kSilence. A period that
// is neither is kUnknown.
inline constexpr int kUnknown = -2;
std::vector<int> OutputSectors(const qmtest::Bytes& output, const qmtest::Bytes& track);
// The sector indices without the silence.
std::vector<int> Audible(const std::vector<int>& periods);
// first, first + 1, ..., end - 1.
std::vector<int> SectorRun(int first, int end);

class PlayerFixture : public ::testing::Test {
protected:
    PlayerFixture();
    ~PlayerFixture() override;

    // A disc of audio tracks of `seconds` each, in a drive the ripper is
    // attached to; the list shows it.
    void InsertDisc(const std::vector<int>& seconds);
    // The bytes of track `track` (1-based) as a rip reads them.
    qmtest::Bytes TrackPcm(int track) const;
    // Waits until the worker has played the track out (false on time-out).
    bool WaitForEnd(std::chrono::seconds limit);
    qmtest::Bytes Output() const;

    qmtest::TempDir dir;
    fs::path deviceFile = dir / "device.raw";
    qmtest::EnvironmentGuard driver{"SDL_AUDIODRIVER", "disk"};
    qmtest::EnvironmentGuard file{"SDL_DISKAUDIOFILE", deviceFile.c_str()};
    std::unique_ptr<CData> data;
    std::unique_ptr<jobtest::TestView> view;
    std::unique_ptr<CTrackList> list;
    qmtest::TestImage image;
    std::unique_ptr<qmtest::ScopedDrive> drive;
};

} // namespace playertest
