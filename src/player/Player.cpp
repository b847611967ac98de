#include "player/Player.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include <SDL.h>

#include "core/Error.h"
#include "core/Trace.h"
#include "player/SdlAudio.h"

namespace {

constexpr auto kStopSettle = std::chrono::milliseconds(10);
// One sector of CD audio per device period, as the source writes them.
constexpr Uint16 kDeviceFrames = 588;

SDL_AudioFormat SdlFormat(std::uint16_t bits) {
    switch (bits) {
    case 8:
        return AUDIO_S8; // the stages carry 8-bit samples signed
    case 16:
        return AUDIO_S16LSB;
    case 32:
        return AUDIO_S32LSB;
    default:
        return 0;
    }
}

} // namespace

CPlayer::CPlayer() : m_audio(std::make_unique<qm::SdlAudio>()) {
    QM_TRACE("Player");
    // Its own event rather than the writers' shared one: a player that
    // could not open must not leave a later grab waiting for ever.
    m_readyEvent = qm::Event::Create(false);
}

CPlayer::~CPlayer() {
    QM_TRACE("Player");
    if (m_opened.load()) {
        m_playing.store(false);
        Close(false);
    }
}

int CPlayer::GetDeviceCount() {
    QM_TRACE("Player");
    const qm::SdlAudio audio;
    QM_RETURN(0, audio.DeviceCount());
}

std::string CPlayer::GetDeviceName(int index) {
    QM_TRACE("Player");
    const qm::SdlAudio audio;
    QM_RETURN(0, audio.DeviceName(index));
}

void CPlayer::InitProgress(CProgress* /*progress*/, bool /*addProcess*/) {
    QM_TRACE("Player");
}

void CPlayer::SetSeekEvent(qm::EventHandle event) {
    QM_TRACE("Player");
    const std::lock_guard<std::mutex> lock(m_tableLock);
    m_seekEvent = std::move(event);
}

void CPlayer::Notify(int code, int error) {
    QM_TRACE("Player");
    m_lastNotifyCode.store(code);
    ReportError(error, qm::mod::kPlayer);
    m_readyEvent->Reset();
    if (m_notify) {
        m_notify(code);
    }
}

bool CPlayer::Open() {
    QM_TRACE_AS("Open", "Player");
    const std::lock_guard<std::mutex> device(m_deviceLock);
    m_queued.store(0);
    m_readyEvent->Set();
    m_playedFrames.store(m_startTime.exchange(0) * static_cast<std::int32_t>(m_sampleRate.load()));
    m_lastNotifyCode.store(0);

    const std::int32_t id = m_deviceId.load();
    if (!m_audio->IsReady() || id < 0 || id >= m_audio->DeviceCount()) {
        Notify(kNotifyBadDevice, qm::err::kBadPlaybackDevice);
        QM_RETURN(0, false);
    }
    const SDL_AudioFormat format = SdlFormat(m_bits);
    if (format == 0) {
        Notify(kNotifyOpenFailed, qm::err::kPlaybackDeviceBusy);
        QM_RETURN(1, false);
    }
    {
        const std::lock_guard<std::mutex> table(m_tableLock);
        m_table.clear();
    }
    SDL_AudioSpec wanted{};
    wanted.freq = static_cast<int>(m_sampleRate.load());
    wanted.format = format;
    wanted.channels = static_cast<Uint8>(m_channels);
    wanted.samples = kDeviceFrames;
    wanted.callback = &CPlayer::Callback;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    const std::string name = m_audio->DeviceName(id);
    // No changes allowed: SDL converts to what the hardware takes.
    const SDL_AudioDeviceID handle =
        SDL_OpenAudioDevice(name.empty() ? nullptr : name.c_str(), 0, &wanted, &obtained, 0);
    if (handle == 0) {
        Notify(kNotifyOpenFailed, qm::err::kPlaybackDeviceBusy);
        QM_RETURN(2, false);
    }
    m_device.store(handle);
    m_opened.store(true);
    m_paused.store(false);
    SDL_PauseAudioDevice(handle, 0);
    QM_RETURN(3, true);
}

std::int32_t CPlayer::SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                    std::int32_t bitsPerSample) {
    QM_TRACE("Player");
    if (!m_opened.load()) {
        m_sampleRate.store(sampleRate);
        m_channels = channels;
        m_bits = static_cast<std::uint16_t>(bitsPerSample);
        m_blockAlign = static_cast<std::uint16_t>(channels * bitsPerSample / 8);
    }
    m_paused.store(false);
    if (!m_opened.load() && !Open()) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, 0);
}

