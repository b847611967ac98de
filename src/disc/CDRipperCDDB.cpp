// The ripper's CDDB look-up: the client's options, the query, the chosen
// match's entry and the parsers that turn the entry's text (xmcd format)
// into the disc information.
#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/RemoveSpaces.h"
#include "core/Text.h"
#include "core/Trace.h"
#include "disc/CDRipper.h"

namespace {

// A match text this long may have been cut to fit its record; the entry then
// gives the whole text.
constexpr std::size_t kMaybeCut = sizeof(qm::CddbMatch::artist) - 4;

// The values of the entry's lines whose key is `key` (in any case), in
// order; with `all` false only the first. A line ends at CR or LF; its key is
// the text before its first '='. Control characters in a value become blanks.
std::vector<std::string> EntryValues(const char* text, std::string_view key, bool all) {
    std::vector<std::string> values;
    if (text == nullptr) {
        return values;
    }
    std::string_view rest(text);
    while (!rest.empty()) {
        const auto end = rest.find_first_of("\r\n");
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || !qm::EqualsNoCase(line.substr(0, equals), key)) {
            continue;
        }
        std::string value(line.substr(equals + 1));
        qm::BlankControls(value);
        values.push_back(std::move(value));
        if (!all) {
            break;
        }
    }
    return values;
}

bool FourDigits(std::string_view text) {
    return text.size() >= 4 &&
           std::all_of(text.begin(), text.begin() + 4, [](char c) { return c >= '0' && c <= '9'; });
}

std::int32_t FourDigitNumber(std::string_view text) {
    return (text[0] - '0') * 1000 + (text[1] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0');
}

} // namespace

void CCDRipper::SetCDDBSettings(const CDDBSettings& settings) {
    QM_TRACE("CDRipper");
    qm::CDDBSetOption(qm::kCddbOptServer, settings.CDDBServer.c_str(), 0);
    qm::CDDBSetOption(qm::kCddbOptPath, settings.HTTPPath.c_str(), 0);
    qm::CDDBSetOption(qm::kCddbOptEMail, settings.EMail.c_str(), 0);
    qm::CDDBSetOption(qm::kCddbOptPort, nullptr, settings.HTTPPort);
    SetProxy(settings.ProxyServer, settings.ProxyPort, settings.UseProxy);
    qm::CDDBSetOption(qm::kCddbOptCompat, nullptr, 1);
    qm::CDDBSetOption(qm::kCddbOptClient, kCDDBClientName, 0);
    // The server list is asked for through the same proxy as the look-up.
    if (settings.GetProxyFromExplorer && !SetProxyFromExplorer()) {
        qm::CDDBSetOption(qm::kCddbOptUseProxy, nullptr, 0);
    }
    SetProxyAuth(settings.ProxyAuth, settings.ProxyUser, settings.ProxyPassword);
}

void CCDRipper::SetProxy(const std::string& host, std::int32_t port, bool use) {
    QM_TRACE("CDRipper");
    qm::CDDBSetOption(qm::kCddbOptProxy, host.c_str(), 0);
    qm::CDDBSetOption(qm::kCddbOptProxyPort, nullptr, port);
    qm::CDDBSetOption(qm::kCddbOptUseProxy, nullptr, use ? 1 : 0);
}

void CCDRipper::SetProxyAuth(bool enabled, const std::string& user, const std::string& password) {
    QM_TRACE("CDRipper");
    if (!enabled) {
        qm::CDDBSetOption(qm::kCddbOptProxyCredentials, "", 0);
        QM_RETURN(0);
    }
    const std::string credentials = user.empty() ? password : user + ":" + password;
    qm::CDDBSetOption(qm::kCddbOptProxyCredentials, credentials.c_str(), 0);
    QM_EXIT(1);
}

