// A cdrdao TOC file as a disc image brings it: read as ReadTocFile reads the
// file's bytes, then laid out over files of a few lengths as SheetDrive does,
// and the disc's ids taken from the table of contents it gives.
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "disc/AccurateRip.h"
#include "disc/Ctdb.h"
#include "disc/SheetDrive.h"
#include "disc/TocFile.h"

namespace {

// What SheetDrive::ReadAudio and the grab rely on: the segments run from
// sector 0 to the lead-out, each raw one starts inside its file, and the
// tracks start in order before the lead-out.
void CheckLayout(const qm::SheetLayout& layout, const std::vector<std::int64_t>& bytes) {
    std::int64_t total = 0;
    for (const qm::DiscSegment& segment : layout.segments) {
        if (segment.sectors < 0 || segment.from < 0 || segment.skew < 0 ||
            segment.skew >= qm::kSectorBytes) {
            std::abort();
        }
        if (segment.file >= 0 && (static_cast<std::size_t>(segment.file) >= bytes.size() ||
                                  segment.from * qm::kSectorBytes + segment.skew >
                                      bytes[static_cast<std::size_t>(segment.file)])) {
            std::abort();
        }
        total += segment.sectors;
    }
    if (total != layout.toc.leadout) {
        std::abort();
    }
    std::int32_t previous = -1;
    for (const qm::DiscTocTrack& track : layout.toc.tracks) {
        if (track.start <= previous || track.start >= layout.toc.leadout) {
            std::abort();
        }
        previous = track.start;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto parsed =
        qm::ParseTocFile(qmfuzz::AsText(data, size), "/nonexistent/qm-fuzz", "fuzz.toc", &error);
    if (!parsed) {
        return 0;
    }
    (void)qm::TocNamesAudioFiles(*parsed);
    // A full disc's files, files of one sector, of an odd byte count, and empty ones.
    for (const std::int64_t length :
         {std::int64_t{449999} * qm::kSectorBytes, std::int64_t{qm::kSectorBytes},
          std::int64_t{1001}, std::int64_t{0}}) {
        qm::TocFile toc = *parsed;
        const std::vector<std::int64_t> bytes(toc.sheet.files.size(), length);
        const auto layout = qm::LayOutTocFile(toc, bytes, &error);
        if (!layout) {
            continue;
        }
        CheckLayout(*layout, bytes);
        (void)qm::SheetDiscInfo(toc.sheet);
        (void)qm::AccurateRipPath(qm::AccurateRipIds(layout->toc));
        (void)qm::CtdbTocString(layout->toc);
    }
    return 0;
}
