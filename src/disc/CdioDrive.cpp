#include "disc/CdioDrive.h"

// cdio.h first: the other libcdio headers lean on its types.
#include <cdio/cdio.h>

#include <cdio/audio.h>
#include <cdio/mmc.h>
#include <cdio/mmc_ll_cmds.h>

#include <stdlib.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

#include "disc/CdioLog.h"
#include "disc/CueSheet.h"

namespace qm {

namespace {

// cdrdao keeps raw audio most significant byte first unless its TOC file
// says SWAP for the file.
bool SheetSaysSwap(const std::filesystem::path& sheet) {
    std::ifstream in(sheet);
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find("//"));
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            if (word == "SWAP") {
                return true;
            }
        }
    }
    return false;
}

struct CueFile {
    std::string name;
    std::string type; // BINARY, MOTOROLA, WAVE ...
};

// The FILE lines of a CUE sheet.
std::vector<CueFile> CueFiles(const std::filesystem::path& sheet) {
    std::vector<CueFile> files;
    std::ifstream in(sheet);
    std::string line;
    while (std::getline(in, line)) {
        std::size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || line.compare(at, 5, "FILE ") != 0) {
            continue;
        }
        at = line.find_first_not_of(" \t", at + 5);
        if (at == std::string::npos) {
            continue;
        }
        CueFile file;
        std::size_t end;
        if (line[at] == '"') {
            end = line.find('"', at + 1);
            file.name = line.substr(at + 1, end == std::string::npos ? end : end - at - 1);
            end = end == std::string::npos ? line.size() : end + 1;
        } else {
            end = line.find_first_of(" \t", at);
            file.name = line.substr(at, end == std::string::npos ? end : end - at);
        }
        std::istringstream rest(end < line.size() ? line.substr(end) : std::string());
        rest >> file.type;
        for (char& c : file.type) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        files.push_back(file);
    }
    return files;
}

bool HasExtension(const std::filesystem::path& path, const char* extension) {
    std::string ext = path.extension().string();
    for (char& c : ext) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ext == extension;
}

const char* AccessMode(int readType) {
    switch (readType) {
    case 1: // ASPI methods: the kernel's own CD audio calls
    case 2:
        return "IOCTL";
    case 4: // SCSI methods: MMC READ CD through the generic SCSI layer
    case 5:
    case 6:
    case 7:
    case 8:
        return "READ_CD";
    default:
        return nullptr;
    }
}

std::string Trimmed(const char* text) {
    std::string out = text;
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    std::size_t first = out.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : out.substr(first);
}

DriveStatus FromCdio(driver_return_code_t rc) {
    if (rc == DRIVER_OP_SUCCESS) {
        return DriveStatus::kOk;
    }
    return rc == DRIVER_OP_UNSUPPORTED || rc == DRIVER_OP_NOT_PERMITTED ? DriveStatus::kUnsupported
                                                                        : DriveStatus::kFailed;
}

void SwapSampleBytes(std::uint8_t* data, std::size_t bytes) {
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const std::uint8_t low = data[i];
        data[i] = data[i + 1];
        data[i + 1] = low;
    }
}

} // namespace

CdioDrive::CdioDrive(std::string device, bool image) : m_device(std::move(device)), m_image(image) {
    InstallCdioLogHandler();
}

CdioDrive::~CdioDrive() {
    std::lock_guard<std::mutex> lock(m_lock);
    CloseLocked();
    if (!m_stage.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_stage, ignored);
    }
}

bool CdioDrive::StageCue(const std::filesystem::path& sheet, std::string* error) {
    const std::vector<CueFile> files = CueFiles(sheet);
    if (files.size() > 1) {
        *error = "CUE sheets with one file per track are not supported; join the tracks into "
                 "one BIN: " +
                 sheet.string();
        return false;
    }
    if (files.empty()) {
        return true; // libcdio will say what is wrong with it
    }
    const CueFile& file = files.front();
    if (file.type == "MOTOROLA") {
        m_bigEndian = true;
    } else if (file.type != "BINARY") {
        *error = "CUE sheets over " + file.type +
                 " files are not supported, only raw BIN: " + sheet.string();
        return false;
    }
    // libcdio reads the BIN named like the sheet, whatever FILE says; a BIN
    // of another name is shown to it under the name it looks for.
    std::error_code ec;
    std::filesystem::path bin = file.name;
    if (bin.is_relative()) {
        bin = sheet.parent_path() / bin;
    }
    std::filesystem::path expected = sheet;
    expected.replace_extension(".bin");
    if (std::filesystem::equivalent(bin, expected, ec)) {
        return true;
    }
    if (!std::filesystem::is_regular_file(bin, ec)) {
        *error = "the CUE sheet's data file is missing: " + bin.string();
        return false;
    }
    std::string pattern =
        (std::filesystem::temp_directory_path(ec) / "quavermill-image-XXXXXX").string();
    if (ec || ::mkdtemp(pattern.data()) == nullptr) {
        *error = "cannot make a temporary folder for " + sheet.string();
        return false;
    }
    m_stage = pattern;
    std::filesystem::copy_file(sheet, m_stage / "image.cue", ec);
    if (!ec) {
        std::filesystem::create_symlink(std::filesystem::absolute(bin), m_stage / "image.bin", ec);
    }
    if (ec) {
        *error = "cannot stage " + sheet.string() + ": " + ec.message();
        return false;
    }
    m_openPath = (m_stage / "image.cue").string();
    return true;
}

