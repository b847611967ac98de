// `musicbrainz` and `grab --musicbrainz` against a loopback ws/2 server and
// cover art archive, with the settings store naming them. The disc id the
// answers are filed under comes from libdiscid's own reading of the table.
#include <gtest/gtest.h>

#include <discid/discid.h>
#include <nlohmann/json.hpp>

#include <fstream>

#include "CliTestSupport.h"
#include "support/CddbServer.h"
#include "support/DiscImage.h"
#include "support/LoopbackServer.h"
#include "support/Pcm.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using clitest::Cli;
using qmtest::ShellQuote;

const std::string kRelease = "0b0c0d0e-1111-2222-3333-444455556666";
const std::string kOther = "9f9f9f9f-1111-2222-3333-444455556666";

class MusicBrainzCommand : public ::testing::Test {
protected:
    void SetUp() override {
        image = qmtest::WriteTestImage(dir.path(), "disc",
                                       {{false, 0, 300}, {false, 75, 450}, {false, 0, 225}}, 4);
        server = std::make_unique<qmtest::WebServer>(dir / "web");
        DiscId* disc = discid_new();
        std::vector<int> offsets = {image.layout.leadout + 150};
        for (std::int32_t start : image.layout.starts) {
            offsets.push_back(start + 150);
        }
        ASSERT_NE(discid_put(disc, 1, static_cast<int>(image.layout.starts.size()), offsets.data()),
                  0);
        discId = discid_get_id(disc);
        cddb.discId =
            static_cast<std::uint32_t>(std::stoul(discid_get_freedb_id(disc), nullptr, 16));
        for (int track = 1; track <= discid_get_last_track_num(disc); ++track) {
            cddb.offsets.push_back(
                static_cast<std::uint32_t>(discid_get_track_offset(disc, track)));
        }
        cddb.seconds = static_cast<std::uint32_t>(discid_get_sectors(disc) / 75);
        discid_free(disc);
        WriteSettings("");
    }

    void WriteSettings(const std::string& more) {
        std::ofstream(dir / "settings.conf")
            << "[Quavermill]\nMusicBrainzServer=" << server->HostPort()
            << "\nCoverArtServer=http://" << server->HostPort() << "\n"
            << more;
    }

    static std::string Release(const std::string& id, const std::string& title,
                               const std::string& disc, bool tracks) {
        std::string xml = "<release id=\"" + id + "\"><title>" + title +
                          "</title><artist-credit><name-credit><artist id=\"a\"><name>Mara "
                          "Quill</name></artist></name-credit></artist-credit><date>2019-03-01"
                          "</date><country>NZ</country><medium-list count=\"1\"><medium>"
                          "<position>1</position><disc-list count=\"1\"><disc id=\"" +
                          disc + "\"/></disc-list><track-list count=\"3\"";
        if (!tracks) {
            return xml + "/></medium></medium-list></release>";
        }
        xml += ">";
        const char* titles[] = {"Drift", "Gull", "Ebb"};
        for (int i = 0; i < 3; ++i) {
            xml += "<track><position>" + std::to_string(i + 1) + "</position><number>" +
                   std::to_string(i + 1) + "</number><recording id=\"r\"><title>" + titles[i] +
                   "</title></recording></track>";
        }
        return xml + "</track-list></medium></medium-list></release>";
    }

    static std::string Metadata(const std::string& inner) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><metadata "
               "xmlns=\"http://musicbrainz.org/ns/mmd-2.0#\">" +
               inner + "</metadata>";
    }

    void Serve(bool two) {
        std::string list = Release(kRelease, "Low Tide", discId, false);
        if (two) {
            list += Release(kOther, "Low Tide (Deluxe)", discId, false);
        }
        server->AddText("ws/2/discid/" + discId + ".xml",
                        Metadata("<disc id=\"" + discId + "\"><release-list count=\"" +
                                 (two ? "2" : "1") + "\">" + list + "</release-list></disc>"));
        server->AddText("ws/2/release/" + kRelease + ".xml",
                        Metadata(Release(kRelease, "Low Tide", discId, true)));
        server->AddText("release/" + kRelease + "/front", Cover());
    }

    static std::string Cover() { return std::string("\xFF\xD8\xFF\xE0", 4) + "a cover"; }

    qmtest::CommandResult Run(const std::string& command, const std::string& arguments) {
        return Cli("--device " + ShellQuote(image.layout.sheet.string()) + " --settings " +
                   ShellQuote((dir / "settings.conf").string()) + " --data-dir " +
                   ShellQuote((dir / "data").string()) + " " + command + " " + arguments);
    }

    qmtest::TempDir dir;
    qmtest::TestImage image;
    std::unique_ptr<qmtest::WebServer> server;
    std::string discId;
    qmtest::XmcdDisc cddb;
};

