#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <link.h>

#include "core/Error.h"
#include "core/Progress.h"
#include "encoders/LameAudioBuffer.h"
#include "encoders/MP3Encoder.h"
#include "platform/RiffFile.h"
#include "support/Chain.h"
#include "support/Oracles.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using qmtest::Bytes;
using qmtest::PcmFormat;

std::string ProgramFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

struct Mp3Settings {
    std::int32_t minBitrate = 128;
    std::int32_t maxBitrate = 192;
    std::int32_t avgBitrate = 0;
    bool variable = true;
    std::uint32_t sampleRate = 44100;
    std::uint8_t mode = 1;
    std::int32_t vbrQuality = 6;
};

bool Configure(CMP3Encoder& encoder, const std::filesystem::path& path, const Mp3Settings& s) {
    return encoder.Init(ProgramFolder().c_str()) &&
           encoder.OutputSettings(path.c_str(),
                                  {s.minBitrate, s.maxBitrate, s.avgBitrate, s.variable,
                                   s.avgBitrate > 0, s.sampleRate, s.mode, s.vbrQuality});
}

// Encodes `pcm` into `path`; true when the whole chain succeeded.
bool EncodeMp3(const std::filesystem::path& path, const Mp3Settings& settings, const Bytes& pcm,
               PcmFormat format, std::int32_t blockFrames = 15288) {
    CMP3Encoder encoder;
    CError registry;
    if (!Configure(encoder, path, settings)) {
        return false;
    }
    const auto result = qmtest::RunChain(encoder, pcm, format, &registry, blockFrames);
    encoder.DeInit();
    return result.ok && result.finished;
}

// What an MPEG audio frame walk finds: the frames, and the Xing/Info frame
// LAME puts first.
struct FrameScan {
    int frames = 0;
    std::size_t endOffset = 0; // where the walk stopped
    int sampleRate = 0;
    int samplesPerFrame = 0;
    std::string tag; // "Xing", "Info" or ""
    std::uint32_t tagFrames = 0;
    bool tagHasFrames = false;
};

FrameScan ScanFrames(const Bytes& file) {
    static const int kBitrates[2][15] = {
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},     // MPEG-2/2.5
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}, // MPEG-1
    };
    static const int kRates[4][3] = {
        {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    FrameScan scan;
    std::size_t at = 0;
    while (at + 4 <= file.size()) {
        const std::uint8_t* h = &file[at];
        const int version = (h[1] >> 3) & 3;
        const int layer = (h[1] >> 1) & 3;
        const int bitrateIndex = h[2] >> 4;
        const int rateIndex = (h[2] >> 2) & 3;
        if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || version == 1 || layer != 1 ||
            bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
            break;
        }
        const bool mpeg1 = version == 3;
        const int rate = kRates[version][rateIndex];
        const int bitrate = kBitrates[mpeg1 ? 1 : 0][bitrateIndex] * 1000;
        const int length = (mpeg1 ? 144 : 72) * bitrate / rate + ((h[2] >> 1) & 1);
        if (scan.frames == 0) {
            scan.sampleRate = rate;
            scan.samplesPerFrame = mpeg1 ? 1152 : 576;
            for (std::size_t i = at + 4;
                 i + 12 <= at + static_cast<std::size_t>(length) && i + 12 <= file.size(); ++i) {
                if (std::memcmp(&file[i], "Xing", 4) == 0 ||
                    std::memcmp(&file[i], "Info", 4) == 0) {
                    scan.tag.assign(reinterpret_cast<const char*>(&file[i]), 4);
                    const std::uint32_t flags = (file[i + 4] << 24) | (file[i + 5] << 16) |
                                                (file[i + 6] << 8) | file[i + 7];
                    scan.tagHasFrames = (flags & 1) != 0;
                    scan.tagFrames = (static_cast<std::uint32_t>(file[i + 8]) << 24) |
                                     (file[i + 9] << 16) | (file[i + 10] << 8) | file[i + 11];
                    break;
                }
            }
        }
        ++scan.frames;
        at += static_cast<std::size_t>(length);
    }
    scan.endOffset = at;
    return scan;
}

// mpg123's decoding as 16-bit samples, in the stream's own channel count.
std::vector<std::int16_t> DecodeMp3(const std::filesystem::path& path) {
    const auto result = qmtest::Run("mpg123 -q -s " + qmtest::ShellQuote(path.string()));
    EXPECT_EQ(result.exitCode, 0) << "mpg123 refused " << path;
    return qmtest::ToSamples16(Bytes(result.out.begin(), result.out.end()));
}

