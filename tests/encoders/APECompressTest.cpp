#include <gtest/gtest.h>

#include <filesystem>

#include "APETestSignals.h"
#include "encoders/APECompress.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using apetest::Bytes;

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint16_t U16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

qm::WaveFormat Wave(int channels) {
    qm::WaveFormat format;
    EXPECT_EQ(FillWaveFormatEx(&format, 44100, 16, channels), kAPESuccess);
    return format;
}

// Hands `pcm` to the compressor through its buffer, `piece` bytes at a time.
int Feed(IAPECompress& compressor, const Bytes& pcm, std::size_t piece) {
    for (std::size_t done = 0; done < pcm.size();) {
        std::int64_t available = 0;
        std::uint8_t* buffer = compressor.LockBuffer(&available);
        if (buffer == nullptr || available <= 0) {
            return -1;
        }
        const std::size_t part =
            std::min({pcm.size() - done, piece, static_cast<std::size_t>(available)});
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(done), part, buffer);
        const int result = compressor.UnlockBuffer(static_cast<std::int64_t>(part), true);
        if (result != kAPESuccess) {
            return result;
        }
        done += part;
    }
    return kAPESuccess;
}

struct Options {
    Options(std::uint32_t frame = 0, int compressionLevel = 2000, std::int64_t maxBytes = 99999999)
        : blocksPerFrame(frame), level(compressionLevel), maxAudioBytes(maxBytes) {}
    std::uint32_t blocksPerFrame;
    int level;
    std::int64_t maxAudioBytes;
    Bytes headerData;
    Bytes trailing;
};

// Compresses `pcm` into `path`; the result of Finish (or of the first call
// that failed).
int Compress(const std::filesystem::path& path, const Bytes& pcm, int channels,
             const Options& options = {}) {
    CAPECompress compressor(options.blocksPerFrame);
    const qm::WaveFormat format = Wave(channels);
    int result = compressor.Start(path.c_str(), &format, options.maxAudioBytes, options.level,
                                  options.headerData.empty() ? nullptr : options.headerData.data(),
                                  options.headerData.empty()
                                      ? IAPECompress::kCreateWavHeader
                                      : static_cast<std::int64_t>(options.headerData.size()));
    if (result != kAPESuccess) {
        return result;
    }
    result = Feed(compressor, pcm, 4096);
    if (result != kAPESuccess) {
        return result;
    }
    return compressor.Finish(options.trailing.empty() ? nullptr : options.trailing.data(),
                             static_cast<std::int64_t>(options.trailing.size()),
                             static_cast<std::int64_t>(options.trailing.size()));
}

// A stereo signal whose stretches are, in turn, normal music, silence, one
// channel silent (either side) and identical channels, so that short frames
// meet every kind of frame and the boundaries fall anywhere.
Bytes MixedStereo(std::size_t stretch, int stretches) {
    const Bytes music = qmtest::MusicLike(apetest::Format(2),
                                          static_cast<double>(stretch * stretches) / 44100.0, 9);
    Bytes out = music;
    for (int s = 0; s < stretches; ++s) {
        const std::size_t from = static_cast<std::size_t>(s) * stretch * 4;
        const std::size_t to = std::min(out.size(), from + stretch * 4);
        for (std::size_t i = from; i < to; i += 4) {
            switch (s % 5) {
            case 1: // silence
                out[i] = out[i + 1] = out[i + 2] = out[i + 3] = 0;
                break;
            case 2: // channel 0 silent
                out[i] = out[i + 1] = 0;
                break;
            case 3: // channel 1 silent
                out[i + 2] = out[i + 3] = 0;
                break;
            case 4: // identical
                out[i + 2] = out[i];
                out[i + 3] = out[i + 1];
                break;
            default:
                break;
            }
        }
    }
    return out;
}

TEST(APECompress, ShortFramesOfEveryKindAtEveryOffset) {
    // 37- and 1001-block frames start at every byte offset modulo 4 of the
    // word-swapped stream, and silent, one-sided, identical and normal
    // frames follow each other.
    qmtest::TempDir dir;
    const Bytes stereo = MixedStereo(2000, 10);
    Bytes mono;
    for (std::size_t i = 0; i + 3 < stereo.size(); i += 4) {
        mono.push_back(stereo[i]);
        mono.push_back(stereo[i + 1]);
    }
    std::vector<std::filesystem::path> files;
    std::vector<const Bytes*> sent;
    for (std::uint32_t frame : {37u, 1001u}) {
        for (int level : {1000, 3000, 5000}) {
            for (int channels : {1, 2}) {
                files.push_back(dir / (std::to_string(frame) + "-" + std::to_string(level) + "-" +
                                       std::to_string(channels) + ".ape"));
                sent.push_back(channels == 1 ? &mono : &stereo);
                ASSERT_EQ(Compress(files.back(), *sent.back(), channels, {frame, level}),
                          kAPESuccess);
            }
        }
    }
    std::string messages;
    const std::vector<Bytes> decoded = apetest::DecodeAll(files, &messages);
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_TRUE(apetest::SamePcm(decoded[i], *sent[i]))
            << files[i].filename() << "; ffmpeg: " << messages;
    }
}

