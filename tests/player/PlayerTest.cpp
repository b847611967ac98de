// The player stage on its own: the device list, a device it cannot open,
// the flow control of its ready event, pause and the time it reports.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PlayerFixture.h"
#include "core/Error.h"
#include "platform/Event.h"
#include "player/Player.h"
#include "support/Environment.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using playertest::kPeriod;

qmtest::Bytes Frames(int sectors, std::uint8_t fill) {
    return qmtest::Bytes(static_cast<std::size_t>(sectors) * kPeriod, fill);
}

class PlayerStage : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    std::filesystem::path deviceFile = dir / "device.raw";
    qmtest::EnvironmentGuard driver{"SDL_AUDIODRIVER", "disk"};
    qmtest::EnvironmentGuard file{"SDL_DISKAUDIOFILE", deviceFile.c_str()};
};

TEST_F(PlayerStage, TheFileDriverHasOneDeviceAndAnUnknownDriverNone) {
    EXPECT_EQ(CPlayer::GetDeviceCount(), 1);
    EXPECT_FALSE(CPlayer::GetDeviceName(0).empty());
    EXPECT_EQ(CPlayer::GetDeviceName(1), "");
    EXPECT_EQ(CPlayer::GetDeviceName(-1), "");

    const qmtest::EnvironmentGuard none("SDL_AUDIODRIVER", "nosuchdriver");
    EXPECT_EQ(CPlayer::GetDeviceCount(), 0);
    EXPECT_EQ(CPlayer::GetDeviceName(0), "");
}

TEST_F(PlayerStage, ADeviceBeyondTheListFailsWithCodeOneAndPlaysNothing) {
    for (const int device : {1, 7}) {
        CError error;
        CPlayer player;
        int notified = 0;
        player.SetNotify([&](int code) { notified = code; });
        player.SetError(&error);
        const qm::EventHandle finish = qm::Event::Create(false);
        player.SetFinishEvent(finish);
        player.SetDeviceId(device);

        EXPECT_EQ(player.SetInputProps(44100, 2, 16), -1);
        EXPECT_FALSE(player.IsOpened());
        EXPECT_EQ(notified, CPlayer::kNotifyBadDevice);
        EXPECT_EQ(player.GetLastNotifyCode(), 1);
        // The source would wait: nothing is to be written.
        EXPECT_FALSE(player.GetReadyEvent()->IsSet());
        ASSERT_NE(error.GetLastActual(), nullptr);
        EXPECT_EQ(error.GetLastActual()->code, qm::err::kBadPlaybackDevice);
        EXPECT_EQ(error.GetLastActual()->module, qm::mod::kPlayer);
        EXPECT_EQ(player.Write(Frames(1, 5).data(), 588), WriteResult::Accepted);
        EXPECT_EQ(player.GetPosition(), -1);
        player.Close(false);
        EXPECT_TRUE(finish->IsSet());
        EXPECT_FALSE(std::filesystem::exists(deviceFile));
    }
}

TEST_F(PlayerStage, NoAudioDriverIsTheSameFailure) {
    const qmtest::EnvironmentGuard none("SDL_AUDIODRIVER", "nosuchdriver");
    CPlayer player;
    player.SetDeviceId(0);
    EXPECT_FALSE(player.Open());
    EXPECT_EQ(player.GetLastNotifyCode(), CPlayer::kNotifyBadDevice);
}

