// The grab job's rules, each on a real disc image through the real chain:
// what a grab takes, how far it has got, how each track ends (complete,
// failed after a read error or a failed set-up, cancelled), what a changed
// disc or a playlist that cannot be made asks, and what it logs.
#include <gtest/gtest.h>

#include <fstream>

#include "JobFixture.h"
#include "core/Diagnostics.h"
#include "encoders/MP3Encoder.h"
#include "support/Oracles.h"
#include "support/Process.h"
#include "support/TagReader.h"

namespace jobtest {
namespace {

using Reason = CGrabJob::EndReason;

class GrabJob : public JobFixture {
protected:
    // The three-track disc most tests grab, named through its cache entry.
    void InsertThreeTracks(OutputFormat format = OutputFormat::WAV) {
        data.Settings().DefaultTrack.format.format = format;
        names.titles = {"One", "Two", "Three"};
        InsertDisc({{false, 0, kSecond}, {false, 0, kSecond}, {false, 0, kSecond}}, &names);
    }

    fs::path Wav(int track) const {
        return TrackFile(names, track, names.titles.at(static_cast<std::size_t>(track - 1)),
                         ".wav");
    }

    // The grab's one question, left to answer itself: Yes once its
    // countdown has run down on the Yes button.
    void ExpectAnsweredItself(const std::string& message, int countdown) const {
        ASSERT_EQ(view.prompts.size(), 1u);
        const AskedPrompt& asked = view.prompts[0];
        EXPECT_EQ(asked.message, message);
        EXPECT_EQ(asked.countdown, countdown);
        EXPECT_EQ(asked.ticks, countdown);
        EXPECT_EQ(asked.answer, PromptAnswer::kYes);
        std::vector<std::string> labels;
        for (int left = countdown; left > 0; --left) {
            labels.push_back("Yes(" + std::to_string(left) + ")");
        }
        EXPECT_EQ(asked.yesLabels, labels);
    }

    // Another disc goes in as the first track's end is shown. The next
    // track is read only then: reading ahead would have read it already.
    void SwapDiscAfterFirstTrack(const std::shared_ptr<qm::CdDrive>& other) {
        data.Settings().job.EncoderThreads = 1;
        view.onStatus = [this, other](int row, const std::string&) {
            if (row == 0) {
                faulty->SwapDisc(other);
            }
        };
    }

    std::vector<GrabLogEntry> Log() const {
        return const_cast<CData&>(data).GrabLog().GetEntries();
    }

