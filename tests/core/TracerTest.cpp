#include <gtest/gtest.h>

#include "core/FunctionTracer.h"

namespace {

TEST(FunctionTracer, DisabledUntilInitAndRaisesSmallRequests) {
    CFunctionTracer tracer;
    EXPECT_FALSE(tracer.Enter("A", "X"));
    EXPECT_EQ(tracer.GetCurrentFunction(), "");
    EXPECT_EQ(tracer.GetRecentLines(), "");
    ASSERT_TRUE(tracer.Init(1, 1));
    // Five slots at least: five nested calls all stay on the stack.
    for (const char* m : {"a", "b", "c", "d", "e"}) {
        tracer.Enter(m, "T");
    }
    EXPECT_EQ(tracer.GetCurrentFunction(), "e:T");
    EXPECT_EQ(tracer.GetCallStack(),
              "a:T [Enter]\r\nb:T [Enter]\r\nc:T [Enter]\r\nd:T [Enter]\r\ne:T [Enter]\r\n");
}

TEST(FunctionTracer, SkippedLeaveKeepsInnerCallActive) {
    CFunctionTracer tracer;
    tracer.Init(10, 20);
    tracer.Enter("A", "X");
    tracer.Enter("B", "X");
    tracer.Enter("C", "X");
    tracer.Leave("B", "X", 2); // an exit path that never left C
    EXPECT_EQ(tracer.GetCallStack(), "A:X [Enter]\r\nC:X [Enter]\r\n---------\r\nB:X [Leave]\r\n");
    EXPECT_EQ(tracer.GetCurrentFunction(), "C:X");
    tracer.Leave("C", "X", 0);
    tracer.Leave("A", "X", 1);
    EXPECT_EQ(tracer.GetCurrentFunction(), "");
    EXPECT_EQ(tracer.GetCallStack(),
              "---------\r\nA:X [Leave]\r\nC:X [Leave]\r\nB:X [Leave]\r\n");
}

TEST(FunctionTracer, FullSlotsReuseInnermostAndUnknownLeaveOnlyLogs) {
    CFunctionTracer tracer;
    tracer.Init(5, 10);
    for (const char* m : {"a", "b", "c", "d", "e", "f"}) {
        tracer.Enter(m, "T");
    }
    EXPECT_EQ(tracer.GetCurrentFunction(), "f:T");
    tracer.Leave("nobody", "T", 3);
    EXPECT_EQ(tracer.GetCurrentFunction(), "f:T");
    const std::string lines = tracer.GetRecentLines();
    EXPECT_NE(lines.find("Starting f:T\r\n"), std::string::npos);
    EXPECT_NE(lines.find("Leaving  nobody:T [3]\r\n"), std::string::npos);
}

TEST(FunctionTracer, RingKeepsNewestLinesOldestFirst) {
    CFunctionTracer tracer;
    tracer.Init(5, 10);
    for (int i = 0; i < 12; ++i) {
        const std::string name = "m" + std::to_string(i);
        tracer.Enter(name.c_str(), "T");
        tracer.Leave(name.c_str(), "T", i);
    }
    std::string expected;
    for (int i = 7; i < 12; ++i) {
        expected += "Starting m" + std::to_string(i) + ":T\r\n";
        expected += "Leaving  m" + std::to_string(i) + ":T [" + std::to_string(i) + "]\r\n";
    }
    EXPECT_EQ(tracer.GetRecentLines(), expected);
}

TEST(FunctionTracer, LongNamesAreCut) {
    CFunctionTracer tracer;
    tracer.Init(5, 10);
    const std::string longName(100, 'x');
    tracer.Enter(longName.c_str(), "T");
    EXPECT_EQ(tracer.GetCurrentFunction(), std::string(59, 'x') + ":T");
    tracer.Leave(longName.c_str(), "T", 0);
    EXPECT_EQ(tracer.GetCurrentFunction(), "");
}

} // namespace
