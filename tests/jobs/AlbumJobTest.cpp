// The album rip on disc images: one file of the checked tracks, each cut to
// its range, with silence between them, checked byte for byte (WAV), with
// an independent decoder (flac, ffmpeg), with mutagen for the tag, and
// against the cue sheet written beside it; and what errors, a stop and bad
// input leave behind.
#include <fstream>
#include <gtest/gtest.h>

#include <regex>

#include "JobFixture.h"
#include "jobs/AlbumJob.h"
#include "output/Naming.h"
#include "settings/WmaConfigurationTable.h"
#include "support/Oracles.h"
#include "support/Process.h"
#include "support/TagReader.h"

namespace jobtest {
namespace {

// The dialog's side for the tests: prompts and messages go to the grab's
// test view, so that they are kept (and answered) the same way.
class AlbumTestView : public CAlbumView {
public:
    explicit AlbumTestView(TestView& view) : m_view(view) {}

    void SetRowChecked(int row, bool on) override { unchecked.push_back(on ? -1 : row); }
    void ShowRowProgress(int row) override {
        progressRow = row;
        if (row >= 0 && onRowStarted) {
            onRowStarted(row);
        }
    }
    void SetRowProgress(int /*percent*/) override {}
    void EnableControls(bool enable) override { enabled = enable; }
    PromptAnswer Ask(CWarningPrompt& prompt) override { return m_view.Ask(prompt); }
    bool AskYesNo(const std::string& text, const std::string& /*caption*/) override {
        questions.push_back(text);
        return true;
    }
    void ShowError(const std::string& text, const std::string& caption) override {
        m_view.ShowError(text, caption);
    }
    void StartPollTimer() override { pollTimer = true; }
    void StopPollTimer() override { pollTimer = false; }

    std::vector<int> unchecked;
    std::vector<std::string> questions;
    int progressRow = -1;
    bool enabled = true;
    bool pollTimer = false;
    std::function<void(int row)> onRowStarted;

private:
    TestView& m_view;
};

// A sink that only counts what it is given.
class CountingSink : public CEncoder {
public:
    WriteResult Write(const void* /*data*/, std::int32_t frames) override {
        if (refuseAfter >= 0 && total >= refuseAfter) {
            ++refused;
            return WriteResult::Refused;
        }
        total += frames;
        return WriteResult::Accepted;
    }
    std::int32_t SetInputProps(std::uint32_t, std::uint8_t, std::int32_t) override { return 0; }
    void Close(bool) override {}
    std::int64_t total = 0;
    std::int64_t refuseAfter = -1; // frames taken before every block is refused
    int refused = 0;
};

class AlbumJob : public JobFixture {
protected:
    // Three tracks: 1 s, 6 s and 1 s.
    void InsertThree(OutputFormat format = OutputFormat::WAV) {
        data.Settings().DefaultTrack.format.format = format;
        DiscNames names;
        names.titles = {"First", "Second", "Third"};
        InsertDisc({{false, 0, kSecond}, {false, 0, 6 * kSecond}, {false, 0, kSecond}}, &names);
        view.info = InfoBarValues{names.artist, names.album, "2021", names.genre, true};
        RipAlbumSettings stored;
        ASSERT_TRUE(album.OnInitDialog(view.info, stored));
        album.SetStoreValues(false);
        for (int row = 0; row < 3; ++row) {
            album.SetChecked(row, true);
        }
        album.SetOutputFileName((dir / "out" / "album").string());
    }

    void Rip(const std::function<void()>& onPoll = {}) {
        album.OnStart();
        const auto finish = qm::Event::OpenNamed(CGrabJob::kFinishEventName, false);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (album.IsRunning()) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the rip does not end";
            finish->Wait(std::chrono::milliseconds(10));
            if (onPoll) {
                onPoll();
            }
            if (albumView.pollTimer) {
                album.OnTimer();
            }
        }
    }

