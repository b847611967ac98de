// The rip checksums against independent answers: Debian's
// accuraterip-checksum on tracks ripped from generated images (first, middle
// and last track, a disc with a data track), the published checksums of a
// sample file, zlib's CRC-32 over the ranges the CUETools database covers,
// the real AccurateRip answers and the ids of real tables of contents.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <zlib.h>

#include "core/Text.h"
#include "disc/AccurateRip.h"
#include "disc/CDRipper.h"
#include "disc/ChecksumPipe.h"
#include "disc/Ctdb.h"
#include "disc/RipChecksums.h"
#include "encoders/WAVWriter.h"
#include "support/DiscImage.h"
#include "support/Fixtures.h"
#include "support/Pcm.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using qmtest::Bytes;

constexpr const char* kOracle = "/usr/bin/accuraterip-checksum";

qm::TrackChecksums Sum(const Bytes& pcm, qm::ChecksumLayout layout, std::size_t block = 26 * 588) {
    qm::ChecksumAccumulator sums;
    layout.trackSamples = static_cast<std::int64_t>(pcm.size() / 4);
    if (layout.discSamples == 0) {
        layout.discSamples = layout.trackSamples;
    }
    sums.Begin(layout);
    for (std::size_t at = 0; at < pcm.size(); at += block * 4) {
        sums.Add(pcm.data() + at, std::min(block, (pcm.size() - at) / 4));
    }
    return sums.Result();
}

std::uint32_t Crc(const Bytes& pcm, std::size_t from, std::size_t to) {
    return static_cast<std::uint32_t>(
        ::crc32(::crc32(0, nullptr, 0), pcm.data() + from, static_cast<uInt>(to - from)));
}

// The oracle's v1 and v2 of a WAV as the track `number` of `total`.
std::pair<std::uint32_t, std::uint32_t> Oracle(const std::filesystem::path& wav, int number,
                                               int total) {
    std::pair<std::uint32_t, std::uint32_t> sums{};
    for (int version : {1, 2}) {
        const auto result =
            qmtest::Run(qm::Format("%s --accuraterip-v%d %s %d %d", kOracle, version,
                                   qmtest::ShellQuote(wav.string()).c_str(), number, total));
        EXPECT_EQ(result.exitCode, 0) << result.out;
        (version == 1 ? sums.first : sums.second) =
            static_cast<std::uint32_t>(std::stoul(result.out, nullptr, 16));
    }
    return sums;
}

TEST(Checksums, SampleFileGivesThePublishedSums) {
    QM_REQUIRE_FIXTURES();
    const Bytes pcm = qmtest::WavPayload(qmtest::FixturesDir() / "verify/arver-sample.wav");
    ASSERT_EQ(pcm.size(), 44100U * 4);
    struct Case {
        bool first, last;
        std::uint32_t v1, v2;
    };
    // Track 1 of 1, 1 of 99, 10 of 99, 99 of 99.
    const Case cases[] = {{true, true, 0xf43f9174, 0x0ae7c6f9},
                          {true, false, 0x9d6c90ec, 0xb775893e},
                          {false, false, 0x3c8dd1d2, 0x56bba272},
                          {false, true, 0x9360d25a, 0xaa2de02d}};
    for (const Case& c : cases) {
        for (std::size_t block : {std::size_t{588}, std::size_t{26 * 588}, std::size_t{1000}}) {
            const auto sums = Sum(pcm, {0, c.first, c.last, 0}, block);
            EXPECT_EQ(sums.arV1, c.v1) << c.first << c.last << " block " << block;
            EXPECT_EQ(sums.arV2, c.v2) << c.first << c.last << " block " << block;
            EXPECT_EQ(sums.crc32, 0x8ce80129U);
            EXPECT_TRUE(sums.complete);
        }
    }
    const Bytes silence = qmtest::WavPayload(qmtest::FixturesDir() / "verify/arver-silence.wav");
    const auto quiet = Sum(silence, {0, true, true, 0});
    EXPECT_EQ(quiet.arV1, 0U);
    EXPECT_EQ(quiet.arV2, 0U);
    EXPECT_EQ(quiet.crc32, 0x769282bbU);
    EXPECT_EQ(quiet.peak, 0);
}

