#include "disc/CDRipper.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

#include "core/Error.h"
#include "core/Progress.h"
#include "core/Text.h"
#include "core/Trace.h"
#include "pipeline/Encoder.h"

namespace {

constexpr std::int32_t kMaxTrackEntries = 100;
// Room for the disc id, the count, 99 track starts and the length.
constexpr int kDiscIdValues = 103;

std::uint32_t Address(const qm::CdTocEntry& entry) {
    std::uint32_t value = 0;
    CCDRipper::MSB2DWORD(&value, entry.address);
    return value;
}

bool IsData(const qm::CdTocEntry& entry) {
    return (entry.adrControl & qm::kTocDataTrack) != 0;
}

std::int32_t Sectors(double seconds) {
    return static_cast<std::int32_t>(std::trunc(seconds * qm::kSectorsPerSecond));
}

} // namespace

CCDRipper::CCDRipper() {
    QM_TRACE("CCDRipper");
    m_progressWeight = 500;
    m_terminateEvent = qm::Event::OpenNamed(kTerminateEventName, false);
    m_seekEvent = qm::Event::OpenNamed(kSeekEventName, false);
    m_pauseEvent = qm::Event::OpenNamed(kPauseEventName, true);
}

CCDRipper::~CCDRipper() {
    QM_TRACE("CDRipper");
    Detach();
}

std::int32_t CCDRipper::JitterModeFromSetting(const std::string& value) {
    QM_TRACE("CDRipper");
    if (value == "Always") {
        QM_RETURN(0, kJitterAlways);
    }
    if (value == "OnError") {
        QM_RETURN(1, kJitterOnError);
    }
    QM_RETURN(2, kJitterNever);
}

