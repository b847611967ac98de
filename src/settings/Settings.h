// The settings the program keeps between runs, in plain structs that the
// application and its shared data hold for the whole run, and the functions
// that read them from the settings store at start-up (LoadSettings) and
// write them back when the main window closes (SaveSettings).
//
// Every struct starts with the first-run defaults: the values in use when
// the store does not exist at all. Member names are the store's value names.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "core/CDDBSettings.h"
#include "platform/SettingsStore.h"
#include "settings/TrackRecord.h"

// Room for this many drives' read methods.
inline constexpr int kMaxDrives = 255;
// The most tracks a grab encodes at once.
inline constexpr int kMaxEncoderThreads = 16;

// Longest value the loader takes, in bytes without the terminating NUL; a
// longer one counts as missing.
inline constexpr std::size_t kMaxSettingBytes = 4095;

struct WindowRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    bool operator==(const WindowRect&) const = default;
};

// The main window and its track list.
struct WindowSettings {
    // "Column%dWidth": N, Track name, Artist, Time, Output format, Status;
    // 0 = the list's default width.
    std::array<std::int32_t, 6> ColumnWidth{};
    WindowRect MainFrameRect;     // left, top, right, bottom
    bool StoreTrackNumber = true; // the info bar's "Write track's number" box

    bool operator==(const WindowSettings&) const = default;
};

enum JitterMode : std::int32_t { kJitterNever = 0, kJitterOnError = 1, kJitterAlways = 2 };

// The drives and how they are read.
struct DriveSettings {
    std::int32_t CDDrive = 0; // "CD-Drive": index of the selected drive
    bool AutoDetectCD = true; // pick the drive that holds a disc at start-up
    std::int32_t JitterCorrection = kJitterNever;
    bool RipMaxSpeed = false; // also puts the normalizer into the chain
    // "ReadMethod_CD%d": the read-method code of each drive.
    std::array<std::int32_t, kMaxDrives> ReadMethod{};
    // How many drives the program found: the read methods of drives
    // 0 .. driveCount - 1 are loaded and saved. Set before Load/Save.
    std::int32_t driveCount = 0;

    bool operator==(const DriveSettings&) const = default;
};

// What a refresh of the track list and a grab do besides grabbing.
struct JobSettings {
    bool AutoRefresh = false;      // refresh the track list when the disc changes
    bool GetCDDBOnRefresh = false; // query CDDB after each refresh
    bool MarkAllOnRefresh = false; // check all tracks after each refresh
    bool GetCDDBBeforeGrab = false;
    bool EjectAtEnd = true; // eject the disc after the last track
    // How many tracks of a grab are encoded at once while the next is read;
    // 0: as many as the machine has cores. 1 reads and encodes each track
    // in turn on one thread.
    std::int32_t EncoderThreads = 0;

    bool operator==(const JobSettings&) const = default;
};

// Output naming.
struct NamingSettings {
    std::string OutputFolder;
    std::string NameFormat = "track{TRACK}";
    bool GenerateIfExist = false; // make a new name instead of overwriting
    bool ParseMixedCD = false;    // split "artist / title" track titles
    bool AutoDetectMixedCD = false;

    bool operator==(const NamingSettings&) const = default;
};

enum PlaylistExistMode : std::int32_t { kOverwritePlaylist = 0, kAppendToPlaylist = 1 };
enum PlaylistNameRule : std::int32_t { kSpecifiedPlaylist = 0, kMaskPlaylist = 1 };

struct PlaylistSettings {
    bool AddToPlaylist = false;
    std::int32_t IfPlayListExist = kOverwritePlaylist;
    std::int32_t AddTo = kSpecifiedPlaylist;
    std::string SpecifiedPlaylist; // fixed playlist path, extension included
    std::string MaskPlaylist;      // playlist name template, extension included

    bool operator==(const PlaylistSettings&) const = default;
};

struct NormalizerSettings {
    bool Normalize = true;
    bool NormalizeOnlyIfLowerOrHigher = false;
    std::int32_t NormalizePeak = 96;    // percent
    std::int32_t NormalizeMinPeak = 91; // percent
    std::int32_t NormalizeMaxPeak = 98; // percent
    bool NormalizeUseWindow = false;
    std::int32_t NormalizeWindowSize = 1000;

    bool operator==(const NormalizerSettings&) const = default;
};

struct PlayerSettings {
    std::int32_t HowToPlay = 1;      // 0 analog (the drive plays), else digital
    std::int32_t PlaybackDevice = 0; // sound output device index
    bool EnableSound = false;        // play SoundFile when a disc is done
    std::string SoundFile;

    bool operator==(const PlayerSettings&) const = default;
};

