#include <gtest/gtest.h>

#include "output/ID3Tag.h"
#include "support/Pcm.h"
#include "support/TempDir.h"

namespace {

TEST(ID3Tag, SetTagKeepsOneFieldPerNameAndSource) {
    CID3Tag tag;
    EXPECT_FALSE(tag.SetTag("", "x"));
    EXPECT_TRUE(tag.GetFields().empty());

    EXPECT_TRUE(tag.SetTag("Title", "First"));
    EXPECT_TRUE(tag.SetTag("title", "Second")); // names compare without case
    ASSERT_EQ(tag.GetFields().size(), 1u);
    EXPECT_EQ(tag.GetTag("TITLE"), "Second");

    EXPECT_TRUE(tag.SetTag("Title", "From a file", 1));
    EXPECT_TRUE(tag.SetTag("Artist", "Someone"));
    ASSERT_EQ(tag.GetFields().size(), 3u);
    EXPECT_EQ(tag.GetFields().front().name, "Artist"); // newest first

    // An empty value removes that source's field only, and says so.
    EXPECT_FALSE(tag.SetTag("Title", "", 0));
    EXPECT_EQ(tag.FindFieldByName("Title", 0, true), nullptr);
    EXPECT_EQ(tag.GetTag("Title"), "From a file");
    EXPECT_FALSE(tag.HasAlbum());
    EXPECT_TRUE(tag.HasTitle());
    EXPECT_TRUE(tag.HasArtist());
}

TEST(ID3Tag, LookUpPrefersTheUsersValueThenSourceTwoThenOne) {
    CID3Tag tag;
    tag.SetTag("Album", "one", 1);
    EXPECT_EQ(tag.GetTag("Album"), "one");
    tag.SetTag("Album", "two", 2);
    EXPECT_EQ(tag.GetTag("Album"), "two");
    tag.SetTag("Album", "user", 0);
    EXPECT_EQ(tag.GetTag("Album"), "user");

    // Another source: that source, else the user's.
    EXPECT_EQ(tag.FindFieldByName("Album", 1, false)->value, "one");
    EXPECT_EQ(tag.FindFieldByName("Album", 3, false)->value, "user");
    EXPECT_EQ(tag.FindFieldByName("Album", 3, true), nullptr);
    EXPECT_EQ(tag.FindFieldByName("Album", 0, true)->value, "user");

    tag.RemoveTag("Album", 2);
    EXPECT_EQ(tag.FindFieldByName("Album", 2, true), nullptr);
    EXPECT_NE(tag.FindFieldByName("Album", 1, true), nullptr);
    tag.RemoveTag("ALBUM", 0); // source 0 removes every source
    EXPECT_EQ(tag.FindFieldByName("Album", 1, false), nullptr);
    EXPECT_EQ(tag.GetTag("Album"), "");
}

TEST(ID3Tag, SelectionsFollowTheSameOrder) {
    CID3Tag tag;
    EXPECT_TRUE(tag.SetSelection("Genre", 2));
    EXPECT_TRUE(tag.SetSelection("Genre", 2)); // no duplicate
    EXPECT_TRUE(tag.IsSelection("genre", 0, false));
    EXPECT_FALSE(tag.IsSelection("Genre", 0, true));
    EXPECT_TRUE(tag.IsSelection("Genre", 2, true));
    EXPECT_FALSE(tag.IsSelection("Genre", 1, false)); // 1, then 0: neither is marked

    tag.SetSelection("Genre", 1);
    tag.SetSelection("Year", 1);
    tag.RemoveSelection("Genre", 1);
    EXPECT_TRUE(tag.IsSelection("Genre", 2, true));
    EXPECT_FALSE(tag.IsSelection("Genre", 1, true));
    tag.RemoveSelection("Genre", 0);
    EXPECT_FALSE(tag.IsSelection("Genre", 2, true));
    EXPECT_TRUE(tag.IsSelection("Year", 1, true));

    tag.SetTag("Title", "x");
    tag.Clear();
    EXPECT_TRUE(tag.GetFields().empty());
    EXPECT_FALSE(tag.IsSelection("Year", 1, true));
}

TEST(ID3Tag, CopiesAreIndependent) {
    CID3Tag original;
    original.SetTag("Title", "Original");
    original.SetSelection("Title", 0);
    CID3Tag copy = original;
    copy.SetTag("Title", "Changed");
    copy.ClearAllSelections();
    EXPECT_EQ(original.GetTag("Title"), "Original");
    EXPECT_TRUE(original.IsSelection("Title", 0, true));
    EXPECT_EQ(copy.GetTag("Title"), "Changed");
}

TEST(ID3Tag, WriteWritesNothingIntoMp4AndUnknownFiles) {
    qmtest::TempDir dir;
    CID3Tag tag;
    tag.SetTag("Title", "x");
    for (const char* name : {"a.m4a", "a.M4B", "a.mp4", "a.wav", "noextension", "a.flac.txt"}) {
        const auto path = dir / name;
        qmtest::WriteFile(path, qmtest::Bytes(64, 7));
        EXPECT_FALSE(tag.Write(path.string())) << name;
        EXPECT_EQ(qmtest::ReadFile(path), qmtest::Bytes(64, 7)) << name;
    }
}

} // namespace