void CCDRipper::MSB2DWORD(std::uint32_t* value, const std::uint8_t* bytes) {
    QM_TRACE("CDRipper");
    *value = static_cast<std::uint32_t>(bytes[0]) << 24 |
             static_cast<std::uint32_t>(bytes[1]) << 16 |
             static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

std::int64_t CCDRipper::Tick() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int32_t CCDRipper::GetCDNumber() {
    QM_TRACE("CDRipper");
    qm::CdDriveList list;
    list.capacity = qm::kCdMaxDrives;
    if (qm::GetCDList(&list) != qm::kCdOk) {
        QM_RETURN(0, 0);
    }
    QM_RETURN(1, list.count);
}

qm::CdHandle* CCDRipper::OpenDrive(std::int32_t driveIndex, std::int32_t readType) {
    QM_TRACE("CDRipper");
    qm::CdDriveList list;
    list.capacity = qm::kCdMaxDrives;
    if (driveIndex < 0 || qm::GetCDList(&list) != qm::kCdOk || driveIndex >= list.count) {
        QM_RETURN(0, nullptr);
    }
    const qm::CdDriveEntry& entry = list.drives[driveIndex];
    qm::CdHandleRequest request;
    request.hostAdapter = entry.hostAdapter;
    request.target = entry.target;
    request.lun = entry.lun;
    request.readType = static_cast<std::uint8_t>(readType);
    request.jitterSectors = m_jitterSectors;
    request.overlapSectors = m_overlapSectors;
    QM_RETURN(1, qm::GetCDHandle(&request));
}

bool CCDRipper::Attach(std::int32_t driveIndex, std::int32_t readType) {
    QM_TRACE("CDRipper");
    Detach();
    qm::CdHandle* handle = OpenDrive(driveIndex, readType);
    if (handle == nullptr) {
        QM_RETURN(0, false);
    }
    m_handle = handle;
    m_driveIndex = driveIndex;
    QM_RETURN(1, true);
}

void CCDRipper::Detach() {
    QM_TRACE("CDRipper");
    DropToc();
    if (m_handle != nullptr) {
        qm::CloseCDHandle(m_handle);
        m_handle = nullptr;
    }
}

std::int32_t CCDRipper::AutoDetect() {
    QM_TRACE("CDRipper");
    const std::int32_t count = GetCDNumber();
    for (std::int32_t index = 0; index < count; ++index) {
        qm::CdHandle* handle = OpenDrive(index, 0);
        if (handle == nullptr) {
            continue;
        }
        // A drive qualifies when its disc has at least one audio track.
        bool audio = false;
        qm::CdToc toc;
        if (qm::ModifyCDParms(handle, qm::kCdParamAddressMode, 1) == qm::kCdOk &&
            qm::ReadTOC(handle, &toc) == qm::kCdOk && toc.firstTrack <= toc.lastTrack) {
            for (int i = 0; i <= toc.lastTrack - toc.firstTrack; ++i) {
                audio = audio || !IsData(toc.entries[i]);
            }
        }
        qm::CloseCDHandle(handle);
        if (audio) {
            QM_RETURN(0, index);
        }
    }
    QM_RETURN(1, -1);
}

bool CCDRipper::GetDriveInfo(std::int32_t driveIndex, char* text, std::int32_t size) {
    QM_TRACE("CDRipper");
    if (m_handle != nullptr && driveIndex == m_driveIndex) {
        QM_RETURN(0, qm::GetCDId(m_handle, text, size) == qm::kCdOk);
    }
    qm::CdHandle* handle = OpenDrive(driveIndex, 0);
    if (handle == nullptr) {
        QM_RETURN(1, false);
    }
    const bool ok = qm::GetCDId(handle, text, size) == qm::kCdOk;
    qm::CloseCDHandle(handle);
    QM_RETURN(2, ok);
}

bool CCDRipper::GetCDString(char* text, std::int32_t size) {
    QM_TRACE("CDRipper");
    if (m_handle == nullptr) {
        QM_RETURN(0, false);
    }
    QM_RETURN(1, qm::GetCDId(m_handle, text, size) == qm::kCdOk);
}

bool CCDRipper::GetHaTgtLun(std::uint8_t* hostAdapter, std::uint8_t* target, std::uint8_t* lun) {
    QM_TRACE("CDRipper");
    if (m_handle == nullptr || hostAdapter == nullptr || target == nullptr || lun == nullptr) {
        QM_RETURN(0, false);
    }
    qm::CdDriveList list;
    list.capacity = qm::kCdMaxDrives;
    if (qm::GetCDList(&list) != qm::kCdOk || m_driveIndex < 0 || m_driveIndex >= list.count) {
        QM_RETURN(1, false);
    }
    *hostAdapter = list.drives[m_driveIndex].hostAdapter;
    *target = list.drives[m_driveIndex].target;
    *lun = list.drives[m_driveIndex].lun;
    QM_RETURN(2, true);
}

bool CCDRipper::ReadToc(qm::CdToc* toc, bool msf, SessionBreaks* breaks) {
    QM_TRACE("CDRipper");
    if (m_handle == nullptr) {
        QM_RETURN(0, false);
    }
    std::lock_guard<std::mutex> lock(m_tocLock);
    // Counted before the read: a disc changed while it goes on is read again.
    const std::shared_ptr<qm::CdDrive> drive = qm::HandleDrive(m_handle);
    const std::uint32_t changes = drive ? drive->MediaChanges() : 0;
    if (!m_toc.valid || m_toc.mediaChanges != changes) {
        m_toc.valid = false;
        if (qm::ModifyCDParms(m_handle, qm::kCdParamAddressMode, 0) != qm::kCdOk ||
            qm::ReadTOC(m_handle, &m_toc.sectors) != qm::kCdOk) {
            QM_RETURN(1, false);
        }
        const qm::CdToc& read = m_toc.sectors;
        m_toc.msf = qm::MsfToc(read);
        m_toc.mediaChanges = changes;
        m_toc.breaks = SessionBreaks{};
        // A table that makes no sense is not kept: it is read again next time.
        m_toc.valid = read.firstTrack <= read.lastTrack &&
                      read.lastTrack - read.firstTrack + 1 < kMaxTrackEntries;
        if (m_toc.valid) {
            // The tracks and the lead-out (which never opens a session).
            for (int i = 0; i <= read.lastTrack - read.firstTrack; ++i) {
                const qm::CdTocEntry& entry = read.entries[i];
                m_toc.breaks[static_cast<std::size_t>(i)] =
                    IsData(entry) && qm::SessionBreakBefore(m_handle, entry.trackNumber);
            }
        }
    }
    *toc = msf ? m_toc.msf : m_toc.sectors;
    if (breaks != nullptr) {
        *breaks = m_toc.breaks;
    }
    QM_RETURN(2, m_toc.valid);
}

void CCDRipper::DropToc() {
    QM_TRACE("CDRipper");
    std::lock_guard<std::mutex> lock(m_tocLock);
    m_toc.valid = false;
}

void CCDRipper::DropTocUnlessDisc(const std::uint32_t* ids) {
    QM_TRACE("CDRipper");
    std::lock_guard<std::mutex> lock(m_tocLock);
    if (!m_toc.valid) {
        QM_RETURN(0);
    }
    const qm::CdToc& toc = m_toc.sectors;
    const int tracks = toc.lastTrack - toc.firstTrack + 1;
    bool same = ids != nullptr && ids[1] == static_cast<std::uint32_t>(tracks);
    for (int i = 0; same && i < tracks; ++i) {
        same = Address(toc.entries[i]) + qm::kMsfOffset == ids[2 + i];
    }
    same = same && (Address(toc.entries[tracks]) + qm::kMsfOffset) / qm::kSectorsPerSecond ==
                       ids[tracks + 2];
    m_toc.valid = same;
    QM_EXIT(1);
}

bool CCDRipper::TrackEntry(std::int32_t track, bool msf, qm::CdToc* toc, std::int32_t* index,
                           SessionBreaks* breaks) {
    QM_TRACE("CDRipper");
    if (!ReadToc(toc, msf, breaks) || track < toc->firstTrack || track > toc->lastTrack) {
        QM_RETURN(0, false);
    }
    *index = track - toc->firstTrack;
    QM_RETURN(1, true);
}

bool CCDRipper::GetTrackRange(std::int32_t* firstTrack, std::int32_t* lastTrack) {
    QM_TRACE("CDRipper");
    qm::CdToc toc;
    if (firstTrack == nullptr || lastTrack == nullptr || !ReadToc(&toc, false)) {
        QM_RETURN(0, false);
    }
    *firstTrack = toc.firstTrack;
    *lastTrack = toc.lastTrack;
    QM_RETURN(1, true);
}

std::int32_t CCDRipper::GetTrackLength(std::int32_t track, bool inSectors) {
    QM_TRACE("CDRipper");
    qm::CdToc toc;
    std::int32_t index = 0;
    SessionBreaks breaks{};
    if (!TrackEntry(track, !inSectors, &toc, &index, &breaks)) {
        QM_RETURN(0, -1);
    }
    const qm::CdTocEntry& entry = toc.entries[index];
    const qm::CdTocEntry& next = toc.entries[index + 1];
    if (inSectors) {
        QM_RETURN(1, static_cast<std::int32_t>(Address(next) - Address(entry)));
    }
    std::int32_t seconds =
        (next.address[1] - entry.address[1]) * 60 + (next.address[2] - entry.address[2]);
    if (breaks[static_cast<std::size_t>(index) + 1]) {
        seconds -= kDataTrackGap / qm::kSectorsPerSecond;
    }
    QM_RETURN(2, seconds);
}

bool CCDRipper::IsDataTrack(std::int32_t track) {
    QM_TRACE("CDRipper");
    qm::CdToc toc;
    std::int32_t index = 0;
    if (!TrackEntry(track, false, &toc, &index)) {
        QM_RETURN(0, true);
    }
    QM_RETURN(1, IsData(toc.entries[index]));
}

std::int32_t CCDRipper::GetStartSector(std::int32_t track) {
    QM_TRACE("CDRipper");
    qm::CdToc toc;
    std::int32_t index = 0;
    if (!TrackEntry(track, false, &toc, &index)) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, static_cast<std::int32_t>(Address(toc.entries[index])));
}