std::shared_ptr<CdioDrive> CdioDrive::ForDevice(const std::string& device) {
    return std::shared_ptr<CdioDrive>(new CdioDrive(device, false));
}

std::shared_ptr<CdioDrive> CdioDrive::ForImage(const std::filesystem::path& sheet,
                                               std::string* error) {
    auto fail = [error](const std::string& text) {
        if (error != nullptr) {
            *error = text;
        }
        return nullptr;
    };
    std::error_code ec;
    if (!std::filesystem::is_regular_file(sheet, ec)) {
        return fail("no such file: " + sheet.string());
    }
    std::shared_ptr<CdioDrive> drive(new CdioDrive(sheet.string(), true));
    std::lock_guard<std::mutex> lock(drive->m_lock);
    std::string why;
    if (HasExtension(sheet, ".cue") && !drive->StageCue(sheet, &why)) {
        return fail(why);
    }
    // libcdio does not read a sheet's sessions.
    if (HasExtension(sheet, ".cue")) {
        if (const auto parsed = ReadCueSheet(sheet, &why)) {
            for (const CueTrack& track : parsed->tracks) {
                if (track.session > 1) {
                    drive->m_laterSessionTrack = track.number;
                    break;
                }
            }
        }
    }
    ClearCdioMessage();
    if (!drive->OpenLocked()) {
        why = LastCdioMessage();
        return fail("not a disc image libcdio can read: " + sheet.string() +
                    (why.empty() ? "" : " (" + why + ")"));
    }
    DiscToc toc;
    const bool readable = drive->ReadTocLocked(toc);
    if (cdio_get_driver_id(drive->m_cdio) == DRIVER_CDRDAO) {
        drive->m_bigEndian = !SheetSaysSwap(sheet);
    }
    drive->CloseLocked();
    if (!readable) {
        return fail("the image has no readable table of contents: " + sheet.string());
    }
    return drive;
}

bool CdioDrive::OpenLocked() {
    if (m_cdio != nullptr) {
        return true;
    }
    if (m_image) {
        m_cdio =
            cdio_open(m_openPath.empty() ? m_device.c_str() : m_openPath.c_str(), DRIVER_UNKNOWN);
    } else if (const char* mode = AccessMode(m_readType)) {
        m_cdio = cdio_open_am(m_device.c_str(), DRIVER_DEVICE, mode);
    } else {
        m_cdio = cdio_open(m_device.c_str(), DRIVER_DEVICE);
    }
    m_leadout = 0;
    return m_cdio != nullptr;
}

void CdioDrive::CloseLocked() {
    if (m_cdio != nullptr) {
        cdio_destroy(m_cdio);
        m_cdio = nullptr;
    }
}

bool CdioDrive::Open(int readType) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_opens == 0) {
        m_readType = readType;
    }
    if (!OpenLocked()) {
        return false;
    }
    ++m_opens;
    return true;
}

void CdioDrive::Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_opens > 0 && --m_opens == 0) {
        CloseLocked();
    }
}

bool CdioDrive::Hardware(DriveHardware& hardware) {
    if (m_image) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    cdio_hwinfo_t info{};
    if (m_cdio == nullptr || !cdio_get_hwinfo(m_cdio, &info)) {
        return false;
    }
    hardware.vendor = Trimmed(info.psz_vendor);
    hardware.model = Trimmed(info.psz_model);
    hardware.revision = Trimmed(info.psz_revision);
    return !hardware.model.empty();
}

std::string CdioDrive::Identity() {
    if (m_image) {
        return "Disc image: " + std::filesystem::path(m_device).filename().string();
    }
    std::lock_guard<std::mutex> lock(m_lock);
    cdio_hwinfo_t info{};
    if (m_cdio != nullptr && cdio_get_hwinfo(m_cdio, &info)) {
        std::string text = Trimmed(info.psz_vendor);
        for (const char* part : {info.psz_model, info.psz_revision}) {
            const std::string word = Trimmed(part);
            if (!word.empty()) {
                text += text.empty() ? word : " " + word;
            }
        }
        if (!text.empty()) {
            return text;
        }
    }
    return m_device;
}

