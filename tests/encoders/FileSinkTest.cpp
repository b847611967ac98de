// The output policy every encoding sink shares: a stream is written under a
// temporary name and replaces a file of the same name only once it is whole.
// Each case runs against all six sinks.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Error.h"
#include "core/ErrorCodes.h"
#include "encoders/APEEncoder.h"
#include "encoders/FLACEncoder.h"
#include "encoders/MP3Encoder.h"
#include "encoders/OGGEncoder.h"
#include "encoders/WAVWriter.h"
#include "encoders/WMAEncoder.h"
#include "support/Chain.h"
#include "support/Oracles.h"
#include "support/Pcm.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using qmtest::Bytes;

struct SinkKind {
    const char* name;
    const char* extension;
    int module;
    // A sink set up to write `path`; null when the set-up failed.
    std::function<std::unique_ptr<CEncoder>(const fs::path& path, CError* registry)> make;
};

template <typename Sink> std::unique_ptr<Sink> Fresh(CError* registry) {
    auto sink = std::make_unique<Sink>();
    sink->SetError(registry);
    return sink;
}

const std::vector<SinkKind>& Kinds() {
    static const std::vector<SinkKind> kinds = {
        {"WAV", ".wav", qm::mod::kWAVEncoder,
         [](const fs::path& path, CError* registry) -> std::unique_ptr<CEncoder> {
             auto sink = Fresh<CWAVWriter>(registry);
             return sink->Open(path.c_str()) == 1 ? std::move(sink) : nullptr;
         }},
        {"MP3", ".mp3", qm::mod::kMP3Encoder,
         [](const fs::path& path, CError* registry) -> std::unique_ptr<CEncoder> {
             // Variable bitrate: Close rewrites the first frame through the
             // file's name.
             auto sink = Fresh<CMP3Encoder>(registry);
             const std::string folder = fs::read_symlink("/proc/self/exe").parent_path().string();
             CMP3Encoder::Settings settings;
             settings.variable = true;
             const bool ok =
                 sink->Init(folder.c_str()) && sink->OutputSettings(path.c_str(), settings);
             return ok ? std::move(sink) : nullptr;
         }},
        {"OGG", ".ogg", qm::mod::kOGGEncoder,
         [](const fs::path& path, CError* registry) -> std::unique_ptr<CEncoder> {
             auto sink = Fresh<COGGEncoder>(registry);
             const bool ok = sink->OutputSettings(path.c_str(), {128, false, 0.5f, 44100, 2});
             return ok ? std::move(sink) : nullptr;
         }},
        {"FLAC", ".flac", qm::mod::kFLACEncoder,
         [](const fs::path& path, CError* registry) -> std::unique_ptr<CEncoder> {
             auto sink = Fresh<CFLACEncoder>(registry);
             const bool ok = sink->OutputSettings(path.c_str(), {5, 44100, 2, 16}) == 1;
             return ok ? std::move(sink) : nullptr;
         }},
        {"APE", ".ape", qm::mod::kAPEEncoder,
         [](const fs::path& path, CError* registry) -> std::unique_ptr<CEncoder> {
             auto sink = Fresh<CAPEEncoder>(registry);
             const bool ok = sink->OutputSettings(path.c_str(), {44100, 2, 2, 16}) == 1;
             return ok ? std::move(sink) : nullptr;
         }},
        {"WMA", ".wma", qm::mod::kWMAEncoder,
         [](const fs::path& path, CError* registry) -> std::unique_ptr<CEncoder> {
             auto sink = Fresh<CWMAEncoder>(registry);
             const bool ok = sink->OutputSettings(path.c_str(), {0, 128000, 44100, 2, 0, 1}) == 1;
             return ok ? std::move(sink) : nullptr;
         }},
    };
    return kinds;
}

const Bytes kOldFile = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};

// The names in `dir`, so that a stray temporary file shows.
std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Starts the stream and hands it a second of music.
bool Feed(CEncoder& sink) {
    static const Bytes pcm = qmtest::MusicLike({}, 1.0);
    return sink.SetInputProps(44100, 2, 16) == 0 &&
           sink.Write(pcm.data(), static_cast<std::int32_t>(pcm.size() / 4)) ==
               WriteResult::Accepted;
}

class FileSinkPolicy : public ::testing::TestWithParam<SinkKind> {
protected:
    fs::path Path(const char* stem = "track") const {
        return m_dir / (std::string(stem) + GetParam().extension);
    }
    std::unique_ptr<CEncoder> Make(const fs::path& path, CError* registry = nullptr) const {
        auto sink = GetParam().make(path, registry);
        EXPECT_TRUE(sink) << "the sink did not set up";
        return sink;
    }

    qmtest::TempDir m_dir;
};

