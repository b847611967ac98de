// Reading an entry's text: the four parsers on entries as servers write them
// (keys in any case, years with letters, mixed-artist titles), the chooser's
// title correction, entries in Latin-1, hostile and random entries, and the
// client's refusal of bad arguments before any network access.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include <nlohmann/json.hpp>

#include "CddbFixture.h"
#include "disc/QueryCDDBInfo.h"

namespace {

using cddbtest::CddbTest;

class CddbEntry : public CddbTest {
protected:
    void SetUp() override {
        CddbTest::SetUp();
        ripper.PrepareTS();
        ASSERT_EQ(ripper.GetDiscInfo().tracks.size(), 4u);
    }
    const DiscInfo& Info() { return ripper.GetDiscInfo(); }
};

// C0, DEL or C1 (U+0080..U+009F).
bool HasControl(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F ||
            (c == 0xC2 && i + 1 < text.size() &&
             (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80)) {
            return true;
        }
    }
    return false;
}

// Valid UTF-8: the JSON writer refuses anything else.
bool IsUtf8(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

TEST_F(CddbEntry, TheDiscTitleSplitsAtItsFirstSpacedSlash) {
    // Repeated lines continue the title before it is split.
    ripper.ExtractArtist("DISCID=1\nDTITLE=Nina Vale  / Quiet / Rooms\nDTITLE=, Second / Line\n");
    ripper.ExtractAlbum("DISCID=1\nDTITLE=Nina Vale  / Quiet / Rooms\nDTITLE=, Second / Line\n");
    EXPECT_EQ(Info().artist, "Nina Vale");
    EXPECT_EQ(Info().title, "Quiet / Rooms, Second / Line");

    // No " / ": all of it is both the artist and the album.
    ripper.ExtractArtist("dtitle=Just One Name\n");
    ripper.ExtractAlbum("dtitle=Just One Name\n");
    EXPECT_EQ(Info().artist, "Just One Name");
    EXPECT_EQ(Info().title, "Just One Name");
    ripper.ExtractArtist("DTITLE=AC/DC / Back in Black\n");
    ripper.ExtractAlbum("DTITLE=AC/DC / Back in Black\n");
    EXPECT_EQ(Info().artist, "AC/DC");
    EXPECT_EQ(Info().title, "Back in Black");
    // A title that repeats the artist is taken as the chooser shows it.
    ripper.ExtractAlbum("DTITLE=Band / Band / Album\n");
    EXPECT_EQ(Info().title, "Album");
    // Escapes are decoded; a line break in a name is a blank.
    ripper.ExtractArtist("DTITLE=Back\\\\slash\\nBand / X\n");
    EXPECT_EQ(Info().artist, "Back\\slash Band");

    // Keys are the text before the first '='; a value may hold more of them.
    ripper.ExtractArtist("DTITLEX=No\r\nDTITLE =No\r\nDTitle=a=b / c=d\r\n");
    ripper.ExtractAlbum("DTITLEX=No\r\nDTITLE =No\r\nDTitle=a=b / c=d\r\n");
    EXPECT_EQ(Info().artist, "a=b");
    EXPECT_EQ(Info().title, "c=d");
}

TEST_F(CddbEntry, TrackKeysMatchInAnyCaseButExactly) {
    const char* text = "TTITLE30=Not track three\r"
                       "ttitle3=Fourth\r"
                       "TTITLE1 =Not a key\n"
                       "TTITLE1=Second\n"
                       "TTITLE0=First\n"
                       "TTITLE0=, continued\n";
    for (std::int32_t index = 0; index < 4; ++index) {
        ripper.ExtractTrackInfo(text, index);
    }
    EXPECT_EQ(Info().tracks[0].title, "First, continued");
    EXPECT_EQ(Info().tracks[1].title, "Second");
    EXPECT_EQ(Info().tracks[2].title, "");
    EXPECT_EQ(Info().tracks[3].title, "Fourth");
    // Indexes without a track record are left alone.
    ripper.ExtractTrackInfo(text, 4);
    ripper.ExtractTrackInfo(text, -1);
    EXPECT_EQ(Info().tracks.size(), 4u);
}

TEST_F(CddbEntry, TheYearComesFromExtdOrElseDyear) {
    struct Case {
        const char* text;
        std::int32_t year;
    };
    const Case cases[] = {
        {"EXTD= YEAR: 1984 ID3G: 17\n", 1984},
        {"EXTD=YEAR: 19x4\n", 0},                          // a letter among the digits
        {"EXTD=YEAR: 198\n", 0},                           // too short
        {"EXTD=Recorded live. YEA\nextd=R: 2003\n", 2003}, // values are joined
        {"EXTD=ID3G: 17\nDYEAR=1999\n", 1999},             // the newer format's own line
        {"EXTD=YEAR: 2010\nDYEAR=1999\n", 2010},
        {"DYEAR=99\n", 0},
        {"", 0},
    };
    for (const Case& c : cases) {
        ripper.PrepareTS();
        ripper.ExtractYear(c.text);
        EXPECT_EQ(Info().year, c.year) << c.text;
    }
}

TEST_F(CddbEntry, MixedModeSplitsTrackArtistsFromTitles) {
    const char* text = "TTITLE0=Ann Lee / First Song\nTTITLE1=No Artist Here\n"
                       "TTITLE2=  Bo Diaz /  Tango  \nTTITLE3=AC/DC\n";
    for (bool mixed : {false, true}) {
        ripper.SetMixedCDMode(mixed);
        for (std::int32_t index = 0; index < 4; ++index) {
            ripper.ExtractTrackInfo(text, index);
        }
        // A bare '/' is part of the name.
        EXPECT_EQ(Info().tracks[3].artist, "");
        EXPECT_EQ(Info().tracks[3].title, "AC/DC");
        if (mixed) {
            EXPECT_EQ(Info().tracks[0].artist, "Ann Lee");
            EXPECT_EQ(Info().tracks[0].title, "First Song");
            EXPECT_EQ(Info().tracks[2].artist, "Bo Diaz");
            EXPECT_EQ(Info().tracks[2].title, "Tango");
        } else {
            EXPECT_EQ(Info().tracks[0].artist, "");
            EXPECT_EQ(Info().tracks[0].title, "Ann Lee / First Song");
            EXPECT_EQ(Info().tracks[2].title, "  Bo Diaz /  Tango  ");
        }
        EXPECT_EQ(Info().tracks[1].artist, "");
        EXPECT_EQ(Info().tracks[1].title, "No Artist Here");
    }

    // The same through a look-up, and what the getters then answer.
    AddEntry("misc", "Various / Sampler",
             {"Ann Lee / First Song", "Bo Diaz / Tango", "Cy Moor / Rain", "Dee / Dusk"});
    ripper.SetMixedCDMode(true);
    ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
    std::string artist;
    std::string title;
    EXPECT_EQ(ripper.GetTrackArtist(2, artist), CCDRipper::kCDDBOk);
    EXPECT_EQ(ripper.GetTrackTitle(2, title), CCDRipper::kCDDBOk);
    EXPECT_EQ(artist, "Bo Diaz");
    EXPECT_EQ(title, "Tango");
    EXPECT_EQ(Info().artist, "Various");
}

TEST(CddbChooser, ATitleThatRepeatsTheArtistIsCorrected) {
    struct Case {
        const char* artist;
        const char* title;
        const char* shown;
    };
    const Case cases[] = {
        {"Band", "Band / Album", "Album"},
        {"The Band", "Band   /   Album", "Album"}, // the artist ends with it
        {"Band", "Other / Album", "Other / Album"},
        {"Band", "/Album", "/Album"}, // the slash must not come first
        {"", "  / Album", "  / Album"},
        {"Band", "Band", "Band"},
        {"Band", "Band /", ""},
    };
    std::vector<qm::CddbMatch> matches(std::size(cases));
    for (std::size_t i = 0; i < matches.size(); ++i) {
        qm::CopyTruncated(matches[i].artist, sizeof matches[i].artist, cases[i].artist);
        qm::CopyTruncated(matches[i].title, sizeof matches[i].title, cases[i].title);
        std::strcpy(matches[i].category, "rock");
        matches[i].exact = i % 2 == 0;
    }
    CQueryCDDBInfo chooser(matches);
    chooser.Init();
    ASSERT_EQ(chooser.GetRows().size(), matches.size());
    for (std::size_t i = 0; i < matches.size(); ++i) {
        EXPECT_EQ(chooser.GetRows()[i].album, cases[i].shown) << cases[i].title;
        // The match itself is corrected: what is chosen is what was shown.
        EXPECT_STREQ(matches[i].title, cases[i].shown);
        EXPECT_EQ(chooser.GetRows()[i].match, i % 2 == 0 ? "Yes" : "");
        EXPECT_EQ(chooser.GetRows()[i].genre, "rock");
    }
    EXPECT_EQ(chooser.GetAutoChoice(), -1);
    EXPECT_EQ(CQueryCDDBInfo(std::span<qm::CddbMatch>(matches).first(1)).GetAutoChoice(), 0);
    EXPECT_EQ(CQueryCDDBInfo(std::span<qm::CddbMatch>()).GetAutoChoice(), -1);
}

TEST(CddbChooser, MusicBrainzReleasesFollowTheCddbMatches) {
    std::vector<qm::CddbMatch> matches(1);
    std::strcpy(matches[0].artist, "Band");
    std::strcpy(matches[0].title, "Album");
    std::strcpy(matches[0].category, "rock");
    qm::MbMatch release;
    release.id = "r1";
    release.title = "Album";
    release.artist = "Band";
    release.date = "2003-09-29";
    release.country = "DE";
    release.tracks = 13;
    qm::MbMatch bare;
    bare.title = "Other";
    bare.tracks = 2;
    CQueryCDDBInfo chooser(matches, {release, bare});
    chooser.Init();
    ASSERT_EQ(chooser.GetRows().size(), 3u);
    EXPECT_EQ(chooser.GetRows()[0].source, "CDDB");
    EXPECT_EQ(chooser.GetRows()[1].source, "MusicBrainz");
    EXPECT_EQ(chooser.GetRows()[1].album, "Album [DE 2003-09-29, 13 tracks]");
    EXPECT_EQ(chooser.GetRows()[2].album, "Other [2 tracks]");
    EXPECT_FALSE(chooser.IsMusicBrainz(0));
    EXPECT_TRUE(chooser.IsMusicBrainz(2));
    EXPECT_EQ(chooser.MusicBrainzIndex(2), 1);
    EXPECT_EQ(chooser.MusicBrainzIndex(0), -1);
    EXPECT_EQ(chooser.OnOK(2), 2);
    EXPECT_EQ(chooser.OnOK(3), -1);
    EXPECT_EQ(chooser.GetAutoChoice(), -1);
    // One row of either source alone is taken at once.
    EXPECT_EQ(CQueryCDDBInfo(std::span<qm::CddbMatch>(), {release}).GetAutoChoice(), 0);
}

TEST_F(CddbEntry, EntriesInTheOldCodePageAreReadAsSuch) {
    qmtest::XmcdDisc disc = Disc();
    disc.dtitle = "Bj\xf6rk / Hom\xe9genic";
    // A UTF-8 title stays as it is; 0x81 is undefined in the code page.
    disc.titles = {"J\xf3ga", "Caf\xc3\xa9", "It\x92s", "x\x81y"};
    qmtest::AddCddbEntry(Db(), "misc", disc.discId, qmtest::XmcdEntry(disc));
    ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
    EXPECT_EQ(Info().artist, "Bj\xc3\xb6rk");
    EXPECT_EQ(Info().title, "Hom\xc3\xa9genic");
    EXPECT_EQ(Info().tracks[0].title, "J\xc3\xb3ga");
    EXPECT_EQ(Info().tracks[1].title, "Caf\xc3\xa9");
    EXPECT_EQ(Info().tracks[2].title, "It\xe2\x80\x99s");
    EXPECT_EQ(Info().tracks[3].title, "x\xef\xbf\xbdy");
}

TEST_F(CddbEntry, HostileEntriesAreTakenAsPlainText) {
    const std::string longTitle(5000, 'w');
    qmtest::XmcdDisc disc = Disc();
    disc.dtitle = "../../etc / ..\\..\\boot\x01\x1b[2J";
    disc.titles = {longTitle, "a/b\\c:d*e?f\"g<h>i|j", std::string("tab\there\x7f\x1b[31m"),
                   "\xff\xfe\xc3( \xe2\x82 \xc2\x9b"
                   "1m"};
    disc.extd = "YEAR: 2\x1b"
                "01";
    qmtest::AddCddbEntry(Db(), "rock", disc.discId, qmtest::XmcdEntry(disc));
    ripper.SetMixedCDMode(true);
    ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);

    std::vector<std::string> texts = {Info().artist, Info().title, Info().genre};
    for (const DiscTrackInfo& track : Info().tracks) {
        texts.push_back(track.title);
        texts.push_back(track.artist);
    }
    for (const std::string& text : texts) {
        EXPECT_FALSE(HasControl(text)) << text;
        EXPECT_TRUE(IsUtf8(text)) << text;
    }
    EXPECT_EQ(Info().artist, "../../etc");
    EXPECT_EQ(Info().title, "..\\..\\boot  [2J");
    EXPECT_EQ(Info().tracks[0].title, longTitle);
    EXPECT_EQ(Info().tracks[1].artist, ""); // no " / " in it
    EXPECT_EQ(Info().tracks[1].title, "a/b\\c:d*e?f\"g<h>i|j");
    EXPECT_EQ(Info().tracks[2].title, "tab here  [31m");
    EXPECT_EQ(Info().year, 0);

    // A NUL inside the reply makes it no entry at all.
    std::string withNul = qmtest::XmcdEntry(disc);
    withNul.insert(withNul.find("DTITLE"), std::string("X=\0\n", 4));
    qmtest::AddCddbEntry(Db(), "rock", disc.discId, withNul);
    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBNoMatch);
}