TEST(Checksums, CtdbRangesAndSector450) {
    // 500 sectors of noise: sector 450 is inside, the CTDB skips are 5880
    // samples at the disc's start and 5880 + N mod 5880 at its end.
    const Bytes pcm = qmtest::Noise({44100, 2, 16}, 500 / 75.0, 0.8, 7);
    ASSERT_EQ(pcm.size(), 500U * 2352);
    const std::int64_t samples = 500 * 588;
    const std::int64_t disc = samples * 3;
    const std::size_t tail = static_cast<std::size_t>(5880 + disc % 5880) * 4;
    const auto first = Sum(pcm, {0, true, false, disc});
    const auto middle = Sum(pcm, {0, false, false, disc});
    const auto last = Sum(pcm, {0, false, true, disc});
    EXPECT_EQ(first.ctdbCrc, Crc(pcm, 5880 * 4, pcm.size()));
    EXPECT_EQ(middle.ctdbCrc, Crc(pcm, 0, pcm.size()));
    EXPECT_EQ(last.ctdbCrc, Crc(pcm, 0, pcm.size() - tail));
    EXPECT_EQ(middle.crc32, Crc(pcm, 0, pcm.size()));
    // The whole disc's CRC from the three tracks' CRCs.
    Bytes all = pcm;
    all.insert(all.end(), pcm.begin(), pcm.end());
    all.insert(all.end(), pcm.begin(), pcm.end());
    std::uint32_t joined = qm::CombineCrc(first.ctdbCrc, middle.ctdbCrc, middle.ctdbBytes);
    joined = qm::CombineCrc(joined, last.ctdbCrc, last.ctdbBytes);
    EXPECT_EQ(joined, Crc(all, 5880 * 4, all.size() - tail));

    std::uint32_t sum450 = 0;
    for (std::uint32_t j = 1; j <= 588; ++j) {
        const std::size_t at = (450 * 588 + j - 1) * 4;
        const std::uint32_t word = pcm[at] | pcm[at + 1] << 8 | pcm[at + 2] << 16 |
                                   static_cast<std::uint32_t>(pcm[at + 3]) << 24;
        sum450 += word * j;
    }
    EXPECT_TRUE(middle.has450);
    EXPECT_EQ(middle.ar450, sum450);
    EXPECT_EQ(first.ar450, sum450) << "sector 450 knows no first-track skip";
    const Bytes short450(450 * 2352, 0);
    EXPECT_FALSE(Sum(short450, {0, false, false, 0}).has450);
}

// Rips every track of generated discs and holds the ripper's own sums
// against the oracle's on the WAV it wrote.
TEST(Checksums, RippedTracksEqualTheIndependentChecksum) {
    if (!std::filesystem::exists(kOracle)) {
        GTEST_SKIP() << kOracle << " (Debian's whipper) is not installed";
    }
    qmtest::TempDir dir;
    struct Disc {
        std::vector<qmtest::ImageTrack> tracks;
        int audio;
    };
    const Disc discs[] = {
        {{{false, 0, 6 * 75}, {false, 32, 8 * 75}, {false, 0, 9 * 75}}, 3},
        // An Enhanced CD: the data track does not count, the audio track
        // before it is the last.
        {{{false, 0, 7 * 75}, {false, 0, 8 * 75}, {true, 11400, 60}}, 2},
    };
    int n = 0;
    for (const Disc& disc : discs) {
        ++n;
        const auto image =
            qmtest::WriteTestImage(dir.path(), "disc" + std::to_string(n), disc.tracks, 40 + n);
        qmtest::ScopedDrive drive(image.layout.sheet);
        CCDRipper ripper;
        ASSERT_TRUE(ripper.Attach(drive.Index(), 0));
        for (int track = 1; track <= disc.audio; ++track) {
            SCOPED_TRACE(testing::Message() << "disc " << n << " track " << track);
            const auto wav = dir.path() / "t.wav";
            CWAVWriter writer;
            writer.Open(wav.c_str());
            ASSERT_TRUE(ripper.ProcessSettings(track, &writer, true));
            ASSERT_EQ(ripper.Start(), 1);
            const qm::TrackChecksums sums = ripper.GetTrackChecksums();
            ASSERT_TRUE(sums.complete);
            const auto [v1, v2] = Oracle(wav, track, disc.audio);
            EXPECT_EQ(sums.arV1, v1);
            EXPECT_EQ(sums.arV2, v2);
            EXPECT_EQ(sums.crc32, Crc(qmtest::WavPayload(wav), 0, qmtest::WavPayload(wav).size()));
        }
    }
}

