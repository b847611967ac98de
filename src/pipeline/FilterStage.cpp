#include "pipeline/FilterStage.h"

#include "core/Error.h"
#include "core/Trace.h"

CFilterStage::CFilterStage(const char* classTag)
    : m_classTag(classTag), m_terminateEvent(qm::Event::Create(false)) {
    QM_TRACE(classTag);
}

qm::EventHandle CFilterStage::GetTerminateEvent() {
    QM_TRACE(m_classTag);
    return m_terminateEvent;
}

void CFilterStage::SetTerminateEvent(qm::EventHandle event) {
    QM_TRACE(m_classTag);
    m_terminateEvent = std::move(event);
}

bool CFilterStage::IsTerminated() {
    QM_TRACE(m_classTag);
    return m_terminateEvent && m_terminateEvent->IsSet();
}

void CFilterStage::Terminate() {
    QM_TRACE(m_classTag);
    if (m_terminateEvent) {
        m_terminateEvent->Set();
    }
}

bool CFilterStage::IsAnyError() {
    QM_TRACE(m_classTag);
    const CError* registry = Registry();
    return registry != nullptr && registry->IsAnyActual();
}

void CFilterStage::SetError(CError* error) {
    QM_TRACE(m_classTag);
    CDecoder::m_error = error;
    CEncoder::m_error = error;
    if (m_sink != nullptr) {
        m_sink->SetError(error);
    }
}

void CFilterStage::SetFinishEvent(qm::EventHandle event) {
    QM_TRACE(m_classTag);
    CEncoder::m_finishEvent = event;
    CDecoder::m_finishEvent = std::move(event);
    if (m_sink != nullptr) {
        m_sink->SetFinishEvent(CDecoder::m_finishEvent);
    }
}

CError* CFilterStage::Registry() const {
    QM_TRACE(m_classTag);
    // The upstream stage may have handed the registry to the sink face only.
    return CDecoder::m_error != nullptr ? CDecoder::m_error : CEncoder::m_error;
}

void CFilterStage::KeepTracker(CProgress* progress) {
    QM_TRACE(m_classTag);
    CDecoder::m_progress = progress;
    CEncoder::m_progress = progress;
}
