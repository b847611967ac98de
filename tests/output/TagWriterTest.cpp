// The tag writers, checked by readers that are not ours: mutagen and
// ffprobe read what was written; ffmpeg, flac and ogginfo check that the
// audio survived.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <map>
#include <memory>

#include <ogg/ogg.h>

#include "output/ID3Tag.h"
#include "support/Oracles.h"
#include "support/Process.h"
#include "support/TagReader.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace {

namespace fs = std::filesystem;
using qmtest::ReadTags;

// One sample per kind, made when a test first asks for it (ctest runs each
// test in a process of its own).
class Samples {
public:
    static const Samples& Get() {
        static const Samples samples;
        return samples;
    }
    const fs::path& mp3() const { return Make("sample.mp3", "-c:a libmp3lame -b:a 128k"); }
    const fs::path& ogg() const { return Make("sample.ogg", "-c:a libvorbis -q:a 3"); }
    const fs::path& longOgg() const { return Make("long.ogg", "-c:a libvorbis -q:a 3", 4.0); }
    const fs::path& flac() const { return Make("sample.flac", "-c:a flac"); }
    const fs::path& wma() const { return Make("sample.wma", "-c:a wmav2 -b:a 64k"); }
    const fs::path& wav() const { return Make("sample.wav", "-c:a pcm_s16le"); }
    const fs::path& oggFlac() const { return Make("flac-in-ogg.ogg", "-c:a flac -f ogg"); }

private:
    Samples() {
        // Tests that drop root's rights read the samples too.
        qmtest::OpenToEveryone(m_dir.path());
    }
    const fs::path& Make(const std::string& name, const std::string& codec,
                         double seconds = 1.0) const {
        auto found = m_made.find(name);
        if (found == m_made.end()) {
            const fs::path file = m_dir / name;
            EXPECT_TRUE(qmtest::MakeSampleAudio(file, codec, seconds)) << name;
            found = m_made.emplace(name, file).first;
        }
        return found->second;
    }
    qmtest::TempDir m_dir;
    mutable std::map<std::string, fs::path> m_made;
};

fs::path CopySample(const fs::path& sample, const qmtest::TempDir& dir, const std::string& name) {
    const fs::path target = dir / name;
    fs::copy_file(sample, target, fs::copy_options::overwrite_existing);
    return target;
}

CID3Tag FullTag() {
    CID3Tag tag;
    tag.SetTag("Title", "Jóga – 東京");
    tag.SetTag("Artist", "Björk");
    tag.SetTag("Album", "Homogenic");
    tag.SetTag("Track", "3");
    tag.SetTag("Year", "1997");
    tag.SetTag("Genre", "Electronic");
    tag.SetTag("Comment", "A comment");
    tag.SetTag("Copyright", "(C) Someone");
    tag.SetTag("URL", "http://example.com/x");
    tag.SetTag("Lyrics", "la la\nla");
    return tag;
}

bool Succeeds(const std::string& command) {
    return qmtest::Run(command).exitCode == 0;
}

bool Mutagen(const std::string& script) {
    return Succeeds(std::string(qmtest::SystemPython()) + " -c " + qmtest::ShellQuote(script));
}

// ---------------------------------------------------------------- MP3

