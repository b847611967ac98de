#include "jobs/GrabJob.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <unistd.h>

#include "core/Diagnostics.h"
#include "core/Text.h"
#include "core/Trace.h"
#include "disc/CdAccess.h"
#include "disc/MusicBrainzDiscId.h"
#include "output/Naming.h"
#include "platform/AtomicFile.h"

CGrabJob::CGrabJob(CData& data, CTrackList& list, CTracksView& view)
    : m_data(data), m_list(list), m_view(view),
      m_finishEvent(qm::Event::OpenNamed(kFinishEventName, false)) {
    QM_TRACE("TracksWnd");
}

CGrabJob::~CGrabJob() {
    QM_TRACE("TracksWnd");
    if (!m_slots.empty()) {
        m_stopRequested.store(true);
        TerminateSlots();
        for (const SlotPtr& slot : m_slots) {
            JoinSlot(*slot);
        }
    }
}

CGrabJob::FileState CGrabJob::StateOf(const std::string& path) {
    QM_TRACE("TracksWnd");
    FileState state;
    struct stat info {};
    if (!path.empty() && ::lstat(path.c_str(), &info) == 0) {
        state.exists = true;
        state.device = info.st_dev;
        state.inode = info.st_ino;
        state.size = info.st_size;
        state.modified = info.st_mtim;
    }
    QM_RETURN(0, state);
}

CGrabJob::TrackOutcome CGrabJob::GetOutcome(int row) const {
    QM_TRACE("TracksWnd");
    if (row < 0 || static_cast<std::size_t>(row) >= m_outcomes.size()) {
        QM_RETURN(0, TrackOutcome::kWaiting);
    }
    QM_RETURN(1, m_outcomes[static_cast<std::size_t>(row)]);
}

void CGrabJob::SetOutcome(int row, TrackOutcome outcome) {
    QM_TRACE("TracksWnd");
    if (row >= 0 && static_cast<std::size_t>(row) < m_outcomes.size()) {
        m_outcomes[static_cast<std::size_t>(row)] = outcome;
    }
}

PromptAnswer CGrabJob::Ask(const std::string& message, int countdown) {
    QM_TRACE("TracksWnd");
    CWarningPrompt prompt(message, countdown);
    QM_RETURN(0, m_view.Ask(prompt));
}

