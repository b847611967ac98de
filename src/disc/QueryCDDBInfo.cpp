#include "disc/QueryCDDBInfo.h"

#include <cstring>
#include <string_view>

#include "core/Text.h"
#include "core/Trace.h"

std::string qm::WithoutRepeatedArtist(std::string_view artist, std::string_view title) {
    const auto slash = title.find('/');
    if (slash == std::string_view::npos || slash == 0) {
        return std::string(title);
    }
    std::string_view prefix = title.substr(0, slash);
    while (!prefix.empty() && prefix.back() == ' ') {
        prefix.remove_suffix(1);
    }
    if (prefix.empty() || !artist.ends_with(prefix)) {
        return std::string(title);
    }
    std::string_view album = title.substr(slash + 1);
    while (!album.empty() && album.front() == ' ') {
        album.remove_prefix(1);
    }
    return std::string(album);
}

CQueryCDDBInfo::CQueryCDDBInfo(std::span<qm::CddbMatch> matches) : m_matches(matches) {
    QM_TRACE("QueryCDDBInfoDlg");
}

CQueryCDDBInfo::CQueryCDDBInfo(std::span<qm::CddbMatch> matches, std::vector<qm::MbMatch> releases)
    : m_matches(matches), m_releases(std::move(releases)) {
    QM_TRACE("QueryCDDBInfoDlg");
}

void CQueryCDDBInfo::Init() {
    QM_TRACE("QueryCDDBInfoDlg");
    m_rows.clear();
    for (std::size_t i = 0; i < m_matches.size(); ++i) {
        CorrectCDDBInfo(static_cast<std::int32_t>(i));
        const qm::CddbMatch& match = m_matches[i];
        m_rows.push_back({match.artist, match.title, match.category,
                          match.exact != 0 ? kExactText : "", kCddbSource});
    }
    for (const qm::MbMatch& release : m_releases) {
        std::string details = release.country;
        if (!release.date.empty()) {
            details += (details.empty() ? "" : " ") + release.date;
        }
        details += (details.empty() ? "" : ", ") + qm::Format("%d tracks", release.tracks);
        // A disc-id answer only lists releases that hold this very disc.
        m_rows.push_back({release.artist, release.title + " [" + details + "]", "", kExactText,
                          kMusicBrainzSource});
    }
}

void CQueryCDDBInfo::CorrectCDDBInfo(std::int32_t match) {
    QM_TRACE("QueryCDDBInfoDlg");
    if (match < 0 || static_cast<std::size_t>(match) >= m_matches.size()) {
        QM_RETURN(0);
    }
    qm::CddbMatch& entry = m_matches[static_cast<std::size_t>(match)];
    const std::string_view title(entry.title, strnlen(entry.title, sizeof entry.title));
    const std::string_view artist(entry.artist, strnlen(entry.artist, sizeof entry.artist));
    const std::string corrected = qm::WithoutRepeatedArtist(artist, title);
    if (corrected == title) {
        QM_RETURN(1);
    }
    qm::CopyTruncated(entry.title, sizeof entry.title, corrected.c_str());
    QM_EXIT(2);
}

const std::vector<CQueryCDDBInfo::Row>& CQueryCDDBInfo::GetRows() {
    QM_TRACE("QueryCDDBInfoDlg");
    return m_rows;
}

std::int32_t CQueryCDDBInfo::GetAutoChoice() {
    QM_TRACE("QueryCDDBInfoDlg");
    return m_matches.size() + m_releases.size() == 1 ? 0 : -1;
}

bool CQueryCDDBInfo::IsMusicBrainz(std::int32_t row) const {
    QM_TRACE("QueryCDDBInfoDlg");
    return row >= 0 && static_cast<std::size_t>(row) >= m_matches.size() &&
           static_cast<std::size_t>(row) < m_matches.size() + m_releases.size();
}

std::int32_t CQueryCDDBInfo::MusicBrainzIndex(std::int32_t row) const {
    QM_TRACE("QueryCDDBInfoDlg");
    return IsMusicBrainz(row) ? row - static_cast<std::int32_t>(m_matches.size()) : -1;
}

std::int32_t CQueryCDDBInfo::OnOK(std::int32_t selectedRow) {
    QM_TRACE("QueryCDDBInfoDlg");
    if (selectedRow < 0 ||
        static_cast<std::size_t>(selectedRow) >= m_matches.size() + m_releases.size()) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, selectedRow);
}