double Rms(const std::vector<std::int16_t>& samples, std::size_t first, std::size_t step) {
    double sum = 0.0;
    std::size_t n = 0;
    for (std::size_t i = first; i < samples.size(); i += step, ++n) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    return n > 0 ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}

// Correlation of two equally laid-out sample runs (over the shorter one).
double Correlation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    double ab = 0.0;
    double aa = 0.0;
    double bb = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        ab += static_cast<double>(a[i]) * b[i];
        aa += static_cast<double>(a[i]) * a[i];
        bb += static_cast<double>(b[i]) * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

TEST(MP3Encoder, VbrFileDecodesAndCarriesXingHeaderWithFrameCount) {
    qmtest::TempDir dir;
    const auto path = dir / "vbr.mp3";
    const PcmFormat format{44100, 2, 16};
    const Bytes pcm = qmtest::MusicLike(format, 3.0);
    ASSERT_TRUE(EncodeMp3(path, {}, pcm, format));

    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.codec, "mp3");
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.channels, 2);

    const Bytes file = qmtest::ReadFile(path);
    const FrameScan scan = ScanFrames(file);
    EXPECT_EQ(scan.endOffset, file.size()) << "bytes after the last frame (a tag?)";
    EXPECT_EQ(scan.tag, "Xing");
    ASSERT_TRUE(scan.tagHasFrames);
    EXPECT_EQ(static_cast<int>(scan.tagFrames), scan.frames - 1) << "audio frames after the tag";

    // With the header's gapless data the decoder gives back the input length.
    const auto decoded = DecodeMp3(path);
    const auto input = qmtest::ToSamples16(pcm);
    EXPECT_NEAR(static_cast<double>(decoded.size()) / 2, static_cast<double>(input.size()) / 2,
                1152.0);
    EXPECT_GT(Correlation(decoded, input), 0.9) << "decoded audio does not follow the input";
}

TEST(MP3Encoder, CbrFileHasNoXingOrInfoHeader) {
    qmtest::TempDir dir;
    const auto path = dir / "cbr.mp3";
    const PcmFormat format{44100, 2, 16};
    const Bytes pcm = qmtest::MusicLike(format, 2.0);
    Mp3Settings cbr;
    cbr.variable = false;
    cbr.minBitrate = 128;
    ASSERT_TRUE(EncodeMp3(path, cbr, pcm, format));

    const FrameScan scan = ScanFrames(qmtest::ReadFile(path));
    EXPECT_EQ(scan.tag, "");
    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.bitRate, 128000);
    // Without gapless data the decoder adds the encoder's delay and padding,
    // less than two frames.
    const double frames = static_cast<double>(DecodeMp3(path).size()) / 2;
    EXPECT_GE(frames, static_cast<double>(pcm.size()) / 4);
    EXPECT_LT(frames, static_cast<double>(pcm.size()) / 4 + 2 * 1152);
}

TEST(MP3Encoder, ConfigurationRecordFollowsTheSettings) {
    qmtest::TempDir dir;
    auto field = [](const CMP3Encoder& e, std::size_t offset) {
        std::int32_t value;
        std::memcpy(&value, reinterpret_cast<const std::uint8_t*>(&e.GetConfig()) + offset, 4);
        return value;
    };
    CMP3Encoder vbr;
    ASSERT_TRUE(
        vbr.OutputSettings((dir / "a.mp3").c_str(), {112, 256, 0, true, false, 48000, 1, 3}));
    const std::int32_t expected[][2] = {
        {0, 256}, {4, 1},  {8, 331}, {16, 48000}, {20, 1}, {24, 112}, {28, 256},
        {32, -1}, {36, 1}, {40, 0},  {44, 0},     {48, 1}, {52, 1},   {56, 1},
        {60, 1},  {64, 1}, {68, 1},  {72, 3},     {76, 0}, {80, 0},   {84, 1}};
    for (const auto& [offset, value] : expected) {
        EXPECT_EQ(field(vbr, static_cast<std::size_t>(offset)), value) << "offset " << offset;
    }
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&vbr.GetConfig());
    for (std::size_t i = 88; i < 331; ++i) {
        ASSERT_EQ(raw[i], 0) << "offset " << i;
    }

    CMP3Encoder abr;
    ASSERT_TRUE(
        abr.OutputSettings((dir / "b.mp3").c_str(), {96, 320, 160, true, true, 44100, 0, 3}));
    EXPECT_EQ(field(abr, 72), 0);      // no quality in ABR
    EXPECT_EQ(field(abr, 76), 160000); // bit/s
    EXPECT_EQ(field(abr, 80), 4);      // ABR method

    CMP3Encoder cbr;
    ASSERT_TRUE(
        cbr.OutputSettings((dir / "c.mp3").c_str(), {192, 320, 160, false, true, 44100, 2, 3}));
    for (int offset : {64, 68, 72, 76, 80}) {
        EXPECT_EQ(field(cbr, static_cast<std::size_t>(offset)), 0) << "VBR field " << offset;
    }
    EXPECT_EQ(field(cbr, 24), 192);
    for (CMP3Encoder* e : {&vbr, &abr, &cbr}) {
        e->Close(false);
    }
}

