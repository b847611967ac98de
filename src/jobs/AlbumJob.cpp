#include "jobs/AlbumJob.h"

#include <cmath>
#include <system_error>

#include "core/Diagnostics.h"
#include "core/Text.h"
#include "core/Trace.h"
#include "jobs/GrabJob.h"
#include "output/Naming.h"

namespace {

// Whole sectors of a time, as the ripper counts its cut.
std::int64_t SectorsOf(double seconds) {
    return static_cast<std::int64_t>(std::floor(seconds * 75.0 + 1e-6));
}

// CD frames (1/75 s) of a position in 44100 Hz frames, to the nearest.
std::int64_t CueFrames(std::int64_t frames) {
    return (frames + CAlbumJob::kFramesPerSector / 2) / CAlbumJob::kFramesPerSector;
}

// Lower case of an ASCII text.
std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

} // namespace

// --- the tap --------------------------------------------------------------

void CAlbumJob::CAlbumTap::InitProgress(CProgress* progress, bool addProcess) {
    QM_TRACE("RipAlbumDlg");
    if (m_target != nullptr) {
        m_target->InitProgress(progress, addProcess);
    }
}

WriteResult CAlbumJob::CAlbumTap::Write(const void* data, std::int32_t frames) {
    QM_TRACE("RipAlbumDlg");
    if (m_target == nullptr) {
        // The album is gone: the track is only read.
        QM_RETURN(0, WriteResult::Accepted);
    }
    const WriteResult result = m_target->Write(data, frames);
    if (result == WriteResult::Accepted && frames > 0) {
        m_frames.fetch_add(frames);
    }
    QM_RETURN(1, result);
}

std::int32_t CAlbumJob::CAlbumTap::SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                                 std::int32_t bitsPerSample) {
    QM_TRACE("RipAlbumDlg");
    QM_RETURN(0, m_target != nullptr ? m_target->SetInputProps(sampleRate, channels, bitsPerSample)
                                     : 0);
}

void CAlbumJob::CAlbumTap::Close(bool complete) {
    QM_TRACE("RipAlbumDlg");
    // The chain is closed once; later tracks are read into nothing.
    CEncoder* target = m_target;
    m_target = nullptr;
    if (target != nullptr) {
        target->Close(complete);
    }
    SignalFinish();
}

// --- the job ----------------------------------------------------------------

CAlbumJob::CAlbumJob(CData& data, CAlbumView& view)
    : m_data(data), m_view(view), m_chain(data.Ripper(), data.Stages()),
      m_finishEvent(qm::Event::OpenNamed(CGrabJob::kFinishEventName, false)) {
    QM_TRACE("RipAlbumDlg");
}

CAlbumJob::~CAlbumJob() {
    QM_TRACE("RipAlbumDlg");
    if (m_worker.joinable()) {
        if (!m_closing) {
            m_stopRequested.store(true);
            m_chain.Terminate();
        }
        // An album being closed is let finish: it holds every track.
        m_worker.join();
    }
    if (m_running) {
        if (!m_closing) {
            AbortAlbum();
            FinishEncoder();
        }
        m_data.Ripper().SetSendFormat(true);
        m_data.SetProcessing(false);
    }
}

bool CAlbumJob::OnInitDialog(const InfoBarValues& infoBar, const RipAlbumSettings& stored) {
    QM_TRACE("RipAlbumDlg");
    CCDRipper& ripper = m_data.Ripper();
    std::int32_t first = -1;
    std::int32_t last = -1;
    if (!ripper.GetTrackRange(&first, &last) || first < 0 || last < first) {
        QM_RETURN(0, false);
    }
    m_discId = m_data.GetCDDBID();
    const std::vector<TrackRecord>& tracks = m_data.Tracks();
    m_rows.clear();
    for (std::int32_t track = first; track <= last; ++track) {
        Row row;
        row.track = track;
        row.isData = ripper.IsDataTrack(track);
        const auto index = static_cast<std::size_t>(track - first);
        if (index < tracks.size()) {
            row.title = tracks[index].tag.GetTag("Title");
            row.artist = tracks[index].tag.GetTag("Artist");
        }
        if (!row.isData) {
            row.length = ripper.GetTrackLength(track, true) / 75.0;
            row.end = row.length;
        }
        m_rows.push_back(row);
    }
    m_albumTrack = m_data.DefaultTrack();
    CID3Tag& tag = m_albumTrack.tag;
    const std::int32_t year = qm::LeadingInteger(infoBar.year);
    if (year != 0) {
        tag.SetTag("Year", std::to_string(year));
    }
    tag.SetTag("Genre", infoBar.genre);
    tag.SetTag("Album", infoBar.album);
    tag.SetTag("Artist", infoBar.artist);
    m_outputFolder = m_data.Settings().naming.OutputFolder;
    m_namingMask = stored.Mask_RipAlbum;
    m_insertSilence = stored.InsertSilence_RipAlbum;
    m_silenceLength = stored.SilenceLength_RipAlbum;
    QM_RETURN(1, true);
}