void CGrabJob::StartProcess() {
    QM_TRACE("TracksWnd");
    if (IsProcessing()) {
        QM_RETURN(0);
    }
    int checked = 0;
    m_outcomes.assign(static_cast<std::size_t>(m_list.GetRowCount()), TrackOutcome::kWaiting);
    for (int row = 0; row < m_list.GetRowCount(); ++row) {
        m_list.SetSelected(row, false);
        if (m_list.IsDataRow(row)) {
            m_list.SetChecked(row, false);
        }
        if (m_list.IsChecked(row)) {
            ++checked;
        }
    }
    m_list.UpdateCDInfo(true);
    if (checked == 0) {
        QM_RETURN(1);
    }
    const DiscTexts& texts = m_data.GetDiscTexts();
    std::string line = "Grabbing CD-disk '";
    if (!texts.album.empty()) {
        line += texts.album;
    }
    if (!texts.artist.empty()) {
        line += "\\" + texts.artist;
    }
    line += "' is started...";
    m_data.AddToLog(line, kLogPlain);
    m_tracksTotal = checked;
    m_tracksDone = 0;
    m_completedFiles.clear();
    m_stopRequested.store(false);
    m_endReason = EndReason::kNone;
    m_discId = m_list.GetDiscId();
    const QuavermillSettings& settings = m_data.Settings();
    m_encoderThreads = EncoderThreadCount(settings);
    m_data.Ripper().SetJitterMode(settings.drive.JitterCorrection);
    m_data.Ripper().SetReadOffset(settings.verify.ReadOffset);
    m_verify = settings.verify.VerifyRips;
    // The rip log's CRCs come from the checksums too.
    m_data.Ripper().SetComputeChecksums(m_verify || settings.verify.RipLog);
    m_lookedUp = false;
    m_cueCodes = settings.verify.RipCueSheet;
    m_arServer = settings.verify.AccurateRipServer;
    m_ctdbServer = settings.verify.CTDBServer;
    m_report = RipReport{};
    m_ripLogName.clear();
    m_ripCueName.clear();
    {
        char identity[256] = {};
        m_data.Ripper().GetCDString(identity, sizeof identity);
        m_report.drive = identity;
    }
    m_report.readOffset = settings.verify.ReadOffset;
    static const char* const kJitterNames[] = {"Never", "OnError", "Always"};
    m_report.jitterMode =
        kJitterNames[std::clamp<std::int32_t>(settings.drive.JitterCorrection, 0, 2)];
    m_report.artist = texts.artist;
    m_report.album = texts.album;
    m_report.cddbId = m_list.GetDiscId();

    m_playlistName = m_data.GeneratePlaylistName();
    m_playlistOk = true;
    if (!m_playlistName.empty() && !m_data.PreparePlaylist(m_playlistName)) {
        m_data.AddToLog(qm::Format(" Failed to create playlist %s!", m_playlistName.c_str()),
                        kLogAttention);
        if (Ask("Failed to create playlist. Continue ?", kPlaylistCountdown) == PromptAnswer::kNo) {
            m_data.AddToLog("Cancelled.", kLogAttention);
            m_endReason = EndReason::kDeclined;
            QM_RETURN(2);
        }
        m_data.AddToLog("Continue anyway", kLogSuccess);
        m_playlistOk = false;
    }

    m_savedTitle = m_view.GetTitle();
    m_data.SetCurrentTrack(m_list.GetFirstTrack() - 1);
    m_lastOverallPercent = -1;
    EnableControls(false);
    m_view.SetMainProgressRange(m_tracksTotal * 100);
    m_view.SetMainProgress(0);
    if (ProcessNextTrack() == 0 && IsProcessing()) {
        // Nothing could be started although tracks were checked.
        EndJob(EndReason::kFinished);
    }
    QM_EXIT(3);
}

int CGrabJob::EncoderThreadCount(const QuavermillSettings& settings) {
    QM_TRACE("TracksWnd");
    const std::int32_t asked = settings.job.EncoderThreads;
    if (asked > 0) {
        QM_RETURN(0, std::min<int>(asked, kMaxEncoderThreads));
    }
    const unsigned cores = std::thread::hardware_concurrency();
    QM_RETURN(1, std::clamp<int>(static_cast<int>(cores), 1, kMaxEncoderThreads));
}

int CGrabJob::NextRow() const {
    QM_TRACE("TracksWnd");
    const std::int32_t first = m_list.GetFirstTrack();
    const std::int32_t current = m_data.GetCurrentTrack();
    int row = current < first ? 0 : current - first + 1;
    while (row < m_list.GetRowCount() && !m_list.IsChecked(row)) {
        ++row;
    }
    if (row >= m_list.GetRowCount() || static_cast<std::size_t>(row) >= m_data.Tracks().size()) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, row);
}

int CGrabJob::ProcessNextTrack() {
    QM_TRACE("TracksWnd");
    m_data.SetMixedCD(m_list.IsMixedCD());

    const std::uint32_t id = m_data.GetCDDBID();
    if (id == 0) {
        m_data.AddToLog("No disk in drive!", kLogAttention);
        m_view.ShowError("No disk in drive.", "Error");
        EnableControls(true);
        m_endReason = EndReason::kNoDisc;
        QM_RETURN(0, 0);
    }
    if (id != m_discId) {
        m_data.AddToLog("Disk have been changed!", kLogAttention);
        if (Ask("Disk have been changed.\n\r Continue anyway ?", kDiscChangedCountdown) ==
            PromptAnswer::kNo) {
            EnableControls(true);
            m_data.AddToLog("Cancelled!", kLogAttention);
            m_endReason = EndReason::kDeclined;
            QM_RETURN(1, 0);
        }
        m_data.AddToLog("Continue anyway...", kLogSuccess);
        // The new disc is the one the rest of the job reads: it is asked
        // about once, not before every track.
        m_discId = id;
    }

    const int row = NextRow();
    if (row < 0) {
        QM_RETURN(2, 0);
    }
    StartTrack(row);
    m_view.StartPollTimer();
    QM_RETURN(3, 1);
}