bool CCDRipper::SetProxyFromExplorer() {
    QM_TRACE("CDRipper");
    const char* value = std::getenv("http_proxy");
    if (value == nullptr || *value == '\0') {
        value = std::getenv("HTTP_PROXY");
    }
    if (value == nullptr || *value == '\0') {
        qm::CDDBSetOption(qm::kCddbOptUseProxy, nullptr, 0);
        QM_RETURN(0, true);
    }
    std::string host;
    std::int32_t port = 0;
    if (!qm::ParseProxyAddress(value, &host, &port) || port == 0) {
        QM_RETURN(1, false);
    }
    SetProxy(host, port, true);
    QM_RETURN(2, true);
}

std::int32_t CCDRipper::PrepareDisc() {
    QM_TRACE("CDRipper");
    m_discInfo.title.clear();
    m_discInfo.artist.clear();
    m_discInfo.genre.clear();
    m_discInfo.year = 0;
    m_discId = 0;
    m_cddbMatchCount = 0;
    if (m_handle == nullptr) {
        m_discInfo.tracks.clear();
        m_discInfo.firstTrack = m_discInfo.lastTrack = 0;
        QM_RETURN(0, kCDDBNoDrive);
    }
    qm::CdToc toc;
    if (!ReadToc(&toc, true)) {
        m_discInfo.tracks.clear();
        m_discInfo.firstTrack = m_discInfo.lastTrack = 0;
        QM_RETURN(1, kCDDBNoTracks);
    }
    m_discInfo.firstTrack = toc.firstTrack;
    m_discInfo.lastTrack = toc.lastTrack;
    m_discInfo.tracks.assign(static_cast<std::size_t>(toc.lastTrack - toc.firstTrack + 1),
                             DiscTrackInfo());
    for (std::size_t i = 0; i < m_discInfo.tracks.size(); ++i) {
        m_discInfo.tracks[i].length =
            GetTrackLength(m_discInfo.firstTrack + static_cast<std::int32_t>(i), false);
    }
    GetDiscId(&m_discId);
    QM_RETURN(2, kCDDBOk);
}

void CCDRipper::PrepareTS() {
    QM_TRACE("CDRipper");
    m_lastStatus = PrepareDisc();
}

void CCDRipper::ApplyCDDBOptions(const CDDBSettings* settings, bool useSettings) {
    QM_TRACE("CDRipper");
    if (settings != nullptr && useSettings) {
        SetCDDBSettings(*settings);
        QM_RETURN(0);
    }
    // Without settings the client has no server: the look-up fails at once.
    for (int option :
         {qm::kCddbOptServer, qm::kCddbOptProxy, qm::kCddbOptEMail, qm::kCddbOptPath}) {
        qm::CDDBSetOption(option, "", 0);
    }
    for (int option : {qm::kCddbOptUseProxy, qm::kCddbOptProxyPort, qm::kCddbOptPort}) {
        qm::CDDBSetOption(option, nullptr, 0);
    }
    qm::CDDBSetOption(qm::kCddbOptCompat, nullptr, 1);
    qm::CDDBSetOption(qm::kCddbOptClient, settings == nullptr ? kCDDBClientName : "", 0);
    QM_EXIT(1);
}

std::int32_t CCDRipper::QueryCDInfo(const CDDBSettings* settings, bool useSettings) {
    QM_TRACE("CDRipper");
    m_lastStatus = PrepareDisc();
    if (m_lastStatus != kCDDBOk) {
        QM_RETURN(0, 0);
    }
    ApplyCDDBOptions(settings, useSettings);
    qm::CddbQuery query;
    query.capacity = qm::kCddbMaxMatches;
    query.matches = m_cddbMatches.data();
    if (qm::CDDBQuery(m_handle, &query) != qm::kCdOk) {
        m_lastStatus = kCDDBQueryFailed;
        QM_RETURN(1, 0);
    }
    if (query.count <= 0) {
        m_lastStatus = kCDDBNoMatch;
        QM_RETURN(2, 0);
    }
    m_cddbMatchCount = query.count;
    QM_RETURN(3, m_cddbMatchCount);
}