TEST(MP3Encoder, AverageBitrateModeReachesTheLibrary) {
    qmtest::TempDir dir;
    const auto path = dir / "abr.mp3";
    const PcmFormat format{44100, 2, 16};
    Mp3Settings abr;
    abr.avgBitrate = 160;
    abr.minBitrate = 32;
    abr.maxBitrate = 320;
    ASSERT_TRUE(EncodeMp3(path, abr, qmtest::MusicLike(format, 4.0), format));
    const FrameScan scan = ScanFrames(qmtest::ReadFile(path));
    EXPECT_EQ(scan.tag, "Xing");
    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_NEAR(static_cast<double>(info.bitRate), 160000.0, 24000.0);
}

TEST(MP3Encoder, MonoInputIntoStereoSettingMakesMonoStream) {
    qmtest::TempDir dir;
    const auto path = dir / "mono.mp3";
    const PcmFormat mono{44100, 1, 16};
    const Bytes pcm = qmtest::MusicLike(mono, 2.0);
    CMP3Encoder encoder;
    CError registry;
    ASSERT_TRUE(Configure(encoder, path, {}));
    ASSERT_TRUE(qmtest::RunChain(encoder, pcm, mono, &registry).ok);
    const std::int32_t mode = encoder.GetConfig().mode; // a packed field: by value
    EXPECT_EQ(mode, 3);
    encoder.DeInit();

    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.channels, 1);
    const auto decoded = DecodeMp3(path);
    EXPECT_NEAR(static_cast<double>(decoded.size()), static_cast<double>(pcm.size()) / 2, 1152.0);
    EXPECT_GT(Correlation(decoded, qmtest::ToSamples16(pcm)), 0.9);
}

TEST(MP3Encoder, StereoInputIntoMonoModeKeepsTheLeftChannel) {
    qmtest::TempDir dir;
    const auto path = dir / "left.mp3";
    const PcmFormat stereo{44100, 2, 16};
    // The right channel is the left one inverted: a mix of both would be
    // silence, the left channel alone is not.
    auto samples = qmtest::ToSamples16(qmtest::Sine(stereo, 2.0, 440.0, 0.5));
    for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
        samples[i + 1] = static_cast<std::int16_t>(-samples[i]);
    }
    Mp3Settings monoMode;
    monoMode.mode = 3;
    ASSERT_TRUE(EncodeMp3(path, monoMode, qmtest::FromSamples16(samples), stereo));

    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.channels, 1);
    const auto decoded = DecodeMp3(path);
    EXPECT_NEAR(static_cast<double>(decoded.size()), static_cast<double>(samples.size()) / 2,
                1152.0);
    EXPECT_NEAR(Rms(decoded, 0, 1), Rms(samples, 0, 2), Rms(samples, 0, 2) * 0.15);
}

TEST(MP3Encoder, EightBitInputAtALowRateIsWidened) {
    // Mono at 16 kHz: the library's chunk is 576 samples, and its flush
    // needs more room than four chunks.
    qmtest::TempDir dir;
    const auto path = dir / "low.mp3";
    const PcmFormat format{16000, 1, 8};
    const Bytes pcm = qmtest::Sine(format, 2.0, 300.0, 0.6);
    Mp3Settings low;
    low.sampleRate = 16000;
    low.minBitrate = 32;
    low.maxBitrate = 64;
    ASSERT_TRUE(EncodeMp3(path, low, pcm, format, 1000));
    const auto info = qmtest::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.sampleRate, 16000);
    EXPECT_EQ(info.channels, 1);
    const auto decoded = DecodeMp3(path);
    EXPECT_NEAR(static_cast<double>(decoded.size()), static_cast<double>(pcm.size()), 576.0);
    // Full scale 0.6 of 8 bits is 0.6 of 16 bits once widened.
    EXPECT_NEAR(Rms(decoded, 0, 1), 0.6 * 32767 / std::sqrt(2.0), 0.6 * 32767 * 0.1);
}