void CGrabJob::ReadAhead() {
    QM_TRACE("TracksWnd");
    if (m_slots.empty() || static_cast<int>(m_slots.size()) >= m_encoderThreads ||
        m_stopRequested.load()) {
        QM_RETURN(0);
    }
    TrackSlot& reading = *m_slots.back();
    // A track whose read went wrong is asked about first; a changed or
    // missing disc is noticed when nothing else is in flight, as without
    // reading ahead.
    if (!reading.read->IsSet() || reading.error.IsAnyActual()) {
        QM_RETURN(1);
    }
    const int row = NextRow();
    if (row < 0) {
        QM_RETURN(2);
    }
    m_data.SetMixedCD(m_list.IsMixedCD());
    if (m_data.GetCDDBID() != m_discId) {
        QM_RETURN(3);
    }
    StartTrack(row);
    QM_EXIT(4);
}

void CGrabJob::StartTrack(int row) {
    QM_TRACE("TracksWnd");
    const std::int32_t track = m_list.GetFirstTrack() + row;
    TrackRecord& record = m_data.Tracks()[static_cast<std::size_t>(row)];
    // Levels the encoders cannot take are mended in the record itself, here
    // rather than on the worker, which only reads its own copy.
    CTrackChain::ClampLevels(record.format);
    m_data.Ripper().SetCut(record.cutFromTrack, record.cutFromBegin, record.cutFromEnd,
                           record.doRipFirst, record.ripFirst);
    m_data.SetCurrentTrack(track);
    m_passIndex = 0;
    m_passCount = CTrackChain::PassCount(record.format);

    auto slot = std::make_unique<TrackSlot>(m_data.Ripper());
    slot->row = row;
    slot->track = track;
    slot->record = record;
    slot->normalizer = m_data.Settings().normalizer;
    slot->ripMaxSpeed = m_data.Settings().drive.RipMaxSpeed;
    slot->output = m_data.FormatName(track);
    slot->bar = m_view.GetInfoBar();
    slot->mixedCD = m_data.GetMixedCD();
    slot->metadata = m_data.Settings().metadata;
    m_outputFileName = slot->output;
    if (m_encoderThreads > 1) {
        constexpr std::size_t kBlockBytes =
            static_cast<std::size_t>(CCDRipper::kRipSectorsPerRead) * 2352;
        slot->queue = std::make_unique<CQueueStage>(
            kReadAheadBytes / static_cast<std::size_t>(m_encoderThreads) / kBlockBytes);
    }
    const bool head = m_slots.empty();
    m_slots.push_back(std::move(slot));
    TrackSlot& started = *m_slots.back();
    if (head) {
        Announce(started);
    }
    try {
        started.worker = std::thread(&CGrabJob::RunTrack, this, std::ref(started));
    } catch (const std::system_error&) {
        started.error.Add(qm::err::kFunctionFailed, qm::mod::kApplication, 0, "CreateThread");
        started.read->Set();
        started.done->Set();
        m_finishEvent->Set();
    }
    QM_EXIT(0);
}

void CGrabJob::Announce(const TrackSlot& slot) {
    QM_TRACE("TracksWnd");
    m_view.ShowRowProgress(slot.row);
    m_data.AddToLog(qm::Format("Grabbing track # %d '%s' ...", slot.track,
                               slot.record.tag.GetTag("Title").c_str()),
                    kLogPlain);
    OnProcessStart();
}

