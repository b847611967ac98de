#include "disc/MusicBrainzDiscId.h"

#include <discid/discid.h>

#include <memory>

namespace qm {

namespace {

struct DiscIdFree {
    void operator()(DiscId* disc) const { discid_free(disc); }
};

constexpr std::int32_t kSessionGap = 11400;

} // namespace

std::string MusicBrainzDiscId(int first, int last, std::int32_t leadout,
                              const std::vector<std::int32_t>& offsets) {
    if (first < 1 || last < first || last > 99 ||
        offsets.size() != static_cast<std::size_t>(last - first + 1)) {
        return {};
    }
    // libdiscid's table: [0] the lead-out, [n] the start of track n.
    int table[100] = {};
    table[0] = leadout;
    for (int track = first; track <= last; ++track) {
        table[track] = offsets[static_cast<std::size_t>(track - first)];
    }
    std::unique_ptr<DiscId, DiscIdFree> disc(discid_new());
    if (!disc || discid_put(disc.get(), first, last, table) == 0) {
        return {};
    }
    return discid_get_id(disc.get());
}

std::string MusicBrainzDiscId(const DiscToc& toc) {
    std::vector<std::int32_t> offsets;
    int last = toc.firstTrack - 1;
    std::int32_t leadout = toc.leadout + 150;
    for (const DiscTocTrack& track : toc.tracks) {
        if (track.data) {
            leadout = track.start - kSessionGap + 150;
            break;
        }
        offsets.push_back(track.start + 150);
        last = track.number;
    }
    return MusicBrainzDiscId(toc.firstTrack, last, leadout, offsets);
}

std::string MusicBrainzDiscId(CdHandle* handle) {
    const std::shared_ptr<CdDrive> drive = HandleDrive(handle);
    DiscToc toc;
    if (!drive || !drive->ReadToc(toc)) {
        return {};
    }
    return MusicBrainzDiscId(toc);
}

bool ReadDiscCodes(const std::string& device, std::string* mcn, std::vector<std::string>* isrcs) {
    if (!discid_has_feature(DISCID_FEATURE_MCN) && !discid_has_feature(DISCID_FEATURE_ISRC)) {
        return false;
    }
    std::unique_ptr<DiscId, DiscIdFree> disc(discid_new());
    if (!disc ||
        discid_read_sparse(disc.get(), device.c_str(),
                           DISCID_FEATURE_READ | DISCID_FEATURE_MCN | DISCID_FEATURE_ISRC) == 0) {
        return false;
    }
    *mcn = discid_get_mcn(disc.get());
    isrcs->clear();
    for (int track = discid_get_first_track_num(disc.get());
         track <= discid_get_last_track_num(disc.get()); ++track) {
        isrcs->push_back(discid_get_track_isrc(disc.get(), track));
    }
    return true;
}

} // namespace qm
