// The boundary between reading and encoding: a sink that copies each block
// it is given into a block of its own and hands it, through a bounded queue,
// to the stage behind it on a thread of its own. The source goes on reading
// while the blocks before are encoded, and waits only when the queue is
// full.
//
// Threads: Write, SetInputProps and Close come from the source's thread;
// the stage behind is called only from the queue's own thread (and, for
// SetInputProps, from the source's thread while that one is idle). Terminate
// and Wait may come from any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "pipeline/Encoder.h"

class CQueueStage : public CEncoder {
public:
    // About three seconds of audio in blocks of 26 sectors.
    static constexpr std::size_t kDefaultBlocks = 48;

    explicit CQueueStage(std::size_t capacity = kDefaultBlocks);
    // Ends the queue's thread: what is still queued is dropped and the stage
    // behind closes without keeping its output.
    ~CQueueStage() override;

    // The stage the blocks go to; set before Begin.
    void SetEncoder(CEncoder* sink) { m_sink = sink; }
    // Starts the queue's thread. False when no thread could be started (the
    // stage behind is then closed without keeping its output).
    bool Begin();

    void InitProgress(CProgress* progress, bool addProcess) override;
    // Passed on at once, once every block before it has gone on.
    std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                               std::int32_t bitsPerSample) override;
    // -1 once the stage behind has refused a block or the queue was
    // terminated: the source then stops reading.
    WriteResult Write(const void* data, std::int32_t frames) override;
    // Queued like a block: the stage behind closes after the last one, and
    // keeps its output only when `complete` and every block was taken.
    void Close(bool complete) override;

    // Any thread: drops what is queued and makes the stage behind close
    // without keeping its output; the track is filed as cancelled unless it
    // had already been closed for good.
    void Terminate();
    // Blocks until the stage behind has been closed (at once when Begin was
    // never called or failed).
    void Wait();
    // Whether the stage behind refused a block.
    bool Failed();

private:
    struct Block {
        std::vector<std::uint8_t> bytes;
        std::int32_t frames = 0;
    };
    void Run();

    CEncoder* m_sink = nullptr;
    const std::size_t m_capacity;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Block> m_queue;
    std::vector<std::vector<std::uint8_t>> m_spare; // emptied blocks, reused
    std::int32_t m_frameBytes = 4;
    bool m_busy = false;       // the queue's thread is inside the stage behind
    bool m_closing = false;    // Close was queued
    bool m_keep = false;       // ... with complete
    bool m_failed = false;     // the stage behind refused a block
    bool m_terminated = false; // Terminate
    bool m_closed = false;     // the stage behind has been closed
    std::thread m_thread;
};