void CGrabJob::RunTrack(TrackSlot& slot) {
    QM_TRACE("TracksWnd");
    const FormatSettings& format = slot.record.format;
    // Whatever way this ends, the job hears of it.
    auto finish = [&] {
        slot.read->Set();
        slot.done->Set();
        m_finishEvent->Set();
    };
    const std::string& path = slot.output;
    slot.before = StateOf(path);
    if (path.empty() || !PrepareDirectory(path)) {
        slot.error.Add(qm::err::kOutputFolder, qm::mod::kCDRipper, 0,
                       ExtractFolderPath(path).c_str());
        finish();
        QM_RETURN(0);
    }

    if (!m_lookedUp) {
        // Once a grab, before its first track is read.
        qm::DiscToc toc;
        const auto drive = qm::HandleDrive(m_data.Ripper().GetHandle());
        const bool hasToc = drive && drive->ReadToc(toc);
        if (m_verify && hasToc) {
            m_report.disc = qm::LookUpDisc(toc, m_arServer, m_ctdbServer);
            m_report.verified = true;
        }
        std::string catalog;
        std::vector<std::string> isrcs;
        // Only a real drive reports them, and reading them takes a pass over
        // the disc's subchannels: only for the cue sheet.
        if (m_cueCodes && hasToc && !drive->IsImage() && !toc.tracks.empty() &&
            qm::ReadDiscCodes(drive->Device(), &catalog, &isrcs)) {
            m_report.catalog = catalog;
            for (std::size_t i = 0; i < isrcs.size(); ++i) {
                m_report.isrcs[toc.tracks.front().number + static_cast<int>(i)] = isrcs[i];
            }
        }
        m_lookedUp = true;
    }

    CTrackChain& chain = slot.chain;
    chain.SetReports(&slot.error, &g_Log, &slot.progress);
    CEncoder* sink = chain.SetUpEncoder(format, path);
    if (sink == nullptr) {
        // The encoder's own error decides the outcome; one that failed
        // without saying why must not pass for a finished track.
        if (!slot.error.IsAnyActual()) {
            slot.error.Add(qm::err::kCreateEncoder, qm::mod::kApplication);
        }
        chain.Finish(format);
        finish();
        QM_RETURN(1);
    }
    CEncoder* head = chain.BuildChain(sink, slot.normalizer, slot.ripMaxSpeed, slot.closed);
    if (slot.queue) {
        // The ripper hands its blocks to the queue; the chain behind it
        // encodes them on the queue's thread while the next track is read.
        slot.queue->SetEncoder(head);
        slot.queue->SetError(&slot.error);
        head = slot.queue.get();
        slot.queue->Begin();
    }
    if (m_stopRequested.load()) {
        // Stopped while the chain was being built: nothing is read.
        head->Close(false);
        slot.error.Add(qm::err::kCancelled, qm::mod::kCDRipper);
    } else {
        chain.Run(slot.track, head);
        slot.sums = m_data.Ripper().GetTrackChecksums();
    }
    // The ripper is free for the next track, and lets go of this one's
    // chain, which goes when the track has been reported.
    m_data.Ripper().SetEncoder(nullptr);
    slot.read->Set();
    m_finishEvent->Set();
    if (slot.queue) {
        slot.queue->Wait();
    }
    chain.Finish(format);
    if (!slot.error.IsAnyActual()) {
        FinishFile(slot);
    } else {
        // Failed or cancelled, whatever is answered next: the file goes now,
        // off the job's thread, as the deleting may wait for the file.
        DeletePartialOutput(slot);
    }
    finish();
    QM_EXIT(2);
}

void CGrabJob::JoinSlot(TrackSlot& slot) {
    QM_TRACE("TracksWnd");
    if (slot.worker.joinable()) {
        slot.worker.join();
    }
}

void CGrabJob::TerminateSlots() {
    QM_TRACE("TracksWnd");
    for (const SlotPtr& slot : m_slots) {
        slot->chain.Terminate();
        if (slot->queue) {
            slot->queue->Terminate();
        }
    }
}

void CGrabJob::OnTimer() {
    QM_TRACE("TracksWnd");
    if (!IsProcessing()) {
        m_view.StopPollTimer();
        QM_RETURN(0);
    }
    // The wake-up is taken before the slots are looked at: one that comes
    // meanwhile is seen at the next poll.
    m_finishEvent->Reset();
    LogFileNotes();
    if (!m_slots.empty() && m_slots.front()->done->IsSet()) {
        m_view.StopPollTimer();
        OnProcessEnd();
        QM_RETURN(1);
    }
    ReadAhead();
    if (!m_slots.empty() && !m_slots.back()->read->IsSet()) {
        const double rate = m_data.Ripper().GetReadRate() / 150000.0;
        m_view.SetSpeedText(qm::Format("%03.1lfx", rate));
    }
    UpdateProgress();
    QM_EXIT(2);
}

