// The ripper on images the tests write, through the real access layer and the
// real WAV writer: track bounds, cutting, jitter modes, retries, stop, seek,
// pause, play mode and the track questions. Misbehaving drives are image
// drives wrapped in a FaultyDrive.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "core/Error.h"
#include "core/Progress.h"
#include "disc/CDRipper.h"
#include "disc/CdioDrive.h"
#include "disc/DriveList.h"
#include "encoders/WAVWriter.h"
#include "pipeline/Encoder.h"
#include "support/DiscImage.h"
#include "support/FaultyDrive.h"
#include "support/Oracles.h"
#include "support/TempDir.h"

namespace {

using qmtest::Bytes;
using qmtest::EmptyDrive;
using qmtest::TestImage;

constexpr std::int32_t kSecond = 75;

// A sink that keeps what it is given and lets a test act between blocks.
class HookSink : public CEncoder {
public:
    WriteResult Write(const void* data, std::int32_t frames) override {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        pcm.insert(pcm.end(), bytes, bytes + static_cast<std::size_t>(frames) * 4);
        times.push_back(std::chrono::steady_clock::now());
        const int block = writes++;
        // onWrite answers 0 to accept, anything else to refuse.
        return onWrite && onWrite(block) != 0 ? WriteResult::Refused : WriteResult::Accepted;
    }
    std::int32_t SetInputProps(std::uint32_t rate, std::uint8_t channels,
                               std::int32_t bits) override {
        format = {rate, channels, bits};
        return 0;
    }
    void Close(bool complete) override {
        ++closes;
        completed = complete;
        SignalFinish();
    }

    std::function<int(int)> onWrite;
    Bytes pcm;
    std::vector<std::chrono::steady_clock::time_point> times;
    int writes = 0;
    int closes = 0;
    bool completed = false;
    std::tuple<std::uint32_t, int, int> format{};
};

struct RipOutcome {
    std::int32_t result = -1;
    bool finished = false;
    bool fileKept = false;
    Bytes pcm;
    int code = 0; // newest actual error, 0 for none
    int module = 0;
};

class RipperTest : public ::testing::Test {
protected:
    // Track 2 and 4 have pregaps, track 3 is 20 sectors, a data track follows
    // the audio after the gap of an Enhanced CD.
    static void SetUpTestSuite() {
        s_dir = new qmtest::TempDir;
        s_image = new TestImage(qmtest::WriteTestImage(s_dir->path(), "disc",
                                                       {{false, 0, 2 * kSecond},
                                                        {false, 30, 3 * kSecond},
                                                        {false, 0, 20},
                                                        {false, 75, 4 * kSecond},
                                                        {true, 11400, 40}},
                                                       21));
    }
    static void TearDownTestSuite() {
        delete s_image;
        delete s_dir;
    }
    static const TestImage& Image() { return *s_image; }

    // Attaches the ripper to the shared image.
    void AttachImage() {
        m_drive = std::make_unique<qmtest::ScopedDrive>(Image().layout.sheet);
        ASSERT_TRUE(ripper.Attach(m_drive->Index(), 0));
    }

    // Attaches the ripper to a misbehaving drive holding `image`.
    std::shared_ptr<qmtest::FaultyDrive> AttachFaulty(const TestImage& image) {
        std::string error;
        auto disc = qm::CdioDrive::ForImage(image.layout.sheet, &error);
        EXPECT_TRUE(disc) << error;
        auto faulty = std::make_shared<qmtest::FaultyDrive>(disc);
        m_drive = std::make_unique<qmtest::ScopedDrive>(faulty);
        EXPECT_TRUE(ripper.Attach(m_drive->Index(), 0));
        return faulty;
    }

