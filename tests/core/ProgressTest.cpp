#include <gtest/gtest.h>

#include "core/Log.h"
#include "core/Progress.h"
#include "core/Text.h"

namespace {

TEST(Progress, WeightedTotal) {
    CProgress progress;
    EXPECT_EQ(progress.GetTotalPercent(), 0);
    ASSERT_TRUE(progress.Add(500, "Ripping CD track"));
    ASSERT_TRUE(progress.Add(100, "Normalizing"));
    EXPECT_EQ(progress.GetTotalPercent(), 0); // nothing started
    ASSERT_TRUE(progress.NextProcess());
    EXPECT_TRUE(progress.SetPercent(40));
    EXPECT_EQ(progress.GetTotalPercent(), 40 * 500 / 600);
    ASSERT_TRUE(progress.NextProcess());
    progress.SetPercent(50);
    EXPECT_EQ(progress.GetTotalPercent(), 91); // (500*100 + 50*100) / 600
    std::string description = "unchanged";
    progress.GetCurrentDescription(&description);
    EXPECT_EQ(description, "Normalizing");
    EXPECT_TRUE(progress.NextProcess()); // past the last: 100 %
    EXPECT_EQ(progress.GetTotalPercent(), 100);
    EXPECT_FALSE(progress.NextProcess());
}

TEST(Progress, LimitsAndRefusals) {
    CProgress progress;
    EXPECT_FALSE(progress.NextProcess()); // nothing registered
    EXPECT_EQ(progress.GetCurrent(), -1);
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(progress.Add(10, "p"));
    }
    EXPECT_FALSE(progress.Add(10, "eleventh"));
    progress.NextProcess();
    progress.SetPercent(150);
    EXPECT_EQ(progress.GetTotalPercent(), 10); // 100 % of 1 of 10 equal weights
    EXPECT_FALSE(progress.SetCurrentProcess(0)); // already current
    EXPECT_FALSE(progress.SetCurrentProcess(10));
    EXPECT_TRUE(progress.SetCurrentProcess(5));
    EXPECT_EQ(progress.GetTotalPercent(), 50);
    progress.Clear();
    EXPECT_EQ(progress.GetCount(), 0);
    EXPECT_FALSE(progress.NextProcess());
    std::string description = "unchanged";
    progress.GetCurrentDescription(&description);
    EXPECT_EQ(description, "unchanged");
    std::string longText(300, 'd');
    progress.Add(1, longText.c_str());
    progress.NextProcess();
    progress.GetCurrentDescription(&description);
    EXPECT_EQ(description.size(), 199u);
}

TEST(RunLog, RingAndFile) {
    CLog log;
    EXPECT_FALSE(log.Init(0, nullptr));
    ASSERT_TRUE(log.Init(3, nullptr));
    EXPECT_FALSE(log.Init(3, nullptr)); // same capacity: nothing changes
    for (const char* line : {"a", "b", "c", "d"}) {
        log.Add(line);
    }
    EXPECT_EQ(log.GetLines(), (std::vector<std::string>{"b", "c", "d"}));
    log.Clear();
    EXPECT_TRUE(log.GetLines().empty());
}

TEST(Text, Utf8PrefixNeverSplitsASequence) {
    const std::string text = "ab\xE2\x82\xAC"; // "ab€"
    EXPECT_EQ(qm::Utf8Prefix(text, 5), text);
    EXPECT_EQ(qm::Utf8Prefix(text, 4), "ab");
    EXPECT_EQ(qm::Utf8Prefix(text, 3), "ab");
    EXPECT_EQ(qm::Utf8Prefix(text, 2), "ab");
    EXPECT_EQ(qm::Utf8Prefix(text, 0), "");
    EXPECT_TRUE(qm::EqualsNoCase("NameFormat", "nAMEfORMAT"));
    EXPECT_FALSE(qm::EqualsNoCase("Name", "Names"));
}

} // namespace
