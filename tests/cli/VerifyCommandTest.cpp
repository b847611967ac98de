// `verify` and `grab --verify` against a loopback server serving the
// AccurateRip and CUETools database answers of a generated disc, and
// `offset --find` on a drive whose reads are shifted.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "CliTestSupport.h"
#include "core/Text.h"
#include "support/DiscImage.h"
#include "support/LoopbackServer.h"
#include "support/Process.h"
#include "support/TagReader.h"
#include "support/TempDir.h"
#include "support/Verification.h"

namespace {

namespace fs = std::filesystem;
using clitest::Cli;
using qmtest::ShellQuote;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class VerifyCommand : public ::testing::Test {
protected:
    void SetUp() override {
        image = std::make_unique<qmtest::TestImage>(qmtest::WriteTestImage(
            dir.path(), "disc", {{false, 0, 7 * 75}, {false, 10, 7 * 75 + 5}}, 91));
        server = std::make_unique<qmtest::FileServer>((dir.path() / "www").string());
        Set("AccurateRipServer", server->Url());
        Set("CTDBServer", server->Url());
    }
    qmtest::CommandResult Run(const std::string& arguments) {
        return Cli("--settings " + ShellQuote((dir.path() / "settings.conf").string()) +
                       " --data-dir " + ShellQuote((dir.path() / "data").string()) + " --yes " +
                       "--device " + ShellQuote(image->layout.sheet.string()) + " " + arguments +
                       " < /dev/null",
                   false);
    }
    void Set(const std::string& name, const std::string& value) {
        const auto run = Cli("--settings " + ShellQuote((dir.path() / "settings.conf").string()) +
                             " config set " + name + " " + ShellQuote(value));
        ASSERT_EQ(run.exitCode, 0) << run.out;
    }

    qmtest::TempDir dir;
    std::unique_ptr<qmtest::TestImage> image;
    std::unique_ptr<qmtest::FileServer> server;
};

TEST_F(VerifyCommand, JsonNamesEveryTracksVerdict) {
    std::string answer = qmtest::DbarChunk(*image, 5);
    qmtest::ServeDbar(dir.path() / "www", *image, answer);
    qmtest::ServeCtdb(dir.path() / "www", *image, 4, qmtest::CtdbTrackCrcs(*image));
    auto run = Run("verify --json");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    auto out = nlohmann::json::parse(run.out);
    EXPECT_TRUE(out["accuraterip"]["found"]);
    EXPECT_TRUE(out["ctdb"]["found"]);
    EXPECT_EQ(out["ctdb"]["confidence"], 4);
    ASSERT_EQ(out["tracks"].size(), 2U);
    const std::vector<qmtest::Bytes> tracks = qmtest::AudioTracks(*image);
    for (int i = 0; i < 2; ++i) {
        const auto& track = out["tracks"][static_cast<std::size_t>(i)];
        EXPECT_EQ(track["number"], i + 1);
        EXPECT_EQ(track["accuraterip"]["status"], "match");
        EXPECT_EQ(track["accuraterip"]["confidence"], 5);
        EXPECT_EQ(track["accuraterip"]["version"], 2);
        EXPECT_EQ(track["ctdb"]["status"], "match");
        EXPECT_EQ(track["arv2"].get<std::string>().size(), 8U);
        EXPECT_EQ(track["crc32"],
                  qm::Format("%08x", qmtest::Crc32(tracks[static_cast<std::size_t>(i)])));
    }
    // One track's entry altered: that track only.
    answer[13 + 9 + 1] ^= 0x10;
    qmtest::ServeDbar(dir.path() / "www", *image, answer);
    run = Run("verify --json --tracks 1-2");
    out = nlohmann::json::parse(run.out);
    EXPECT_EQ(out["tracks"][0]["accuraterip"]["status"], "match");
    EXPECT_EQ(out["tracks"][1]["accuraterip"]["status"], "mismatch");
    // Unknown disc.
    fs::remove_all(dir.path() / "www");
    run = Run("verify --json --tracks 2");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    out = nlohmann::json::parse(run.out);
    EXPECT_FALSE(out["accuraterip"]["found"]);
    EXPECT_EQ(out["tracks"][0]["accuraterip"]["status"], "unknown");
    EXPECT_EQ(out["tracks"][0]["ctdb"]["status"], "unknown");
}

TEST_F(VerifyCommand, GrabVerifyWritesTheVerdictsIntoTheRipLog) {
    qmtest::ServeDbar(dir.path() / "www", *image, qmtest::DbarChunk(*image, 8));
    auto run =
        Run("grab --verify --format wav --output " + ShellQuote((dir.path() / "out").string()));
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("Accurately ripped (confidence 8) [v2]"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("All 2 tracks accurately ripped"), std::string::npos) << run.out;
    const std::string log = Slurp(dir.path() / "out" / "rip.log");
    EXPECT_NE(log.find("Track 01"), std::string::npos) << log;
    EXPECT_NE(log.find("AccurateRip: Accurately ripped (confidence 8) [v2]"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Read offset: +0 samples"), std::string::npos) << log;
    EXPECT_NE(log.find(qm::Format("CRC-32: %08X", qmtest::Crc32(qmtest::AudioTracks(*image)[1]))),
              std::string::npos)
        << log;
    std::string cue = Slurp(dir.path() / "out" / "rip.cue");
    cue.erase(std::remove(cue.begin(), cue.end(), '\r'), cue.end());
    EXPECT_NE(cue.find("FILE \"track01.wav\" WAVE\n  TRACK 01 AUDIO"), std::string::npos) << cue;
    EXPECT_NE(cue.find("TRACK 02 AUDIO"), std::string::npos) << cue;

    // A disc the database does not know: the grab completes all the same.
    fs::remove_all(dir.path() / "www");
    fs::remove_all(dir.path() / "out");
    run = Run("grab --verify --format wav --output " + ShellQuote((dir.path() / "out").string()));
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("Not in database"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(dir.path() / "out" / "track02.wav"));
    EXPECT_NE(Slurp(dir.path() / "out" / "rip.log").find("(not in database)"), std::string::npos);
}

// Each track's verdict and checksums reach its tag, whatever the format;
// the second track's AccurateRip entry is altered, so its verdict differs.
// The v1 and v2 in the FLAC tags are checked against whipper's program run
// on the files themselves.
TEST_F(VerifyCommand, GrabVerifyPutsEachTracksResultsIntoItsTag) {
    std::string answer = qmtest::DbarChunk(*image, 8);
    answer[13 + 9 + 1] ^= 0x10;
    const std::string arPath = qmtest::ServeDbar(dir.path() / "www", *image, answer);
    const std::size_t name = arPath.find("dBAR-");
    ASSERT_NE(name, std::string::npos) << arPath;
    const std::string discId = arPath.substr(name + 5, arPath.size() - name - 5 - 4);
    qmtest::ServeCtdb(dir.path() / "www", *image, 4, qmtest::CtdbTrackCrcs(*image));
    const std::vector<qmtest::Bytes> tracks = qmtest::AudioTracks(*image);
    const char* const kVerdicts[] = {"Accurately ripped (confidence 8) [v2]",
                                     "Not accurately ripped (8 submissions differ)"};
    for (const std::string format : {"flac", "mp3", "ogg", "wav"}) {
        SCOPED_TRACE(format);
        const fs::path out = dir.path() / ("out-" + format);
        const auto run =
            Run("grab --verify --format " + format + " --output " + ShellQuote(out.string()));
        ASSERT_EQ(run.exitCode, 0) << run.out;
        // ID3v2 carries them as TXXX frames (WAV in its ID3v2 chunk).
        const std::string prefix = format == "mp3" || format == "wav" ? "TXXX:" : "";
        for (std::size_t i = 0; i < 2; ++i) {
            const fs::path file = out / qm::Format("track%02zu.%s", i + 1, format.c_str());
            const qmtest::ReadTags read = qmtest::ReadTagsWithMutagen(file);
            ASSERT_TRUE(read.ok) << file;
            EXPECT_EQ(read.One(prefix + "ACCURATERIPRESULT"), kVerdicts[i]);
            EXPECT_EQ(read.One(prefix + "CTDBRESULT"), "verified (confidence 4)");
            EXPECT_EQ(read.One(prefix + "ACCURATERIPDISCID"), discId);
            EXPECT_EQ(read.One(prefix + "CRC32"), qm::Format("%08X", qmtest::Crc32(tracks[i])));
            EXPECT_EQ(read.One(prefix + "ACCURATERIPV1").size(), 8U);
            if (format != "flac") {
                continue;
            }
            for (int version : {1, 2}) {
                const auto oracle = qmtest::Run(
                    qm::Format("/usr/bin/accuraterip-checksum --accuraterip-v%d %s %zu 2", version,
                               ShellQuote(file.string()).c_str(), i + 1));
                ASSERT_EQ(oracle.exitCode, 0) << oracle.out;
                EXPECT_EQ(std::stoul(read.One(qm::Format("ACCURATERIPV%d", version)), nullptr, 16),
                          std::stoul(oracle.out, nullptr, 16));
            }
        }
    }
    // Without verification the tags hold none of them.
    const fs::path plain = dir.path() / "plain";
    const auto run = Run("grab --format flac --output " + ShellQuote(plain.string()));
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const qmtest::ReadTags read = qmtest::ReadTagsWithMutagen(plain / "track01.flac");
    ASSERT_TRUE(read.ok);
    for (const char* key : {"ACCURATERIPRESULT", "ACCURATERIPV1", "ACCURATERIPV2",
                            "ACCURATERIPDISCID", "CTDBRESULT", "CRC32"}) {
        EXPECT_TRUE(read.All(key).empty()) << key;
    }
}

TEST_F(VerifyCommand, OffsetFindNeedsTheDiscInTheDatabase) {
    auto run = Run("offset --find");
    EXPECT_EQ(run.exitCode, 1) << run.out;
    qmtest::ServeDbar(dir.path() / "www", *image, qmtest::DbarChunk(*image, 3));
    // An image reads with offset 0.
    run = Run("offset --find");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("Read offset found: +0 (2 of 2 tracks agree)"), std::string::npos)
        << run.out;
}

} // namespace