std::int32_t CCDRipper::GetCDInfo(const CDDBSettings* settings, bool useSettings) {
    QM_TRACE("CDRipper");
    if (QueryCDInfo(settings, useSettings) == 0) {
        QM_RETURN(0, m_lastStatus);
    }
    ExtractCDInfo(0);
    QM_RETURN(1, m_lastStatus);
}

bool CCDRipper::ExtractCDInfo(std::int32_t match) {
    QM_TRACE("CDRipper");
    if (match < 0 || match >= m_cddbMatchCount) {
        m_lastStatus = kCDDBNoMatch;
        QM_RETURN(0, false);
    }
    // The entry is fetched before anything changes, so that a failed fetch
    // leaves the disc information as it was.
    std::vector<char> text(qm::kCddbEntryBytes);
    const qm::CddbMatch& chosen = m_cddbMatches[static_cast<std::size_t>(match)];
    if (qm::CDDBGetDiskInfo(&chosen, text.data(), qm::kCddbEntryBytes) != qm::kCdOk) {
        m_lastStatus = kCDDBNoMatch;
        QM_RETURN(1, false);
    }
    m_discInfo.artist = chosen.artist;
    m_discInfo.title = chosen.title;
    m_discInfo.genre = chosen.category;
    m_discInfo.year = 0;
    if (m_discInfo.artist.size() >= kMaybeCut) {
        m_discInfo.artist.clear();
    }
    if (m_discInfo.title.size() >= kMaybeCut) {
        m_discInfo.title.clear();
    }
    if (m_discInfo.artist.empty()) {
        ExtractArtist(text.data());
    }
    if (m_discInfo.title.empty()) {
        ExtractAlbum(text.data());
    }
    ExtractYear(text.data());
    for (std::size_t i = 0; i < m_discInfo.tracks.size(); ++i) {
        ExtractTrackInfo(text.data(), static_cast<std::int32_t>(i));
    }
    m_lastStatus = kCDDBOk;
    QM_RETURN(2, true);
}

void CCDRipper::ExtractArtist(const char* text) {
    QM_TRACE("CDRipper");
    const std::vector<std::string> values = EntryValues(text, "DTITLE", false);
    if (values.empty()) {
        QM_RETURN(0);
    }
    std::string artist = values.front().substr(0, values.front().find('/'));
    artist.erase(artist.find_last_not_of(' ') + 1);
    m_discInfo.artist = artist;
    QM_EXIT(1);
}

void CCDRipper::ExtractAlbum(const char* text) {
    QM_TRACE("CDRipper");
    const std::vector<std::string> values = EntryValues(text, "DTITLE", false);
    if (values.empty()) {
        QM_RETURN(0);
    }
    const std::string& value = values.front();
    const auto slash = value.find('/');
    if (slash == std::string::npos) {
        m_discInfo.title.clear();
        QM_RETURN(1);
    }
    const auto start = value.find_first_not_of(' ', slash + 1);
    m_discInfo.title = start == std::string::npos ? std::string() : value.substr(start);
    QM_EXIT(2);
}

void CCDRipper::ExtractYear(const char* text) {
    QM_TRACE("CDRipper");
    std::string extd;
    for (const std::string& value : EntryValues(text, "EXTD", true)) {
        extd += value;
    }
    static constexpr std::string_view kYear = "YEAR: ";
    const auto at = extd.find(kYear);
    if (at != std::string::npos) {
        const std::string_view digits = std::string_view(extd).substr(at + kYear.size());
        if (FourDigits(digits)) {
            m_discInfo.year = FourDigitNumber(digits);
            QM_RETURN(0);
        }
    }
    // Entries of the newer format keep the year in a line of its own.
    if (m_discInfo.year == 0) {
        const std::vector<std::string> dyear = EntryValues(text, "DYEAR", false);
        std::string year = dyear.empty() ? std::string() : dyear.front();
        RemoveSpacesFromStartAndEnd(year);
        if (year.size() == 4 && FourDigits(year)) {
            m_discInfo.year = FourDigitNumber(year);
        }
    }
    QM_EXIT(1);
}