TEST(TagWriter, Mp3GetsId3v23WithEveryFieldAndAnId3v1Copy) {
    qmtest::TempDir dir;
    const fs::path file =
        CopySample(Samples::Get().mp3(), dir, "track.MP3"); // upper-case extension
    const qmtest::Bytes before = qmtest::DecodeWithFfmpeg(file);
    CID3Tag tag = FullTag();
    ASSERT_TRUE(tag.Write(file.string())) << tag.GetLastError();

    const ReadTags read = qmtest::ReadTagsWithMutagen(file, "id3");
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.id3Version, "2.3");
    EXPECT_EQ(read.One("TIT2"), "Jóga – 東京");
    EXPECT_EQ(read.One("TPE1"), "Björk");
    EXPECT_EQ(read.One("TALB"), "Homogenic");
    EXPECT_EQ(read.One("TRCK"), "3");
    EXPECT_EQ(read.One("TYER"), "1997");
    EXPECT_EQ(read.One("TCON"), "Electronic");
    EXPECT_EQ(read.One("COMM::XXX"), "A comment");
    EXPECT_EQ(read.One("TCOP"), "(C) Someone");
    EXPECT_EQ(read.One("WXXX:"), "http://example.com/x");
    EXPECT_EQ(read.One("USLT::XXX"), "la la\nla");

    // ID3v1 holds Latin-1 only: a title that does not fit is left out
    // rather than garbled; "Björk" fits.
    EXPECT_EQ(read.id3v1.at("title"), "");
    EXPECT_EQ(read.id3v1.at("artist"), "Björk");
    EXPECT_EQ(read.id3v1.at("album"), "Homogenic");
    EXPECT_EQ(read.id3v1.at("year"), "1997");
    EXPECT_EQ(read.id3v1.at("track"), "3");
    EXPECT_EQ(read.id3v1.at("genre"), "52"); // Electronic

    const auto probed = qmtest::ReadTagsWithFfprobe(file);
    EXPECT_EQ(probed.at("title"), "Jóga – 東京");
    EXPECT_EQ(probed.at("artist"), "Björk");
    EXPECT_EQ(probed.at("album"), "Homogenic");
    EXPECT_EQ(probed.at("genre"), "Electronic");
    EXPECT_EQ(probed.at("copyright"), "(C) Someone");
    // The audio is untouched.
    EXPECT_EQ(qmtest::DecodeWithFfmpeg(file), before);
    EXPECT_FALSE(fs::exists(file.string() + "~"));
}

TEST(TagWriter, Mp3RewriteReplacesFramesAndKeepsWhatTheModelLacks) {
    qmtest::TempDir dir;
    const fs::path file = CopySample(Samples::Get().mp3(), dir, "track.mp3");
    // A file that already has a tag: two titles, a described comment (player
    // data), an artist and lyrics.
    ASSERT_TRUE(Mutagen("from mutagen.id3 import ID3, TIT2, TPE1, COMM, USLT\n"
                        "t = ID3()\n"
                        "t.add(TIT2(encoding=3, text=['Old title']))\n"
                        "t.add(TPE1(encoding=3, text=['Old artist']))\n"
                        "t.add(COMM(encoding=3, lang='eng', desc='iTunNORM', text=['0000']))\n"
                        "t.add(COMM(encoding=3, lang='eng', desc='', text=['Old comment']))\n"
                        "t.add(USLT(encoding=3, lang='eng', desc='', text='Old lyrics'))\n"
                        "t.save('" +
                        file.string() + "', v2_version=3)\n"));
    CID3Tag tag;
    tag.SetTag("Title", "New title");
    tag.SetTag("Comment", "New comment");
    tag.SetTag("Lyrics", "New lyrics");
    ASSERT_TRUE(tag.Write(file.string()));
    ASSERT_TRUE(tag.Write(file.string())); // twice: still one of each

    const ReadTags read = qmtest::ReadTagsWithMutagen(file, "id3");
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.All("TIT2"), std::vector<std::string>{"New title"});
    EXPECT_EQ(read.One("TPE1"), "Old artist");
    EXPECT_EQ(read.One("COMM:iTunNORM:eng"), "0000");
    EXPECT_EQ(read.One("COMM::XXX"), "New comment");
    EXPECT_TRUE(read.All("COMM::eng").empty());
    // Lyrics the file has stay, even when the model has others.
    EXPECT_EQ(read.One("USLT::eng"), "Old lyrics");
    EXPECT_TRUE(read.All("USLT::XXX").empty());
}

TEST(TagWriter, ReadOnlyMp3IsTaggedAndStaysReadOnly) {
    qmtest::TempDir dir;
    qmtest::OpenToEveryone(dir.path());
    const fs::path source = Samples::Get().mp3();
    const fs::path file = dir / "readonly.mp3";
    // As a user who has to obey permissions.
    const int result = qmtest::RunUnprivileged([&] {
        std::error_code error;
        fs::copy_file(source, file, error);
        fs::permissions(file, fs::perms::owner_read | fs::perms::group_read, error);
        CID3Tag tag;
        tag.SetTag("Title", "Read-only");
        return !error && tag.Write(file.string()) ? 0 : 1;
    });
    ASSERT_EQ(result, 0);
    EXPECT_EQ(qmtest::ReadTagsWithMutagen(file, "id3").One("TIT2"), "Read-only");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::group_read);
}