    RipOutcome Rip(std::int32_t track, const char* name = "track.wav") {
        RipOutcome outcome;
        const auto path = dir / name;
        CWAVWriter writer;
        auto finish = qm::Event::Create();
        writer.Open(path.c_str());
        if (!ripper.ProcessSettings(track, &writer, true)) {
            ADD_FAILURE() << "ProcessSettings refused track " << track;
            return outcome;
        }
        ripper.SetError(&registry);
        ripper.SetFinishEvent(finish);
        progress.Clear();
        ripper.InitProgress(&progress);
        outcome.result = ripper.Start();
        outcome.finished = finish->IsSet();
        outcome.fileKept = std::filesystem::exists(path);
        if (outcome.fileKept) {
            outcome.pcm = qmtest::WavPayload(path);
        }
        if (const CErrorItem* item = registry.GetLastActual()) {
            outcome.code = item->code;
            outcome.module = item->module;
        }
        return outcome;
    }

    static Bytes Slice(std::int32_t first, std::int32_t end) { return Image().Sectors(first, end); }

    qmtest::TempDir dir;
    CError registry;
    CProgress progress;
    CCDRipper ripper;

private:
    std::unique_ptr<qmtest::ScopedDrive> m_drive;
    static qmtest::TempDir* s_dir;
    static TestImage* s_image;
};

qmtest::TempDir* RipperTest::s_dir = nullptr;
TestImage* RipperTest::s_image = nullptr;

TEST_F(RipperTest, EveryTrackIsItsSliceOfTheBin) {
    AttachImage();
    const TestImage& image = Image();
    for (int track = 1; track <= 4; ++track) {
        SCOPED_TRACE(track);
        registry.Clear();
        const RipOutcome out = Rip(track);
        EXPECT_EQ(out.result, 1);
        EXPECT_TRUE(out.finished);
        EXPECT_EQ(out.code, 0);
        ASSERT_TRUE(out.fileKept);
        // A track starts at INDEX 01 (its pregap belongs to the track before)
        // and the one before the data session ends 11400 sectors before it.
        const std::int32_t end = track == 4 ? image.Start(5) - 11400 : image.Start(track + 1);
        EXPECT_EQ(out.pcm.size(), static_cast<std::size_t>(end - image.Start(track)) * 2352);
        EXPECT_TRUE(out.pcm == Slice(image.Start(track), end)) << "samples differ";
    }
    const auto info = qmtest::Probe(dir / "track.wav");
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.bitsPerSample, 16);
    EXPECT_EQ(progress.GetTotalPercent(), 100);
    EXPECT_EQ(ripper.GetReadRate(), 0);
    EXPECT_FALSE(ripper.IsReading());
}

TEST_F(RipperTest, CuttingTrimsWholeSectors) {
    AttachImage();
    const std::int32_t start = Image().Start(4);
    const std::int32_t end = start + 4 * kSecond;
    struct Case {
        bool enabled;
        double begin, endCut;
        bool limit;
        double limitSeconds;
        std::int32_t first, last;
    };
    const Case cases[] = {
        {true, 2.5, 0, false, 0, start + 187, end}, // trunc(2.5 × 75) = 187
        {true, 0, 1.3, false, 0, start, end - 97},  // trunc(97.5) = 97
        {true, 0.5, 0.5, false, 0, start + 37, end - 37},
        {true, 1.0, 9.0, true, 1.01, start + 75, start + 150}, // the first 1.01 s: 75 sectors
        {true, 0, 0, true, 60.0, start, end},                  // longer than the track
        {false, 2.5, 1.0, false, 0, start, end},               // cutting switched off
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first - start);
        ripper.SetCut(c.enabled, c.begin, c.endCut, c.limit, c.limitSeconds);
        const RipOutcome out = Rip(4);
        ASSERT_EQ(out.result, 1);
        EXPECT_TRUE(out.pcm == Slice(c.first, c.last))
            << "got " << out.pcm.size() / 2352 << " sectors, want " << c.last - c.first;
    }
}

