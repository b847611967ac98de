#include "player/SdlAudio.h"

#include <mutex>

#include <SDL.h>

namespace qm {

namespace {

// SDL_InitSubSystem and SDL_QuitSubSystem are not safe from two threads at
// once; the window, the player's worker and the sound may start it.
std::mutex& InitLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

SdlAudio::SdlAudio() {
    const std::lock_guard<std::mutex> lock(InitLock());
    m_ready = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

SdlAudio::~SdlAudio() {
    if (m_ready) {
        const std::lock_guard<std::mutex> lock(InitLock());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

int SdlAudio::DeviceCount() const {
    if (!m_ready) {
        return 0;
    }
    const int count = SDL_GetNumAudioDevices(0);
    return count < 0 ? 0 : count;
}

std::string SdlAudio::DeviceName(int index) const {
    if (!m_ready || index < 0 || index >= DeviceCount()) {
        return {};
    }
    const char* name = SDL_GetAudioDeviceName(index, 0);
    return name != nullptr ? std::string(name) : std::string();
}

} // namespace qm