// ---------------------------------------------------------------- Ogg

// ogginfo checks page checksums, page numbering, granule positions and the
// Vorbis headers, and warns about anything amiss.
std::string OggVendor(const fs::path& file) {
    const std::string info = qmtest::Run("ogginfo " + qmtest::ShellQuote(file.string())).out;
    const std::size_t at = info.find("Vendor: ");
    return at == std::string::npos ? "" : info.substr(at, info.find('\n', at) - at);
}

void ExpectSoundOggStructure(const fs::path& file) {
    const auto info = qmtest::Run("ogginfo " + qmtest::ShellQuote(file.string()), true);
    EXPECT_EQ(info.exitCode, 0) << info.out;
    EXPECT_EQ(info.out.find("WARNING"), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find("ERROR"), std::string::npos) << info.out;
}

TEST(TagWriter, OggGetsEveryFieldAndKeepsItsAudio) {
    qmtest::TempDir dir;
    const fs::path file = CopySample(Samples::Get().ogg(), dir, "track.ogg");
    const qmtest::Bytes before = qmtest::DecodeWithFfmpeg(file);
    const std::string vendor = OggVendor(file);
    ASSERT_NE(vendor, "");
    CID3Tag tag = FullTag();
    ASSERT_TRUE(tag.Write(file.string())) << tag.GetLastError();
    EXPECT_EQ(OggVendor(file), vendor); // the encoder's name stays

    const ReadTags read = qmtest::ReadTagsWithMutagen(file);
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.One("TITLE"), "Jóga – 東京");
    EXPECT_EQ(read.One("ARTIST"), "Björk");
    EXPECT_EQ(read.One("ALBUM"), "Homogenic");
    EXPECT_EQ(read.One("DATE"), "1997");
    EXPECT_EQ(read.One("TRACKNUMBER"), "3");
    EXPECT_EQ(read.One("GENRE"), "Electronic");
    EXPECT_EQ(read.One("COMMENT"), "A comment");
    EXPECT_EQ(read.One("COPYRIGHT"), "(C) Someone");
    EXPECT_TRUE(read.All("COPYRIHGT").empty());
    EXPECT_EQ(read.One("URL"), "http://example.com/x");
    EXPECT_EQ(read.One("LYRICS"), "la la\nla");
    const auto probed = qmtest::ReadTagsWithFfprobe(file);
    EXPECT_EQ(probed.at("title"), "Jóga – 東京");
    EXPECT_EQ(probed.at("copyright"), "(C) Someone");

    EXPECT_EQ(qmtest::DecodeWithFfmpeg(file, "s16le", "-err_detect crccheck"), before);
    ExpectSoundOggStructure(file);
    EXPECT_FALSE(fs::exists(file.string() + "~"));
}

TEST(TagWriter, OggRewriteKeepsForeignCommentsAndMendsOldOnes) {
    qmtest::TempDir dir;
    const fs::path file = CopySample(Samples::Get().ogg(), dir, "track.ogg");
    ASSERT_TRUE(Mutagen("from mutagen.oggvorbis import OggVorbis\n"
                        "f = OggVorbis('" +
                        file.string() +
                        "')\n"
                        "f.tags.clear()\n"
                        "f.tags.extend([('REPLAYGAIN_TRACK_GAIN', '-6.5 dB'), ('title', 'Old'),\n"
                        "  ('MyKey', 'kept as spelt'), ('COPYRIHGT', 'old one'),\n"
                        "  ('Lyrics', 'old lyrics'), ('TITLE', 'second old title')])\n"
                        "f.save()\n"));
    CID3Tag tag;
    tag.SetTag("Title", "New");
    tag.SetTag("Copyright", "(C) New");
    tag.SetTag("Artist", "Added");
    ASSERT_TRUE(tag.Write(file.string())) << tag.GetLastError();

    const ReadTags read = qmtest::ReadTagsWithMutagen(file);
    ASSERT_TRUE(read.ok);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"REPLAYGAIN_TRACK_GAIN", "-6.5 dB"},
        {"TITLE", "New"},
        {"MyKey", "kept as spelt"},
        {"COPYRIGHT", "(C) New"},
        {"Lyrics", "old lyrics"},
        {"ARTIST", "Added"},
    };
    EXPECT_EQ(read.tags, expected);
    ExpectSoundOggStructure(file);
}