TEST_F(RipperTest, JitterIsUndoneOnlyInModeAlways) {
    const auto faulty = AttachFaulty(Image());
    faulty->SetJitter(400, 3);
    const std::int32_t start = Image().Start(4);
    const Bytes truth = Slice(start, start + 4 * kSecond);

    ripper.SetJitterMode(CCDRipper::kJitterNever);
    const RipOutcome plain = Rip(4, "never.wav");
    ASSERT_EQ(plain.result, 1);
    EXPECT_GT(faulty->ShiftedReads(), 5);
    EXPECT_FALSE(plain.pcm == truth) << "the injected jitter did not reach the rip";

    faulty->SetJitter(400, 4);
    ripper.SetJitterMode(CCDRipper::JitterModeFromSetting("Always"));
    const int before = faulty->ShiftedReads();
    const RipOutcome corrected = Rip(4, "always.wav");
    ASSERT_EQ(corrected.result, 1);
    EXPECT_GT(faulty->ShiftedReads() - before, 5);
    EXPECT_EQ(corrected.code, 0);
    EXPECT_TRUE(corrected.pcm == truth) << "jitter correction left the track changed";
}

TEST_F(RipperTest, TransientReadErrorsAreSurvivedInEveryMode) {
    const auto faulty = AttachFaulty(Image());
    const std::int32_t start = Image().Start(2);
    const Bytes truth = Slice(start, Image().Start(3));
    const std::pair<std::int32_t, int> modes[] = {{CCDRipper::kJitterNever, 2},
                                                  {CCDRipper::kJitterAlways, 2},
                                                  {CCDRipper::kJitterOnError, 3}};
    for (const auto& [mode, tries] : modes) {
        SCOPED_TRACE(mode);
        // Fails the first `tries` reads that touch it; three attempts per block
        // (one plain read and three checked ones in mode 1).
        faulty->FailSector(start + 60, tries);
        ripper.SetJitterMode(mode);
        const RipOutcome out = Rip(2);
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(out.code, 0);
        EXPECT_TRUE(out.pcm == truth);
    }
}

TEST_F(RipperTest, ASectorThatNeverReadsFailsTheTrackAndLeavesNoFile) {
    const auto faulty = AttachFaulty(Image());
    faulty->FailSector(Image().Start(2) + 100, qmtest::FaultyDrive::kAlways);
    for (std::int32_t mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        registry.Clear();
        ripper.SetJitterMode(mode);
        const RipOutcome out = Rip(2);
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.code, qm::err::kReadFailed);
        EXPECT_EQ(out.module, qm::mod::kCDRipper);
        EXPECT_TRUE(out.finished) << "the sink was not closed";
        EXPECT_FALSE(out.fileKept);
        EXPECT_FALSE(ripper.IsReading());
    }
}

TEST_F(RipperTest, StopFromAnotherThreadCancelsAndLeavesNoFile) {
    const auto faulty = AttachFaulty(Image());
    faulty->SetReadDelay(std::chrono::milliseconds(40));
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_TRUE(ripper.IsReading());
        ripper.Stop();
    });
    const RipOutcome out = Rip(4);
    stopper.join();
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.code, qm::err::kCancelled);
    EXPECT_TRUE(out.finished);
    EXPECT_FALSE(out.fileKept);
    EXPECT_FALSE(ripper.IsReading());
    EXPECT_LT(faulty->Reads(), 12) << "reading went on after the stop";
}

TEST_F(RipperTest, TheReadRateIsMeasuredWhileReadingOnly) {
    const auto faulty = AttachFaulty(Image());
    faulty->SetReadDelay(std::chrono::milliseconds(150));
    std::int32_t rate = 0;
    std::thread watcher([this, &rate] {
        // The first measurement comes with the first block after a second.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (rate == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            rate = ripper.GetReadRate();
        }
        ripper.Stop();
    });
    const RipOutcome out = Rip(4);
    watcher.join();
    // A rate was reported while the blocks came; how fast is the benchmarks' business.
    EXPECT_GT(rate, 0);
    EXPECT_EQ(out.code, qm::err::kCancelled);
    EXPECT_EQ(ripper.GetReadRate(), 0);
}

TEST_F(RipperTest, StopWhileIdleOnlyRaisesTheTerminateEventUntilTheNextStart) {
    AttachImage();
    ripper.Stop();
    EXPECT_TRUE(ripper.IsTerminated());
    const RipOutcome out = Rip(3);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.code, 0);
    EXPECT_TRUE(out.pcm == Slice(Image().Start(3), Image().Start(4)));
    EXPECT_FALSE(ripper.IsTerminated());
}

