// An xmcd entry's text as CDDBGetDiskInfo hands it to the ripper (at most
// kCddbEntryBytes with its NUL), parsed by the ripper's own parsers for a
// disc of 99 tracks, in both modes; and the value helpers round-trip.
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "disc/CDRipper.h"
#include "disc/CddbAccess.h"
#include "disc/XmcdText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CCDRipper* ripper = new CCDRipper();
    std::string_view input = qmfuzz::AsText(data, size);
    if (input.size() >= static_cast<std::size_t>(qm::kCddbEntryBytes)) {
        input = input.substr(0, qm::kCddbEntryBytes - 1);
    }
    const std::string text(input.substr(0, input.find('\0')));

    for (const bool mixed : {false, true}) {
        ripper->SetMixedCDMode(mixed);
        DiscInfo& disc = ripper->GetDiscInfo();
        disc = DiscInfo();
        disc.tracks.resize(99);
        ripper->ExtractArtist(text.c_str());
        ripper->ExtractAlbum(text.c_str());
        ripper->ExtractGenre(text.c_str());
        ripper->ExtractYear(text.c_str());
        for (std::int32_t i = 0; i < 99; ++i) {
            ripper->ExtractTrackInfo(text.c_str(), i);
        }
    }

    // Whatever a value holds, the lines written for it read back to it (a
    // CR is dropped: a CR LF break is written as one "\n").
    std::string expected = text;
    std::erase(expected, '\r');
    const std::string lines = qm::XmcdLines("TTITLE0", text, "\r\n");
    bool found = false;
    if (qm::XmcdValue(lines, "TTITLE0", &found) != expected || !found) {
        std::abort();
    }
    if (qm::XmcdUnescape(qm::XmcdEscape(text)) != expected) {
        std::abort();
    }
    return 0;
}
