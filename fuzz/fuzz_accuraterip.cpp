// An AccurateRip answer (dBAR-*.bin): split into its chunks and every track's
// slot matched as the verifier matches a rip.
#include "FuzzSupport.h"
#include "disc/AccurateRip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto chunks = qm::ParseDbar(qmfuzz::AsText(data, size));
    if (!chunks) {
        return 0;
    }
    for (int slot = -1; slot <= 99; ++slot) {
        (void)qm::ArVerdictText(qm::MatchAccurateRip(*chunks, slot, 0x12345678, 0x9ABCDEF0));
    }
    return 0;
}
