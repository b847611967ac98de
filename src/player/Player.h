// The player: a sink stage that plays the PCM it is given on a sound output
// device (SDL audio). Each Write queues a copy of its block; the device's
// callback plays the blocks in order and frees each one it has played. The
// ready event holds the source back while more than kSlotCount blocks wait,
// so the device is never more than about 50 blocks ahead of what is heard.
//
// Threads: the source's thread calls Write, SetInputProps and Close; the
// window (or the terminal) calls Stop, Pause, Reset and the getters; SDL's
// audio thread runs the callback. The block table and the queued counter
// change under the table lock; the device handle under the device lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pipeline/Encoder.h"

namespace qm {
class SdlAudio;
}

class CPlayer : public CEncoder {
public:
    static constexpr int kSlotCount = 50;
    // Codes the notify function receives when the device cannot be opened.
    enum NotifyCode : int { kNotifyBadDevice = 1, kNotifyNoMemory = 2, kNotifyOpenFailed = 3 };
    using NotifyFunction = std::function<void(int code)>;

    CPlayer();
    ~CPlayer() override;

    // Output devices of the platform, for the settings page and the
    // "PlaybackDevice" index.
    static int GetDeviceCount();
    static std::string GetDeviceName(int index);

    void InitProgress(CProgress* progress, bool addProcess) override;
    WriteResult Write(const void* data, std::int32_t frames) override;
    // Opens the device when it is not open yet; -1 when it cannot be (the
    // error is filed and the notify function told why).
    std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                               std::int32_t bitsPerSample) override;
    // With `complete`, the blocks still queued are played out first (unless
    // Stop comes meanwhile). Always signals the finish event.
    void Close(bool complete) override;
    using CEncoder::Open;
    bool Open();

    // Drops every queued block. TRUE unless the device refused.
    bool Stop();
    // TRUE when the paused state changed.
    bool Pause(bool on);
    // Drops the queued blocks and plays on from whatever comes next. `seek`
    // runs under the table lock first; when it returns false nothing is
    // dropped. Blocks written while `SetSeekEvent`'s event is set were read
    // before the source took the seek and are dropped too, so nothing of
    // the old position is heard after the new one starts.
    bool Reset(const std::function<bool()>& seek = {});
    // Sets the time to `seconds`, then Reset; false when Reset was.
    bool ResetTime(std::int32_t seconds, const std::function<bool()>& seek = {});
    // Seconds handed to the device since the last time reset; -1 when closed.
    std::int32_t GetPosition();

    void SetDeviceId(std::int32_t id) { m_deviceId.store(id); }
    std::int32_t GetDeviceId() const { return m_deviceId.load(); }
    void SetStartTime(std::int32_t seconds) { m_startTime.store(seconds); }
    void SetPlaying(bool playing) { m_playing.store(playing); }
    bool IsPlaying() const { return m_playing.load(); }
    bool IsPaused() const { return m_paused.load(); }
    bool IsOpened() const { return m_opened.load(); }
    void SetNotify(NotifyFunction notify) { m_notify = std::move(notify); }
    // The last code sent to the notify function; 0 after a good Open.
    int GetLastNotifyCode() const { return m_lastNotifyCode.load(); }
    void SetSeekEvent(qm::EventHandle event);
    int GetQueued() const { return m_queued.load(); }

private:
    struct Block {
        std::vector<std::uint8_t> bytes;
        std::size_t played = 0;
    };
    static void Callback(void* player, std::uint8_t* stream, int length);
    void Fill(std::uint8_t* stream, int length);
    void Notify(int code, int error);
    void DropQueue();
    void Drain();

    std::unique_ptr<qm::SdlAudio> m_audio;
    NotifyFunction m_notify;
    std::atomic<int> m_lastNotifyCode{0};
    std::atomic<std::int32_t> m_playedFrames{0};
    std::atomic<std::int32_t> m_startTime{0};
    std::atomic<int> m_queued{0};
    std::atomic<bool> m_opened{false};
    std::atomic<bool> m_playing{false};
    std::atomic<bool> m_paused{false};
    std::atomic<std::uint32_t> m_device{0};
    std::atomic<std::int32_t> m_deviceId{0};
    std::atomic<std::uint32_t> m_sampleRate{44100};
    std::uint16_t m_channels = 2;
    std::uint16_t m_bits = 16;
    std::uint16_t m_blockAlign = 4;
    // The device handle: opened, paused and closed under it.
    std::mutex m_deviceLock;
    // The block table (every queued block, in playing order) and the seek
    // event, shared with the device callback.
    std::mutex m_tableLock;
    std::deque<Block> m_table;
    qm::EventHandle m_seekEvent;
    std::condition_variable m_played;
};