std::string CAlbumJob::TimeToString(double seconds) {
    QM_TRACE("RipAlbumDlg");
    const auto hundredths = static_cast<std::int64_t>(std::llround(std::max(seconds, 0.0) * 100));
    QM_RETURN(0, qm::Format("%02d:%02d.%02d", static_cast<int>(hundredths / 6000),
                            static_cast<int>(hundredths / 100 % 60),
                            static_cast<int>(hundredths % 100)));
}

bool CAlbumJob::StringToTime(const std::string& text, double* seconds) {
    QM_TRACE("RipAlbumDlg");
    if (text.empty() || text.find_first_not_of("0123456789:.") != std::string::npos) {
        QM_RETURN(0, false);
    }
    const std::size_t colon = text.find(':');
    const std::size_t dot = text.find('.');
    if (text.find(':', colon == std::string::npos ? 0 : colon + 1) != std::string::npos ||
        (dot != std::string::npos && text.find('.', dot + 1) != std::string::npos) ||
        (colon != std::string::npos && dot != std::string::npos && dot < colon)) {
        QM_RETURN(1, false);
    }
    const auto number = [](const std::string& digits, long* value) {
        if (digits.size() > 6) {
            return false;
        }
        *value = digits.empty() ? 0 : std::stol(digits);
        return true;
    };
    long minutes = 0;
    long secs = 0;
    long fraction = 0;
    std::string fractionText;
    if (colon == std::string::npos && dot == std::string::npos) {
        // A lone number counts as minutes.
        if (!number(text, &minutes)) {
            QM_RETURN(2, false);
        }
    } else {
        const std::size_t secondsFrom = colon == std::string::npos ? 0 : colon + 1;
        const std::size_t secondsTo = dot == std::string::npos ? text.size() : dot;
        if ((colon != std::string::npos && !number(text.substr(0, colon), &minutes)) ||
            !number(text.substr(secondsFrom, secondsTo - secondsFrom), &secs)) {
            QM_RETURN(3, false);
        }
        if (dot != std::string::npos) {
            fractionText = text.substr(dot + 1);
            if (fractionText.size() > 2 || !number(fractionText, &fraction)) {
                QM_RETURN(4, false);
            }
        }
    }
    if (minutes >= 60 || secs >= 60) {
        QM_RETURN(5, false);
    }
    double value = static_cast<double>(minutes * 60 + secs);
    if (fractionText.size() == 1) {
        value += fraction / 10.0;
    } else if (fractionText.size() == 2) {
        value += fraction / 100.0;
    }
    *seconds = value;
    QM_RETURN(6, true);
}

bool CAlbumJob::IsCorrectTime(int row, double from, double to) const {
    QM_TRACE("RipAlbumDlg");
    if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size()) {
        QM_RETURN(0, false);
    }
    const Row& entry = m_rows[static_cast<std::size_t>(row)];
    // A range must hold at least one sector of the track.
    QM_RETURN(1, !entry.isData && from >= 0 && SectorsOf(from) < SectorsOf(to) &&
                     to <= entry.length + 0.005);
}

void CAlbumJob::SetChecked(int row, bool checked) {
    QM_TRACE("RipAlbumDlg");
    if (row >= 0 && static_cast<std::size_t>(row) < m_rows.size()) {
        Row& entry = m_rows[static_cast<std::size_t>(row)];
        entry.checked = checked && !entry.isData;
    }
}

