// The MusicBrainz look-up against a loopback ws/2 server that serves real
// answers (python-musicbrainzngs's test data): disc ids from tables of
// contents as libdiscid computes them, the releases of a disc, the names a
// release gives, and what the client does with a server that misbehaves.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "disc/CDRipper.h"
#include "disc/MusicBrainzClient.h"
#include "disc/MusicBrainzDiscId.h"
#include "support/DiscImage.h"
#include "support/Fixtures.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kGerauschId = "f7agNZK1HMQ2WUWq9bwDymw9aHA-";

fs::path MbDir() {
    return qmtest::FixturesDir() / "real" / "musicbrainz";
}

fs::path NgsDir() {
    return MbDir() / "musicbrainzngs";
}

std::vector<std::int32_t> Numbers(const std::string& text) {
    std::vector<std::int32_t> numbers;
    std::istringstream in(text);
    std::int32_t n = 0;
    while (in >> n) {
        numbers.push_back(n);
    }
    return numbers;
}

TEST(MusicBrainzDiscId, TheVectorsGiveTheirIds) {
    QM_REQUIRE_FIXTURES();
    std::ifstream in(MbDir() / "discid-vectors.tsv");
    std::string line;
    int checked = 0;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, '\t');) {
            cells.push_back(cell);
        }
        // Rows with a full table and a MusicBrainz id to give.
        if (cells.size() < 6 || line[0] == '#' || cells[1] == "-" || cells[5] == "-") {
            continue;
        }
        const int first = std::stoi(cells[1]);
        const int last = std::stoi(cells[2]);
        EXPECT_EQ(qm::MusicBrainzDiscId(first, last, std::stoi(cells[3]), Numbers(cells[4])),
                  cells[5])
            << line;
        ++checked;
    }
    EXPECT_EQ(checked, 8);
    // Tables libdiscid refuses give no id.
    EXPECT_EQ(qm::MusicBrainzDiscId(1, 2, 1000, {150}), "");
    EXPECT_EQ(qm::MusicBrainzDiscId(0, 0, 0, {}), "");
    EXPECT_EQ(qm::MusicBrainzDiscId(1, 1, 100, {150}), "");
}

TEST(MusicBrainzDiscId, AnEnhancedCdCountsItsAudioSessionOnly) {
    // Ladyhawke: twelve audio tracks, then the data track at 207256 - 150.
    qm::DiscToc toc;
    toc.firstTrack = 1;
    toc.lastTrack = 13;
    const std::vector<std::int32_t> offsets = Numbers(
        "150 15687 31841 51016 66616 81352 99559 116070 133243 149997 161710 177832 207256");
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        qm::DiscTocTrack track;
        track.number = static_cast<int>(i + 1);
        track.start = offsets[i] - 150;
        track.data = i == 12;
        toc.tracks.push_back(track);
    }
    toc.leadout = 250000;
    EXPECT_EQ(qm::MusicBrainzDiscId(toc), "KnpGsLhvH.lPrNc1PBL21lb9Bg4-");
}

// A disc image laid out as the table of `offsets` (sector + 150) and
// `leadout`, its BIN sparse: only its layout matters here.
fs::path SparseImage(const fs::path& dir, const std::vector<std::int32_t>& offsets,
                     std::int32_t leadout) {
    std::ostringstream cue;
    cue << "FILE \"disc.bin\" BINARY\n";
    auto msf = [](std::int32_t sector) {
        char text[16];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", sector / 4500, sector / 75 % 60,
                      sector % 75);
        return std::string(text);
    };
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        char track[48];
        std::snprintf(track, sizeof track, "  TRACK %02zu AUDIO\n", i + 1);
        cue << track;
        if (i == 0 && offsets[0] > 150) {
            cue << "    INDEX 00 00:00:00\n";
        }
        cue << "    INDEX 01 " << msf(offsets[i] - 150) << "\n";
    }
    std::ofstream(dir / "disc.cue") << cue.str();
    std::ofstream(dir / "disc.bin", std::ios::binary).close();
    fs::resize_file(dir / "disc.bin", static_cast<std::uintmax_t>(leadout - 150) * 2352u);
    return dir / "disc.cue";
}

