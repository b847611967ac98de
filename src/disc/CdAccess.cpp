#include "disc/CdAccess.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "core/Text.h"
#include "disc/DriveList.h"
#include "disc/OffsetRead.h"

namespace qm {

struct CdHandle {
    std::shared_ptr<CdDrive> drive;
    std::uint8_t readType = 0;
    std::uint8_t jitterSectors = 0;
    std::uint8_t overlapSectors = 0;
    std::atomic<int> addressMode{0};
    // End of the disc as the last table read gave it; bounds the reads that
    // reach past the requested sectors.
    std::atomic<std::int32_t> leadout{0};
    // Jitter-corrected reads for buffers too small to take the extra sectors.
    std::vector<std::uint8_t> scratch;
    // The read offset in samples, and the end of the audio it may reach.
    std::atomic<std::int32_t> readOffset{0};
    std::atomic<std::int32_t> audioEnd{0};
    std::vector<std::uint8_t> offsetScratch;
};

namespace {

thread_local int t_lastError = kCdErrNone;

int Fail(int error) {
    t_lastError = error;
    return kCdFailed;
}

int Done() {
    t_lastError = kCdErrNone;
    return kCdOk;
}

// How the overlap is matched. The window is the last samples of the overlap;
// one sector is read ahead of the overlap and one after the request so that
// the window can be found when the drive lands early or late.
constexpr std::int32_t kLeadSectors = 1;
constexpr std::int32_t kTailSectors = 1;
// Sectors between an Enhanced CD's audio session and its data track.
constexpr std::int32_t kAudioSessionGap = 11400;
constexpr std::size_t kWindowBytes = 1176; // 294 frames
constexpr std::size_t kMaxShiftFrames = 1024;

// Where `window` lies in `data`, searched outwards from `expected` one frame
// at a time, at most kMaxShiftFrames either way; -1 when it is not there.
std::ptrdiff_t FindWindow(const std::uint8_t* data, std::size_t size, const std::uint8_t* window,
                          std::size_t windowBytes, std::size_t expected) {
    if (windowBytes == 0 || size < windowBytes) {
        return -1;
    }
    const std::ptrdiff_t last = static_cast<std::ptrdiff_t>(size - windowBytes);
    const auto base = static_cast<std::ptrdiff_t>(expected);
    for (std::ptrdiff_t shift = 0; shift <= static_cast<std::ptrdiff_t>(kMaxShiftFrames); ++shift) {
        const std::ptrdiff_t later = base + 4 * shift;
        const std::ptrdiff_t earlier = base - 4 * shift;
        if (later > last && earlier < 0) {
            break;
        }
        if (later <= last && std::memcmp(data + later, window, windowBytes) == 0) {
            return later;
        }
        if (shift != 0 && earlier >= 0 && earlier <= last &&
            std::memcmp(data + earlier, window, windowBytes) == 0) {
            return earlier;
        }
    }
    return -1;
}

bool ValidBuffer(const CdSectorBuffer* buffer) {
    return buffer != nullptr && buffer->sectorCount > 0 && buffer->capacity >= 0 &&
           static_cast<std::int64_t>(buffer->sectorCount) * kSectorBytes <= buffer->capacity;
}

// Keeps the last sectors of what `buffer` delivered as the next reference.
void KeepTail(const CdSectorBuffer& buffer, CdSectorBuffer* overlap) {
    if (overlap == nullptr || overlap == &buffer) {
        return;
    }
    const std::int32_t room = overlap->capacity / kSectorBytes;
    const std::int32_t keep = std::min(room, buffer.sectorCount);
    if (keep <= 0) {
        overlap->sectorCount = 0;
        overlap->validBytes = 0;
        return;
    }
    const std::int32_t skip = (buffer.sectorCount - keep) * kSectorBytes;
    std::memmove(overlap->Data(), buffer.Data() + buffer.startOffset + skip,
                 static_cast<std::size_t>(keep) * kSectorBytes);
    overlap->startSector = buffer.startSector + buffer.sectorCount - keep;
    overlap->sectorCount = keep;
    overlap->validBytes = keep * kSectorBytes;
    overlap->startOffset = 0;
    overlap->status = kCdOk;
}

std::int32_t Leadout(CdHandle* handle) {
    std::int32_t leadout = handle->leadout.load();
    if (leadout == 0) {
        DiscToc toc;
        if (handle->drive->ReadToc(toc)) {
            leadout = toc.leadout;
            handle->leadout.store(leadout);
        }
    }
    return leadout;
}

// The sector after the last audio sample of the disc: the lead-out, or on an
// Enhanced CD the end of its audio session.
std::int32_t AudioEnd(CdHandle* handle) {
    std::int32_t end = handle->audioEnd.load();
    if (end == 0) {
        DiscToc toc;
        if (handle->drive->ReadToc(toc)) {
            end = toc.leadout;
            if (toc.tracks.size() >= 2 && toc.tracks.back().data && !toc.tracks.front().data) {
                end = toc.tracks.back().start - kAudioSessionGap;
            }
            handle->audioEnd.store(end);
        }
    }
    return end;
}

// Every audio read goes through the handle's read offset.
DriveStatus ReadRaw(CdHandle* handle, std::int32_t lsn, std::int32_t sectors, std::uint8_t* dest) {
    const std::int32_t offset = handle->readOffset.load();
    if (offset == 0) {
        return handle->drive->ReadAudio(lsn, sectors, dest);
    }
    return ReadWithOffset(*handle->drive, lsn, sectors, offset, AudioEnd(handle), dest,
                          handle->offsetScratch);
}

void PutAddress(CdTocEntry& entry, std::int32_t lsn, bool msf) {
    if (msf) {
        const std::int32_t frames = lsn + kMsfOffset;
        entry.address[0] = 0;
        entry.address[1] = static_cast<std::uint8_t>(frames / (60 * kSectorsPerSecond));
        entry.address[2] = static_cast<std::uint8_t>(frames / kSectorsPerSecond % 60);
        entry.address[3] = static_cast<std::uint8_t>(frames % kSectorsPerSecond);
        return;
    }
    const auto value = static_cast<std::uint32_t>(lsn);
    for (int i = 0; i < 4; ++i) {
        entry.address[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

int DigitSum(std::uint32_t value) {
    int sum = 0;
    for (; value > 0; value /= 10) {
        sum += static_cast<int>(value % 10);
    }
    return sum;
}

} // namespace

void SectorBufferFree::operator()(CdSectorBuffer* buffer) const {
    ::operator delete(buffer);
}

SectorBufferPtr NewSectorBuffer(std::int32_t sectors) {
    if (sectors < 0) {
        return nullptr;
    }
    const std::size_t room = static_cast<std::size_t>(sectors) * kSectorBytes;
    void* memory = ::operator new(sizeof(CdSectorBuffer) + room, std::nothrow);
    if (memory == nullptr) {
        return nullptr;
    }
    std::memset(memory, 0, sizeof(CdSectorBuffer) + room);
    auto* buffer = new (memory) CdSectorBuffer;
    buffer->capacity = static_cast<std::int32_t>(room);
    return SectorBufferPtr(buffer);
}

int GetCDList(CdDriveList* list) {
    if (list == nullptr) {
        return Fail(kCdErrArgument);
    }
    const int capacity = std::min<int>(list->capacity, kCdMaxDrives);
    const std::vector<DriveEntry> drives = DriveList::Instance().Drives();
    list->count = 0;
    for (const DriveEntry& drive : drives) {
        if (list->count >= capacity) {
            break;
        }
        CdDriveEntry& entry = list->drives[list->count++];
        entry.hostAdapter = drive.hostAdapter;
        entry.target = drive.target;
        entry.lun = drive.lun;
        CopyTruncated(entry.device, sizeof entry.device, drive.drive->Device().c_str());
    }
    return Done();
}

CdHandle* GetCDHandle(const CdHandleRequest* request) {
    if (request == nullptr || request->size != sizeof(CdHandleRequest) || request->version != 1) {
        Fail(kCdErrArgument);
        return nullptr;
    }
    auto drive = DriveList::Instance().Find(request->hostAdapter, request->target, request->lun);
    if (!drive || !drive->Open(request->readType)) {
        Fail(kCdErrNoDrive);
        return nullptr;
    }
    auto* handle = new (std::nothrow) CdHandle;
    if (handle == nullptr) {
        drive->Close();
        Fail(kCdErrNoMemory);
        return nullptr;
    }
    handle->drive = std::move(drive);
    handle->readType = request->readType;
    handle->jitterSectors = request->jitterSectors;
    handle->overlapSectors = request->overlapSectors;
    Done();
    return handle;
}

bool CloseCDHandle(CdHandle* handle) {
    if (handle == nullptr) {
        Fail(kCdErrArgument);
        return false;
    }
    handle->drive->Close();
    delete handle;
    Done();
    return true;
}

std::shared_ptr<CdDrive> HandleDrive(CdHandle* handle) {
    return handle != nullptr ? handle->drive : nullptr;
}

int ModifyCDParms(CdHandle* handle, int parameter, std::uint32_t value) {
    if (handle == nullptr) {
        return Fail(kCdErrArgument);
    }
    switch (parameter) {
    case kCdParamAddressMode:
        handle->addressMode.store(value != 0 ? 1 : 0);
        return Done();
    case kCdParamReadOffset:
        handle->readOffset.store(static_cast<std::int32_t>(value));
        return Done();
    case kCdParamSpeed: {
        const int speed =
            value >= kCdFastest ? static_cast<int>(kCdFastest) : static_cast<int>(value);
        switch (handle->drive->SetSpeed(speed)) {
        case DriveStatus::kOk:
            return Done();
        case DriveStatus::kUnsupported:
            return Fail(kCdErrUnsupported);
        default:
            return Fail(kCdErrRead);
        }
    }
    default:
        return Fail(kCdErrArgument);
    }
}

int QueryCDParms(CdHandle* handle, int parameter, std::uint32_t* value) {
    if (handle == nullptr || value == nullptr) {
        return Fail(kCdErrArgument);
    }
    int result = -1;
    switch (parameter) {
    case kCdParamSpeed:
        result = handle->drive->GetCurrentSpeed();
        break;
    case kCdParamMaxSpeed:
        result = handle->drive->GetMaximalSpeed();
        break;
    case kCdParamAddressMode:
        result = handle->addressMode.load();
        break;
    default:
        return Fail(kCdErrArgument);
    }
    if (result < 0) {
        return Fail(kCdErrUnsupported);
    }
    *value = static_cast<std::uint32_t>(result);
    return Done();
}

int ReadTOC(CdHandle* handle, CdToc* toc) {
    if (handle == nullptr || toc == nullptr) {
        return Fail(kCdErrArgument);
    }
    DiscToc disc;
    if (!handle->drive->ReadToc(disc)) {
        return Fail(kCdErrNoDisc);
    }
    handle->leadout.store(disc.leadout);
    handle->audioEnd.store(0);
    const bool msf = handle->addressMode.load() == 1;
    *toc = CdToc{};
    toc->firstTrack = static_cast<std::uint8_t>(disc.firstTrack);
    toc->lastTrack = static_cast<std::uint8_t>(disc.lastTrack);
    std::size_t n = 0;
    for (const DiscTocTrack& track : disc.tracks) {
        CdTocEntry& entry = toc->entries[n++];
        entry.adrControl = static_cast<std::uint8_t>(
            0x10 | (track.fourChannel ? 0x08 : 0) | (track.data ? kTocDataTrack : 0) |
            (track.copyPermitted ? 0x02 : 0) | (track.preEmphasis ? 0x01 : 0));
        entry.trackNumber = static_cast<std::uint8_t>(track.number);
        PutAddress(entry, track.start, msf);
    }
    CdTocEntry& leadout = toc->entries[n++];
    // The lead-out carries the control bits of the track before it.
    leadout.adrControl = n >= 2 ? toc->entries[n - 2].adrControl : 0x10;
    leadout.trackNumber = kTocLeadout;
    PutAddress(leadout, disc.leadout, msf);
    const std::size_t length = 2 + n * sizeof(CdTocEntry);
    toc->length[0] = static_cast<std::uint8_t>(length >> 8);
    toc->length[1] = static_cast<std::uint8_t>(length);
    return Done();
}

CdToc MsfToc(const CdToc& sectors) {
    CdToc msf = sectors;
    const std::size_t length = static_cast<std::size_t>(sectors.length[0]) << 8 | sectors.length[1];
    const std::size_t entries = std::min(
        length < 2 ? std::size_t{0} : (length - 2) / sizeof(CdTocEntry), std::size(msf.entries));
    for (std::size_t i = 0; i < entries; ++i) {
        const CdTocEntry& entry = sectors.entries[i];
        const auto lsn = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(entry.address[0]) << 24 |
            static_cast<std::uint32_t>(entry.address[1]) << 16 |
            static_cast<std::uint32_t>(entry.address[2]) << 8 | entry.address[3]);
        PutAddress(msf.entries[i], lsn, true);
    }
    return msf;
}

int ReadCDAudioLBA(CdHandle* handle, CdSectorBuffer* buffer) {
    if (handle == nullptr || !ValidBuffer(buffer)) {
        return Fail(kCdErrArgument);
    }
    buffer->validBytes = 0;
    buffer->startOffset = 0;
    if (ReadRaw(handle, buffer->startSector, buffer->sectorCount, buffer->Data()) !=
        DriveStatus::kOk) {
        buffer->status = kCdFailed;
        return Fail(kCdErrRead);
    }
    buffer->validBytes = buffer->sectorCount * kSectorBytes;
    buffer->status = kCdOk;
    return Done();
}

int ReadCDAudioLBAEx(CdHandle* handle, CdSectorBuffer* buffer, CdSectorBuffer* overlap) {
    if (handle == nullptr || !ValidBuffer(buffer) || overlap == buffer) {
        return Fail(kCdErrArgument);
    }
    const std::int32_t start = buffer->startSector;
    const std::int32_t wanted = buffer->sectorCount;
    // The reference counts only when it holds the sectors right before the
    // requested ones, all inside its own buffer.
    const bool usable = overlap != nullptr && overlap->sectorCount > 0 &&
                        overlap->startOffset >= 0 &&
                        overlap->validBytes >= overlap->sectorCount * kSectorBytes &&
                        static_cast<std::int64_t>(overlap->startOffset) + overlap->validBytes <=
                            overlap->capacity &&
                        overlap->startSector + overlap->sectorCount == start;
    const std::int32_t reference = usable ? overlap->sectorCount : 0;
    if (reference <= 0) {
        const int result = ReadCDAudioLBA(handle, buffer);
        if (result == kCdOk) {
            KeepTail(*buffer, overlap);
        }
        return result;
    }

    const std::int32_t lead = std::min(kLeadSectors, start - reference);
    const std::int32_t first = start - reference - lead;
    const std::int32_t ahead = lead + reference;
    std::int32_t count = ahead + wanted + kTailSectors;
    const std::int32_t leadout = Leadout(handle);
    if (leadout > 0) {
        count = std::min(count, leadout - first);
    }
    // Read straight into the caller's block when it has room for the extra
    // sectors and at least one new one; it then delivers fewer sectors.
    const std::int32_t room = buffer->capacity / kSectorBytes;
    const bool inPlace = room >= ahead + 1 + kTailSectors;
    if (inPlace) {
        count = std::min(count, room);
    }
    if (count <= ahead) {
        return Fail(kCdErrArgument);
    }
    std::uint8_t* data = buffer->Data();
    if (!inPlace) {
        try {
            handle->scratch.resize(static_cast<std::size_t>(count) * kSectorBytes);
        } catch (const std::bad_alloc&) {
            return Fail(kCdErrNoMemory);
        }
        data = handle->scratch.data();
    }
    buffer->validBytes = 0;
    buffer->startOffset = 0;
    if (ReadRaw(handle, first, count, data) != DriveStatus::kOk) {
        buffer->status = kCdFailed;
        return Fail(kCdErrRead);
    }

    const std::size_t size = static_cast<std::size_t>(count) * kSectorBytes;
    const std::size_t referenceBytes = static_cast<std::size_t>(reference) * kSectorBytes;
    const std::size_t windowBytes = std::min(referenceBytes, kWindowBytes);
    const std::uint8_t* window =
        overlap->Data() + overlap->startOffset + referenceBytes - windowBytes;
    const std::size_t expected = static_cast<std::size_t>(ahead) * kSectorBytes - windowBytes;
    const std::ptrdiff_t found = FindWindow(data, size, window, windowBytes, expected);

    std::size_t newStart = found >= 0 ? static_cast<std::size_t>(found) + windowBytes
                                      : static_cast<std::size_t>(ahead) * kSectorBytes;
    std::int32_t delivered =
        std::min<std::int32_t>(wanted, static_cast<std::int32_t>((size - newStart) / kSectorBytes));
    bool matched = found >= 0;
    if (delivered <= 0) {
        // Matched so late that not one whole sector follows: take the
        // sectors where they should have been, unchecked.
        matched = false;
        newStart = static_cast<std::size_t>(ahead) * kSectorBytes;
        delivered = std::min<std::int32_t>(wanted, count - ahead);
    }
    if (inPlace) {
        buffer->startOffset = static_cast<std::int32_t>(newStart);
    } else {
        std::memcpy(buffer->Data(), data + newStart,
                    static_cast<std::size_t>(delivered) * kSectorBytes);
    }
    buffer->sectorCount = delivered;
    buffer->validBytes = delivered * kSectorBytes;
    buffer->status = matched ? kCdOk : kCdFailed;
    KeepTail(*buffer, overlap);
    return matched ? Done() : Fail(kCdErrOverlap);
}

int GetAspiLibError() {
    return t_lastError;
}

void SetAspiLibError(int error) {
    t_lastError = error;
}

int GetCDId(CdHandle* handle, char* text, int size) {
    if (handle == nullptr || text == nullptr || size <= 0) {
        return Fail(kCdErrArgument);
    }
    CopyTruncated(text, static_cast<std::size_t>(size), handle->drive->Identity().c_str());
    return Done();
}

bool SessionBreakBefore(CdHandle* handle, int track) {
    DiscToc toc;
    if (handle == nullptr || !handle->drive->ReadToc(toc) || track < toc.firstTrack ||
        track > toc.lastTrack) {
        return false;
    }
    return SessionBreakBefore(toc, static_cast<std::size_t>(track - toc.firstTrack));
}

std::uint32_t CddbDiscId(const DiscToc& toc) {
    if (toc.tracks.empty()) {
        return 0;
    }
    int sum = 0;
    for (const DiscTocTrack& track : toc.tracks) {
        sum += DigitSum(static_cast<std::uint32_t>(track.start + kMsfOffset) / kSectorsPerSecond);
    }
    const std::uint32_t seconds =
        static_cast<std::uint32_t>(toc.leadout + kMsfOffset) / kSectorsPerSecond -
        static_cast<std::uint32_t>(toc.tracks.front().start + kMsfOffset) / kSectorsPerSecond;
    return static_cast<std::uint32_t>(sum % 255) << 24 | seconds << 8 |
           static_cast<std::uint32_t>(toc.tracks.size());
}

int GetCDDBDiskID(CdHandle* handle, std::uint32_t* ids, int count) {
    if (handle == nullptr || ids == nullptr) {
        return Fail(kCdErrArgument);
    }
    DiscToc toc;
    if (!handle->drive->ReadToc(toc)) {
        return Fail(kCdErrNoDisc);
    }
    const int tracks = static_cast<int>(toc.tracks.size());
    if (count < tracks + 3) {
        return Fail(kCdErrArgument);
    }
    ids[0] = CddbDiscId(toc);
    ids[1] = static_cast<std::uint32_t>(tracks);
    for (int i = 0; i < tracks; ++i) {
        ids[2 + i] =
            static_cast<std::uint32_t>(toc.tracks[static_cast<std::size_t>(i)].start + kMsfOffset);
    }
    ids[tracks + 2] = static_cast<std::uint32_t>(toc.leadout + kMsfOffset) / kSectorsPerSecond;
    return Done();
}

} // namespace qm
