// The file tasks of a job: done in the order posted on a thread other than
// the caller's, their failures kept as log lines, and nothing posted is lost
// when the job waits for them or goes away.
#include "jobs/FileTasks.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <vector>

namespace {

TEST(FileTasks, RunInOrderOffTheCallersThreadAndFlushWaitsForThem) {
    CFileTasks tasks;
    std::vector<int> order; // written by the tasks' thread only until Flush
    std::atomic<bool> offThread{true};
    const std::thread::id caller = std::this_thread::get_id();
    for (int i = 0; i < 50; ++i) {
        tasks.Post([&, i]() -> std::optional<std::string> {
            if (i == 0) {
                // A slow first task: the rest must wait for it, not overtake it.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            offThread = offThread && std::this_thread::get_id() != caller;
            order.push_back(i);
            return std::nullopt;
        });
    }
    tasks.Flush();
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
    EXPECT_TRUE(offThread);
    EXPECT_TRUE(tasks.TakeNotes().empty());
}

TEST(FileTasks, FailuresComeBackOnceInTheOrderOfTheirTasks) {
    CFileTasks tasks;
    for (int i = 0; i < 6; ++i) {
        tasks.Post([i]() -> std::optional<std::string> {
            if (i % 2 == 0) {
                return std::nullopt;
            }
            return "failed " + std::to_string(i);
        });
    }
    tasks.Flush();
    EXPECT_EQ(tasks.TakeNotes(), (std::vector<std::string>{"failed 1", "failed 3", "failed 5"}));
    EXPECT_TRUE(tasks.TakeNotes().empty());
    // Flush with nothing posted, or nothing ever started, returns at once.
    tasks.Flush();
    CFileTasks idle;
    idle.Flush();
}

TEST(FileTasks, WhatWasPostedIsDoneBeforeTheyGo) {
    std::atomic<int> done{0};
    {
        CFileTasks tasks;
        for (int i = 0; i < 20; ++i) {
            tasks.Post([&done]() -> std::optional<std::string> {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                ++done;
                return std::nullopt;
            });
        }
    }
    EXPECT_EQ(done.load(), 20);
}

} // namespace