class MusicBrainz : public ::testing::Test {
protected:
    void SetUp() override {
        QM_REQUIRE_FIXTURES();
        m_server = std::make_unique<qmtest::WebServer>(m_dir.path() / "web");
        // The one-a-second rule has a test of its own.
        CMusicBrainz::SetMinimumInterval(std::chrono::milliseconds(0));
    }
    void TearDown() override { CMusicBrainz::SetMinimumInterval(std::chrono::milliseconds(1000)); }

    qmtest::WebServer& Server() { return *m_server; }
    void ServeDiscId(const std::string& id, const std::string& file) {
        Server().Add("ws/2/discid/" + id + ".xml", NgsDir() / "discid" / file);
    }
    void ServeRelease(const std::string& mbid, const std::string& file) {
        Server().Add("ws/2/release/" + mbid + ".xml", NgsDir() / "release" / file);
    }
    CMusicBrainz Client() {
        CMusicBrainz client(Server().HostPort());
        client.SetTimeout(5000);
        return client;
    }

    qmtest::TempDir m_dir;
    std::unique_ptr<qmtest::WebServer> m_server;
};

TEST_F(MusicBrainz, ADiscWithAPregapIsLookedUpUnderItsIdAndListsBothReleases) {
    const std::vector<std::int32_t> offsets = Numbers("17990 26452 38762 55052 78990 96705 109755 "
                                                      "126972 137342 156600 171900 188400 203475");
    qmtest::ScopedDrive drive(SparseImage(m_dir.path(), offsets, 217245));
    CCDRipper ripper;
    ASSERT_TRUE(ripper.Attach(drive.Index(), 0));
    const std::string id = qm::MusicBrainzDiscId(ripper.GetHandle());
    ASSERT_EQ(id, kGerauschId);

    ServeDiscId(id, std::string(kGerauschId) + ".xml");
    CMusicBrainz client = Client();
    std::vector<qm::MbRelease> releases;
    ASSERT_EQ(client.LookUp(id, &releases), CMusicBrainz::kOk) << client.GetLastError();
    const std::vector<qm::MbMatch> matches = qm::MbMatches(releases, id, 13);
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0].title, "Ger\xc3\xa4usch");
    EXPECT_EQ(matches[0].country, "AT");
    EXPECT_EQ(matches[0].date, "2003");
    EXPECT_EQ(matches[1].title, "Ger\xc3\xa4usch");
    EXPECT_EQ(matches[1].country, "DE");
    EXPECT_EQ(matches[1].date, "2003-09-29");
    EXPECT_EQ(matches[0].tracks, 13);
    EXPECT_EQ(matches[0].medium, 0); // the first of two media holds this disc

    const std::vector<nlohmann::json> requests = Server().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["path"], "/ws/2/discid/" + id);
    EXPECT_EQ(requests[0]["query"], "inc=recordings+artist-credits");
    EXPECT_EQ(requests[0]["user_agent"].get<std::string>().rfind("Quavermill/", 0), 0u);
    EXPECT_NE(requests[0]["user_agent"].get<std::string>().find("( "), std::string::npos);

    // The release answer is not there: the match stays as the disc-id answer
    // gave it, the album marked as the first of two discs.
    DiscInfo disc;
    disc.tracks.resize(13);
    disc.tracks[0].title = "kept";
    ASSERT_EQ(client.Choose(matches[1], id, &disc), CMusicBrainz::kOk);
    EXPECT_EQ(disc.title, "Ger\xc3\xa4usch (disc 1/2)");
    EXPECT_EQ(disc.year, 2003);
    EXPECT_EQ(disc.artist, ""); // that answer credits no one
    EXPECT_EQ(disc.tracks[0].title, "kept");
    EXPECT_EQ(Server().Requests().back()["path"], "/ws/2/release/" + matches[1].id);
}

