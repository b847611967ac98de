// The grab job: grabs every checked track of the track list in turn, each
// through its own chain of stages, and reports each track's outcome in the
// list, the grab log and the window title. The front end calls StartProcess
// (Grab), StopProcess (Stop) and, while the poll timer runs, OnTimer every
// 200 ms.
//
// Reading and encoding overlap: once the ripper has read a track, the next
// one is read while the tracks before it are still being encoded, each on a
// thread of its own behind a queue stage, up to "EncoderThreads" tracks at
// once (1: each track is read and encoded in turn). Tracks are reported in
// order; one that finished early waits for its turn.
//
// Threads: everything but RunTrack runs on the front end's thread. RunTrack
// runs on a track's worker; it reads only its own slot (the track's record,
// stages, registry and progress) and the settings, and tells the front
// end's thread that it has read the track and that the track has ended
// through the slot's events, which OnTimer polls. Only one worker reads at a
// time (the next starts once the one before has read its track), and a slot
// is looked at only after its worker has been joined.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "core/Error.h"
#include "core/Progress.h"
#include "disc/RipVerifier.h"
#include "jobs/Data.h"
#include "jobs/FileTasks.h"
#include "jobs/RipReport.h"
#include "jobs/TrackChain.h"
#include "jobs/TrackList.h"
#include "jobs/TracksView.h"
#include "pipeline/QueueStage.h"
#include "platform/Event.h"

class CGrabJob {
public:
    static constexpr const char* kFinishEventName = "Conversion finished event";
    // Countdowns of the questions a grab asks, in seconds.
    static constexpr int kDiscChangedCountdown = 5;
    static constexpr int kPlaylistCountdown = 5;
    static constexpr int kErrorCountdown = 10;
    // Audio read ahead of the encoders, shared by the tracks in flight:
    // about 18 minutes, so that a disc of ordinary tracks is read while the
    // tracks before are still being encoded, and memory stays bounded for
    // a long one.
    static constexpr std::size_t kReadAheadBytes = std::size_t{192} << 20;

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
    // With no track in flight, starts the next checked track: 1, or 0 when
    // none is left or the job ended before it (disc taken out or changed and
    // not confirmed).
    int ProcessNextTrack();
    void OnProcessStart();
    // Reports the tracks that have ended, in order, and goes on with the job.
    void OnProcessEnd();
    // How many tracks a grab with these settings encodes at once.
    static int EncoderThreadCount(const QuavermillSettings& settings);
    // Stop: every track in flight ends "Cancelled" and the job with it.
    void StopProcess();
    // Idle (true) or grabbing (false).
    void EnableControls(bool enable);
    // The 200 ms poll.
    void OnTimer();
    // The row progress (of the first track not yet reported), the whole
    // job's percentage in the title and the main progress bar.
    void UpdateProgress();
    // Deletes a file, trying again for a while when it cannot be deleted.
    static bool MyDeleteFile(const std::string& path);
    // What a file was before a track (or an album) began: a failed one
    // deletes only what it wrote, never a file it did not touch.
    struct FileState {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
    };
    static FileState StateOf(const std::string& path);
    // Deletes `path` unless it is still the file `before` describes.
    static void DeleteWritten(const std::string& path, const FileState& before);

    bool IsProcessing() const { return m_data.IsProcessing(); }
    // Set when a track has been read or has ended: a front end that waits
    // on it (up to its poll period) calls OnTimer at once rather than at
    // the next tick.
    const qm::EventHandle& GetWakeEvent() const { return m_finishEvent; }
    EndReason GetEndReason() const { return m_endReason; }
    int GetTracksDone() const { return m_tracksDone; }
    // Tracks read or being read and not yet reported.
    int GetTracksInFlight() const { return static_cast<int>(m_slots.size()); }
    int GetTracksTotal() const { return m_tracksTotal; }
    int GetPassIndex() const { return m_passIndex; }
    int GetPassCount() const { return m_passCount; }
    // The file of the track read last.
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
    // One track in flight, from the start of its read to its report.
    struct TrackSlot {
        explicit TrackSlot(CCDRipper& ripper) : chain(ripper, stages) {}
        int row = 0;
        std::int32_t track = 0;
        TrackRecord record;
        NormalizerSettings normalizer;
        bool ripMaxSpeed = false;
        std::string output;
        FileState before;
        CStageSet stages;
        CTrackChain chain;
        std::unique_ptr<CQueueStage> queue; // null: the worker encodes as it reads
        CError error;
        CProgress progress;
        qm::EventHandle closed = qm::Event::Create(false); // the chain's finish
        qm::EventHandle read = qm::Event::Create(false);   // the ripper is done with it
        qm::EventHandle done = qm::Event::Create(false);   // the worker's last step
        std::thread worker;
        qm::TrackChecksums sums;
        // What the tag takes from outside the record, as it was when the
        // track began: the worker tags the file and may not ask the window.
        InfoBarValues bar;
        bool mixedCD = false;
        MetadataSettings metadata;
        // Left by the worker for the report of a track that went well: the
        // verdict, the size in the status and what went wrong on the way.
        RipReportTrack entry;
        std::string status;
        std::vector<std::string> notes; // log lines (attention)
    };
    using SlotPtr = std::unique_ptr<TrackSlot>;

