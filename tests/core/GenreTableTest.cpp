#include <gtest/gtest.h>

#include <string>
#include "core/GenreTable.h"

namespace {

TEST(GenreTable, SpellingAndLookup) {
    EXPECT_STREQ(GenreTable[0], "Blues");
    EXPECT_STREQ(GenreTable[92], "Gothic");
    EXPECT_STREQ(GenreTable[102], "Chanson Speech");
    EXPECT_STREQ(GenreTable[147], "Synthpop");
    EXPECT_STREQ(GenreTable[148], " ");
    EXPECT_EQ(GetGenreNumber("gothic"), 49); // the first of the two
    EXPECT_EQ(GetGenreNumber("HIP-HOP"), 7);
    EXPECT_EQ(GetGenreNumber(" "), 148);
    EXPECT_EQ(GetGenreNumber("Polka Metal"), -1);
    for (const char* name : GenreTable) {
        EXPECT_LE(std::string(name).size(), 29u);
    }
}

} // namespace