TEST_P(FileSinkPolicy, CompleteStreamTakesTheFinalNameOnlyWhenWhole) {
    const fs::path path = Path();
    const std::string temporary = CFileSink::TemporaryPath(path.string());

    // A new name: held by an empty placeholder while the stream runs.
    {
        auto sink = Make(path);
        ASSERT_TRUE(sink);
        ASSERT_TRUE(Feed(*sink));
        EXPECT_TRUE(fs::exists(path));
        EXPECT_EQ(fs::file_size(path), 0u);
        sink->Close(true);
    }
    EXPECT_EQ(Listing(m_dir.path()), std::vector<std::string>{path.filename().string()});
    const Bytes first = qmtest::ReadFile(path);
    EXPECT_TRUE(qmtest::Probe(path).ok);

    // An old file: untouched until Close, then replaced whole.
    qmtest::WriteFile(path, kOldFile);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    {
        CError registry;
        auto sink = Make(path, &registry);
        ASSERT_TRUE(sink);
        ASSERT_TRUE(Feed(*sink));
        EXPECT_EQ(qmtest::ReadFile(path), kOldFile);
        EXPECT_TRUE(fs::exists(temporary));
        sink->Close(true);
        EXPECT_FALSE(registry.IsAnyActual());
    }
    EXPECT_EQ(Listing(m_dir.path()), std::vector<std::string>{path.filename().string()});
    EXPECT_EQ(qmtest::ReadFile(path), first) << "not the same stream as into a new file";
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_P(FileSinkPolicy, AbortedOrUnclosedStreamLeavesTheOldFileAsItWas) {
    const fs::path old = Path("old");
    const fs::path fresh = Path("new");
    qmtest::WriteFile(old, kOldFile);
    {
        auto sink = Make(old);
        ASSERT_TRUE(sink);
        auto finish = qm::Event::Create();
        sink->SetFinishEvent(finish);
        ASSERT_TRUE(Feed(*sink));
        sink->Close(false);
        EXPECT_TRUE(finish->IsSet());
    }
    {
        auto sink = Make(old);
        ASSERT_TRUE(sink);
        ASSERT_TRUE(Feed(*sink));
        // Destroyed mid-stream, never closed.
    }
    {
        // A new name: the placeholder goes with the stream.
        auto sink = Make(fresh);
        ASSERT_TRUE(sink);
        ASSERT_TRUE(Feed(*sink));
        sink->Close(false);
    }
    EXPECT_EQ(qmtest::ReadFile(old), kOldFile);
    EXPECT_EQ(Listing(m_dir.path()), std::vector<std::string>{old.filename().string()});
}

TEST_P(FileSinkPolicy, FailedStreamLeavesTheOldFileAsItWasAndFilesError34) {
    // The file system refuses past 16 kB: some sinks fail while writing,
    // others only when they finish.
    const fs::path path = Path();
    qmtest::WriteFile(path, kOldFile);
    const int module = GetParam().module;
    const Bytes pcm = qmtest::MusicLike({}, 5.0);
    const bool failed = qmtest::RunWithFileSizeLimit(16 * 1024, [&] {
        CError registry;
        auto sink = GetParam().make(path, &registry);
        if (!sink) {
            return false;
        }
        const auto result = qmtest::RunChain(*sink, pcm, {}, &registry);
        const CErrorItem* item = qmtest::FindItem(registry, module);
        return !result.ok && result.finished && item != nullptr &&
               item->code == qm::err::kWriteFailed;
    });
    EXPECT_TRUE(failed) << "the stream did not fail with error 34 of its module";
    EXPECT_EQ(qmtest::ReadFile(path), kOldFile);
    EXPECT_EQ(Listing(m_dir.path()), std::vector<std::string>{path.filename().string()});
}

TEST_P(FileSinkPolicy, RenameThatFailsIsAWriteFailureAndLeavesNoTemporary) {
    const fs::path path = Path();
    CError registry;
    auto sink = Make(path, &registry);
    ASSERT_TRUE(sink);
    ASSERT_TRUE(Feed(*sink));
    // Something the finished file cannot replace took the name meanwhile.
    fs::remove(path);
    fs::create_directory(path);
    qmtest::WriteFile(path / "inside", kOldFile);
    sink->Close(true);
    const CErrorItem* item = qmtest::FindItem(registry, GetParam().module);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->code, qm::err::kWriteFailed);
    EXPECT_EQ(qmtest::ReadFile(path / "inside"), kOldFile);
    EXPECT_EQ(Listing(m_dir.path()), std::vector<std::string>{path.filename().string()});
}

INSTANTIATE_TEST_SUITE_P(Sinks, FileSinkPolicy, ::testing::ValuesIn(Kinds()),
                         [](const ::testing::TestParamInfo<SinkKind>& param) {
                             return std::string(param.param.name);
                         });

TEST(FileSink, TemporaryNameNeverLooksLikeOutputAndStaysWithinNameLimits) {
    EXPECT_EQ(CFileSink::TemporaryPath("/music/a/01 Intro.flac"), "/music/a/01 Intro.flactmp");

    // Names as long as the naming code makes them (255 bytes, cut on whole
    // characters): the temporary name must still be creatable, and two
    // names that differ only at their end must not share one.
    std::string one = std::string(234, 'x') + "\xC3\xA9"; // the cut falls inside the "é"
    one += std::string(255 - one.size() - 5, 'y') + "1.ape";
    std::string two = one;
    two[two.size() - 5] = '2';
    ASSERT_EQ(one.size(), 255u);
    const fs::path full = CFileSink::TemporaryPath("/m/" + one);
    const std::string a = full.filename().string();
    const std::string b = fs::path(CFileSink::TemporaryPath("/m/" + two)).filename().string();
    EXPECT_EQ(full.parent_path(), "/m");
    EXPECT_LE(a.size(), 255u);
    EXPECT_TRUE(a.ends_with("tmp"));
    EXPECT_EQ(a.substr(0, 235), std::string(234, 'x') + "~") << "cut inside a character";
    EXPECT_NE(a, b);

    qmtest::TempDir dir;
    EXPECT_NO_THROW(qmtest::WriteFile(dir / a, kOldFile));
    EXPECT_TRUE(fs::exists(dir / a));
}

} // namespace
