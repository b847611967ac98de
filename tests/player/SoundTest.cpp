// The completion sound: the file is read with libsndfile and heard on the
// device while the caller goes on.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "PlayerFixture.h"

namespace playertest {
namespace {

using namespace std::chrono_literals;

void WriteWav(const fs::path& path, const qmtest::Bytes& pcm) {
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    const std::vector<std::int16_t> samples = qmtest::ToSamples16(pcm);
    sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

class Sound : public PlayerFixture {};

TEST_F(Sound, TheSoundFilePlaysWithoutHoldingTheCallerUp) {
    const qmtest::PcmFormat mono{22050, 1, 16};
    const qmtest::Bytes pcm = qmtest::Noise(mono, 0.5, 0.4, 3);
    const fs::path wav = dir / "done.wav";
    WriteWav(wav, pcm);
    data->Settings().player.EnableSound = true;
    data->Settings().player.SoundFile = wav.string();

    const auto start = Clock::now();
    data->PlaySound();
    EXPECT_LT(Clock::now() - start, 400ms);
    EXPECT_TRUE(data->SoundPlayer().IsPlaying());
    const auto until = Clock::now() + 10s;
    while (data->SoundPlayer().IsPlaying() && Clock::now() < until) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_FALSE(data->SoundPlayer().IsPlaying());
    const qmtest::Bytes output = Output();
    EXPECT_NE(std::search(output.begin(), output.end(), pcm.begin(), pcm.end()), output.end());
}

TEST_F(Sound, NothingPlaysWithoutANameOrWhenSwitchedOff) {
    data->Settings().player.EnableSound = true;
    data->Settings().player.SoundFile = "";
    data->PlaySound();
    EXPECT_FALSE(data->SoundPlayer().IsPlaying());

    const fs::path wav = dir / "done.wav";
    WriteWav(wav, qmtest::Noise({22050, 1, 16}, 0.2, 0.4));
    data->Settings().player.EnableSound = false;
    data->Settings().player.SoundFile = wav.string();
    data->PlaySound();
    EXPECT_FALSE(data->SoundPlayer().IsPlaying());
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(fs::exists(deviceFile));
}

TEST_F(Sound, AFileThatIsNoSoundIsRefused) {
    const fs::path text = dir / "notes.txt";
    qmtest::WriteText(text, "not a sound");
    EXPECT_FALSE(data->SoundPlayer().Play(text.string()));
    EXPECT_FALSE(data->SoundPlayer().Play((dir / "missing.wav").string()));
    EXPECT_FALSE(data->SoundPlayer().IsPlaying());
}

} // namespace
} // namespace playertest
