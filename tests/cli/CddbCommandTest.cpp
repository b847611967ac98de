// `cddb` against the CDDB test server on 127.0.0.1, with the settings store
// naming it. The entries are written from what libdiscid makes of the disc,
// so the query the program sends is judged by an independent reading of
// the table of contents: the server only answers a query it recognises.
#include <gtest/gtest.h>

#include <discid/discid.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <set>

#include "CliTestSupport.h"
#include "core/Text.h"
#include "support/CddbServer.h"
#include "support/DiscImage.h"
#include "support/Pcm.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using clitest::Cli;
using qmtest::ShellQuote;

class CddbCommand : public ::testing::Test {
protected:
    void SetUp() override {
        image = qmtest::WriteTestImage(dir.path(), "disc",
                                       {{false, 0, 300}, {false, 75, 450}, {false, 0, 225}}, 3);
        server = std::make_unique<qmtest::CddbServer>(dir / "db");
        std::ofstream(dir / "settings.conf")
            << "[Quavermill]\nCDDBServer=127.0.0.1\nHTTPPort=" << server->Port()
            << "\nHTTPPath=" << qmtest::CddbServer::kPath << "\nEMail=cli@example.org\n";

        // The disc as libdiscid sees it.
        DiscId* disc = discid_new();
        std::vector<int> offsets = {image.layout.leadout + 150};
        for (std::int32_t start : image.layout.starts) {
            offsets.push_back(start + 150);
        }
        ASSERT_NE(discid_put(disc, 1, static_cast<int>(image.layout.starts.size()), offsets.data()),
                  0);
        entry.discId =
            static_cast<std::uint32_t>(std::stoul(discid_get_freedb_id(disc), nullptr, 16));
        for (int track = 1; track <= discid_get_last_track_num(disc); ++track) {
            entry.offsets.push_back(
                static_cast<std::uint32_t>(discid_get_track_offset(disc, track)));
        }
        entry.seconds = static_cast<std::uint32_t>(discid_get_sectors(disc) / 75);
        discid_free(disc);
    }

    void AddEntry(const std::string& category, const std::string& dtitle,
                  const std::vector<std::string>& titles, const std::string& dyear = "") {
        qmtest::XmcdDisc disc = entry;
        disc.dtitle = dtitle;
        disc.titles = titles;
        disc.dyear = dyear;
        qmtest::AddCddbEntry(dir / "db", category, disc.discId, qmtest::XmcdEntry(disc));
    }

    qmtest::CommandResult Run(const std::string& arguments) {
        return Cli("--device " + ShellQuote(image.layout.sheet.string()) + " --settings " +
                   ShellQuote((dir / "settings.conf").string()) + " cddb " + arguments);
    }

    qmtest::TempDir dir;
    qmtest::TestImage image;
    std::unique_ptr<qmtest::CddbServer> server;
    qmtest::XmcdDisc entry;
};

TEST_F(CddbCommand, ASingleMatchIsListedAndShown) {
    AddEntry("folk", "Mara Quill / Low Tide", {"Drift", "Gull", "Ebb"}, "2019");

    const auto run = Run("--json");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const auto out = nlohmann::json::parse(run.out);
    EXPECT_EQ(out["discid"], qm::Format("%08x", entry.discId));
    ASSERT_EQ(out["matches"].size(), 1u);
    EXPECT_EQ(out["matches"][0]["artist"], "Mara Quill");
    EXPECT_EQ(out["matches"][0]["album"], "Low Tide");
    EXPECT_EQ(out["matches"][0]["genre"], "folk");
    EXPECT_EQ(out["matches"][0]["exact"], true);
    EXPECT_EQ(out["chosen"], 1);
    const auto& disc = out["disc"];
    EXPECT_EQ(disc["artist"], "Mara Quill");
    EXPECT_EQ(disc["album"], "Low Tide");
    EXPECT_EQ(disc["year"], 2019);
    ASSERT_EQ(disc["tracks"].size(), 3u);
    EXPECT_EQ(disc["tracks"][1]["title"], "Gull");
    EXPECT_EQ(disc["tracks"][1]["number"], 2);
    EXPECT_EQ(disc["tracks"][1]["length"], 6);

    // The hello carries the e-mail from the settings.
    const auto requests = server->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0]["hello"].get<std::string>().rfind("cli example.org ", 0), 0u);

    const auto text = Run("");
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("Artist: Mara Quill"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Album:  Low Tide"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("  2  00:06  Gull"), std::string::npos) << text.out;
}

