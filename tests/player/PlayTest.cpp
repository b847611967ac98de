// Playing disc tracks through the shared data's play control, heard through
// SDL's file-writing driver: what reached the device is the track, sector by
// sector, at real-time pace; seeking, pausing and stopping act on it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PlayerFixture.h"
#include "core/Diagnostics.h"
#include "core/Error.h"

namespace playertest {
namespace {

using namespace std::chrono_literals;

void Sleep(std::chrono::milliseconds time) {
    std::this_thread::sleep_for(time);
}

class Play : public PlayerFixture {};

TEST_F(Play, TheWholeTrackReachesTheDeviceInOnePieceInRealTime) {
    InsertDisc({1, 3, 1});
    const auto start = Clock::now();
    ASSERT_TRUE(data->Play(1, 0));
    EXPECT_TRUE(data->IsPlaying());
    EXPECT_EQ(data->GetPlayTrack(), 2);
    EXPECT_EQ(view->statuses.at(1), "Playing ...");
    // Asked again while it plays: nothing new starts.
    EXPECT_TRUE(data->Play(0, 0));
    EXPECT_EQ(data->GetPlayTrack(), 2);

    Sleep(1000ms);
    const std::int32_t position = data->GetPlayerPosition();
    EXPECT_GT(position, 0);
    EXPECT_LT(position, 3 * kSecond);
    ASSERT_TRUE(WaitForEnd(30s));
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GE(elapsed, 0.8 * 3.0);

    const std::vector<int> periods = OutputSectors(Output(), TrackPcm(2));
    EXPECT_EQ(Audible(periods), SectorRun(0, 3 * kSecond));
    EXPECT_TRUE(data->StopPlay(false));
    EXPECT_FALSE(data->IsPlaying());
    EXPECT_EQ(view->statuses.at(1), "");
    EXPECT_EQ(data->GetPlayerPosition(), -1);
}

TEST_F(Play, AStartOffsetStartsThatManySecondsIn) {
    InsertDisc({5});
    ASSERT_TRUE(data->Play(0, 3));
    ASSERT_TRUE(WaitForEnd(30s));
    EXPECT_EQ(Audible(OutputSectors(Output(), TrackPcm(1))), SectorRun(3 * kSecond, 5 * kSecond));
    // The ripper grabs whole blocks again afterwards, from the start.
    data->StopPlay(false);
}

TEST_F(Play, ASeekContinuesFromTheNewPlaceWithNothingOfTheOldOneAfterIt) {
    InsertDisc({6});
    ASSERT_TRUE(data->Play(0, 0));
    Sleep(1200ms);
    ASSERT_TRUE(data->PlayerSeek(4));
    // The position answers the new place at once.
    EXPECT_GE(data->GetPlayerPosition(), 4 * kSecond);
    ASSERT_TRUE(WaitForEnd(30s));

    const std::vector<int> heard = Audible(OutputSectors(Output(), TrackPcm(1)));
    ASSERT_FALSE(heard.empty());
    // The start of the track up to some sector before the seek target, then
    // the target to the end: nothing else, nothing twice.
    const auto jump = std::find(heard.begin(), heard.end(), 4 * kSecond);
    ASSERT_NE(jump, heard.end());
    const auto before = static_cast<int>(jump - heard.begin());
    EXPECT_GT(before, kSecond / 2);
    EXPECT_LT(before, 3 * kSecond);
    EXPECT_EQ(std::vector<int>(heard.begin(), jump), SectorRun(0, before));
    EXPECT_EQ(std::vector<int>(jump, heard.end()), SectorRun(4 * kSecond, 6 * kSecond));
}

TEST_F(Play, ASeekBeyondTheEndFailsAndPlayingGoesOn) {
    InsertDisc({2});
    EXPECT_FALSE(data->PlayerSeek(1)); // nothing plays
    ASSERT_TRUE(data->Play(0, 0));
    Sleep(300ms);
    EXPECT_FALSE(data->PlayerSeek(2));
    EXPECT_FALSE(data->PlayerSeek(60));
    EXPECT_FALSE(data->PlayerSeek(-1));
    EXPECT_TRUE(data->IsPlaying());
    EXPECT_FALSE(data->IsPlayEnded());
    ASSERT_TRUE(WaitForEnd(30s));
    EXPECT_EQ(Audible(OutputSectors(Output(), TrackPcm(1))), SectorRun(0, 2 * kSecond));
}

TEST_F(Play, PauseStopsTheDevicesOutputUntilResume) {
    InsertDisc({3});
    ASSERT_TRUE(data->Play(0, 0));
    Sleep(800ms);
    ASSERT_TRUE(data->Pause(true));
    // Twice: the state stays.
    EXPECT_TRUE(data->Pause(true));
    EXPECT_TRUE(data->IsPlayPaused());
    EXPECT_TRUE(data->Player().IsPaused());
    const std::int32_t pausedAt = data->GetPlayerPosition();
    Sleep(100ms);
    const std::size_t from = Output().size();
    Sleep(1000ms);
    const qmtest::Bytes during = Output();
    // The device went on at its pace, with silence only.
    ASSERT_GT(during.size(), from + 40 * kPeriod);
    EXPECT_TRUE(std::all_of(during.begin() + static_cast<std::ptrdiff_t>(from), during.end(),
                            [](std::uint8_t byte) { return byte == 0; }));
    EXPECT_EQ(data->GetPlayerPosition(), pausedAt);

    ASSERT_TRUE(data->Pause(false));
    EXPECT_FALSE(data->IsPlayPaused());
    ASSERT_TRUE(WaitForEnd(30s));
    const std::vector<int> periods = OutputSectors(Output(), TrackPcm(1));
    EXPECT_EQ(Audible(periods), SectorRun(0, 3 * kSecond));
    // One silence of the pause's length in the middle.
    int longest = 0;
    int run = 0;
    bool begun = false;
    for (const int period : periods) {
        begun = begun || period >= 0;
        run = period == kSilence && begun ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    EXPECT_GE(longest, 70);
}

TEST_F(Play, StopEndsAtOnceAndPutsTheStatusBack) {
    InsertDisc({1, 20});
    list->SetStatus(1, "Complete");
    ASSERT_TRUE(data->Play(1, 0));
    EXPECT_EQ(list->GetStatus(1), "Playing ...");
    Sleep(500ms);
    const auto start = Clock::now();
    EXPECT_TRUE(data->StopPlay(false));
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_TRUE(data->IsPlayEnded());
    EXPECT_EQ(list->GetStatus(1), "Complete");
    EXPECT_FALSE(data->Player().IsOpened());
    // What was heard is the start of the track, and it can play again.
    const std::vector<int> heard = Audible(OutputSectors(Output(), TrackPcm(2)));
    EXPECT_EQ(heard, SectorRun(0, static_cast<int>(heard.size())));
    ASSERT_TRUE(data->Play(0, 0));
    ASSERT_TRUE(WaitForEnd(30s));
}

TEST_F(Play, StopRightAfterPlayDoesNotWaitForTheTrack) {
    InsertDisc({30});
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        ASSERT_TRUE(data->Play(0, 0));
        EXPECT_TRUE(data->StopPlay(false));
        EXPECT_LT(Clock::now() - start, 5s);
    }
}

TEST_F(Play, ADeviceBeyondTheListPlaysNothingAndSaysWhy) {
    InsertDisc({2});
    data->Settings().player.PlaybackDevice = 3;
    ASSERT_TRUE(data->Play(0, 0));
    ASSERT_TRUE(WaitForEnd(10s));
    EXPECT_EQ(data->Player().GetLastNotifyCode(), CPlayer::kNotifyBadDevice);
    const CErrorItem* item = g_Error.GetLastActual();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->module, qm::mod::kPlayer);
    EXPECT_EQ(item->code, qm::err::kBadPlaybackDevice);
    EXPECT_FALSE(std::filesystem::exists(deviceFile));
    data->StopPlay(false);
    g_Error.ResetAll();