TEST(TagWriter, OggHeaderThatGrowsOverSeveralPagesRenumbersTheRest) {
    qmtest::TempDir dir;
    const fs::path file = CopySample(Samples::Get().ogg(), dir, "track.ogg");
    const qmtest::Bytes before = qmtest::DecodeWithFfmpeg(file);
    CID3Tag tag;
    const std::string lyrics(150000, 'l'); // more than two pages of comment header
    tag.SetTag("Lyrics", lyrics);
    ASSERT_TRUE(tag.Write(file.string()));
    EXPECT_EQ(qmtest::ReadTagsWithMutagen(file).One("LYRICS"), lyrics);
    ExpectSoundOggStructure(file);
    EXPECT_EQ(qmtest::DecodeWithFfmpeg(file), before);

    // And back to a small header.
    CID3Tag small;
    small.SetTag("Title", "Short");
    ASSERT_TRUE(small.Write(file.string()));
    ExpectSoundOggStructure(file);
    EXPECT_EQ(qmtest::DecodeWithFfmpeg(file), before);
}

struct OggPage {
    qmtest::Bytes header;
    qmtest::Bytes body;
};

std::vector<OggPage> SplitPages(const qmtest::Bytes& file) {
    std::vector<OggPage> pages;
    std::size_t at = 0;
    while (at + 27 <= file.size()) {
        const std::size_t segments = file[at + 26];
        std::size_t bodySize = 0;
        for (std::size_t i = 0; i < segments; ++i) {
            bodySize += file[at + 27 + i];
        }
        const auto begin = file.begin() + static_cast<long>(at);
        const auto bodyBegin = begin + static_cast<long>(27 + segments);
        pages.push_back({qmtest::Bytes(begin, bodyBegin),
                         qmtest::Bytes(bodyBegin, bodyBegin + static_cast<long>(bodySize))});
        at += 27 + segments + bodySize;
    }
    return pages;
}

qmtest::Bytes JoinPages(std::vector<OggPage>& pages) {
    qmtest::Bytes file;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        OggPage& page = pages[i];
        for (int b = 0; b < 4; ++b) {
            page.header[18 + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(i >> (8 * b));
        }
        ogg_page og{page.header.data(), static_cast<long>(page.header.size()), page.body.data(),
                    static_cast<long>(page.body.size())};
        ogg_page_checksum_set(&og);
        file.insert(file.end(), page.header.begin(), page.header.end());
        file.insert(file.end(), page.body.begin(), page.body.end());
    }
    return file;
}

// Ogg allows the first audio packets on the page that ends the set-up
// header, though encoders start a fresh page. The rewrite must split such a
// page, not lose or move its audio.
TEST(TagWriter, OggWhoseHeaderPageAlsoCarriesAudio) {
    qmtest::TempDir dir;
    std::vector<OggPage> pages = SplitPages(qmtest::ReadFile(Samples::Get().longOgg()));
    std::size_t firstAudio = 1;
    while (firstAudio < pages.size() &&
           std::all_of(pages[firstAudio].header.begin() + 6, pages[firstAudio].header.begin() + 14,
                       [](std::uint8_t b) { return b == 0; })) {
        ++firstAudio;
    }
    ASSERT_LT(firstAudio, pages.size());
    OggPage& setup = pages[firstAudio - 1];
    const OggPage& audio = pages[firstAudio];
    ASSERT_LE(setup.header[26] + audio.header[26], 255);
    // The audio page's flags, granule and lacing values move onto the set-up
    // page.
    std::copy(audio.header.begin() + 5, audio.header.begin() + 14, setup.header.begin() + 5);
    setup.header.insert(setup.header.end(), audio.header.begin() + 27, audio.header.end());
    setup.header[26] = static_cast<std::uint8_t>(setup.header[26] + audio.header[26]);
    setup.body.insert(setup.body.end(), audio.body.begin(), audio.body.end());
    pages.erase(pages.begin() + static_cast<long>(firstAudio));
    const fs::path file = dir / "squeezed.ogg";
    qmtest::WriteFile(file, JoinPages(pages));
    const qmtest::Bytes before = qmtest::DecodeWithFfmpeg(file);
    ASSERT_FALSE(before.empty());

    CID3Tag tag = FullTag();
    ASSERT_TRUE(tag.Write(file.string())) << tag.GetLastError();
    EXPECT_EQ(qmtest::ReadTagsWithMutagen(file).One("TITLE"), "Jóga – 東京");
    EXPECT_EQ(qmtest::DecodeWithFfmpeg(file), before);
    ExpectSoundOggStructure(file);
}

