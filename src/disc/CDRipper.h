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

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "core/DiscInfo.h"
#include "disc/CdAccess.h"
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

private:
    enum class BlockResult { kRead, kFailed, kTerminated };

    bool ReadToc(qm::CdToc* toc, bool msf);
    bool TrackEntry(std::int32_t track, bool msf, qm::CdToc* toc, std::int32_t* index);
    qm::CdHandle* OpenDrive(std::int32_t driveIndex, std::int32_t readType);
    BlockResult ReadBlock(qm::CdSectorBuffer* current, qm::CdSectorBuffer* other,
                          qm::CdSectorBuffer* overlap, std::int32_t sectors);
    // Files `code` (0: nothing), closes the sink without keeping its output.
    std::int32_t Fail(int code);
    void CloseSink(bool complete);
    void FileError(int code, std::int32_t data = 0);
    static std::int64_t Tick();

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
    DiscInfo m_discInfo;
    // Setting the address mode and reading the table are one step: the window
    // asks for lengths while the worker reads.
    std::mutex m_tocLock;
    std::atomic<std::thread::id> m_worker{};
};
