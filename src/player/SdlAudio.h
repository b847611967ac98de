// The sound output of the platform: SDL's audio subsystem, started once for
// the whole process while any user holds it, and its list of output devices.
// SDL_AUDIODRIVER chooses the driver ("disk" writes what reaches the device
// into SDL_DISKAUDIOFILE at real-time pace; an unknown name leaves no device).
#pragma once

#include <string>

namespace qm {

class SdlAudio {
public:
    // Starts the audio subsystem (or counts one more user of it).
    SdlAudio();
    ~SdlAudio();
    SdlAudio(const SdlAudio&) = delete;
    SdlAudio& operator=(const SdlAudio&) = delete;

    // False when no audio driver could be started: there is no device then.
    bool IsReady() const { return m_ready; }
    // Output devices; 0 when the subsystem did not start.
    int DeviceCount() const;
    // "" for an index outside the list.
    std::string DeviceName(int index) const;

private:
    bool m_ready = false;
};

} // namespace qm