bool CdioDrive::ReadToc(DiscToc& toc) {
    std::lock_guard<std::mutex> lock(m_lock);
    return ReadTocLocked(toc);
}

std::uint32_t CdioDrive::MediaChanges() {
    if (!m_image) {
        std::lock_guard<std::mutex> lock(m_lock);
        FollowMediaLocked();
    }
    return m_mediaChanges.load();
}

bool CdioDrive::FollowMediaLocked() {
    if (m_cdio == nullptr) {
        return false;
    }
    // libcdio reads a drive's table of contents once per open; a new disc
    // needs a fresh open. The drive tells of a change once only, so whoever
    // asks counts it for everyone.
    if (!m_image && cdio_get_media_changed(m_cdio) == 1) {
        m_mediaChanges.fetch_add(1);
        CloseLocked();
        return OpenLocked();
    }
    return true;
}

bool CdioDrive::ReadTocLocked(DiscToc& toc) {
    if (!FollowMediaLocked()) {
        return false;
    }
    const track_t first = cdio_get_first_track_num(m_cdio);
    const track_t count = cdio_get_num_tracks(m_cdio);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0 ||
        first + count - 1 > 99) {
        return false;
    }
    toc = DiscToc{};
    toc.firstTrack = first;
    toc.lastTrack = first + count - 1;
    std::int32_t previous = -1;
    for (int t = toc.firstTrack; t <= toc.lastTrack; ++t) {
        const auto number = static_cast<track_t>(t);
        DiscTocTrack track;
        track.number = t;
        track.start = cdio_get_track_lsn(m_cdio, number);
        track.data = cdio_get_track_format(m_cdio, number) != TRACK_FORMAT_AUDIO;
        track.copyPermitted = cdio_get_track_copy_permit(m_cdio, number) == CDIO_TRACK_FLAG_TRUE;
        track.preEmphasis = cdio_get_track_preemphasis(m_cdio, number) == CDIO_TRACK_FLAG_TRUE;
        track.fourChannel = cdio_get_track_channels(m_cdio, number) == 4;
        if (track.start == CDIO_INVALID_LSN || track.start < previous) {
            return false;
        }
        previous = track.start;
        toc.tracks.push_back(track);
    }
    toc.leadout = cdio_get_track_lsn(m_cdio, CDIO_CDROM_LEADOUT_TRACK);
    if (toc.leadout == CDIO_INVALID_LSN || toc.leadout <= previous) {
        return false;
    }
    m_leadout = toc.leadout;
    // A later session (an Enhanced CD's data) lies behind a lead-out and a
    // lead-in of its own.
    lsn_t lastSession = 0;
    if (m_laterSessionTrack >= toc.firstTrack && m_laterSessionTrack <= toc.lastTrack) {
        toc.lastSessionStart =
            toc.tracks[static_cast<std::size_t>(m_laterSessionTrack - toc.firstTrack)].start;
    } else if (cdio_get_last_session(m_cdio, &lastSession) == DRIVER_OP_SUCCESS &&
               lastSession > 0 && lastSession < toc.leadout) {
        toc.lastSessionStart = lastSession;
    }
    return true;
}

DriveStatus CdioDrive::ReadAudio(std::int32_t lsn, std::int32_t sectors, std::uint8_t* dest) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_cdio == nullptr || sectors <= 0 || dest == nullptr || lsn < 0) {
        return DriveStatus::kFailed;
    }
    if (m_image) {
        // An image answers reads past its end with stale bytes and success.
        if (m_leadout == 0) {
            DiscToc toc;
            ReadTocLocked(toc);
        }
        if (static_cast<std::int64_t>(lsn) + sectors > m_leadout) {
            return DriveStatus::kFailed;
        }
    }
    const driver_return_code_t rc =
        cdio_read_audio_sectors(m_cdio, dest, lsn, static_cast<std::uint32_t>(sectors));
    if (rc != DRIVER_OP_SUCCESS) {
        return DriveStatus::kFailed;
    }
    if (m_bigEndian) {
        SwapSampleBytes(dest, static_cast<std::size_t>(sectors) * kSectorBytes);
    }
    return DriveStatus::kOk;
}

