// Entries as the world writes them: libcddb's test entries, each served by
// the loopback CDDB server and read through the real client, must give the
// names libcddb's own tests expect (every continuation and slash form, UTF-8
// and Latin-1); a reply captured from a real server gives its disc; the same
// entries placed in the local cache read back alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "core/CDDBSettings.h"
#include "disc/CDRipper.h"
#include "disc/CddbAccess.h"
#include "disc/LocalCDDB.h"
#include "support/CddbServer.h"
#include "support/DiscImage.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

struct ExpectedTrack {
    std::string title;
    std::string artist;
    std::string ext;
};

// What libcddb's command-line tool prints for an entry.
struct Expected {
    std::map<std::string, std::string> fields; // "Artist", "Title", "Ext.data", "Genre", "Year"
    std::vector<ExpectedTrack> tracks;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Expected ReadExpected(const fs::path& path) {
    Expected expected;
    std::istringstream in(ReadFile(path));
    const std::regex field(R"(^([A-Za-z.]+):\s+(.*)$)");
    const std::regex track(R"(^\s+\[\d+\] '(.*)' by (.*) \(\d+:\d+\)(?: \[(.*)\])?$)");
    std::string line;
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_match(line, m, track)) {
            expected.tracks.push_back({m[1], m[2], m[3]});
        } else if (std::regex_match(line, m, field)) {
            expected.fields[m[1]] = m[2];
        }
    }
    return expected;
}

// UTF-8 text of the Latin-1 range as Latin-1 bytes.
std::string ToLatin1(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            out += static_cast<char>(((c & 0x03) << 6) | (utf8[++i] & 0x3F));
        } else {
            out += utf8[i];
        }
    }
    return out;
}

fs::path LibcddbDir() {
    return qmtest::FixturesDir() / "real" / "cddb" / "libcddb";
}

std::vector<std::string> LibcddbEntries() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(LibcddbDir() / "cache")) {
        if (entry.path().extension().empty()) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

fs::path ExpectedFile(const std::string& name) {
    const fs::path plain = LibcddbDir() / "expected" / (name + ".txt");
    return fs::exists(plain) ? plain : LibcddbDir() / "expected" / (name + ".UTF8.txt");
}

class XmcdFixtures : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new qmtest::TempDir;
        // Sixteen short tracks: room for the longest entry.
        s_image = new qmtest::TestImage(qmtest::WriteTestImage(
            s_dir->path(), "disc", std::vector<qmtest::ImageTrack>(16, {false, 0, 75}), 3));
        s_server = new qmtest::CddbServer(s_dir->path() / "db");
    }
    static void TearDownTestSuite() {
        delete s_server;
        delete s_image;
        delete s_dir;
    }

    void SetUp() override {
        QM_REQUIRE_FIXTURES();
        s_server->SetFaults({});
        qm::CDDBSetOption(qm::kCddbOptTimeout, nullptr, 10000);
        m_drive = std::make_unique<qmtest::ScopedDrive>(s_image->layout.sheet);
        ASSERT_TRUE(ripper.Attach(m_drive->Index(), 0));
        settings.CDDBServer = qmtest::CddbServer::kHost;
        settings.HTTPPort = s_server->Port();
        settings.HTTPPath = qmtest::CddbServer::kPath;
        settings.EMail = "tester@example.org";
    }

    // Looks the disc up with the server answering the query with the one
    // match `category`/`name` and reading its entry from the database.
    void LookUp(const std::string& category, const std::string& name, const std::string& entry) {
        fs::create_directories(Db() / category);
        std::ofstream(Db() / category / name, std::ios::binary) << entry;
        s_server->SetFaults(
            {{"query", {{"raw", "200 " + category + " " + name + " Some / Thing\r\n"}}}});
        ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk) << name;
    }

    static fs::path Db() { return s_dir->path() / "db"; }
    static qmtest::CddbServer& Server() { return *s_server; }

    CCDRipper ripper;
    CDDBSettings settings;

private:
    static inline qmtest::TempDir* s_dir = nullptr;
    static inline qmtest::TestImage* s_image = nullptr;
    static inline qmtest::CddbServer* s_server = nullptr;
    std::unique_ptr<qmtest::ScopedDrive> m_drive;
};

void ExpectDisc(const DiscInfo& disc, const Expected& expected, const std::string& what) {
    EXPECT_EQ(disc.artist, expected.fields.at("Artist")) << what;
    EXPECT_EQ(disc.title, expected.fields.at("Title")) << what;
    EXPECT_EQ(disc.genre, expected.fields.at("Genre")) << what;
    EXPECT_EQ(std::to_string(disc.year), expected.fields.at("Year")) << what;
    ASSERT_GE(disc.tracks.size(), expected.tracks.size()) << what;
    for (std::size_t i = 0; i < expected.tracks.size(); ++i) {
        const DiscTrackInfo& track = disc.tracks[i];
        EXPECT_EQ(track.title, expected.tracks[i].title) << what << " track " << i + 1;
        // A track without an artist of its own is the disc artist's.
        EXPECT_EQ(track.artist.empty() ? disc.artist : track.artist, expected.tracks[i].artist)
            << what << " track " << i + 1;
    }
}