TEST_F(PlayerStage, MoreThanFiftyQueuedBlocksHoldTheSourceBackUntilTheDevicePlays) {
    CPlayer player;
    player.SetPlaying(true);
    ASSERT_EQ(player.SetInputProps(44100, 2, 16), 0);
    EXPECT_TRUE(player.GetReadyEvent()->IsSet());
    player.Pause(true); // nothing drains meanwhile
    const qmtest::Bytes block = Frames(1, 9);
    for (int i = 0; i < CPlayer::kSlotCount; ++i) {
        ASSERT_EQ(player.Write(block.data(), 588), WriteResult::Accepted);
    }
    EXPECT_TRUE(player.GetReadyEvent()->IsSet());
    ASSERT_EQ(player.Write(block.data(), 588), WriteResult::Accepted);
    EXPECT_EQ(player.GetQueued(), CPlayer::kSlotCount + 1);
    EXPECT_FALSE(player.GetReadyEvent()->IsSet());
    // Every block is held, however many were written.
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(player.Write(block.data(), 588), WriteResult::Accepted);
    }
    EXPECT_EQ(player.GetQueued(), CPlayer::kSlotCount + 21);

    player.Pause(false);
    EXPECT_TRUE(player.GetReadyEvent()->Wait(5s));
    EXPECT_LT(player.GetQueued(), CPlayer::kSlotCount);
    player.Close(true);
    EXPECT_EQ(player.GetQueued(), 0);
    const qmtest::Bytes output = qmtest::ReadFile(deviceFile);
    std::size_t played = 0;
    for (const std::uint8_t byte : output) {
        played += byte == 9 ? 1 : 0;
    }
    // Closing complete plays out every block.
    EXPECT_EQ(played, (CPlayer::kSlotCount + 21) * kPeriod);
}

TEST_F(PlayerStage, PauseChangesTheStateOnceAndOnlyWhilePlaying) {
    CPlayer player;
    EXPECT_FALSE(player.Pause(true)); // not open
    ASSERT_EQ(player.SetInputProps(44100, 2, 16), 0);
    EXPECT_FALSE(player.Pause(true)); // nothing written yet
    const qmtest::Bytes block = Frames(1, 3);
    ASSERT_EQ(player.Write(block.data(), 588), WriteResult::Accepted);
    EXPECT_TRUE(player.Pause(true));
    EXPECT_FALSE(player.Pause(true));
    EXPECT_TRUE(player.IsPaused());
    EXPECT_TRUE(player.Pause(false));
    EXPECT_FALSE(player.Pause(false));
    EXPECT_FALSE(player.IsPaused());
    player.Close(false);
}

TEST_F(PlayerStage, PositionCountsWhatWasHandedOverAndResetTimeSetsIt) {
    CPlayer player;
    player.SetStartTime(2);
    ASSERT_EQ(player.SetInputProps(44100, 2, 16), 0);
    EXPECT_EQ(player.GetPosition(), 2);
    const qmtest::Bytes second = Frames(75, 1);
    ASSERT_EQ(player.Write(second.data(), 44100), WriteResult::Accepted);
    EXPECT_EQ(player.GetPosition(), 3);
    EXPECT_TRUE(player.ResetTime(10));
    EXPECT_EQ(player.GetPosition(), 10);
    EXPECT_EQ(player.GetQueued(), 0);
    // A seek the source refuses leaves time and queue alone.
    ASSERT_EQ(player.Write(second.data(), 44100), WriteResult::Accepted);
    EXPECT_FALSE(player.ResetTime(30, [] { return false; }));
    EXPECT_EQ(player.GetPosition(), 11);
    EXPECT_EQ(player.GetQueued(), 1);
    player.Close(false);
    EXPECT_EQ(player.GetPosition(), -1);
}

TEST_F(PlayerStage, BlocksWrittenWhileASeekIsPendingAreDropped) {
    CPlayer player;
    const qm::EventHandle seek = qm::Event::Create(false);
    player.SetSeekEvent(seek);
    ASSERT_EQ(player.SetInputProps(44100, 2, 16), 0);
    player.SetPlaying(true);
    player.Pause(true);
    const qmtest::Bytes block = Frames(1, 4);
    ASSERT_EQ(player.Write(block.data(), 588), WriteResult::Accepted);
    seek->Set();
    ASSERT_EQ(player.Write(block.data(), 588), WriteResult::Accepted);
    EXPECT_EQ(player.GetQueued(), 1);
    seek->Reset();
    ASSERT_EQ(player.Write(block.data(), 588), WriteResult::Accepted);
    EXPECT_EQ(player.GetQueued(), 2);
    player.Close(false);
}

} // namespace
