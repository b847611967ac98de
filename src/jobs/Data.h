// The application's shared data: the one object, held for the whole run,
// through which the jobs, the track list and the windows reach the settings,
// the stages, the tracks of the disc in the drive and the per-user data
// folder. Its naming, cache and playlist operations bind the settings and
// the disc to the functions of output/ and disc/ that do the work.
//
// Threads: the user-interface thread owns the object. A grab's worker calls
// FormatName while the job runs; the job keeps the settings and the track
// records unchanged meanwhile, and sets the mixed-CD flag before it starts
// each track.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "disc/CDDrive.h"
#include "disc/CDRipper.h"
#include "jobs/GrabLog.h"
#include "jobs/TrackChain.h"
#include "player/Player.h"
#include "player/SoundPlayer.h"
#include "settings/Settings.h"
#include "settings/TrackRecord.h"

// The disc-level texts the info bar and the track list show; the cache
// loader and the grab job set them.
struct DiscTexts {
    std::string album;
    std::string artist;
    std::string year; // "%d" of a year from 1 to 9999, else ""
    std::string genre;

    bool operator==(const DiscTexts&) const = default;
};

class CTrackList;

class CData {
public:
    CData();
    ~CData();
    CData(const CData&) = delete;
    CData& operator=(const CData&) = delete;

    // Every setting of the run: loaded at start-up, saved at exit.
    QuavermillSettings& Settings() { return m_settings; }
    const QuavermillSettings& Settings() const { return m_settings; }
    // The record every new track record is copied from.
    TrackRecord& DefaultTrack() { return m_settings.DefaultTrack; }
    // One record per track of the disc in the drive, index 0 = its first
    // track; rebuilt by the track list on each refresh.
    std::vector<TrackRecord>& Tracks() { return m_tracks; }
    const std::vector<TrackRecord>& Tracks() const { return m_tracks; }
    // The single ripper of the run: it reads the disc and holds its names.
    CCDRipper& Ripper() { return m_ripper; }
    // The filter and sink stages of the run, one of each.
    CStageSet& Stages() { return m_stages; }
    // Direct control of a drive (eject at the end of a disc).
    CCDDrive& DriveControl() { return m_driveControl; }

    // The grab log, kept for the whole run.
    int AddToLog(const std::string& text, std::uint8_t kind);
    CGrabLog& GrabLog() { return m_grabLog; }

    // The grab job's state that other parts of the program look at: the
    // first track of the disc shown (-1 without a disc), the track being
    // grabbed, whether a grab runs, and whether it is a multi-disc grab.
    std::int32_t GetFirstTrack() const { return m_firstTrack.load(); }
    void SetFirstTrack(std::int32_t track) { m_firstTrack.store(track); }
    std::int32_t GetCurrentTrack() const { return m_currentTrack.load(); }
    void SetCurrentTrack(std::int32_t track) { m_currentTrack.store(track); }
    bool IsProcessing() const { return m_processing.load(); }
    void SetProcessing(bool processing) { m_processing.store(processing); }
    bool IsMultiDisc() const { return m_multiDisc.load(); }
    void SetMultiDisc(bool multiDisc) { m_multiDisc.store(multiDisc); }
    DiscTexts& GetDiscTexts() { return m_discTexts; }

    // The grab job's mixed-CD test result for the track about to be grabbed:
    // track artists then name the files.
    void SetMixedCD(bool mixedCD) { m_mixedCD = mixedCD; }
    bool GetMixedCD() const { return m_mixedCD; }

    // Where the program keeps its own files (the local CDDB cache):
    // qm::DefaultDataFolder() until a front end sets its --data-dir.
    const std::filesystem::path& DataFolder() const { return m_dataFolder; }
    void SetDataFolder(const std::filesystem::path& folder) { m_dataFolder = folder; }
    std::filesystem::path LocalCDDBFolder() const;

    // The disc in the drive: its CDDB id (0 when none can be computed) and
    // its first and last track numbers (-1 when its table cannot be read).
    std::uint32_t GetCDDBID();
    void GetTrackRange(std::int32_t* firstTrack, std::int32_t* lastTrack);

