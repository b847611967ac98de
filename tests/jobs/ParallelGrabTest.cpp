// Reading ahead while the tracks before are encoded: the files, tags and
// playlist are the same byte for byte whatever the number of encoder
// threads, tracks are reported in order, and Stop, a read error answered
// Yes or No, a failing encoder and the disc taken out with several tracks
// in flight end as they do one track at a time (right statuses, no partial
// file).
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <map>
#include <sys/resource.h>
#include <thread>

#include "JobFixture.h"

namespace jobtest {
namespace {

using Reason = CGrabJob::EndReason;

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Files this process writes cannot grow past `bytes` while it lives: a
// write beyond fails as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = SIG_DFL;
};

class ParallelGrab : public JobFixture {
protected:
    // Six tracks of a few seconds, named through the cache entry.
    void InsertSix(OutputFormat format) {
        data.Settings().DefaultTrack.format.format = format;
        names.titles = {"One", "Two", "Three", "Four", "Five", "Six"};
        std::vector<qmtest::ImageTrack> tracks;
        for (int t = 0; t < 6; ++t) {
            tracks.push_back({false, t == 2 ? 2 * kSecond : 0, (2 + t % 3) * kSecond});
        }
        InsertDisc(tracks, &names);
    }

    // Every file under the output folder by its path below it, with its bytes.
    std::map<std::string, std::string> Outputs() const {
        std::map<std::string, std::string> out;
        for (const fs::path& file : OutputFiles()) {
            out[fs::relative(file, dir / "out").string()] = Bytes(file);
        }
        return out;
    }

    // Grabs the whole disc with `threads` encoder threads from a clean
    // output folder and an unchecked-nothing list; what it wrote.
    std::map<std::string, std::string> GrabWith(int threads) {
        fs::remove_all(dir / "out");
        list.MarkAll();
        data.Settings().job.EncoderThreads = threads;
        std::vector<int> order;
        view.onStatus = [&](int row, const std::string&) { order.push_back(row); };
        int mostInFlight = 0;
        Grab([&] { mostInFlight = std::max(mostInFlight, job.GetTracksInFlight()); });
        EXPECT_EQ(job.GetEndReason(), Reason::kFinished);
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5})) << threads << " threads";
        EXPECT_LE(mostInFlight, threads);
        for (int row = 0; row < 6; ++row) {
            EXPECT_EQ(list.GetStatus(row).rfind("Complete (", 0), 0u) << row;
        }
        return Outputs();
    }

    DiscNames names;
};

// WAV and FLAC (tagged, listed in a playlist): one, two and four encoder
// threads write the same files.
TEST_F(ParallelGrab, OutputsAreTheSameForOneTwoAndFourEncoderThreads) {
    InsertSix(OutputFormat::WAV);
    for (const OutputFormat format : {OutputFormat::WAV, OutputFormat::FLAC}) {
        SCOPED_TRACE(static_cast<int>(format));
        for (TrackRecord& record : data.Tracks()) {
            record.format.format = format;
        }
        data.Settings().playlist.AddToPlaylist = true;
        data.Settings().playlist.AddTo = kMaskPlaylist;
        data.Settings().playlist.MaskPlaylist = "{ARTIST} - {ALBUM}.m3u";
        const auto serial = GrabWith(1);
        ASSERT_EQ(serial.size(), 7u); // six tracks and the playlist
        for (const int threads : {2, 4}) {
            const auto parallel = GrabWith(threads);
            ASSERT_EQ(parallel.size(), serial.size()) << threads;
            for (const auto& [name, bytes] : serial) {
                ASSERT_TRUE(parallel.count(name)) << name;
                EXPECT_TRUE(parallel.at(name) == bytes) << name << ", " << threads << " threads";
            }
        }
    }
}

