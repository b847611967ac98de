// The sink face of a stage: consumes PCM blocks (counted in frames) after
// SetInputProps has announced their format, and signals the job's finish
// event as the very last step of Close.
#pragma once

#include <cstdint>

#include "platform/Event.h"

class CError;
class CLog;
class CProgress;

// A stage's answer to a block. A refusal ends the stream: the source stops
// delivering and closes the chain as incomplete, whether or not the stage
// filed an error.
enum class [[nodiscard]] WriteResult{Accepted, Refused};

class CEncoder {
public:
    // The flow-control event the WAV, MP3, Ogg, WMA writers and the player
    // share (see the player for who resets it).
    static constexpr const char* kReadyEventName = "Ready Event Player";

    CEncoder() = default;
    CEncoder(const CEncoder&) = delete;
    CEncoder& operator=(const CEncoder&) = delete;
    virtual ~CEncoder() = default;

    virtual void SetFinishEvent(qm::EventHandle event);
    // Keeps the tracker and, when addProcess is true, registers this sink's
    // process with progressWeight and `description`.
    virtual void InitProgress(CProgress* progress, bool addProcess);
    virtual WriteResult Write(const void* data, std::int32_t frames) = 0;
    // 0 accepted, -1 refused.
    virtual std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                       std::int32_t bitsPerSample) = 0;
    // complete false: the stream was aborted and the output must not survive.
    virtual void Close(bool complete) = 0;
    virtual std::int32_t Open(const char* fileName);

    void SetError(CError* error) { m_error = error; }
    void SetLog(CLog* log) { m_log = log; }

    const qm::EventHandle& GetReadyEvent() const { return m_readyEvent; }
    std::int32_t GetProgressWeight() const { return m_progressWeight; }
    std::int32_t IsStreaming() const { return m_streaming; }
    void SetStreaming(std::int32_t streaming) { m_streaming = streaming; }

protected:
    // Registers a process named `description` when asked (see InitProgress).
    void RegisterProcess(CProgress* progress, bool addProcess, const char* description);
    // Files an error when a registry is attached.
    void ReportError(int code, int module, std::int32_t data = 0, const char* text = nullptr);
    void SignalFinish();

    CLog* m_log = nullptr;
    std::int32_t m_progressWeight = 100;
    CError* m_error = nullptr;
    qm::EventHandle m_finishEvent;
    CProgress* m_progress = nullptr;
    qm::EventHandle m_readyEvent;
    std::int32_t m_streaming = 0;
};