    // The output path of disc track `trackNumber`; "" when the disc's table
    // cannot be read, the track is not on the disc or has no record.
    std::string FormatName(std::int32_t trackNumber);
    // The album rip's file name from `mask` and the album record (no folder).
    std::string FormatName(const std::string& mask, const TrackRecord& albumTrack);

    // The cache file of the disc in the drive, in LocalCDDBFolder().
    bool SaveLocalCDDB();
    // Also sets the disc texts.
    bool LoadLocalCDDB();
    // Fills the disc's names from the CD-Text and REM lines of the CUE sheet
    // the drive reads (a disc image); false when there is none to take.
    bool LoadSheetNames();

    // The grab's playlist ("" when none is wanted), its creation or check at
    // the start of the grab, and adding a finished track.
    std::string GeneratePlaylistName();
    bool PreparePlaylist(const std::string& path);
    bool AddToPlaylist(const std::string& playlist, const std::string& track);

    // Playing a track (DataPlay.cpp). Digital playing ("HowToPlay" not 0)
    // runs the ripper in play mode into the player on a thread of its own;
    // analog playing asks the drive to play. The user-interface thread
    // calls these; the player's worker only runs the ripper.
    CPlayer& Player() { return m_player; }
    // The list whose row shows "Playing ..." while its track plays (none
    // in the terminal).
    void SetPlayList(CTrackList* list) { m_playList = list; }
    // Plays the track of row `listIndex` from `startOffset` seconds into it.
    bool Play(std::int32_t listIndex, std::int32_t startOffset);
    bool StopPlay(bool keepDrivePlaying);
    // True from Play to StopPlay; IsPlayEnded once a digital track has been
    // played out or ended with an error (its worker has finished).
    bool IsPlaying() const { return m_playing.load(); }
    bool IsPlayPaused() const { return m_paused.load(); }
    bool IsPlayEnded() const { return m_playEnded.load(); }
    // The track being played, -1 when none.
    std::int32_t GetPlayTrack() const { return m_playTrack.load(); }
    // Sectors from the start of the track; -1 when not playing or unknown.
    std::int32_t GetPlayerPosition();
    bool PlayerSeek(std::int32_t seconds);
    bool Pause(bool on);
    // The completion sound ("EnableSound", "SoundFile"), asynchronously.
    void PlaySound();
    CSoundPlayer& SoundPlayer() { return m_sound; }

private:
    void PlayProc();

    // What names a disc's cache entry: its id (0: none) and track range.
    struct CacheKey {
        std::uint32_t id = 0;
        std::int32_t first = -1;
        std::int32_t last = -1;
    };
    bool GetCacheKey(CacheKey* key);
    // The tags of the track records, in track order.
    std::vector<CID3Tag*> TrackTags();

    QuavermillSettings m_settings;
    std::vector<TrackRecord> m_tracks;
    CCDRipper m_ripper;
    CStageSet m_stages;
    CCDDrive m_driveControl;
    CGrabLog m_grabLog;
    DiscTexts m_discTexts;
    std::atomic<std::int32_t> m_firstTrack{-1};
    std::atomic<std::int32_t> m_currentTrack{-1};
    std::atomic<bool> m_processing{false};
    std::atomic<bool> m_multiDisc{false};
    std::atomic<bool> m_mixedCD{false};
    std::filesystem::path m_dataFolder;

    CPlayer m_player;
    CSoundPlayer m_sound;
    qm::EventHandle m_playFinish;
    CTrackList* m_playList = nullptr;
    std::thread m_playThread;
    std::atomic<bool> m_playing{false};
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_playEnded{false};
    std::atomic<std::int32_t> m_playTrack{-1};
    std::atomic<std::int32_t> m_playStart{0};
    std::atomic<std::int32_t> m_playEnd{0};
    bool m_playDigital = true;
    int m_playRow = -1;
    std::string m_playSavedStatus;
};
