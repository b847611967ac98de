#include "player/SoundPlayer.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include <SDL.h>
#include <sndfile.h>

#include "core/Trace.h"
#include "player/SdlAudio.h"

namespace {

// A notification, not an album: longer files are cut here.
constexpr sf_count_t kMaxSeconds = 600;

} // namespace

CSoundPlayer::CSoundPlayer() : m_audio(std::make_unique<qm::SdlAudio>()) {
    QM_TRACE("SoundPlayer");
}

CSoundPlayer::~CSoundPlayer() {
    QM_TRACE("SoundPlayer");
    Stop();
}

void CSoundPlayer::Stop() {
    QM_TRACE("SoundPlayer");
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_watcher.joinable()) {
        m_watcher.join();
    }
}

bool CSoundPlayer::IsPlaying() {
    QM_TRACE("SoundPlayer");
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_playing;
}

bool CSoundPlayer::Play(const std::string& path) {
    QM_TRACE("SoundPlayer");
    Stop();
    if (!m_audio->IsReady()) {
        QM_RETURN(0, false);
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        QM_RETURN(1, false);
    }
    std::vector<short> samples;
    if (info.channels > 0 && info.channels <= 8 && info.samplerate > 0) {
        const sf_count_t frames = std::min<sf_count_t>(info.frames, kMaxSeconds * info.samplerate);
        samples.resize(static_cast<std::size_t>(frames * info.channels));
        samples.resize(
            static_cast<std::size_t>(sf_readf_short(file, samples.data(), frames) * info.channels));
    }
    sf_close(file);
    if (samples.empty()) {
        QM_RETURN(2, false);
    }
    SDL_AudioSpec wanted{};
    wanted.freq = info.samplerate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(info.channels);
    wanted.samples = 1024;
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (device == 0) {
        QM_RETURN(3, false);
    }
    SDL_QueueAudio(device, samples.data(), static_cast<Uint32>(samples.size() * sizeof(short)));
    SDL_PauseAudioDevice(device, 0);
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_stop = false;
        m_playing = true;
    }
    m_watcher = std::thread(&CSoundPlayer::Watch, this, device);
    QM_RETURN(4, true);
}

void CSoundPlayer::Watch(std::uint32_t device) {
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stop && SDL_GetQueuedAudioSize(device) > 0) {
        m_wake.wait_for(lock, std::chrono::milliseconds(20));
    }
    lock.unlock();
    // What the device took last is still to be heard.
    if (!m_stop) {
        SDL_Delay(100);
    }
    SDL_CloseAudioDevice(device);
    lock.lock();
    m_playing = false;
}