TEST(Checksums, ACutOrShortReadIsNotComplete) {
    qmtest::TempDir dir;
    const auto image = qmtest::WriteTestImage(dir.path(), "cut", {{false, 0, 5 * 75}}, 3);
    qmtest::ScopedDrive drive(image.layout.sheet);
    CCDRipper ripper;
    ASSERT_TRUE(ripper.Attach(drive.Index(), 0));
    ripper.SetCut(true, 1.0, 0, false, 0);
    CWAVWriter writer;
    writer.Open((dir.path() / "t.wav").c_str());
    ASSERT_TRUE(ripper.ProcessSettings(1, &writer, true));
    ASSERT_EQ(ripper.Start(), 1);
    EXPECT_FALSE(ripper.GetTrackChecksums().complete);
}

// The CRC-32 the checksums use (carry-less multiplication where the
// processor has it) against zlib: every length around the folding's 16- and
// 64-byte steps, unaligned starts, any running value, a long buffer.
TEST(Checksums, FastCrcEqualsZlib) {
    Bytes data(70000);
    std::uint32_t seed = 12345;
    for (auto& byte : data) {
        seed = seed * 1103515245 + 12345;
        byte = static_cast<std::uint8_t>(seed >> 16);
    }
    for (std::size_t start = 0; start < 4; ++start) {
        for (std::size_t length = 0; length <= 300; ++length) {
            for (const std::uint32_t crc : {0U, 0xffffffffU, 0x8ce80129U}) {
                ASSERT_EQ(qm::Crc32(crc, data.data() + start, length),
                          ::crc32(crc, data.data() + start, static_cast<uInt>(length)))
                    << start << " " << length << " " << crc;
            }
        }
    }
    EXPECT_EQ(qm::Crc32(0, data.data() + 1, data.size() - 1),
              ::crc32(0, data.data() + 1, static_cast<uInt>(data.size() - 1)));
    // In pieces as the blocks come.
    std::uint32_t pieces = 0;
    for (std::size_t at = 0; at < data.size(); at += 2352 * 3 + 4) {
        pieces = qm::Crc32(pieces, data.data() + at,
                           std::min<std::size_t>(2352 * 3 + 4, data.size() - at));
    }
    EXPECT_EQ(pieces, ::crc32(0, data.data(), static_cast<uInt>(data.size())));
}