// Stop while a track is read and those before it are still being encoded
// (the normalizer holds each whole track and works at its end): every
// track in flight ends "Cancelled", even one already written whole, no file
// is left of any of them, and the job ends cancelled.
TEST_F(ParallelGrab, StopWithSeveralTracksInFlightCancelsEachOfThem) {
    InsertSix(OutputFormat::FLAC);
    data.Settings().normalizer.Normalize = true;
    data.Settings().job.EncoderThreads = 4;
    bool stopped = false;
    int inFlight = 0;
    Grab([&] {
        if (!stopped && job.GetTracksInFlight() >= 2) {
            inFlight = job.GetTracksInFlight();
            job.StopProcess();
            stopped = true;
        }
    });
    ASSERT_TRUE(stopped) << "never more than one track in flight";
    EXPECT_GE(inFlight, 2);
    EXPECT_EQ(job.GetEndReason(), Reason::kCancelled);
    int cancelled = 0;
    std::vector<fs::path> kept;
    for (int row = 0; row < 6; ++row) {
        const std::string status = list.GetStatus(row);
        const fs::path file = TrackFile(names, row + 1, names.titles[row], ".flac");
        if (status == "Cancelled") {
            ++cancelled;
            EXPECT_EQ(job.GetOutcome(row), CGrabJob::TrackOutcome::kCancelled);
            EXPECT_FALSE(fs::exists(file)) << file;
            EXPECT_TRUE(list.IsChecked(row));
        } else if (status.empty()) {
            EXPECT_EQ(job.GetOutcome(row), CGrabJob::TrackOutcome::kWaiting);
            EXPECT_FALSE(fs::exists(file)) << file;
        } else {
            EXPECT_EQ(status.rfind("Complete (", 0), 0u) << row;
            // Reported before the Stop came.
            EXPECT_EQ(cancelled, 0) << row;
            kept.push_back(file);
        }
    }
    EXPECT_GE(cancelled, 1);
    std::vector<fs::path> files = OutputFiles();
    std::sort(files.begin(), files.end());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(files, kept);
    EXPECT_TRUE(view.prompts.empty());
    EXPECT_TRUE(view.enabled);
    EXPECT_FALSE(job.IsProcessing());
}

// A sector of the fourth track never reads, while the third may still be
// being encoded. Answered Yes, the fourth fails and the rest are grabbed; answered
// No, the tracks before it are complete, it fails, nothing after it was
// read, and no file is left of it.
TEST_F(ParallelGrab, ReadErrorWithTracksInFlightAnsweredYesAndNo) {
    InsertSix(OutputFormat::FLAC);
    data.Settings().job.EncoderThreads = 3;
    faulty->FailSector(image.Start(4) + 30, qmtest::FaultyDrive::kAlways);
    for (const PromptAnswer answer : {PromptAnswer::kYes, PromptAnswer::kNo}) {
        SCOPED_TRACE(answer == PromptAnswer::kYes ? "Yes" : "No");
        list.MarkAll();
        view.prompts.clear();
        view.keyPresses.push_back(answer);
        Grab();
        ASSERT_EQ(view.prompts.size(), 1u);
        EXPECT_EQ(view.prompts[0].message,
                  "Failed to read CD disk (error in 'CD ripper' module). Continue?");
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(list.GetStatus(row).rfind("Complete (", 0), 0u) << row;
        }
        EXPECT_EQ(list.GetStatus(3), "Failed");
        EXPECT_FALSE(fs::exists(TrackFile(names, 4, "Four", ".flac")));
        if (answer == PromptAnswer::kYes) {
            EXPECT_EQ(job.GetEndReason(), Reason::kFinished);
            for (int row = 4; row < 6; ++row) {
                EXPECT_EQ(list.GetStatus(row).rfind("Complete (", 0), 0u) << row;
            }
            EXPECT_EQ(OutputFiles().size(), 5u);
        } else {
            EXPECT_EQ(job.GetEndReason(), Reason::kDeclined);
            EXPECT_EQ(list.GetStatus(4), "");
            EXPECT_EQ(list.GetStatus(5), "");
            EXPECT_EQ(OutputFiles().size(), 3u);
        }
        fs::remove_all(dir / "out");
        for (int row = 0; row < 6; ++row) {
            list.SetStatus(row, "");
        }
    }
}