TEST_F(RipperTest, PlayModeReadsSectorBySectorFromItsOffsetAndSeeks) {
    AttachImage();
    const std::int32_t start = Image().Start(4);
    const std::int32_t end = start + 4 * kSecond;
    EXPECT_FALSE(ripper.Seek(start, end)) << "a seek while idle";
    HookSink sink;
    sink.onWrite = [&](int block) {
        if (block == 9) {
            EXPECT_FALSE(ripper.Seek(end, end));
            EXPECT_TRUE(ripper.Seek(start + 200, end));
            EXPECT_EQ(ripper.GetCurrentSector(), start + 200);
        }
        return 0;
    };
    ripper.SetPlayMode(true, 1);
    ASSERT_TRUE(ripper.ProcessSettings(4, &sink, true));
    ASSERT_EQ(ripper.Start(), 1);
    EXPECT_EQ(sink.format, std::make_tuple(44100u, 2, 16));
    Bytes expected = Slice(start + kSecond, start + kSecond + 10);
    const Bytes rest = Slice(start + 200, end);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_TRUE(sink.pcm == expected);
    EXPECT_EQ(sink.writes, 10 + (end - start - 200));
    EXPECT_TRUE(sink.completed);

    // An offset beyond the track plays it from its start.
    HookSink whole;
    ripper.SetPlayMode(true, 60);
    ASSERT_TRUE(ripper.ProcessSettings(4, &whole, false));
    ASSERT_EQ(ripper.Start(), 1);
    EXPECT_TRUE(whole.pcm == Slice(start, end));
    EXPECT_EQ(whole.closes, 0) << "closeAtEnd FALSE must leave the sink open";
}

TEST_F(RipperTest, APausedRipWaitsAndGoesOnWhereItWas) {
    AttachImage();
    HookSink sink;
    std::thread resumer;
    sink.onWrite = [&](int block) {
        if (block == 2) {
            ripper.GetPauseEvent()->Reset();
            resumer = std::thread([this] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                ripper.GetPauseEvent()->Set();
            });
        }
        return 0;
    };
    ASSERT_TRUE(ripper.ProcessSettings(2, &sink, true));
    ASSERT_EQ(ripper.Start(), 1);
    resumer.join();
    ASSERT_GE(sink.times.size(), 4u);
    EXPECT_GE(sink.times[3] - sink.times[2], std::chrono::milliseconds(150));
    EXPECT_TRUE(sink.pcm == Slice(Image().Start(2), Image().Start(3)));
}

TEST_F(RipperTest, ASinkThatFailsEndsTheRip) {
    const auto faulty = AttachFaulty(Image());
    HookSink sink;
    sink.onWrite = [](int block) { return block == 1 ? -1 : 0; };
    ripper.SetError(&registry);
    ASSERT_TRUE(ripper.ProcessSettings(4, &sink, true));
    EXPECT_EQ(ripper.Start(), 0);
    EXPECT_EQ(sink.writes, 2);
    EXPECT_EQ(faulty->Reads(), 2);
    EXPECT_EQ(sink.closes, 1);
    EXPECT_FALSE(sink.completed);
    ASSERT_NE(registry.GetLastActual(), nullptr);
    EXPECT_EQ(registry.GetLastActual()->code, qm::err::kWriteFailed);
}

TEST_F(RipperTest, StartWithoutADriveFilesCode12AndClosesTheSink) {
    HookSink sink;
    ripper.SetEncoder(&sink);
    ripper.SetError(&registry);
    EXPECT_EQ(ripper.Start(), 0);
    ASSERT_NE(registry.GetLastActual(), nullptr);
    EXPECT_EQ(registry.GetLastActual()->code, qm::err::kNotAttached);
    EXPECT_EQ(registry.FullMessage(registry.GetLastActual()),
              "CD drive is not selected (no attach) (error in 'CD ripper' module)");
    EXPECT_EQ(sink.closes, 1);
    EXPECT_FALSE(sink.completed);
}