// The checksums on their own thread give what the accumulator gives; a
// track left unfinished does not spill into the next; a seek marks it.
TEST(Checksums, PipeEqualsTheAccumulator) {
    QM_REQUIRE_FIXTURES();
    const Bytes pcm = qmtest::WavPayload(qmtest::FixturesDir() / "verify/arver-sample.wav");
    const qm::ChecksumLayout layout{static_cast<std::int64_t>(pcm.size() / 4), true, false,
                                    static_cast<std::int64_t>(pcm.size() / 4) * 3};
    const qm::TrackChecksums direct = Sum(pcm, layout);
    qm::ChecksumPipe pipe;
    for (int round = 0; round < 3; ++round) {
        pipe.Begin(layout);
        const std::size_t block = round == 2 ? 588 : 26 * 588;
        // Round 0 stops half-way and is never finished.
        const std::size_t end = round == 0 ? pcm.size() / 2 : pcm.size();
        for (std::size_t at = 0; at < end; at += block * 4) {
            pipe.Add(pcm.data() + at, std::min(block, (end - at) / 4));
        }
        if (round == 0) {
            continue;
        }
        const qm::TrackChecksums piped = pipe.Finish();
        EXPECT_TRUE(piped.complete);
        EXPECT_EQ(piped.arV1, direct.arV1);
        EXPECT_EQ(piped.arV2, direct.arV2);
        EXPECT_EQ(piped.crc32, direct.crc32);
        EXPECT_EQ(piped.ctdbCrc, direct.ctdbCrc);
        EXPECT_EQ(piped.ar450, direct.ar450);
        EXPECT_EQ(piped.peak, direct.peak);
    }
    pipe.Begin(layout);
    pipe.Add(pcm.data(), pcm.size() / 4);
    pipe.Invalidate();
    EXPECT_FALSE(pipe.Finish().complete);
}