TEST(TagWriter, OggThatIsNotVorbisOrNotOggIsLeftAlone) {
    qmtest::TempDir dir;
    CID3Tag tag = FullTag();
    struct Case {
        const char* name;
        qmtest::Bytes content;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"empty.ogg", {}, "Input truncated or empty."},
        {"mp3.ogg", qmtest::ReadFile(Samples::Get().mp3()), "Input is not an Ogg bitstream."},
        {"flac.ogg", qmtest::ReadFile(Samples::Get().oggFlac()),
         "Ogg bitstream does not contain vorbis data."},
    };
    for (const Case& c : cases) {
        const fs::path file = dir / c.name;
        qmtest::WriteFile(file, c.content);
        EXPECT_FALSE(tag.Write(file.string())) << c.name;
        EXPECT_EQ(tag.GetLastError(), c.error) << c.name;
        EXPECT_EQ(qmtest::ReadFile(file), c.content) << c.name;
        EXPECT_FALSE(fs::exists(file.string() + "~")) << c.name;
    }
}

TEST(TagWriter, TruncatedOggKeepsEveryByteItHad) {
    qmtest::TempDir dir;
    const qmtest::Bytes whole = qmtest::ReadFile(Samples::Get().ogg());

    // Cut inside the headers: nothing can be written, nothing changes.
    const fs::path early = dir / "early.ogg";
    const qmtest::Bytes head(whole.begin(), whole.begin() + 200);
    qmtest::WriteFile(early, head);
    CID3Tag tag = FullTag();
    EXPECT_FALSE(tag.Write(early.string()));
    EXPECT_EQ(tag.GetLastError(), "EOF before end of vorbis headers.");
    EXPECT_EQ(qmtest::ReadFile(early), head);
    EXPECT_FALSE(fs::exists(early.string() + "~"));

    // Cut in the middle of an audio page: the tag goes in, and the cut-off
    // page is still there as it was.
    const fs::path late = dir / "late.ogg";
    const qmtest::Bytes body(whole.begin(),
                             whole.begin() + static_cast<long>(whole.size() * 2 / 3));
    qmtest::WriteFile(late, body);
    ASSERT_TRUE(tag.Write(late.string())) << tag.GetLastError();
    const qmtest::Bytes after = qmtest::ReadFile(late);
    ASSERT_GT(after.size(), 200u);
    const std::size_t tailBytes = 100;
    EXPECT_TRUE(std::equal(body.end() - tailBytes, body.end(), after.end() - tailBytes));
    EXPECT_EQ(qmtest::ReadTagsWithMutagen(late).One("TITLE"), "Jóga – 東京");
}

TEST(TagWriter, FailedWritesLeaveNoFileBehind) {
    qmtest::TempDir dir;
    CID3Tag tag = FullTag();
    // A file that is gone before the tag is written.
    for (const char* name : {"gone.mp3", "gone.ogg", "gone.flac", "gone.ape", "gone.wma"}) {
        const fs::path file = dir / name;
        testing::internal::CaptureStdout();
        EXPECT_FALSE(tag.Write(file.string())) << name;
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(fs::exists(file)) << name;
        EXPECT_FALSE(fs::exists(file.string() + "~")) << name;
    }
    // Garbage under a known extension.
    // (MP3 and APE files are not checked for audio: like any ID3 or APE
    // tag writer, they tag whatever file they are given.)
    for (const char* name : {"junk.flac", "junk.wma"}) {
        const fs::path file = dir / name;
        const qmtest::Bytes junk(5000, 0x11);
        qmtest::WriteFile(file, junk);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(tag.Write(file.string())) << name;
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(qmtest::ReadFile(file), junk) << name;
        EXPECT_FALSE(fs::exists(file.string() + "~")) << name;
    }
}