    // The album's expected PCM: track 1, silence, track 2 cut to
    // 0:01.00-0:04.50 (sectors 75 to 337), silence, track 3.
    qmtest::Bytes Expected(std::int64_t silenceFrames) const {
        const qmtest::Bytes silence(static_cast<std::size_t>(silenceFrames) * 4, 0);
        qmtest::Bytes pcm = TrackPcm(image, 1);
        pcm.insert(pcm.end(), silence.begin(), silence.end());
        const qmtest::Bytes cut = image.Sectors(image.Start(2) + 75, image.Start(2) + 337);
        pcm.insert(pcm.end(), cut.begin(), cut.end());
        pcm.insert(pcm.end(), silence.begin(), silence.end());
        const qmtest::Bytes last = TrackPcm(image, 3);
        pcm.insert(pcm.end(), last.begin(), last.end());
        return pcm;
    }

    void CutAndSilence() {
        double from = 0;
        double to = 0;
        ASSERT_TRUE(CAlbumJob::StringToTime("0:01.00", &from));
        ASSERT_TRUE(CAlbumJob::StringToTime("0:04.50", &to));
        ASSERT_TRUE(album.SetRange(1, from, to));
        album.SetInsertSilence(true);
        album.SetSilenceLength(2.5);
    }

    // The INDEX points of a cue sheet, in CD frames: (track, index) -> frames.
    static std::map<std::pair<int, int>, std::int64_t> CueIndexes(const fs::path& cue) {
        std::map<std::pair<int, int>, std::int64_t> points;
        const std::string text = qmtest::ReadText(cue);
        const std::regex trackLine(R"(TRACK (\d+) AUDIO)");
        const std::regex indexLine(R"(INDEX (\d\d) (\d\d):(\d\d):(\d\d))");
        int track = 0;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            std::smatch match;
            if (std::regex_search(line, match, trackLine)) {
                track = std::stoi(match[1]);
            } else if (std::regex_search(line, match, indexLine)) {
                points[{track, std::stoi(match[1])}] =
                    (std::stoll(match[2]) * 60 + std::stoll(match[3])) * 75 + std::stoll(match[4]);
            }
        }
        return points;
    }

    std::vector<GrabLogEntry> Log() { return data.GrabLog().GetEntries(); }
    bool Logged(std::uint8_t kind, const std::string& text) {
        const std::vector<GrabLogEntry> log = Log();
        return std::find(log.begin(), log.end(), GrabLogEntry{kind, text}) != log.end();
    }

    AlbumTestView albumView{view};
    CAlbumJob album{data, albumView};
};

TEST(AlbumTimes, TextsReadAsTheDialogReadsThem) {
    double seconds = -1;
    EXPECT_TRUE(CAlbumJob::StringToTime("1:30.5", &seconds));
    EXPECT_DOUBLE_EQ(seconds, 90.5);
    EXPECT_TRUE(CAlbumJob::StringToTime("5", &seconds));
    EXPECT_DOUBLE_EQ(seconds, 300);
    EXPECT_TRUE(CAlbumJob::StringToTime("0:04.50", &seconds));
    EXPECT_DOUBLE_EQ(seconds, 4.5);
    EXPECT_TRUE(CAlbumJob::StringToTime("2:03.07", &seconds));
    EXPECT_DOUBLE_EQ(seconds, 123.07);
    EXPECT_TRUE(CAlbumJob::StringToTime("12.3", &seconds));
    EXPECT_DOUBLE_EQ(seconds, 12.3);
    for (const char* bad : {"1:75", "60", "60:00", "0:60", "1a", "", "1:2:3", "1.2.3", "0:01.123",
                            "-1", "1,5", " 5"}) {
        EXPECT_FALSE(CAlbumJob::StringToTime(bad, &seconds)) << bad;
    }
    EXPECT_EQ(CAlbumJob::TimeToString(90.5), "01:30.50");
    EXPECT_EQ(CAlbumJob::TimeToString(4.999), "00:05.00");
}