DriveStatus CdioDrive::SetSpeed(int kbPerSecond) {
    if (m_image) {
        return DriveStatus::kOk;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_cdio == nullptr) {
        return DriveStatus::kFailed;
    }
    if (mmc_set_speed(m_cdio, kbPerSecond, 0) >= 0) {
        return DriveStatus::kOk;
    }
    // Drives without MMC take the speed as a multiple of 176 KB/s.
    const int factor = kbPerSecond >= 65535 ? 0xFFFF / 176 : kbPerSecond / 176;
    return FromCdio(cdio_set_speed(m_cdio, factor > 0 ? factor : 1));
}

bool CdioDrive::ReadSpeeds(int* maximal, int* current) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_cdio == nullptr) {
        return false;
    }
    std::uint8_t page[256] = {};
    if (mmc_mode_sense_10(m_cdio, page, sizeof page, CDIO_MMC_CAPABILITIES_PAGE) !=
        DRIVER_OP_SUCCESS) {
        return false;
    }
    // Mode parameter header (8 bytes), block descriptors, then the page.
    const std::size_t at = 8 + static_cast<std::size_t>(page[6] << 8 | page[7]);
    if (at + 16 > sizeof page || (page[at] & 0x3F) != CDIO_MMC_CAPABILITIES_PAGE) {
        return false;
    }
    *maximal = page[at + 8] << 8 | page[at + 9];
    *current = page[at + 14] << 8 | page[at + 15];
    return true;
}

int CdioDrive::GetCurrentSpeed() {
    if (m_image) {
        return kImageSpeed;
    }
    int maximal = 0;
    int current = 0;
    return ReadSpeeds(&maximal, &current) ? current : -1;
}

int CdioDrive::GetMaximalSpeed() {
    if (m_image) {
        return kImageSpeed;
    }
    int maximal = 0;
    int current = 0;
    return ReadSpeeds(&maximal, &current) ? maximal : -1;
}

DriveStatus CdioDrive::Eject() {
    // Never through libcdio for an image: ejecting one frees its internals
    // under the open handle.
    if (m_image) {
        return DriveStatus::kUnsupported;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    // Counted even when the drive refuses: the tray may have moved anyway.
    m_mediaChanges.fetch_add(1);
    return FromCdio(cdio_eject_media_drive(m_device.c_str()));
}

DriveStatus CdioDrive::PlayAudio(std::int32_t start, std::int32_t end) {
    if (m_image) {
        return DriveStatus::kUnsupported;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_cdio == nullptr || start < 0 || end <= start) {
        return DriveStatus::kFailed;
    }
    msf_t from;
    msf_t to;
    cdio_lsn_to_msf(start, &from);
    cdio_lsn_to_msf(end, &to);
    return FromCdio(cdio_audio_play_msf(m_cdio, &from, &to));
}

DriveStatus CdioDrive::PauseAudio() {
    if (m_image) {
        return DriveStatus::kUnsupported;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    return m_cdio == nullptr ? DriveStatus::kFailed : FromCdio(cdio_audio_pause(m_cdio));
}

DriveStatus CdioDrive::ResumeAudio() {
    if (m_image) {
        return DriveStatus::kUnsupported;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    return m_cdio == nullptr ? DriveStatus::kFailed : FromCdio(cdio_audio_resume(m_cdio));
}

DriveStatus CdioDrive::StopAudio() {
    if (m_image) {
        return DriveStatus::kUnsupported;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    return m_cdio == nullptr ? DriveStatus::kFailed : FromCdio(cdio_audio_stop(m_cdio));
}

DriveStatus CdioDrive::ReadPosition(PlayPosition& position) {
    if (m_image) {
        return DriveStatus::kUnsupported;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_cdio == nullptr) {
        return DriveStatus::kFailed;
    }
    cdio_subchannel_t sub{};
    const DriveStatus status = FromCdio(cdio_audio_read_subchannel(m_cdio, &sub));
    if (status != DriveStatus::kOk) {
        return status;
    }
    switch (sub.audio_status) {
    case CDIO_MMC_READ_SUB_ST_PLAY:
        position.state = AudioState::kPlaying;
        break;
    case CDIO_MMC_READ_SUB_ST_PAUSED:
        position.state = AudioState::kPaused;
        break;
    case CDIO_MMC_READ_SUB_ST_COMPLETED:
        position.state = AudioState::kCompleted;
        break;
    case CDIO_MMC_READ_SUB_ST_ERROR:
        position.state = AudioState::kError;
        break;
    default:
        position.state = AudioState::kNone;
        break;
    }
    position.track = sub.track;
    position.index = sub.index;
    position.absolute = cdio_msf_to_lsn(&sub.abs_addr);
    // A relative address has no lead-in to take off.
    position.relative = cdio_msf_to_lba(&sub.rel_addr);
    return DriveStatus::kOk;
}

} // namespace qm
