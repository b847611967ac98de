// Whole grabs in every format through the real ripper, filters and encoders
// into files named by a mask, tagged from the disc's cache entry and listed
// in a playlist, checked with independent tools: ffprobe and ffmpeg for the
// audio, mutagen for the tags, the GNOME players' parser for the playlist.
#include <gtest/gtest.h>

#include <cmath>

#include "JobFixture.h"
#include "support/Oracles.h"
#include "support/PlaylistReader.h"
#include "support/TagReader.h"

namespace jobtest {
namespace {

struct FormatCase {
    OutputFormat format;
    const char* extension;
    bool exact;       // decodes to the disc's own samples
    double tolerance; // seconds the decoded length may differ by
    // Tag keys as mutagen names them: title, artist, album, track, year,
    // genre; null for a format without tags.
    const char* keys[6];
};

const FormatCase kFormats[] = {
    {OutputFormat::WAV, ".wav", true, 0.0001, {}},
    {OutputFormat::MP3, ".mp3", false, 0.08, {"TIT2", "TPE1", "TALB", "TRCK", "TYER", "TCON"}},
    {OutputFormat::OGG,
     ".ogg",
     false,
     0.001,
     {"TITLE", "ARTIST", "ALBUM", "TRACKNUMBER", "DATE", "GENRE"}},
    {OutputFormat::FLAC,
     ".flac",
     true,
     0.0001,
     {"TITLE", "ARTIST", "ALBUM", "TRACKNUMBER", "DATE", "GENRE"}},
    {OutputFormat::APE,
     ".ape",
     true,
     0.0001,
     {"Title", "Artist", "Album", "Track", "Year", "Genre"}},
    // The codec pads the stream by up to 0.13 s.
    {OutputFormat::WMA,
     ".wma",
     false,
     0.15,
     {"Title", "Author", "WM/AlbumTitle", "WM/TrackNumber", "WM/Year", "WM/Genre"}},
};

void PrintTo(const FormatCase& format, std::ostream* out) {
    *out << format.extension;
}

class GrabEndToEnd : public JobFixture, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(GrabEndToEnd, EveryTrackIsNamedTaggedListedAndReadsBack) {
    const FormatCase& format = GetParam();
    DiscNames names;
    names.titles = {"Opening", "Middle: Part?", "Close"};
    const std::vector<std::string> fileTitles = {"Opening", "Middle Part", "Close"};
    const std::vector<std::int32_t> sectors = {kSecond, 110, 60};
    QuavermillSettings& settings = data.Settings();
    settings.DefaultTrack.format.format = format.format;
    settings.playlist.AddToPlaylist = true;
    settings.playlist.AddTo = kMaskPlaylist;
    settings.playlist.MaskPlaylist = "{ARTIST} - {ALBUM}";
    // The normalizer stage sits in the chain (maximum-speed ripping) but is
    // off, so the lossless formats must still come out bit for bit.
    settings.drive.RipMaxSpeed = true;
    InsertDisc({{false, 0, sectors[0]}, {false, 0, sectors[1]}, {false, 0, sectors[2]}}, &names);
    Grab();

    EXPECT_EQ(job.GetEndReason(), CGrabJob::EndReason::kFinished);
    EXPECT_TRUE(view.prompts.empty());
    std::vector<std::string> expectedList;
    for (int track = 1; track <= 3; ++track) {
        const auto index = static_cast<std::size_t>(track - 1);
        SCOPED_TRACE(track);
        EXPECT_EQ(list.GetStatus(track - 1).rfind("Complete (", 0), 0u)
            << list.GetStatus(track - 1);
        EXPECT_FALSE(list.IsChecked(track - 1));
        const fs::path file = TrackFile(names, track, fileTitles[index], format.extension);
        ASSERT_TRUE(fs::exists(file)) << file;
        expectedList.push_back(file.string());

        const qmtest::StreamInfo info = qmtest::Probe(file);
        ASSERT_TRUE(info.ok);
        EXPECT_EQ(info.sampleRate, 44100);
        EXPECT_EQ(info.channels, 2);
        EXPECT_NEAR(info.duration, sectors[index] / 75.0, format.tolerance);
        if (format.exact) {
            const qmtest::Bytes pcm = format.format == OutputFormat::WAV
                                          ? qmtest::WavPayload(file)
                                          : qmtest::DecodeWithFfmpeg(file);
            EXPECT_TRUE(pcm == TrackPcm(image, track)) << "not the disc's samples";
        }
        if (format.keys[0] != nullptr) {
            const qmtest::ReadTags tags = qmtest::ReadTagsWithMutagen(file);
            ASSERT_TRUE(tags.ok);
            EXPECT_EQ(tags.One(format.keys[0]), names.titles[index]);
            EXPECT_EQ(tags.One(format.keys[1]), names.artist);
            EXPECT_EQ(tags.One(format.keys[2]), names.album);
            EXPECT_EQ(tags.One(format.keys[3]), std::to_string(track));
            EXPECT_EQ(tags.One(format.keys[4]), std::to_string(names.year));
            EXPECT_EQ(tags.One(format.keys[5]), names.genre);
        }
    }
    EXPECT_EQ(OutputFiles().size(), 4u); // the tracks and the playlist
    const qmtest::PlaylistEntries playlist =
        qmtest::ReadPlaylist(dir / "out" / "The Testers - Grab Suite.m3u");
    ASSERT_TRUE(playlist.ok);
    EXPECT_EQ(playlist.paths, expectedList);
}

INSTANTIATE_TEST_SUITE_P(Formats, GrabEndToEnd, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<FormatCase>& param) {
                             return std::string(param.param.extension + 1);
                         });

} // namespace
} // namespace jobtest