TEST_F(AlbumJob, SilenceIsWholeSecondsThenTheRestInFrames) {
    CountingSink sink;
    EXPECT_TRUE(album.InsertSilence(2500, &sink));
    EXPECT_EQ(sink.total, 110250);
    sink.total = 0;
    EXPECT_TRUE(album.InsertSilence(10, &sink));
    EXPECT_EQ(sink.total, 441);
    sink.total = 0;
    EXPECT_TRUE(album.InsertSilence(0, &sink));
    EXPECT_EQ(sink.total, 0);
}

// A refused block of silence used to go unnoticed (the album then lacked
// its gap and was still finished as whole); the refusal is reported, and
// nothing more is offered to a sink that refused.
TEST_F(AlbumJob, RefusedSilenceIsReported) {
    CountingSink sink;
    sink.refuseAfter = 44100;
    EXPECT_FALSE(album.InsertSilence(3000, &sink));
    EXPECT_EQ(sink.total, 44100);
    EXPECT_EQ(sink.refused, 1);

    CountingSink rest;
    rest.refuseAfter = 44100;
    EXPECT_FALSE(album.InsertSilence(1500, &rest)); // the part after the whole seconds
    EXPECT_EQ(rest.refused, 1);
}

TEST_F(AlbumJob, RangesOutsideATrackAreRefused) {
    InsertThree();
    EXPECT_FALSE(album.SetRange(0, 0.5, 0.5)); // empty
    EXPECT_FALSE(album.SetRange(0, 0, 1.5));   // past the end of a 1 s track
    EXPECT_FALSE(album.SetRange(0, 0.8, 0.2)); // backwards
    EXPECT_FALSE(album.SetRange(7, 0, 0.5));   // no such row
    EXPECT_TRUE(album.SetRange(1, 1, 4.5));
    EXPECT_DOUBLE_EQ(album.GetRows()[1].start, 1);
    EXPECT_DOUBLE_EQ(album.GetRows()[1].end, 4.5);
}

