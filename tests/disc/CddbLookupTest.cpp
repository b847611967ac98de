// The ripper's CDDB look-up through the real client against the loopback
// CDDB server: one match, several, close ones, none; the server's refusals
// and broken replies; entries too large to take; the proxy with and without
// credentials, the system's proxy, a server that never answers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "CddbFixture.h"
#include "disc/CDDBServersList.h"
#include "disc/QueryCDDBInfo.h"
#include "support/Environment.h"

namespace {

using cddbtest::CddbTest;

class CddbLookup : public CddbTest {
protected:
    // A proxy on 127.0.0.1 in front of the CDDB server, demanding
    // `credentials` when they are not empty, and the settings that use it.
    std::unique_ptr<qmtest::CddbServer> StartProxy(const std::string& credentials) {
        qmtest::CddbServerOptions options;
        options.proxy = true;
        options.proxyAuth = credentials;
        auto proxy = std::make_unique<qmtest::CddbServer>(m_proxyDir.path(), options);
        settings.UseProxy = true;
        settings.ProxyServer = qmtest::CddbServer::kHost;
        settings.ProxyPort = proxy->Port();
        return proxy;
    }

private:
    qmtest::TempDir m_proxyDir;
};

const std::vector<std::string> kTitles = {"Harbour Lights", "Tin Roof", "Salt Road", "Coda"};

std::vector<std::string> Titles(const DiscInfo& disc) {
    std::vector<std::string> titles;
    for (const DiscTrackInfo& track : disc.tracks) {
        titles.push_back(track.title);
    }
    return titles;
}

using ScopedEnv = qmtest::EnvironmentGuard;

TEST_F(CddbLookup, OneExactMatchNamesTheDiscAndItsTracks) {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles, " YEAR: 1997 ID3G: 17");

    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
    const DiscInfo& disc = ripper.GetDiscInfo();
    EXPECT_EQ(disc.artist, "Nina Vale");
    EXPECT_EQ(disc.title, "Quiet Rooms");
    EXPECT_EQ(disc.genre, "rock");
    EXPECT_EQ(disc.year, 1997);
    EXPECT_EQ(Titles(disc), kTitles);
    EXPECT_EQ(disc.firstTrack, 1);
    EXPECT_EQ(disc.lastTrack, 4);
    for (int track = 1; track <= 4; ++track) {
        EXPECT_EQ(disc.tracks[static_cast<std::size_t>(track - 1)].length,
                  ripper.GetTrackLength(track, false));
        std::string text = "unchanged";
        EXPECT_EQ(ripper.GetTrackArtist(track, text), CCDRipper::kCDDBOk);
        EXPECT_EQ(text, "");
    }
    std::string title;
    EXPECT_EQ(ripper.GetTrackTitle(3, title), CCDRipper::kCDDBOk);
    EXPECT_EQ(title, "Salt Road");
    EXPECT_EQ(ripper.GetTrackTitle(5, title), CCDRipper::kCDDBTrackOutside);
    EXPECT_EQ(ripper.GetTrackTitle(0, title), CCDRipper::kCDDBTrackOutside);
    EXPECT_EQ(ripper.GetCDDBID(), Disc().discId);
    EXPECT_EQ(ripper.GetCDDBMatches().size(), 1u);

    // What the server was sent: the query of this disc, then the read of the
    // match, each with the hello and protocol level 6.
    const auto requests = Server().Requests();
    ASSERT_EQ(requests.size(), 2u);
    const qmtest::XmcdDisc expected = Disc();
    std::string query = qm::Format("cddb query %08x 4", expected.discId);
    for (std::uint32_t offset : expected.offsets) {
        query += " " + std::to_string(offset);
    }
    query += " " + std::to_string(expected.seconds);
    EXPECT_EQ(requests[0]["cmd"], query);
    EXPECT_EQ(requests[1]["cmd"], qm::Format("cddb read rock %08x", expected.discId));
    for (const auto& request : requests) {
        EXPECT_EQ(request["hello"], "tester example.org CD_ripper " QM_TEST_VERSION);
        EXPECT_EQ(request["proto"], "6");
        EXPECT_EQ(request["path"], qmtest::CddbServer::kPath);
    }
}

