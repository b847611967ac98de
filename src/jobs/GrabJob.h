// The grab job: grabs every checked track of the track list, one after the
// other, each through its own chain of stages on a worker thread, and
// reports each track's outcome in the list, the grab log and the window
// title. The front end calls StartProcess (Grab), StopProcess (Stop) and,
// while the poll timer runs, OnTimer every 200 ms.
//
// Threads: everything but RIPProc runs on the front end's thread. RIPProc
// runs on the worker; it reads only its own copy of the track's record and
// the settings, and tells the front end's thread that the track has ended
// through the finish event, which OnTimer polls. Only one worker runs at a
// time, and OnProcessEnd joins it before it looks at the outcome.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "disc/RipVerifier.h"
#include "jobs/Data.h"
#include "jobs/RipReport.h"
#include "jobs/TrackChain.h"
#include "jobs/TrackList.h"
#include "jobs/TracksView.h"
#include "platform/Event.h"

class CGrabJob {
public:
    static constexpr const char* kFinishEventName = "Conversion finished event";
    // Countdowns of the questions a grab asks, in seconds.
    static constexpr int kDiscChangedCountdown = 5;
    static constexpr int kPlaylistCountdown = 5;
    static constexpr int kErrorCountdown = 10;

    // How the last grab ended.
    enum class EndReason {
        kNone,      // none has run
        kFinished,  // no checked track was left
        kCancelled, // Stop
        kDeclined,  // a question after an error, a changed disc or a playlist was answered No
        kNoDisc,    // the disc was taken out between tracks
    };

    // What became of a row in the last grab.
    enum class TrackOutcome {
        kWaiting,   // not grabbed (not checked, or the job ended before it)
        kComplete,  // its file is written and tagged
        kFailed,    // an error; its partial file is deleted
        kCancelled, // Stop; its partial file is deleted
    };

    CGrabJob(CData& data, CTrackList& list, CTracksView& view);
    CGrabJob(const CGrabJob&) = delete;
    CGrabJob& operator=(const CGrabJob&) = delete;
    // A grab still running is stopped and its worker waited for.
    ~CGrabJob();

    // Grab: starts with the first checked track.
    void StartProcess();
    // Starts the next checked track: 1, or 0 when none is left or the job
    // ended before it (disc taken out or changed and not confirmed).
    int ProcessNextTrack();
    void OnProcessStart();
    void OnProcessEnd();
    // Stop: the track being grabbed ends "Cancelled" and the job with it.
    void StopProcess();
    // Idle (true) or grabbing (false).
    void EnableControls(bool enable);
    // The 200 ms poll.
    void OnTimer();
    // The row progress, the whole job's percentage in the title and the
    // main progress bar.
    void UpdateProgress();
    // Deletes a file, trying again for a while when it cannot be deleted.
    static bool MyDeleteFile(const std::string& path);

    bool IsProcessing() const { return m_data.IsProcessing(); }
    EndReason GetEndReason() const { return m_endReason; }
    int GetTracksDone() const { return m_tracksDone; }
    int GetTracksTotal() const { return m_tracksTotal; }
    int GetPassIndex() const { return m_passIndex; }
    int GetPassCount() const { return m_passCount; }
    const std::string& GetOutputFileName() const { return m_outputFileName; }
    // The playlist of the last grab ("" when none was made).
    const std::string& GetPlaylistName() const { return m_playlistName; }
    bool IsPlaylistOk() const { return m_playlistOk; }
    // The outcome of `row` in the last grab, as the job recorded it.
    TrackOutcome GetOutcome(int row) const;
    // The files the last grab completed, in order.
    const std::vector<std::string>& GetCompletedFiles() const { return m_completedFiles; }
    // The last grab's checksums and verdicts, and the rip log and cue sheet
    // it wrote ("" when none).
    const RipReport& GetRipReport() const { return m_report; }
    const std::string& GetRipLogName() const { return m_ripLogName; }
    const std::string& GetRipCueName() const { return m_ripCueName; }

private:
    // What a file was before a track began: a failed track deletes only
    // what it wrote, never a file it did not touch.
    struct FileState {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
    };
    static FileState StateOf(const std::string& path);

    // The worker's entry; grabs the current track.
    static void RIPProc(CGrabJob* job);
    void RunTrack();
    void JoinWorker();
    // A question through the auto-answer prompt.
    PromptAnswer Ask(const std::string& message, int countdown);
    // The end of a track that went well: tag, size, playlist, check box.
    void CompleteTrack(int row);
    // Writes the track's tag, completed from the info bar, with the
    // verification results `proof` as free-form fields.
    void WriteTag(const TrackRecord& record, std::int32_t track,
                  const std::vector<std::pair<std::string, std::string>>& proof);
    // Deletes what a failed track left.
    void DeletePartialOutput();
    // The tag's picture as the file SaveCoverArt names, beside the track,
    // unless one is there already.
    void SaveCoverArt(const CID3Tag& tag);
    // The end of the job on the front end's side.
    void EndJob(EndReason reason);
    // The rip log and the cue sheet beside the first completed file.
    void WriteRipReport();
    int CurrentRow() const;
    void SetOutcome(int row, TrackOutcome outcome);

    CData& m_data;
    CTrackList& m_list;
    CTracksView& m_view;
    CTrackChain m_chain;
    qm::EventHandle m_finishEvent;
    std::thread m_worker;

    int m_tracksDone = 0;
    int m_tracksTotal = 0;
    int m_lastOverallPercent = -1;
    std::string m_savedTitle;
    std::string m_playlistName;
    std::vector<std::string> m_completedFiles;
    std::vector<TrackOutcome> m_outcomes;
    bool m_playlistOk = false;
    int m_passIndex = 0;
    int m_passCount = 1;
    std::uint32_t m_discId = 0;
    std::atomic<bool> m_stopRequested{false};
    EndReason m_endReason = EndReason::kNone;

    // Handed to the worker before it starts and read back after it ended.
    std::int32_t m_workerTrack = 0;
    TrackRecord m_workerRecord;
    NormalizerSettings m_workerNormalizer;
    bool m_workerRipMaxSpeed = false;
    std::string m_outputFileName;
    FileState m_outputBefore;
    // Verification: asked for by the settings at Grab; the look-up runs on
    // the first track's worker, the checksums come back with each track.
    bool m_verify = false;
    bool m_lookedUp = false;
    bool m_cueCodes = false; // the cue sheet wants the drive's catalogue number and ISRCs
    std::string m_arServer;
    std::string m_ctdbServer;
    qm::TrackChecksums m_workerSums;
    RipReport m_report;
    std::string m_ripLogName;
    std::string m_ripCueName;
};
