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
#include "disc/QueryCDDBInfo.h"
#include "disc/XmcdText.h"

namespace {

// A value as it may go into names and tags: control characters, decoded
// line breaks and tabs included, become blanks.
std::string NameText(std::string text) {
    qm::BlankControls(text);
    return text;
}

// Extended data keeps its line breaks; other control characters become
// blanks.
std::string ExtendedText(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    while (true) {
        const auto end = text.find('\n', start);
        out += NameText(text.substr(start, end - start));
        if (end == std::string::npos) {
            return out;
        }
        out += '\n';
        start = end + 1;
    }
}

// The entry's disc title, joined over its lines, as artist and album: split
// at the first " / ", or both the whole text when it has none.
bool DiscTitle(const char* text, std::string* artist, std::string* album) {
    bool found = false;
    const std::string dtitle =
        NameText(qm::XmcdValue(text != nullptr ? text : "", "DTITLE", &found));
    if (!found) {
        return false;
    }
    if (!qm::XmcdSplit(dtitle, artist, album)) {
        *artist = *album = dtitle;
        RemoveSpacesFromStartAndEnd(*artist);
        RemoveSpacesFromStartAndEnd(*album);
    }
    return true;
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
    // The entry names the disc: the match's line may hold only the first
    // line of a continued title, or be cut to fit its record.
    m_discInfo.artist = chosen.artist;
    m_discInfo.title = chosen.title;
    m_discInfo.genre = chosen.category;
    m_discInfo.year = 0;
    m_discInfo.extd.clear();
    ExtractArtist(text.data());
    ExtractAlbum(text.data());
    ExtractGenre(text.data());
    ExtractYear(text.data());
    for (std::size_t i = 0; i < m_discInfo.tracks.size(); ++i) {
        ExtractTrackInfo(text.data(), static_cast<std::int32_t>(i));
    }
    m_lastStatus = kCDDBOk;
    QM_RETURN(2, true);
}

void CCDRipper::ExtractArtist(const char* text) {
    QM_TRACE("CDRipper");
    std::string artist;
    std::string album;
    if (!DiscTitle(text, &artist, &album)) {
        QM_RETURN(0);
    }
    m_discInfo.artist = artist;
    QM_EXIT(1);
}

void CCDRipper::ExtractAlbum(const char* text) {
    QM_TRACE("CDRipper");
    std::string artist;
    std::string album;
    if (!DiscTitle(text, &artist, &album)) {
        QM_RETURN(0);
    }
    // A title that repeats the artist before the album is taken as the
    // chooser showed it (a title that did not split is the artist itself).
    m_discInfo.title = album == artist ? album : qm::WithoutRepeatedArtist(artist, album);
    QM_EXIT(1);
}

void CCDRipper::ExtractGenre(const char* text) {
    QM_TRACE("CDRipper");
    std::string genre = NameText(qm::XmcdValue(text != nullptr ? text : "", "DGENRE"));
    RemoveSpacesFromStartAndEnd(genre);
    // Without a genre of its own the entry keeps its category's name.
    if (genre.empty()) {
        QM_RETURN(0);
    }
    m_discInfo.genre = genre;
    QM_EXIT(1);
}

void CCDRipper::ExtractYear(const char* text) {
    QM_TRACE("CDRipper");
    const std::string_view entry = text != nullptr ? text : "";
    const std::string extd = ExtendedText(qm::XmcdValue(entry, "EXTD"));
    m_discInfo.extd = extd;
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
        std::string year = NameText(qm::XmcdValue(entry, "DYEAR"));
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
    const std::string_view entry = text != nullptr ? text : "";
    const std::string value = NameText(qm::XmcdValue(entry, qm::Format("TTITLE%d", index)));
    track.extt = ExtendedText(qm::XmcdValue(entry, qm::Format("EXTT%d", index)));
    if (m_mixedCD.load() && qm::XmcdSplit(value, &track.artist, &track.title)) {
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
