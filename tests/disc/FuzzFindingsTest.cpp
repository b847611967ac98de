// The inputs the fuzz targets (fuzz/) found faults with, replayed through the
// functions the program calls on them: each one now gives a sound answer.
// The inputs themselves are in data/fuzz/, named after their target.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "disc/MusicBrainzRelease.h"

namespace {

namespace fs = std::filesystem;

// The bytes of data/fuzz/<name>.
std::string Finding(const std::string& name) {
    const fs::path file = fs::path(QM_SOURCE_DIR) / "tests/disc/data/fuzz" / name;
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(in) << file;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A medium the release does not have read past the end of its media for the
// "(disc N/M)" of the album's name; it now names the album without one and
// no track.
TEST(FuzzFindings, AMediumTheReleaseLacksNamesNoTrack) {
    const std::string xml =
        "<?xml version=\"1.0\"?><metadata xmlns=\"http://musicbrainz.org/ns/mmd-2.0#\">"
        "<release id=\"r\"><title>Double</title><medium-list count=\"2\">"
        "<medium><position>1</position><track-list count=\"1\"><track><position>1</position>"
        "<title>A</title></track></track-list></medium>"
        "<medium><position>2</position><track-list count=\"1\"><track><position>1</position>"
        "<title>B</title></track></track-list></medium></medium-list></release></metadata>";
    qm::MbRelease release;
    std::string error;
    ASSERT_TRUE(qm::ParseMbRelease(xml, &release, &error)) << error;
    ASSERT_EQ(release.media.size(), 2u);
    for (const int medium : {2, 3, -1}) {
        DiscInfo disc;
        disc.tracks.resize(1);
        disc.tracks[0].title = "kept";
        qm::ApplyMbRelease(release, medium, &disc);
        EXPECT_EQ(disc.title, "Double") << medium;
        EXPECT_EQ(disc.tracks[0].title, "kept") << medium;
    }
    DiscInfo disc;
    disc.tracks.resize(1);
    qm::ApplyMbRelease(release, 1, &disc);
    EXPECT_EQ(disc.title, "Double (disc 2/2)");
    EXPECT_EQ(disc.tracks[0].title, "B");
}

} // namespace