void CCDRipper::ExtractTrackInfo(const char* text, std::int32_t index) {
    QM_TRACE("CDRipper");
    if (index < 0 || static_cast<std::size_t>(index) >= m_discInfo.tracks.size()) {
        QM_RETURN(0);
    }
    DiscTrackInfo& track = m_discInfo.tracks[static_cast<std::size_t>(index)];
    const std::vector<std::string> values = EntryValues(text, qm::Format("TTITLE%d", index), false);
    const std::string value = values.empty() ? std::string() : values.front();
    const auto slash = value.find('/');
    if (m_mixedCD.load() && slash != std::string::npos) {
        track.artist = value.substr(0, slash);
        track.title = value.substr(slash + 1);
        RemoveSpacesFromStartAndEnd(track.artist);
        RemoveSpacesFromStartAndEnd(track.title);
        QM_RETURN(1);
    }
    track.artist.clear();
    track.title = value;
    QM_EXIT(2);
}

std::int32_t CCDRipper::FindTrackInfo(std::int32_t track, const DiscTrackInfo** info) {
    QM_TRACE("CDRipper");
    std::int32_t first = 0;
    std::int32_t last = 0;
    if (!GetTrackRange(&first, &last)) {
        QM_RETURN(0, kCDDBNoTracks);
    }
    if (track < first || track > last) {
        QM_RETURN(1, kCDDBTrackOutside);
    }
    // Records of another disc count as none.
    const std::int32_t index = track - m_discInfo.firstTrack;
    if (m_discInfo.tracks.empty() || m_discInfo.firstTrack != first || index < 0 ||
        static_cast<std::size_t>(index) >= m_discInfo.tracks.size()) {
        QM_RETURN(2, kCDDBNoMatch);
    }
    *info = &m_discInfo.tracks[static_cast<std::size_t>(index)];
    QM_RETURN(3, kCDDBOk);
}

std::int32_t CCDRipper::GetTrackTitle(std::int32_t track, std::string& text) {
    QM_TRACE("CDRipper");
    const DiscTrackInfo* info = nullptr;
    const std::int32_t status = FindTrackInfo(track, &info);
    if (status != kCDDBOk) {
        QM_RETURN(0, status);
    }
    text = info->title;
    QM_RETURN(1, kCDDBOk);
}

std::int32_t CCDRipper::GetTrackArtist(std::int32_t track, std::string& text) {
    QM_TRACE("CDRipper");
    const DiscTrackInfo* info = nullptr;
    const std::int32_t status = FindTrackInfo(track, &info);
    if (status != kCDDBOk) {
        QM_RETURN(0, status);
    }
    text = info->artist;
    QM_RETURN(1, kCDDBOk);
}

std::uint32_t CCDRipper::GetCDDBID() {
    QM_TRACE("CDRipper");
    return m_discId;
}

std::int32_t CCDRipper::GetLastCDDBStatus() {
    QM_TRACE("CDRipper");
    return m_lastStatus;
}

std::span<qm::CddbMatch> CCDRipper::GetCDDBMatches() {
    QM_TRACE("CDRipper");
    return std::span<qm::CddbMatch>(m_cddbMatches.data(),
                                    static_cast<std::size_t>(m_cddbMatchCount));
}

void CCDRipper::SetMixedCDMode(bool mixed) {
    QM_TRACE("CDRipper");
    m_mixedCD.store(mixed);
}

bool CCDRipper::GetMixedCDMode() {
    QM_TRACE("CDRipper");
    return m_mixedCD.load();
}