WriteResult CPlayer::Write(const void* data, std::int32_t frames) {
    QM_TRACE("Player");
    if (!m_opened.load() || frames <= 0 || data == nullptr) {
        QM_RETURN(0, WriteResult::Accepted);
    }
    const auto bytes = static_cast<std::size_t>(frames) * m_blockAlign;
    const auto* first = static_cast<const std::uint8_t*>(data);
    std::unique_lock<std::mutex> lock(m_tableLock);
    if (m_seekEvent && m_seekEvent->IsSet()) {
        // Read before the seek the source is about to take.
        QM_RETURN(1, WriteResult::Accepted);
    }
    m_playing.store(true);
    m_playedFrames.fetch_add(frames);
    m_table.push_back(Block{std::vector<std::uint8_t>(first, first + bytes), 0});
    if (m_queued.fetch_add(1) + 1 > kSlotCount) {
        m_readyEvent->Reset();
    }
    QM_RETURN(2, WriteResult::Accepted);
}

void CPlayer::Callback(void* player, std::uint8_t* stream, int length) {
    static_cast<CPlayer*>(player)->Fill(stream, length);
}

void CPlayer::Fill(std::uint8_t* stream, int length) {
    auto left = static_cast<std::size_t>(std::max(length, 0));
    {
        const std::lock_guard<std::mutex> lock(m_tableLock);
        while (left > 0 && !m_table.empty()) {
            Block& block = m_table.front();
            const std::size_t take = std::min(left, block.bytes.size() - block.played);
            std::memcpy(stream, block.bytes.data() + block.played, take);
            stream += take;
            left -= take;
            block.played += take;
            if (block.played == block.bytes.size()) {
                m_table.pop_front();
                if (m_queued.fetch_sub(1) - 1 < kSlotCount) {
                    m_readyEvent->Set();
                }
            }
        }
    }
    // Nothing more to play: silence (0 for the signed formats).
    std::memset(stream, 0, left);
    m_played.notify_all();
}

void CPlayer::DropQueue() {
    QM_TRACE("Player");
    m_table.clear();
    m_queued.store(0);
    m_readyEvent->Set();
    m_played.notify_all();
}

bool CPlayer::Stop() {
    QM_TRACE("Player");
    if (!m_opened.load() || !m_playing.load()) {
        QM_RETURN(0, true);
    }
    m_playing.store(false);
    std::this_thread::sleep_for(kStopSettle);
    const std::lock_guard<std::mutex> lock(m_tableLock);
    DropQueue();
    QM_RETURN(1, true);
}

bool CPlayer::Pause(bool on) {
    QM_TRACE("Player");
    const std::lock_guard<std::mutex> device(m_deviceLock);
    if (!m_playing.load() || !m_opened.load() || on == m_paused.load()) {
        QM_RETURN(0, false);
    }
    SDL_PauseAudioDevice(m_device.load(), on ? 1 : 0);
    m_paused.store(on);
    QM_RETURN(1, true);
}

bool CPlayer::Reset(const std::function<bool()>& seek) {
    QM_TRACE("Player");
    const std::lock_guard<std::mutex> device(m_deviceLock);
    if (!m_opened.load() || m_device.load() == 0 || !m_playing.load()) {
        QM_RETURN(0, false);
    }
    {
        const std::lock_guard<std::mutex> lock(m_tableLock);
        if (seek && !seek()) {
            QM_RETURN(1, false);
        }
        DropQueue();
    }
    m_playing.store(true);
    if (m_paused.exchange(false)) {
        SDL_PauseAudioDevice(m_device.load(), 0);
    }
    QM_RETURN(2, true);
}

bool CPlayer::ResetTime(std::int32_t seconds, const std::function<bool()>& seek) {
    QM_TRACE("Player");
    const std::int32_t before = m_playedFrames.load();
    m_playedFrames.store(seconds * static_cast<std::int32_t>(m_sampleRate.load()));
    if (!Reset(seek)) {
        // The place did not change.
        if (seek) {
            m_playedFrames.store(before);
        }
        QM_RETURN(0, false);
    }
    QM_RETURN(1, true);
}

std::int32_t CPlayer::GetPosition() {
    QM_TRACE("Player");
    const std::uint32_t rate = m_sampleRate.load();
    if (!m_opened.load() || rate == 0) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, m_playedFrames.load() / static_cast<std::int32_t>(rate));
}

void CPlayer::Drain() {
    QM_TRACE("Player");
    std::unique_lock<std::mutex> lock(m_tableLock);
    // Until the device has played every block, or a Stop drops them; while
    // paused the wait goes on.
    while (m_playing.load() && !m_table.empty()) {
        m_played.wait_for(lock, std::chrono::milliseconds(20));
    }
}

void CPlayer::Close(bool complete) {
    QM_TRACE("Player");
    if (m_opened.load()) {
        if (complete) {
            Drain();
        }
        Stop();
        const std::lock_guard<std::mutex> device(m_deviceLock);
        // Waits for the device's thread: no callback runs after this.
        SDL_CloseAudioDevice(m_device.exchange(0));
        {
            const std::lock_guard<std::mutex> lock(m_tableLock);
            m_table.clear();
            m_queued.store(0);
        }
        m_opened.store(false);
        m_paused.store(false);
        m_playing.store(false);
    }
    m_readyEvent->Set();
    SignalFinish();
}
