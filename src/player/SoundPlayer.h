// Plays a sound file (the notification at the end of a grab) on the default
// output device without blocking its caller: the file is read whole with
// libsndfile, queued on the device, and the device is closed by a watcher
// thread once it has played out. A new sound replaces one still playing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qm {
class SdlAudio;
}

class CSoundPlayer {
public:
    CSoundPlayer();
    ~CSoundPlayer();
    CSoundPlayer(const CSoundPlayer&) = delete;
    CSoundPlayer& operator=(const CSoundPlayer&) = delete;

    // False when the file cannot be read or no device opens.
    bool Play(const std::string& path);
    // Ends the sound now.
    void Stop();
    // Any thread: true while a sound is queued or playing.
    bool IsPlaying();

private:
    void Watch(std::uint32_t device);

    std::unique_ptr<qm::SdlAudio> m_audio;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_playing = false;
    std::thread m_watcher;
};