TEST_F(CddbEntry, RandomEntriesNeverCrashTheParsers) {
    std::mt19937 rng(12);
    const std::vector<std::string> pieces = {
        "DTITLE", "dtitle", "TTITLE0",  "ttitle3", "TTITLE", "TTITLE-1", "TTITLE99999999999",
        "EXTD",   "DYEAR",  "YEAR: ",   "=",       "==",     "/",        " / ",
        "\\",     "\r",     "\n",       "\r\n",    " ",      "\t",       "\x1b",
        "\xff",   "\xc3",   "\xe2\x82", "1999",    "x",      "%d",       "%s",
        "#",      "."};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int count = std::uniform_int_distribution<int>(0, 60)(rng);
        for (int i = 0; i < count; ++i) {
            if (rng() % 50 == 0) {
                text += std::string(std::uniform_int_distribution<int>(1, 6000)(rng), 'q');
            } else {
                text += pieces[rng() % pieces.size()];
            }
        }
        ripper.SetMixedCDMode(round % 2 == 1);
        ripper.ExtractArtist(text.c_str());
        ripper.ExtractAlbum(text.c_str());
        ripper.ExtractYear(text.c_str());
        for (std::int32_t index = -1; index <= 4; ++index) {
            ripper.ExtractTrackInfo(text.c_str(), index);
        }
        ASSERT_EQ(Info().tracks.size(), 4u);
        ASSERT_GE(Info().year, 0);
        ASSERT_LE(Info().year, 9999);
        ASSERT_FALSE(HasControl(Info().artist) || HasControl(Info().title));
        for (const DiscTrackInfo& track : Info().tracks) {
            ASSERT_FALSE(HasControl(track.title) || HasControl(track.artist)) << text;
        }
    }
    ripper.ExtractArtist(nullptr);
    ripper.ExtractTrackInfo(nullptr, 0);
    EXPECT_EQ(Info().tracks[0].title, "");
}