void CGrabJob::UpdateProgress() {
    QM_TRACE("TracksWnd");
    if (m_slots.empty()) {
        QM_RETURN(0);
    }
    int inFlight = 0;
    for (const SlotPtr& slot : m_slots) {
        inFlight += slot->progress.GetTotalPercent();
    }
    m_view.SetRowProgress(m_slots.front()->progress.GetTotalPercent());
    if (m_tracksTotal <= 0) {
        QM_RETURN(1);
    }
    const int done = std::min(m_tracksDone * 100 + inFlight, m_tracksTotal * 100);
    const int overall = done / m_tracksTotal;
    if (overall != m_lastOverallPercent) {
        m_view.SetTitle(qm::Format("%d%% complete.", overall) + m_savedTitle);
        m_lastOverallPercent = overall;
        m_view.SetMainProgress(done);
    }
    QM_EXIT(2);
}

void CGrabJob::OnProcessStart() {
    QM_TRACE("TracksWnd");
    ++m_passIndex;
    m_view.SetRowProgress(0);
}

void CGrabJob::OnProcessEnd() {
    QM_TRACE("TracksWnd");
    if (m_stopRequested.load()) {
        // A Stop is reported whole, once every track in flight has ended.
        for (const SlotPtr& slot : m_slots) {
            if (!slot->done->IsSet()) {
                m_view.StartPollTimer();
                QM_RETURN(0);
            }
        }
        ReportStop();
        QM_RETURN(1);
    }
    while (!m_slots.empty() && m_slots.front()->done->IsSet()) {
        JoinSlot(*m_slots.front());
        if (Cancelled(*m_slots.front())) {
            // A track cancelled without a Stop (the job is going away): the
            // tracks in flight end with it, as with Stop.
            m_stopRequested.store(true);
            TerminateSlots();
            OnProcessEnd();
            QM_RETURN(2);
        }
        SlotPtr slot = std::move(m_slots.front());
        m_slots.pop_front();
        if (!ReportTrack(*slot)) {
            QM_RETURN(2);
        }
        if (m_stopRequested.load()) {
            // Stop came as the track was ending, too late to cancel it: the
            // job ends once the tracks still in flight have.
            TerminateSlots();
            OnProcessEnd();
            QM_RETURN(3);
        }
        if (!m_slots.empty()) {
            Announce(*m_slots.front());
        }
    }
    if (!m_slots.empty()) {
        ReadAhead();
        m_view.StartPollTimer();
        QM_RETURN(4);
    }
    NextOrFinish();
    QM_EXIT(5);
}

bool CGrabJob::ReportTrack(TrackSlot& slot) {
    QM_TRACE("TracksWnd");
    const int row = slot.row;
    bool failed = false;
    if (slot.error.IsAnyActual()) {
        const CErrorItem* item = slot.error.GetLastActual();
        if (item != nullptr) {
            const std::string message = slot.error.FullMessage(item) + ". Continue?";
            if (Ask(message, kErrorCountdown) == PromptAnswer::kNo) {
                m_list.SetStatus(row, "Failed");
                SetOutcome(row, TrackOutcome::kFailed);
                m_data.AddToLog("Failed.", kLogAttention);
                m_view.ShowRowProgress(-1);
                AbandonSlots();
                EnableControls(true);
                m_view.UpdateWindowTitle();
                m_data.AddToLog("Cancelled", kLogAttention);
                m_endReason = EndReason::kDeclined;
                QM_RETURN(0, false);
            }
        }
        failed = item != nullptr;
    }
    m_view.ShowRowProgress(-1);
    ++m_tracksDone;
    if (!failed) {
        CompleteTrack(slot);
    } else {
        m_list.SetStatus(row, "Failed");
        SetOutcome(row, TrackOutcome::kFailed);
        m_data.AddToLog("Failed.", kLogAttention);
    }
    QM_RETURN(1, true);
}

bool CGrabJob::Cancelled(const TrackSlot& slot) {
    QM_TRACE("TracksWnd");
    const CErrorItem* item = slot.error.GetLastActual();
    QM_RETURN(0, item != nullptr && item->code == qm::err::kCancelled);
}

