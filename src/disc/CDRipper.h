// The ripper: the one source stage of the chain. It attaches to a CD drive
// (or an opened disc image), answers questions about the disc, and in Start
// reads one track block by block (jitter correction, retries, cutting, pause
// and seek) into the sink at the head of the chain. Playing a track through
// the sound card runs the same loop in play mode, one sector a block.
//
// Start runs on the job's worker thread. Stop, Seek and the pause event come
// from other threads and act only through the three events; the reading flag,
// the read rate and the read position are atomics read without a lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "core/CDDBSettings.h"
#include "core/DiscInfo.h"
#include "disc/CdAccess.h"
#include "disc/CddbAccess.h"
#include "disc/ChecksumPipe.h"
#include "disc/RipChecksums.h"
#include "pipeline/Decoder.h"

class CCDRipper : public CDecoder {
public:
    static constexpr const char* kTerminateEventName = "Terminate Thread Event CDRipper";
    static constexpr const char* kSeekEventName = "Seek Event CDRipper";
    static constexpr const char* kPauseEventName = "Pause Event CDRipper";
    // Sectors between the audio part of an Enhanced CD and its data track.
    static constexpr std::int32_t kDataTrackGap = 11400;
    static constexpr std::int32_t kRipSectorsPerRead = 26;
    static constexpr std::int32_t kPlaySectorsPerRead = 1;

    enum JitterMode : std::int32_t { kJitterNever = 0, kJitterOnError = 1, kJitterAlways = 2 };

    // How a CDDB look-up ended (GetCDInfo, GetLastCDDBStatus), and what the
    // track getters answer.
    enum CDDBStatus : std::int32_t {
        kCDDBOk = 0,
        kCDDBNoDrive = 1,
        kCDDBNoTracks = 6,     // the first or last track number is unreadable
        kCDDBQueryFailed = 7,  // the server could not be asked or refused
        kCDDBNoMatch = 8,      // no match, or its entry could not be read
        kCDDBTrackOutside = 9, // the track is not on the disc
    };
    // The client name the CDDB hello carries.
    static constexpr const char* kCDDBClientName = "CD ripper";

    CCDRipper();
    ~CCDRipper() override;

    // The "JitterCorrection" setting's text as a jitter mode.
    static std::int32_t JitterModeFromSetting(const std::string& value);
    // Value of 4 bytes stored most significant byte first.
    static void MSB2DWORD(std::uint32_t* value, const std::uint8_t* bytes);

    std::int32_t GetCDNumber();
    bool Attach(std::int32_t driveIndex, std::int32_t readType);
    void Detach();
    std::int32_t AutoDetect();
    bool GetDriveInfo(std::int32_t driveIndex, char* text, std::int32_t size);
    bool GetCDString(char* text, std::int32_t size);
    bool GetHaTgtLun(std::uint8_t* hostAdapter, std::uint8_t* target, std::uint8_t* lun);

    std::int32_t GetTrackLength(std::int32_t track, bool inSectors);
    bool IsDataTrack(std::int32_t track);
    std::int32_t GetStartSector(std::int32_t track);
    std::int32_t GetEndSector(std::int32_t track);
    // First and last track of the disc; false when detached or unreadable.
    bool GetTrackRange(std::int32_t* firstTrack, std::int32_t* lastTrack);

    void SetCut(bool cutEnabled, double cutBeginSeconds, double cutEndSeconds, bool limitMode,
                double limitSeconds);
    void SetCutEnabled(bool cutEnabled);
    void SetJitterMode(std::int32_t jitterMode);
    std::int32_t GetJitterMode();
    // Play mode reads one sector a block and starts `offsetSeconds` into the track.
    void SetPlayMode(bool playMode, std::int32_t offsetSeconds);
    void SetSendFormat(bool sendFormat);

    bool SetCDSpeed(std::uint8_t factor);
    std::int32_t GetCurrentSpeed();
    std::int32_t GetMaximalSpeed();
    std::int32_t GetReadRate();
    bool GetDiscId(std::uint32_t* id);

    // The drive's read offset in samples (the "ReadOffset" setting): every
    // read from the next Start on is corrected by it.
    void SetReadOffset(std::int32_t samples);
    std::int32_t GetReadOffset();
    // The checksums of the last track Start read (not in play mode); their
    // `complete` is false when it read only part of the track (a cut, a
    // seek, a stop or a failure).
    qm::TrackChecksums GetTrackChecksums();
    // Whether Start takes the checksums at all (on at construction).
    void SetComputeChecksums(bool compute);
    // Where `track` stands among the audio tracks of the disc for its
    // checksums; false when detached or the track is not an audio track.
    bool GetChecksumLayout(std::int32_t track, qm::ChecksumLayout* layout);