std::string Latin1(const std::string& bytes) {
    return qmtest::RawReplyText(bytes);
}

bool FieldIsClean(const char* field, std::size_t size) {
    const std::size_t length = strnlen(field, size);
    const std::string text(field, length);
    return length < size && !HasControl(text) && IsUtf8(text);
}

TEST_F(CddbEntry, RandomRepliesNeverCrashTheClient) {
    std::mt19937 rng(5);
    const std::vector<std::string> statuses = {"200 ", "210 ", "211 ", "202 ", "401 ",
                                               "2",    "",     "21x ", "210"};
    const std::vector<std::string> pieces = {
        "rock",      "misc",  "data", " ",       "  ",   "12345678", "0badf00d",
        "123456789", "/",     " / ",  "\xff",    "\xc3", "\x1b",     "..",
        ".",         "\r\n",  "\n",   "\r",      "http", "cddbp",    "80",
        "0",         "99999", "-",    "N000.00", "\t",   "=",        std::string(300, 'a')};
    int withMatches = 0;
    int withSites = 0;
    auto pick = [&rng](const std::vector<std::string>& from) { return from[rng() % from.size()]; };
    auto noise = [&](int most) {
        std::string text;
        for (int i = std::uniform_int_distribution<int>(0, most)(rng); i > 0; --i) {
            text += pick(pieces);
        }
        return text;
    };
    for (int round = 0; round < 60; ++round) {
        // A status line, then lines that look like matches, like servers, or
        // like nothing, each maybe spoilt.
        std::string reply = pick(statuses) + noise(3) + pick({"\r\n", "\n"});
        for (int line = std::uniform_int_distribution<int>(0, 14)(rng); line > 0; --line) {
            switch (rng() % 3) {
            case 0:
                reply += pick({"rock", "misc", "a/b", ""}) + " " +
                         pick({"12345678", "0badf00d", "xyz", "123456789"}) + " " + noise(6);
                break;
            case 1:
                reply += pick({"host.example.org", "h"}) + " " + pick({"http", "cddbp", "80"}) +
                         " " + pick({"80", "8880", "0", "99999", "x"}) + " " +
                         pick({"/~cddb/cddb.cgi", "-", "N000.00"}) + " N000.00 W000.00 " + noise(4);
                break;
            default:
                reply += noise(8);
            }
            reply += pick({"\r\n", "\n"});
        }
        if (rng() % 4 != 0) {
            reply += ".\r\n";
        }
        Server().SetFaults(
            {{"query", {{"raw", Latin1(reply)}}}, {"sites", {{"raw", Latin1(reply)}}}});
        const std::int32_t matches = ripper.QueryCDInfo(&settings, true);
        const std::int32_t status = ripper.GetLastCDDBStatus();
        ASSERT_TRUE(status == CCDRipper::kCDDBOk || status == CCDRipper::kCDDBQueryFailed ||
                    status == CCDRipper::kCDDBNoMatch)
            << status;
        ASSERT_LE(matches, qm::kCddbMaxMatches);
        withMatches += matches > 0 ? 1 : 0;
        for (const qm::CddbMatch& match : ripper.GetCDDBMatches()) {
            ASSERT_TRUE(FieldIsClean(match.category, sizeof match.category));
            ASSERT_TRUE(FieldIsClean(match.discId, sizeof match.discId));
            ASSERT_TRUE(FieldIsClean(match.artist, sizeof match.artist)) << match.artist;
            ASSERT_TRUE(FieldIsClean(match.title, sizeof match.title)) << match.title;
        }

        std::vector<qm::CddbSite> sites(qm::kCddbMaxSites);
        qm::CddbSiteList list;
        list.capacity = qm::kCddbMaxSites;
        list.sites = sites.data();
        if (qm::CDDBGetServerList(&list) == qm::kCdOk) {
            ASSERT_LE(list.count, qm::kCddbMaxSites);
            withSites += list.count > 0 ? 1 : 0;
            for (int i = 0; i < list.count; ++i) {
                const qm::CddbSite& site = sites[static_cast<std::size_t>(i)];
                ASSERT_TRUE(site.port > 0 && site.port < 65536);
                ASSERT_TRUE(FieldIsClean(site.host, sizeof site.host));
                ASSERT_TRUE(FieldIsClean(site.path, sizeof site.path));
                ASSERT_TRUE(FieldIsClean(site.description, sizeof site.description));
            }
        }
    }
    // The replies reached the parsers of both, not only the status check.
    EXPECT_GT(withMatches, 0);
    EXPECT_GT(withSites, 0);
}