void CGrabJob::ReportStop() {
    QM_TRACE("TracksWnd");
    bool head = true;
    while (!m_slots.empty()) {
        SlotPtr slot = std::move(m_slots.front());
        m_slots.pop_front();
        JoinSlot(*slot);
        if (head) {
            m_view.ShowRowProgress(-1);
            ++m_tracksDone;
        }
        if (head && !slot->error.IsAnyActual()) {
            // Stop came as the track was ending, too late to cancel it.
            CompleteTrack(*slot);
        } else {
            // Read ahead of the track being grabbed: cancelled with it, even
            // when its file was written whole already.
            PostDeletePartialOutput(*slot);
            m_list.SetStatus(slot->row, "Cancelled");
            SetOutcome(slot->row, TrackOutcome::kCancelled);
        }
        head = false;
    }
    FinishFileTasks();
    m_data.AddToLog("Cancelled", kLogSuccess);
    EndJob(EndReason::kCancelled);
    QM_EXIT(1);
}

void CGrabJob::AbandonSlots() {
    QM_TRACE("TracksWnd");
    TerminateSlots();
    for (const SlotPtr& slot : m_slots) {
        JoinSlot(*slot);
        PostDeletePartialOutput(*slot);
    }
    m_slots.clear();
    QM_EXIT(0);
}

void CGrabJob::NextOrFinish() {
    QM_TRACE("TracksWnd");
    if (ProcessNextTrack() != 0) {
        QM_RETURN(0);
    }
    if (!IsProcessing()) {
        // The disc was taken out, or changed and not confirmed.
        QM_RETURN(1);
    }
    const QuavermillSettings& settings = m_data.Settings();
    FinishFileTasks();
    WriteRipReport();
    m_data.AddToLog("Grabbing of disk is finished.", kLogSuccess);
    if (settings.player.EnableSound) {
        m_view.PlayCompletionSound(settings.player.SoundFile);
    }
    if (settings.job.EjectAtEnd || m_data.IsMultiDisc()) {
        std::uint8_t adapter = 0;
        std::uint8_t target = 0;
        std::uint8_t lun = 0;
        CCDDrive& drive = m_data.DriveControl();
        if (m_data.Ripper().GetHaTgtLun(&adapter, &target, &lun) &&
            drive.SelectDrive(adapter, target, lun)) {
            drive.Eject();
        }
    }
    m_endReason = EndReason::kFinished;
    // Back to idle after an eject too, or the window would stay in the
    // grabbing state for good.
    EnableControls(true);
    if (m_data.IsMultiDisc()) {
        m_view.OnMultiDiscEnd();
    }
    QM_EXIT(2);
}

void CGrabJob::FinishFile(TrackSlot& slot) const {
    QM_TRACE("TracksWnd");
    // The verdict first: it goes into the tag written below.
    RipReportTrack& entry = slot.entry;
    entry.number = slot.track;
    entry.file = slot.output;
    entry.sums = slot.sums;
    entry.title = slot.record.tag.GetTag("Title");
    entry.artist = slot.record.tag.GetTag("Artist");
    if (m_report.verified) {
        entry.verdict = qm::VerifyTrack(m_report.disc, entry.number, slot.sums);
    }
    if (slot.record.enableTag) {
        WriteTag(slot, RipTagFields(m_report, entry));
    }
    slot.status = "Complete";
    struct stat info {};
    if (::stat(slot.output.c_str(), &info) == 0) {
        slot.status =
            qm::Format("Complete (%.2lfMb)", static_cast<double>(info.st_size) / 1024 / 1024.0);
    }
    QM_EXIT(0);
}

