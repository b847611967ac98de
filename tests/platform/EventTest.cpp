#include <gtest/gtest.h>

#include <thread>

#include "platform/Event.h"

namespace {

using namespace std::chrono_literals;

TEST(Event, ManualResetStaysSignalled) {
    auto event = qm::Event::Create(false);
    EXPECT_FALSE(event->Wait(0ms));
    event->Set();
    EXPECT_TRUE(event->Wait(0ms));
    EXPECT_TRUE(event->Wait(0ms)); // manual reset: a wait does not consume it
    event->Reset();
    EXPECT_FALSE(event->IsSet());
}

TEST(Event, NamedEventsAreSharedAndFirstCreatorDecides) {
    auto first = qm::Event::OpenNamed("test shared", true);
    auto second = qm::Event::OpenNamed("test shared", false);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_TRUE(second->IsSet());
    first.reset();
    second.reset();
    // Once every holder is gone the next opener creates it anew.
    auto third = qm::Event::OpenNamed("test shared", false);
    EXPECT_FALSE(third->IsSet());
}

TEST(Event, WaitForAnyReportsFirstSignalledOrFailsOnNull) {
    auto a = qm::Event::Create(false);
    auto b = qm::Event::Create(true);
    EXPECT_EQ(qm::WaitForAny(a, b, 0ms), 1);
    a->Set();
    EXPECT_EQ(qm::WaitForAny(a, b, 0ms), 0);
    EXPECT_EQ(qm::WaitForAny(a, nullptr, qm::kInfinite), qm::kWaitFailed);
    a->Reset();
    b->Reset();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qm::WaitForAny(a, b, 30ms), qm::kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(Event, SetFromAnotherThreadWakesAnInfiniteWait) {
    auto a = qm::Event::Create(false);
    auto b = qm::Event::Create(false);
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        b->Set();
    });
    EXPECT_EQ(qm::WaitForAny(a, b, qm::kInfinite), 1);
    setter.join();
}

} // namespace
