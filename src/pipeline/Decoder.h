// The source face of a stage: produces PCM and pushes it, block by block and
// by plain synchronous calls, into the head of the chain (`Start`).
#pragma once

#include <cstdint>

#include "platform/Event.h"

class CEncoder;
class CError;
class CProgress;

class CDecoder {
public:
    CDecoder() = default;
    CDecoder(const CDecoder&) = delete;
    CDecoder& operator=(const CDecoder&) = delete;
    virtual ~CDecoder() = default;

    virtual qm::EventHandle GetTerminateEvent() = 0;
    virtual void SetTerminateEvent(qm::EventHandle event) = 0;
    virtual bool IsTerminated() = 0;
    virtual void Terminate() = 0;
    virtual CError* GetError();
    virtual qm::EventHandle GetFinishEvent();
    virtual CEncoder* GetEncoder();
    virtual CProgress* GetProgress();
    virtual bool IsAnyError();
    // Keeps the registry and hands it on to the sink, when there is one.
    virtual void SetError(CError* error);
    virtual void InitProgress(CProgress* progress);
    // Runs the whole transfer in the calling thread. 1 ended normally or was
    // terminated, 0 failed.
    virtual std::int32_t Start();
    virtual void Stop(bool complete);
    virtual bool Open(const char* fileName, CEncoder* sink) = 0;
    // Keeps the event and hands it on to the sink, when there is one.
    virtual void SetFinishEvent(qm::EventHandle event);

    void SetEncoder(CEncoder* sink) { m_sink = sink; }
    std::int32_t GetProgressWeight() const { return m_progressWeight; }

protected:
    CEncoder* m_sink = nullptr;
    CProgress* m_progress = nullptr;
    qm::EventHandle m_finishEvent;
    CError* m_error = nullptr;
    std::int32_t m_progressWeight = 100;
};

namespace qm {

// The waits a source makes before each block: until the head's ready event
// or terminate, then until pause is signalled (running) or terminate. False
// when terminate ended a wait. A null ready or pause event does not hold the
// source back.
bool WaitBeforeBlock(const EventHandle& terminate, const EventHandle& ready,
                     const EventHandle& pause);

} // namespace qm