    bool ProcessSettings(std::int32_t track, CEncoder* sink, bool closeAtEnd);
    void InitProgress(CProgress* progress) override;
    std::int32_t Start() override;
    using CDecoder::Stop;
    // Any thread. Ends a running Start (it closes the sink without keeping the
    // output); a second Stop while idle closes the sink itself.
    void Stop();
    bool Seek(std::int32_t startSector, std::int32_t endSector);

    qm::EventHandle GetTerminateEvent() override;
    void SetTerminateEvent(qm::EventHandle event) override;
    bool IsTerminated() override;
    void Terminate() override;
    // The sink may also be given here; the file name is the sink's business.
    bool Open(const char* fileName, CEncoder* sink) override;

    qm::EventHandle GetPauseEvent();
    qm::EventHandle GetSeekEvent();
    bool IsReading();
    // The sector being read, or the pending seek target.
    std::int32_t GetCurrentSector();
    std::int32_t GetDriveIndex();
    qm::CdHandle* GetHandle();
    // The names of the disc in the drive (CDDB look-up or local cache).
    DiscInfo& GetDiscInfo();

    // CDDB look-up. The look-up runs in its caller's thread and blocks it
    // until the server has answered (or the time-out has passed); the disc
    // information and the match list are read once it has returned.
    //
    // Passes the settings to the CDDB client without asking anything: server,
    // path, e-mail, port, the proxy (the system's when the settings say so)
    // and the proxy's credentials.
    void SetCDDBSettings(const CDDBSettings& settings);
    void SetProxy(const std::string& host, std::int32_t port, bool use);
    void SetProxyAuth(bool enabled, const std::string& user, const std::string& password);
    // The system's proxy: the http_proxy (or HTTP_PROXY) variable. True when
    // it names none (the proxy is then off) or names a host and a port.
    bool SetProxyFromExplorer();
    // Empties the disc's names and rebuilds its track records from the table
    // of contents, without network access.
    void PrepareTS();
    // The whole look-up, taking the first match: a CDDBStatus.
    std::int32_t GetCDInfo(const CDDBSettings* settings, bool useSettings);
    // The look-up up to the choice: the number of matches (0 on failure;
    // GetLastCDDBStatus says why).
    std::int32_t QueryCDInfo(const CDDBSettings* settings, bool useSettings);
    // Fetches and parses the entry of match `match`. On failure (status 8)
    // the disc information is left as it was.
    bool ExtractCDInfo(std::int32_t match);
    // Parsers of an entry's text (xmcd format). The disc title joins all
    // its lines and splits at the first " / "; without one, artist and album
    // are both the whole text. The genre is the entry's DGENRE, when it has
    // one, in place of the match's category.
    void ExtractArtist(const char* text);
    void ExtractAlbum(const char* text);
    void ExtractGenre(const char* text);
    void ExtractYear(const char* text);
    void ExtractTrackInfo(const char* text, std::int32_t index);
    std::int32_t GetTrackTitle(std::int32_t track, std::string& text);
    std::int32_t GetTrackArtist(std::int32_t track, std::string& text);
    // The CDDB disc id of the disc the disc information belongs to (0: none).
    std::uint32_t GetCDDBID();
    std::int32_t GetLastCDDBStatus();
    // The matches of the last query; the chooser may correct their titles.
    std::span<qm::CddbMatch> GetCDDBMatches();
    // Mixed-artist mode: track titles "artist / title" are split.
    void SetMixedCDMode(bool mixed);
    bool GetMixedCDMode();

private:
    enum class BlockResult { kRead, kFailed, kTerminated };
    // How Start's read loop ended; kFinished also means a block was handed on.
    enum class ReadEnd { kFinished, kTerminated, kReadFailed, kWriteFailed };
    // The blocks one Start reads into: blockB and overlap only where the
    // jitter mode needs them.
    struct ReadBuffers {
        qm::SectorBufferPtr blockA;
        qm::SectorBufferPtr blockB;
        qm::SectorBufferPtr overlap;
    };
    // Bytes read since `start` (ms), for the read rate.
    struct RateMeter {
        std::int64_t start = 0;
        std::int64_t bytes = 0;
    };