    DiscNames names;
};

TEST_F(GrabJob, WithNoCheckedRowNothingHappensButTheSelectionClears) {
    InsertThreeTracks();
    for (int row = 0; row < 3; ++row) {
        list.SetChecked(row, false);
    }
    list.SetSelected(1, true);
    job.StartProcess();
    EXPECT_FALSE(job.IsProcessing());
    EXPECT_FALSE(list.IsSelected(1));
    EXPECT_FALSE(view.selected[1]);
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(view.titles.empty());
    EXPECT_TRUE(OutputFiles().empty());
}

TEST_F(GrabJob, DataTracksAreUncheckedAndNeverGrabbed) {
    data.Settings().DefaultTrack.format.format = OutputFormat::WAV;
    InsertDisc({{false, 0, kSecond}, {true, 11400, 40}});
    ASSERT_EQ(list.GetRowCount(), 2);
    EXPECT_TRUE(list.IsDataRow(1));
    EXPECT_EQ(view.rows[1].title, "Data track");
    list.SetChecked(1, true);
    job.StartProcess();
    EXPECT_FALSE(list.IsChecked(1));
    EXPECT_EQ(job.GetTracksTotal(), 1);
    RunJob();
    EXPECT_EQ(OutputFiles().size(), 1u);
    EXPECT_EQ(list.GetStatus(1), "");

    // With only the data row checked nothing starts at all.
    list.SetChecked(1, true);
    job.StartProcess();
    EXPECT_FALSE(job.IsProcessing());
    EXPECT_FALSE(list.IsChecked(1));
}

// The whole job's share shows in the title and the main progress bar, and
// each step of the grab is logged with its kind.
TEST_F(GrabJob, ProgressTitleAndLogOfAThreeTrackGrab) {
    data.Settings().player.EnableSound = true;
    data.Settings().player.SoundFile = "/sounds/done.wav";
    InsertThreeTracks();
    view.title = "Quavermill";
    // The second track's first read waits until the job has been polled,
    // so the poll sees that track at 0 %.
    view.onRowStarted = [&](int row) {
        if (row == 1) {
            faulty->SetReadDelay(std::chrono::seconds(1));
        }
    };
    const std::string third = "33% complete.Quavermill";
    Grab([&] {
        if (!view.titles.empty() && view.titles.back() == third) {
            faulty->SetReadDelay(std::chrono::milliseconds(0));
        }
    });
    EXPECT_EQ(view.mainRange, 300);
    EXPECT_NE(std::find(view.titles.begin(), view.titles.end(), third), view.titles.end());
    EXPECT_NE(std::find(view.mainPositions.begin(), view.mainPositions.end(), 100),
              view.mainPositions.end());
    EXPECT_TRUE(std::is_sorted(view.mainPositions.begin(), view.mainPositions.end()));
    EXPECT_LE(view.mainPositions.back(), 300);
    EXPECT_EQ(view.title, "Quavermill"); // restored at the end
    EXPECT_TRUE(view.enabled);
    EXPECT_FALSE(view.pollTimer);
    EXPECT_EQ(job.GetTracksDone(), 3);

    const std::vector<GrabLogEntry> log = Log();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0], (GrabLogEntry{kLogPlain,
                                    "Grabbing CD-disk 'Grab Suite\\The Testers' is started..."}));
    EXPECT_EQ(log[1], (GrabLogEntry{kLogPlain, "Grabbing track # 1 'One' ..."}));
    EXPECT_EQ(log[2].kind, kLogSuccess);
    EXPECT_EQ(log[2].text, list.GetStatus(0));
    EXPECT_EQ(log[2].text.rfind("Complete (0.", 0), 0u);
    EXPECT_EQ(log[5], (GrabLogEntry{kLogPlain, "Grabbing track # 3 'Three' ..."}));
    EXPECT_EQ(log[7], (GrabLogEntry{kLogSuccess, "Grabbing of disk is finished."}));
    EXPECT_EQ(view.sounds, (std::vector<std::string>{"/sounds/done.wav"}));
    // "Complete (%.2lfMb)": one second of CD audio is 0.17 MiB.
    EXPECT_EQ(list.GetStatus(2), "Complete (0.17Mb)");
}

// Per track: two-pass WMA takes two passes and lossless WMA one; stored APE
// and FLAC levels beyond what the encoders take are mended in the record and
// grabbed with the mended level; a lossless WMA track (which this WMA
// encoder cannot write) fails with the encoder's message and the grab goes
// on after the question answered itself.
TEST_F(GrabJob, PassesAndStoredLevelsPerTrack) {
    data.Settings().DefaultTrack.format.format = OutputFormat::WAV;
    names.titles = {"Wma", "Ape", "Flac", "Lossless"};
    InsertDisc({{false, 0, kSecond}, {false, 0, kSecond}, {false, 0, kSecond}, {false, 0, 40}},
               &names);
    std::vector<TrackRecord>& tracks = data.Tracks();
    tracks[0].format.format = OutputFormat::WMA;
    tracks[0].format.wma.configuration = 48; // 128 kbit/s, VBR, two passes
    tracks[1].format.format = OutputFormat::APE;
    tracks[1].format.ape.compressionLevel = 7;
    tracks[2].format.format = OutputFormat::FLAC;
    tracks[2].format.flac.compressionLevel = 9;
    tracks[3].format.format = OutputFormat::WMA;
    tracks[3].format.wma.lossless = true;
    tracks[3].format.wma.configuration = 48;
    std::vector<int> passCounts;
    std::int32_t seen = 0;
    Grab([&] {
        if (data.GetCurrentTrack() != seen) {
            seen = data.GetCurrentTrack();
            passCounts.push_back(job.GetPassCount());
        }
    });

    EXPECT_EQ(passCounts, (std::vector<int>{2, 1, 1, 1}));
    EXPECT_EQ(tracks[1].format.ape.compressionLevel, 3);
    EXPECT_EQ(tracks[2].format.flac.compressionLevel, 2);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(list.GetStatus(row).rfind("Complete (", 0), 0u) << row;
    }
    const fs::path wma = TrackFile(names, 1, "Wma", ".wma");
    EXPECT_EQ(qmtest::Probe(wma).codec, "wmav2");
    // Level 3 is "Extra high", stored as 4000 in the APE header.
    std::ifstream ape(TrackFile(names, 2, "Ape", ".ape"), std::ios::binary);
    char header[54] = {};
    ape.read(header, sizeof header);
    ASSERT_TRUE(ape);
    EXPECT_EQ(static_cast<unsigned char>(header[52]) | static_cast<unsigned char>(header[53]) << 8,
              4000);
    // FLAC levels 0..2 use 1152-sample blocks, the higher ones 4096.
    const fs::path flac = TrackFile(names, 3, "Flac", ".flac");
    EXPECT_EQ(qmtest::Run("metaflac --show-max-blocksize " + qmtest::ShellQuote(flac.string())).out,
              "1152\n");
    EXPECT_TRUE(qmtest::DecodeWithFfmpeg(flac) == TrackPcm(image, 3));

    ASSERT_EQ(view.prompts.size(), 1u);
    EXPECT_EQ(view.prompts[0].countdown, 10);
    EXPECT_EQ(view.prompts[0].ticks, 10);
    EXPECT_EQ(view.prompts[0].message.rfind("Function 'GenAudioProfile' failed", 0), 0u)
        << view.prompts[0].message;
    EXPECT_NE(view.prompts[0].message.find("(error in 'WMA encoder' module). Continue?"),
              std::string::npos);
    EXPECT_EQ(list.GetStatus(3), "Failed");
    EXPECT_TRUE(list.IsChecked(3));
    EXPECT_FALSE(fs::exists(TrackFile(names, 4, "Lossless", ".wma")));
    EXPECT_EQ(job.GetEndReason(), Reason::kFinished);
}