bool CAlbumJob::SetRange(int row, double from, double to) {
    QM_TRACE("RipAlbumDlg");
    if (!IsCorrectTime(row, from, to)) {
        QM_RETURN(0, false);
    }
    Row& entry = m_rows[static_cast<std::size_t>(row)];
    entry.start = from;
    entry.end = std::min(to, entry.length);
    QM_RETURN(1, true);
}

int CAlbumJob::GetNumberOfChecked() const {
    QM_TRACE("RipAlbumDlg");
    int count = 0;
    for (const Row& row : m_rows) {
        count += row.checked ? 1 : 0;
    }
    QM_RETURN(0, count);
}

void CAlbumJob::OnGenerateName() {
    QM_TRACE("RipAlbumDlg");
    m_outputFileName = JoinFolder(m_outputFolder, m_data.FormatName(m_namingMask, m_albumTrack));
}

std::string CAlbumJob::AlbumPath(std::string* error) const {
    QM_TRACE("RipAlbumDlg");
    const std::string extension =
        ExtensionOf(static_cast<std::int32_t>(m_albumTrack.format.format));
    const std::string& name = m_outputFileName;
    const std::size_t slash = name.rfind('/');
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot + 1 == name.size()) {
        QM_RETURN(0, name + extension);
    }
    const std::string typed = Lower(name.substr(dot));
    if (typed == extension) {
        QM_RETURN(1, name);
    }
    for (std::int32_t format = 0; format <= 5; ++format) {
        if (typed == ExtensionOf(format)) {
            if (error != nullptr) {
                *error = qm::Format("The file name ends in '%s', but the output format writes "
                                    "'%s' files. Change the name or the format.",
                                    name.substr(dot).c_str(), extension.c_str());
            }
            QM_RETURN(2, std::string());
        }
    }
    // A dot that is part of the name ("Vol. 2").
    QM_RETURN(3, name + extension);
}

PromptAnswer CAlbumJob::Ask(const std::string& message, int countdown) {
    QM_TRACE("RipAlbumDlg");
    CWarningPrompt prompt(message, countdown);
    QM_RETURN(0, m_view.Ask(prompt));
}

void CAlbumJob::OnStart() {
    QM_TRACE("RipAlbumDlg");
    if (m_running) {
        if (m_view.AskYesNo("Do you want to terminate process?", "Warning")) {
            StopProcess();
        }
        QM_RETURN(0);
    }
    if (m_storeValues) {
        ChangeSettingsStore([this](qm::SettingsStore& store) {
            RipAlbumSettings values;
            LoadRipAlbumSettings(values, store);
            values.SilenceLength_RipAlbum = m_silenceLength;
            values.InsertSilence_RipAlbum = m_insertSilence;
            SaveRipAlbumSettings(values, store);
        });
    }
    if (GetNumberOfChecked() == 0) {
        m_view.ShowError("You should select track(s)", "Error");
        QM_RETURN(1);
    }
    if (m_outputFileName.empty()) {
        m_view.ShowError("You should specify the output filename", "Error");
        QM_RETURN(2);
    }
    if (!InitEncoder()) {
        QM_RETURN(3);
    }
    EnableControls(false);
    m_running = true;
    m_currentRow = -1;
    m_aborted = false;
    m_stopRequested.store(false);
    m_outcome = Outcome::kNone;
    m_tracksStarted = 0;
    m_doneRows.clear();
    m_trackStarts.clear();
    m_gapStarts.clear();
    m_pendingGap = -1;
    m_cuePath.clear();
    m_data.Ripper().SetJitterMode(m_data.Settings().drive.JitterCorrection);
    if (ProcessNextTrack() == 0 && m_running) {
        EndJob(Outcome::kFailed);
    }
    QM_EXIT(4);
}

