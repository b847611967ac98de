// Takes a track's checksums on a thread of its own while the ripper reads
// on, so that on a machine with a second core they cost the grab nothing it
// waits for. The ripper lends each block only for the length of its call:
// Add copies it into one of a few buffers the thread sums in order, and
// waits only when all of them are still queued. Finish waits for the
// blocks given and hands the result back; Begin of the next track drops
// whatever an ended track left queued. One track at a time, from one
// feeding thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "disc/RipChecksums.h"

namespace qm {

class ChecksumPipe {
public:
    ChecksumPipe() = default;
    ChecksumPipe(const ChecksumPipe&) = delete;
    ChecksumPipe& operator=(const ChecksumPipe&) = delete;
    ~ChecksumPipe();

    void Begin(const ChecksumLayout& layout);
    void Add(const std::uint8_t* pcm, std::size_t frames);
    // The track is not read whole (a seek, a cut): its result says so.
    void Invalidate() { m_invalid.store(true); }
    TrackChecksums Finish();

private:
    void Run();

    static constexpr std::size_t kQueued = 4;
    std::mutex m_lock;
    std::condition_variable m_wake;  // a block is queued, or the end is asked
    std::condition_variable m_drain; // a block is summed
    std::deque<std::vector<std::uint8_t>> m_queue;
    std::vector<std::vector<std::uint8_t>> m_spare;
    bool m_busy = false; // the thread is summing a block taken off the queue
    bool m_quit = false;
    std::atomic<bool> m_invalid{false};
    ChecksumAccumulator m_sums; // the thread's while blocks are queued or summed
    std::thread m_thread;
};

} // namespace qm