// Stop while the first track is being read (with the normalizer in the
// chain): that track ends "Cancelled" and leaves no file, the job ends, and
// the later tracks stay checked and waiting.
TEST_F(GrabJob, StopDuringATrackCancelsItAndTheJob) {
    data.Settings().normalizer.Normalize = true;
    data.Settings().DefaultTrack.format.format = OutputFormat::OGG;
    names.titles = {"Long", "Two", "Three"};
    InsertDisc({{false, 0, 20 * kSecond}, {false, 0, kSecond}, {false, 0, kSecond}}, &names);
    faulty->SetReadDelay(std::chrono::milliseconds(20));
    bool stopped = false;
    Grab([&] {
        if (!stopped && faulty->Reads() > 3) {
            job.StopProcess();
            stopped = true;
        }
    });
    ASSERT_TRUE(stopped);
    EXPECT_EQ(job.GetEndReason(), Reason::kCancelled);
    EXPECT_EQ(list.GetStatus(0), "Cancelled");
    EXPECT_TRUE(list.IsChecked(0));
    for (int row = 1; row < 3; ++row) {
        EXPECT_TRUE(list.IsChecked(row));
        EXPECT_EQ(list.GetStatus(row), "");
    }
    EXPECT_TRUE(OutputFiles().empty());
    EXPECT_LT(faulty->Reads(), 20 * 75 / 26);
    EXPECT_EQ(Log().back(), (GrabLogEntry{kLogSuccess, "Cancelled"}));
    EXPECT_TRUE(view.prompts.empty());
    EXPECT_TRUE(view.enabled);
    EXPECT_GE(view.windowTitleUpdates, 1);
}

// A sector of the second track never reads: that track fails with the
// ripper's message, leaves no file and keeps its check; nobody answers the
// question, so after ten seconds the grab goes on with the third track.
TEST_F(GrabJob, ReadErrorFailsOneTrackAndTheGrabGoesOn) {
    InsertThreeTracks();
    faulty->FailSector(image.Start(2) + 30, qmtest::FaultyDrive::kAlways);
    Grab();

    ExpectAnsweredItself("Failed to read CD disk (error in 'CD ripper' module). Continue?", 10);

    EXPECT_EQ(list.GetStatus(1), "Failed");
    EXPECT_TRUE(list.IsChecked(1));
    EXPECT_FALSE(fs::exists(Wav(2)));
    for (int track : {1, 3}) {
        EXPECT_FALSE(list.IsChecked(track - 1));
        EXPECT_TRUE(qmtest::WavPayload(Wav(track)) == TrackPcm(image, track));
    }
    EXPECT_EQ(OutputFiles().size(), 2u);
    const std::vector<GrabLogEntry> log = Log();
    EXPECT_NE(std::find(log.begin(), log.end(), GrabLogEntry{kLogAttention, "Failed."}), log.end());
    EXPECT_EQ(job.GetEndReason(), Reason::kFinished);

    // A second Grab takes only what was not done.
    faulty->FailSector(image.Start(2) + 30, 0);
    Grab();
    EXPECT_EQ(job.GetTracksTotal(), 1);
    EXPECT_TRUE(qmtest::WavPayload(Wav(2)) == TrackPcm(image, 2));
}