// --- AccurateRip answers ---------------------------------------------------

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(AccurateRipAnswer, RealAnswersSplitIntoTheirChunks) {
    QM_REQUIRE_FIXTURES();
    const auto dir = qmtest::FixturesDir() / "verify";
    const std::regex name(R"(.*dBAR-(\d{3})-([0-9a-f]{8})-([0-9a-f]{8})-([0-9a-f]{8})\.bin)");
    const std::map<std::string, std::size_t> chunkCounts = {
        {"whipper-dBAR-002-0000f21c-00027ef8-05021002.bin", 2},
        {"whipper-dBAR-011-0010e284-009228a3-9809ff0b.bin", 32},
        {"whipper-dBAR-020-002e5023-029d8e49-040eaa14.bin", 1},
        {"arver-dBAR-001-000441fd-000883fb-020e8801.bin", 2},
        {"arver-dBAR-013-00206791-01486a82-a710de0d.bin", 1},
        {"arver-dBAR-042-00b15696-110290c9-b6115d2b.bin", 1},
        {"arver-dBAR-099-009fc8d0-224410e4-6308d763.bin", 5}};
    std::map<std::string, std::vector<qm::ArChunk>> parsed;
    for (const auto& [file, count] : chunkCounts) {
        SCOPED_TRACE(file);
        const auto chunks = qm::ParseDbar(Slurp(dir / file));
        ASSERT_TRUE(chunks);
        EXPECT_EQ(chunks->size(), count);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(file, m, name));
        for (const qm::ArChunk& chunk : *chunks) {
            EXPECT_EQ(chunk.tracks, std::stoi(m[1]));
            EXPECT_EQ(chunk.id1, std::stoul(m[2], nullptr, 16));
            EXPECT_EQ(chunk.id2, std::stoul(m[3], nullptr, 16));
            EXPECT_EQ(chunk.cddb, std::stoul(m[4], nullptr, 16));
            EXPECT_EQ(chunk.entries.size(), static_cast<std::size_t>(chunk.tracks));
        }
        parsed[file] = *chunks;
    }
    auto entry = [&](const char* file, std::size_t chunk, std::size_t track) {
        return parsed[file].at(chunk).entries.at(track - 1);
    };
    const char* two = "whipper-dBAR-002-0000f21c-00027ef8-05021002.bin";
    EXPECT_EQ(entry(two, 0, 1).confidence, 12);
    EXPECT_EQ(entry(two, 0, 1).crc, 0x284fc705U);
    EXPECT_EQ(entry(two, 0, 1).crc450, 0x3b97f8a4U);
    EXPECT_EQ(entry(two, 0, 2).confidence, 20);
    EXPECT_EQ(entry(two, 0, 2).crc, 0x9cc1f32eU);
    EXPECT_EQ(entry(two, 0, 2).crc450, 0xdc5500deU);
    EXPECT_EQ(entry(two, 1, 1).confidence, 7);
    EXPECT_EQ(entry(two, 1, 1).crc, 0xdc77f9abU);
    EXPECT_EQ(entry(two, 1, 2).crc, 0xdd97d2c3U);
    EXPECT_EQ(entry(two, 1, 2).crc450, 0U);
    const char* eleven = "whipper-dBAR-011-0010e284-009228a3-9809ff0b.bin";
    EXPECT_EQ(entry(eleven, 0, 1).confidence, 200);
    EXPECT_EQ(entry(eleven, 0, 1).crc, 0x6062e0eeU);
    EXPECT_EQ(entry(eleven, 0, 1).crc450, 0x982d46bcU);
    EXPECT_EQ(entry(eleven, 0, 11).crc, 0x9518fa36U);
    EXPECT_EQ(entry(eleven, 0, 11).crc450, 0x05f9a34dU);
    const char* twenty = "whipper-dBAR-020-002e5023-029d8e49-040eaa14.bin";
    EXPECT_EQ(entry(twenty, 0, 1).confidence, 0);
    EXPECT_EQ(entry(twenty, 0, 1).crc450, 0xc5fdbad4U);
    EXPECT_EQ(entry(twenty, 0, 20).crc, 0x8a615f4cU);
    EXPECT_EQ(entry(twenty, 0, 20).crc450, 0xa91c4399U);
    EXPECT_EQ(entry("arver-dBAR-001-000441fd-000883fb-020e8801.bin", 0, 1).crc, 0x2716541eU);
    EXPECT_EQ(entry("arver-dBAR-001-000441fd-000883fb-020e8801.bin", 0, 1).crc450, 0x07d5ca6bU);
    EXPECT_EQ(entry("arver-dBAR-013-00206791-01486a82-a710de0d.bin", 0, 1).crc, 0xe4e26ea2U);
    EXPECT_EQ(entry("arver-dBAR-013-00206791-01486a82-a710de0d.bin", 0, 13).crc, 0x8649e0deU);
    const char* mixed = "arver-dBAR-042-00b15696-110290c9-b6115d2b.bin";
    EXPECT_EQ(entry(mixed, 0, 1).confidence, 0);
    EXPECT_EQ(entry(mixed, 0, 1).crc, 0U);
    EXPECT_EQ(entry(mixed, 0, 42).crc, 0x85772fecU);
    EXPECT_EQ(entry("arver-dBAR-099-009fc8d0-224410e4-6308d763.bin", 0, 1).crc, 0xb4df6a9fU);
    int best = 0;
    for (const auto& chunk : parsed["arver-dBAR-099-009fc8d0-224410e4-6308d763.bin"]) {
        for (const auto& e : chunk.entries) {
            best = std::max<int>(best, e.confidence);
        }
    }
    EXPECT_EQ(best, 89);

    // The whipper answer's verdicts: v1 set in chunk 1, v2 set in chunk 2.
    const auto& chunks = parsed[two];
    auto v = qm::MatchAccurateRip(chunks, 0, 0x284fc705, 0xdc77f9ab);
    EXPECT_EQ(v.status, qm::VerifyStatus::kMatch);
    EXPECT_EQ(v.version, 2);
    EXPECT_EQ(v.confidence, 7);
    EXPECT_EQ(qm::ArVerdictText(v), "Accurately ripped (confidence 7) [v2]");
    v = qm::MatchAccurateRip(chunks, 1, 0x9cc1f32e, 0x12345678); // wrong v2, right v1
    EXPECT_EQ(v.status, qm::VerifyStatus::kMatch);
    EXPECT_EQ(v.version, 1);
    EXPECT_EQ(v.confidence, 20);
    v = qm::MatchAccurateRip(chunks, 1, 1, 2);
    EXPECT_EQ(v.status, qm::VerifyStatus::kMismatch);
    EXPECT_EQ(qm::ArVerdictText(v), "Not accurately ripped (27 submissions differ)");
    EXPECT_EQ(qm::ArVerdictText(qm::MatchAccurateRip({}, 0, 1, 2)), "Not in database");
}