bool CAlbumJob::InitEncoder() {
    QM_TRACE("RipAlbumDlg");
    g_Error.ResetAll();
    std::string error;
    const std::string path = AlbumPath(&error);
    if (path.empty()) {
        m_view.ShowError(error, "Error");
        QM_RETURN(0, false);
    }
    if (!PrepareDirectory(path)) {
        g_Error.Add(qm::err::kOutputFolder, qm::mod::kCDRipper, 0, ExtractFolderPath(path).c_str());
        m_view.ShowError(g_Error.FullMessage(g_Error.GetLastActual()), "Error");
        g_Error.ResetAll();
        QM_RETURN(1, false);
    }
    CTrackChain::ClampLevels(m_albumTrack.format);
    const CGrabJob::FileState before = CGrabJob::StateOf(path);
    m_chain.SetReports(&g_Error, &g_Log, &g_Progress);
    CEncoder* sink = m_chain.SetUpEncoder(m_albumTrack.format, path);
    if (sink == nullptr) {
        if (!g_Error.IsAnyActual()) {
            g_Error.Add(qm::err::kCreateEncoder, qm::mod::kApplication);
        }
        m_chain.Finish(m_albumTrack.format);
        // Nothing half-made stays behind.
        CGrabJob::DeleteWritten(path, before);
        m_view.ShowError(g_Error.FullMessage(g_Error.GetLastActual()), "Error");
        g_Error.ResetAll();
        QM_RETURN(2, false);
    }
    // No normalizer: the album is read straight into the resampler and
    // the encoder.
    NormalizerSettings plain;
    plain.Normalize = false;
    m_head = m_chain.BuildChain(sink, plain, false, m_finishEvent);
    m_tap.SetTarget(m_head);
    m_tap.ResetFrames();
    m_tap.SetError(&g_Error);
    m_chainOpen = true;
    m_encoderSetUp = true;
    m_albumPath = path;
    m_albumBefore = before;
    QM_RETURN(3, true);
}

int CAlbumJob::ProcessNextTrack() {
    QM_TRACE("RipAlbumDlg");
    m_data.SetMixedCD(false);
    const std::uint32_t id = m_data.GetCDDBID();
    if (id == 0) {
        m_data.AddToLog("No disk in drive!", kLogAttention);
        m_view.ShowError("No disk in drive.", "Error");
        AbortAlbum();
        EndJob(Outcome::kFailed);
        QM_RETURN(0, 0);
    }
    if (id != m_discId) {
        m_data.AddToLog("Disk have been changed!", kLogAttention);
        if (Ask("Disk have been changed.\n\r Continue anyway ?", kDiscChangedCountdown) ==
            PromptAnswer::kNo) {
            m_data.AddToLog("Cancelled!", kLogAttention);
            AbortAlbum();
            EndJob(Outcome::kCancelled);
            QM_RETURN(1, 0);
        }
        m_data.AddToLog("Continue anyway...", kLogSuccess);
        m_discId = id;
    }
    int row = m_currentRow + 1;
    while (row < static_cast<int>(m_rows.size()) &&
           !m_rows[static_cast<std::size_t>(row)].checked) {
        ++row;
    }
    if (row >= static_cast<int>(m_rows.size())) {
        QM_RETURN(2, 0);
    }
    const Row& entry = m_rows[static_cast<std::size_t>(row)];
    m_view.ShowRowProgress(row);
    m_finishEvent->Reset();
    m_tap.SetFinishEvent(m_finishEvent);
    CCDRipper& ripper = m_data.Ripper();
    // The range in whole sectors; a range that reaches the track's end reads
    // to its end.
    const std::int64_t from = SectorsOf(entry.start);
    const std::int64_t to = SectorsOf(entry.end);
    const bool toEnd = entry.end >= entry.length - 1e-6;
    ripper.SetCut(true, (static_cast<double>(from) + 0.5) / 75.0, 0, !toEnd,
                  (static_cast<double>(to - from) + 0.5) / 75.0);
    // The stream format goes to the chain once, before the first track.
    ripper.SetSendFormat(m_tracksStarted == 0);
    m_currentRow = row;
    m_data.SetCurrentTrack(entry.track);
    m_data.AddToLog(qm::Format("Grabbing track # %d '%s' ...", entry.track, entry.title.c_str()),
                    kLogPlain);
    m_trackStarts.push_back(m_tap.GetFrames());
    m_gapStarts.push_back(m_pendingGap);
    m_pendingGap = -1;
    ++m_tracksStarted;
    g_Progress.Clear();
    m_workerTrack = entry.track;
    JoinWorker();
    try {
        m_worker = std::thread(&CAlbumJob::RIPAlbumProc, this);
    } catch (const std::system_error&) {
        g_Error.ResetAll();
        g_Error.Add(qm::err::kFunctionFailed, qm::mod::kApplication, 0, "CreateThread");
        m_finishEvent->Set();
    }
    OnProcessStart();
    m_view.StartPollTimer();
    QM_RETURN(3, 1);
}

