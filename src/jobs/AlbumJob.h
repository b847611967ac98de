// The album rip: the checked tracks of the disc, each limited to a chosen
// time range, go into one output file with optional silence between them,
// one encoder set-up and one tag for the whole file, and a cue sheet
// beside it. The second job driver beside the grab job; it shares its stage
// objects, error registry, progress tracker, log and prompts.
//
// The chain is ripper -> resampler -> the album's encoder, built once in
// InitEncoder and kept open across tracks: the ripper does not close it at
// the end of a track, and it announces the stream format to it only before
// the first track, so that the album is one continuous stream. Only the
// front end's thread closes the chain.
//
// Threads: as the grab job. RIPAlbumProc runs one track on the worker; the
// front end polls the finish event through OnTimer every 200 ms.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "jobs/AlbumView.h"
#include "jobs/Data.h"
#include "jobs/GrabJob.h"
#include "jobs/TrackChain.h"
#include "jobs/TracksView.h"
#include "output/CueSheet.h"
#include "platform/Event.h"
#include "settings/Settings.h"

class CAlbumJob {
public:
    static constexpr int kErrorCountdown = 10;
    static constexpr int kDiscChangedCountdown = 5;
    // 44100 Hz stereo 16-bit frames of one second, and of one CD sector.
    static constexpr std::int32_t kFramesPerSecond = 44100;
    static constexpr std::int32_t kFramesPerSector = 588;

    struct Row {
        std::int32_t track = 0;
        bool isData = false;
        bool checked = false;
        double length = 0; // seconds
        double start = 0;  // the range, seconds from the track's start
        double end = 0;
        std::string title; // the tag title
        std::string artist;
    };

    enum class Outcome {
        kNone,      // none has run
        kComplete,  // the album file is written
        kFailed,    // an error; the album file is deleted
        kCancelled, // Stop, or a question answered No; the album file is deleted
    };

    CAlbumJob(CData& data, CAlbumView& view);
    CAlbumJob(const CAlbumJob&) = delete;
    CAlbumJob& operator=(const CAlbumJob&) = delete;
    // A rip still running is stopped, its worker waited for and the album
    // file deleted.
    ~CAlbumJob();

    // The dialog's opening: false without a disc. The rows with their full
    // ranges; the album record from the default track with the info bar's
    // year, genre, album and artist; the output folder; the stored mask and
    // silence values.
    bool OnInitDialog(const InfoBarValues& infoBar, const RipAlbumSettings& stored);

    // "m:ss.ff" of a time in seconds ("%02d:%02d.%02d").
    static std::string TimeToString(double seconds);
    // minutes:seconds.fraction; a lone number counts as minutes; minutes
    // and seconds below 60; one or two fraction digits. False for anything
    // else.
    static bool StringToTime(const std::string& text, double* seconds);
    // A range the row can take: an audio row, 0 <= from < to <= its length.
    bool IsCorrectTime(int row, double from, double to) const;

    // The rows and their edits.
    const std::vector<Row>& GetRows() const { return m_rows; }
    // Data rows stay unchecked.
    void SetChecked(int row, bool checked);
    // False (nothing changed) for a range IsCorrectTime rejects.
    bool SetRange(int row, double from, double to);
    int GetNumberOfChecked() const;

    TrackRecord& AlbumTrack() { return m_albumTrack; }
    const std::string& GetOutputFileName() const { return m_outputFileName; }
    void SetOutputFileName(const std::string& name) { m_outputFileName = name; }
    const std::string& GetOutputFolder() const { return m_outputFolder; }
    void SetOutputFolder(const std::string& folder) { m_outputFolder = folder; }
    const std::string& GetNamingMask() const { return m_namingMask; }
    void SetNamingMask(const std::string& mask) { m_namingMask = mask; }
    bool GetInsertSilence() const { return m_insertSilence; }
    void SetInsertSilence(bool on) { m_insertSilence = on; }
    double GetSilenceLength() const { return m_silenceLength; }
    void SetSilenceLength(double seconds) { m_silenceLength = seconds; }
    // The output folder and the mask expanded with the album variant of
    // the naming, with the format's extension.
    void OnGenerateName();
    // The path the album is written to: the typed name with the format's
    // extension added when it has none (or one no format has). "" when it
    // names another format's extension (`error` says so).
    std::string AlbumPath(std::string* error) const;