TEST(AccurateRipAnswer, MalformedAnswersAreRefused) {
    std::string one(13 + 9, '\0');
    one[0] = 1;
    EXPECT_TRUE(qm::ParseDbar(one));
    EXPECT_FALSE(qm::ParseDbar(one.substr(0, 20))) << "cut short";
    EXPECT_FALSE(qm::ParseDbar(one + "x")) << "trailing byte";
    EXPECT_FALSE(qm::ParseDbar("")) << "empty";
    EXPECT_FALSE(qm::ParseDbar("<html><body>Not found</body></html>"));
    std::string other = one;
    other[1] = 5; // a second chunk of another disc
    EXPECT_FALSE(qm::ParseDbar(one + other));
}

// --- Disc ids --------------------------------------------------------------

// A disc from its tracks' lengths in sectors, track 1 after `pregap`, and an
// Enhanced CD's data track of `data` sectors.
qm::DiscToc FromLengths(const std::vector<std::int32_t>& lengths, std::int32_t pregap,
                        std::int32_t data) {
    qm::DiscToc toc;
    toc.firstTrack = 1;
    std::int32_t at = pregap;
    for (std::int32_t length : lengths) {
        toc.tracks.push_back({static_cast<int>(toc.tracks.size() + 1), at});
        at += length;
    }
    if (data > 0) {
        at += 11400;
        qm::DiscTocTrack track{static_cast<int>(toc.tracks.size() + 1), at};
        track.data = true;
        toc.tracks.push_back(track);
        at += data;
    }
    toc.lastTrack = static_cast<int>(toc.tracks.size());
    toc.leadout = at;
    return toc;
}

std::string ArId(const qm::DiscToc& toc) {
    const auto ids = qm::AccurateRipIds(toc);
    return qm::Format("%03d-%08x-%08x-%08x", ids.audioTracks, ids.id1, ids.id2, ids.cddb);
}

TEST(AccurateRipIds, PublishedVectors) {
    EXPECT_EQ(ArId(FromLengths({75258, 54815, 205880}, 0, 0)), "003-00084264-001cc184-19117f03");
    EXPECT_EQ(ArId(FromLengths({279037}, 0, 0)), "001-000441fd-000883fb-020e8801");
    EXPECT_EQ(ArId(FromLengths({107450, 71470, 105737, 71600}, 33, 0)),
              "004-000e26d9-00380804-3e128e04");
    EXPECT_EQ(ArId(FromLengths({143963}, 32, 0)), "001-0002329b-00046516-02077f01");
    EXPECT_EQ(
        ArId(FromLengths({12617, 27720, 22738, 30185, 24705, 33750, 32475, 30920, 32195, 22880}, 0,
                         52066)),
        "010-00164419-00b9f6e2-9e11600b");
    EXPECT_EQ(ArId(FromLengths({90778}, 0, 164721)), "001-00041293-00082527-100de602");
    const auto ids = qm::AccurateRipIds(FromLengths({279037}, 0, 0));
    EXPECT_EQ(qm::AccurateRipUrl("http://www.accuraterip.com/", ids),
              "http://www.accuraterip.com/accuraterip/d/f/1/"
              "dBAR-001-000441fd-000883fb-020e8801.bin");
}

