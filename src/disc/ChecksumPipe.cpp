#include "disc/ChecksumPipe.h"

#include <cstring>

#include "core/Trace.h"

namespace qm {

ChecksumPipe::~ChecksumPipe() {
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ChecksumPipe::Begin(const ChecksumLayout& layout) {
    QM_TRACE("ChecksumPipe");
    std::unique_lock<std::mutex> hold(m_lock);
    // What an ended track left goes unsummed; the block in hand is waited for.
    while (!m_queue.empty()) {
        m_spare.push_back(std::move(m_queue.front()));
        m_queue.pop_front();
    }
    m_drain.wait(hold, [this] { return !m_busy; });
    m_sums.Begin(layout);
    m_invalid.store(false);
    if (!m_thread.joinable()) {
        m_thread = std::thread(&ChecksumPipe::Run, this);
    }
}

void ChecksumPipe::Add(const std::uint8_t* pcm, std::size_t frames) {
    QM_TRACE("ChecksumPipe");
    if (pcm == nullptr || frames == 0) {
        QM_RETURN(0);
    }
    std::vector<std::uint8_t> block;
    {
        std::unique_lock<std::mutex> hold(m_lock);
        m_drain.wait(hold, [this] { return m_queue.size() < kQueued; });
        if (!m_spare.empty()) {
            block = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    // The copy is made outside the lock: the thread sums on meanwhile.
    block.resize(frames * 4);
    std::memcpy(block.data(), pcm, frames * 4);
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_queue.push_back(std::move(block));
    }
    m_wake.notify_one();
    QM_EXIT(1);
}

TrackChecksums ChecksumPipe::Finish() {
    QM_TRACE("ChecksumPipe");
    std::unique_lock<std::mutex> hold(m_lock);
    m_drain.wait(hold, [this] { return m_queue.empty() && !m_busy; });
    TrackChecksums result = m_sums.Result();
    result.complete = result.complete && !m_invalid.load();
    QM_RETURN(0, result);
}

void ChecksumPipe::Run() {
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        m_wake.wait(hold, [this] { return m_quit || !m_queue.empty(); });
        if (m_quit) {
            return;
        }
        std::vector<std::uint8_t> block = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        hold.unlock();
        m_sums.Add(block.data(), block.size() / 4);
        hold.lock();
        m_busy = false;
        m_spare.push_back(std::move(block));
        m_drain.notify_all();
    }
}

} // namespace qm
