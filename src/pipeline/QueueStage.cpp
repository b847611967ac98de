#include "pipeline/QueueStage.h"

#include <cstring>
#include <system_error>

#include "core/Error.h"
#include "core/ErrorCodes.h"
#include "core/Trace.h"

CQueueStage::CQueueStage(std::size_t capacity) : m_capacity(capacity == 0 ? 1 : capacity) {
    QM_TRACE("QueueStage");
}

CQueueStage::~CQueueStage() {
    QM_TRACE("QueueStage");
    if (m_thread.joinable()) {
        Terminate();
        {
            // A source that never closed: the thread still needs its end.
            std::lock_guard<std::mutex> lock(m_lock);
            m_closing = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
}

bool CQueueStage::Begin() {
    QM_TRACE("QueueStage");
    try {
        m_thread = std::thread(&CQueueStage::Run, this);
    } catch (const std::system_error&) {
        ReportError(qm::err::kFunctionFailed, qm::mod::kApplication, 0, "CreateThread");
        if (m_sink != nullptr) {
            m_sink->Close(false);
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_closed = true;
        QM_RETURN(0, false);
    }
    QM_RETURN(1, true);
}

void CQueueStage::InitProgress(CProgress* progress, bool addProcess) {
    QM_TRACE("QueueStage");
    if (m_sink != nullptr) {
        m_sink->InitProgress(progress, addProcess);
    }
}

std::int32_t CQueueStage::SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                        std::int32_t bitsPerSample) {
    QM_TRACE("QueueStage");
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [this] { return (m_queue.empty() && !m_busy) || m_closed; });
    if (m_closed || m_failed || m_terminated || m_sink == nullptr) {
        QM_RETURN(0, -1);
    }
    const std::int32_t bytes = static_cast<std::int32_t>(channels) * (bitsPerSample / 8);
    m_frameBytes = bytes > 0 ? bytes : 4;
    // The queue's thread waits for a block and touches nothing of the sink
    // meanwhile; the lock hands what the sink set on to that thread.
    m_busy = true;
    lock.unlock();
    const std::int32_t result = m_sink->SetInputProps(sampleRate, channels, bitsPerSample);
    lock.lock();
    m_busy = false;
    if (result != 0) {
        m_failed = true;
    }
    m_changed.notify_all();
    QM_RETURN(1, result);
}

WriteResult CQueueStage::Write(const void* data, std::int32_t frames) {
    QM_TRACE("QueueStage");
    if (frames < 0 || (frames > 0 && data == nullptr)) {
        QM_RETURN(0, WriteResult::Refused);
    }
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [this] {
        return m_queue.size() < m_capacity || m_failed || m_terminated || m_closed;
    });
    if (m_failed || m_terminated || m_closed) {
        QM_RETURN(1, WriteResult::Refused);
    }
    Block block;
    if (!m_spare.empty()) {
        block.bytes = std::move(m_spare.back());
        m_spare.pop_back();
    }
    const auto size = static_cast<std::size_t>(frames) * static_cast<std::size_t>(m_frameBytes);
    block.bytes.resize(size);
    if (size > 0) {
        std::memcpy(block.bytes.data(), data, size);
    }
    block.frames = frames;
    m_queue.push_back(std::move(block));
    m_changed.notify_all();
    QM_RETURN(2, WriteResult::Accepted);
}

void CQueueStage::Close(bool complete) {
    QM_TRACE("QueueStage");
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_closing) {
            QM_RETURN(0);
        }
        m_closing = true;
        m_keep = complete;
    }
    m_changed.notify_all();
    if (!m_thread.joinable()) {
        // Never begun: the stage behind is closed here.
        bool closed = false;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            closed = m_closed;
            m_closed = true;
        }
        if (!closed && m_sink != nullptr) {
            m_sink->Close(false);
        }
    }
    QM_EXIT(1);
}

void CQueueStage::Terminate() {
    QM_TRACE("QueueStage");
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_closed) {
            QM_RETURN(0);
        }
        m_terminated = true;
    }
    m_changed.notify_all();
    QM_EXIT(1);
}

void CQueueStage::Wait() {
    QM_TRACE("QueueStage");
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [this] { return m_closed; });
        lock.unlock();
        m_thread.join();
    }
}

bool CQueueStage::Failed() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_failed;
}

void CQueueStage::Run() {
    QM_TRACE("QueueStage");
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_closing || m_terminated; });
        if (m_terminated || m_failed) {
            for (Block& block : m_queue) {
                m_spare.push_back(std::move(block.bytes));
            }
            m_queue.clear();
            m_changed.notify_all();
            if (!m_closing && !m_terminated) {
                continue; // refused: the rest is dropped until the source closes
            }
        }
        if (!m_queue.empty()) {
            Block block = std::move(m_queue.front());
            m_queue.pop_front();
            m_busy = true;
            m_changed.notify_all();
            lock.unlock();
            const WriteResult result = m_sink->Write(block.bytes.data(), block.frames);
            lock.lock();
            m_busy = false;
            if (result == WriteResult::Refused) {
                m_failed = true;
            }
            m_spare.push_back(std::move(block.bytes));
            m_changed.notify_all();
            continue;
        }
        if (m_closing || m_terminated) {
            break;
        }
    }
    const bool keep = m_keep && m_closing && !m_failed && !m_terminated;
    const bool cancelled = m_terminated;
    m_busy = true;
    lock.unlock();
    if (cancelled) {
        ReportError(qm::err::kCancelled, qm::mod::kApplication);
    }
    m_sink->Close(keep);
    lock.lock();
    m_busy = false;
    m_closed = true;
    m_changed.notify_all();
}