TEST_F(RipperTest, TrackQuestionsFollowTheTableOfContents) {
    // Detached: lengths unknown, every track a data track.
    EXPECT_EQ(ripper.GetTrackLength(1, true), -1);
    EXPECT_TRUE(ripper.IsDataTrack(1));
    EXPECT_EQ(ripper.GetStartSector(1), -1);
    EXPECT_EQ(ripper.GetCurrentSpeed(), -1);
    EXPECT_FALSE(ripper.SetCDSpeed(8));
    char text[64] = {};
    EXPECT_FALSE(ripper.GetCDString(text, sizeof text));
    std::uint32_t id = 1;
    EXPECT_TRUE(ripper.GetDiscId(&id));
    EXPECT_EQ(id, 0u);

    AttachImage();
    const TestImage& image = Image();
    EXPECT_EQ(ripper.GetTrackLength(1, true), 2 * kSecond + 30);
    EXPECT_EQ(ripper.GetTrackLength(3, true), 20 + 75) << "the next track's pregap counts";
    EXPECT_EQ(ripper.GetTrackLength(4, true), 4 * kSecond + 11400);
    EXPECT_EQ(ripper.GetTrackLength(2, false), 3);
    // In seconds the data session's 152-second gap is left out.
    EXPECT_EQ(ripper.GetTrackLength(4, false), 4);
    EXPECT_EQ(ripper.GetTrackLength(0, true), -1);
    EXPECT_EQ(ripper.GetTrackLength(6, true), -1);
    EXPECT_FALSE(ripper.IsDataTrack(4));
    EXPECT_TRUE(ripper.IsDataTrack(5));
    EXPECT_TRUE(ripper.IsDataTrack(6));
    EXPECT_EQ(ripper.GetStartSector(2), image.Start(2));
    EXPECT_EQ(ripper.GetEndSector(2), image.Start(3));
    EXPECT_EQ(ripper.GetEndSector(5), image.layout.leadout);
    std::int32_t first = 0;
    std::int32_t last = 0;
    ASSERT_TRUE(ripper.GetTrackRange(&first, &last));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(last, 5);

    HookSink sink;
    EXPECT_FALSE(ripper.ProcessSettings(0, &sink, true));
    EXPECT_FALSE(ripper.ProcessSettings(6, &sink, true));
    EXPECT_FALSE(ripper.ProcessSettings(1, nullptr, true));
    EXPECT_TRUE(ripper.ProcessSettings(5, &sink, true));

    ASSERT_TRUE(ripper.GetCDString(text, sizeof text));
    EXPECT_STREQ(text, "Disc image: disc.cue");
    char other[64] = {};
    ASSERT_TRUE(ripper.GetDriveInfo(ripper.GetDriveIndex(), other, sizeof other));
    EXPECT_STREQ(other, text);
    EXPECT_FALSE(ripper.GetDriveInfo(ripper.GetCDNumber(), other, sizeof other));
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    ASSERT_TRUE(ripper.GetHaTgtLun(&adapter, &target, &lun));
    EXPECT_EQ(qm::DriveList::Instance().Find(adapter, target, lun),
              qm::DriveList::Instance()
                  .Drives()
                  .at(static_cast<std::size_t>(ripper.GetDriveIndex()))
                  .drive);

    EXPECT_TRUE(ripper.SetCDSpeed(255));
    EXPECT_EQ(ripper.GetCurrentSpeed(), qm::kImageSpeed);
    EXPECT_EQ(ripper.GetMaximalSpeed(), qm::kImageSpeed);
    ASSERT_TRUE(ripper.GetDiscId(&id));
    EXPECT_EQ(id, qm::CddbDiscId([&] {
                  qm::DiscToc toc;
                  toc.firstTrack = 1;
                  toc.lastTrack = 5;
                  for (int t = 1; t <= 5; ++t) {
                      toc.tracks.push_back({t, image.Start(t)});
                  }
                  toc.leadout = image.layout.leadout;
                  return toc;
              }()));

    std::uint32_t value = 0;
    const std::uint8_t bytes[4] = {0x01, 0x02, 0x03, 0x04};
    CCDRipper::MSB2DWORD(&value, bytes);
    EXPECT_EQ(value, 0x01020304u);
    EXPECT_EQ(CCDRipper::JitterModeFromSetting("OnError"), 1);
    EXPECT_EQ(CCDRipper::JitterModeFromSetting("always"), 0);

    EXPECT_FALSE(ripper.Attach(ripper.GetCDNumber(), 0));
    EXPECT_EQ(ripper.GetTrackLength(1, true), -1) << "a failed attach leaves the ripper detached";
}