TEST_F(CddbLookup, SeveralMatchesAreChosenAmongAndTheChoiceIsUsedAsShown) {
    // Two exact matches (210); the second has the artist repeated in its title.
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    AddEntry("misc", "Nina Vale / Nina Vale / Quiet Rooms (Live)",
             {"Harbour Lights (Live)", "Tin Roof (Live)", "Salt Road (Live)", "Coda (Live)"},
             "YEAR: 2001");

    ASSERT_EQ(ripper.QueryCDInfo(&settings, true), 2);
    EXPECT_EQ(ripper.GetLastCDDBStatus(), CCDRipper::kCDDBOk);
    CQueryCDDBInfo chooser(ripper.GetCDDBMatches());
    chooser.Init();
    EXPECT_EQ(chooser.GetAutoChoice(), -1);
    ASSERT_EQ(chooser.GetRows().size(), 2u);
    const auto& rows = chooser.GetRows();
    const std::size_t live = rows[0].genre == "misc" ? 0 : 1;
    EXPECT_EQ(rows[live].artist, "Nina Vale");
    EXPECT_EQ(rows[live].album, "Quiet Rooms (Live)");
    EXPECT_EQ(rows[live].match, "Yes");
    EXPECT_EQ(rows[1 - live].album, "Quiet Rooms");
    EXPECT_EQ(chooser.OnOK(-1), -1);
    EXPECT_EQ(chooser.OnOK(2), -1);

    const std::int32_t choice = chooser.OnOK(static_cast<std::int32_t>(live));
    ASSERT_TRUE(ripper.ExtractCDInfo(choice));
    const DiscInfo& disc = ripper.GetDiscInfo();
    EXPECT_EQ(disc.title, "Quiet Rooms (Live)");
    EXPECT_EQ(disc.genre, "misc");
    EXPECT_EQ(disc.year, 2001);
    EXPECT_EQ(disc.tracks[3].title, "Coda (Live)");

    EXPECT_FALSE(ripper.ExtractCDInfo(2));
    EXPECT_EQ(ripper.GetLastCDDBStatus(), CCDRipper::kCDDBNoMatch);
    EXPECT_EQ(disc.title, "Quiet Rooms (Live)");
}

TEST_F(CddbLookup, CloseMatchesAreListedAsNotExact) {
    // Another disc id, the same offsets: the server offers it as close (211).
    AddEntry("jazz", "Other Band / Near Enough", kTitles, "", 0x0badf00d);

    ASSERT_EQ(ripper.QueryCDInfo(&settings, true), 1);
    const qm::CddbMatch& match = ripper.GetCDDBMatches()[0];
    EXPECT_EQ(match.exact, 0);
    EXPECT_STREQ(match.discId, "0badf00d");
    CQueryCDDBInfo chooser(ripper.GetCDDBMatches());
    chooser.Init();
    EXPECT_EQ(chooser.GetRows()[0].match, "");
    EXPECT_EQ(chooser.GetAutoChoice(), 0);
    ASSERT_TRUE(ripper.ExtractCDInfo(0));
    EXPECT_EQ(ripper.GetDiscInfo().artist, "Other Band");
    // The disc keeps its own id.
    EXPECT_EQ(ripper.GetCDDBID(), Disc().discId);
}

TEST_F(CddbLookup, NoMatchIsStatus8WithTheTrackRecordsBuilt) {
    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBNoMatch);
    EXPECT_EQ(ripper.QueryCDInfo(&settings, true), 0);
    EXPECT_EQ(ripper.GetLastCDDBStatus(), CCDRipper::kCDDBNoMatch);
    const DiscInfo& disc = ripper.GetDiscInfo();
    EXPECT_EQ(disc.artist, "");
    ASSERT_EQ(disc.tracks.size(), 4u);
    EXPECT_EQ(disc.tracks[1].length, ripper.GetTrackLength(2, false));
    EXPECT_EQ(ripper.GetCDDBID(), Disc().discId);
    EXPECT_TRUE(ripper.GetCDDBMatches().empty());
}