TEST_F(MusicBrainz, AnAnswerWithoutCreditsListsItsReleases) {
    ServeDiscId("xp5tz6rE4OHrBafj0bLfDRMGK48-", "xp5tz6rE4OHrBafj0bLfDRMGK48-.xml");
    CMusicBrainz client = Client();
    std::vector<qm::MbRelease> releases;
    ASSERT_EQ(client.LookUp("xp5tz6rE4OHrBafj0bLfDRMGK48-", &releases), CMusicBrainz::kOk);
    const auto matches = qm::MbMatches(releases, "xp5tz6rE4OHrBafj0bLfDRMGK48-", 8);
    ASSERT_EQ(matches.size(), 3u);
    EXPECT_EQ(matches[0].id, "68c27a13-97a9-3614-b482-5e6e780bd230");
    EXPECT_EQ(matches[0].title, "Tales of Ephidrina");
    EXPECT_EQ(matches[0].artist, "");
    EXPECT_EQ(matches[0].country, "GB");
    EXPECT_EQ(matches[0].date, "1993-07-05");
    EXPECT_EQ(matches[1].country, "CA");
    EXPECT_EQ(matches[2].date, "1993-07-30");
    EXPECT_EQ(releases[0].barcode, "077778823827");
}

TEST_F(MusicBrainz, ReleasesGiveTitlesCreditsPositionsAndLengths) {
    struct Served {
        const char* mbid;
        const char* suffix;
    };
    const Served served[] = {
        {"212895ca-ee36-439a-a824-d2620cd10461", "recordings"},
        {"a81f3c15-2f36-47c7-9b0f-f684a8b0530f", "recordings"},
        {"9ce41d09-40e4-4d33-af0c-7fed1e558dba", "recordings"},
        {"b66ebe6d-a577-4af8-9a2e-a029b2147716", "recordings"},
        {"8eb2b179-643d-3507-b64c-29fcc6745156", "recordings"},
        {"833d4c3a-2635-4b7a-83c4-4e560588f23a", "recordings+artist-credits"},
        {"fbe4490e-e366-4da2-a37a-82162d2f41a9", "recordings+artist-credits"},
        {"fe29e7f0-eb46-44ba-9348-694166f47885", "recordings"},
    };
    for (const Served& s : served) {
        ServeRelease(s.mbid, std::string(s.mbid) + "-" + s.suffix + ".xml");
    }
    CMusicBrainz client = Client();
    std::map<std::string, qm::MbRelease> got;
    for (const Served& s : served) {
        ASSERT_EQ(client.GetRelease(s.mbid, &got[s.mbid]), CMusicBrainz::kOk)
            << s.mbid << ": " << client.GetLastError();
        EXPECT_EQ(Server().Requests().back()["query"], "inc=recordings+artist-credits+labels");
    }

    // An unnumbered intro track; a title outside Latin-1.
    const qm::MbRelease& techpara = got["212895ca-ee36-439a-a824-d2620cd10461"];
    EXPECT_EQ(techpara.title, "We\xe2\x99\xa5TechPara -mission style-");
    ASSERT_EQ(techpara.media.at(0).tracks.size(), 18u);
    EXPECT_EQ(techpara.media[0].tracks[0].position, 1);
    EXPECT_EQ(techpara.media[0].tracks[0].number, "");
    EXPECT_EQ(techpara.media[0].tracks[1].number, "1");
    EXPECT_EQ(techpara.media[0].tracks[2].position, 3);
    EXPECT_EQ(techpara.media[0].tracks[2].number, "2");

    // Vinyl sides: positions count, numbers are letters.
    const qm::MbRelease& bored = got["a81f3c15-2f36-47c7-9b0f-f684a8b0530f"];
    EXPECT_EQ(bored.title, "Bored Bored");
    ASSERT_EQ(bored.media.at(0).tracks.size(), 2u);
    EXPECT_EQ(bored.media[0].tracks[0].number, "A");
    EXPECT_EQ(bored.media[0].tracks[1].number, "B");
    EXPECT_EQ(bored.media[0].tracks[1].position, 2);

    // A data disc: no audio tracks to name.
    const qm::MbRelease& data = got["9ce41d09-40e4-4d33-af0c-7fed1e558dba"];
    EXPECT_EQ(data.media.at(0).tracks.size(), 0u);
    EXPECT_EQ(data.media[0].dataTracks, 198);

    // The track's length over the recording's; none at all is none.
    const qm::MbRelease& lengths = got["b66ebe6d-a577-4af8-9a2e-a029b2147716"];
    ASSERT_EQ(lengths.media.at(0).tracks.size(), 4u);
    EXPECT_EQ(lengths.media[0].tracks[0].lengthMs, 180000);
    EXPECT_EQ(lengths.media[0].tracks[1].lengthMs, 279000);
    EXPECT_EQ(lengths.media[0].tracks[2].lengthMs, 60000);
    EXPECT_EQ(lengths.media[0].tracks[3].lengthMs, -1);

    // The pregap's hidden track is no track of the table of contents.
    const qm::MbRelease& sea = got["8eb2b179-643d-3507-b64c-29fcc6745156"];
    EXPECT_EQ(sea.title, "Sea of Cowards");
    EXPECT_TRUE(sea.media.at(0).hasPregap);
    ASSERT_EQ(sea.media[0].tracks.size(), 11u);
    EXPECT_EQ(sea.media[0].tracks[0].position, 1);
    EXPECT_EQ(sea.media[0].tracks[0].title, "Blue Blood Blues");
    DiscInfo seaDisc;
    seaDisc.tracks.resize(11);
    qm::ApplyMbRelease(sea, 0, &seaDisc);
    EXPECT_EQ(seaDisc.tracks[0].title, "Blue Blood Blues");
    EXPECT_EQ(seaDisc.tracks[3].title, "I'm Mad"); // the track's title over the recording's

    // A track without a credit of its own takes its recording's.
    const qm::MbRelease& ruined = got["833d4c3a-2635-4b7a-83c4-4e560588f23a"];
    EXPECT_EQ(ruined.title, "Ruined Subjects");
    EXPECT_EQ(ruined.artist, "JT Bruce");
    ASSERT_EQ(ruined.media.at(0).tracks.size(), 21u);
    EXPECT_EQ(ruined.media[0].tracks[1].artist, "JT Bruce");
    EXPECT_EQ(ruined.date.substr(0, 4), "2011");

    // A track's own credit over its recording's; on the disc it is kept as
    // the track's artist because it is not the album artist.
    const qm::MbRelease& suzuki = got["fbe4490e-e366-4da2-a37a-82162d2f41a9"];
    EXPECT_EQ(suzuki.artist, "Suzuki Method International");
    EXPECT_EQ(suzuki.title, "Suzuki Piano School, Volume 2 (feat. piano: Haruko Katakoa)");
    ASSERT_GE(suzuki.media.at(0).tracks.size(), 2u);
    EXPECT_EQ(suzuki.media[0].tracks[1].artist, "H. Lichner");
    DiscInfo suzukiDisc;
    suzukiDisc.tracks.resize(suzuki.media[0].tracks.size());
    qm::ApplyMbRelease(suzuki, 0, &suzukiDisc);
    EXPECT_EQ(suzukiDisc.artist, "Suzuki Method International");
    EXPECT_EQ(suzukiDisc.tracks[1].artist, "H. Lichner");
    EXPECT_EQ(suzukiDisc.tracks[1].title, "A Short Story");

    // Three media; the disc of fifteen tracks is the second.
    const qm::MbRelease& urk = got["fe29e7f0-eb46-44ba-9348-694166f47885"];
    ASSERT_EQ(urk.media.size(), 3u);
    EXPECT_EQ(urk.media[0].trackCount, 14);
    EXPECT_EQ(urk.media[1].trackCount, 15);
    EXPECT_EQ(urk.media[2].trackCount, 19);
    EXPECT_EQ(qm::FindMbMedium(urk, "no-such-disc", 15), 1);
    DiscInfo urkDisc;
    urkDisc.tracks.resize(15);
    qm::ApplyMbRelease(urk, 1, &urkDisc);
    EXPECT_EQ(urkDisc.title, "Urk (disc 2/3)");
    EXPECT_EQ(urkDisc.tracks[0].title, urk.media[1].tracks[0].title);
}