TEST(APECompress, HeaderAndSeekTableDescribeTheFrames) {
    qmtest::TempDir dir;
    const auto path = dir / "x.ape";
    const std::size_t blocks = 10 * 1001 + 77; // 11 frames, the last of 77 blocks
    const Bytes pcm = qmtest::MusicLike(apetest::Format(2), blocks / 44100.0, 2);
    ASSERT_EQ(pcm.size(), blocks * 4);
    // An estimate of 20 frames: 9 spare seek entries stay zero.
    ASSERT_EQ(Compress(path, pcm, 2, {1001, 4000, 20 * 1001 * 4}), kAPESuccess);
    EXPECT_TRUE(apetest::DecodesExactly(path, pcm));

    const Bytes file = qmtest::ReadFile(path);
    ASSERT_GE(file.size(), 76u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "MAC ");
    EXPECT_EQ(U16(file, 4), 3990);
    EXPECT_EQ(U32(file, 8), 52u);
    EXPECT_EQ(U32(file, 12), 24u);
    const std::uint32_t seekBytes = U32(file, 16);
    EXPECT_EQ(seekBytes, 20u * 4);
    EXPECT_EQ(U32(file, 20), 0u); // no stored WAV header
    const std::uint32_t frameBytes = U32(file, 24);
    EXPECT_EQ(frameBytes % 4, 0u);
    EXPECT_EQ(U32(file, 28), 0u);
    EXPECT_EQ(U32(file, 32), 0u);
    EXPECT_EQ(file.size(), 52u + 24 + seekBytes + frameBytes);

    EXPECT_EQ(U16(file, 52), 4000);  // level
    EXPECT_EQ(U16(file, 54), 32);    // decoder makes the WAV header
    EXPECT_EQ(U32(file, 56), 1001u); // blocks per frame
    EXPECT_EQ(U32(file, 60), 77u);   // final frame blocks
    EXPECT_EQ(U32(file, 64), 11u);   // total frames
    EXPECT_EQ(U16(file, 68), 16);
    EXPECT_EQ(U16(file, 70), 2);
    EXPECT_EQ(U32(file, 72), 44100u);

    const std::uint32_t firstFrame = 76 + seekBytes;
    EXPECT_EQ(U32(file, 76), firstFrame);
    for (int i = 1; i < 11; ++i) {
        EXPECT_GT(U32(file, 76 + 4 * i), U32(file, 76 + 4 * (i - 1)));
    }
    EXPECT_LT(U32(file, 76 + 4 * 10), file.size());
    for (int i = 11; i < 20; ++i) {
        EXPECT_EQ(U32(file, 76 + 4 * i), 0u);
    }
}

TEST(APECompress, SeekTableGrowsPastTheEstimate) {
    // The caller guessed one frame; 21 came. Everything after the table
    // moves up, including a stored WAV header and trailing data.
    qmtest::TempDir dir;
    const auto path = dir / "grown.ape";
    const Bytes pcm = qmtest::MusicLike(apetest::Format(1), 21 * 1000 / 44100.0, 4);
    Options options{1000, 2000, 100};
    options.headerData = Bytes(44, 0x5A);
    options.trailing = {'L', 'I', 'S', 'T', 0, 0, 0, 0};
    ASSERT_EQ(Compress(path, pcm, 1, options), kAPESuccess);
    EXPECT_TRUE(apetest::DecodesExactly(path, pcm));

    const Bytes file = qmtest::ReadFile(path);
    EXPECT_EQ(U32(file, 16), 21u * 4);
    EXPECT_EQ(U32(file, 20), 44u);
    EXPECT_EQ(U32(file, 32), 8u);
    EXPECT_EQ(U16(file, 54), 0); // a WAV header is stored
    EXPECT_EQ(U32(file, 64), 21u);
    const std::size_t header = 76 + 21 * 4;
    EXPECT_EQ(Bytes(file.begin() + header, file.begin() + header + 44), options.headerData);
    EXPECT_EQ(U32(file, 76), header + 44);
    EXPECT_EQ(Bytes(file.end() - 8, file.end()), options.trailing);
}