// The same failure answered No: the track is failed, the job ends there and
// nothing of the track is left.
TEST_F(GrabJob, ReadErrorAnsweredNoEndsTheJob) {
    InsertThreeTracks();
    faulty->FailSector(image.Start(1) + 30, qmtest::FaultyDrive::kAlways);
    view.keyPresses.push_back(PromptAnswer::kNo);
    Grab();
    ASSERT_EQ(view.prompts.size(), 1u);
    EXPECT_EQ(view.prompts[0].ticks, 0);
    EXPECT_EQ(job.GetEndReason(), Reason::kDeclined);
    EXPECT_EQ(list.GetStatus(0), "Failed");
    EXPECT_EQ(list.GetStatus(1), "");
    EXPECT_TRUE(OutputFiles().empty());
    const std::vector<GrabLogEntry> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], (GrabLogEntry{kLogAttention, "Failed."}));
    EXPECT_EQ(log.back(), (GrabLogEntry{kLogAttention, "Cancelled"}));
}

// Another disc goes in while the first track is finishing: the question
// counts down from five and answers Yes by itself, and the rest of the job
// reads the new disc without asking again.
TEST_F(GrabJob, DiscSwappedBetweenTracksAsksOnceAndGoesOnWithTheNewDisc) {
    InsertThreeTracks();
    qmtest::TestImage other;
    // The disc id follows the table of contents: the other disc's differs.
    auto otherDisc =
        OtherDisc({{false, 0, 2 * kSecond}, {false, 0, kSecond}, {false, 0, kSecond}}, 9, &other);
    SwapDiscAfterFirstTrack(otherDisc);
    Grab();

    ExpectAnsweredItself("Disk have been changed.\n\r Continue anyway ?", 5);
    EXPECT_TRUE(qmtest::WavPayload(Wav(1)) == TrackPcm(image, 1));
    EXPECT_TRUE(qmtest::WavPayload(Wav(2)) == TrackPcm(other, 2));
    EXPECT_TRUE(qmtest::WavPayload(Wav(3)) == TrackPcm(other, 3));
    const std::vector<GrabLogEntry> log = Log();
    EXPECT_NE(
        std::find(log.begin(), log.end(), GrabLogEntry{kLogAttention, "Disk have been changed!"}),
        log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), GrabLogEntry{kLogSuccess, "Continue anyway..."}),
              log.end());
}

TEST_F(GrabJob, DiscSwapAnsweredNoEndsTheJob) {
    InsertThreeTracks();
    qmtest::TestImage other;
    auto otherDisc = OtherDisc({{false, 0, 2 * kSecond}}, 9, &other);
    SwapDiscAfterFirstTrack(otherDisc);
    view.keyPresses.push_back(PromptAnswer::kNo);
    Grab();
    EXPECT_EQ(job.GetEndReason(), Reason::kDeclined);
    EXPECT_EQ(Log().back(), (GrabLogEntry{kLogAttention, "Cancelled!"}));
    EXPECT_TRUE(list.IsChecked(1));
    EXPECT_TRUE(list.IsChecked(2));
    EXPECT_EQ(OutputFiles().size(), 1u);
    EXPECT_TRUE(view.enabled);
}

// The disc taken out between tracks: the job says so and ends; the rest
// stays checked for the next Grab.
TEST_F(GrabJob, DiscTakenOutBetweenTracksEndsTheJob) {
    InsertThreeTracks();
    SwapDiscAfterFirstTrack(std::make_shared<EmptyDrive>());
    Grab();
    EXPECT_EQ(job.GetEndReason(), Reason::kNoDisc);
    EXPECT_TRUE(view.prompts.empty());
    EXPECT_EQ(view.errors,
              (std::vector<std::pair<std::string, std::string>>{{"No disk in drive.", "Error"}}));
    EXPECT_EQ(Log().back(), (GrabLogEntry{kLogAttention, "No disk in drive!"}));
    EXPECT_TRUE(list.IsChecked(1));
    EXPECT_TRUE(list.IsChecked(2));
    EXPECT_EQ(OutputFiles().size(), 1u);
    EXPECT_TRUE(view.enabled);
    EXPECT_FALSE(job.IsProcessing());
}