TEST_F(MusicBrainz, AChosenMatchTakesTheWholeReleaseAndItsMedium) {
    // The disc-id answer lists the release; its own answer gives the tracks.
    ServeDiscId(kGerauschId, std::string(kGerauschId) + ".xml");
    const std::string mbid = "55a5a355-042f-39d0-9ba0-0de8090c84b9";
    std::string release;
    {
        std::ifstream in(NgsDir() / "discid" / (std::string(kGerauschId) + ".xml"));
        std::ostringstream text;
        text << in.rdbuf();
        // The first release of that answer, with two named tracks on the
        // medium of this disc, as a release answer.
        const std::string all = text.str();
        const auto start = all.find("<release id=\"" + mbid);
        const auto end = all.find("</release>", start) + 10;
        release = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><metadata "
                  "xmlns=\"http://musicbrainz.org/ns/mmd-2.0#\">" +
                  all.substr(start, end - start) + "</metadata>";
        const std::string empty = "<track-list count=\"13\" />";
        release.replace(release.find(empty), empty.size(),
                        "<track-list count=\"13\"><track><position>1</position><number>1</number>"
                        "<recording id=\"r1\"><title>Eins</title></recording></track>"
                        "<track><position>2</position><number>2</number><title>Zwei</title>"
                        "<artist-credit><name-credit joinphrase=\" &amp; \"><artist id=\"a1\">"
                        "<name>Gast</name></artist></name-credit><name-credit><name>Freund</name>"
                        "<artist id=\"a2\"><name>F.</name></artist></name-credit></artist-credit>"
                        "<recording id=\"r2\"><title>Two</title></recording></track>"
                        "</track-list>");
    }
    Server().AddText("ws/2/release/" + mbid + ".xml", release);
    CMusicBrainz client = Client();
    std::vector<qm::MbRelease> releases;
    ASSERT_EQ(client.LookUp(kGerauschId, &releases), CMusicBrainz::kOk);
    const auto matches = qm::MbMatches(releases, kGerauschId, 13);
    DiscInfo disc;
    disc.tracks.resize(13);
    ASSERT_EQ(client.Choose(matches[0], kGerauschId, &disc), CMusicBrainz::kOk);
    EXPECT_EQ(client.GetLastError(), "");
    EXPECT_EQ(disc.title, "Ger\xc3\xa4usch (disc 1/2)");
    EXPECT_EQ(disc.tracks[0].title, "Eins");
    EXPECT_EQ(disc.tracks[0].artist, "");
    EXPECT_EQ(disc.tracks[1].title, "Zwei");
    EXPECT_EQ(disc.tracks[1].artist, "Gast & Freund");
}