TEST_F(CddbCommand, SeveralMatchesWaitForAChoice) {
    AddEntry("folk", "Mara Quill / Low Tide", {"Drift", "Gull", "Ebb"});
    AddEntry("misc", "Various / Harbour Songs", {"Ann Lee / Drift", "Bo Diaz / Gull", "Cy / Ebb"});

    auto out = nlohmann::json::parse(Run("--json").out);
    ASSERT_EQ(out["matches"].size(), 2u);
    EXPECT_TRUE(out["chosen"].is_null());
    EXPECT_FALSE(out.contains("disc"));
    EXPECT_NE(Run("").out.find("--choose N"), std::string::npos);

    const int various = out["matches"][0]["genre"] == "misc" ? 1 : 2;
    const auto chosen = Run("--json --mixed --choose " + std::to_string(various));
    ASSERT_EQ(chosen.exitCode, 0);
    out = nlohmann::json::parse(chosen.out);
    EXPECT_EQ(out["chosen"], various);
    EXPECT_EQ(out["disc"]["album"], "Harbour Songs");
    EXPECT_EQ(out["disc"]["tracks"][1]["artist"], "Bo Diaz");
    EXPECT_EQ(out["disc"]["tracks"][1]["title"], "Gull");

    EXPECT_EQ(Run("--choose 3").exitCode, 2);
    EXPECT_EQ(Run("--choose 0").exitCode, 2);
}

TEST_F(CddbCommand, FailedLookUpsExitWithOne) {
    const auto none = Run("--json");
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(nlohmann::json::parse(none.out)["status"], 8);

    AddEntry("folk", "Mara Quill / Low Tide", {"Drift", "Gull", "Ebb"});
    server->SetFaults({{"query", "500"}});
    const auto refused =
        Cli("--device " + ShellQuote(image.layout.sheet.string()) + " --settings " +
                ShellQuote((dir / "settings.conf").string()) + " cddb",
            true);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.out.find("the CDDB query failed"), std::string::npos) << refused.out;
    EXPECT_NE(refused.out.find("500"), std::string::npos) << refused.out;

    server->SetFaults({{"read", "403"}});
    EXPECT_EQ(Run("").exitCode, 1);
}

