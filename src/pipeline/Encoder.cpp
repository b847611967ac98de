#include "pipeline/Encoder.h"

#include "core/Trace.h"

void CEncoder::SetFinishEvent(qm::EventHandle event) {
    QM_TRACE("Encoder");
    m_finishEvent = std::move(event);
}

void CEncoder::InitProgress(CProgress* progress, bool addProcess) {
    QM_TRACE("Encoder");
    RegisterProcess(progress, addProcess, "Encoding");
}

std::int32_t CEncoder::Open(const char* /*fileName*/) {
    QM_TRACE("Encoder");
    return 0;
}

void CEncoder::RegisterProcess(CProgress* progress, bool addProcess, const char* description) {
    m_progress = progress;
    if (progress != nullptr && addProcess) {
        progress->Add(static_cast<std::uint32_t>(m_progressWeight), description);
    }
}

void CEncoder::ReportError(int code, int module, std::int32_t data, const char* text) {
    if (m_error != nullptr) {
        m_error->Add(code, module, data, text);
    }
}

void CEncoder::SignalFinish() {
    if (m_finishEvent) {
        m_finishEvent->Set();
    }
}