TEST(MusicBrainzRelease, ACompilationKeepsEveryTracksArtistAndItsLabel) {
    const std::string xml =
        "<?xml version=\"1.0\"?><metadata xmlns=\"http://musicbrainz.org/ns/mmd-2.0#\">"
        "<release id=\"v\"><title>Sampler</title><artist-credit><name-credit><artist id=\"" +
        std::string(qm::kMbVariousArtistsId) +
        "\"><name>Various Artists</name></artist></name-credit></artist-credit>"
        "<label-info-list><label-info><catalog-number>CAT 12</catalog-number><label id=\"l\">"
        "<name>Tin Label</name></label></label-info></label-info-list><medium-list><medium>"
        "<position>1</position><track-list count=\"2\"><track><position>1</position>"
        "<recording id=\"r\"><title>One</title><artist-credit><name-credit><artist id=\"x\">"
        "<name>Various Artists</name></artist></name-credit></artist-credit></recording></track>"
        "<track><position>2</position><title>Two</title></track></track-list></medium>"
        "</medium-list></release></metadata>";
    qm::MbRelease release;
    std::string error;
    ASSERT_TRUE(qm::ParseMbRelease(xml, &release, &error)) << error;
    EXPECT_TRUE(qm::IsVariousArtists(release));
    EXPECT_EQ(release.date, ""); // no date at all
    DiscInfo disc;
    disc.tracks.resize(3);
    disc.tracks[2].title = "kept";
    disc.year = 1999;
    qm::ApplyMbRelease(release, 0, &disc);
    EXPECT_EQ(disc.artist, "Various Artists");
    EXPECT_EQ(disc.title, "Sampler");
    EXPECT_EQ(disc.year, 0);
    EXPECT_EQ(disc.extd, "Tin Label CAT 12");
    // On a compilation a track credited as the album is still its own.
    EXPECT_EQ(disc.tracks[0].artist, "Various Artists");
    EXPECT_EQ(disc.tracks[1].title, "Two");
    EXPECT_EQ(disc.tracks[1].artist, "");
    EXPECT_EQ(disc.tracks[2].title, "kept"); // the medium has no third track

    // Answers of another kind are refused.
    EXPECT_FALSE(qm::ParseMbRelease("<metadata><disc id=\"x\"/></metadata>", &release, &error));
    EXPECT_FALSE(qm::ParseMbRelease("not xml", &release, &error));
    qm::MbDiscAnswer answer;
    EXPECT_FALSE(qm::ParseMbDiscAnswer(xml, &answer, &error));
    EXPECT_EQ(error, "the answer names no disc");
}

