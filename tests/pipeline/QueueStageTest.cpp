// The queue stage between reading and encoding: blocks reach the stage
// behind in order and intact although the source reuses its buffer, the
// source waits only when the queue is full, and a refusal, a Terminate or a
// source that never closes all end with the stage behind closed without
// keeping its output.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "core/Error.h"
#include "core/ErrorCodes.h"
#include "pipeline/QueueStage.h"
#include "platform/Event.h"

namespace {

using namespace std::chrono_literals;

// Records what reaches it, from whichever thread; can refuse the block
// numbered `refuseAt` and hold every Write until the gate opens.
class GatedSink : public CEncoder {
public:
    WriteResult Write(const void* data, std::int32_t frames) override {
        gate->Wait(std::chrono::milliseconds(60000));
        std::lock_guard<std::mutex> lock(m_lock);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        received.insert(received.end(), bytes, bytes + frames * 4);
        ++writes;
        return writes == refuseAt ? WriteResult::Refused : WriteResult::Accepted;
    }
    std::int32_t SetInputProps(std::uint32_t, std::uint8_t channels, std::int32_t) override {
        props = channels;
        return channels == 2 ? 0 : -1;
    }
    void Close(bool complete) override {
        std::lock_guard<std::mutex> lock(m_lock);
        closes.push_back(complete);
    }
    std::vector<bool> Closes() {
        std::lock_guard<std::mutex> lock(m_lock);
        return closes;
    }

    qm::EventHandle gate = qm::Event::Create(true);
    int refuseAt = -1;
    int props = 0;
    std::vector<std::uint8_t> received;
    std::vector<bool> closes;
    int writes = 0;

private:
    std::mutex m_lock;
};

std::vector<std::uint8_t> Block(int index, std::int32_t frames) {
    std::vector<std::uint8_t> block(static_cast<std::size_t>(frames) * 4);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(index * 31 + i);
    }
    return block;
}

TEST(QueueStage, BlocksArriveInOrderAsCopiesAndCloseKeepsTheOutput) {
    GatedSink sink;
    CQueueStage queue(3);
    queue.SetEncoder(&sink);
    ASSERT_TRUE(queue.Begin());
    ASSERT_EQ(queue.SetInputProps(44100, 2, 16), 0);
    EXPECT_EQ(sink.props, 2);
    std::vector<std::uint8_t> expected;
    std::vector<std::uint8_t> buffer;
    for (int i = 0; i < 20; ++i) {
        // One buffer, refilled for every block, as the ripper does.
        buffer = Block(i, 588 + i);
        expected.insert(expected.end(), buffer.begin(), buffer.end());
        ASSERT_EQ(queue.Write(buffer.data(), 588 + i), WriteResult::Accepted);
        std::fill(buffer.begin(), buffer.end(), 0xEE);
    }
    queue.Close(true);
    queue.Wait();
    EXPECT_EQ(sink.writes, 20);
    EXPECT_TRUE(sink.received == expected);
    EXPECT_EQ(sink.Closes(), std::vector<bool>{true});
    EXPECT_FALSE(queue.Failed());
}

TEST(QueueStage, TheSourceWaitsOnlyWhenTheQueueIsFull) {
    GatedSink sink;
    sink.gate->Reset();
    CQueueStage queue(2);
    queue.SetEncoder(&sink);
    ASSERT_TRUE(queue.Begin());
    std::atomic<int> accepted{0};
    std::thread source([&] {
        const auto block = Block(0, 10);
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(queue.Write(block.data(), 10), WriteResult::Accepted);
            ++accepted;
        }
        queue.Close(true);
    });
    // One block held by the sink, two queued: the fourth Write waits.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (accepted.load() < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(accepted.load(), 3);
    sink.gate->Set();
    source.join();
    queue.Wait();
    EXPECT_EQ(accepted.load(), 6);
    EXPECT_EQ(sink.writes, 6);
    EXPECT_EQ(sink.Closes(), std::vector<bool>{true});
}

TEST(QueueStage, ARefusedBlockStopsTheSourceAndTheOutputGoes) {
    GatedSink sink;
    sink.refuseAt = 2;
    CQueueStage queue(4);
    queue.SetEncoder(&sink);
    ASSERT_TRUE(queue.Begin());
    const auto block = Block(1, 100);
    int refused = -1;
    for (int i = 0; i < 1000 && refused < 0; ++i) {
        if (queue.Write(block.data(), 100) == WriteResult::Refused) {
            refused = i;
        }
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_GE(refused, 2);
    EXPECT_TRUE(queue.Failed());
    queue.Close(true);
    queue.Wait();
    EXPECT_EQ(sink.writes, 2); // nothing after the refused block
    EXPECT_EQ(sink.Closes(), std::vector<bool>{false});
    // A format the sink refuses is refused to the source at once.
    GatedSink other;
    CQueueStage second;
    second.SetEncoder(&other);
    ASSERT_TRUE(second.Begin());
    EXPECT_EQ(second.SetInputProps(44100, 1, 16), -1);
    second.Close(true);
    second.Wait();
    EXPECT_EQ(other.Closes(), std::vector<bool>{false});
}

TEST(QueueStage, TerminateDropsWhatIsQueuedAndFilesTheCancel) {
    GatedSink sink;
    sink.gate->Reset();
    CError registry;
    CQueueStage queue(8);
    queue.SetEncoder(&sink);
    queue.SetError(&registry);
    ASSERT_TRUE(queue.Begin());
    const auto block = Block(2, 50);
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(queue.Write(block.data(), 50), WriteResult::Accepted);
    }
    queue.Close(true); // read whole, still being written
    queue.Terminate();
    sink.gate->Set();
    queue.Wait();
    EXPECT_LE(sink.writes, 1);
    EXPECT_EQ(sink.Closes(), std::vector<bool>{false});
    ASSERT_NE(registry.GetLastActual(), nullptr);
    EXPECT_EQ(registry.GetLastActual()->code, qm::err::kCancelled);
    EXPECT_EQ(queue.Write(block.data(), 50), WriteResult::Refused);

    // Once closed for good, a late Terminate changes nothing.
    GatedSink done;
    CError clean;
    CQueueStage finished;
    finished.SetEncoder(&done);
    finished.SetError(&clean);
    ASSERT_TRUE(finished.Begin());
    finished.Close(true);
    finished.Wait();
    finished.Terminate();
    EXPECT_EQ(done.Closes(), std::vector<bool>{true});
    EXPECT_FALSE(clean.IsAnyActual());
}

TEST(QueueStage, ASourceThatNeverClosesLeavesNoOutputBehind) {
    GatedSink sink;
    {
        CQueueStage queue;
        queue.SetEncoder(&sink);
        ASSERT_TRUE(queue.Begin());
        const auto block = Block(3, 20);
        ASSERT_EQ(queue.Write(block.data(), 20), WriteResult::Accepted);
    }
    EXPECT_EQ(sink.Closes(), std::vector<bool>{false});
    // Never begun: Close closes the stage behind at once, without output.
    GatedSink idle;
    CQueueStage unused;
    unused.SetEncoder(&idle);
    unused.Close(true);
    unused.Wait();
    EXPECT_EQ(idle.Closes(), std::vector<bool>{false});
}

} // namespace