std::int32_t CCDRipper::GetEndSector(std::int32_t track) {
    QM_TRACE("CDRipper");
    qm::CdToc toc;
    std::int32_t index = 0;
    if (!TrackEntry(track, false, &toc, &index)) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, static_cast<std::int32_t>(Address(toc.entries[index + 1])));
}

void CCDRipper::SetCut(bool cutEnabled, double cutBeginSeconds, double cutEndSeconds,
                       bool limitMode, double limitSeconds) {
    QM_TRACE("CDRipper");
    m_cutEnabled = cutEnabled;
    m_cutBeginSeconds = cutBeginSeconds;
    m_cutEndSeconds = cutEndSeconds;
    m_limitMode = limitMode;
    m_limitSeconds = limitSeconds;
}

void CCDRipper::SetCutEnabled(bool cutEnabled) {
    QM_TRACE("CDRipper");
    m_cutEnabled = cutEnabled;
}

void CCDRipper::SetJitterMode(std::int32_t jitterMode) {
    QM_TRACE("CDRipper");
    m_jitterMode =
        jitterMode == kJitterAlways || jitterMode == kJitterOnError ? jitterMode : kJitterNever;
}

std::int32_t CCDRipper::GetJitterMode() {
    QM_TRACE("CDRipper");
    return m_jitterMode;
}

