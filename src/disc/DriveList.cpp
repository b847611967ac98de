#include "disc/DriveList.h"

#include <cdio/cdio.h>

#include <algorithm>
#include <cctype>

#include "disc/CdioDrive.h"
#include "disc/CdioLog.h"
#include "disc/SheetDrive.h"
#include "disc/TocFile.h"

namespace qm {

DriveList& DriveList::Instance() {
    static DriveList list;
    return list;
}

DriveList::DriveList() {
    InstallCdioLogHandler();
    std::lock_guard<std::mutex> lock(m_lock);
    ScanLocked();
}

void DriveList::ScanLocked() {
    std::vector<DriveEntry> found;
    char** devices = cdio_get_devices(DRIVER_DEVICE);
    for (char** device = devices; device != nullptr && *device != nullptr; ++device) {
        const std::string path = *device;
        auto known = std::find_if(m_system.begin(), m_system.end(), [&path](const DriveEntry& e) {
            return e.drive->Device() == path;
        });
        DriveEntry entry;
        entry.drive = known != m_system.end() ? known->drive : CdioDrive::ForDevice(path);
        entry.hostAdapter = kSystemAdapter;
        entry.target = static_cast<std::uint8_t>(found.size());
        found.push_back(entry);
    }
    if (devices != nullptr) {
        cdio_free_device_list(devices);
    }
    m_system = std::move(found);
}

void DriveList::Rescan() {
    std::lock_guard<std::mutex> lock(m_lock);
    ScanLocked();
}

std::vector<DriveEntry> DriveList::Drives() {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<DriveEntry> all = m_system;
    all.insert(all.end(), m_opened.begin(), m_opened.end());
    return all;
}

std::shared_ptr<CdDrive> DriveList::Find(std::uint8_t hostAdapter, std::uint8_t target,
                                         std::uint8_t lun) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (const auto* list : {&m_system, &m_opened}) {
        for (const DriveEntry& entry : *list) {
            if (entry.hostAdapter == hostAdapter && entry.target == target && entry.lun == lun) {
                return entry.drive;
            }
        }
    }
    return nullptr;
}

int DriveList::IndexLocked(const std::shared_ptr<CdDrive>& drive) const {
    int index = 0;
    for (const auto* list : {&m_system, &m_opened}) {
        for (const DriveEntry& entry : *list) {
            if (entry.drive == drive) {
                return index;
            }
            ++index;
        }
    }
    return -1;
}

int DriveList::IndexOf(const std::shared_ptr<CdDrive>& drive) {
    std::lock_guard<std::mutex> lock(m_lock);
    return IndexLocked(drive);
}

int DriveList::IndexOf(const std::string& path) {
    std::error_code ec;
    const auto wanted = std::filesystem::weakly_canonical(path, ec);
    std::lock_guard<std::mutex> lock(m_lock);
    int index = 0;
    for (const auto* list : {&m_system, &m_opened}) {
        for (const DriveEntry& entry : *list) {
            const std::string device = entry.drive->Device();
            std::error_code entryEc;
            if (device == path ||
                (!ec && std::filesystem::weakly_canonical(device, entryEc) == wanted && !entryEc)) {
                return index;
            }
            ++index;
        }
    }
    return -1;
}

int DriveList::AddLocked(std::shared_ptr<CdDrive> drive, std::uint8_t adapter) {
    DriveEntry entry;
    entry.drive = std::move(drive);
    entry.hostAdapter = adapter;
    // Target and LUN together number the drives opened in this run, so a
    // handle never reaches a later drive by an old address.
    entry.target = static_cast<std::uint8_t>(m_nextSerial & 0xFF);
    entry.lun = static_cast<std::uint8_t>(m_nextSerial >> 8);
    ++m_nextSerial;
    m_opened.push_back(entry);
    return static_cast<int>(m_system.size() + m_opened.size()) - 1;
}

int DriveList::AddImage(const std::filesystem::path& sheet, std::string* error) {
    const int known = IndexOf(sheet.string());
    if (known >= 0) {
        return known;
    }
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(sheet, ec);
    const std::filesystem::path path = ec ? sheet : full;
    std::string why;
    std::shared_ptr<CdDrive> drive;
    // CUE sheets (over BIN or audio files), cdrdao TOC files over audio
    // files and audio files with a sheet of their own are served here;
    // libcdio reads NRG images and the TOC files over raw images it has
    // always read.
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".cue") {
        drive = SheetDrive::ForSheet(path, &why);
    } else if (ext == ".toc") {
        // A broken file is refused naming its line; one over raw images
        // alone goes to libcdio, and to the sheet drive when libcdio cannot
        // read it.
        auto toc = ReadTocFile(path, &why);
        if (toc && TocNamesAudioFiles(*toc)) {
            drive = SheetDrive::ForTocFile(std::move(*toc), path.string(), &why);
        } else if (toc) {
            drive = CdioDrive::ForImage(path, &why);
            if (!drive) {
                drive = SheetDrive::ForTocFile(std::move(*toc), path.string(), &why);
            }
        }
    } else if (IsSheetImage(path)) {
        drive = SheetDrive::ForAudioFile(path, &why);
    } else {
        drive = CdioDrive::ForImage(path, &why);
    }
    if (!drive) {
        if (error != nullptr) {
            *error = why;
        }
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    return AddLocked(std::move(drive), kImageAdapter);
}

int DriveList::AddDrive(std::shared_ptr<CdDrive> drive) {
    if (!drive) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    const int known = IndexLocked(drive);
    return known >= 0 ? known : AddLocked(std::move(drive), kAddedAdapter);
}

bool DriveList::Remove(const std::shared_ptr<CdDrive>& drive) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = std::find_if(m_opened.begin(), m_opened.end(),
                           [&drive](const DriveEntry& e) { return e.drive == drive; });
    if (it == m_opened.end()) {
        return false;
    }
    m_opened.erase(it);
    return true;
}

} // namespace qm
