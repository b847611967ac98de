// The auto-answer prompt's countdown and the grab log, without a window.
#include <gtest/gtest.h>

#include "jobs/GrabLog.h"
#include "jobs/WarningPrompt.h"

namespace {

TEST(WarningPrompt, CountsDownOnTheDefaultButtonAndAnswersItselfAtZero) {
    CWarningPrompt prompt("Disk have been changed.\n\r Continue anyway ?", 5);
    ASSERT_TRUE(prompt.Open());
    std::vector<std::string> labels{prompt.GetYesLabel()};
    int ticks = 0;
    while (!prompt.OnTimer()) {
        ++ticks;
        labels.push_back(prompt.GetYesLabel());
        EXPECT_EQ(prompt.GetNoLabel(), "No");
    }
    EXPECT_EQ(ticks + 1, 5);
    EXPECT_EQ(labels, (std::vector<std::string>{"Yes(5)", "Yes(4)", "Yes(3)", "Yes(2)", "Yes(1)"}));
    EXPECT_TRUE(prompt.IsClosed());
    EXPECT_EQ(prompt.GetResult(), PromptAnswer::kYes);
    // A late press changes nothing.
    prompt.Answer(PromptAnswer::kNo);
    EXPECT_EQ(prompt.GetResult(), PromptAnswer::kYes);
}

TEST(WarningPrompt, DefaultNoCountsOnTheNoButton) {
    CWarningPrompt prompt("Question", 3);
    prompt.SetDefaultIsNo(true);
    prompt.Open();
    EXPECT_EQ(prompt.GetYesLabel(), "Yes");
    EXPECT_EQ(prompt.GetNoLabel(), "No(3)");
    EXPECT_FALSE(prompt.OnTimer());
    EXPECT_FALSE(prompt.OnTimer());
    EXPECT_TRUE(prompt.OnTimer());
    EXPECT_EQ(prompt.GetResult(), PromptAnswer::kNo);
}

TEST(WarningPrompt, WithoutACountdownItWaitsForTheUser) {
    CWarningPrompt prompt("Question", 0);
    EXPECT_FALSE(prompt.Open());
    EXPECT_EQ(prompt.GetYesLabel(), "Yes");
    EXPECT_EQ(prompt.GetNoLabel(), "No");
    int waits = 0;
    const PromptAnswer answer = RunWarningPrompt(
        prompt,
        [&](std::chrono::milliseconds period) -> std::optional<PromptAnswer> {
            EXPECT_EQ(period, std::chrono::milliseconds(1000));
            return ++waits == 30 ? std::optional(PromptAnswer::kNo) : std::nullopt;
        },
        nullptr);
    EXPECT_EQ(answer, PromptAnswer::kNo);
    EXPECT_EQ(waits, 30);
}

TEST(WarningPrompt, AKeyPressAnswersEarly) {
    CWarningPrompt prompt("Question", 10);
    std::vector<std::string> shown;
    int waits = 0;
    const PromptAnswer answer = RunWarningPrompt(
        prompt,
        [&](std::chrono::milliseconds) -> std::optional<PromptAnswer> {
            return ++waits == 3 ? std::optional(PromptAnswer::kNo) : std::nullopt;
        },
        [&](const CWarningPrompt& p) { shown.push_back(p.GetYesLabel()); });
    EXPECT_EQ(answer, PromptAnswer::kNo);
    EXPECT_EQ(shown, (std::vector<std::string>{"Yes(10)", "Yes(9)", "Yes(8)"}));
}

TEST(GrabLog, KeepsEveryEntryWithItsKindInOrder) {
    CGrabLog log;
    EXPECT_TRUE(log.GetEntries().empty());
    EXPECT_EQ(log.AddToLog("Grabbing track # 1 'x' ...", kLogPlain), 1);
    EXPECT_EQ(log.AddToLog("Failed.", kLogAttention), 1);
    EXPECT_EQ(log.AddToLog("Complete (1.00Mb)", kLogSuccess), 1);
    const std::vector<GrabLogEntry> entries = log.GetEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1], (GrabLogEntry{kLogAttention, "Failed."}));
    EXPECT_EQ(entries[2].kind, kLogSuccess);
    EXPECT_EQ(log.GetCount(), 3u);
}

} // namespace