void CCDRipper::SetPlayMode(bool playMode, std::int32_t offsetSeconds) {
    QM_TRACE("CDRipper");
    m_playMode = playMode;
    m_playOffsetSeconds = offsetSeconds;
}

void CCDRipper::SetSendFormat(bool sendFormat) {
    QM_TRACE("CDRipper");
    m_sendFormat = sendFormat;
}

bool CCDRipper::SetCDSpeed(std::uint8_t factor) {
    QM_TRACE("CDRipper");
    if (m_handle == nullptr) {
        QM_RETURN(0, false);
    }
    const std::uint32_t speed =
        factor == 255 ? qm::kCdFastest : static_cast<std::uint32_t>(factor * 176.5);
    QM_RETURN(1, qm::ModifyCDParms(m_handle, qm::kCdParamSpeed, speed) == qm::kCdOk);
}

std::int32_t CCDRipper::GetCurrentSpeed() {
    QM_TRACE("CDRipper");
    std::uint32_t value = 0;
    if (m_handle == nullptr || qm::QueryCDParms(m_handle, qm::kCdParamSpeed, &value) != qm::kCdOk) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, static_cast<std::int32_t>(value));
}

std::int32_t CCDRipper::GetMaximalSpeed() {
    QM_TRACE("CDRipper");
    std::uint32_t value = 0;
    if (m_handle == nullptr ||
        qm::QueryCDParms(m_handle, qm::kCdParamMaxSpeed, &value) != qm::kCdOk) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, static_cast<std::int32_t>(value));
}

std::int32_t CCDRipper::GetReadRate() {
    QM_TRACE("CDRipper");
    return m_reading.load() ? m_readRate.load() : 0;
}

bool CCDRipper::GetDiscId(std::uint32_t* id) {
    QM_TRACE("CDRipper");
    if (id == nullptr) {
        QM_RETURN(0, false);
    }
    std::uint32_t ids[kDiscIdValues] = {};
    const bool read =
        m_handle != nullptr && qm::GetCDDBDiskID(m_handle, ids, kDiscIdValues) == qm::kCdOk;
    *id = read ? ids[0] : 0;
    // The jobs ask for the disc id to notice another disc, also from drives
    // that do not tell of a change: the kept table must follow.
    if (m_handle != nullptr) {
        DropTocUnlessDisc(read ? ids : nullptr);
    }
    QM_RETURN(1, true);
}

void CCDRipper::SetReadOffset(std::int32_t samples) {
    QM_TRACE("CDRipper");
    m_readOffset = samples;
}

std::int32_t CCDRipper::GetReadOffset() {
    QM_TRACE("CDRipper");
    return m_readOffset;
}

void CCDRipper::SetComputeChecksums(bool compute) {
    QM_TRACE("CDRipper");
    m_computeChecksums = compute;
}

qm::TrackChecksums CCDRipper::GetTrackChecksums() {
    QM_TRACE("CDRipper");
    std::lock_guard<std::mutex> lock(m_checksumLock);
    return m_lastChecksums;
}

bool CCDRipper::LayoutOf(const qm::CdToc& toc, std::int32_t track, qm::ChecksumLayout* layout) {
    QM_TRACE("CDRipper");
    const int count = toc.lastTrack - toc.firstTrack + 1;
    int firstAudio = -1;
    int lastAudio = -1;
    std::int64_t discSamples = 0;
    std::int64_t trackSamples = -1;
    for (int i = 0; i < count; ++i) {
        if (IsData(toc.entries[i])) {
            continue;
        }
        std::int64_t end = Address(toc.entries[i + 1]);
        if (IsData(toc.entries[i + 1])) {
            end -= kDataTrackGap;
        }
        const std::int64_t samples =
            std::max<std::int64_t>(0, end - Address(toc.entries[i])) * qm::kFramesPerSector;
        discSamples += samples;
        firstAudio = firstAudio < 0 ? i : firstAudio;
        lastAudio = i;
        if (i == track - toc.firstTrack) {
            trackSamples = samples;
        }
    }
    if (trackSamples < 0) {
        QM_RETURN(0, false);
    }
    layout->trackSamples = trackSamples;
    layout->firstAudio = track - toc.firstTrack == firstAudio;
    layout->lastAudio = track - toc.firstTrack == lastAudio;
    layout->discSamples = discSamples;
    QM_RETURN(1, true);
}