void CGrabJob::CompleteTrack(const TrackSlot& slot) {
    QM_TRACE("TracksWnd");
    const int row = slot.row;
    const std::string& output = slot.output;
    const RipReportTrack& entry = slot.entry;
    for (const std::string& note : slot.notes) {
        m_data.AddToLog(note, kLogAttention);
    }
    std::string status = slot.status;
    if (m_data.Settings().playlist.AddToPlaylist && m_playlistOk && !m_playlistName.empty()) {
        // Appending may read and rewrite a long list: done off this thread,
        // in the order the tracks are reported.
        m_fileTasks.Post([this, playlist = m_playlistName, output]() -> std::optional<std::string> {
            if (m_data.AddToPlaylist(playlist, output)) {
                return std::nullopt;
            }
            return qm::Format(" Failed to add %s to playlist %s!", output.c_str(),
                              playlist.c_str());
        });
    }
    m_completedFiles.push_back(output);
    SetOutcome(row, TrackOutcome::kComplete);
    m_list.SetChecked(row, false);
    if (m_report.verified) {
        status += ", " + ArResultText(m_report, entry);
    }
    m_report.tracks.push_back(entry);
    m_list.SetStatus(row, status);
    m_data.AddToLog(status, kLogSuccess);
    if (m_report.verified) {
        const std::string verdict =
            entry.verdict.checked
                ? ArResultText(m_report, entry) + ", CTDB " + CtdbResultText(m_report, entry)
                : qm::VerdictText(entry.verdict);
        m_data.AddToLog(qm::Format(" Track %d: %s", entry.number, verdict.c_str()),
                        entry.verdict.ar.status == qm::VerifyStatus::kMismatch ? kLogAttention
                                                                               : kLogSuccess);
    }
}

void CGrabJob::WriteRipReport() {
    QM_TRACE("TracksWnd");
    if (m_report.tracks.empty() || !m_ripLogName.empty() || !m_ripCueName.empty()) {
        QM_RETURN(0);
    }
    const VerifySettings& verify = m_data.Settings().verify;
    const std::filesystem::path folder =
        std::filesystem::path(m_report.tracks.front().file).parent_path();
    const std::string base = m_report.album.empty() ? std::string("rip") : m_report.album;
    std::string safe;
    for (char c : base) {
        safe += std::string("/\\:*?\"<>|").find(c) == std::string::npos ? c : '_';
    }
    if (m_report.verified) {
        m_data.AddToLog(RipSummary(m_report), kLogPlain);
    }
    if (verify.RipLog) {
        const std::filesystem::path log = folder / (safe + ".log");
        if (qm::ReplaceFileContents(log, RipLogText(m_report))) {
            m_ripLogName = log.string();
        } else {
            m_data.AddToLog(" Failed to write the rip log " + log.string() + "!", kLogAttention);
        }
    }
    if (verify.RipCueSheet) {
        const std::filesystem::path cue = folder / (safe + ".cue");
        if (qm::ReplaceFileContents(cue, RipCueSheetText(m_report))) {
            m_ripCueName = cue.string();
        } else {
            m_data.AddToLog(" Failed to write the cue sheet " + cue.string() + "!", kLogAttention);
        }
    }
    QM_EXIT(1);
}

void CGrabJob::WriteTag(TrackSlot& slot,
                        const std::vector<std::pair<std::string, std::string>>& proof) const {
    QM_TRACE("TracksWnd");
    const TrackRecord& record = slot.record;
    const std::string& path = slot.output;
    CID3Tag tag = record.tag;
    for (const auto& [name, value] : proof) {
        tag.SetFreeForm(name, value);
    }
    const InfoBarValues& bar = slot.bar;
    tag.SetTag("Track", bar.writeTrackNumber ? std::to_string(slot.track) : std::string());
    if (!record.useCustomTag) {
        const std::int32_t year = qm::LeadingInteger(bar.year);
        tag.SetTag("Year", year != 0 ? std::to_string(year) : std::string());
        tag.SetTag("Genre", bar.genre);
        tag.SetTag("Album", bar.album);
        if (!slot.mixedCD) {
            tag.SetTag("Artist", bar.artist);
        }
    }
    if (!record.useAdditionalTag) {
        tag.SetTag("Comment", "");
        tag.SetTag("Copyright", "");
        tag.SetTag("URL", "");
    }
    if (!slot.metadata.EmbedCoverArt) {
        tag.SetPicture("", "");
    }
    SaveCoverArt(slot, record.tag);
    // WAV files carry no tag, only an ID3v2 chunk with the picture and the
    // verification results when there are any.
    const bool wavChunk = tag.HasPicture() || !tag.GetFreeFormFields().empty();
    if (!tag.Write(path) && (record.format.format != OutputFormat::WAV || wavChunk)) {
        slot.notes.push_back(qm::Format(" Failed to write the tag of %s: %s", path.c_str(),
                                        tag.GetLastError().c_str()));
    }
}

