// What the CDDB tests share: a small disc image opened as a drive, the CDDB
// test server on 127.0.0.1 over a database folder that each test fills, and
// the settings that point the look-up at it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "core/CDDBSettings.h"
#include "core/Text.h"
#include "disc/CDRipper.h"
#include "disc/CddbAccess.h"
#include "support/CddbServer.h"
#include "support/DiscImage.h"
#include "support/TempDir.h"

namespace cddbtest {

class CddbTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new qmtest::TempDir;
        // Four audio tracks with a pregap: four offsets and a length to send.
        s_image = new qmtest::TestImage(qmtest::WriteTestImage(
            s_dir->path(), "disc",
            {{false, 0, 150}, {false, 30, 225}, {false, 0, 90}, {false, 0, 120}}, 7));
        s_server = new qmtest::CddbServer(s_dir->path() / "db");
    }
    static void TearDownTestSuite() {
        delete s_server;
        delete s_image;
        delete s_dir;
    }

    void SetUp() override {
        // Every test fills the database itself.
        for (const auto& entry : std::filesystem::directory_iterator(Db())) {
            if (entry.is_directory()) {
                std::filesystem::remove_all(entry.path());
            }
        }
        std::filesystem::remove(Db() / "sites");
        s_server->SetFaults({});
        s_server->ClearRequests();
        qm::CDDBSetOption(qm::kCddbOptTimeout, nullptr, 10000);
        m_drive = std::make_unique<qmtest::ScopedDrive>(s_image->layout.sheet);
        ASSERT_TRUE(ripper.Attach(m_drive->Index(), 0));
        settings.CDDBServer = qmtest::CddbServer::kHost;
        settings.HTTPPort = s_server->Port();
        settings.HTTPPath = qmtest::CddbServer::kPath;
        settings.EMail = "tester@example.org";
    }

    static const std::filesystem::path Db() { return s_dir->path() / "db"; }
    static qmtest::CddbServer& Server() { return *s_server; }

    // The disc in the drive as its entry describes it.
    qmtest::XmcdDisc Disc() {
        std::uint32_t ids[103] = {};
        EXPECT_EQ(qm::GetCDDBDiskID(ripper.GetHandle(), ids, 103), qm::kCdOk);
        qmtest::XmcdDisc disc;
        disc.discId = ids[0];
        disc.offsets.assign(ids + 2, ids + 2 + ids[1]);
        disc.seconds = ids[ids[1] + 2];
        return disc;
    }

    // Stores an entry for the disc in the drive under `category`, with
    // `id` in place of the disc's own id when it is not 0.
    void AddEntry(const std::string& category, const std::string& dtitle,
                  const std::vector<std::string>& titles, const std::string& extd = "",
                  std::uint32_t id = 0) {
        qmtest::XmcdDisc disc = Disc();
        disc.discId = id != 0 ? id : disc.discId;
        disc.dtitle = dtitle;
        disc.titles = titles;
        disc.extd = extd;
        qmtest::AddCddbEntry(Db(), category, disc.discId, qmtest::XmcdEntry(disc));
    }

    std::size_t RequestCount() { return s_server->Requests().size(); }

    CCDRipper ripper;
    CDDBSettings settings;

private:
    static inline qmtest::TempDir* s_dir = nullptr;
    static inline qmtest::TestImage* s_image = nullptr;
    static inline qmtest::CddbServer* s_server = nullptr;
    std::unique_ptr<qmtest::ScopedDrive> m_drive;
};

} // namespace cddbtest