enum MetadataSources : std::int32_t { kSourcesCDDB = 0, kSourcesMusicBrainz = 1, kSourcesBoth = 2 };

// Where disc names come from besides CDDB, and the cover picture.
struct MetadataSettings {
    std::int32_t MetadataSources = kSourcesCDDB;       // which services a look-up asks
    std::string MusicBrainzServer = "musicbrainz.org"; // host[:port], or a URL's start
    std::string CoverArtServer = "https://coverartarchive.org";
    bool EmbedCoverArt = false; // the front cover into every track's tag
    std::string SaveCoverArt;   // file name of the cover beside the tracks, "" for none

    bool operator==(const MetadataSettings&) const = default;
};

// Proof that a rip is right: the drive's read offset, the verification
// databases, and the rip log and cue sheet beside the files of a grab.
struct VerifySettings {
    std::int32_t ReadOffset = 0; // samples, signed
    bool VerifyRips = false;     // look the disc up and judge every track
    std::string AccurateRipServer = "http://www.accuraterip.com";
    std::string CTDBServer = "http://db.cuetools.net";
    bool RipLog = true;
    bool RipCueSheet = true;

    bool operator==(const VerifySettings&) const = default;
};

// Everything LoadSettings reads and SaveSettings writes.
struct QuavermillSettings {
    // Format, tag (comment, URL, copyright), cut settings and tag switches
    // that every new track record copies.
    TrackRecord DefaultTrack;
    WindowSettings window;
    DriveSettings drive;
    CDDBSettings cddb;
    JobSettings job;
    NamingSettings naming;
    PlaylistSettings playlist;
    NormalizerSettings normalizer;
    PlayerSettings player;
    MetadataSettings metadata;
    VerifySettings verify;

    bool operator==(const QuavermillSettings&) const = default;
};

// Reads every setting from `store`: the per-format keys of the default track
// first (FLAC, WAV, WMA, MP3, OGG, APE), then the others. A missing value
// takes its missing-value default or keeps the value in `settings`, as each
// key says; out-of-range numbers are replaced or ignored.
void LoadSettings(QuavermillSettings& settings, const qm::SettingsStore& store);
// Reads the store at qm::SettingsPath(). When there is none (or it cannot be
// read, or is damaged), every value keeps what `settings` holds, which for a
// fresh struct are the first-run defaults. True when a store was read.
bool LoadSettings(QuavermillSettings& settings);

// Writes every value into `store` (not saved yet).
void SaveSettings(const QuavermillSettings& settings, qm::SettingsStore& store);
// Writes every value into the store at qm::SettingsPath() (creating it; the
// values other parts keep there stay) and saves it. False when nothing could
// be saved; the old store is then unchanged.
bool SaveSettings(const QuavermillSettings& settings);

// The values that dialogs and pages keep under the same store themselves.

// The "Apply changes to all tracks" switch of each format page and of the
// format page ("ApplyNow_WMA" ... "ApplyNow_Format").
struct ApplyNowSettings {
    bool WMA = false;
    bool MP3 = false;
    bool OGG = false;
    bool WAV = false;
    bool APE = false;
    bool FLAC = false;
    bool Format = false;

    bool operator==(const ApplyNowSettings&) const = default;
};
void LoadApplyNow(ApplyNowSettings& values, const qm::SettingsStore& store);
void SaveApplyNow(const ApplyNowSettings& values, qm::SettingsStore& store);

// The album rip dialog.
struct RipAlbumSettings {
    std::string Mask_RipAlbum = "{ARTIST}\\{ALBUM}";
    bool InsertSilence_RipAlbum = false;
    double SilenceLength_RipAlbum = 2.0; // seconds, kept as "%.1lf"

    bool operator==(const RipAlbumSettings&) const = default;
};
void LoadRipAlbumSettings(RipAlbumSettings& values, const qm::SettingsStore& store);
void SaveRipAlbumSettings(const RipAlbumSettings& values, qm::SettingsStore& store);

// The log window's place ("LogLeftPosition" ...).
struct LogWindowPosition {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    bool operator==(const LogWindowPosition&) const = default;
};
// True, and `position` filled, only when all four values were read.
bool LoadLogWindowPosition(LogWindowPosition& position, const qm::SettingsStore& store);
void SaveLogWindowPosition(const LogWindowPosition& position, qm::SettingsStore& store);

// For the dialogs above: runs `read` on the store at qm::SettingsPath();
// false (and `read` not run) when there is no readable store.
bool ReadSettingsStore(const std::function<void(const qm::SettingsStore&)>& read);
// Runs `change` on the store at qm::SettingsPath() (created when missing)
// and saves it; false when it could not be saved.
bool ChangeSettingsStore(const std::function<void(qm::SettingsStore&)>& change);