    // A track's worker: reads the track into its chain and waits for the
    // chain to close.
    void RunTrack(TrackSlot& slot);
    // The next checked row after the current track, or -1.
    int NextRow() const;
    // Starts reading `row` on a worker of its own.
    void StartTrack(int row);
    // Starts reading the next track while the ones before are encoded, when
    // there is room and nothing stands in the way.
    void ReadAhead();
    // The track at the head is next to be reported: its log line and row.
    void Announce(const TrackSlot& slot);
    // Reports the first slot, which has ended: false when the job ended.
    bool ReportTrack(TrackSlot& slot);
    // After a Stop once every slot has ended: each is reported, and the job
    // ends.
    void ReportStop();
    // Ends the slots still in flight (after a declined question): they are
    // read and written no further, their files go, their rows wait.
    void AbandonSlots();
    void TerminateSlots();
    // Whether the slot's track ended cancelled.
    static bool Cancelled(const TrackSlot& slot);
    void JoinSlot(TrackSlot& slot);
    // What comes when no track is in flight: the next track, or the end.
    void NextOrFinish();
    // A question through the auto-answer prompt.
    PromptAnswer Ask(const std::string& message, int countdown);
    // The end of a track that went well, on the job's thread: status, log,
    // check box, and its place in the playlist (posted to the file tasks).
    void CompleteTrack(const TrackSlot& slot);
    // The worker's last steps for a track that went well: verdict, tag,
    // cover picture and the size for its status.
    void FinishFile(TrackSlot& slot) const;
    // Writes the track's tag to its file, completed from the info bar as it
    // was when the track began, with the verification results `proof` as
    // free-form fields.
    void WriteTag(TrackSlot& slot,
                  const std::vector<std::pair<std::string, std::string>>& proof) const;
    // Deletes what a failed track left.
    static void DeletePartialOutput(const TrackSlot& slot);
    // The same, off the job's thread, for a track that ended cancelled
    // after its worker had written its file.
    void PostDeletePartialOutput(const TrackSlot& slot);
    // Logs what went wrong in the file tasks so far.
    void LogFileNotes();
    // Waits for the file tasks (the job is ending) and logs their notes.
    void FinishFileTasks();
    // The tag's picture as the file SaveCoverArt names, beside the track's
    // file, unless one is there already.
    static void SaveCoverArt(TrackSlot& slot, const CID3Tag& tag);
    // The end of the job on the front end's side.
    void EndJob(EndReason reason);
    // The rip log and the cue sheet beside the first completed file.
    void WriteRipReport();
    void SetOutcome(int row, TrackOutcome outcome);

    CData& m_data;
    CTrackList& m_list;
    CTracksView& m_view;
    // Wakes whoever waits for the job: a track was read or ended.
    qm::EventHandle m_finishEvent;
    std::deque<SlotPtr> m_slots; // in track order; the last one is read
    int m_encoderThreads = 1;

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

    std::string m_outputFileName;
    // Verification: asked for by the settings at Grab; the look-up runs on
    // the first track's worker (before it reads, so before any other
    // worker starts), the checksums come back with each track.
    bool m_verify = false;
    bool m_lookedUp = false;
    bool m_cueCodes = false; // the cue sheet wants the drive's catalogue number and ISRCs
    std::string m_arServer;
    std::string m_ctdbServer;
    RipReport m_report;
    std::string m_ripLogName;
    std::string m_ripCueName;
    // Last: it finishes what was posted while the rest of the job stands.
    CFileTasks m_fileTasks;
};