TEST_F(XmcdFixtures, EveryLibcddbEntryGivesTheNamesItsTestsExpect) {
    ripper.SetMixedCDMode(true);
    const std::vector<std::string> names = LibcddbEntries();
    ASSERT_EQ(names.size(), 17u);
    for (const std::string& name : names) {
        const Expected expected = ReadExpected(ExpectedFile(name));
        LookUp("misc", name, ReadFile(LibcddbDir() / "cache" / name));
        const DiscInfo& disc = ripper.GetDiscInfo();
        ExpectDisc(disc, expected, name);
        const auto ext = expected.fields.find("Ext.data");
        EXPECT_EQ(disc.extd, ext != expected.fields.end() ? ext->second : "") << name;
        for (std::size_t i = 0; i < expected.tracks.size(); ++i) {
            EXPECT_EQ(disc.tracks[i].extt, expected.tracks[i].ext) << name << " track " << i + 1;
        }
    }
}

TEST_F(XmcdFixtures, ALatin1EntryReadsAsTheUtf8One) {
    const std::string utf8 = ReadFile(LibcddbDir() / "cache" / "12340000");
    const std::string latin1 = ToLatin1(utf8);
    ASSERT_NE(latin1, utf8);
    ASSERT_NE(latin1.find("A\xefi"), std::string::npos);
    LookUp("rock", "12340000", latin1);
    ExpectDisc(ripper.GetDiscInfo(), ReadExpected(ExpectedFile("12340000")), "Latin-1");
    EXPECT_EQ(ripper.GetDiscInfo().title, "A\xc3\xafi");
}

TEST_F(XmcdFixtures, WithoutMixedModeATrackKeepsItsWholeJoinedText) {
    LookUp("misc", "12345678", ReadFile(LibcddbDir() / "cache" / "12345678"));
    const DiscInfo& disc = ripper.GetDiscInfo();
    EXPECT_EQ(disc.tracks[2].title, "TrackArtist3 cntd. / TrackTitle3");
    EXPECT_EQ(disc.tracks[4].title, "TrackArtist5 / TrackTitle5");
    EXPECT_EQ(disc.tracks[7].title, "Track/Artist8 / TrackTitle8");
    EXPECT_EQ(disc.tracks[2].artist, "");
}

TEST_F(XmcdFixtures, TheCapturedServerReplyGivesItsDisc) {
    const std::string reply =
        ReadFile(qmtest::FixturesDir() / "real" / "cddb" / "cdigw" / "read_proto_5.txt");
    ASSERT_EQ(reply.rfind("210 data 940aac0d", 0), 0u);
    Server().SetFaults(
        {{"query", {{"raw", "200 data 940aac0d Marina & The Diamonds / The Family Jewels\r\n"}}},
         {"read", {{"raw", qmtest::RawReplyText(reply)}}}});
    ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
    const DiscInfo& disc = ripper.GetDiscInfo();
    EXPECT_EQ(disc.artist, "Marina & The Diamonds");
    EXPECT_EQ(disc.title, "The Family Jewels");
    EXPECT_EQ(disc.genre, "Pop"); // the entry's genre, not the category "data"
    EXPECT_EQ(disc.year, 2010);
    EXPECT_EQ(disc.extd, "");
    const std::vector<std::string> titles = {"Are You Satisfied?",
                                             "Shampain",
                                             "I Am Not a Robot",
                                             "Girls",
                                             "Mowgli's Road",
                                             "Obsessions",
                                             "Hollywood",
                                             "The Outsider",
                                             "Hermit the Frog",
                                             "Oh No!",
                                             "Rootless",
                                             "Numb",
                                             "Guilty"};
    for (std::size_t i = 0; i < titles.size(); ++i) {
        EXPECT_EQ(disc.tracks[i].title, titles[i]) << i;
    }
    EXPECT_EQ(disc.tracks[13].title, ""); // the entry names thirteen tracks
}

TEST(XmcdCache, EntriesOfTheServersKindReadFromTheLocalCache) {
    QM_REQUIRE_FIXTURES();
    qmtest::TempDir dir;
    for (const std::string& name : LibcddbEntries()) {
        const std::uint32_t id = static_cast<std::uint32_t>(std::stoul(name, nullptr, 16));
        fs::copy_file(LibcddbDir() / "cache" / name, dir.path() / LocalCDDBFileName(id),
                      fs::copy_options::overwrite_existing);
        const Expected expected = ReadExpected(ExpectedFile(name));
        DiscInfo disc;
        std::vector<CID3Tag> tags(expected.tracks.size());
        std::vector<CID3Tag*> pointers;
        for (CID3Tag& tag : tags) {
            pointers.push_back(&tag);
        }
        ASSERT_TRUE(LoadLocalCDDB(dir.path(), id, disc, pointers, 1,
                                  static_cast<std::int32_t>(tags.size()), true))
            << name;
        ExpectDisc(disc, expected, name);
        for (std::size_t i = 0; i < tags.size(); ++i) {
            EXPECT_EQ(tags[i].GetTag("Artist"), expected.tracks[i].artist) << name;
            EXPECT_EQ(tags[i].GetTag("Album"), expected.fields.at("Title")) << name;
        }
    }
}

} // namespace