// The disk fills up while a track is written (the normalizer holds each
// whole track and writes it once read, while the next track may be read):
// the question comes in the failed track's turn, No ends the job, and
// neither the failed track nor one read after it leaves a file.
TEST_F(ParallelGrab, DiskFullWithTheNextTrackInFlightAnsweredNo) {
    InsertSix(OutputFormat::WAV);
    data.Settings().normalizer.Normalize = true;
    data.Settings().job.EncoderThreads = 2;
    view.keyPresses.push_back(PromptAnswer::kNo);
    {
        // The first track's 2 s fit, the second's 3 s do not.
        FileSizeLimit full(450 * 1024);
        Grab();
    }
    ASSERT_EQ(view.prompts.size(), 1u);
    EXPECT_EQ(job.GetEndReason(), Reason::kDeclined);
    EXPECT_EQ(list.GetStatus(0).rfind("Complete (", 0), 0u);
    EXPECT_EQ(list.GetStatus(1), "Failed");
    for (int row = 2; row < 6; ++row) {
        EXPECT_EQ(list.GetStatus(row), "") << row;
        EXPECT_EQ(job.GetOutcome(row), CGrabJob::TrackOutcome::kWaiting) << row;
        EXPECT_TRUE(list.IsChecked(row)) << row;
    }
    EXPECT_EQ(OutputFiles(), (std::vector<fs::path>{TrackFile(names, 1, "One", ".wav")}));
}

// The disc comes out as soon as the third track has been read, while the
// tracks before it may still be being encoded (the normalizer holds each
// whole track): what was read is finished and reported, then the job says
// the disc is gone and ends; nothing after is read, asked or left behind.
TEST_F(ParallelGrab, DiscTakenOutWithTracksInFlightEndsAfterThem) {
    InsertSix(OutputFormat::FLAC);
    data.Settings().normalizer.Normalize = true;
    data.Settings().job.EncoderThreads = 3;
    faulty->SwapDiscAfter(image.End(3) - 1, std::make_shared<EmptyDrive>());
    int mostInFlight = 0;
    Grab([&] { mostInFlight = std::max(mostInFlight, job.GetTracksInFlight()); });
    EXPECT_GE(mostInFlight, 2);
    EXPECT_EQ(job.GetEndReason(), Reason::kNoDisc);
    EXPECT_TRUE(view.prompts.empty());
    EXPECT_EQ(view.errors,
              (std::vector<std::pair<std::string, std::string>>{{"No disk in drive.", "Error"}}));
    std::vector<fs::path> complete;
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(list.GetStatus(row).rfind("Complete (", 0), 0u) << row;
        complete.push_back(TrackFile(names, row + 1, names.titles[row], ".flac"));
    }
    for (int row = 3; row < 6; ++row) {
        EXPECT_EQ(list.GetStatus(row), "") << row;
        EXPECT_TRUE(list.IsChecked(row)) << row;
    }
    std::vector<fs::path> files = OutputFiles();
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, complete);
    EXPECT_TRUE(view.enabled);
    EXPECT_FALSE(job.IsProcessing());
}

TEST(EncoderThreads, TheSettingOrTheCoresWithinBounds) {
    QuavermillSettings settings;
    EXPECT_EQ(settings.job.EncoderThreads, 0);
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    EXPECT_EQ(CGrabJob::EncoderThreadCount(settings), std::min(cores, kMaxEncoderThreads));
    settings.job.EncoderThreads = 3;
    EXPECT_EQ(CGrabJob::EncoderThreadCount(settings), 3);
    settings.job.EncoderThreads = 99;
    EXPECT_EQ(CGrabJob::EncoderThreadCount(settings), kMaxEncoderThreads);
}

} // namespace
} // namespace jobtest
