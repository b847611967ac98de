// A CUETools database answer (XML): its entries, and every track's and the
// whole disc's CRC matched as the verifier matches a rip.
#include "FuzzSupport.h"
#include "disc/Ctdb.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto entries = qm::ParseCtdb(qmfuzz::AsText(data, size));
    if (!entries) {
        return 0;
    }
    for (int position = 0; position <= 100; ++position) {
        (void)qm::CtdbVerdictText(qm::MatchCtdb(*entries, position, 0x12345678));
    }
    (void)qm::CtdbVerdictText(qm::MatchCtdbDisc(*entries, 0x12345678));
    return 0;
}