bool CCDRipper::GetChecksumLayout(std::int32_t track, qm::ChecksumLayout* layout) {
    QM_TRACE("CDRipper");
    qm::CdToc toc;
    if (layout == nullptr || !ReadToc(&toc, false) || track < toc.firstTrack ||
        track > toc.lastTrack) {
        QM_RETURN(0, false);
    }
    QM_RETURN(1, LayoutOf(toc, track, layout));
}

bool CCDRipper::ProcessSettings(std::int32_t track, CEncoder* sink, bool closeAtEnd) {
    QM_TRACE("CDRipper");
    qm::CdToc toc;
    std::int32_t index = 0;
    if (sink == nullptr || !TrackEntry(track, false, &toc, &index)) {
        QM_RETURN(0, false);
    }
    m_track = track;
    m_sink = sink;
    m_closeAtEnd = closeAtEnd;
    QM_RETURN(1, true);
}

void CCDRipper::InitProgress(CProgress* progress) {
    QM_TRACE("CCDRipper");
    if (progress != nullptr) {
        progress->Add(static_cast<std::uint32_t>(m_progressWeight), "Ripping CD track");
    }
    m_progress = progress;
    if (m_sink != nullptr) {
        m_sink->InitProgress(progress, false);
    }
}

void CCDRipper::FileError(int code, std::int32_t data) {
    QM_TRACE("CDRipper");
    if (m_error != nullptr) {
        m_error->Add(code, qm::mod::kCDRipper, data);
    }
}

void CCDRipper::CloseSink(bool complete) {
    QM_TRACE("CDRipper");
    if (m_sink != nullptr) {
        m_sink->Close(complete);
    }
}

std::int32_t CCDRipper::Fail(int code) {
    QM_TRACE("CDRipper");
    if (code != 0) {
        FileError(code);
    }
    CloseSink(false);
    m_reading.store(false);
    return 0;
}

CCDRipper::BlockResult CCDRipper::ReadBlock(qm::CdSectorBuffer* current, qm::CdSectorBuffer* other,
                                            qm::CdSectorBuffer* overlap, std::int32_t sectors) {
    QM_TRACE("CDRipper");
    const std::int32_t start = m_startSector.load();
    auto prepare = [start, sectors](qm::CdSectorBuffer* buffer) {
        buffer->startSector = start;
        buffer->sectorCount = sectors;
        buffer->validBytes = 0;
        buffer->startOffset = 0;
    };
    auto jitterReads = [&](qm::CdSectorBuffer* reference) {
        for (std::int32_t attempt = 0; attempt < m_retries; ++attempt) {
            if (m_terminateEvent->IsSet()) {
                return BlockResult::kTerminated;
            }
            prepare(current);
            if (qm::ReadCDAudioLBAEx(m_handle, current, reference) == qm::kCdOk ||
                qm::GetAspiLibError() == qm::kCdErrOverlap) {
                return BlockResult::kRead;
            }
        }
        return BlockResult::kFailed;
    };

    if (m_jitterMode == kJitterAlways) {
        const BlockResult result = jitterReads(overlap);
        QM_RETURN(0, result);
    }
    if (m_jitterMode == kJitterOnError) {
        if (m_terminateEvent->IsSet()) {
            QM_RETURN(1, BlockResult::kTerminated);
        }
        prepare(current);
        if (qm::ReadCDAudioLBA(m_handle, current) == qm::kCdOk) {
            QM_RETURN(2, BlockResult::kRead);
        }
        // Check the retries against the end of the block before this one.
        if (other->validBytes > 0 && other->sectorCount > m_jitterSectors) {
            const std::int32_t drop = other->sectorCount - m_jitterSectors;
            other->startSector += drop;
            other->startOffset += drop * qm::kSectorBytes;
            other->sectorCount = m_jitterSectors;
            other->validBytes = m_jitterSectors * qm::kSectorBytes;
        }
        const BlockResult result = jitterReads(other);
        QM_RETURN(3, result);
    }
    for (std::int32_t attempt = 0; attempt < m_retries; ++attempt) {
        if (m_terminateEvent->IsSet()) {
            QM_RETURN(4, BlockResult::kTerminated);
        }
        prepare(current);
        if (qm::ReadCDAudioLBA(m_handle, current) == qm::kCdOk) {
            QM_RETURN(5, BlockResult::kRead);
        }
    }
    QM_RETURN(6, BlockResult::kFailed);
}

