#include "disc/CDDBServersList.h"

#include "core/Trace.h"
#include "disc/CDRipper.h"

bool CCDDBServersList::Load(CCDRipper& ripper, const CDDBSettings& settings) {
    QM_TRACE("CDDBServersListDlg");
    m_sites.clear();
    m_rows.clear();
    ripper.SetCDDBSettings(settings);
    std::vector<qm::CddbSite> sites(qm::kCddbMaxSites);
    qm::CddbSiteList list;
    list.capacity = qm::kCddbMaxSites;
    list.sites = sites.data();
    if (qm::CDDBGetServerList(&list) != qm::kCdOk) {
        QM_RETURN(0, false);
    }
    sites.resize(static_cast<std::size_t>(list.count));
    m_sites = std::move(sites);
    for (const qm::CddbSite& site : m_sites) {
        m_rows.push_back(
            {site.host, std::to_string(site.port), site.path, site.http != 0 ? "Yes" : "No"});
    }
    QM_RETURN(1, true);
}

const std::vector<CCDDBServersList::Row>& CCDDBServersList::GetRows() {
    QM_TRACE("CDDBServersListDlg");
    return m_rows;
}

const std::vector<qm::CddbSite>& CCDDBServersList::GetSites() {
    QM_TRACE("CDDBServersListDlg");
    return m_sites;
}

bool CCDDBServersList::OnOK(std::int32_t selectedRow, Choice& choice) {
    QM_TRACE("CDDBServersListDlg");
    if (selectedRow < 0 || static_cast<std::size_t>(selectedRow) >= m_sites.size()) {
        QM_RETURN(0, false);
    }
    const qm::CddbSite& site = m_sites[static_cast<std::size_t>(selectedRow)];
    choice.host = site.host;
    choice.path = site.path;
    choice.port = site.port;
    QM_RETURN(1, true);
}
