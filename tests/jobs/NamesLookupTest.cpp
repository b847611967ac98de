// The shared flows of the front ends on a disc image and the loopback CDDB
// server: the names look-up (query, choose, extract, then the track list,
// the local cache and the mixed-CD mode) with a scripted front end, and
// the choice of the drive.
#include <gtest/gtest.h>

#include "JobFixture.h"
#include "disc/CdAccess.h"
#include "disc/CddbAccess.h"
#include "jobs/DriveChoice.h"
#include "jobs/NamesLookup.h"
#include "support/CddbServer.h"

namespace jobtest {
namespace {

// A front end that runs every request at once and chooses as told.
class ScriptedLookupView : public CNamesLookupView {
public:
    bool RunRequest(const std::string& text, const std::function<void()>& work) override {
        requests.push_back(text);
        work();
        return !giveUp;
    }
    std::int32_t Choose(CQueryCDDBInfo& matches) override {
        matches.Init();
        shownRows = matches.GetRows().size();
        for (std::size_t row = 0; row < matches.GetRows().size() && !album.empty(); ++row) {
            if (matches.GetRows()[row].album == album) {
                return static_cast<std::int32_t>(row);
            }
        }
        return choice;
    }
    void ShowFailure(LookupFailure failure, const std::string& reason) override {
        failures.emplace_back(failure, reason);
    }

    std::int32_t choice = 0; // unless `album` names a match
    std::string album;
    bool giveUp = false;
    std::size_t shownRows = 0;
    std::vector<std::string> requests;
    std::vector<std::pair<LookupFailure, std::string>> failures;
};

class NamesLookup : public JobFixture {
protected:
    void SetUp() override {
        JobFixture::SetUp();
        fs::create_directories(dir / "db");
        server = std::make_unique<qmtest::CddbServer>(dir / "db");
        qm::CDDBSetOption(qm::kCddbOptTimeout, nullptr, 10000);
        CDDBSettings& cddb = data.Settings().cddb;
        cddb.CDDBServer = qmtest::CddbServer::kHost;
        cddb.HTTPPort = server->Port();
        cddb.HTTPPath = qmtest::CddbServer::kPath;
        cddb.EMail = "tester@example.org";
        cddb.UseProxy = false;
        cddb.GetProxyFromExplorer = false;
        InsertDisc({{false, 0, kSecond}, {false, 0, kSecond}});
    }

    void AddEntry(const std::string& category, const std::string& dtitle,
                  const std::vector<std::string>& titles) {
        std::uint32_t ids[103] = {};
        qm::GetCDDBDiskID(data.Ripper().GetHandle(), ids, 103);
        qmtest::XmcdDisc disc;
        disc.discId = ids[0];
        disc.offsets.assign(ids + 2, ids + 2 + ids[1]);
        disc.seconds = ids[ids[1] + 2];
        disc.dtitle = dtitle;
        disc.titles = titles;
        qmtest::AddCddbEntry(dir / "db", category, disc.discId, qmtest::XmcdEntry(disc));
    }