TEST_F(MusicBrainz, BadAnswersFailWithAMessage) {
    CMusicBrainz client = Client();
    std::vector<qm::MbRelease> releases;
    // A disc the server does not know: no matches, no error.
    EXPECT_EQ(client.LookUp("unknownunknownunknownunkno-", &releases), CMusicBrainz::kNotFound);
    EXPECT_EQ(client.GetLastError(), "");

    // An answer for another disc.
    ServeDiscId(kGerauschId, "xp5tz6rE4OHrBafj0bLfDRMGK48-.xml");
    EXPECT_EQ(client.LookUp(kGerauschId, &releases), CMusicBrainz::kFailed);
    EXPECT_NE(client.GetLastError().find("another disc"), std::string::npos);
    EXPECT_TRUE(releases.empty());

    // Malformed XML, and XML of another kind.
    for (const char* body : {"<?xml version=\"1.0\"?><metadata><disc id=\"x\"><release-list>",
                             "<html><body>Service Unavailable</body></html>", ""}) {
        Server().SetFaults({{"/ws/2/discid/", {{"body", body}}}});
        EXPECT_EQ(client.LookUp(kGerauschId, &releases), CMusicBrainz::kFailed) << body;
        EXPECT_NE(client.GetLastError().find("cannot be read"), std::string::npos);
    }

    // A server error.
    Server().SetFaults({{"/ws/2/", {{"status", 500}}}});
    EXPECT_EQ(client.LookUp(kGerauschId, &releases), CMusicBrainz::kFailed);
    EXPECT_NE(client.GetLastError().find("500"), std::string::npos);
    qm::MbRelease release;
    EXPECT_EQ(client.GetRelease("55a5a355-042f-39d0-9ba0-0de8090c84b9", &release),
              CMusicBrainz::kFailed);

    // Ids that would leave the path are refused before any request.
    Server().ClearRequests();
    EXPECT_EQ(client.LookUp("../../etc/passwd", &releases), CMusicBrainz::kFailed);
    EXPECT_EQ(client.GetRelease("a?b", &release), CMusicBrainz::kFailed);
    EXPECT_EQ(client.LookUp("", &releases), CMusicBrainz::kFailed);
    EXPECT_TRUE(Server().Requests().empty());
}

