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
    : m_data(data), m_list(list), m_view(view), m_chain(data.Ripper(), data.Stages()),
      m_finishEvent(qm::Event::OpenNamed(kFinishEventName, false)) {
    QM_TRACE("TracksWnd");
}

CGrabJob::~CGrabJob() {
    QM_TRACE("TracksWnd");
    if (m_worker.joinable()) {
        m_stopRequested.store(true);
        m_chain.Terminate();
        m_worker.join();
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

int CGrabJob::CurrentRow() const {
    QM_TRACE("TracksWnd");
    QM_RETURN(0, m_data.GetCurrentTrack() - m_list.GetFirstTrack());
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

    const std::int32_t first = m_list.GetFirstTrack();
    const std::int32_t current = m_data.GetCurrentTrack();
    int row = current < first ? 0 : current - first + 1;
    while (row < m_list.GetRowCount() && !m_list.IsChecked(row)) {
        ++row;
    }
    std::vector<TrackRecord>& tracks = m_data.Tracks();
    if (row >= m_list.GetRowCount() || static_cast<std::size_t>(row) >= tracks.size()) {
        QM_RETURN(2, 0);
    }
    const std::int32_t track = first + row;
    TrackRecord& record = tracks[static_cast<std::size_t>(row)];
    m_view.ShowRowProgress(row);
    // Levels the encoders cannot take are mended in the record itself, here
    // rather than on the worker, which only reads its own copy.
    CTrackChain::ClampLevels(record.format);
    m_data.Ripper().SetCut(record.cutFromTrack, record.cutFromBegin, record.cutFromEnd,
                           record.doRipFirst, record.ripFirst);
    m_data.SetCurrentTrack(track);
    m_passIndex = 0;
    m_passCount = CTrackChain::PassCount(record.format);

    m_data.AddToLog(
        qm::Format("Grabbing track # %d '%s' ...", track, record.tag.GetTag("Title").c_str()),
        kLogPlain);
    // The previous track's 100 % must not show as this one's.
    g_Progress.Clear();
    OnProcessStart();
    m_finishEvent->Reset();
    m_view.StartPollTimer();

    m_workerTrack = track;
    m_workerRecord = record;
    m_workerNormalizer = m_data.Settings().normalizer;
    m_workerRipMaxSpeed = m_data.Settings().drive.RipMaxSpeed;
    m_outputFileName.clear();
    m_outputBefore = FileState{};
    JoinWorker();
    try {
        m_worker = std::thread(&CGrabJob::RIPProc, this);
    } catch (const std::system_error&) {
        g_Error.ResetAll();
        g_Error.Add(qm::err::kFunctionFailed, qm::mod::kApplication, 0, "CreateThread");
        m_finishEvent->Set();
    }
    QM_RETURN(3, 1);
}

void CGrabJob::RIPProc(CGrabJob* job) {
    QM_TRACE("TracksWnd");
    job->RunTrack();
}

void CGrabJob::RunTrack() {
    QM_TRACE("TracksWnd");
    g_Progress.Clear();
    g_Error.ResetAll();
    const FormatSettings& format = m_workerRecord.format;

    const std::string path = m_data.FormatName(m_workerTrack);
    m_outputFileName = path;
    m_outputBefore = StateOf(path);
    if (path.empty() || !PrepareDirectory(path)) {
        g_Error.Add(qm::err::kOutputFolder, qm::mod::kCDRipper, 0, ExtractFolderPath(path).c_str());
        m_finishEvent->Set();
        QM_RETURN(0);
    }

    m_workerSums = qm::TrackChecksums{};
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

    m_chain.SetReports(&g_Error, &g_Log, &g_Progress);
    CEncoder* sink = m_chain.SetUpEncoder(format, path);
    if (sink == nullptr) {
        // The encoder's own error decides the outcome; one that failed
        // without saying why must not pass for a finished track.
        if (!g_Error.IsAnyActual()) {
            g_Error.Add(qm::err::kCreateEncoder, qm::mod::kApplication);
        }
        m_chain.Finish(format);
        m_finishEvent->Set();
        QM_RETURN(1);
    }
    CEncoder* head =
        m_chain.BuildChain(sink, m_workerNormalizer, m_workerRipMaxSpeed, m_finishEvent);
    if (m_stopRequested.load()) {
        // Stopped while the chain was being built: nothing is read.
        head->Close(false);
        g_Error.Add(qm::err::kCancelled, qm::mod::kCDRipper);
    } else {
        m_chain.Run(m_workerTrack, head);
        m_workerSums = m_data.Ripper().GetTrackChecksums();
    }
    m_chain.Finish(format);
    // Every path above has closed the chain; this only makes sure the job
    // hears of the end.
    m_finishEvent->Set();
    QM_EXIT(2);
}

void CGrabJob::JoinWorker() {
    QM_TRACE("TracksWnd");
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void CGrabJob::OnTimer() {
    QM_TRACE("TracksWnd");
    if (!IsProcessing()) {
        m_view.StopPollTimer();
        QM_RETURN(0);
    }
    if (!m_finishEvent->IsSet()) {
        const double rate = m_data.Ripper().GetReadRate() / 150000.0;
        m_view.SetSpeedText(qm::Format("%03.1lfx", rate));
        UpdateProgress();
        QM_RETURN(1);
    }
    m_view.StopPollTimer();
    OnProcessEnd();
    QM_EXIT(2);
}

void CGrabJob::UpdateProgress() {
    QM_TRACE("TracksWnd");
    const int trackPercent = g_Progress.GetTotalPercent();
    m_view.SetRowProgress(trackPercent);
    if (m_tracksTotal <= 0) {
        QM_RETURN(0);
    }
    const int done = m_tracksDone * 100 + trackPercent;
    const int overall = done / m_tracksTotal;
    if (overall != m_lastOverallPercent) {
        m_view.SetTitle(qm::Format("%d%% complete.", overall) + m_savedTitle);
        m_lastOverallPercent = overall;
        m_view.SetMainProgress(done);
    }
    QM_EXIT(1);
}

void CGrabJob::OnProcessStart() {
    QM_TRACE("TracksWnd");
    ++m_passIndex;
    m_view.SetRowProgress(0);
}

void CGrabJob::OnProcessEnd() {
    QM_TRACE("TracksWnd");
    JoinWorker();
    const int row = CurrentRow();
    bool failed = false;
    bool cancelled = false;
    if (g_Error.IsAnyActual()) {
        const CErrorItem* item = g_Error.GetLastActual();
        if (item == nullptr) {
            g_Error.ResetAll();
        } else if (item->code == qm::err::kCancelled) {
            cancelled = true;
        } else {
            const std::string message = g_Error.FullMessage(item) + ". Continue?";
            if (Ask(message, kErrorCountdown) == PromptAnswer::kNo) {
                m_list.SetStatus(row, "Failed");
                SetOutcome(row, TrackOutcome::kFailed);
                m_data.AddToLog("Failed.", kLogAttention);
                m_view.ShowRowProgress(-1);
                DeletePartialOutput();
                EnableControls(true);
                m_view.UpdateWindowTitle();
                m_data.AddToLog("Cancelled", kLogAttention);
                m_endReason = EndReason::kDeclined;
                QM_RETURN(0);
            }
            g_Error.ResetAll();
            failed = true;
        }
    }
    m_view.ShowRowProgress(-1);
    ++m_tracksDone;

    if (!failed && !cancelled) {
        CompleteTrack(row);
    } else {
        DeletePartialOutput();
        if (cancelled) {
            g_Error.ResetAll();
            m_list.SetStatus(row, "Cancelled");
            SetOutcome(row, TrackOutcome::kCancelled);
            m_data.AddToLog("Cancelled", kLogSuccess);
            EndJob(EndReason::kCancelled);
            QM_RETURN(1);
        }
        m_list.SetStatus(row, "Failed");
        SetOutcome(row, TrackOutcome::kFailed);
        m_data.AddToLog("Failed.", kLogAttention);
    }
    if (m_stopRequested.load()) {
        // Stop came as the track was ending, too late to cancel it: the job
        // ends here all the same.
        m_data.AddToLog("Cancelled", kLogSuccess);
        EndJob(EndReason::kCancelled);
        QM_RETURN(2);
    }

    if (ProcessNextTrack() != 0) {
        QM_RETURN(3);
    }
    if (!IsProcessing()) {
        // The disc was taken out, or changed and not confirmed.
        QM_RETURN(4);
    }
    const QuavermillSettings& settings = m_data.Settings();
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
    QM_EXIT(5);
}

void CGrabJob::CompleteTrack(int row) {
    QM_TRACE("TracksWnd");
    const std::vector<TrackRecord>& tracks = m_data.Tracks();
    const bool known = row >= 0 && static_cast<std::size_t>(row) < tracks.size();
    // The verdict first: it goes into the tag written below.
    RipReportTrack entry;
    entry.number = m_data.GetCurrentTrack();
    entry.file = m_outputFileName;
    entry.sums = m_workerSums;
    if (known) {
        entry.title = tracks[static_cast<std::size_t>(row)].tag.GetTag("Title");
        entry.artist = tracks[static_cast<std::size_t>(row)].tag.GetTag("Artist");
    }
    if (m_report.verified) {
        entry.verdict = qm::VerifyTrack(m_report.disc, entry.number, m_workerSums);
    }
    if (known && tracks[static_cast<std::size_t>(row)].enableTag) {
        WriteTag(tracks[static_cast<std::size_t>(row)], m_data.GetCurrentTrack(),
                 RipTagFields(m_report, entry));
    }
    std::string status = "Complete";
    struct stat info {};
    if (::stat(m_outputFileName.c_str(), &info) == 0) {
        status =
            qm::Format("Complete (%.2lfMb)", static_cast<double>(info.st_size) / 1024 / 1024.0);
    }
    if (m_data.Settings().playlist.AddToPlaylist && m_playlistOk && !m_playlistName.empty() &&
        !m_data.AddToPlaylist(m_playlistName, m_outputFileName)) {
        m_data.AddToLog(qm::Format(" Failed to add %s to playlist %s!", m_outputFileName.c_str(),
                                   m_playlistName.c_str()),
                        kLogAttention);
    }
    m_completedFiles.push_back(m_outputFileName);
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

void CGrabJob::WriteTag(const TrackRecord& record, std::int32_t track,
                        const std::vector<std::pair<std::string, std::string>>& proof) {
    QM_TRACE("TracksWnd");
    CID3Tag tag = record.tag;
    for (const auto& [name, value] : proof) {
        tag.SetFreeForm(name, value);
    }
    const InfoBarValues bar = m_view.GetInfoBar();
    tag.SetTag("Track", bar.writeTrackNumber ? std::to_string(track) : std::string());
    if (!record.useCustomTag) {
        const std::int32_t year = qm::LeadingInteger(bar.year);
        tag.SetTag("Year", year != 0 ? std::to_string(year) : std::string());
        tag.SetTag("Genre", bar.genre);
        tag.SetTag("Album", bar.album);
        if (!m_data.GetMixedCD()) {
            tag.SetTag("Artist", bar.artist);
        }
    }
    if (!record.useAdditionalTag) {
        tag.SetTag("Comment", "");
        tag.SetTag("Copyright", "");
        tag.SetTag("URL", "");
    }
    const MetadataSettings& metadata = m_data.Settings().metadata;
    if (!metadata.EmbedCoverArt) {
        tag.SetPicture("", "");
    }
    SaveCoverArt(record.tag);
    // WAV files carry no tag, only an ID3v2 chunk with the picture and the
    // verification results when there are any.
    const bool wavChunk = tag.HasPicture() || !tag.GetFreeFormFields().empty();
    if (!tag.Write(m_outputFileName) && (record.format.format != OutputFormat::WAV || wavChunk)) {
        m_data.AddToLog(qm::Format(" Failed to write the tag of %s: %s", m_outputFileName.c_str(),
                                   tag.GetLastError().c_str()),
                        kLogAttention);
    }
}

void CGrabJob::SaveCoverArt(const CID3Tag& tag) {
    QM_TRACE("TracksWnd");
    const std::string& name = m_data.Settings().metadata.SaveCoverArt;
    if (!tag.HasPicture() || name.empty()) {
        QM_RETURN(0);
    }
    // Only a name: the picture goes beside the track, never elsewhere.
    const std::filesystem::path file = std::filesystem::path(name).filename();
    const std::filesystem::path target =
        std::filesystem::path(m_outputFileName).parent_path() / file;
    std::error_code error;
    if (file.empty() || file == "." || file == ".." || std::filesystem::exists(target, error)) {
        QM_RETURN(1);
    }
    if (!qm::ReplaceFileContents(target, tag.GetPictureData())) {
        m_data.AddToLog(qm::Format(" Failed to save the cover picture %s", target.c_str()),
                        kLogAttention);
        QM_RETURN(2);
    }
    QM_EXIT(3);
}

void CGrabJob::DeletePartialOutput() {
    QM_TRACE("TracksWnd");
    if (m_outputFileName.empty()) {
        QM_RETURN(0);
    }
    const FileState now = StateOf(m_outputFileName);
    const FileState& before = m_outputBefore;
    if (now.exists && before.exists && now.device == before.device && now.inode == before.inode &&
        now.size == before.size && now.modified.tv_sec == before.modified.tv_sec &&
        now.modified.tv_nsec == before.modified.tv_nsec) {
        // The track failed before it wrote anything: the file there is the
        // user's, untouched.
        QM_RETURN(1);
    }
    MyDeleteFile(m_outputFileName);
    QM_EXIT(2);
}

void CGrabJob::StopProcess() {
    QM_TRACE("TracksWnd");
    if (!IsProcessing()) {
        QM_RETURN(0);
    }
    m_stopRequested.store(true);
    m_chain.Terminate();
    QM_EXIT(1);
}

void CGrabJob::EnableControls(bool enable) {
    QM_TRACE("TracksWnd");
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
