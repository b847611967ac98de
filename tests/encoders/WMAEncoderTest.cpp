#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <functional>
#include <map>
#include <numbers>
#include <ostream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <taglib/asffile.h>
#include <taglib/asftag.h>

#include "core/Error.h"
#include "core/Progress.h"
#include "encoders/WMAEncoder.h"
#include "support/Oracles.h"
#include "support/PcmSource.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using qmtest::Bytes;

// One entry of the WMA configuration table the settings keep.
struct WmaRow {
    int index;
    std::int32_t bitrate; // or the quality of a one-pass VBR row
    std::int32_t rate;
    std::int32_t channels;
    std::int32_t vbr;
    std::int32_t passes;
};

void PrintTo(const WmaRow& row, std::ostream* os) {
    *os << "row " << row.index << " (" << row.bitrate << ", " << row.rate << " Hz, " << row.channels
        << " ch, VBR " << row.vbr << ", " << row.passes << " pass)";
}

const std::vector<WmaRow>& Table() {
    static const std::vector<WmaRow> rows = {
        {0, 8000, 8000, 1, 0, 1},     {1, 6000, 8000, 1, 0, 1},     {2, 5000, 8000, 1, 0, 1},
        {3, 0, 8000, 1, 0, 1},        {4, 12000, 8000, 2, 0, 1},    {5, 10000, 11025, 1, 0, 1},
        {6, 8000, 11025, 1, 0, 1},    {7, 16000, 16000, 1, 0, 1},   {8, 12000, 16000, 1, 0, 1},
        {9, 10000, 16000, 1, 0, 1},   {10, 20000, 16000, 2, 0, 1},  {11, 16000, 16000, 2, 0, 1},
        {12, 20000, 22050, 1, 0, 1},  {13, 16000, 22050, 1, 0, 1},  {14, 32000, 22050, 2, 0, 1},
        {15, 22000, 22050, 2, 0, 1},  {16, 20000, 22050, 2, 0, 1},  {17, 20000, 32000, 1, 0, 1},
        {18, 48000, 32000, 2, 0, 1},  {19, 40000, 32000, 2, 0, 1},  {20, 32000, 32000, 2, 0, 1},
        {21, 48000, 44100, 1, 0, 1},  {22, 32000, 44100, 1, 0, 1},  {23, 20000, 44100, 1, 0, 1},
        {24, 320000, 44100, 2, 0, 1}, {25, 256000, 44100, 2, 0, 1}, {26, 192000, 44100, 2, 0, 1},
        {27, 160000, 44100, 2, 0, 1}, {28, 128000, 44100, 2, 0, 1}, {29, 96000, 44100, 2, 0, 1},
        {30, 80000, 44100, 2, 0, 1},  {31, 64000, 44100, 2, 0, 1},  {32, 48000, 44100, 2, 0, 1},
        {33, 32000, 44100, 2, 0, 1},  {34, 192000, 48000, 2, 0, 1}, {35, 128000, 48000, 2, 0, 1},
        {36, 96000, 48000, 2, 0, 1},  {37, 64000, 48000, 2, 0, 1},  {38, 98, 44100, 2, 1, 1},
        {39, 90, 44100, 2, 1, 1},     {40, 75, 44100, 2, 1, 1},     {41, 50, 44100, 2, 1, 1},
        {42, 25, 44100, 2, 1, 1},     {43, 10, 44100, 2, 1, 1},     {44, 98, 48000, 2, 1, 1},
        {45, 90, 48000, 2, 1, 1},     {46, 192000, 44100, 2, 1, 2}, {47, 160000, 44100, 2, 1, 2},
        {48, 128000, 44100, 2, 1, 2}, {49, 96000, 44100, 2, 1, 2},  {50, 64000, 44100, 2, 1, 2},
        {51, 48000, 44100, 2, 1, 2},  {52, 192000, 48000, 2, 1, 2}, {53, 128000, 48000, 2, 1, 2},
        {54, 96000, 48000, 2, 1, 2},  {55, 64000, 48000, 2, 1, 2},
    };
    return rows;
}

constexpr qmtest::PcmFormat kCd{44100, 2, 16};