void CAlbumJob::RIPAlbumProc(CAlbumJob* job) {
    QM_TRACE("RipAlbumDlg");
    job->RunTrack();
}

void CAlbumJob::RunTrack() {
    QM_TRACE("RipAlbumDlg");
    g_Error.ResetAll();
    g_Progress.Clear();
    CCDRipper& ripper = m_data.Ripper();
    if (m_stopRequested.load()) {
        g_Error.Add(qm::err::kCancelled, qm::mod::kCDRipper);
        m_tap.Close(false);
    } else if (!ripper.ProcessSettings(m_workerTrack, &m_tap, false)) {
        g_Error.Add(qm::err::kWrongTrack, qm::mod::kCDRipper, m_workerTrack);
        m_tap.Close(false);
    } else {
        ripper.InitProgress(&g_Progress);
        ripper.SetError(&g_Error);
        ripper.Start();
    }
    // The chain stays open across tracks: the job hears of the end here.
    m_finishEvent->Set();
}

void CAlbumJob::JoinWorker() {
    QM_TRACE("RipAlbumDlg");
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void CAlbumJob::OnTimer() {
    QM_TRACE("RipAlbumDlg");
    if (!m_running) {
        m_view.StopPollTimer();
        QM_RETURN(0);
    }
    if (m_closing) {
        if (m_albumClosed.load()) {
            m_view.StopPollTimer();
            EndAlbum();
        }
        QM_RETURN(1);
    }
    if (!m_finishEvent->IsSet()) {
        m_view.SetRowProgress(g_Progress.GetTotalPercent());
        QM_RETURN(1);
    }
    m_view.StopPollTimer();
    OnProcessEnd();
    QM_EXIT(2);
}

void CAlbumJob::OnProcessStart() {
    QM_TRACE("RipAlbumDlg");
    m_view.SetRowProgress(0);
}

void CAlbumJob::OnProcessEnd() {
    QM_TRACE("RipAlbumDlg");
    JoinWorker();
    const int row = m_currentRow;
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
                m_view.ShowRowProgress(-1);
                // Not only closed, as when the rip ends: a failed album
                // never stays behind looking whole.
                AbortAlbum();
                m_data.AddToLog("Cancelled.", kLogAttention);
                g_Error.ResetAll();
                EndJob(Outcome::kFailed);
                QM_RETURN(0);
            }
            g_Error.ResetAll();
            failed = true;
        }
    }
    m_view.ShowRowProgress(-1);
    if (!failed && !cancelled) {
        if (row >= 0 && static_cast<std::size_t>(row) < m_rows.size()) {
            m_rows[static_cast<std::size_t>(row)].checked = false;
            m_view.SetRowChecked(row, false);
            if (!m_aborted) {
                m_doneRows.push_back(row);
            }
        }
        m_data.AddToLog("Complete.", kLogSuccess);
    } else {
        AbortAlbum();
        if (cancelled) {
            g_Error.ResetAll();
            m_data.AddToLog("Cancelled", kLogSuccess);
            EndJob(Outcome::kCancelled);
            QM_RETURN(1);
        }
        m_data.AddToLog("Failed.", kLogAttention);
    }
    if (m_stopRequested.load()) {
        // Stop came as the track was ending: the album goes all the same.
        AbortAlbum();
        m_data.AddToLog("Cancelled", kLogSuccess);
        EndJob(Outcome::kCancelled);
        QM_RETURN(2);
    }
    if (m_insertSilence && !m_aborted && GetNumberOfChecked() > 0) {
        m_pendingGap = m_tap.GetFrames();
        if (!InsertSilence(static_cast<std::int32_t>(std::llround(m_silenceLength * 1000)),
                           &m_tap)) {
            // An album without its gap is not the album asked for; it goes as
            // after a failed track, and the remaining tracks are only read.
            AbortAlbum();
            const CErrorItem* item = g_Error.IsAnyActual() ? g_Error.GetLastActual() : nullptr;
            m_data.AddToLog(item != nullptr ? g_Error.FullMessage(item) : "Failed.", kLogAttention);
            g_Error.ResetAll();
        }
    }
    if (ProcessNextTrack() != 0) {
        QM_RETURN(3);
    }
    if (!m_running) {
        // The disc was taken out, or changed and not confirmed.
        QM_RETURN(4);
    }
    m_data.AddToLog("Grabbing of disk is finished.", kLogSuccess);
    FinishAlbum();
    QM_EXIT(5);
}