// The whole album byte for byte: slices, silence between them, none after
// the last; the tracks are unchecked as they complete, and the cue sheet's
// points are where the PCM puts them.
TEST_F(AlbumJob, WavAlbumIsTheSlicesWithSilenceBetween) {
    InsertThree();
    CutAndSilence();
    Rip();

    EXPECT_EQ(album.GetOutcome(), CAlbumJob::Outcome::kComplete);
    const fs::path wav = dir / "out" / "album.wav";
    ASSERT_EQ(album.GetAlbumPath(), wav.string());
    const qmtest::Bytes pcm = qmtest::WavPayload(wav);
    const qmtest::Bytes expected = Expected(110250);
    ASSERT_EQ(pcm.size(), expected.size());
    EXPECT_TRUE(pcm == expected);
    EXPECT_EQ(albumView.unchecked, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(album.GetNumberOfChecked(), 0);
    EXPECT_TRUE(albumView.enabled);
    EXPECT_FALSE(data.IsProcessing());
    EXPECT_TRUE(view.prompts.empty());
    EXPECT_TRUE(Logged(kLogPlain, "Grabbing track # 2 'Second' ..."));
    EXPECT_TRUE(Logged(kLogSuccess, "Complete."));
    EXPECT_EQ(Log().back(), (GrabLogEntry{kLogSuccess, "Grabbing of disk is finished."}));

    // Where each track's audio starts in the file, in frames.
    const std::int64_t second = 75 * 588 + 110250;
    const std::int64_t third = second + 262 * 588 + 110250;
    EXPECT_EQ(album.GetTrackStarts(), (std::vector<std::int64_t>{0, second, third}));
    const fs::path cue = dir / "out" / "album.cue";
    ASSERT_EQ(album.GetCuePath(), cue.string());
    const std::string text = qmtest::ReadText(cue);
    EXPECT_NE(text.find("FILE \"album.wav\" WAVE"), std::string::npos) << text;
    EXPECT_NE(text.find("PERFORMER \"The Testers\""), std::string::npos) << text;
    EXPECT_NE(text.find("TITLE \"Grab Suite\""), std::string::npos) << text;
    EXPECT_NE(text.find("    TITLE \"Second\""), std::string::npos) << text;
    const auto points = CueIndexes(cue);
    ASSERT_EQ(points.size(), 5u) << text;
    EXPECT_EQ(points.at({1, 1}), 0);
    // The gap before a track is the silence: INDEX 00 where it starts.
    EXPECT_EQ(points.at({2, 0}), 75);
    EXPECT_LE(std::abs(points.at({2, 1}) * 588 - second), 294);
    EXPECT_LE(std::abs(points.at({3, 0}) * 588 - (second + 262 * 588)), 294);
    EXPECT_LE(std::abs(points.at({3, 1}) * 588 - third), 294);
}

// FLAC: the same PCM through an independent decoder, the tag through
// mutagen, and the cue sheet inside the file.
TEST_F(AlbumJob, FlacAlbumDecodesToTheSamePcmAndCarriesTheCueSheet) {
    InsertThree(OutputFormat::FLAC);
    CutAndSilence();
    Rip();
    ASSERT_EQ(album.GetOutcome(), CAlbumJob::Outcome::kComplete);
    const fs::path flac = dir / "out" / "album.flac";
    const auto decoded = qmtest::Run("flac -d -s -c --force-raw-format --endian=little "
                                     "--sign=signed " +
                                     qmtest::ShellQuote(flac.string()));
    ASSERT_EQ(decoded.exitCode, 0);
    const qmtest::Bytes expected = Expected(110250);
    ASSERT_EQ(decoded.out.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                           reinterpret_cast<const std::uint8_t*>(decoded.out.data())));

    const qmtest::ReadTags tags = qmtest::ReadTagsWithMutagen(flac);
    ASSERT_TRUE(tags.ok);
    EXPECT_EQ(tags.One("ARTIST"), "The Testers");
    EXPECT_EQ(tags.One("ALBUM"), "Grab Suite");
    EXPECT_EQ(tags.One("DATE"), "2021");
    EXPECT_EQ(tags.One("GENRE"), "Jazz");

    const auto sheet =
        qmtest::Run("metaflac --export-cuesheet-to=- " + qmtest::ShellQuote(flac.string()));
    ASSERT_EQ(sheet.exitCode, 0);
    EXPECT_NE(sheet.out.find("TRACK 03"), std::string::npos) << sheet.out;
    EXPECT_NE(sheet.out.find("INDEX 00"), std::string::npos) << sheet.out;
}

struct LossyCase {
    OutputFormat format;
    const char* extension;
    double tolerance; // seconds the decoded length may differ by
    const char* albumKey;
};

class AlbumFormats : public AlbumJob, public ::testing::WithParamInterface<LossyCase> {};

TEST_P(AlbumFormats, DecodesToTheAlbumsLengthAndIsTagged) {
    const LossyCase& format = GetParam();
    InsertThree(format.format);
    CutAndSilence();
    Rip();
    ASSERT_EQ(album.GetOutcome(), CAlbumJob::Outcome::kComplete);
    const fs::path file = dir / "out" / (std::string("album") + format.extension);
    ASSERT_TRUE(fs::exists(file));
    const qmtest::Bytes pcm = qmtest::DecodeWithFfmpeg(file);
    ASSERT_FALSE(pcm.empty());
    const qmtest::StreamInfo info = qmtest::Probe(file);
    const double expected = static_cast<double>(Expected(110250).size()) / 4 / 44100;
    const double decoded = static_cast<double>(pcm.size()) / (2.0 * std::max(info.channels, 1)) /
                           std::max(info.sampleRate, 1);
    EXPECT_NEAR(decoded, expected, format.tolerance);
    const qmtest::ReadTags tags = qmtest::ReadTagsWithMutagen(file);
    ASSERT_TRUE(tags.ok);
    EXPECT_EQ(tags.One(format.albumKey), "Grab Suite");
    EXPECT_TRUE(fs::exists(dir / "out" / "album.cue"));
}