// --save keeps the chosen match in the local cache of the data folder,
// where a later refresh finds it without a look-up.
TEST_F(CddbCommand, SaveKeepsTheChosenMatchInTheLocalCache) {
    AddEntry("folk", "Mara Quill / Low Tide", {"Drift", "Gull", "Ebb"}, "2019");
    AddEntry("misc", "Various / Harbour Songs", {"Ann Lee / Drift", "Bo Diaz / Gull", "Cy / Ebb"});
    const std::string data = " --data-dir " + ShellQuote((dir / "data").string());
    const auto unchosen = Run("--save" + data);
    EXPECT_EQ(unchosen.exitCode, 2);
    EXPECT_FALSE(fs::exists(dir / "data" / "Local CDDB"));

    const auto listed = nlohmann::json::parse(Run("--json").out);
    const int various = listed["matches"][0]["genre"] == "misc" ? 1 : 2;
    const auto saved = Run("--mixed --save --choose " + std::to_string(various) + data);
    ASSERT_EQ(saved.exitCode, 0) << saved.out;
    const fs::path entryFile = dir / "data" / "Local CDDB" / qm::Format("%X", entry.discId);
    EXPECT_NE(saved.out.find(entryFile.string()), std::string::npos) << saved.out;
    const std::string text = qmtest::ReadText(entryFile);
    EXPECT_NE(text.find("DARTIST=Various\r\nDTITLE=Harbour Songs\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("TTITLE1=Bo Diaz / Gull \r\n"), std::string::npos) << text;
}

// grab --cddb names the files from the look-up and, as "AutoSaveLocalCDDB"
// says by default, keeps the names in the local cache.
TEST_F(CddbCommand, GrabLooksTheDiscUpFirst) {
    AddEntry("folk", "Mara Quill / Low Tide", {"Drift", "Gull", "Ebb"}, "2019");
    const auto run = Cli("--device " + ShellQuote(image.layout.sheet.string()) + " --settings " +
                             ShellQuote((dir / "settings.conf").string()) + " --data-dir " +
                             ShellQuote((dir / "data").string()) +
                             " grab --cddb --format wav --tracks 2 --output " +
                             ShellQuote((dir / "out").string()) + " --mask " +
                             ShellQuote("{ARTIST}/{YEAR} {TITLE}") + " < /dev/null",
                         true);
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(fs::exists(dir / "out" / "Mara Quill" / "2019 Gull.wav")) << run.out;
    EXPECT_TRUE(fs::exists(dir / "data" / "Local CDDB" / qm::Format("%X", entry.discId)));
}

// A hostile entry: names that climb out of the folder, control characters,
// a 5,000-character title and bytes that are not UTF-8. The grab still
// writes only inside the output folder, and the cache entry it keeps stays
// one "name=value" line per value.
TEST_F(CddbCommand, AHostileEntryWritesNothingOutsideTheOutputFolder) {
    AddEntry("misc", "../../.. / ../../escaped",
             {"../../../../outside", std::string("ctl\x01\x1b[2Jx/..\\y"),
              std::string(5000, 'L') + "\xff\xfe\xc3"},
             "1999");
    const auto before = qmtest::FilesUnder(dir.path());
    const auto run =
        Cli("--device " + ShellQuote(image.layout.sheet.string()) + " --settings " +
                ShellQuote((dir / "settings.conf").string()) + " --data-dir " +
                ShellQuote((dir / "data").string()) + " grab --cddb --format wav --output " +
                ShellQuote((dir / "out").string()) + " --mask " +
                ShellQuote("{ARTIST}/{ALBUM}/{TITLE}") + " < /dev/null",
            true);
    ASSERT_EQ(run.exitCode, 0) << run.out;

    int grabbed = 0;
    for (const auto& file : qmtest::FilesUnder(dir.path())) {
        if (std::find(before.begin(), before.end(), file) != before.end()) {
            continue;
        }
        const std::string relative = fs::relative(file, dir.path()).string();
        const bool inOut = relative.rfind("out/", 0) == 0;
        const bool inData = relative.rfind("data/", 0) == 0;
        const bool serverLog = relative.rfind("db/", 0) == 0; // the test server's log
        EXPECT_TRUE(inOut || inData || serverLog) << "written outside: " << relative;
        if (inOut && file.extension() == ".wav") {
            ++grabbed;
            for (const auto& part : fs::relative(file, dir / "out")) {
                EXPECT_NE(part.string(), "..") << relative;
                EXPECT_LE(part.string().size(), 255u) << relative;
            }
        }
    }
    EXPECT_EQ(grabbed, 3) << run.out;

    const std::string text =
        qmtest::ReadText(dir / "data" / "Local CDDB" / qm::Format("%X", entry.discId));
    // A long value continues on more lines of its key: three keys, however
    // many lines.
    std::set<std::string> titles;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "an unterminated line in the cache entry";
        const std::string line = text.substr(at, end - at);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
        EXPECT_TRUE(line.empty() || line[0] == '#' || line.find('=') != std::string::npos)
            << line.substr(0, 80);
        EXPECT_LE(line.size(), 256u);
        if (line.rfind("TTITLE", 0) == 0) {
            titles.insert(line.substr(0, line.find('=')));
        }
        at = end + 2;
    }
    EXPECT_EQ(titles.size(), 3u);
}

TEST_F(CddbCommand, ServersArePrinted) {
    std::ofstream(dir / "db" / "sites")
        << "gnudb.gnudb.org http 80 /~cddb/cddb.cgi N000.00 W000.00 Random server\n"
           "gnudb.gnudb.org cddbp 8880 - N000.00 W000.00 Random server, CDDBP\n";
    const auto run = Cli("--settings " + ShellQuote((dir / "settings.conf").string()) +
                         " cddb --servers --json");
    ASSERT_EQ(run.exitCode, 0);
    const auto out = nlohmann::json::parse(run.out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0]["server"], "gnudb.gnudb.org");
    EXPECT_EQ(out[0]["cgi"], "/~cddb/cddb.cgi");
    EXPECT_EQ(out[0]["http"], true);
    EXPECT_EQ(out[1]["port"], 8880);
    EXPECT_EQ(out[1]["http"], false);

    server->SetFaults({{"sites", "401"}});
    const auto failed =
        Cli("--settings " + ShellQuote((dir / "settings.conf").string()) + " cddb --servers", true);
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.out.find("Failed to get list"), std::string::npos) << failed.out;
}

} // namespace
