// How the CDDB look-up reaches its server: the settings record the settings
// store keeps ("CDDBServer" ... "AutoSaveLocalCDDB") and the ripper's CDDB
// functions take. It lives here so that the disc layer can take it without
// depending on the settings store.
#pragma once

#include <cstdint>
#include <string>

// The CDDB server a new installation uses, and the retired one that an old
// store still names (it is moved to the current one on load).
inline constexpr const char* kDefaultCDDBServer = "gnudb.gnudb.org";
inline constexpr const char* kRetiredCDDBServer = "freedb.freedb.org";
// The address sent in the CDDB hello until the user sets a real one.
inline constexpr const char* kDefaultCDDBEMail = "quavermill@localhost";
inline constexpr const char* kDefaultCDDBPath = "/~cddb/cddb.cgi";

// The CDDB look-up and the local cache.
struct CDDBSettings {
    std::string CDDBServer = kDefaultCDDBServer;
    std::string ProxyServer;
    std::string EMail = kDefaultCDDBEMail;
    std::string HTTPPath = kDefaultCDDBPath;
    std::int32_t HTTPPort = 80;
    std::int32_t ProxyPort = 0;
    bool UseProxy = false;
    bool GetProxyFromExplorer = false; // take the proxy from the system settings
    bool ProxyAuth = false;
    std::string ProxyUser;
    std::string ProxyPassword; // plain in memory; enciphered in the store
    bool AutoLoadLocalCDDB = true;
    bool AutoSaveLocalCDDB = true;

    bool operator==(const CDDBSettings&) const = default;
};