const LossyCase kLossy[] = {
    {OutputFormat::MP3, ".mp3", 0.08, "TALB"},
    {OutputFormat::OGG, ".ogg", 0.001, "ALBUM"},
    {OutputFormat::APE, ".ape", 0.0001, "Album"},
    {OutputFormat::WMA, ".wma", 0.15, "WM/AlbumTitle"},
};

INSTANTIATE_TEST_SUITE_P(EveryFormat, AlbumFormats, ::testing::ValuesIn(kLossy),
                         [](const auto& param) { return std::string(param.param.extension + 1); });

// Two-pass WMA keeps the whole album for its analysis pass.
TEST_F(AlbumJob, TwoPassWmaAlbum) {
    data.Settings().DefaultTrack.format.wma.lossless = false;
    std::int32_t twoPass = -1;
    for (std::int32_t index = 0; index < kWmaConfigurationCount; ++index) {
        FormatSettings probe;
        probe.format = OutputFormat::WMA;
        probe.wma.lossless = false;
        probe.wma.configuration = index;
        if (CTrackChain::PassCount(probe) == 2 &&
            WmaConfigurationTable[index].sampleRate == 44100) {
            twoPass = index;
            break;
        }
    }
    ASSERT_GE(twoPass, 0);
    data.Settings().DefaultTrack.format.wma.configuration = twoPass;
    InsertThree(OutputFormat::WMA);
    CutAndSilence();
    Rip();
    ASSERT_EQ(album.GetOutcome(), CAlbumJob::Outcome::kComplete);
    const qmtest::StreamInfo info = qmtest::Probe(dir / "out" / "album.wma");
    EXPECT_NEAR(info.duration, static_cast<double>(Expected(110250).size()) / 4 / 44100, 0.2);
}

