// A MusicBrainz web service answer, read as a disc-id answer and as a
// release, then used as the look-up uses it: the matches for a disc, the
// medium that holds it, and the disc named from it.
#include <string>

#include "FuzzSupport.h"
#include "disc/MusicBrainzRelease.h"

namespace {

void Use(const std::vector<qm::MbRelease>& releases) {
    constexpr std::string_view kDiscId = "xp5tz6rE4OHrBafj0bLfDRMGK48-";
    for (const std::int32_t tracks : {1, 12, 99}) {
        for (const qm::MbMatch& match : qm::MbMatches(releases, kDiscId, tracks)) {
            DiscInfo disc;
            disc.tracks.resize(static_cast<std::size_t>(tracks));
            qm::ApplyMbRelease(match.release, match.medium, &disc);
        }
    }
    for (const qm::MbRelease& release : releases) {
        (void)qm::FindMbMedium(release, kDiscId, 12);
        // Any medium, or none: one the release does not have names no track.
        for (int medium = -1; medium <= static_cast<int>(release.media.size()); ++medium) {
            DiscInfo disc;
            disc.tracks.resize(12);
            qm::ApplyMbRelease(release, medium, &disc);
        }
        (void)qm::IsVariousArtists(release);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view xml = qmfuzz::AsText(data, size);
    std::string error;
    qm::MbDiscAnswer answer;
    if (qm::ParseMbDiscAnswer(xml, &answer, &error)) {
        Use(answer.releases);
    }
    qm::MbRelease release;
    if (qm::ParseMbRelease(xml, &release, &error)) {
        Use({release});
    }
    return 0;
}