TEST(APECompress, Md5CoversWhatTheFormatSays) {
    // Computed independently over header data, frame data, trailing data,
    // header and seek table, in that order.
    qmtest::TempDir dir;
    const auto path = dir / "md5.ape";
    Options options{4096, 3000, 100}; // the seek table grows, too
    options.headerData = Bytes(44, 0x11);
    options.trailing = Bytes(6, 0x22);
    ASSERT_EQ(Compress(path, qmtest::Noise(apetest::Format(2), 0.3, 0.3, 8), 2, options),
              kAPESuccess);
    const std::string script = "import hashlib,struct,sys\n"
                               "d=open(sys.argv[1],'rb').read()\n"
                               "(_,_,_,db,hb,sb,wb,fl,fh,tb)=struct.unpack('<4sHHIIIIIII',d[:36])\n"
                               "seek=db+hb; first=seek+sb+wb; frames=fl+(fh<<32)\n"
                               "m=hashlib.md5()\n"
                               "m.update(d[seek+sb:first]); m.update(d[first:first+frames])\n"
                               "m.update(d[first+frames:first+frames+tb])\n"
                               "m.update(d[db:db+hb]); m.update(d[seek:seek+sb])\n"
                               "print(m.hexdigest(), d[36:52].hex())\n";
    const auto scriptPath = dir / "md5.py";
    qmtest::WriteFile(scriptPath, Bytes(script.begin(), script.end()));
    const auto result = qmtest::Run(std::string(qmtest::SystemPython()) + " " +
                                    qmtest::ShellQuote(scriptPath.string()) + " " +
                                    qmtest::ShellQuote(path.string()));
    ASSERT_EQ(result.exitCode, 0);
    const auto space = result.out.find(' ');
    ASSERT_NE(space, std::string::npos);
    EXPECT_EQ(result.out.substr(0, space), result.out.substr(space + 1, 32));
}

TEST(APECompress, FlippedBitsAreCaughtByTheFrameCrc) {
    qmtest::TempDir dir;
    const auto path = dir / "x.ape";
    const Bytes pcm = qmtest::MusicLike(apetest::Format(2), 0.5, 12);
    ASSERT_EQ(Compress(path, pcm, 2), kAPESuccess);
    ASSERT_TRUE(apetest::DecodesExactly(path, pcm));
    const Bytes good = qmtest::ReadFile(path);
    const std::size_t firstFrame = U32(good, 76);
    const std::size_t frameBytes = U32(good, 24);
    auto flipped = [&](std::size_t at, std::uint8_t bit) {
        Bytes bytes = good;
        bytes[at] ^= bit;
        return bytes;
    };
    // A logical byte of the frame stream, counted from its end, on disk.
    auto fromEnd = [&](std::size_t back) {
        const std::size_t logical = frameBytes - back;
        return firstFrame + (logical & ~std::size_t{3}) + (3 - (logical & 3));
    };
    const struct {
        const char* what;
        Bytes file;
        const char* complaint;
    } damaged[] = {
        // The stored CRC word is the first of the frame, bytes reversed:
        // the first byte on disk holds its lowest bits.
        {"CRC word", flipped(firstFrame, 0x02), "CRC mismatch"},
        // A bit of the coded audio near the frame's end only changes the
        // last samples: the decoder runs through and the CRC catches it.
        {"audio 12 bytes from the end", flipped(fromEnd(12), 0x01), "CRC mismatch"},
        {"audio 24 bytes from the end", flipped(fromEnd(24), 0x01), "CRC mismatch"},
        // Earlier in the frame the code falls apart and the decoder refuses
        // the frame by itself.
        {"audio in the middle", flipped(firstFrame + (good.size() - firstFrame) / 2, 0x10),
         "Error decoding frame"},
    };
    for (const auto& d : damaged) {
        qmtest::WriteFile(path, d.file);
        std::string messages;
        const Bytes decoded = apetest::DecodeAll({path}, &messages).front();
        EXPECT_NE(messages.find(d.complaint), std::string::npos) << d.what << ": " << messages;
        EXPECT_FALSE(apetest::SamePcm(decoded, pcm)) << d.what;
    }
}

TEST(APECompress, NothingToStoreIsRefused) {
    // No APE file can hold zero blocks (a file needs a frame, a frame a
    // block): Finish refuses. What Start created stays, closed, for the
    // caller to remove; the APE sink does (see APEEncoderTest).
    qmtest::TempDir dir;
    const auto path = dir / "empty.ape";
    EXPECT_EQ(Compress(path, {}, 2), kAPEErrorEmpty);

    // Half a block cannot be stored either.
    EXPECT_EQ(Compress(path, Bytes(4 * 100 + 2, 1), 2), kAPEErrorPartialBlock);
}