// A sector of the second track never reads. Yes (the countdown running
// out): the album is deleted, the third track is still read, nothing stays.
TEST_F(AlbumJob, ErrorAnsweredYesDeletesTheAlbumAndReadsOn) {
    InsertThree();
    faulty->FailSector(image.Start(2) + 30, qmtest::FaultyDrive::kAlways);
    std::vector<int> started;
    albumView.onRowStarted = [&](int row) { started.push_back(row); };
    Rip();
    ASSERT_EQ(view.prompts.size(), 1u);
    EXPECT_EQ(view.prompts[0].message,
              "Failed to read CD disk (error in 'CD ripper' module). Continue?");
    EXPECT_EQ(view.prompts[0].countdown, 10);
    EXPECT_EQ(started, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(album.GetOutcome(), CAlbumJob::Outcome::kFailed);
    EXPECT_TRUE(OutputFiles().empty());
    EXPECT_TRUE(Logged(kLogAttention, "Failed."));
    EXPECT_EQ(Log().back(), (GrabLogEntry{kLogSuccess, "Grabbing of disk is finished."}));
    EXPECT_TRUE(album.GetRows()[1].checked);
    EXPECT_FALSE(data.IsProcessing());
}

TEST_F(AlbumJob, ErrorAnsweredNoEndsTheJobAndDeletesTheAlbum) {
    InsertThree();
    faulty->FailSector(image.Start(2) + 30, qmtest::FaultyDrive::kAlways);
    view.keyPresses.push_back(PromptAnswer::kNo);
    std::vector<int> started;
    albumView.onRowStarted = [&](int row) { started.push_back(row); };
    Rip();
    ASSERT_EQ(view.prompts.size(), 1u);
    EXPECT_EQ(started, (std::vector<int>{0, 1}));
    EXPECT_EQ(album.GetOutcome(), CAlbumJob::Outcome::kFailed);
    EXPECT_TRUE(OutputFiles().empty());
    EXPECT_EQ(Log().back(), (GrabLogEntry{kLogAttention, "Cancelled."}));
    EXPECT_TRUE(albumView.enabled);
    EXPECT_FALSE(data.IsProcessing());
}

// An album of the same name from an earlier rip is replaced only by a whole
// new one: a failed rip leaves it as it was, with nothing beside it.
TEST_F(AlbumJob, AFailedRipLeavesAnEarlierAlbumOfTheSameName) {
    InsertThree();
    const fs::path earlier = dir / "out" / "album.wav";
    fs::create_directories(earlier.parent_path());
    {
        std::ofstream out(earlier, std::ios::binary);
        out << "an earlier album";
    }
    faulty->FailSector(image.Start(2) + 30, qmtest::FaultyDrive::kAlways);
    view.keyPresses.push_back(PromptAnswer::kNo);
    Rip();
    EXPECT_EQ(album.GetOutcome(), CAlbumJob::Outcome::kFailed);
    EXPECT_EQ(OutputFiles(), (std::vector<fs::path>{earlier}));
    std::ifstream in(earlier, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "an earlier album");
}

TEST_F(AlbumJob, StopMidTrackLeavesNoFile) {
    InsertThree();
    faulty->SetReadDelay(std::chrono::milliseconds(20));
    bool stopped = false;
    Rip([&] {
        if (!stopped && albumView.progressRow == 1) {
            album.OnStart(); // Stop: asks, and the answer is Yes
            stopped = true;
        }
    });
    EXPECT_EQ(albumView.questions, (std::vector<std::string>{"Do you want to terminate process?"}));
    EXPECT_EQ(album.GetOutcome(), CAlbumJob::Outcome::kCancelled);
    EXPECT_TRUE(OutputFiles().empty());
    EXPECT_EQ(Log().back(), (GrabLogEntry{kLogSuccess, "Cancelled"}));
    EXPECT_FALSE(data.IsProcessing());
}

// Bad input: a clear message and nothing started, nothing written.
TEST_F(AlbumJob, NothingStartsOnBadInput) {
    InsertThree();
    for (int row = 0; row < 3; ++row) {
        album.SetChecked(row, false);
    }
    album.OnStart();
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0],
              (std::pair<std::string, std::string>{"You should select track(s)", "Error"}));
    album.SetChecked(0, true);
    album.SetOutputFileName("");
    album.OnStart();
    EXPECT_EQ(view.errors.back().first, "You should specify the output filename");

    // Another format's extension.
    album.SetOutputFileName((dir / "out" / "album.mp3").string());
    album.OnStart();
    EXPECT_NE(view.errors.back().first.find("'.mp3'"), std::string::npos);

    // A folder that cannot be made: a file stands where it must go.
    qmtest::WriteText(dir / "blocker", "x");
    album.SetOutputFileName((dir / "blocker" / "album").string());
    album.OnStart();
    EXPECT_NE(view.errors.back().first.find("error in"), std::string::npos)
        << view.errors.back().first;
    EXPECT_EQ(view.errors.size(), 4u);
    EXPECT_FALSE(album.IsRunning());
    EXPECT_EQ(album.GetOutcome(), CAlbumJob::Outcome::kNone);
    EXPECT_TRUE(OutputFiles().empty());
    EXPECT_TRUE(albumView.enabled);
}

// A dot inside the name is not an extension; the generated name follows
// the album mask below the output folder.
TEST_F(AlbumJob, NamesTakeTheFormatsExtension) {
    InsertThree(OutputFormat::FLAC);
    album.SetOutputFileName("/x/Vol. 2");
    EXPECT_EQ(album.AlbumPath(nullptr), "/x/Vol. 2.flac");
    album.SetOutputFileName("/x/Best.FLAC");
    EXPECT_EQ(album.AlbumPath(nullptr), "/x/Best.FLAC");
    album.SetNamingMask("{ARTIST}\\{ALBUM}");
    album.OnGenerateName();
    EXPECT_EQ(album.GetOutputFileName(),
              (dir / "out" / "The Testers" / "Grab Suite.flac").string());
}

} // namespace
} // namespace jobtest
