// A CDDB server's reply to each of the three requests the client makes: a
// query (its matches then listed as the chooser lists them), an entry's
// read, the server list.
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "FuzzSupport.h"
#include "disc/CddbAccess.h"
#include "disc/QueryCDDBInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body = qmfuzz::AsText(data, size);

    std::vector<qm::CddbMatch> matches(qm::kCddbMaxMatches);
    qm::CddbQuery query;
    query.capacity = static_cast<std::int32_t>(matches.size());
    query.matches = matches.data();
    if (qm::CDDBReadQueryReply(body, &query) == qm::kCdOk) {
        if (query.count < 0 || query.count > query.capacity) {
            std::abort();
        }
        for (std::int32_t i = 0; i < query.count; ++i) {
            const qm::CddbMatch& match = matches[static_cast<std::size_t>(i)];
            // Every field ends within its record.
            if (strnlen(match.category, sizeof match.category) == sizeof match.category ||
                strnlen(match.discId, sizeof match.discId) == sizeof match.discId ||
                strnlen(match.artist, sizeof match.artist) == sizeof match.artist ||
                strnlen(match.title, sizeof match.title) == sizeof match.title) {
                std::abort();
            }
        }
        // The chooser's rows, each match's title corrected as it shows them.
        CQueryCDDBInfo chooser(std::span(matches.data(), static_cast<std::size_t>(query.count)));
        chooser.Init();
        if (chooser.GetRows().size() != static_cast<std::size_t>(query.count)) {
            std::abort();
        }
        (void)chooser.GetAutoChoice();
    }

    // The text a read leaves must end within the room given for it.
    std::vector<char> text(qm::kCddbEntryBytes, 'x');
    if (qm::CDDBReadEntryReply(body, text.data(), qm::kCddbEntryBytes) == qm::kCdOk &&
        strnlen(text.data(), text.size()) == text.size()) {
        std::abort();
    }

    std::vector<qm::CddbSite> sites(qm::kCddbMaxSites);
    qm::CddbSiteList list;
    list.capacity = static_cast<std::int32_t>(sites.size());
    list.sites = sites.data();
    if (qm::CDDBReadSitesReply(body, &list) == qm::kCdOk &&
        (list.count < 0 || list.count > list.capacity)) {
        std::abort();
    }
    return 0;
}
