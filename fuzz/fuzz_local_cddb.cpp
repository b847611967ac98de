// A file of the local CDDB cache, read as the track list reads it at start:
// LoadLocalCDDB for a disc of 99 tracks with a tag per track, in both modes.
#include <vector>

#include "FuzzSupport.h"
#include "disc/LocalCDDB.h"
#include "output/ID3Tag.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint32_t kDiscId = 0x940AAC0B;
    static const std::filesystem::path folder = qmfuzz::ScratchFolder() / kLocalCDDBFolder;
    static const bool made = std::filesystem::create_directories(folder);
    (void)made;
    qmfuzz::WriteInput(folder / LocalCDDBFileName(kDiscId), qmfuzz::AsText(data, size));

    for (const bool mixed : {false, true}) {
        std::vector<CID3Tag> tags(99);
        std::vector<CID3Tag*> pointers;
        for (CID3Tag& tag : tags) {
            pointers.push_back(&tag);
        }
        DiscInfo disc;
        (void)LoadLocalCDDB(folder, kDiscId, disc, pointers, 1, 99, mixed);
    }
    return 0;
}