// The test signal: two glides, different on each channel, at full strength
// from the first sample on, so that a lost start or a shift shows.
double Signal(int channel, double t) {
    const double pi = std::numbers::pi;
    const double glide = std::sin(2 * pi * (220 * t + 90 * t * t) + channel * 0.7);
    const double fall = std::sin(2 * pi * (1250 * t - 40 * t * t) + channel * 1.9);
    return 0.45 * glide + (channel == 0 ? 0.25 : 0.15) * fall;
}

Bytes CdInput(double seconds) {
    std::vector<std::int16_t> samples;
    const auto frames = static_cast<std::size_t>(seconds * kCd.rate);
    samples.reserve(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kCd.rate;
        for (int ch = 0; ch < 2; ++ch) {
            samples.push_back(static_cast<std::int16_t>(std::lround(Signal(ch, t) * 32767.0)));
        }
    }
    return qmtest::FromSamples16(samples);
}

// What a file at `rate`, `channels` should hold: channel 0 of the signal,
// or the mean of both for mono.
std::vector<double> Reference(std::int32_t rate, std::int32_t channels, std::size_t frames) {
    std::vector<double> out(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        out[i] = 32767.0 * (channels == 1 ? (Signal(0, t) + Signal(1, t)) / 2 : Signal(0, t));
    }
    return out;
}

// Samples per codec frame at a sample rate.
int FrameLength(std::int32_t rate) {
    return rate <= 16000 ? 512 : rate <= 22050 ? 1024 : 2048;
}

struct Alignment {
    long lag = 0;       // decoded[i + lag] matches reference[i]
    double match = 0.0; // normalised correlation at that lag
};

// Finds how the first channel of `decoded` lines up with `reference` over
// reference[start, start + length), searching lags up to `maxLag`.
Alignment Align(const std::vector<std::int16_t>& decoded, int channels,
                const std::vector<double>& reference, std::size_t start, std::size_t length,
                long maxLag) {
    const long frames = static_cast<long>(decoded.size()) / channels;
    const std::size_t end = std::min(start + length, reference.size());
    // Plain pointers: this loop runs millions of times in a sanitizer build.
    const std::int16_t* d = decoded.data();
    const double* r = reference.data();
    double rr = 0;
    for (std::size_t i = start; i < end; ++i) {
        rr += r[i] * r[i];
    }
    Alignment best{0, -2.0};
    for (long lag = -maxLag; lag <= maxLag; ++lag) {
        double dot = 0;
        double dd = 0;
        for (std::size_t i = start; i < end; ++i) {
            const long j = static_cast<long>(i) + lag;
            const double v = (j >= 0 && j < frames) ? d[j * channels] : 0.0;
            dot += v * r[i];
            dd += v * v;
        }
        const double match = (dd > 0 && rr > 0) ? dot / std::sqrt(dd * rr) : 0.0;
        if (match > best.match) {
            best = {lag, match};
        }
    }
    return best;
}

struct Chain {
    CWMAEncoder encoder;
    qm::EventHandle finish = qm::Event::Create();
    CError errors;
};

// Configures `chain` for `row` and runs `pcm` through a CD-format source
// into it. False when the encoder refused or the source failed.
bool Grab(Chain& chain, const std::filesystem::path& path, const Bytes& pcm, const WmaRow& row,
          std::int32_t lossless = 0, CProgress* progress = nullptr,
          std::function<void(int)> beforeBlock = {}) {
    chain.finish->Reset();
    chain.encoder.SetError(&chain.errors);
    chain.encoder.SetFinishEvent(chain.finish);
    if (chain.encoder.OutputSettings(path.c_str(), {lossless, row.bitrate, row.rate, row.channels,
                                                    row.vbr, row.passes}) != 1) {
        return false;
    }
    if (progress != nullptr) {
        // As a job that feeds the encoder from a source of its own would.
        chain.encoder.InitProgress(progress, true);
        progress->NextProcess();
    }
    qmtest::PcmSource source(pcm, kCd);
    source.SetError(&chain.errors);
    source.Open(nullptr, &chain.encoder);
    if (beforeBlock) {
        source.SetBeforeBlock(std::move(beforeBlock));
    }
    const bool ok = source.Start() == 1 && !chain.errors.IsAnyActual();
    EXPECT_TRUE(chain.finish->IsSet());
    return ok;
}