void CGrabJob::SaveCoverArt(TrackSlot& slot, const CID3Tag& tag) {
    QM_TRACE("TracksWnd");
    const std::string& name = slot.metadata.SaveCoverArt;
    if (!tag.HasPicture() || name.empty()) {
        QM_RETURN(0);
    }
    // Only a name: the picture goes beside the track, never elsewhere.
    const std::filesystem::path file = std::filesystem::path(name).filename();
    const std::filesystem::path target = std::filesystem::path(slot.output).parent_path() / file;
    std::error_code error;
    if (file.empty() || file == "." || file == ".." || std::filesystem::exists(target, error)) {
        QM_RETURN(1);
    }
    if (!qm::ReplaceFileContents(target, tag.GetPictureData())) {
        slot.notes.push_back(qm::Format(" Failed to save the cover picture %s", target.c_str()));
        QM_RETURN(2);
    }
    QM_EXIT(3);
}

void CGrabJob::DeletePartialOutput(const TrackSlot& slot) {
    QM_TRACE("TracksWnd");
    DeleteWritten(slot.output, slot.before);
}

void CGrabJob::DeleteWritten(const std::string& path, const FileState& before) {
    QM_TRACE("TracksWnd");
    if (path.empty()) {
        QM_RETURN(0);
    }
    const FileState now = StateOf(path);
    if (now.exists && before.exists && now.device == before.device && now.inode == before.inode &&
        now.size == before.size && now.modified.tv_sec == before.modified.tv_sec &&
        now.modified.tv_nsec == before.modified.tv_nsec) {
        // The track failed before it wrote anything: the file there is the
        // user's, untouched.
        QM_RETURN(1);
    }
    MyDeleteFile(path);
    QM_EXIT(2);
}

void CGrabJob::LogFileNotes() {
    QM_TRACE("TracksWnd");
    for (const std::string& note : m_fileTasks.TakeNotes()) {
        m_data.AddToLog(note, kLogAttention);
    }
}

void CGrabJob::FinishFileTasks() {
    QM_TRACE("TracksWnd");
    m_fileTasks.Flush();
    LogFileNotes();
}

void CGrabJob::PostDeletePartialOutput(const TrackSlot& slot) {
    QM_TRACE("TracksWnd");
    m_fileTasks.Post([output = slot.output, before = slot.before]() -> std::optional<std::string> {
        DeleteWritten(output, before);
        return std::nullopt;
    });
    QM_EXIT(0);
}

void CGrabJob::StopProcess() {
    QM_TRACE("TracksWnd");
    if (!IsProcessing()) {
        QM_RETURN(0);
    }
    m_stopRequested.store(true);
    TerminateSlots();
    QM_EXIT(1);
}

void CGrabJob::EnableControls(bool enable) {
    QM_TRACE("TracksWnd");
    if (enable) {
        // Idle means every file of the grab is as it stays: the playlist
        // complete, what cancelled tracks left gone.
        FinishFileTasks();
    }
    m_data.SetProcessing(!enable);
    if (enable) {
        m_view.SetTitle(m_savedTitle);
        m_view.ShowRowProgress(-1);
    } else {
        m_view.SetSpeedText("----");
    }
    m_view.EnableControls(enable);
}

void CGrabJob::EndJob(EndReason reason) {
    QM_TRACE("TracksWnd");
    WriteRipReport();
    EnableControls(true);
    m_view.UpdateWindowTitle();
    m_endReason = reason;
}

bool CGrabJob::MyDeleteFile(const std::string& path) {
    QM_TRACE("ProgressPage");
    if (path.empty()) {
        QM_RETURN(0, true);
    }
    constexpr int kAttempts = 5;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno == ENOENT) {
                QM_RETURN(1, true);
            }
            continue;
        }
        if (S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0) {
            ::chmod(path.c_str(), info.st_mode | S_IWUSR);
        }
        if (::unlink(path.c_str()) == 0) {
            QM_RETURN(2, true);
        }
    }
    QM_RETURN(3, false);
}
