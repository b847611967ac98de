// What the CDDB server picker shows and decides, without the window: the
// servers the configured server knows of, one row each, and the host, path
// and port of the selected row for the CDDB settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/CDDBSettings.h"
#include "disc/CddbAccess.h"

class CCDRipper;

class CCDDBServersList {
public:
    struct Column {
        const char* name;
        int width; // pixels
    };
    static constexpr Column kColumns[4] = {
        {"Server", 150}, {"Port", 50}, {"CGI", 100}, {"Is HTTP", 73}};
    // The message box shown when the list cannot be had; the picker then
    // ends as cancelled.
    static constexpr const char* kFailedText = "Failed to get list";
    static constexpr const char* kFailedCaption = "Error";

    struct Row {
        std::string server;
        std::string port;
        std::string cgi;
        std::string isHttp; // "Yes" or "No"
    };
    struct Choice {
        std::string host;
        std::string path;
        std::int32_t port = 0;
    };

    // Passes `settings` to the CDDB client (CCDRipper::SetCDDBSettings) and
    // asks the server for its list. False when that fails.
    bool Load(CCDRipper& ripper, const CDDBSettings& settings);
    const std::vector<Row>& GetRows();
    const std::vector<qm::CddbSite>& GetSites();
    // "OK": host, path and port of the selected row; false when none is
    // selected (the picker ends as cancelled).
    bool OnOK(std::int32_t selectedRow, Choice& choice);

private:
    std::vector<qm::CddbSite> m_sites;
    std::vector<Row> m_rows;
};