const CErrorItem* FindItem(const CError& errors, int module) {
    for (const CErrorItem* item = errors.GetLast(); item != nullptr; item = item->next) {
        if (item->module == module) {
            return item;
        }
    }
    return nullptr;
}

// The first `seconds` of the CD signal, made once for every test.
const Bytes& SharedInput(double seconds) {
    static std::map<double, Bytes> made;
    auto found = made.find(seconds);
    if (found == made.end()) {
        found = made.emplace(seconds, CdInput(seconds)).first;
    }
    return found->second;
}

// Checks a written file against the input it was made from: decodable at
// the row's rate and channel count, as long as the input within one codec
// frame, nothing lost at the start, in line with the input throughout.
void ExpectFaithful(const std::filesystem::path& path, const WmaRow& row, std::size_t inputFrames) {
    const auto decoded = qmtest::ToSamples16(qmtest::DecodeWithFfmpeg(path));
    ASSERT_FALSE(decoded.empty());
    const std::size_t frames = decoded.size() / static_cast<std::size_t>(row.channels);
    const auto expected =
        static_cast<std::size_t>(static_cast<double>(inputFrames) * row.rate / kCd.rate + 0.5);
    const auto frameLength = static_cast<std::size_t>(FrameLength(row.rate));
    // The last frame of audio is followed by one of silence (see the writer),
    // so up to two frames of silence may follow.
    EXPECT_GE(frames + 2, expected) << "decoded audio is shorter than the input";
    EXPECT_LT(frames, expected + 2 * frameLength) << "more than the codec's padding added";

    const auto reference = Reference(row.rate, row.channels, expected);
    // Far enough to see a frame lost or added at the start.
    const long maxLag = FrameLength(row.rate) + 64;
    const std::size_t window = 1024;
    // The very start, the middle and the very end of the input.
    for (const std::size_t start : {std::size_t{0}, expected / 2, expected - window}) {
        const Alignment at = Align(decoded, row.channels, reference, start, window, maxLag);
        EXPECT_EQ(at.lag, 0) << "window at frame " << start << " is shifted";
        EXPECT_GT(at.match, 0.9) << "window at frame " << start << " does not match the input";
    }
    // Both ends at full strength: nothing faded in or out.
    for (const std::size_t start : {std::size_t{0}, expected - 256}) {
        double decodedLevel = 0;
        double referenceLevel = 0;
        for (std::size_t i = start; i < start + 256 && i < frames; ++i) {
            decodedLevel += std::abs(decoded[i * static_cast<std::size_t>(row.channels)]);
            referenceLevel += std::abs(reference[i]);
        }
        EXPECT_NEAR(decodedLevel / referenceLevel, 1.0, 0.15) << "level at frame " << start;
    }
}

std::string RowName(const WmaRow& row) {
    return "Row" + std::to_string(row.index) + "_" + std::to_string(row.bitrate) + "bps_" +
           std::to_string(row.rate) + "Hz_" + std::to_string(row.channels) + "ch";
}

std::vector<WmaRow> CbrRowsFrom24k() {
    std::vector<WmaRow> rows;
    for (const WmaRow& row : Table()) {
        if (row.vbr == 0 && row.bitrate >= 24000) {
            rows.push_back(row);
        }
    }
    return rows;
}

class WMAEncoderCbrRow : public ::testing::TestWithParam<WmaRow> {};

TEST_P(WMAEncoderCbrRow, TenSecondGrabIsReadAndDecodedFaithfully) {
    const WmaRow row = GetParam();
    qmtest::TempDir dir;
    const auto path = dir / "track.wma";
    const Bytes& pcm = SharedInput(10.0);
    Chain chain;
    ASSERT_TRUE(Grab(chain, path, pcm, row))
        << chain.errors.FullMessage(chain.errors.GetLastActual());

    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.codec, "wmav2");
    EXPECT_EQ(info.formatName, "asf");
    EXPECT_EQ(info.sampleRate, row.rate);
    EXPECT_EQ(info.channels, row.channels);
    EXPECT_EQ(info.bitRate, row.bitrate);
    ExpectFaithful(path, row, pcm.size() / 4);
}

