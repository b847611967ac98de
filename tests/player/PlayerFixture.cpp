#include "PlayerFixture.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace playertest {

std::vector<int> OutputSectors(const qmtest::Bytes& output, const qmtest::Bytes& track) {
    std::unordered_map<std::string_view, int> sectors;
    const auto* trackBytes = reinterpret_cast<const char*>(track.data());
    for (std::size_t at = 0; at + kPeriod <= track.size(); at += kPeriod) {
        sectors.emplace(std::string_view(trackBytes + at, kPeriod), static_cast<int>(at / kPeriod));
    }
    std::vector<int> periods;
    const auto* outBytes = reinterpret_cast<const char*>(output.data());
    for (std::size_t at = 0; at + kPeriod <= output.size(); at += kPeriod) {
        const std::string_view period(outBytes + at, kPeriod);
        if (std::all_of(period.begin(), period.end(), [](char c) { return c == 0; })) {
            periods.push_back(kSilence);
        } else if (const auto found = sectors.find(period); found != sectors.end()) {
            periods.push_back(found->second);
        } else {
            periods.push_back(kUnknown);
        }
    }
    if (output.size() % kPeriod != 0) {
        periods.push_back(kUnknown);
    }
    return periods;
}

std::vector<int> Audible(const std::vector<int>& periods) {
    std::vector<int> audible;
    std::copy_if(periods.begin(), periods.end(), std::back_inserter(audible),
                 [](int period) { return period != kSilence; });
    return audible;
}

std::vector<int> SectorRun(int first, int end) {
    std::vector<int> run;
    for (int sector = first; sector < end; ++sector) {
        run.push_back(sector);
    }
    return run;
}

PlayerFixture::PlayerFixture() {
    data = std::make_unique<CData>();
    view = std::make_unique<jobtest::TestView>();
    list = std::make_unique<CTrackList>(*data, *view);
    view->list = list.get();
    data->SetPlayList(list.get());
    data->SetDataFolder(dir / "data");
}

PlayerFixture::~PlayerFixture() {
    data->StopPlay(false);
    data->SetPlayList(nullptr);
    list.reset();
    data.reset();
}

void PlayerFixture::InsertDisc(const std::vector<int>& seconds) {
    std::vector<qmtest::ImageTrack> tracks;
    for (const int length : seconds) {
        qmtest::ImageTrack track;
        track.sectors = length * kSecond;
        tracks.push_back(track);
    }
    image = qmtest::WriteTestImage(dir.path(), "disc", tracks, 7);
    drive = std::make_unique<qmtest::ScopedDrive>(image.layout.sheet);
    ASSERT_TRUE(data->Ripper().Attach(drive->Index(), 0));
    ASSERT_TRUE(list->Refresh());
}

qmtest::Bytes PlayerFixture::TrackPcm(int track) const {
    return image.Sectors(image.Start(track), image.End(track));
}

bool PlayerFixture::WaitForEnd(std::chrono::seconds limit) {
    const auto until = Clock::now() + limit;
    while (!data->IsPlayEnded()) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

qmtest::Bytes PlayerFixture::Output() const {
    if (!fs::exists(deviceFile)) {
        return {};
    }
    return qmtest::ReadFile(deviceFile);
}

} // namespace playertest