TEST_F(CddbLookup, ARefusedOrBrokenQueryIsStatus7) {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    for (const char* fault : {"403", "409", "500", "garbage", "http500"}) {
        Server().SetFaults({{"query", fault}});
        EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBQueryFailed) << fault;
        EXPECT_EQ(ripper.GetDiscInfo().artist, "") << fault;
        EXPECT_NE(qm::CDDBLastError(), "") << fault;
    }
    // A list of matches without its end is not taken either.
    AddEntry("misc", "Nina Vale / Quiet Rooms", kTitles);
    Server().SetFaults({{"query", "unterminated"}});
    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBQueryFailed);
    // A server name that is no host name never leaves the machine; nothing
    // listens on port 1.
    settings.CDDBServer = "not a host";
    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBQueryFailed);
    settings.CDDBServer = qmtest::CddbServer::kHost;
    settings.HTTPPort = 1;
    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBQueryFailed);
    EXPECT_EQ(qm::GetAspiLibError(), qm::kCdErrNetwork);
}

TEST_F(CddbLookup, AnEntryThatCannotBeReadIsStatus8AndChangesNothing) {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles, "YEAR: 1997");
    AddEntry("misc", "Somebody / Else", {"a", "b", "c", "d"});
    ASSERT_EQ(ripper.QueryCDInfo(&settings, true), 2);
    const std::int32_t good = std::string(ripper.GetCDDBMatches()[0].category) == "rock" ? 0 : 1;
    ASSERT_TRUE(ripper.ExtractCDInfo(good));
    const DiscInfo before = ripper.GetDiscInfo();

    for (const char* fault : {"401", "403", "500", "garbage", "unterminated", "huge", "http500"}) {
        Server().SetFaults({{"read", fault}});
        EXPECT_FALSE(ripper.ExtractCDInfo(1 - good)) << fault;
        EXPECT_EQ(ripper.GetLastCDDBStatus(), CCDRipper::kCDDBNoMatch) << fault;
        const DiscInfo& after = ripper.GetDiscInfo();
        EXPECT_EQ(after.artist, before.artist) << fault;
        EXPECT_EQ(after.title, before.title) << fault;
        EXPECT_EQ(after.genre, before.genre) << fault;
        EXPECT_EQ(after.year, before.year) << fault;
        EXPECT_EQ(Titles(after), Titles(before)) << fault;
    }
    Server().SetFaults({});

    // An entry that is not xmcd at all, and one just too large for the
    // 10240 bytes of the entry buffer; one byte less fits.
    const std::uint32_t id = Disc().discId;
    qmtest::AddCddbEntry(Db(), "misc", id, "just some text\nwithout a title\n");
    EXPECT_FALSE(ripper.ExtractCDInfo(1 - good));
    qmtest::XmcdDisc disc = Disc();
    disc.dtitle = "Somebody / Else";
    disc.titles = {"a", "b", "c", "d"};
    std::string entry = qmtest::XmcdEntry(disc);
    const std::string pad = "#\n";
    entry.insert(0, "# padding " + std::string(qm::kCddbEntryBytes - entry.size() - 11 - 1, 'x') +
                        "\n");
    ASSERT_EQ(entry.size(), static_cast<std::size_t>(qm::kCddbEntryBytes - 1));
    qmtest::AddCddbEntry(Db(), "misc", id, entry);
    EXPECT_TRUE(ripper.ExtractCDInfo(1 - good));
    EXPECT_EQ(ripper.GetDiscInfo().artist, "Somebody");

    ASSERT_TRUE(ripper.ExtractCDInfo(good));
    qmtest::AddCddbEntry(Db(), "misc", id, pad + entry);
    EXPECT_FALSE(ripper.ExtractCDInfo(1 - good));
    EXPECT_EQ(qm::GetAspiLibError(), qm::kCdErrTooLong);
    EXPECT_EQ(ripper.GetDiscInfo().artist, "Nina Vale");
}

TEST_F(CddbLookup, TheProxySeesTheCredentialsOnlyWhenAsked) {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    const auto proxy = StartProxy("");

    // Without credentials the request still goes through the proxy.
    ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
    auto seen = proxy->Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0]["credentials"].is_null());
    EXPECT_EQ(seen[0]["url"].get<std::string>().rfind(
                  qm::Format("http://127.0.0.1:%d%s?cmd=cddb+query+", Server().Port(),
                             qmtest::CddbServer::kPath),
                  0),
              0u);

    // A password with a colon in it arrives whole.
    settings.ProxyAuth = true;
    settings.ProxyUser = "ann";
    settings.ProxyPassword = "s3cr:et";
    ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
    seen = proxy->Requests();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2]["credentials"], "ann:s3cr:et");
    EXPECT_EQ(seen[3]["credentials"], "ann:s3cr:et");
    EXPECT_EQ(ripper.GetDiscInfo().title, "Quiet Rooms");

    // The proxy switched off: nothing goes through it.
    settings.UseProxy = false;
    ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
    EXPECT_EQ(proxy->Requests().size(), 4u);
}