TEST_F(MusicBrainz, ASlowDownIsWaitedForThenReported) {
    ServeDiscId(kGerauschId, std::string(kGerauschId) + ".xml");
    CMusicBrainz client = Client();
    std::vector<qm::MbRelease> releases;
    // Once: retried after the second the server asks for.
    Server().SetFaults({{"/ws/2/discid/", {{"status", 503}, {"retry_after", 1}, {"times", 1}}}});
    ASSERT_EQ(client.LookUp(kGerauschId, &releases), CMusicBrainz::kOk) << client.GetLastError();
    auto requests = Server().Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_GE(requests[1]["time"].get<double>() - requests[0]["time"].get<double>(), 0.9);

    // Always: a few tries, then a message.
    Server().ClearRequests();
    Server().SetFaults({{"/ws/2/discid/", {{"status", 503}, {"retry_after", 0}}}});
    EXPECT_EQ(client.LookUp(kGerauschId, &releases), CMusicBrainz::kFailed);
    EXPECT_NE(client.GetLastError().find("slow down"), std::string::npos);
    EXPECT_EQ(Server().Requests().size(), 1u + CMusicBrainz::kRetries);

    // A wait longer than the client will sit through ends it at once.
    Server().ClearRequests();
    Server().SetFaults({{"/ws/2/discid/", {{"status", 503}, {"retry_after", 3600}}}});
    EXPECT_EQ(client.LookUp(kGerauschId, &releases), CMusicBrainz::kFailed);
    EXPECT_EQ(Server().Requests().size(), 1u);
}

TEST_F(MusicBrainz, NoNetworkAndASilentServerEndWithinTheTimeOut) {
    std::vector<qm::MbRelease> releases;
    // Nothing listens on port 1 of the loopback.
    CMusicBrainz nobody("127.0.0.1:1");
    EXPECT_EQ(nobody.LookUp(kGerauschId, &releases), CMusicBrainz::kFailed);
    EXPECT_NE(nobody.GetLastError().find("could not be reached"), std::string::npos);

    Server().SetFaults({{"/ws/2/", {{"delay", 10}}}});
    CMusicBrainz client = Client();
    client.SetTimeout(1000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.LookUp(kGerauschId, &releases), CMusicBrainz::kFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(MusicBrainz, AtMostOneRequestASecond) {
    CMusicBrainz::SetMinimumInterval(std::chrono::milliseconds(1000));
    ServeDiscId(kGerauschId, std::string(kGerauschId) + ".xml");
    CMusicBrainz client = Client();
    std::vector<qm::MbRelease> releases;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(client.LookUp(kGerauschId, &releases), CMusicBrainz::kOk);
    }
    const auto requests = Server().Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_GE(requests[i]["time"].get<double>() - requests[i - 1]["time"].get<double>(), 0.95);
    }
}

TEST_F(MusicBrainz, TheFrontCoverIsFetchedWithinALimit) {
    const std::string mbid = "55a5a355-042f-39d0-9ba0-0de8090c84b9";
    const std::string jpeg = std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11) + "picture";
    Server().AddText("release/" + mbid + "/front", jpeg);
    const std::string base = "http://" + Server().HostPort();
    CMusicBrainz client = Client();
    std::string bytes;
    std::string mime;
    ASSERT_EQ(client.GetFrontCover(base, mbid, &bytes, &mime), CMusicBrainz::kOk)
        << client.GetLastError();
    EXPECT_EQ(bytes, jpeg);
    EXPECT_EQ(mime, "image/jpeg");

    // The archive answers with a redirect to where the picture is.
    Server().AddText("elsewhere/front.png", std::string("\x89PNG\r\n\x1A\n", 8) + "png data");
    Server().SetFaults({{"/release/", {{"redirect", "/elsewhere/front.png"}}}});
    ASSERT_EQ(client.GetFrontCover(base + "/", mbid, &bytes, &mime), CMusicBrainz::kOk);
    EXPECT_EQ(mime, "image/png");

    // A release without a cover, a 20 MB picture, a page that is no picture.
    Server().SetFaults({});
    EXPECT_EQ(client.GetFrontCover(base, "0000-none", &bytes, &mime), CMusicBrainz::kNotFound);
    Server().SetFaults({{"/release/", {{"huge", 20 << 20}}}});
    bytes = "before";
    EXPECT_EQ(client.GetFrontCover(base, mbid, &bytes, &mime), CMusicBrainz::kFailed);
    EXPECT_NE(client.GetLastError().find("larger than"), std::string::npos);
    EXPECT_EQ(bytes, "before");
    Server().SetFaults({{"/release/", {{"body", "<html>not a picture</html>"}}}});
    EXPECT_EQ(client.GetFrontCover(base, mbid, &bytes, &mime), CMusicBrainz::kFailed);
    EXPECT_EQ(bytes, "before");
}

} // namespace