TEST(MP3Encoder, EmptyStreamClosedCompleteIsAValidFile) {
    qmtest::TempDir dir;
    const auto path = dir / "empty.mp3";
    CMP3Encoder encoder;
    CError registry;
    encoder.SetError(&registry);
    auto finish = qm::Event::Create();
    encoder.SetFinishEvent(finish);
    ASSERT_TRUE(Configure(encoder, path, {}));
    ASSERT_EQ(encoder.SetInputProps(44100, 2, 16), 0);
    encoder.Close(true);
    encoder.DeInit();
    EXPECT_TRUE(finish->IsSet());
    EXPECT_FALSE(registry.IsAnyActual());
    ASSERT_TRUE(std::filesystem::exists(path));
    const FrameScan scan = ScanFrames(qmtest::ReadFile(path));
    EXPECT_GE(scan.frames, 1);
    EXPECT_EQ(scan.tag, "Xing");
    EXPECT_EQ(static_cast<int>(scan.tagFrames), scan.frames - 1);
    EXPECT_LE(DecodeMp3(path).size(), 2u * 1152u);
}

TEST(MP3Encoder, AbortedCloseDeletesTheFileAndSignals) {
    qmtest::TempDir dir;
    const auto path = dir / "aborted.mp3";
    CMP3Encoder encoder;
    auto finish = qm::Event::Create();
    encoder.SetFinishEvent(finish);
    ASSERT_TRUE(Configure(encoder, path, {}));
    ASSERT_EQ(encoder.SetInputProps(44100, 2, 16), 0);
    const Bytes pcm = qmtest::MusicLike({}, 1.0);
    ASSERT_EQ(encoder.Write(pcm.data(), static_cast<std::int32_t>(pcm.size() / 4)),
              WriteResult::Accepted);
    ASSERT_TRUE(std::filesystem::exists(path));
    encoder.Close(false);
    encoder.DeInit();
    EXPECT_TRUE(finish->IsSet());
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(MP3Encoder, CloseBeforeOutputSettingsTouchesNothing) {
    qmtest::TempDir dir;
    const auto bystander = dir / "existing.mp3";
    qmtest::WriteFile(bystander, Bytes(100, 7));
    CMP3Encoder encoder;
    CError registry;
    encoder.SetError(&registry);
    auto finish = qm::Event::Create();
    encoder.SetFinishEvent(finish);
    encoder.Close(false);
    encoder.Close(true);
    EXPECT_FALSE(encoder.IsLoaded());
    EXPECT_FALSE(registry.IsAnyActual());
    EXPECT_EQ(qmtest::ReadFile(bystander).size(), 100u);
    // The job waiting for the sink is still told that it is done.
    EXPECT_TRUE(finish->IsSet());
}

// Hides the system's library behind a name nothing on the library path has.
class HiddenLibrary {
public:
    explicit HiddenLibrary(const std::string& name) { CMP3Encoder::SetLibraryFileName(name); }
    ~HiddenLibrary() { CMP3Encoder::SetLibraryFileName(""); }
    HiddenLibrary(const HiddenLibrary&) = delete;
    HiddenLibrary& operator=(const HiddenLibrary&) = delete;
};

TEST(MP3Encoder, MissingLibraryFailsInitWithTheLameErrorAndLeavesNoFile) {
    qmtest::TempDir dir;
    const auto empty = dir / "program";
    std::filesystem::create_directory(empty);
    const HiddenLibrary hidden("libqm-absent-mp3lame.so.0");
    CMP3Encoder encoder;
    CError registry;
    encoder.SetError(&registry);
    EXPECT_FALSE(encoder.Init(empty.c_str()));
    EXPECT_FALSE(encoder.IsLoaded());
    const CErrorItem* item = qmtest::FindItem(registry, 7);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->code, 15);
    EXPECT_EQ(registry.FullMessage(item),
              "Failed to initialize the lame encoder (error in 'MP3 encoder' module)");

    // A caller that goes on regardless gets no stream and no file.
    const auto path = dir / "x.mp3";
    auto finish = qm::Event::Create();
    encoder.SetFinishEvent(finish);
    ASSERT_TRUE(encoder.OutputSettings(path.c_str(), {128, 192, 0, true, false, 44100, 1, 6}));
    EXPECT_NE(encoder.SetInputProps(44100, 2, 16), 0);
    const Bytes block(4 * 1152, 1);
    EXPECT_EQ(encoder.Write(block.data(), 1152), WriteResult::Refused);
    encoder.Close(false);
    EXPECT_TRUE(finish->IsSet());
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(MP3Encoder, LibraryInTheGivenFolderComesFirst) {
    // Only the folder has a file by this name: Init finds it there.
    Dl_info where{};
    void* system = ::dlopen(CMP3Encoder::kLibraryFileName, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(system, nullptr) << "the system's MP3 library is not installed";
    ASSERT_NE(::dladdr(::dlsym(system, "lame_init"), &where), 0);
    const std::filesystem::path real = where.dli_fname;
    ::dlclose(system);

    qmtest::TempDir dir;
    const std::string name = "libqm-folder-mp3lame.so.0";
    std::filesystem::create_symlink(real, dir / name);
    const HiddenLibrary hidden(name);
    CMP3Encoder elsewhere;
    EXPECT_FALSE(elsewhere.Init("/nonexistent-folder"));
    CMP3Encoder here;
    ASSERT_TRUE(here.Init(dir.path().c_str()));
    ASSERT_TRUE(here.Init(dir.path().c_str())); // loaded once, not again

    const auto path = dir / "folder.mp3";
    ASSERT_TRUE(here.OutputSettings(path.c_str(), {128, 192, 0, false, false, 44100, 1, 6}));
    const PcmFormat format{44100, 2, 16};
    CError registry;
    EXPECT_TRUE(qmtest::RunChain(here, qmtest::MusicLike(format, 0.5), format, &registry).ok);
    here.DeInit();
    EXPECT_TRUE(qmtest::Probe(path).ok);
}

TEST(MP3Encoder, AdapterOffersTheSixCallsByName) {
    qm::lame::Module* module = qm::lame::LoadModule(CMP3Encoder::kLibraryFileName);
    ASSERT_NE(module, nullptr);
    for (const char* name : {"beInitStream", "beEncodeChunk", "beDeinitStream", "beCloseStream",
                             "beVersion", "beWriteVBRHeader"}) {
        EXPECT_NE(qm::lame::GetProc(module, name), nullptr) << name;
    }
    EXPECT_EQ(qm::lame::GetProc(module, "beEncodeChunkVBR"), nullptr);
    auto version = reinterpret_cast<qm::lame::BeVersion>(qm::lame::GetProc(module, "beVersion"));
    qm::lame::Version v{};
    version(&v);
    EXPECT_EQ(v.major, 3);
    EXPECT_NE(std::string(v.homepage), "");

    // A record of another format or size is refused before anything starts.
    auto init = reinterpret_cast<qm::lame::BeInitStream>(qm::lame::GetProc(module, "beInitStream"));
    qm::lame::StreamConfig config{};
    config.format = 257;
    std::uint32_t samples = 0;
    std::uint32_t bufferSize = 0;
    qm::lame::StreamHandle stream = nullptr;
    EXPECT_EQ(init(&config, &samples, &bufferSize, &stream), qm::lame::kInvalidFormat);
    config.format = qm::lame::kConfigFormat;
    config.version = 1;
    config.size = 300;
    EXPECT_EQ(init(&config, &samples, &bufferSize, &stream), qm::lame::kInvalidFormatParameters);
    EXPECT_EQ(stream, nullptr);
    qm::lame::FreeModule(module);
}

// Counts the chunks the buffer hands to the library.
int g_chunks = 0;
qm::lame::BeEncodeChunk g_realEncode = nullptr;
std::uint32_t CountingEncode(qm::lame::StreamHandle stream, std::uint32_t samples,
                             std::int16_t* pcm, std::uint8_t* output, std::uint32_t* bytes) {
    ++g_chunks;
    return g_realEncode(stream, samples, pcm, output, bytes);
}

TEST(MP3Encoder, WriteFillingTheChunkExactlyEncodesItAtOnce) {
    qm::lame::Module* module = qm::lame::LoadModule(CMP3Encoder::kLibraryFileName);
    ASSERT_NE(module, nullptr);
    using namespace qm::lame;
    auto init = reinterpret_cast<BeInitStream>(GetProc(module, "beInitStream"));
    g_realEncode = reinterpret_cast<BeEncodeChunk>(GetProc(module, "beEncodeChunk"));
    auto deinit = reinterpret_cast<BeDeinitStream>(GetProc(module, "beDeinitStream"));
    auto close = reinterpret_cast<BeCloseStream>(GetProc(module, "beCloseStream"));

    CMP3Encoder settings; // builds a record the way the stage does
    qmtest::TempDir dir;
    ASSERT_TRUE(settings.OutputSettings((dir / "unused.mp3").c_str(),
                                        {128, 192, 0, false, false, 44100, 1, 6}));
    StreamConfig config = settings.GetConfig();
    config.sampleRate = 44100;
    settings.Close(false);
    std::uint32_t samples = 0;
    std::uint32_t bufferSize = 0;
    StreamHandle stream = nullptr;
    ASSERT_EQ(init(&config, &samples, &bufferSize, &stream), kOk);
    ASSERT_EQ(samples, 2304u); // one frame of 1152 stereo samples

    qm::RiffFile file;
    ASSERT_TRUE(file.Create(dir / "chunks.mp3"));
    CLameAudioBuffer buffer;
    ASSERT_TRUE(buffer.Init(samples * 2, bufferSize, CountingEncode, deinit, &file, stream));
    const std::vector<std::int16_t> pcm(samples * 3, 100);
    g_chunks = 0;
    ASSERT_TRUE(buffer.Write(pcm.data(), samples - 2, 2));
    EXPECT_EQ(g_chunks, 0);
    EXPECT_EQ(buffer.GetFill(), (samples - 2) * 2);
    ASSERT_TRUE(buffer.Write(pcm.data(), 2, 2)); // exactly the room left
    EXPECT_EQ(g_chunks, 1);
    EXPECT_EQ(buffer.GetFill(), 0u);
    ASSERT_TRUE(buffer.Write(pcm.data(), samples * 2 + 10, 2)); // two chunks and a rest
    EXPECT_EQ(g_chunks, 3);
    EXPECT_EQ(buffer.GetFill(), 20u);
    ASSERT_TRUE(buffer.Flush());
    EXPECT_EQ(g_chunks, 4);
    EXPECT_EQ(close(stream), kOk);
    EXPECT_TRUE(file.Close());
    FreeModule(module);
}

TEST(MP3Encoder, RefusedWriteIsError34AndLeavesNoFile) {
    qmtest::TempDir dir;
    const auto path = dir / "big.mp3";
    const PcmFormat format{44100, 2, 16};
    const Bytes pcm = qmtest::MusicLike(format, 5.0);
    const bool right = qmtest::RunWithFileSizeLimit(20 * 1024, [&] {
        CMP3Encoder encoder;
        CError registry;
        encoder.SetError(&registry);
        if (!Configure(encoder, path, {})) {
            return false;
        }
        const auto result = qmtest::RunChain(encoder, pcm, format, &registry);
        const CErrorItem* item = qmtest::FindItem(registry, 7);
        return !result.ok && result.finished && item != nullptr && item->code == 34;
    });
    EXPECT_TRUE(right) << "no error 34 in module 7, or the write succeeded";
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(MP3Encoder, OutputFileThatCannotBeCreatedIsError1) {
    qmtest::TempDir dir;
    const auto path = dir / "missing" / "x.mp3";
    CMP3Encoder encoder;
    CError registry;
    encoder.SetError(&registry);
    EXPECT_FALSE(encoder.OutputSettings(path.c_str(), {128, 192, 0, true, false, 44100, 1, 6}));
    const CErrorItem* item = qmtest::FindItem(registry, 7);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->code, 1);
    EXPECT_EQ(std::string(item->text), path.string());
}

TEST(MP3Encoder, ProgressRegistersEncodingMP3) {
    CMP3Encoder encoder;
    CProgress progress;
    encoder.InitProgress(&progress, false); // fed by the ripper: no process of its own
    EXPECT_EQ(progress.GetCount(), 0);
    EXPECT_EQ(qmtest::RegisteredProcess(encoder), "Encoding MP3");
    EXPECT_EQ(encoder.GetProgressWeight(), 2000);
}

} // namespace