std::optional<int> CCDRipper::SetUpRange(qm::CdToc* toc, std::int32_t* total) {
    if (m_handle == nullptr) {
        Fail(qm::err::kNotAttached);
        return 0;
    }
    if (m_sink == nullptr) {
        Fail(qm::err::kInvalidArgument);
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(m_checksumLock);
        m_lastChecksums = qm::TrackChecksums{};
    }
    SessionBreaks breaks{};
    if (!ReadToc(toc, false, &breaks)) {
        Fail(qm::err::kBadToc);
        return 2;
    }
    // The disc may have changed since ProcessSettings.
    if (m_track < toc->firstTrack || m_track > toc->lastTrack) {
        FileError(qm::err::kWrongTrack, m_track);
        Fail(0);
        return 3;
    }
    const std::int32_t index = m_track - toc->firstTrack;
    std::int32_t startSector = static_cast<std::int32_t>(Address(toc->entries[index]));
    std::int32_t endSector = static_cast<std::int32_t>(Address(toc->entries[index + 1]));
    if (breaks[static_cast<std::size_t>(index) + 1]) {
        endSector -= kDataTrackGap;
    }
    if (m_cutEnabled) {
        if (m_cutBeginSeconds > 0) {
            startSector += Sectors(m_cutBeginSeconds);
        }
        if (!m_limitMode && m_cutEndSeconds > 0) {
            endSector -= Sectors(m_cutEndSeconds);
        } else if (m_limitMode && m_limitSeconds > 0) {
            endSector = std::min(endSector, startSector + Sectors(m_limitSeconds));
        }
    }
    if (m_playMode) {
        if (m_playOffsetSeconds > 0 &&
            static_cast<std::int64_t>(m_playOffsetSeconds) * qm::kSectorsPerSecond <
                endSector - startSector) {
            startSector += m_playOffsetSeconds * qm::kSectorsPerSecond;
        }
        m_sectorsPerRead = kPlaySectorsPerRead;
    } else {
        m_sectorsPerRead = kRipSectorsPerRead;
    }
    m_startSector.store(startSector);
    m_endSector.store(endSector);
    *total = endSector - startSector;
    return std::nullopt;
}

bool CCDRipper::BeginChecksums(const qm::CdToc& toc) {
    qm::ChecksumLayout layout;
    const bool checksums = m_computeChecksums && !m_playMode && LayoutOf(toc, m_track, &layout);
    if (checksums) {
        if (m_pipeChecksums) {
            m_checksumPipe.Begin(layout);
        } else {
            m_checksums.Begin(layout);
        }
    }
    return checksums;
}

bool CCDRipper::SendFormat() {
    if (m_sendFormat && m_sink->SetInputProps(44100, 2, 16) != 0) {
        // The sink said why; a refused format ends the track.
        if (!IsAnyError()) {
            FileError(qm::err::kWriteFailed);
        }
        return false;
    }
    return true;
}

bool CCDRipper::AllocateBuffers(ReadBuffers* buffers) {
    buffers->blockA = qm::NewSectorBuffer(m_sectorsPerRead);
    bool allocated = buffers->blockA != nullptr;
    if (m_jitterMode == kJitterOnError) {
        buffers->blockB = qm::NewSectorBuffer(m_sectorsPerRead);
        buffers->overlap = qm::NewSectorBuffer(m_overlapSectors);
        allocated = allocated && buffers->blockB && buffers->overlap;
    } else if (m_jitterMode == kJitterAlways) {
        buffers->overlap = qm::NewSectorBuffer(m_overlapSectors);
        allocated = allocated && buffers->overlap;
        if (buffers->overlap) {
            buffers->overlap->startSector = 0;
            buffers->overlap->sectorCount = 0;
            buffers->overlap->validBytes = 0;
        }
    }
    return allocated;
}