// The tag takes the info bar's names unless the track keeps its own, and the
// track number only while "Write track's number" is checked.
TEST_F(GrabJob, TagsFollowTheInfoBarAndTheTrackNumberBox) {
    InsertThreeTracks(OutputFormat::MP3);
    list.SetChecked(2, false);
    view.info.writeTrackNumber = false;
    view.info.album = "Edited Album";
    data.Tracks()[1].useCustomTag = true;
    data.Tracks()[1].tag.SetTag("Album", "Own Album");
    data.Tracks()[1].tag.SetTag("Comment", "kept away");
    Grab();
    // The edited album names the first file's folder too.
    const fs::path first = dir / "out" / "The Testers" / "Edited Album" / "01 - One.mp3";
    const qmtest::ReadTags one = qmtest::ReadTagsWithMutagen(first);
    ASSERT_TRUE(one.ok) << first;
    EXPECT_EQ(one.One("TALB"), "Edited Album");
    EXPECT_EQ(one.One("TRCK"), "");
    EXPECT_EQ(one.One("TPE1"), "The Testers");
    const fs::path second = dir / "out" / "The Testers" / "Own Album" / "02 - Two.mp3";
    const qmtest::ReadTags two = qmtest::ReadTagsWithMutagen(second);
    ASSERT_TRUE(two.ok) << second;
    EXPECT_EQ(two.One("TALB"), "Own Album");
    EXPECT_EQ(two.One("TRCK"), "");
    EXPECT_EQ(two.One("COMM::XXX"), "");
}

// A playlist that cannot be made asks first: No ends the grab before any
// track, Yes grabs without a playlist.
TEST_F(GrabJob, PlaylistThatCannotBeMadeAsksFirst) {
    InsertThreeTracks();
    qmtest::WriteText(dir / "file", "x");
    PlaylistSettings& playlist = data.Settings().playlist;
    playlist.AddToPlaylist = true;
    playlist.AddTo = kSpecifiedPlaylist;
    playlist.SpecifiedPlaylist = (dir / "file" / "list.m3u").string();
    view.keyPresses.push_back(PromptAnswer::kNo);
    Grab();
    ASSERT_EQ(view.prompts.size(), 1u);
    EXPECT_EQ(view.prompts[0].message, "Failed to create playlist. Continue ?");
    EXPECT_EQ(view.prompts[0].countdown, 5);
    EXPECT_EQ(job.GetEndReason(), Reason::kDeclined);
    EXPECT_TRUE(OutputFiles().empty());
    std::vector<GrabLogEntry> log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], (GrabLogEntry{kLogAttention, " Failed to create playlist " +
                                                       playlist.SpecifiedPlaylist + "!"}));
    EXPECT_EQ(log[2], (GrabLogEntry{kLogAttention, "Cancelled."}));

    Grab(); // the countdown runs out: Yes
    EXPECT_EQ(view.prompts.back().ticks, 5);
    EXPECT_EQ(job.GetEndReason(), Reason::kFinished);
    EXPECT_EQ(OutputFiles().size(), 3u);
    log = Log();
    EXPECT_NE(std::find(log.begin(), log.end(), GrabLogEntry{kLogSuccess, "Continue anyway"}),
              log.end());
}

// The MP3 library cannot be loaded: the track fails with the encoder's
// message before anything is written, and a file the user already had
// under that name is left alone.
TEST_F(GrabJob, FailedSetUpLeavesAnEarlierFileAlone) {
    InsertThreeTracks(OutputFormat::MP3);
    list.SetChecked(1, false);
    list.SetChecked(2, false);
    const fs::path earlier = TrackFile(names, 1, "One", ".mp3");
    fs::create_directories(earlier.parent_path());
    qmtest::WriteText(earlier, "an earlier grab");
    CMP3Encoder::SetLibraryFileName("libmp3lame-missing.so.0");
    Grab();
    CMP3Encoder::SetLibraryFileName(CMP3Encoder::kLibraryFileName);
    ASSERT_EQ(view.prompts.size(), 1u);
    EXPECT_EQ(view.prompts[0].message,
              "Failed to initialize the lame encoder (error in 'MP3 encoder' module). Continue?");
    EXPECT_EQ(list.GetStatus(0), "Failed");
    EXPECT_EQ(qmtest::ReadText(earlier), "an earlier grab");
}

TEST(MyDeleteFile, DeletesReadOnlyFilesAndIsTrueForMissingOnes) {
    qmtest::TempDir dir;
    const fs::path file = dir / "partial.mp3";
    qmtest::WriteText(file, "x");
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_TRUE(CGrabJob::MyDeleteFile(file.string()));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(CGrabJob::MyDeleteFile(file.string()));
    EXPECT_TRUE(CGrabJob::MyDeleteFile(""));
}

} // namespace
} // namespace jobtest