TEST_F(CddbLookup, AProxyThatWantsCredentialsRefusesALookUpWithoutThem) {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    const auto proxy = StartProxy("bob:pw");

    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBQueryFailed);
    EXPECT_NE(qm::CDDBLastError().find("407"), std::string::npos) << qm::CDDBLastError();
    settings.ProxyAuth = true;
    settings.ProxyUser = "bob";
    settings.ProxyPassword = "wrong";
    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBQueryFailed);
    settings.ProxyPassword = "pw";
    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
    // Switched off again, no credentials are sent.
    settings.ProxyAuth = false;
    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBQueryFailed);
    const auto seen = proxy->Requests();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_TRUE(seen[0]["credentials"].is_null());
    EXPECT_EQ(seen[1]["credentials"], "bob:wrong");
    EXPECT_TRUE(seen[4]["credentials"].is_null());
}

TEST_F(CddbLookup, TheSystemProxyComesFromHttpProxy) {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    const auto proxy = StartProxy("");
    settings.UseProxy = false;
    settings.GetProxyFromExplorer = true;
    ScopedEnv upper("HTTP_PROXY", nullptr);
    const std::string address = qm::Format("http://127.0.0.1:%d/", proxy->Port());

    {
        ScopedEnv lower("http_proxy", address.c_str());
        EXPECT_TRUE(ripper.SetProxyFromExplorer());
        ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
        EXPECT_EQ(proxy->Requests().size(), 2u);
    }
    {
        // The upper-case name counts when the lower-case one is not set.
        ScopedEnv lower("http_proxy", nullptr);
        ScopedEnv upperSet("HTTP_PROXY", qm::Format("127.0.0.1:%d", proxy->Port()).c_str());
        ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
        EXPECT_EQ(proxy->Requests().size(), 4u);
    }
    // No port, port 0, no variable: the look-up goes direct.
    for (const char* value : {"127.0.0.1", "http://127.0.0.1:0", "socks5://127.0.0.1:1080", ""}) {
        ScopedEnv lower("http_proxy", value);
        EXPECT_EQ(ripper.SetProxyFromExplorer(), *value == '\0') << value;
        ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk) << value;
        EXPECT_EQ(proxy->Requests().size(), 4u) << value;
    }
    // The variable is only read when the settings ask for it.
    ScopedEnv lower("http_proxy", address.c_str());
    settings.GetProxyFromExplorer = false;
    ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
    EXPECT_EQ(proxy->Requests().size(), 4u);
}

TEST_F(CddbLookup, AServerThatNeverAnswersEndsInStatus7) {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    Server().SetFaults({{"delay", 60}});
    qm::CDDBSetOption(qm::kCddbOptTimeout, nullptr, 400);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBQueryFailed);
    // Ended by the time-out, not by the server (which would take a minute).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(qm::GetAspiLibError(), qm::kCdErrNetwork);

    // A slow server inside the time-out is waited for.
    Server().SetFaults({{"delay", 0.3}});
    qm::CDDBSetOption(qm::kCddbOptTimeout, nullptr, 10000);
    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
}