TEST(TagWriter, ReadOnlyFolderStopsTheOggRewriteAndNothingChanges) {
    qmtest::TempDir dir;
    qmtest::OpenToEveryone(dir.path());
    const fs::path folder = dir / "locked";
    const fs::path ogg = folder / "track.ogg";
    const fs::path mp3 = folder / "track.mp3";
    const fs::path oggSample = Samples::Get().ogg();
    const fs::path mp3Sample = Samples::Get().mp3();
    const int result = qmtest::RunUnprivileged([&] {
        std::error_code error;
        fs::create_directory(folder, error);
        fs::copy_file(oggSample, ogg, error);
        fs::copy_file(mp3Sample, mp3, error);
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec, error);
        if (error) {
            return 10;
        }
        CID3Tag tag;
        tag.SetTag("Title", "Locked");
        const bool oggWritten = tag.Write(ogg.string());
        // The MP3 writer cannot work on a copy here; it tags the file in place.
        const bool mp3Written = tag.Write(mp3.string());
        return (oggWritten ? 1 : 0) | (mp3Written ? 0 : 2);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(qmtest::ReadFile(ogg), qmtest::ReadFile(oggSample));
    EXPECT_FALSE(fs::exists(ogg.string() + "~"));
    EXPECT_EQ(qmtest::ReadTagsWithMutagen(mp3, "id3").One("TIT2"), "Locked");
}

TEST(TagWriter, ReadOnlyOggIsRewrittenAndStaysReadOnly) {
    qmtest::TempDir dir;
    qmtest::OpenToEveryone(dir.path());
    const fs::path file = dir / "track.ogg";
    const fs::path source = Samples::Get().ogg();
    // A stale temporary file of an earlier, broken run is no obstacle.
    const int result = qmtest::RunUnprivileged([&] {
        std::error_code error;
        fs::copy_file(source, file, error);
        qmtest::WriteFile(file.string() + "~", qmtest::Bytes(10, 1));
        fs::permissions(file, fs::perms::owner_read, error);
        CID3Tag tag;
        tag.SetTag("Title", "Still read-only");
        return !error && tag.Write(file.string()) ? 0 : 1;
    });
    ASSERT_EQ(result, 0);
    EXPECT_EQ(qmtest::ReadTagsWithMutagen(file).One("TITLE"), "Still read-only");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read);
    EXPECT_FALSE(fs::exists(file.string() + "~"));
}

// ---------------------------------------------------------------- FLAC

TEST(TagWriter, FlacGetsCommentsInPlaceAndKeepsItsTimes) {
    qmtest::TempDir dir;
    const fs::path file = CopySample(Samples::Get().flac(), dir, "track.flac");
    ASSERT_TRUE(Succeeds("metaflac --set-tag=ARTIST=First --set-tag=ARTIST=Second "
                         "--set-tag=REPLAYGAIN_ALBUM_GAIN=-3 " +
                         qmtest::ShellQuote(file.string())));
    const utimbuf old{1000000000, 1000000000};
    ASSERT_EQ(::utime(file.c_str(), &old), 0);
    const qmtest::Bytes before = qmtest::DecodeWithFfmpeg(file);

    CID3Tag tag = FullTag();
    ASSERT_TRUE(tag.Write(file.string())) << tag.GetLastError();
    const ReadTags read = qmtest::ReadTagsWithMutagen(file);
    ASSERT_TRUE(read.ok);
    // The last ARTIST was replaced; the first stays.
    EXPECT_EQ(read.All("ARTIST"), (std::vector<std::string>{"First", "Björk"}));
    EXPECT_EQ(read.One("TITLE"), "Jóga – 東京");
    EXPECT_EQ(read.One("ALBUM"), "Homogenic");
    EXPECT_EQ(read.One("DATE"), "1997");
    EXPECT_EQ(read.One("TRACKNUMBER"), "3");
    EXPECT_EQ(read.One("GENRE"), "Electronic");
    EXPECT_EQ(read.One("DESCRIPTION"), "A comment");
    EXPECT_EQ(read.One("COPYRIGHT"), "(C) Someone");
    EXPECT_EQ(read.One("URL"), "http://example.com/x");
    EXPECT_EQ(read.One("REPLAYGAIN_ALBUM_GAIN"), "-3");
    EXPECT_TRUE(read.All("LYRICS").empty());
    EXPECT_EQ(qmtest::ReadTagsWithFfprobe(file).at("album"), "Homogenic");

    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1000000000);
    EXPECT_TRUE(Succeeds("flac -s -t " + qmtest::ShellQuote(file.string())));
    EXPECT_EQ(qmtest::DecodeWithFfmpeg(file), before);
}