void CCDRipper::BeginReading(RateMeter* rate) {
    m_terminateEvent->Reset();
    m_seekEvent->Reset();
    m_sink->SetStreaming(1);
    m_worker.store(std::this_thread::get_id());
    m_reading.store(true);
    m_pauseEvent->Set();
    rate->start = Tick();
    rate->bytes = 0;
    if (m_progress != nullptr) {
        m_progress->NextProcess();
    }
}

CCDRipper::ReadEnd CCDRipper::ReadLoop(const ReadBuffers& buffers, bool checksums,
                                       std::int32_t total, RateMeter* rate) {
    std::int32_t n = m_sectorsPerRead;
    std::int64_t block = 0;
    while (m_startSector.load() < m_endSector.load()) {
        const std::int32_t left = m_endSector.load() - m_startSector.load();
        if (left < n) {
            n = left;
        }
        m_lastTick = Tick();
        // With a second block, the blocks take turns so that the one before
        // is at hand for the retries' overlap check.
        qm::CdSectorBuffer* current = buffers.blockA.get();
        qm::CdSectorBuffer* other = buffers.blockB.get();
        if (buffers.blockB && block % 2 == 1) {
            std::swap(current, other);
        }
        const BlockResult result = ReadBlock(current, other, buffers.overlap.get(), n);
        if (result == BlockResult::kTerminated || m_terminateEvent->IsSet()) {
            return ReadEnd::kTerminated;
        }
        if (result == BlockResult::kFailed) {
            m_terminateEvent->Set();
            FileError(qm::err::kReadFailed);
            // A read the drive cannot do may mean the disc is gone or another.
            DropToc();
            return ReadEnd::kReadFailed;
        }
        const ReadEnd handed = HandOff(*current, checksums);
        if (handed != ReadEnd::kFinished) {
            return handed;
        }
        AdvancePast(*current, total, rate);
        if (ApplySeek()) {
            n = m_sectorsPerRead;
        }
        ++block;
    }
    return ReadEnd::kFinished;
}

CCDRipper::ReadEnd CCDRipper::HandOff(const qm::CdSectorBuffer& block, bool checksums) {
    if (!qm::WaitBeforeBlock(m_terminateEvent, m_sink->GetReadyEvent(), m_pauseEvent)) {
        return ReadEnd::kTerminated;
    }
    const std::uint8_t* samples = block.Data() + block.startOffset;
    if (checksums) {
        const auto frames = static_cast<std::size_t>(block.validBytes / 4);
        if (m_pipeChecksums) {
            m_checksumPipe.Add(samples, frames);
        } else {
            m_checksums.Add(samples, frames);
        }
    }
    if (m_sink->Write(samples, block.validBytes / 4) == WriteResult::Refused) {
        // The sink filed its own error; reading on would only waste time.
        if (!IsAnyError()) {
            FileError(qm::err::kWriteFailed);
        }
        return ReadEnd::kWriteFailed;
    }
    return ReadEnd::kFinished;
}

void CCDRipper::AdvancePast(const qm::CdSectorBuffer& block, std::int32_t total, RateMeter* rate) {
    rate->bytes += block.validBytes;
    const std::int64_t now = Tick();
    if (now - rate->start >= 1000) {
        m_readRate.store(static_cast<std::int32_t>(rate->bytes / (now - rate->start) * 1000));
        rate->start = now;
        rate->bytes = 0;
    }
    m_startSector.fetch_add(block.sectorCount);
    m_lastTick = Tick();
    if (m_progress != nullptr && total > 0) {
        const std::int64_t remaining = m_endSector.load() - m_startSector.load();
        const std::int64_t percent = 100 - remaining * 100 / total;
        m_progress->SetPercent(
            static_cast<std::uint8_t>(std::clamp<std::int64_t>(percent, 0, 100)));
    }
}

bool CCDRipper::ApplySeek() {
    if (!m_seekEvent->IsSet()) {
        return false;
    }
    m_checksums.Invalidate();
    m_checksumPipe.Invalidate();
    m_startSector.store(m_seekStart.load());
    m_endSector.store(m_seekEnd.load());
    m_seekEvent->Reset();
    return true;
}

void CCDRipper::EndCancelled() {
    Stop();
    FileError(qm::err::kCancelled);
    m_reading.store(false);
}