TEST_F(CddbLookup, ALookUpCanBeCancelledFromAnotherThread) {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    Server().SetFaults({{"delay", 60}});
    std::int32_t status = -1;
    std::thread worker([&] { status = ripper.GetCDInfo(&settings, true); });
    // Cancel once the query is under way: the server has noted it.
    for (int wait = 0; wait < 1000 && RequestCount() == 0; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    qm::CDDBCancel();
    worker.join();
    EXPECT_EQ(status, CCDRipper::kCDDBQueryFailed);

    // The next look-up runs as usual.
    Server().SetFaults({});
    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
}

TEST_F(CddbLookup, WithoutSettingsTheLookUpFailsAtOnceWithoutNetwork) {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    EXPECT_EQ(ripper.GetCDInfo(nullptr, true), CCDRipper::kCDDBQueryFailed);
    EXPECT_EQ(ripper.GetCDInfo(&settings, false), CCDRipper::kCDDBQueryFailed);
    EXPECT_EQ(RequestCount(), 0u);
    // The track records are there all the same.
    EXPECT_EQ(ripper.GetDiscInfo().tracks.size(), 4u);
    EXPECT_EQ(ripper.GetCDDBID(), Disc().discId);
}

TEST_F(CddbLookup, WithoutADiscTheStatusSaysWhy) {
    AddEntry("rock", "Nina Vale / Quiet Rooms", kTitles);
    const std::uint32_t id = Disc().discId;
    ASSERT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBOk);
    ripper.Detach();
    EXPECT_EQ(ripper.GetCDInfo(&settings, true), CCDRipper::kCDDBNoDrive);
    EXPECT_EQ(ripper.GetDiscInfo().artist, "");
    EXPECT_EQ(ripper.GetCDDBID(), 0u);
    std::string text;
    EXPECT_EQ(ripper.GetTrackTitle(1, text), CCDRipper::kCDDBNoTracks);
    EXPECT_EQ(ripper.GetTrackArtist(1, text), CCDRipper::kCDDBNoTracks);

    // Attached, but no look-up made yet: no track records.
    CCDRipper fresh;
    ASSERT_TRUE(fresh.Attach(ripper.GetDriveIndex(), 0));
    EXPECT_EQ(fresh.GetTrackTitle(1, text), CCDRipper::kCDDBNoMatch);
    fresh.PrepareTS();
    EXPECT_EQ(fresh.GetTrackTitle(1, text), CCDRipper::kCDDBOk);
    EXPECT_EQ(text, "");
    EXPECT_EQ(fresh.GetCDDBID(), id);
    EXPECT_EQ(RequestCount(), 2u);
}

TEST_F(CddbLookup, TheServerListFillsThePicker) {
    std::ofstream(Db() / "sites")
        << "gnudb.gnudb.org http 80 /~cddb/cddb.cgi N000.00 W000.00 Random server\n"
           "gnudb.gnudb.org cddbp 8880 - N000.00 W000.00 Random server, CDDBP\n"
           "old.example.org 888 N037.23 W122.01 An old-style line\n"
           "broken line\n"
           "s4.example.org http 8080 /cgi-bin/cddb.cgi N000.00 W000.00 Four\n"
           "s5.example.org http 80 /cddb N000.00 W000.00 Five\n"
           "s6.example.org http 80 /cddb N000.00 W000.00 Six\n"
           "s7.example.org http 80 /cddb N000.00 W000.00 Seven\n"
           "s8.example.org http 80 /cddb N000.00 W000.00 Eight\n"
           "s9.example.org http 80 /cddb N000.00 W000.00 Nine, one too many\n";
    CCDDBServersList list;
    ASSERT_TRUE(list.Load(ripper, settings));
    const auto& rows = list.GetRows();
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0].server, "gnudb.gnudb.org");
    EXPECT_EQ(rows[0].port, "80");
    EXPECT_EQ(rows[0].cgi, "/~cddb/cddb.cgi");
    EXPECT_EQ(rows[0].isHttp, "Yes");
    EXPECT_EQ(rows[1].isHttp, "No");
    EXPECT_EQ(rows[1].cgi, "");
    EXPECT_EQ(rows[2].server, "old.example.org");
    EXPECT_EQ(rows[2].port, "888");
    EXPECT_EQ(rows[3].server, "s4.example.org");
    EXPECT_EQ(rows[7].server, "s8.example.org");
    EXPECT_STREQ(list.GetSites()[3].description, "Four");

    CCDDBServersList::Choice choice;
    EXPECT_FALSE(list.OnOK(-1, choice));
    EXPECT_FALSE(list.OnOK(8, choice));
    ASSERT_TRUE(list.OnOK(3, choice));
    EXPECT_EQ(choice.host, "s4.example.org");
    EXPECT_EQ(choice.path, "/cgi-bin/cddb.cgi");
    EXPECT_EQ(choice.port, 8080);

    Server().SetFaults({{"sites", "401"}});
    EXPECT_FALSE(list.Load(ripper, settings));
    EXPECT_TRUE(list.GetRows().empty());
    Server().SetFaults({{"sites", "unterminated"}});
    EXPECT_FALSE(list.Load(ripper, settings));
}

} // namespace