INSTANTIATE_TEST_SUITE_P(Table, WMAEncoderCbrRow, ::testing::ValuesIn(CbrRowsFrom24k()),
                         [](const ::testing::TestParamInfo<WmaRow>& p) {
                             return RowName(p.param);
                         });

WmaRow Row(int index) {
    return Table()[static_cast<std::size_t>(index)];
}

TEST(WMAEncoder, AvailableRowsAreThoseTheCodecCanWrite) {
    for (const WmaRow& row : Table()) {
        const bool writable = row.vbr != 0 || row.bitrate >= 24000;
        EXPECT_EQ(CWMAEncoder::IsConfigurationAvailable(0, row.bitrate, row.rate, row.channels,
                                                        row.vbr, row.passes),
                  writable)
            << RowName(row);
        EXPECT_FALSE(CWMAEncoder::IsConfigurationAvailable(1, row.bitrate, row.rate, row.channels,
                                                           row.vbr, row.passes))
            << "lossless with " << RowName(row);
    }
}

TEST(WMAEncoder, LosslessAlwaysAsksFor44100StereoQuality100Format0x163) {
    const auto wanted = CWMAEncoder::Describe(1, 64000, 22050, 1, 0, 2);
    EXPECT_EQ(wanted.bitrate, 100);
    EXPECT_EQ(wanted.formatTag, 0x163);
    EXPECT_EQ(wanted.sampleRate, 44100);
    EXPECT_EQ(wanted.channels, 2);
    EXPECT_TRUE(wanted.vbr);
    EXPECT_EQ(wanted.passes, 1);
}