TEST_F(RipperTest, ASwappedDiscShowsInTheDiscId) {
    const TestImage other =
        qmtest::WriteTestImage(dir.path(), "other", {{false, 0, 3 * kSecond}}, 8);
    const auto faulty = AttachFaulty(Image());
    std::uint32_t before = 0;
    ASSERT_TRUE(ripper.GetDiscId(&before));
    std::string error;
    faulty->SwapDisc(qm::CdioDrive::ForImage(other.layout.sheet, &error));
    std::uint32_t after = 0;
    ASSERT_TRUE(ripper.GetDiscId(&after));
    EXPECT_NE(before, 0u);
    EXPECT_NE(after, before);

    // A track chosen on the old disc that the new one lacks is refused.
    HookSink sink;
    ASSERT_TRUE(ripper.ProcessSettings(1, &sink, true));
    faulty->SwapDisc(qm::CdioDrive::ForImage(Image().layout.sheet, &error));
    ASSERT_TRUE(ripper.ProcessSettings(4, &sink, true));
    faulty->SwapDisc(qm::CdioDrive::ForImage(other.layout.sheet, &error));
    ripper.SetError(&registry);
    EXPECT_EQ(ripper.Start(), 0);
    ASSERT_NE(registry.GetLastActual(), nullptr);
    EXPECT_EQ(registry.GetLastActual()->code, qm::err::kWrongTrack);
    EXPECT_FALSE(sink.completed);
}

// Every answer the window and the worker ask for, for each track.
struct TrackAnswers {
    std::vector<std::int32_t> values;
    bool operator==(const TrackAnswers&) const = default;
};

TrackAnswers AskEverything(CCDRipper& ripper) {
    TrackAnswers answers;
    std::int32_t first = 0;
    std::int32_t last = 0;
    if (!ripper.GetTrackRange(&first, &last)) {
        return answers;
    }
    answers.values = {first, last};
    for (std::int32_t track = first; track <= last; ++track) {
        qm::ChecksumLayout layout;
        const bool audio = ripper.GetChecksumLayout(track, &layout);
        answers.values.insert(answers.values.end(),
                              {ripper.GetTrackLength(track, true),
                               ripper.GetTrackLength(track, false),
                               ripper.IsDataTrack(track) ? 1 : 0, ripper.GetStartSector(track),
                               ripper.GetEndSector(track),
                               audio ? static_cast<std::int32_t>(layout.trackSamples) : -1});
    }
    return answers;
}