    data->Settings().player.PlaybackDevice = -1;
    EXPECT_FALSE(data->Play(0, 0));
    EXPECT_FALSE(data->IsPlaying());
}

TEST_F(Play, ADiscImageCannotPlayAnalogAndNothingBreaks) {
    InsertDisc({2});
    data->Settings().player.HowToPlay = 0;
    EXPECT_FALSE(data->Play(0, 0));
    EXPECT_FALSE(data->IsPlaying());
    EXPECT_EQ(data->GetPlayerPosition(), -1);
    EXPECT_FALSE(data->Pause(true));
    EXPECT_FALSE(data->PlayerSeek(0));
    EXPECT_TRUE(data->StopPlay(false));
    EXPECT_EQ(view->statuses.at(0), "");
}

TEST_F(Play, AGrabAfterPlayingReadsWholeBlocksFromTheStart) {
    InsertDisc({3});
    ASSERT_TRUE(data->Play(0, 1));
    Sleep(300ms);
    data->StopPlay(false);
    // A sink of its own, as a grab's chain is.
    CWAVWriter& wav = data->Stages().wav;
    const auto path = dir / "after.wav";
    wav.Open(path.c_str());
    const qm::EventHandle finish = qm::Event::Create(false);
    wav.SetFinishEvent(finish);
    data->Ripper().SetCutEnabled(false);
    ASSERT_TRUE(data->Ripper().ProcessSettings(1, &wav, true));
    EXPECT_EQ(data->Ripper().Start(), 1);
    EXPECT_TRUE(finish->IsSet());
    EXPECT_EQ(qmtest::WavPayload(path), TrackPcm(1));
}

} // namespace
} // namespace playertest