TEST(WMAEncoder, UnwritableConfigurationFailsWithTheRuntimeCodeAndLeavesNoFile) {
    struct Attempt {
        WmaRow row;
        std::int32_t lossless;
    };
    for (const Attempt& attempt :
         {Attempt{Row(23), 0}, Attempt{Row(16), 0}, Attempt{Row(3), 0}, Attempt{Row(28), 1}}) {
        SCOPED_TRACE(RowName(attempt.row) + (attempt.lossless ? " lossless" : ""));
        qmtest::TempDir dir;
        const auto path = dir / "track.wma";
        Chain chain;
        EXPECT_FALSE(Grab(chain, path, SharedInput(1.0), attempt.row, attempt.lossless));
        const CErrorItem* item = chain.errors.GetLastActual();
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->code, 10);
        EXPECT_EQ(item->module, 8);
        EXPECT_EQ(static_cast<std::uint32_t>(item->data), 0xC00D0BC2u);
        EXPECT_EQ(chain.errors.FullMessage(item),
                  "Function 'GenAudioProfile' failed[C00D0BC2] (error in 'WMA encoder' module)");

        // A driver that streamed on regardless still gets no file.
        EXPECT_NE(chain.encoder.SetInputProps(44100, 2, 16), 0);
        const Bytes block(4000, 1);
        EXPECT_EQ(chain.encoder.Write(block.data(), 1000), WriteResult::Accepted);
        chain.encoder.Close(true);
        EXPECT_TRUE(chain.finish->IsSet());
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST(WMAEncoder, ProfileMatchesBitrateWithin249BitsPerSecond) {
    CWMAEncoder::StreamDescription wanted{128000, 0x161, 44100, 2, false, 1};
    for (const std::int32_t bitrate : {128000 - 249, 128000, 128000 + 249}) {
        wanted.bitrate = bitrate;
        const auto profile = CWMAEncoder::GenAudioProfile(wanted);
        ASSERT_TRUE(profile) << bitrate;
        EXPECT_EQ(profile.GetStatus(), 0);
        EXPECT_EQ(profile->name, "Custom Profile");
        ASSERT_EQ(profile->streams.size(), 1u);
        const qm::wm::StreamConfig& stream = profile->streams.front();
        const qm::wm::MediaType& type = stream.mediaType;
        EXPECT_EQ(stream.number, 1);
        EXPECT_EQ(stream.name, "Audio Stream");
        EXPECT_EQ(stream.connection, "Audio");
        EXPECT_EQ(stream.bitrate, 128000u);
        EXPECT_FALSE(stream.vbr);
        EXPECT_EQ(type.majorType, qm::wm::MajorType::Audio);
        EXPECT_EQ(type.subtype, 0x161u);
        EXPECT_TRUE(type.fixedSizeSamples);
        EXPECT_FALSE(type.temporalCompression);
        EXPECT_EQ(type.sampleSize, type.format.blockAlign);
        EXPECT_EQ(type.format.avgBytesPerSec, 16000u);
        EXPECT_EQ(type.format.bitsPerSample, 16);
    }
    for (const std::int32_t bitrate : {128000 - 250, 128000 + 250}) {
        wanted.bitrate = bitrate;
        const auto profile = CWMAEncoder::GenAudioProfile(wanted);
        EXPECT_FALSE(profile);
        EXPECT_EQ(static_cast<std::uint32_t>(profile.GetStatus()), 0xC00D0BC2u) << bitrate;
    }
}

TEST(WMAEncoder, QualityRowsMatchOnlyTheirQualityFormat) {
    CWMAEncoder::StreamDescription wanted{50, 0x161, 44100, 2, true, 1};
    const auto profile = CWMAEncoder::GenAudioProfile(wanted);
    ASSERT_TRUE(profile);
    const qm::wm::StreamConfig& stream = profile->streams.front();
    EXPECT_EQ(stream.mediaType.format.avgBytesPerSec, 0x7FFFFF00u + 50);
    EXPECT_TRUE(stream.vbr);

    wanted.bitrate = 51; // no quality format between the table's steps
    EXPECT_EQ(static_cast<std::uint32_t>(CWMAEncoder::GenAudioProfile(wanted).GetStatus()),
              0xC00D0BC2u);
    wanted = {50, 0x161, 44100, 2, false, 1}; // a CBR "bitrate" of 50 bit/s
    EXPECT_EQ(static_cast<std::uint32_t>(CWMAEncoder::GenAudioProfile(wanted).GetStatus()),
              0xC00D0BC2u);
}

TEST(WMAEncoder, QualityRowIsWrittenAtItsBitrate) {
    const WmaRow row = Row(41); // quality 50
    qmtest::TempDir dir;
    const auto path = dir / "track.wma";
    const Bytes& pcm = SharedInput(3.0);
    Chain chain;
    ASSERT_TRUE(Grab(chain, path, pcm, row))
        << chain.errors.FullMessage(chain.errors.GetLastActual());
    const auto info = qmtest::Probe(path);
    EXPECT_EQ(info.codec, "wmav2");
    EXPECT_EQ(info.bitRate, 128000);
    ExpectFaithful(path, row, pcm.size() / 4);
}

TEST(WMAEncoder, TwoPassRowHoldsTheTrackThenWritesItOnceFromTimeZero) {
    const WmaRow row = Row(48); // 128 kbit/s, two passes
    qmtest::TempDir dir;
    const auto path = dir / "track.wma";
    const Bytes& pcm = SharedInput(4.0);
    const int blocks = static_cast<int>((pcm.size() / 4 + 15287) / 15288);
    Chain chain;
    CProgress progress;
    std::uintmax_t sizeWhileStreaming = 0;
    const bool ok = Grab(chain, path, pcm, row, 0, &progress, [&](int block) {
        if (block == blocks - 1) {
            std::error_code ignored;
            sizeWhileStreaming =
                std::filesystem::file_size(CFileSink::TemporaryPath(path.string()), ignored);
        }
    });
    ASSERT_TRUE(ok) << chain.errors.FullMessage(chain.errors.GetLastActual());

    // Registered twice (the job's process and the writing pass), and the
    // writing pass ran as the second.
    ASSERT_EQ(progress.GetCount(), 2);
    EXPECT_EQ(progress.GetCurrent(), 1);
    std::string description;
    progress.GetCurrentDescription(&description);
    EXPECT_EQ(description, "Encoding WMA (2nd pass)");
    EXPECT_GE(progress.GetTotalPercent(), 50);

    // Nothing reached the file during the analysis pass.
    const auto size = std::filesystem::file_size(path);
    EXPECT_LT(sizeWhileStreaming, size / 10);
    const auto info = qmtest::Probe(path);
    EXPECT_EQ(info.codec, "wmav2");
    EXPECT_EQ(info.bitRate, 128000);
    // A writing pass stamped after the analysis pass would start with the
    // length of the track in silence.
    ExpectFaithful(path, row, pcm.size() / 4);
}

TEST(WMAEncoder, ProgressRegistersTheSecondPassOnlyForTwoPassRows) {
    qmtest::TempDir dir;
    CWMAEncoder encoder;
    const WmaRow cbr = Row(28);
    ASSERT_EQ(encoder.OutputSettings((dir / "a.wma").c_str(),
                                     {0, cbr.bitrate, cbr.rate, cbr.channels, cbr.vbr, cbr.passes}),
              1);
    CProgress fed;
    encoder.InitProgress(&fed, false);
    EXPECT_EQ(fed.GetCount(), 0);
    CProgress own;
    encoder.InitProgress(&own, true);
    EXPECT_EQ(own.GetCount(), 1);
    encoder.Close(false);

    const WmaRow twoPass = Row(53);
    ASSERT_EQ(encoder.OutputSettings((dir / "b.wma").c_str(),
                                     {0, twoPass.bitrate, twoPass.rate, twoPass.channels,
                                      twoPass.vbr, twoPass.passes}),
              1);
    CProgress fedTwoPass;
    encoder.InitProgress(&fedTwoPass, false);
    ASSERT_EQ(fedTwoPass.GetCount(), 1);
    fedTwoPass.NextProcess();
    std::string description;
    fedTwoPass.GetCurrentDescription(&description);
    EXPECT_EQ(description, "Encoding WMA (2nd pass)");
    encoder.InitProgress(nullptr, true); // no tracker: nothing happens
    encoder.Close(false);
    EXPECT_FALSE(std::filesystem::exists(dir / "a.wma"));
    EXPECT_FALSE(std::filesystem::exists(dir / "b.wma"));
}

TEST(WMAEncoder, AbortedStreamLeavesNoFileAndTheEncoderServesTheNextTrack) {
    qmtest::TempDir dir;
    const Bytes& pcm = SharedInput(2.0);
    Chain chain;
    chain.encoder.SetFinishEvent(chain.finish);
    for (const WmaRow& row : {Row(48), Row(28)}) {
        SCOPED_TRACE(RowName(row));
        const auto path = dir / ("aborted" + std::to_string(row.index) + ".wma");
        chain.finish->Reset();
        ASSERT_EQ(chain.encoder.OutputSettings(
                      path.c_str(), {0, row.bitrate, row.rate, row.channels, row.vbr, row.passes}),
                  1);
        ASSERT_EQ(chain.encoder.SetInputProps(44100, 2, 16), 0);
        ASSERT_EQ(chain.encoder.Write(pcm.data(), static_cast<std::int32_t>(pcm.size() / 4)),
                  WriteResult::Accepted);
        chain.encoder.Close(false);
        EXPECT_TRUE(chain.finish->IsSet());
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    // After an aborted two-pass track, a one-pass track is written directly.
    const auto next = dir / "next.wma";
    ASSERT_TRUE(Grab(chain, next, pcm, Row(29)));
    ExpectFaithful(next, Row(29), pcm.size() / 4);
}

TEST(WMAEncoder, CloseWithoutStreamSignalsFinishAndLeavesNoFile) {
    qmtest::TempDir dir;
    Chain chain;
    chain.encoder.SetFinishEvent(chain.finish);
    chain.encoder.Close(true); // never configured
    EXPECT_TRUE(chain.finish->IsSet());

    // Configured for two passes but never streamed.
    chain.finish->Reset();
    const WmaRow row = Row(46);
    const auto path = dir / "never.wma";
    ASSERT_EQ(chain.encoder.OutputSettings(
                  path.c_str(), {0, row.bitrate, row.rate, row.channels, row.vbr, row.passes}),
              1);
    chain.encoder.Close(true);
    EXPECT_TRUE(chain.finish->IsSet());
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(WMAEncoder, OpenWritesTheKeptSettingsToANewPath) {
    qmtest::TempDir dir;
    const Bytes& pcm = SharedInput(1.0);
    Chain chain;
    ASSERT_TRUE(Grab(chain, dir / "first.wma", pcm, Row(21)));
    chain.finish->Reset();
    ASSERT_EQ(chain.encoder.Open((dir / "second.wma").c_str()), 1);
    qmtest::PcmSource source(pcm, kCd);
    source.Open(nullptr, &chain.encoder);
    ASSERT_EQ(source.Start(), 1);
    const auto info = qmtest::Probe(dir / "second.wma");
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.bitRate, 48000);
}

TEST(WMAEncoder, UncreatableFileIsError1WithThePath) {
    qmtest::TempDir dir;
    const auto path = dir / "missing" / "track.wma";
    Chain chain;
    EXPECT_FALSE(Grab(chain, path, SharedInput(1.0), Row(28)));
    const CErrorItem* item = FindItem(chain.errors, 8);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->code, 1);
    EXPECT_EQ(std::string(item->text), path.string());
    EXPECT_EQ(chain.errors.FullMessage(item),
              "Failed to open output file '" + path.string() + "' (error in 'WMA encoder' module)");
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(WMAEncoder, RefusedWriteIsError34AndLeavesNoFile) {
    // The file system refuses past 40 kB; in a child, so the limit does not
    // touch the test runner.
    qmtest::TempDir dir;
    const auto path = dir / "big.wma";
    const Bytes& pcm = SharedInput(5.0); // 80 kB at 128 kbit/s
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{40 * 1024, 40 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        Chain chain;
        const bool ok = Grab(chain, path, pcm, Row(28));
        const CErrorItem* item = FindItem(chain.errors, 8);
        const bool right = !ok && item != nullptr && item->code == 34 &&
                           !std::filesystem::exists(path) && chain.finish->IsSet();
        ::_exit(right ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "no error 34 in module 8, a file left, or no finish";
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(WMAEncoder, MuxerWritesNoTagsAndAttributesAddedLaterAreRead) {
    qmtest::TempDir dir;
    const auto path = dir / "track.wma";
    const Bytes& pcm = SharedInput(2.0);
    Chain chain;
    ASSERT_TRUE(Grab(chain, path, pcm, Row(28)));

    const auto tagsOf = [&path] {
        return qmtest::Run("ffprobe -v error -of json -show_entries format_tags:stream_tags " +
                           qmtest::ShellQuote(path.string()));
    };
    const auto bare = tagsOf();
    ASSERT_EQ(bare.exitCode, 0);
    EXPECT_EQ(bare.out.find("\"tags\""), std::string::npos) << bare.out;
    const Bytes audio = qmtest::DecodeWithFfmpeg(path);

    {
        TagLib::ASF::File file(path.c_str());
        ASSERT_TRUE(file.isValid());
        TagLib::ASF::Tag* tag = file.tag();
        tag->setTitle(TagLib::String("Café ☕", TagLib::String::UTF8));
        tag->setArtist(TagLib::String("The Players", TagLib::String::UTF8));
        tag->setAlbum(TagLib::String("Album", TagLib::String::UTF8));
        tag->setAttribute("WM/TrackNumber", TagLib::String("7"));
        tag->setAttribute("WM/Year", TagLib::String("1999"));
        ASSERT_TRUE(file.save());
    }

    const auto mutagen =
        qmtest::Run(std::string(qmtest::SystemPython()) +
                    " -c 'import sys, mutagen.asf; f = mutagen.asf.ASF(sys.argv[1]); "
                    "[print(k, f[k][0]) for k in (\"Title\", \"Author\", \"WM/AlbumTitle\", "
                    "\"WM/TrackNumber\", \"WM/Year\")]' " +
                    qmtest::ShellQuote(path.string()));
    ASSERT_EQ(mutagen.exitCode, 0) << mutagen.out;
    EXPECT_EQ(mutagen.out, "Title Café ☕\nAuthor The Players\nWM/AlbumTitle Album\n"
                           "WM/TrackNumber 7\nWM/Year 1999\n");

    const auto tagged = tagsOf();
    EXPECT_NE(tagged.out.find("\"title\": \"Café ☕\""), std::string::npos) << tagged.out;
    EXPECT_NE(tagged.out.find("\"artist\": \"The Players\""), std::string::npos) << tagged.out;
    EXPECT_NE(tagged.out.find("\"album\": \"Album\""), std::string::npos) << tagged.out;
    EXPECT_TRUE(qmtest::DecodeWithFfmpeg(path) == audio) << "tagging changed the audio";
}

} // namespace
