// What the two filter stages (normalizer, resampler) share: they are a sink
// for the stage before them and a source for the next sink at once, own a
// terminate event, and keep the registry, finish event and progress tracker
// in both faces so that either face finds them.
#pragma once

#include "pipeline/Decoder.h"
#include "pipeline/Encoder.h"

class CFilterStage : public CDecoder, public CEncoder {
public:
    // `classTag` names the stage in the trace.
    explicit CFilterStage(const char* classTag);

    qm::EventHandle GetTerminateEvent() override;
    void SetTerminateEvent(qm::EventHandle event) override;
    bool IsTerminated() override;
    void Terminate() override;
    bool IsAnyError() override;
    // Keeps the registry in both faces and hands it to the next sink.
    void SetError(CError* error) override;
    // Serves both faces: keeps the event and hands it to the next sink.
    void SetFinishEvent(qm::EventHandle event) override;

protected:
    CError* Registry() const;
    CProgress* Tracker() const { return CDecoder::m_progress; }
    void KeepTracker(CProgress* progress);

    const char* m_classTag;
    qm::EventHandle m_terminateEvent;
};
