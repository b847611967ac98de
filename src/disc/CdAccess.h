// The CD access functions the ripper and the drive control call: the drive
// list, handles, the table of contents in sector or M-S-F addresses, audio
// reads (plain and jitter-corrected), drive parameters, the drive's name and
// the CDDB disc id. Results are 1 (done) or 4 (failed); GetAspiLibError says
// why the last call on this thread failed.
#pragma once

#include <cstdint>
#include <memory>

#include "disc/CdDrive.h"

namespace qm {

constexpr int kCdOk = 1;
constexpr int kCdFailed = 4;

// GetAspiLibError values.
constexpr int kCdErrNone = 0;
constexpr int kCdErrArgument = -1;    // a null or malformed record
constexpr int kCdErrNoDrive = -2;     // no drive has that address, or it would not open
constexpr int kCdErrNoDisc = -3;      // no table of contents
constexpr int kCdErrRead = -4;        // the drive failed the read
constexpr int kCdErrUnsupported = -5; // the drive cannot do that
constexpr int kCdErrNoMemory = -6;
constexpr int kCdErrOverlap = -15; // the data came back but its overlap did not match
// The CDDB client's failures (CddbAccess.h).
constexpr int kCdErrNetwork = -20; // the server could not be reached or did not answer in time
constexpr int kCdErrServer = -21;  // the server answered with an error status
constexpr int kCdErrReply = -22;   // the reply is not what the protocol says
constexpr int kCdErrTooLong = -23; // the reply does not fit where it has to go

// Parameters of ModifyCDParms and QueryCDParms.
constexpr int kCdParamMaxSpeed = 29;    // KB/s, query only
constexpr int kCdParamSpeed = 32;       // KB/s; 65535 = fastest
constexpr int kCdParamAddressMode = 36; // 0 sectors, 1 M-S-F for the next ReadTOC
// The drive's read offset in samples (a signed value in the unsigned one):
// every audio read on the handle is corrected by it (OffsetRead.h).
constexpr int kCdParamReadOffset = 40;
constexpr std::uint32_t kCdFastest = 65535;

constexpr int kCdMaxDrives = 8;

// Bit 2 of a TOC entry's ADR/control byte.
constexpr std::uint8_t kTocDataTrack = 0x04;
constexpr std::uint8_t kTocLeadout = 0xAA;

struct CdDriveEntry {
    std::uint8_t hostAdapter = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    char device[118] = {}; // device path or image file, cut to fit
};

struct CdDriveList {
    std::uint8_t capacity = 0; // set by the caller, at most kCdMaxDrives
    std::uint8_t count = 0;
    CdDriveEntry drives[kCdMaxDrives];
};
static_assert(sizeof(CdDriveList) == 970);

struct CdHandleRequest {
    std::uint8_t size = 12;
    std::uint8_t version = 1;
    std::uint8_t hostAdapter = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    std::uint8_t readType = 0;
    std::uint8_t reserved[4] = {};
    std::uint8_t jitterSectors = 0;
    std::uint8_t overlapSectors = 0;
};
static_assert(sizeof(CdHandleRequest) == 12);

struct CdTocEntry {
    std::uint8_t reserved = 0;
    std::uint8_t adrControl = 0;
    std::uint8_t trackNumber = 0; // kTocLeadout for the lead-out
    std::uint8_t reserved2 = 0;
    std::uint8_t address[4] = {}; // most significant byte first: sector, or 0-M-S-F
};

struct CdToc {
    std::uint8_t length[2] = {}; // bytes after this field, most significant first
    std::uint8_t firstTrack = 0;
    std::uint8_t lastTrack = 0;
    CdTocEntry entries[100];
};
static_assert(sizeof(CdToc) == 804);

// A block of sectors: this header, then the sample bytes. Allocate it with
// NewSectorBuffer, which zeroes it and sets the capacity.
struct CdSectorBuffer {
    std::int32_t startSector = 0;
    std::int32_t sectorCount = 0;
    std::int32_t capacity = 0;   // bytes of sample room
    std::int32_t validBytes = 0; // bytes of samples from startOffset
    std::int32_t status = 0;
    std::int32_t startOffset = 0; // where the new samples start
    std::uint8_t* Data() { return reinterpret_cast<std::uint8_t*>(this + 1); }
    const std::uint8_t* Data() const { return reinterpret_cast<const std::uint8_t*>(this + 1); }
};
static_assert(sizeof(CdSectorBuffer) == 24);

struct SectorBufferFree {
    void operator()(CdSectorBuffer* buffer) const;
};
using SectorBufferPtr = std::unique_ptr<CdSectorBuffer, SectorBufferFree>;

// Room for `sectors` sectors; null when memory runs out.
SectorBufferPtr NewSectorBuffer(std::int32_t sectors);

struct CdHandle;

int GetCDList(CdDriveList* list);
// Null when the request is malformed or names no drive that opens.
CdHandle* GetCDHandle(const CdHandleRequest* request);
bool CloseCDHandle(CdHandle* handle);
int ModifyCDParms(CdHandle* handle, int parameter, std::uint32_t value);
int QueryCDParms(CdHandle* handle, int parameter, std::uint32_t* value);
int ReadTOC(CdHandle* handle, CdToc* toc);
// A table ReadTOC gave in sector addresses as it would give it in M-S-F
// addresses: who keeps one table need not read the disc twice.
CdToc MsfToc(const CdToc& sectors);
// Reads buffer->sectorCount sectors from buffer->startSector.
int ReadCDAudioLBA(CdHandle* handle, CdSectorBuffer* buffer);
// The jitter-corrected read. `overlap` holds the sectors just before the
// requested ones as they were delivered last time; the read starts a little
// before them, finds their last samples in what came back, and delivers the
// samples that follow from buffer->startOffset on (buffer->sectorCount and
// validBytes may come back smaller than asked when the buffer has no room for
// the extra sectors). When the overlap does not match, the samples are
// delivered as read, the result is 4 and GetAspiLibError gives -15. Either
// way `overlap` then holds the tail of what was delivered. An empty overlap,
// or one that does not end where the read starts, makes this a plain read.
int ReadCDAudioLBAEx(CdHandle* handle, CdSectorBuffer* buffer, CdSectorBuffer* overlap);
int GetAspiLibError();
// Sets what GetAspiLibError answers on this thread; the CDDB client files its
// failures here too.
void SetAspiLibError(int error);
int GetCDId(CdHandle* handle, char* text, int size);
// ids[0] = CDDB disc id, ids[1] = track count n, ids[2..n+1] = each track's
// start in frames counted from the lead-in (sector + 150), ids[n+2] = the
// disc's length in seconds from the lead-in: what a CDDB query sends. `count`
// must be at least n + 3.
int GetCDDBDiskID(CdHandle* handle, std::uint32_t* ids, int count);

// The drive behind a handle (null for none).
std::shared_ptr<CdDrive> HandleDrive(CdHandle* handle);

// Whether the track numbered `track` opens a later session (SessionBreakBefore
// in CdDrive.h); false when the disc has no such track.
bool SessionBreakBefore(CdHandle* handle, int track);

// The standard CDDB disc id of a table of contents.
std::uint32_t CddbDiscId(const DiscToc& toc);

} // namespace qm