TEST_F(MusicBrainzCommand, TheOnlyReleaseIsShownAndSaved) {
    Serve(false);
    const auto run = Run("musicbrainz", "--json --save");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const auto out = nlohmann::json::parse(run.out);
    EXPECT_EQ(out["discid"], discId);
    ASSERT_EQ(out["matches"].size(), 1u);
    EXPECT_EQ(out["matches"][0]["source"], "MusicBrainz");
    EXPECT_EQ(out["matches"][0]["id"], kRelease);
    EXPECT_EQ(out["matches"][0]["title"], "Low Tide");
    EXPECT_EQ(out["matches"][0]["artist"], "Mara Quill");
    EXPECT_EQ(out["matches"][0]["date"], "2019-03-01");
    EXPECT_EQ(out["matches"][0]["country"], "NZ");
    EXPECT_EQ(out["matches"][0]["tracks"], 3);
    const auto& disc = out["disc"];
    EXPECT_EQ(disc["artist"], "Mara Quill");
    EXPECT_EQ(disc["album"], "Low Tide");
    EXPECT_EQ(disc["year"], 2019);
    ASSERT_EQ(disc["tracks"].size(), 3u);
    EXPECT_EQ(disc["tracks"][1]["title"], "Gull");

    // Kept in the local cache as a CDDB entry is.
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir / "data" / "Local CDDB")) {
        files.push_back(entry.path());
    }
    ASSERT_EQ(files.size(), 1u);
    const std::string text = qmtest::ReadText(files[0]);
    EXPECT_NE(text.find("DTITLE=Low Tide\r\n"), std::string::npos);
    EXPECT_NE(text.find("TTITLE2=Ebb\r\n"), std::string::npos);

    // The service was asked as it asks to be.
    const auto requests = server->Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0]["path"], "/ws/2/discid/" + discId);
    EXPECT_EQ(requests[1]["path"], "/ws/2/release/" + kRelease);
}

TEST_F(MusicBrainzCommand, SeveralReleasesAreListedUntilOneIsChosen) {
    Serve(true);
    auto run = Run("musicbrainz", "");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("Low Tide (Deluxe)"), std::string::npos);
    EXPECT_NE(run.out.find("--choose"), std::string::npos);
    EXPECT_EQ(server->Requests().size(), 1u); // no details before a choice

    run = Run("musicbrainz", "--json --choose 1");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const auto out = nlohmann::json::parse(run.out);
    EXPECT_EQ(out["chosen"], 1);
    EXPECT_EQ(out["disc"]["tracks"][0]["title"], "Drift");
    EXPECT_EQ(Run("musicbrainz", "--choose 3").exitCode, 2);
}

TEST_F(MusicBrainzCommand, AnUnknownDiscOrNoServiceFails) {
    auto run = Run("musicbrainz", "--json");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(nlohmann::json::parse(run.out)["matches"].empty());
    WriteSettings("");
    std::ofstream(dir / "settings.conf") << "[Quavermill]\nMusicBrainzServer=127.0.0.1:1\n";
    run = Run("musicbrainz", "");
    EXPECT_EQ(run.exitCode, 1);
}

TEST_F(MusicBrainzCommand, BothSourcesAnswerInOneList) {
    Serve(false);
    qmtest::CddbServer cddbServer(dir / "db");
    cddb.dtitle = "Mara Quill / Low Tide (CDDB)";
    cddb.titles = {"One", "Two", "Three"};
    qmtest::AddCddbEntry(dir / "db", "folk", cddb.discId, qmtest::XmcdEntry(cddb));
    WriteSettings("MetadataSources=Both\nCDDBServer=127.0.0.1\nHTTPPort=" +
                  std::to_string(cddbServer.Port()) + "\nHTTPPath=" + qmtest::CddbServer::kPath +
                  "\n");
    auto run = Run("cddb", "--json");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    auto out = nlohmann::json::parse(run.out);
    ASSERT_EQ(out["matches"].size(), 2u);
    EXPECT_EQ(out["matches"][0]["source"], "CDDB");
    EXPECT_EQ(out["matches"][0]["category"], "folk");
    EXPECT_EQ(out["matches"][0]["title"], "Low Tide (CDDB)");
    EXPECT_EQ(out["matches"][1]["source"], "MusicBrainz");
    EXPECT_EQ(out["matches"][1]["id"], kRelease);
    EXPECT_FALSE(out.contains("disc"));

    // The MusicBrainz row chosen names the disc and goes into the cache.
    run = Run("cddb", "--json --choose 2 --save");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    out = nlohmann::json::parse(run.out);
    EXPECT_EQ(out["disc"]["album"], "Low Tide");
    EXPECT_EQ(out["disc"]["tracks"][2]["title"], "Ebb");
    run = Run("cddb", "--json --choose 1");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(nlohmann::json::parse(run.out)["disc"]["tracks"][2]["title"], "Three");

    // MusicBrainz alone.
    WriteSettings("MetadataSources=MusicBrainz\n");
    run = Run("cddb", "--json");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    out = nlohmann::json::parse(run.out);
    ASSERT_EQ(out["matches"].size(), 1u);
    EXPECT_EQ(out["disc"]["album"], "Low Tide");
}

TEST_F(MusicBrainzCommand, AGrabEmbedsAndSavesTheCover) {
    Serve(false);
    WriteSettings("EmbedCoverArt=True\nSaveCoverArt=cover.jpg\n");
    const fs::path out = dir / "out";
    const auto run = Run("grab", "--musicbrainz --tracks 1 --format flac --output " +
                                     ShellQuote(out.string()) + " --mask '{TITLE}'");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    ASSERT_TRUE(fs::exists(out / "Drift.flac"));
    EXPECT_EQ(qmtest::ReadText(out / "cover.jpg"), Cover());
    const auto probe = qmtest::Run(std::string(qmtest::SystemPython()) +
                                   " -c 'import sys; from mutagen.flac import FLAC; "
                                   "p = FLAC(sys.argv[1]).pictures; "
                                   "print(len(p), p[0].type, p[0].mime, p[0].data.hex())' " +
                                   ShellQuote((out / "Drift.flac").string()));
    std::string hex;
    for (unsigned char c : Cover()) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    EXPECT_EQ(probe.out, "1 3 image/jpeg " + hex + "\n");
}

} // namespace