    std::unique_ptr<qmtest::CddbServer> server;
    ScriptedLookupView lookupView;
};

// Two matches: the one chosen names the tracks, the cache keeps it, and
// track artists that differ switch the list to mixed-CD mode.
TEST_F(NamesLookup, TheChosenMatchNamesTheDiscAndTheCacheKeepsIt) {
    AddEntry("rock", "Nina Vale / Quiet Rooms", {"Door", "Window"});
    AddEntry("jazz", "Various / Night Songs", {"Ann Lee / Blue", "Bo Kim / Green"});
    data.Settings().naming.AutoDetectMixedCD = true;
    data.Settings().naming.ParseMixedCD = true;
    list.EnableMixedCDMode(true);
    lookupView.album = "Night Songs";
    ASSERT_TRUE(CNamesLookup::Run(data, list, lookupView));
    EXPECT_EQ(lookupView.shownRows, 2u);
    EXPECT_EQ(lookupView.requests,
              (std::vector<std::string>{"Asking the CDDB server...", "Reading the CDDB entry..."}));
    EXPECT_TRUE(lookupView.failures.empty());
    EXPECT_EQ(data.Tracks()[0].tag.GetTag("Title"), "Blue");
    EXPECT_EQ(data.Tracks()[1].tag.GetTag("Artist"), "Bo Kim");
    EXPECT_EQ(data.GetDiscTexts().album, "Night Songs");
    EXPECT_TRUE(list.IsMixedCDMode());
    EXPECT_TRUE(fs::exists(data.LocalCDDBFolder() / LocalCDDBFileName(data.GetCDDBID())));

    // One artist again: the mode follows back.
    lookupView.album = "Quiet Rooms";
    list.EnableMixedCDMode(false);
    ASSERT_TRUE(CNamesLookup::Run(data, list, lookupView));
    EXPECT_EQ(data.Tracks()[0].tag.GetTag("Title"), "Door");
    EXPECT_FALSE(list.IsMixedCDMode());
}

TEST_F(NamesLookup, FailuresAreToldAndNameNothing) {
    data.Settings().cddb.AutoSaveLocalCDDB = true;
    const std::string before = data.Tracks()[0].tag.GetTag("Title");
    EXPECT_FALSE(CNamesLookup::Run(data, list, lookupView));
    ASSERT_EQ(lookupView.failures.size(), 1u);
    EXPECT_EQ(lookupView.failures[0].first, LookupFailure::kNoMatch);

    AddEntry("rock", "Nina Vale / Quiet Rooms", {"Door", "Window"});
    server->SetFaults({{"query", "500"}});
    EXPECT_FALSE(CNamesLookup::Run(data, list, lookupView));
    ASSERT_EQ(lookupView.failures.size(), 2u);
    EXPECT_EQ(lookupView.failures[1].first, LookupFailure::kQueryFailed);
    EXPECT_FALSE(lookupView.failures[1].second.empty());

    server->SetFaults({{"read", "500"}});
    EXPECT_FALSE(CNamesLookup::Run(data, list, lookupView));
    ASSERT_EQ(lookupView.failures.size(), 3u);
    EXPECT_EQ(lookupView.failures[2].first, LookupFailure::kEntryFailed);

    // No choice, or a wait given up: nothing is said.
    server->SetFaults({});
    lookupView.choice = -1;
    EXPECT_FALSE(CNamesLookup::Run(data, list, lookupView));
    lookupView.choice = 0;
    lookupView.giveUp = true;
    EXPECT_FALSE(CNamesLookup::Run(data, list, lookupView));
    EXPECT_EQ(lookupView.failures.size(), 3u);
    EXPECT_EQ(data.Tracks()[0].tag.GetTag("Title"), before);
    EXPECT_FALSE(fs::exists(data.LocalCDDBFolder() / LocalCDDBFileName(data.GetCDDBID())));
}

TEST_F(NamesLookup, TheDriveIsTheNamedOneOrTheSettingsChoice) {
    QuavermillSettings settings;
    const std::int32_t ours = drive->Index();
    EXPECT_EQ(ChooseDrive(data.Ripper(), settings, ours), ours);
    settings.drive.AutoDetectCD = false;
    settings.drive.CDDrive = 250;
    EXPECT_EQ(ChooseDrive(data.Ripper(), settings), 0);
    settings.drive.CDDrive = ours;
    EXPECT_EQ(ChooseDrive(data.Ripper(), settings), ours);
    settings.drive.ReadMethod[static_cast<std::size_t>(ours)] = 0;
    ASSERT_TRUE(AttachChosenDrive(data.Ripper(), settings, ours));
    EXPECT_EQ(data.Ripper().GetDriveIndex(), ours);
    EXPECT_EQ(settings.drive.CDDrive, ours);
}

} // namespace
} // namespace jobtest
