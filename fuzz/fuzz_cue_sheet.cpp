// A CUE sheet as a disc image brings it: read as ReadCueSheet reads the
// file's bytes, then laid out over files of a few lengths as SheetDrive does,
// and the disc's ids taken from the table of contents it gives.
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "disc/AccurateRip.h"
#include "disc/Ctdb.h"
#include "disc/CueSheet.h"
#include "disc/SheetDrive.h"

namespace {

// What SheetDrive::ReadAudio relies on: the segments run from sector 0 to
// the lead-out and each lies inside its file.
void CheckLayout(const qm::SheetLayout& layout, const std::vector<std::int64_t>& lengths) {
    std::int64_t total = 0;
    for (const qm::DiscSegment& segment : layout.segments) {
        if (segment.sectors < 0 || segment.from < 0) {
            std::abort();
        }
        if (segment.file >= 0 &&
            (static_cast<std::size_t>(segment.file) >= lengths.size() ||
             segment.from + segment.sectors > lengths[static_cast<std::size_t>(segment.file)])) {
            std::abort();
        }
        total += segment.sectors;
    }
    if (total != layout.toc.leadout) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto sheet =
        qm::ParseCueSheet(qmfuzz::AsText(data, size), "/nonexistent/qm-fuzz", "fuzz.cue", &error);
    if (!sheet) {
        return 0;
    }
    (void)qm::SheetDiscInfo(*sheet);
    // A full disc's files, files of one sector, and empty ones.
    for (const std::int64_t length : {std::int64_t{449999}, std::int64_t{1}, std::int64_t{0}}) {
        const std::vector<std::int64_t> lengths(sheet->files.size(), length);
        const auto layout = qm::LayOutSheet(*sheet, lengths, &error);
        if (!layout) {
            continue;
        }
        CheckLayout(*layout, lengths);
        (void)qm::AccurateRipPath(qm::AccurateRipIds(layout->toc));
        (void)qm::CtdbTocString(layout->toc);
    }
    return 0;
}