TEST(TagWriter, FlacWithoutACommentBlockGetsOne) {
    qmtest::TempDir dir;
    for (const char* removal :
         {"--remove --block-type=VORBIS_COMMENT",
          "--remove --block-type=VORBIS_COMMENT,PADDING --dont-use-padding"}) {
        const fs::path file = CopySample(Samples::Get().flac(), dir, "bare.flac");
        ASSERT_TRUE(
            Succeeds("metaflac " + std::string(removal) + " " + qmtest::ShellQuote(file.string())));
        ASSERT_TRUE(qmtest::ReadTagsWithMutagen(file).tags.empty());
        CID3Tag tag;
        tag.SetTag("Title", "Fresh");
        ASSERT_TRUE(tag.Write(file.string())) << removal;
        EXPECT_EQ(qmtest::ReadTagsWithMutagen(file).One("TITLE"), "Fresh") << removal;
        EXPECT_TRUE(Succeeds("flac -s -t " + qmtest::ShellQuote(file.string()))) << removal;
    }
}

// ---------------------------------------------------------------- APE, WMA

void ExpectApeItems(const fs::path& file) {
    const ReadTags read = qmtest::ReadTagsWithMutagen(file, "ape");
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.One("Title"), "Jóga – 東京");
    EXPECT_EQ(read.One("Artist"), "Björk");
    EXPECT_EQ(read.One("Album"), "Homogenic");
    EXPECT_EQ(read.One("Track"), "3");
    EXPECT_EQ(read.One("Year"), "1997");
    EXPECT_EQ(read.One("Genre"), "Electronic");
    EXPECT_EQ(read.One("Comment"), "A comment");
    EXPECT_EQ(read.One("Copyright"), "(C) Someone");
    EXPECT_EQ(read.One("File URL"), "http://example.com/x");
    EXPECT_EQ(read.One("Lyrics"), "la la\nla");
    EXPECT_TRUE(read.id3v1.empty()); // no ID3v1 copy
}

// ffmpeg cannot make APE files, so the APE tag is checked on MP3 data under
// an .ape name: the writer only touches the tag at the end of the file.
TEST(TagWriter, ApeTagHoldsEveryField) {
    qmtest::TempDir dir;
    const fs::path file = CopySample(Samples::Get().mp3(), dir, "track.ape");
    const qmtest::Bytes before = qmtest::ReadFile(file);
    CID3Tag tag = FullTag();
    ASSERT_TRUE(tag.Write(file.string())) << tag.GetLastError();
    ExpectApeItems(file);
    const qmtest::Bytes after = qmtest::ReadFile(file);
    ASSERT_GT(after.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
}

TEST(TagWriter, WmaGetsItsAttributes) {
    qmtest::TempDir dir;
    const fs::path file = CopySample(Samples::Get().wma(), dir, "track.wma");
    const qmtest::Bytes before = qmtest::DecodeWithFfmpeg(file);
    CID3Tag tag = FullTag();
    testing::internal::CaptureStdout();
    ASSERT_TRUE(tag.Write(file.string())) << tag.GetLastError();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    const ReadTags read = qmtest::ReadTagsWithMutagen(file);
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.One("Title"), "Jóga – 東京");
    EXPECT_EQ(read.One("Author"), "Björk");
    EXPECT_EQ(read.One("WM/AlbumTitle"), "Homogenic");
    EXPECT_EQ(read.One("WM/TrackNumber"), "3");
    EXPECT_EQ(read.One("WM/Year"), "1997");
    EXPECT_EQ(read.One("WM/Genre"), "Electronic");
    EXPECT_EQ(read.One("Description"), "A comment");
    EXPECT_EQ(read.One("Copyright"), "(C) Someone");
    EXPECT_EQ(read.One("WM/PromotionURL"), "http://example.com/x");
    EXPECT_EQ(read.One("WM/Lyrics"), "la la\nla");
    const auto probed = qmtest::ReadTagsWithFfprobe(file);
    EXPECT_EQ(probed.at("title"), "Jóga – 東京");
    EXPECT_EQ(probed.at("artist"), "Björk");
    EXPECT_EQ(qmtest::DecodeWithFfmpeg(file), before);
}