// The start of every track and the lead-out of a cdrdao TOC file (enough of
// the format for the fixtures: SILENCE, ZERO, FILE and DATAFILE lengths,
// START inside a track). `session2` is a second session's file.
qm::DiscToc ReadTocFile(const std::filesystem::path& path,
                        const std::filesystem::path& session2 = {}) {
    auto msf = [](const std::string& text) {
        int m = 0, s = 0, f = 0;
        if (std::sscanf(text.c_str(), "%d:%d:%d", &m, &s, &f) == 3) {
            return (m * 60 + s) * 75 + f;
        }
        return std::stoi(text) / 2352;
    };
    qm::DiscToc toc;
    toc.firstTrack = 1;
    std::int32_t at = 0;
    std::int32_t trackBegin = 0;
    auto readOne = [&](const std::filesystem::path& file) {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            line = line.substr(0, line.find("//"));
            std::istringstream words(line);
            std::vector<std::string> w;
            for (std::string word; words >> word;) {
                w.push_back(word);
            }
            if (w.empty()) {
                continue;
            }
            if (w[0] == "TRACK") {
                qm::DiscTocTrack track{static_cast<int>(toc.tracks.size() + 1), at};
                track.data = w[1] != "AUDIO";
                toc.tracks.push_back(track);
                trackBegin = at;
            } else if (w[0] == "SILENCE" || w[0] == "ZERO" || w[0] == "FILE" ||
                       w[0] == "AUDIOFILE" || w[0] == "DATAFILE") {
                at += msf(w.back());
            } else if (w[0] == "START") {
                toc.tracks.back().start = trackBegin + msf(w[1]);
            }
        }
    };
    readOne(path);
    if (!session2.empty()) {
        at += 11400;
        readOne(session2);
    }
    toc.lastTrack = static_cast<int>(toc.tracks.size());
    toc.leadout = at;
    return toc;
}

TEST(AccurateRipIds, RealTablesOfContents) {
    QM_REQUIRE_FIXTURES();
    const auto dir = qmtest::FixturesDir() / "verify";
    const auto bloc = ReadTocFile(dir / "whipper-bloc.toc");
    EXPECT_EQ(bloc.tracks.front().start, 15220);
    EXPECT_EQ(bloc.leadout, 243216);
    EXPECT_EQ(qm::AccurateRipPath(qm::AccurateRipIds(bloc)),
              "e/d/2/dBAR-013-001af2de-0105994e-ad0be00d.bin");
    EXPECT_EQ(qm::AccurateRipPath(qm::AccurateRipIds(ReadTocFile(dir / "whipper-cure.toc"))),
              "3/c/4/dBAR-013-0019d4c3-00fe8924-b90c650d.bin");
    const auto ladyhawke = ReadTocFile(dir / "whipper-ladyhawke.toc");
    EXPECT_EQ(qm::AccurateRipIds(ladyhawke).cddb, 0xc60af50dU);
    EXPECT_EQ(qm::AccurateRipIds(ladyhawke).audioTracks, 12);
    const auto capital = ReadTocFile(dir / "whipper-capital.1.toc", dir / "whipper-capital.2.toc");
    EXPECT_EQ(capital.tracks.back().start, 209100);
    EXPECT_EQ(capital.leadout, 332850);
    EXPECT_EQ(ArId(capital), "011-00166e2d-00bdf439-b910140c");
}

TEST(AccurateRipIds, MixedModeDiscLeavesTheDataTrackOut) {
    // Data track 1 at LBA 0: the audio tracks count from 1, the first slot
    // of the answer is the data track's and the last audio track has none.
    qm::DiscToc toc = FromLengths({1000, 2000, 3000}, 0, 0);
    toc.tracks[0].data = true;
    EXPECT_EQ(qm::AccurateRipIds(toc).audioTracks, 2);
    EXPECT_EQ(qm::AccurateRipIds(toc).id2, 1000U * 1 + 3000 * 2 + 6000 * 3);
    EXPECT_EQ(qm::ArSlot(toc, 1), 1);
    EXPECT_EQ(qm::ArSlot(toc, 2), -1);
    toc.tracks[0].data = false;
    EXPECT_EQ(qm::ArSlot(toc, 1), 0);
    EXPECT_EQ(qm::ArSlot(toc, 3), 2);
    EXPECT_EQ(qm::ArSlot(toc, 4), -1);
}