TEST(APECompress, UnfinishedFileIsLeftToTheCaller) {
    qmtest::TempDir dir;
    const auto path = dir / "dropped.ape";
    {
        CAPECompress compressor(1000);
        const qm::WaveFormat format = Wave(2);
        ASSERT_EQ(compressor.Start(path.c_str(), &format, 0, 1000, nullptr,
                                   IAPECompress::kCreateWavHeader),
                  kAPESuccess);
        ASSERT_EQ(Feed(compressor, qmtest::Noise(apetest::Format(2), 0.2, 0.5), 1000), kAPESuccess);
    }
    // The sink that owns the path decides what becomes of it.
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(APECompress, RefusesWhatItCannotStore) {
    qmtest::TempDir dir;
    const auto path = dir / "x.ape";
    qm::WaveFormat format;
    ASSERT_EQ(FillWaveFormatEx(&format, 22050, 16, 1), kAPESuccess);
    EXPECT_EQ(format.blockAlign, 2);
    EXPECT_EQ(format.avgBytesPerSec, 44100u);

    CAPECompress compressor;
    std::int64_t available = 5;
    EXPECT_EQ(compressor.LockBuffer(&available), nullptr);
    EXPECT_EQ(available, 0);
    EXPECT_EQ(compressor.UnlockBuffer(0, true), kAPEErrorNotStarted);
    EXPECT_EQ(compressor.Finish(nullptr, 0, 0), kAPEErrorNotStarted);

    qm::WaveFormat bad = Wave(2);
    bad.bitsPerSample = 24;
    bad.blockAlign = 6;
    EXPECT_EQ(compressor.Start(path.c_str(), &bad, 0, 2000, nullptr, -1), kAPEErrorInvalidFormat);
    bad = Wave(2);
    bad.channels = 3;
    EXPECT_EQ(compressor.Start(path.c_str(), &bad, 0, 2000, nullptr, -1), kAPEErrorInvalidFormat);
    const qm::WaveFormat good = Wave(2);
    EXPECT_EQ(compressor.Start(path.c_str(), &good, 0, 2500, nullptr, -1), kAPEErrorInvalidLevel);
    EXPECT_EQ(compressor.Start(path.c_str(), &good, 0, 6000, nullptr, -1), kAPEErrorInvalidLevel);
    EXPECT_EQ(compressor.Start((dir / "no" / "x.ape").c_str(), &good, 0, 2000, nullptr, -1),
              kAPEErrorOpen);
    EXPECT_FALSE(std::filesystem::exists(path));

    // After all that it still starts, once.
    ASSERT_EQ(compressor.Start(path.c_str(), &good, 0, 2000, nullptr, -1), kAPESuccess);
    EXPECT_EQ(compressor.Start(path.c_str(), &good, 0, 2000, nullptr, -1), kAPEErrorNotStarted);
    std::uint8_t* buffer = compressor.LockBuffer(&available);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(available, 73728 * 4);
    EXPECT_EQ(compressor.UnlockBuffer(available + 1, true), kAPEErrorInvalidArgument);
    std::fill_n(buffer, 8, 1);
    EXPECT_EQ(compressor.UnlockBuffer(8, true), kAPESuccess);
    EXPECT_EQ(compressor.Finish(nullptr, 0, 0), kAPESuccess);
    EXPECT_TRUE(apetest::DecodesExactly(path, Bytes(8, 1)));
}

TEST(APECompress, BufferFilledWithoutProcessingIsCompressedOnTheNextLock) {
    qmtest::TempDir dir;
    const auto path = dir / "x.ape";
    const Bytes pcm = qmtest::MusicLike(apetest::Format(2), 0.1, 3);
    CAPECompress compressor(500);
    const qm::WaveFormat format = Wave(2);
    ASSERT_EQ(compressor.Start(path.c_str(), &format, 0, 3000, nullptr, -1), kAPESuccess);
    for (std::size_t done = 0; done < pcm.size();) {
        std::int64_t available = 0;
        std::uint8_t* buffer = compressor.LockBuffer(&available);
        ASSERT_NE(buffer, nullptr);
        const auto part = std::min<std::size_t>(pcm.size() - done, available);
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(done), part, buffer);
        ASSERT_EQ(compressor.UnlockBuffer(static_cast<std::int64_t>(part), false), kAPESuccess);
        done += part;
    }
    ASSERT_EQ(compressor.Finish(nullptr, 0, 0), kAPESuccess);
    EXPECT_TRUE(apetest::DecodesExactly(path, pcm));
}

} // namespace
