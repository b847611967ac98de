#include "jobs/FileTasks.h"

#include <utility>

#include "core/Trace.h"

CFileTasks::~CFileTasks() {
    if (m_thread.joinable()) {
        Flush();
        m_thread.request_stop();
        m_changed.notify_all();
    }
}

void CFileTasks::Post(Task task) {
    QM_TRACE("FileTasks");
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_tasks.push_back(std::move(task));
    }
    if (!m_thread.joinable()) {
        m_thread = std::jthread([this](const std::stop_token& stop) { Run(stop); });
    }
    m_changed.notify_all();
    QM_EXIT(0);
}

void CFileTasks::Flush() {
    QM_TRACE("FileTasks");
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [this] { return m_tasks.empty() && !m_busy; });
    QM_EXIT(0);
}

std::vector<std::string> CFileTasks::TakeNotes() {
    std::lock_guard<std::mutex> lock(m_lock);
    return std::exchange(m_notes, {});
}

void CFileTasks::Run(const std::stop_token& stop) {
    QM_TRACE("FileTasks");
    std::unique_lock<std::mutex> lock(m_lock);
    while (true) {
        m_changed.wait(lock, stop, [this] { return !m_tasks.empty(); });
        if (m_tasks.empty()) {
            // Stopped, with nothing left to do.
            break;
        }
        Task task = std::move(m_tasks.front());
        m_tasks.pop_front();
        m_busy = true;
        lock.unlock();
        std::optional<std::string> note = task();
        lock.lock();
        m_busy = false;
        if (note) {
            m_notes.push_back(std::move(*note));
        }
        m_changed.notify_all();
    }
    QM_EXIT(0);
}
