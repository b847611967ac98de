// One CD drive as the access layer sees it: a system drive or an opened disc
// image behind the same small interface. The access functions (CdAccess.h)
// and the drive control reach every drive through it, and tests put drives of
// their own into the drive list (DriveList.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

constexpr std::int32_t kSectorBytes = 2352;
constexpr std::int32_t kFramesPerSector = 588;
constexpr std::int32_t kSectorsPerSecond = 75;
// Absolute M-S-F addresses count the 2-second lead-in that sector 0 follows.
constexpr std::int32_t kMsfOffset = 150;

enum class DriveStatus {
    kOk = 0,
    kFailed = -1,
    kUnsupported = -2, // the drive (an image, say) cannot do this at all
};

struct DiscTocTrack {
    int number = 0;
    std::int32_t start = 0; // sector (LSN) of INDEX 01
    bool data = false;
    bool copyPermitted = false;
    bool preEmphasis = false;
    bool fourChannel = false;
};

struct DiscToc {
    int firstTrack = 0;
    int lastTrack = 0;
    std::vector<DiscTocTrack> tracks; // firstTrack .. lastTrack
    std::int32_t leadout = 0;         // sector after the last one of the disc
    // First sector of the last session on a multi-session disc (an Enhanced
    // CD's data track); 0 when the disc has one session or cannot say.
    std::int32_t lastSessionStart = 0;
};

// Whether tracks[index] opens a later session than the track before it: an
// Enhanced CD keeps a lead-out and a lead-in (11400 sectors) between its
// audio and its data session, which the audio track before must not run into.
// A data track that follows the audio in the same session has no such gap.
inline bool SessionBreakBefore(const DiscToc& toc, std::size_t index) {
    return index > 0 && index < toc.tracks.size() && toc.lastSessionStart > 0 &&
           toc.tracks[index].start >= toc.lastSessionStart &&
           toc.tracks[index - 1].start < toc.lastSessionStart;
}

enum class AudioState { kNone, kPlaying, kPaused, kCompleted, kError };

struct PlayPosition {
    AudioState state = AudioState::kNone;
    int track = 0;
    int index = 0;
    std::int32_t absolute = 0; // sector on the disc
    std::int32_t relative = 0; // sectors from the track's start
};

// What a drive's INQUIRY answer names: vendor, model and revision.
struct DriveHardware {
    std::string vendor;
    std::string model;
    std::string revision;
};

class CdDrive {
public:
    CdDrive() = default;
    CdDrive(const CdDrive&) = delete;
    CdDrive& operator=(const CdDrive&) = delete;
    virtual ~CdDrive() = default;

    // The device path, or the image's sheet file.
    virtual std::string Device() const = 0;
    virtual bool IsImage() const = 0;

    // Every handle opens the drive and closes it again; the drive stays open
    // while any handle is. readType is the configured read method (0 = auto).
    virtual bool Open(int readType) = 0;
    virtual void Close() = 0;

    // A text naming the drive: "Disc image: <file name>" or vendor, model and
    // revision.
    virtual std::string Identity() = 0;
    // The drive's vendor, model and revision; false when it has none (an
    // image) or cannot say.
    virtual bool Hardware(DriveHardware& /*hardware*/) { return false; }
    // False when there is no disc or its table of contents cannot be read.
    virtual bool ReadToc(DiscToc& toc) = 0;
    // How often the drive has seen its disc change (taken out, put in or
    // ejected) since it was made: whoever keeps what it read of a disc reads
    // it again when this moves. Drives whose disc cannot change answer 0.
    virtual std::uint32_t MediaChanges() { return 0; }
    // `sectors` raw audio sectors from `lsn` into `dest`, as little-endian
    // 16-bit stereo whatever the medium stores.
    virtual DriveStatus ReadAudio(std::int32_t lsn, std::int32_t sectors, std::uint8_t* dest) = 0;

    // Read speed in KB/s (65535 = fastest); -1 when unknown.
    virtual DriveStatus SetSpeed(int kbPerSecond) = 0;
    virtual int GetCurrentSpeed() = 0;
    virtual int GetMaximalSpeed() = 0;

    // Drive control. Drives that cannot (images) answer kUnsupported.
    virtual DriveStatus Eject() { return DriveStatus::kUnsupported; }
    virtual DriveStatus PlayAudio(std::int32_t /*start*/, std::int32_t /*end*/) {
        return DriveStatus::kUnsupported;
    }
    virtual DriveStatus PauseAudio() { return DriveStatus::kUnsupported; }
    virtual DriveStatus ResumeAudio() { return DriveStatus::kUnsupported; }
    virtual DriveStatus StopAudio() { return DriveStatus::kUnsupported; }
    virtual DriveStatus ReadPosition(PlayPosition& /*position*/) {
        return DriveStatus::kUnsupported;
    }
};

} // namespace qm