void CCDRipper::EndFinished(bool checksums) {
    if (checksums) {
        // A cut track holds fewer samples than the layout: not complete.
        std::lock_guard<std::mutex> lock(m_checksumLock);
        m_lastChecksums = m_pipeChecksums ? m_checksumPipe.Finish() : m_checksums.Result();
    }
    if (m_closeAtEnd) {
        CloseSink(true);
    }
    m_reading.store(false);
    m_readRate.store(0);
}

std::int32_t CCDRipper::Start() {
    QM_TRACE("CDRipper");
    qm::CdToc toc;
    std::int32_t total = 0;
    if (const std::optional<int> exit = SetUpRange(&toc, &total)) {
        QM_RETURN(*exit, 0);
    }
    const bool checksums = BeginChecksums(toc);
    qm::ModifyCDParms(m_handle, qm::kCdParamReadOffset, static_cast<std::uint32_t>(m_readOffset));
    if (!SendFormat()) {
        QM_RETURN(4, Fail(0));
    }
    ReadBuffers buffers;
    if (!AllocateBuffers(&buffers)) {
        QM_RETURN(5, Fail(qm::err::kNoMemory));
    }
    RateMeter rate;
    BeginReading(&rate);
    switch (ReadLoop(buffers, checksums, total, &rate)) {
    case ReadEnd::kReadFailed:
        QM_RETURN(6, Fail(0));
    case ReadEnd::kWriteFailed:
        QM_RETURN(7, Fail(0));
    case ReadEnd::kTerminated:
        EndCancelled();
        QM_RETURN(8, 1);
    case ReadEnd::kFinished:
        break;
    }
    EndFinished(checksums);
    QM_RETURN(9, 1);
}

void CCDRipper::Stop() {
    QM_TRACE("CDRipper");
    // While Start streams, another thread only asks it to end: closing the
    // sink under the worker's feet, or filing into the registry the worker
    // writes, is the worker's own business (it files the cancel itself).
    const bool foreign = m_reading.load() && m_worker.load() != std::this_thread::get_id();
    if (!m_terminateEvent->IsSet()) {
        m_terminateEvent->Set();
    } else if (!foreign) {
        CloseSink(false);
    }
    if (!foreign) {
        FileError(qm::err::kCancelled);
    }
}

bool CCDRipper::Seek(std::int32_t startSector, std::int32_t endSector) {
    QM_TRACE("CDRipper");
    if (!m_reading.load() || startSector >= endSector) {
        QM_RETURN(0, false);
    }
    m_seekStart.store(startSector);
    m_seekEnd.store(endSector);
    m_seekEvent->Set();
    QM_RETURN(1, true);
}

qm::EventHandle CCDRipper::GetTerminateEvent() {
    QM_TRACE("CDRipper");
    return m_terminateEvent;
}

void CCDRipper::SetTerminateEvent(qm::EventHandle event) {
    QM_TRACE("CDRipper");
    if (event) {
        m_terminateEvent = std::move(event);
    }
}

bool CCDRipper::IsTerminated() {
    QM_TRACE("CDRipper");
    return m_terminateEvent->IsSet();
}

void CCDRipper::Terminate() {
    QM_TRACE("CDRipper");
    m_terminateEvent->Set();
}

bool CCDRipper::Open(const char* /*fileName*/, CEncoder* sink) {
    QM_TRACE("CDRipper");
    m_sink = sink;
    return true;
}

qm::EventHandle CCDRipper::GetPauseEvent() {
    QM_TRACE("CDRipper");
    return m_pauseEvent;
}

qm::EventHandle CCDRipper::GetSeekEvent() {
    QM_TRACE("CDRipper");
    return m_seekEvent;
}

bool CCDRipper::IsReading() {
    QM_TRACE("CDRipper");
    return m_reading.load();
}

std::int32_t CCDRipper::GetCurrentSector() {
    QM_TRACE("CDRipper");
    return m_seekEvent->IsSet() ? m_seekStart.load() : m_startSector.load();
}

std::int32_t CCDRipper::GetDriveIndex() {
    QM_TRACE("CDRipper");
    return m_driveIndex;
}

qm::CdHandle* CCDRipper::GetHandle() {
    QM_TRACE("CDRipper");
    return m_handle;
}

DiscInfo& CCDRipper::GetDiscInfo() {
    QM_TRACE("CDRipper");
    return m_discInfo;
}