    // Start (idle): the checks, InitEncoder, the first track. Stop (running):
    // asks "Do you want to terminate process?" and stops on Yes.
    void OnStart();
    // Stops without asking (Ctrl-C, closing the dialog).
    void StopProcess();
    // The 200 ms poll.
    void OnTimer();
    void EnableControls(bool enable);
    bool IsRunning() const { return m_running; }
    bool IsProcessing() const { return m_running; }
    // Whether Start keeps the silence values in the settings store (the
    // dialog does; a terminal run does not).
    void SetStoreValues(bool store) { m_storeValues = store; }
    Outcome GetOutcome() const { return m_outcome; }
    // The album file and its cue sheet once the rip is complete.
    const std::string& GetAlbumPath() const { return m_albumPath; }
    const std::string& GetCuePath() const { return m_cuePath; }
    // Where each ripped track's audio starts in the album, in 44100 Hz
    // frames; the frames of silence before each (0 for the first).
    const std::vector<std::int64_t>& GetTrackStarts() const { return m_trackStarts; }

    // The job's steps, as the front end and the worker run them.
    bool InitEncoder();
    int ProcessNextTrack();
    void OnProcessStart();
    void OnProcessEnd();
    // Writes `ms` milliseconds of digital silence into `sink`; false when
    // the sink refused a block (the rest is not offered).
    bool InsertSilence(std::int32_t ms, CEncoder* sink);

private:
    // Counts the frames on their way into the chain (the cue sheet's
    // positions) and, after the album was aborted, takes the place of the
    // closed chain so the remaining tracks are still read.
    class CAlbumTap final : public CEncoder {
    public:
        void SetTarget(CEncoder* target) { m_target = target; }
        std::int64_t GetFrames() const { return m_frames.load(); }
        void ResetFrames() { m_frames.store(0); }
        void InitProgress(CProgress* progress, bool addProcess) override;
        WriteResult Write(const void* data, std::int32_t frames) override;
        std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                   std::int32_t bitsPerSample) override;
        void Close(bool complete) override;

    private:
        CEncoder* m_target = nullptr;
        std::atomic<std::int64_t> m_frames{0};
    };

    static void RIPAlbumProc(CAlbumJob* job);
    void RunTrack();
    void JoinWorker();
    PromptAnswer Ask(const std::string& message, int countdown);
    // Closes the chain (when still open) and deletes the album file.
    void AbortAlbum();
    // The end of the job: the album is closed, tagged and described on the
    // worker (closing and tagging a long file may take seconds), and the
    // job ends at the poll after (EndAlbum).
    void FinishAlbum();
    void CloseAlbum();
    void EndAlbum();
    void WriteCueSheet();
    // What ends after the album was closed (the MP3 library is let go).
    void FinishEncoder();
    void EndJob(Outcome outcome);

    CData& m_data;
    CAlbumView& m_view;
    CTrackChain m_chain;
    qm::EventHandle m_finishEvent;
    std::thread m_worker;

    std::vector<Row> m_rows;
    TrackRecord m_albumTrack;
    std::string m_outputFolder;
    std::string m_outputFileName;
    std::string m_namingMask;
    bool m_insertSilence = false;
    bool m_storeValues = true;
    double m_silenceLength = 2.0;
    std::uint32_t m_discId = 0;

    bool m_running = false;
    bool m_aborted = false;
    bool m_chainOpen = false;
    bool m_encoderSetUp = false;
    std::atomic<bool> m_stopRequested{false};
    // The album is being closed on the worker; m_albumClosed once it is,
    // with what went wrong in m_closeNotes and whether the file is lost.
    bool m_closing = false;
    std::atomic<bool> m_albumClosed{false};
    bool m_closeFailed = false;
    std::vector<std::string> m_closeNotes;
    Outcome m_outcome = Outcome::kNone;
    int m_currentRow = -1;
    int m_tracksStarted = 0;
    std::string m_albumPath;
    CGrabJob::FileState m_albumBefore; // what was at m_albumPath before the rip
    std::string m_cuePath;
    CEncoder* m_head = nullptr;
    CAlbumTap m_tap;
    std::vector<int> m_doneRows;
    std::vector<std::int64_t> m_trackStarts;
    std::vector<std::int64_t> m_gapStarts; // -1: no gap before the track
    std::int64_t m_pendingGap = -1;
    // Read by the worker.
    std::int32_t m_workerTrack = 0;
};
