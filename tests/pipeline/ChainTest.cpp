#include <gtest/gtest.h>

#include <thread>

#include "core/Error.h"
#include "pipeline/AudioBuffer.h"
#include "pipeline/Decoder.h"
#include "pipeline/Encoder.h"
#include "support/PcmSource.h"

namespace {

using namespace std::chrono_literals;

// A sink that records what reaches it and can hold the source back with its
// own ready event.
class RecordingSink : public CEncoder {
public:
    explicit RecordingSink(bool ready = true) { m_readyEvent = qm::Event::Create(ready); }
    WriteResult Write(const void* data, std::int32_t frames) override {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        received.insert(received.end(), bytes, bytes + frames * 4);
        return WriteResult::Accepted;
    }
    std::int32_t SetInputProps(std::uint32_t, std::uint8_t, std::int32_t) override { return 0; }
    void Close(bool complete) override {
        closes.push_back(complete);
        SignalFinish();
    }
    CError* Registry() const { return m_error; }
    qm::EventHandle Finish() const { return m_finishEvent; }
    qm::EventHandle& Ready() { return m_readyEvent; }

    qmtest::Bytes received;
    std::vector<bool> closes;
};

TEST(Chain, SourceForwardsRegistryAndFinishEventOnlyWhenItHasASink) {
    qmtest::PcmSource source(qmtest::Bytes{}, {});
    CError registry;
    EXPECT_FALSE(source.IsAnyError()); // no registry yet
    source.SetError(&registry);
    source.SetFinishEvent(qm::Event::Create());
    EXPECT_EQ(source.GetError(), &registry);

    RecordingSink sink;
    source.SetEncoder(&sink);
    auto finish = qm::Event::Create();
    source.SetFinishEvent(finish);
    source.SetError(&registry);
    EXPECT_EQ(sink.Registry(), &registry);
    EXPECT_EQ(sink.Finish(), finish);
    registry.Add(34, 9);
    EXPECT_TRUE(source.IsAnyError());
}

TEST(Chain, BlocksArriveWholeAndCloseSignalsFinish) {
    qmtest::Bytes pcm(4 * 1000);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<std::uint8_t>(i * 7);
    }
    qmtest::PcmSource source(pcm, {}, 333);
    RecordingSink sink;
    auto finish = qm::Event::Create();
    sink.SetFinishEvent(finish);
    source.Open(nullptr, &sink);
    EXPECT_EQ(source.Start(), 1);
    EXPECT_EQ(sink.received, pcm);
    EXPECT_EQ(sink.closes, std::vector<bool>{true});
    EXPECT_TRUE(finish->IsSet());
}

TEST(Chain, AlbumStyleSinkStaysOpen) {
    qmtest::PcmSource source(qmtest::Bytes(400), {}, 50);
    source.SetCloseAtEnd(false);
    RecordingSink sink;
    source.Open(nullptr, &sink);
    EXPECT_EQ(source.Start(), 1);
    EXPECT_TRUE(sink.closes.empty());
}

TEST(Chain, TerminateWhileWaitingForReadyClosesWithFalse) {
    qmtest::PcmSource source(qmtest::Bytes(4000), {}, 10);
    RecordingSink sink(false); // never ready: the source must wait
    CError registry;
    source.Open(nullptr, &sink);
    source.SetError(&registry);
    std::thread stopper([&] {
        std::this_thread::sleep_for(30ms);
        source.Terminate();
    });
    EXPECT_EQ(source.Start(), 1);
    stopper.join();
    EXPECT_TRUE(sink.received.empty());
    EXPECT_EQ(sink.closes, std::vector<bool>{false});
    ASSERT_NE(registry.GetLast(), nullptr);
    EXPECT_EQ(registry.GetLast()->code, 30);
}

TEST(Chain, NullReadyEventDoesNotHoldTheSourceBack) {
    qmtest::PcmSource source(qmtest::Bytes(400), {}, 10);
    RecordingSink sink;
    sink.Ready().reset();
    source.Open(nullptr, &sink);
    EXPECT_EQ(source.Start(), 1);
    EXPECT_EQ(sink.received.size(), 400u);
}

TEST(Chain, PauseHoldsTheSourceUntilResumed) {
    qmtest::PcmSource source(qmtest::Bytes(400), {}, 10);
    RecordingSink sink;
    source.Open(nullptr, &sink);
    source.GetPauseEvent()->Reset();
    std::thread resumer([&] {
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(source.BlocksWritten(), 0);
        source.GetPauseEvent()->Set();
    });
    EXPECT_EQ(source.Start(), 1);
    resumer.join();
    EXPECT_EQ(sink.received.size(), 400u);
}

TEST(AudioBuffer, SetAddAndRelease) {
    auto* head = new CAudioBuffer;
    const std::uint8_t a[] = {1, 2, 3};
    const std::uint8_t b[] = {4, 5};
    ASSERT_TRUE(head->Set(a, 3));
    ASSERT_TRUE(head->Add(b, 2));
    ASSERT_TRUE(head->Add(a, 1));
    ASSERT_NE(head->next, nullptr);
    EXPECT_EQ(head->length, 3);
    EXPECT_EQ(head->next->length, 2);
    EXPECT_EQ(head->next->data[1], 5);
    EXPECT_EQ(head->next->next->length, 1);
    EXPECT_EQ(head->next->next->next, nullptr);
    for (int i = 0; i < 100000; ++i) { // a long list must not recurse on release
        head->Add(b, 2);
    }
    delete head; // the sanitizer reports any node left behind
}

} // namespace
