#include <gtest/gtest.h>

#include <string>

#include "core/Text.h"

namespace {

TEST(Text, LeadingIntegerReadsAsTheCLibraryDoes) {
    bool found = false;
    EXPECT_EQ(qm::LeadingInteger("1999 remastered", &found), 1999);
    EXPECT_TRUE(found);
    EXPECT_EQ(qm::LeadingInteger(" \t-05x"), -5);
    EXPECT_EQ(qm::LeadingInteger("+7"), 7);
    EXPECT_EQ(qm::LeadingInteger("x12", &found), 0);
    EXPECT_FALSE(found);
    EXPECT_EQ(qm::LeadingInteger("-", &found), 0);
    EXPECT_FALSE(found);
    // Too large for 32 bits: clamped, not wrapped.
    EXPECT_EQ(qm::LeadingInteger("99999999999999999999"), 2147483647);
    EXPECT_EQ(qm::LeadingInteger("-99999999999999999999"), -2147483647 - 1);
}

TEST(Text, MakeValidUtf8ReplacesWhatIsNotUtf8) {
    EXPECT_EQ(qm::MakeValidUtf8("caf\xC3\xA9 \xF0\x9F\x8E\xB5"), "caf\xC3\xA9 \xF0\x9F\x8E\xB5");
    EXPECT_EQ(qm::MakeValidUtf8("caf\xE9"), "caf\xEF\xBF\xBD");
    // An overlong "/" and an encoded surrogate are not UTF-8 either.
    EXPECT_EQ(qm::MakeValidUtf8("\xC0\xAF").find('/'), std::string::npos);
    EXPECT_NE(qm::MakeValidUtf8("\xED\xA0\x80"), "\xED\xA0\x80");
    EXPECT_EQ(qm::MakeValidUtf8(std::string("a\0b", 3)), "a\xEF\xBF\xBD"
                                                         "b");
    EXPECT_TRUE(qm::StartsWithNoCase("TTitle05", "ttitle"));
    EXPECT_FALSE(qm::StartsWithNoCase("TTit", "ttitle"));
}

} // namespace