TEST(CtdbToc, StringAndUrl) {
    qm::DiscToc toc = FromLengths({16032, 16040, 15210, 15528}, 0, 0);
    EXPECT_EQ(qm::CtdbTocString(toc), "0:16032:32072:47282:62810");
    toc = FromLengths({100, 200}, 0, 50);
    EXPECT_EQ(qm::CtdbTocString(toc), "0:100:-11700:11750");
    EXPECT_EQ(qm::CtdbLookupUrl("http://db.cuetools.net", toc),
              "http://db.cuetools.net/lookup2.php?version=3&ctdb=1&fuzzy=0&metadata=none&toc="
              "0:100:-11700:11750");
}

TEST(CtdbAnswer, EntriesAndVerdicts) {
    const std::string xml =
        R"(<?xml version="1.0" encoding="utf-8"?><ctdb xmlns="http://db.cuetools.net/ns/mmd-1.0#">)"
        R"(<entry confidence="8" crc32="5457b143" id="1" npar="8" stride="5880" )"
        R"(trackcrcs="97217ee6 dc8a2af2 338369b1 2eac339c" toc="0:1:2:3:4"/>)"
        R"(<entry confidence="2" crc32="00000001" id="2" trackcrcs="00000001 dc8a2af2 0 0"/>)"
        R"(</ctdb>)";
    const auto entries = qm::ParseCtdb(xml);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 2U);
    EXPECT_EQ((*entries)[0].confidence, 8);
    EXPECT_EQ((*entries)[0].crc32, 0x5457b143U);
    EXPECT_EQ((*entries)[0].trackCrcs,
              (std::vector<std::uint32_t>{0x97217ee6, 0xdc8a2af2, 0x338369b1, 0x2eac339c}));
    auto v = qm::MatchCtdb(*entries, 2, 0xdc8a2af2);
    EXPECT_EQ(v.status, qm::VerifyStatus::kMatch);
    EXPECT_EQ(v.confidence, 8);
    EXPECT_EQ(qm::CtdbVerdictText(v), "verified (confidence 8)");
    v = qm::MatchCtdb(*entries, 1, 0x12345678);
    EXPECT_EQ(v.status, qm::VerifyStatus::kMismatch);
    EXPECT_EQ(qm::CtdbVerdictText(v), "differs (10 submissions)");
    EXPECT_EQ(qm::MatchCtdbDisc(*entries, 0x5457b143).confidence, 8);

    const auto none = qm::ParseCtdb(R"(<ctdb xmlns="http://db.cuetools.net/ns/mmd-1.0#"/>)");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    EXPECT_EQ(qm::CtdbVerdictText(qm::MatchCtdb(*none, 1, 0)), "not in database");
    EXPECT_FALSE(qm::ParseCtdb("<html>404</html>"));
    EXPECT_FALSE(qm::ParseCtdb("not xml at all"));
}

TEST(DriveOffsets, RecordsAndNames) {
    std::string list;
    auto record = [&](std::int16_t offset, const std::string& name, int count) {
        std::string r(69, '\0');
        r[0] = static_cast<char>(offset & 0xff);
        r[1] = static_cast<char>((offset >> 8) & 0xff);
        r.replace(2, name.size(), name);
        r[35] = static_cast<char>(count);
        list += r;
    };
    record(6, "HL-DT-ST - BD-RE  WH14NS40", 50);
    record(-1164, "- CD-ROM X", 2);
    record(667, "PLEXTOR - DVDR   PX-716A", 9);
    const auto offsets = qm::ParseDriveOffsets(list);
    ASSERT_EQ(offsets.size(), 3U);
    EXPECT_EQ(offsets[1].offset, -1164);
    EXPECT_EQ(offsets[0].submissions, 50);
    const auto found = qm::FindDriveOffset(offsets, "PLEXTOR ", "DVDR   PX-716A  ");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->offset, 667);
    EXPECT_EQ(qm::FindDriveOffset(offsets, "", "CD-ROM X")->offset, -1164);
    EXPECT_FALSE(qm::FindDriveOffset(offsets, "PLEXTOR", "PX-760A"));
}

} // namespace