TEST_F(CddbEntry, TheClientRefusesBadArgumentsBeforeAnyNetwork) {
    EXPECT_EQ(qm::CDDBSetOption(99, "x", 0), qm::kCdFailed);
    EXPECT_EQ(qm::GetAspiLibError(), qm::kCdErrArgument);
    EXPECT_EQ(qm::CDDBSetOption(qm::kCddbOptServer, qmtest::CddbServer::kHost, 0), qm::kCdOk);
    qm::CDDBSetOption(qm::kCddbOptPort, nullptr, Server().Port());
    qm::CDDBSetOption(qm::kCddbOptPath, qmtest::CddbServer::kPath, 0);
    qm::CDDBSetOption(qm::kCddbOptUseProxy, nullptr, 0);

    char text[64];
    std::memset(text, 'Z', sizeof text);
    qm::CddbMatch match;
    std::strcpy(match.category, "../x");
    std::strcpy(match.discId, "12345678");
    EXPECT_EQ(qm::CDDBGetDiskInfo(&match, text, sizeof text), qm::kCdFailed);
    std::strcpy(match.category, "rock");
    std::strcpy(match.discId, "1234 678");
    EXPECT_EQ(qm::CDDBGetDiskInfo(&match, text, sizeof text), qm::kCdFailed);
    std::strcpy(match.discId, "12345678");
    EXPECT_EQ(qm::CDDBGetDiskInfo(&match, text, 0), qm::kCdFailed);
    EXPECT_EQ(qm::CDDBGetDiskInfo(nullptr, text, sizeof text), qm::kCdFailed);
    qm::CddbQuery query;
    query.capacity = 3;
    EXPECT_EQ(qm::CDDBQuery(ripper.GetHandle(), &query), qm::kCdFailed);
    EXPECT_EQ(qm::CDDBQuery(nullptr, &query), qm::kCdFailed);
    EXPECT_EQ(qm::CDDBGetServerList(nullptr), qm::kCdFailed);
    EXPECT_EQ(RequestCount(), 0u);

    // An entry that does not fit the caller's buffer leaves the buffer alone.
    AddEntry("rock", "Nina Vale / Quiet Rooms", {"a", "b", "c", "d"});
    std::uint32_t ids[103];
    qm::GetCDDBDiskID(ripper.GetHandle(), ids, 103);
    std::snprintf(match.discId, sizeof match.discId, "%08x", ids[0]);
    EXPECT_EQ(qm::CDDBGetDiskInfo(&match, text, sizeof text), qm::kCdFailed);
    EXPECT_EQ(qm::GetAspiLibError(), qm::kCdErrTooLong);
    EXPECT_TRUE(std::all_of(text, text + sizeof text, [](char c) { return c == 'Z'; }));
    std::vector<char> room(qm::kCddbEntryBytes);
    EXPECT_EQ(qm::CDDBGetDiskInfo(&match, room.data(), qm::kCddbEntryBytes), qm::kCdOk);
    EXPECT_EQ(std::string(room.data()).rfind("# xmcd\n", 0), 0u);
    EXPECT_EQ(qm::CDDBLastError(), "");
}

TEST(CddbProxyAddress, TheVariableFormsAreRead) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        std::int32_t port;
    };
    const Case cases[] = {
        {"proxy.example.org:3128", true, "proxy.example.org", 3128},
        {"http://proxy.example.org:8080/", true, "proxy.example.org", 8080},
        {"http://ann:pw@10.0.0.1:3128", true, "10.0.0.1", 3128},
        {"HTTP://[::1]:3128", true, "[::1]", 3128},
        {"proxy.example.org", true, "proxy.example.org", 0},
        {"socks5://proxy.example.org:1080", false, "", 0},
        {"https://proxy.example.org:443", false, "", 0},
        {"http://:3128", false, "", 0},
        {"http://proxy example:3128", false, "", 0},
        {"proxy:99999", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string host;
        std::int32_t port = -1;
        EXPECT_EQ(qm::ParseProxyAddress(c.text, &host, &port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

} // namespace