bool CAlbumJob::InsertSilence(std::int32_t ms, CEncoder* sink) {
    QM_TRACE("RipAlbumDlg");
    if (sink == nullptr || ms <= 0) {
        QM_RETURN(0, true);
    }
    // One second of 44100 Hz 16-bit stereo.
    static const std::vector<std::uint8_t> kSecond(static_cast<std::size_t>(kFramesPerSecond) * 4,
                                                   0);
    const std::int32_t seconds = ms / 1000;
    for (std::int32_t second = 0; second < seconds; ++second) {
        if (sink->Write(kSecond.data(), kFramesPerSecond) == WriteResult::Refused) {
            QM_RETURN(1, false);
        }
    }
    const std::int32_t rest = (ms - seconds * 1000) * 441 / 10;
    if (rest != 0 && sink->Write(kSecond.data(), rest) == WriteResult::Refused) {
        QM_RETURN(2, false);
    }
    QM_RETURN(3, true);
}

void CAlbumJob::AbortAlbum() {
    QM_TRACE("RipAlbumDlg");
    m_aborted = true;
    // The ripper closed the chain when the track failed; this closes it when
    // the job ends for another reason.
    m_tap.Close(false);
    m_chainOpen = false;
    if (!m_albumPath.empty()) {
        CGrabJob::DeleteWritten(m_albumPath, m_albumBefore);
    }
    QM_EXIT(0);
}

void CAlbumJob::FinishAlbum() {
    QM_TRACE("RipAlbumDlg");
    if (m_aborted) {
        EndJob(Outcome::kFailed);
        QM_RETURN(0);
    }
    m_closing = true;
    m_albumClosed.store(false);
    m_closeFailed = false;
    m_closeNotes.clear();
    m_worker = std::thread([this] {
        CloseAlbum();
        m_albumClosed.store(true);
        m_finishEvent->Set();
    });
    m_view.StartPollTimer();
    QM_EXIT(1);
}

void CAlbumJob::CloseAlbum() {
    QM_TRACE("RipAlbumDlg");
    g_Error.ResetAll();
    m_tap.Close(true);
    m_chainOpen = false;
    FinishEncoder();
    if (g_Error.IsAnyActual()) {
        // The encoder could not finish the file.
        const CErrorItem* item = g_Error.GetLastActual();
        m_closeNotes.push_back(item != nullptr ? g_Error.FullMessage(item) : "Failed.");
        g_Error.ResetAll();
        CGrabJob::DeleteWritten(m_albumPath, m_albumBefore);
        m_closeFailed = true;
        QM_RETURN(0);
    }
    if (m_albumTrack.enableTag) {
        CID3Tag tag = m_albumTrack.tag;
        if (tag.GetTag("Title").empty()) {
            tag.SetTag("Title", tag.GetTag("Album"));
        }
        if (!m_albumTrack.useAdditionalTag) {
            tag.SetTag("Comment", "");
            tag.SetTag("Copyright", "");
            tag.SetTag("URL", "");
        }
        if (!tag.Write(m_albumPath) && m_albumTrack.format.format != OutputFormat::WAV) {
            m_closeNotes.push_back(qm::Format(" Failed to write the tag of %s: %s",
                                              m_albumPath.c_str(), tag.GetLastError().c_str()));
        }
    }
    WriteCueSheet();
    QM_EXIT(1);
}