    // For each entry of a table: whether it opens a later session (an
    // Enhanced CD's data track), so that the audio before it ends at the gap.
    using SessionBreaks = std::array<bool, 100>;
    // The disc's table of contents, in M-S-F or sector addresses. It is read
    // from the drive once per disc and kept until the disc may have changed.
    bool ReadToc(qm::CdToc* toc, bool msf, SessionBreaks* breaks = nullptr);
    // Forgets the kept table: the next question reads the disc again.
    void DropToc();
    // Drops the kept table unless the disc ids (GetCDDBDiskID's values; null
    // when there are none) describe the same disc.
    void DropTocUnlessDisc(const std::uint32_t* ids);
    static bool LayoutOf(const qm::CdToc& toc, std::int32_t track, qm::ChecksumLayout* layout);
    bool TrackEntry(std::int32_t track, bool msf, qm::CdToc* toc, std::int32_t* index,
                    SessionBreaks* breaks = nullptr);
    qm::CdHandle* OpenDrive(std::int32_t driveIndex, std::int32_t readType);
    BlockResult ReadBlock(qm::CdSectorBuffer* current, qm::CdSectorBuffer* other,
                          qm::CdSectorBuffer* overlap, std::int32_t sectors);
    // Start's steps, in their order. They are not traced themselves, so a
    // rip's trace shows Start and its exit index alone.
    //
    // Checks the attach and the sink, reads the table and sets the range to
    // read (cut, limit, play offset). On failure it has called Fail and gives
    // Start's exit index.
    std::optional<int> SetUpRange(qm::CdToc* toc, std::int32_t* total);
    // Whether this track's checksums are taken; begins them if so.
    bool BeginChecksums(const qm::CdToc& toc);
    // Tells the sink the format (when asked to); false, with the error filed,
    // when it refuses.
    bool SendFormat();
    bool AllocateBuffers(ReadBuffers* buffers);
    void BeginReading(RateMeter* rate);
    ReadEnd ReadLoop(const ReadBuffers& buffers, bool checksums, std::int32_t total,
                     RateMeter* rate);
    // Waits for the sink and the pause, sums the block and writes it.
    ReadEnd HandOff(const qm::CdSectorBuffer& block, bool checksums);
    // Moves the read position past `block`: read rate and progress.
    void AdvancePast(const qm::CdSectorBuffer& block, std::int32_t total, RateMeter* rate);
    // Takes up a pending seek; true when it did.
    bool ApplySeek();
    void EndCancelled();
    void EndFinished(bool checksums);
    // Files `code` (0: nothing), closes the sink without keeping its output.
    std::int32_t Fail(int code);
    void CloseSink(bool complete);
    void FileError(int code, std::int32_t data = 0);
    static std::int64_t Tick();
    // Look-up steps before the network: empties the names, reads the track
    // range and the lengths, and the disc id. A CDDBStatus.
    std::int32_t PrepareDisc();
    void ApplyCDDBOptions(const CDDBSettings* settings, bool useSettings);
    std::int32_t FindTrackInfo(std::int32_t track, const DiscTrackInfo** info);

    qm::EventHandle m_terminateEvent;
    qm::EventHandle m_seekEvent;
    qm::EventHandle m_pauseEvent;
    qm::CdHandle* m_handle = nullptr;
    std::int32_t m_driveIndex = -1;
    std::int32_t m_track = -1;
    bool m_closeAtEnd = false;
    bool m_sendFormat = true;
    std::atomic<std::int32_t> m_startSector{0};
    std::atomic<std::int32_t> m_endSector{0};
    std::atomic<std::int32_t> m_seekStart{0};
    std::atomic<std::int32_t> m_seekEnd{0};
    std::atomic<bool> m_reading{false};
    std::atomic<std::int32_t> m_readRate{0};
    std::int64_t m_lastTick = 0;
    std::int32_t m_sectorsPerRead = kRipSectorsPerRead;
    std::int32_t m_jitterMode = kJitterNever;
    std::uint8_t m_overlapSectors = 3;
    std::uint8_t m_jitterSectors = 1;
    std::int32_t m_retries = 3;
    bool m_cutEnabled = true;
    double m_cutBeginSeconds = 0.0;
    double m_cutEndSeconds = 0.0;
    bool m_limitMode = false;
    double m_limitSeconds = 0.0;
    bool m_playMode = false;
    std::int32_t m_playOffsetSeconds = 0;
    std::int32_t m_readOffset = 0;
    bool m_computeChecksums = true;
    // With cores to spare the checksums are summed on a thread of their own
    // while the reads go on; on two cores that thread only competes with
    // the reads and the encoder, and the reading thread sums them itself.
    bool m_pipeChecksums = std::thread::hardware_concurrency() > 2;
    qm::ChecksumPipe m_checksumPipe;
    qm::ChecksumAccumulator m_checksums;
    std::mutex m_checksumLock; // Start's result, read by the job's threads
    qm::TrackChecksums m_lastChecksums;
    DiscInfo m_discInfo;
    std::array<qm::CddbMatch, qm::kCddbMaxMatches> m_cddbMatches{};
    std::int32_t m_cddbMatchCount = 0;
    std::int32_t m_lastStatus = kCDDBOk;
    std::uint32_t m_discId = 0;
    std::atomic<bool> m_mixedCD{false};
    // The window asks for lengths while the worker reads: the kept table is
    // read, used and dropped under one lock.
    std::mutex m_tocLock;
    struct KeptToc {
        bool valid = false;
        std::uint32_t mediaChanges = 0; // the drive's count before the read
        qm::CdToc sectors;
        qm::CdToc msf; // made from `sectors` as the access layer would give it
        SessionBreaks breaks{};
    };
    KeptToc m_toc;
    std::atomic<std::thread::id> m_worker{};
};