TEST(TagWriter, WmaFailuresArePrinted) {
    qmtest::TempDir dir;
    const fs::path file = dir / "missing.wma";
    CID3Tag tag = FullTag();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(tag.Write(file.string()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Could not open the file " + file.string() + " (hr=0x80070002).\n");

    testing::internal::CaptureStdout();
    EXPECT_LT(CID3Tag::WMA_SetHeaderAttribute(nullptr, "Title", {1, 0, "x"}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "SetAttribute failed for Attribute name Title (hr=0x80070057).\n");
}

// The free-form fields (the verification results) reach every format under
// their own name; written again, a field is replaced, not repeated, and the
// audio stays as it was.
TEST(TagWriter, FreeFormFieldsReachEveryFormatUnderTheirName) {
    qmtest::TempDir dir;
    const struct {
        fs::path sample;
        const char* name;
        const char* key; // the reader's name for ACCURATERIPRESULT
    } kFormats[] = {
        {Samples::Get().mp3(), "track.mp3", "TXXX:ACCURATERIPRESULT"},
        {Samples::Get().ogg(), "track.ogg", "ACCURATERIPRESULT"},
        {Samples::Get().flac(), "track.flac", "ACCURATERIPRESULT"},
        {Samples::Get().mp3(), "track.ape", "ACCURATERIPRESULT"},
        {Samples::Get().wma(), "track.wma", "ACCURATERIPRESULT"},
        {Samples::Get().wav(), "track.wav", "TXXX:ACCURATERIPRESULT"},
    };
    for (const auto& format : kFormats) {
        SCOPED_TRACE(format.name);
        const fs::path file = CopySample(format.sample, dir, format.name);
        const std::string kind = fs::path(format.name).extension() == ".ape" ? "ape" : "auto";
        const qmtest::Bytes audio = qmtest::DecodeWithFfmpeg(file);
        CID3Tag tag;
        tag.SetTag("Title", "Jóga");
        tag.SetFreeForm("ACCURATERIPRESULT", "Not in database");
        tag.SetFreeForm("CRC32", "8CE80129");
        testing::internal::CaptureStdout();
        ASSERT_TRUE(tag.Write(file.string())) << tag.GetLastError();
        tag.SetFreeForm("ACCURATERIPRESULT", "Accurately ripped (confidence 5) [v2]");
        ASSERT_TRUE(tag.Write(file.string())) << tag.GetLastError();
        testing::internal::GetCapturedStdout();

        const ReadTags read = qmtest::ReadTagsWithMutagen(file, kind);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(read.One(format.key), "Accurately ripped (confidence 5) [v2]");
        const std::string prefix =
            std::string(format.key).starts_with("TXXX:") ? std::string("TXXX:") : std::string();
        EXPECT_EQ(read.One(prefix + "CRC32"), "8CE80129");
        if (kind != "ape") {
            EXPECT_EQ(qmtest::DecodeWithFfmpeg(file), audio);
        }
    }
    // Removing a field takes it out of the model.
    CID3Tag tag;
    tag.SetFreeForm("CRC32", "1");
    tag.SetFreeForm("crc32", "");
    EXPECT_TRUE(tag.GetFreeFormFields().empty());
    tag.SetFreeForm("A=B", "x"); // not a name a Vorbis comment can have
    EXPECT_TRUE(tag.GetFreeFormFields().empty());
}

} // namespace