void CAlbumJob::EndAlbum() {
    QM_TRACE("RipAlbumDlg");
    JoinWorker();
    m_closing = false;
    for (const std::string& note : m_closeNotes) {
        m_data.AddToLog(note, kLogAttention);
    }
    EndJob(m_closeFailed ? Outcome::kFailed : Outcome::kComplete);
    QM_EXIT(0);
}

void CAlbumJob::WriteCueSheet() {
    QM_TRACE("RipAlbumDlg");
    if (m_doneRows.empty()) {
        QM_RETURN(0);
    }
    const CID3Tag& tag = m_albumTrack.tag;
    CCueSheet sheet;
    sheet.AddRem("GENRE", tag.GetTag("Genre"));
    sheet.AddRem("DATE", tag.GetTag("Year"));
    if (m_discId != 0) {
        sheet.AddRem("DISCID", qm::Format("%08X", m_discId));
    }
    sheet.SetPerformer(tag.GetTag("Artist"));
    sheet.SetTitle(tag.GetTag("Album"));
    const std::size_t slash = m_albumPath.rfind('/');
    const std::string name =
        slash == std::string::npos ? m_albumPath : m_albumPath.substr(slash + 1);
    CCueSheet::File& file = sheet.AddFile(name, CCueSheet::FileTypeFor(name));
    // The tracks that made it into the album, with where each began.
    std::int32_t number = 1;
    for (std::size_t i = 0; i < m_doneRows.size() && i < m_trackStarts.size(); ++i) {
        const Row& entry = m_rows[static_cast<std::size_t>(m_doneRows[i])];
        CCueSheet::Track track;
        track.number = number++;
        track.title = entry.title;
        track.performer = entry.artist.empty() ? tag.GetTag("Artist") : entry.artist;
        track.index01 = CueFrames(m_trackStarts[i]);
        if (m_gapStarts[i] >= 0) {
            track.index00 = CueFrames(m_gapStarts[i]);
        }
        file.tracks.push_back(track);
    }
    const std::size_t dot = m_albumPath.rfind('.');
    m_cuePath = (dot == std::string::npos || (slash != std::string::npos && dot < slash)
                     ? m_albumPath
                     : m_albumPath.substr(0, dot)) +
                ".cue";
    std::string error;
    if (!sheet.Write(m_cuePath, &error)) {
        m_closeNotes.push_back(
            qm::Format(" Failed to write the cue sheet %s: %s", m_cuePath.c_str(), error.c_str()));
        m_cuePath.clear();
    }
    if (m_albumTrack.format.format == OutputFormat::FLAC) {
        const std::uint32_t rate = static_cast<std::uint32_t>(m_albumTrack.format.flac.sampleRate);
        if (!sheet.WriteToFlac(m_albumPath, rate, CueFrames(m_tap.GetFrames()), &error)) {
            m_closeNotes.push_back(qm::Format(" Failed to write the cue sheet into %s: %s",
                                              m_albumPath.c_str(), error.c_str()));
        }
    }
    QM_EXIT(1);
}

void CAlbumJob::FinishEncoder() {
    QM_TRACE("RipAlbumDlg");
    if (m_encoderSetUp) {
        m_encoderSetUp = false;
        m_chain.Finish(m_albumTrack.format);
    }
}

void CAlbumJob::StopProcess() {
    QM_TRACE("RipAlbumDlg");
    if (!m_running || m_closing) {
        // Every track is in the album: it is being closed, and stays.
        QM_RETURN(0);
    }
    m_stopRequested.store(true);
    m_chain.Terminate();
    QM_EXIT(1);
}

void CAlbumJob::EnableControls(bool enable) {
    QM_TRACE("RipAlbumDlg");
    m_data.SetProcessing(!enable);
    if (enable) {
        m_view.ShowRowProgress(-1);
    }
    m_view.EnableControls(enable);
}

void CAlbumJob::EndJob(Outcome outcome) {
    QM_TRACE("RipAlbumDlg");
    if (m_chainOpen) {
        AbortAlbum();
    }
    FinishEncoder();
    m_data.Ripper().SetSendFormat(true);
    m_outcome = outcome;
    m_running = false;
    EnableControls(true);
}