TEST_F(RipperTest, TheTableIsReadOncePerDiscAndAgainWhenTheDiscMayHaveChanged) {
    // Refreshing the track list asks a handful of questions per track, and
    // the worker asks again per track; each used to read the disc.
    const TestImage other =
        qmtest::WriteTestImage(dir.path(), "other", {{false, 0, 3 * kSecond}, {false, 0, 90}}, 8);
    const auto faulty = AttachFaulty(Image());
    const TrackAnswers answers = AskEverything(ripper);
    ASSERT_EQ(answers.values.size(), 2u + 5 * 6);
    const int reads = faulty->TocReads();
    EXPECT_GT(reads, 0);
    for (int round = 0; round < 5; ++round) {
        EXPECT_TRUE(AskEverything(ripper) == answers);
    }
    const RipOutcome out = Rip(3);
    EXPECT_EQ(out.result, 1);
    EXPECT_TRUE(out.pcm == Slice(Image().Start(3), Image().Start(4)));
    EXPECT_EQ(faulty->TocReads(), reads);

    // Attaching again reads the disc again, and answers as the kept table did.
    ASSERT_TRUE(ripper.Attach(ripper.GetDriveIndex(), 0));
    EXPECT_TRUE(AskEverything(ripper) == answers);
    EXPECT_EQ(faulty->TocReads(), 2 * reads);

    // Another disc, as the drive reports it, is seen by the next question.
    std::string error;
    faulty->SwapDisc(qm::CdioDrive::ForImage(other.layout.sheet, &error));
    std::int32_t first = 0;
    std::int32_t last = 0;
    ASSERT_TRUE(ripper.GetTrackRange(&first, &last));
    EXPECT_EQ(last, 2);
    EXPECT_EQ(ripper.GetTrackLength(1, false), 3);
    EXPECT_EQ(ripper.GetEndSector(2), other.layout.leadout);
    HookSink sink;
    EXPECT_FALSE(ripper.ProcessSettings(4, &sink, true));

    // And so is the disc taken out.
    faulty->SwapDisc(std::make_shared<EmptyDrive>());
    EXPECT_FALSE(ripper.GetTrackRange(&first, &last));
    EXPECT_EQ(ripper.GetTrackLength(1, true), -1);
}

TEST_F(RipperTest, ADriveThatHidesADiscChangeIsCaughtByTheDiscId) {
    // The grab job compares disc ids between tracks; the table it rips by
    // must be the new disc's once the id says so.
    const TestImage other =
        qmtest::WriteTestImage(dir.path(), "other", {{false, 0, 3 * kSecond}}, 8);
    const auto faulty = AttachFaulty(Image());
    faulty->HideMediaChanges();
    const TrackAnswers answers = AskEverything(ripper);
    std::uint32_t id = 0;
    ASSERT_TRUE(ripper.GetDiscId(&id));
    const int reads = faulty->TocReads();
    EXPECT_TRUE(AskEverything(ripper) == answers) << "the same disc keeps its table";
    EXPECT_EQ(faulty->TocReads(), reads);

    std::string error;
    faulty->SwapDisc(qm::CdioDrive::ForImage(other.layout.sheet, &error));
    std::uint32_t changed = 0;
    ASSERT_TRUE(ripper.GetDiscId(&changed));
    EXPECT_NE(changed, id);
    std::int32_t first = 0;
    std::int32_t last = 0;
    ASSERT_TRUE(ripper.GetTrackRange(&first, &last));
    EXPECT_EQ(last, 1);
    const RipOutcome out = Rip(1);
    EXPECT_EQ(out.result, 1);
    EXPECT_TRUE(out.pcm == other.Sectors(other.Start(1), other.layout.leadout));
}

TEST_F(RipperTest, AFailedReadDropsTheTable) {
    const auto faulty = AttachFaulty(Image());
    faulty->FailSector(Image().Start(2) + 100, qmtest::FaultyDrive::kAlways);
    const TrackAnswers answers = AskEverything(ripper);
    const int reads = faulty->TocReads();
    EXPECT_EQ(Rip(2).code, qm::err::kReadFailed);
    EXPECT_TRUE(AskEverything(ripper) == answers);
    EXPECT_GT(faulty->TocReads(), reads) << "the disc was not read again";
}

TEST_F(RipperTest, AutoDetectPicksTheFirstDriveWithAnAudioTrack) {
    const TestImage data = qmtest::WriteTestImage(dir.path(), "data", {{true, 0, 40}});
    const TestImage audio =
        qmtest::WriteTestImage(dir.path(), "audio", {{true, 0, 40}, {false, 0, 30}});
    qmtest::ScopedDrive dataDrive(data.layout.sheet);
    EXPECT_EQ(ripper.AutoDetect(), -1);
    qmtest::ScopedDrive audioDrive(audio.layout.sheet);
    EXPECT_EQ(ripper.AutoDetect(), audioDrive.Index());
}

} // namespace
