#include "pipeline/Decoder.h"

#include "core/Trace.h"
#include "pipeline/Encoder.h"

CError* CDecoder::GetError() {
    QM_TRACE("Decoder");
    return m_error;
}

qm::EventHandle CDecoder::GetFinishEvent() {
    QM_TRACE("Decoder");
    return m_finishEvent;
}

CEncoder* CDecoder::GetEncoder() {
    QM_TRACE("Decoder");
    return m_sink;
}

CProgress* CDecoder::GetProgress() {
    QM_TRACE("Decoder");
    return m_progress;
}

bool CDecoder::IsAnyError() {
    QM_TRACE("Decoder");
    return m_error != nullptr && m_error->IsAnyActual();
}

void CDecoder::SetError(CError* error) {
    QM_TRACE("Decoder");
    m_error = error;
    if (m_sink != nullptr) {
        m_sink->SetError(error);
    }
}

void CDecoder::InitProgress(CProgress* /*progress*/) {
    QM_TRACE("Decoder");
}

std::int32_t CDecoder::Start() {
    QM_TRACE("Decoder");
    return 0;
}

void CDecoder::Stop(bool /*complete*/) {
    QM_TRACE("Decoder");
}

void CDecoder::SetFinishEvent(qm::EventHandle event) {
    QM_TRACE("Decoder");
    m_finishEvent = std::move(event);
    if (m_sink != nullptr) {
        m_sink->SetFinishEvent(m_finishEvent);
    }
}

namespace qm {

bool WaitBeforeBlock(const EventHandle& terminate, const EventHandle& ready,
                     const EventHandle& pause) {
    if (ready) {
        if (WaitForAny(terminate, ready, kInfinite) == 0) {
            return false;
        }
    } else if (terminate && terminate->IsSet()) {
        return false;
    }
    if (pause) {
        if (WaitForAny(terminate, pause, kInfinite) == 0) {
            return false;
        }
    }
    return !(terminate && terminate->IsSet());
}

} // namespace qm
