#include "jobs/TrackList.h"

#include <algorithm>

#include "core/GenreTable.h"
#include "core/Text.h"
#include "core/Trace.h"
#include "jobs/WmaAvailability.h"
#include "settings/WmaConfigurationTable.h"

namespace {

std::string YearText(std::int32_t year) {
    return year >= 1 && year <= 9999 ? std::to_string(year) : std::string();
}

// The first `count` characters of a UTF-8 text.
std::string FirstCharacters(const std::string& text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t chars = 0; at < text.size() && chars < count; ++chars) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) {
            ++at;
        }
    }
    return text.substr(0, at);
}

const char* Channels(std::uint8_t channels) {
    return channels == 1 ? "mono" : "stereo";
}

} // namespace

CTrackList::CTrackList(CData& data, CTracksView& view) : m_data(data), m_view(view) {
    QM_TRACE("TracksWnd");
}

TrackRecord* CTrackList::Record(int row) {
    QM_TRACE("TracksWnd");
    std::vector<TrackRecord>& tracks = m_data.Tracks();
    if (row < 0 || static_cast<std::size_t>(row) >= tracks.size()) {
        QM_RETURN(0, nullptr);
    }
    QM_RETURN(1, &tracks[static_cast<std::size_t>(row)]);
}

void CTrackList::ShowNoDisc() {
    QM_TRACE("TracksWnd");
    m_view.SetRowTexts(0, TrackRowTexts{"--", "No CD in drive", "", ""});
}

bool CTrackList::Refresh() {
    QM_TRACE("TracksWnd");
    CCDRipper& ripper = m_data.Ripper();
    std::int32_t first = -1;
    std::int32_t last = -1;
    // A drive without a disc cannot give its table: both show as no disc.
    if (!ripper.GetTrackRange(&first, &last)) {
        first = -1;
        last = -1;
    }
    std::vector<TrackRecord>& tracks = m_data.Tracks();
    tracks.clear();
    m_rows.clear();
    m_firstTrack = first;
    m_lastTrack = last;
    m_data.SetFirstTrack(first);
    m_hasAudioTracks = false;
    m_hasDataTracks = false;
    DiscInfo& disc = ripper.GetDiscInfo();
    DiscTexts& texts = m_data.GetDiscTexts();
    const QuavermillSettings& settings = m_data.Settings();

    if (!HasDisc()) {
        m_discId = 0;
        m_view.ResetRows(1, false);
        disc.artist.clear();
        disc.title.clear();
        disc.year = 0;
        disc.genre.clear();
        texts = DiscTexts{};
        UpdateCDInfo(false);
        SyncFormat();
        QM_RETURN(0, true);
    }

    m_discId = m_data.GetCDDBID();
    if (settings.cddb.AutoLoadLocalCDDB) {
        ripper.PrepareTS();
    } else {
        // Without the local cache the ripper's look-up runs without a server:
        // the disc's names are emptied and nothing is asked over the network.
        ripper.GetCDInfo(nullptr, false);
    }
    const int count = last - first + 1;
    tracks.assign(static_cast<std::size_t>(count), m_data.DefaultTrack());
    m_rows.assign(static_cast<std::size_t>(count), Row{});
    for (int row = 0; row < count; ++row) {
        const std::int32_t track = first + row;
        TrackRecord& record = tracks[static_cast<std::size_t>(row)];
        record.isDataTrack = ripper.IsDataTrack(track);
        m_rows[static_cast<std::size_t>(row)].seconds =
            record.isDataTrack ? 0 : ripper.GetTrackLength(track, false);
        (record.isDataTrack ? m_hasDataTracks : m_hasAudioTracks) = true;
    }
    TagsFromDiscInfo();
    // A disc image's own sheet names the disc when the cache does not.
    const bool cached = settings.cddb.AutoLoadLocalCDDB && m_data.LoadLocalCDDB();
    if (!cached && m_data.LoadSheetNames()) {
        TagsFromDiscInfo();
    }
    m_view.ResetRows(count, m_hasAudioTracks);
    texts.album = disc.title;
    texts.artist = disc.artist;
    texts.year = YearText(disc.year);
    texts.genre = disc.genre;
    UpdateFormatSettings();
    UpdateCDInfo(false);
    SyncFormat();

    if (!m_data.IsProcessing() && m_hasAudioTracks) {
        if (settings.job.MarkAllOnRefresh) {
            m_view.PostCommand(TracksCommand::kMarkAll);
        }
        if (settings.job.GetCDDBOnRefresh) {
            m_view.PostCommand(TracksCommand::kGetCDDBInfo);
        }
    }
    if (settings.naming.AutoDetectMixedCD && IsMixedCD() != IsMixedCDMode()) {
        m_view.PostCommand(TracksCommand::kToggleMixedCD);
    }
    QM_RETURN(1, true);
}

void CTrackList::TagsFromDiscInfo() {
    QM_TRACE("TracksWnd");
    const DiscInfo& disc = m_data.Ripper().GetDiscInfo();
    const int genre = GetGenreNumber(disc.genre);
    std::vector<TrackRecord>& tracks = m_data.Tracks();
    for (std::size_t row = 0; row < tracks.size(); ++row) {
        TrackRecord& record = tracks[row];
        if (record.isDataTrack) {
            continue;
        }
        CID3Tag& tag = record.tag;
        const DiscTrackInfo* info = row < disc.tracks.size() ? &disc.tracks[row] : nullptr;
        // An empty title removes the field: the row then reads "track%d".
        tag.SetTag("Title", info != nullptr ? info->title : std::string());
        // A mixed disc's look-up names each track's own artist.
        tag.SetTag("Artist", info != nullptr && !info->artist.empty() ? info->artist : disc.artist);
        tag.SetTag("Album", disc.title);
        tag.SetTag("Year", YearText(disc.year));
        tag.SetTag("Genre", genre >= 0 && genre < kNoGenre ? GenreTable[genre] : "");
    }
}

void CTrackList::GetCDDBInfo() {
    QM_TRACE("TracksWnd");
    if (!HasDisc()) {
        QM_RETURN(0);
    }
    TagsFromDiscInfo();
    const DiscInfo& disc = m_data.Ripper().GetDiscInfo();
    DiscTexts& texts = m_data.GetDiscTexts();
    texts.album = disc.title;
    texts.artist = disc.artist;
    texts.year = YearText(disc.year);
    texts.genre = disc.genre;
    UpdateCDInfo(false);
    QM_EXIT(1);
}

TrackRowTexts CTrackList::RowTexts(int row) {
    QM_TRACE("TracksWnd");
    TrackRowTexts texts;
    const TrackRecord* record = Record(row);
    if (!HasDisc() || record == nullptr) {
        QM_RETURN(0, TrackRowTexts{"--", "No CD in drive", "", ""});
    }
    const std::int32_t track = m_firstTrack + row;
    texts.number = qm::Format("%2d", track);
    if (record->isDataTrack) {
        texts.title = "Data track";
        QM_RETURN(1, texts);
    }
    texts.title = record->tag.GetTag("Title");
    if (texts.title.empty()) {
        texts.title = qm::Format("track%d", track);
    }
    if (IsMixedCDMode()) {
        texts.artist = record->tag.GetTag("Artist");
    }
    const std::int32_t seconds = std::max(m_rows[static_cast<std::size_t>(row)].seconds, 0);
    texts.time = qm::Format("%02d:%02d", seconds / 60, seconds % 60);
    QM_RETURN(2, texts);
}

void CTrackList::UpdateCDInfo(bool fromWindow) {
    QM_TRACE("TracksWnd");
    DiscInfo& disc = m_data.Ripper().GetDiscInfo();
    DiscTexts& texts = m_data.GetDiscTexts();
    if (fromWindow) {
        const InfoBarValues bar = m_view.GetInfoBar();
        const std::int32_t year = qm::LeadingInteger(bar.year);
        const std::string yearText = YearText(year);
        for (TrackRecord& record : m_data.Tracks()) {
            if (record.isDataTrack) {
                continue;
            }
            CID3Tag& tag = record.tag;
            if (tag.GetTag("Album") == texts.album) {
                tag.SetTag("Album", bar.album);
            }
            if (tag.GetTag("Artist") == texts.artist) {
                tag.SetTag("Artist", bar.artist);
            }
            if (tag.GetTag("Year") == texts.year) {
                tag.SetTag("Year", yearText);
            }
            tag.SetTag("Genre", bar.genre);
        }
        texts.album = bar.album;
        texts.artist = bar.artist;
        texts.year = yearText;
        texts.genre = bar.genre;
        // The names the files are named by follow what the user typed.
        disc.title = bar.album;
        disc.artist = bar.artist;
        disc.year = year;
        disc.genre = bar.genre;
        m_data.Settings().window.StoreTrackNumber = bar.writeTrackNumber;
        QM_RETURN(0);
    }
    InfoBarValues bar;
    bar.artist = disc.artist;
    bar.album = disc.title;
    bar.year = disc.year >= 1 ? std::to_string(disc.year) : std::string();
    bar.genre = disc.genre;
    bar.writeTrackNumber = m_data.Settings().window.StoreTrackNumber;
    m_view.SetInfoBar(bar);
    if (!HasDisc()) {
        ShowNoDisc();
        QM_RETURN(1);
    }
    for (int row = 0; row < GetRowCount(); ++row) {
        m_view.SetRowTexts(row, RowTexts(row));
    }
    QM_EXIT(2);
}

std::string CTrackList::FormatDescription(const FormatSettings& format) {
    QM_TRACE("TracksWnd");
    switch (format.format) {
    case OutputFormat::WMA: {
        // A configuration this system cannot write says so here, before a
        // grab fails on it.
        const char* unavailable = " (not available)";
        if (format.wma.lossless) {
            QM_RETURN(0, std::string("WMA/Loseless") +
                             (qm::IsWmaLosslessAvailable() ? "" : unavailable));
        }
        const std::int32_t index = format.wma.configuration;
        const WmaConfiguration& entry = index >= 0 && index < kWmaConfigurationCount
                                            ? WmaConfigurationTable[static_cast<std::size_t>(index)]
                                            : WmaConfigurationTable[kWmaConfigurationCount];
        std::string text = "WMA/";
        if (!entry.vbr) {
            text += qm::Format("%3dkbps,", entry.bitrate / 1000);
        } else if (entry.passes <= 1) {
            text += qm::Format("%3d(1pass),", entry.bitrate);
        } else {
            text += qm::Format("%3dkbps(2passes),", entry.bitrate / 1000);
        }
        text += qm::Format("%6dHz,", static_cast<int>(entry.sampleRate));
        text += Channels(entry.channels);
        if (!qm::IsWmaConfigurationAvailable(index)) {
            text += unavailable;
        }
        QM_RETURN(1, text);
    }
    case OutputFormat::MP3: {
        const FormatSettings::Mp3& mp3 = format.mp3;
        const int rate = static_cast<int>(mp3.sampleRate);
        const int min = static_cast<int>(mp3.minBitrate);
        const int max = static_cast<int>(mp3.maxBitrate);
        if (mp3.variable && mp3.avgBitrate > 0) {
            QM_RETURN(2, qm::Format("MP3/%dHz,%d - %d - %d kbps", rate, min,
                                    static_cast<int>(mp3.avgBitrate), max));
        }
        if (mp3.variable) {
            QM_RETURN(3, qm::Format("MP3/%dHz,%d - %d kbps", rate, min, max));
        }
        QM_RETURN(4, qm::Format("MP3/%dHz,%d kbps", rate, min));
    }
    case OutputFormat::OGG: {
        const FormatSettings::Ogg& ogg = format.ogg;
        std::string text = ogg.abr
                               ? qm::Format("OGG/%dHz, %dkbps", static_cast<int>(ogg.sampleRate),
                                            static_cast<int>(ogg.avgBitrate))
                               : qm::Format("OGG/%dHz, q: %3.2lf", static_cast<int>(ogg.sampleRate),
                                            static_cast<double>(ogg.quality));
        text += ogg.channels == 1 ? ",mono" : ",stereo";
        QM_RETURN(5, text);
    }
    case OutputFormat::WAV: {
        const FormatSettings::Wav& wav = format.wav;
        QM_RETURN(6, qm::Format("WAV/%dHz,%s,%d bits", static_cast<int>(wav.sampleRate),
                                Channels(wav.channels), static_cast<int>(wav.bits)));
    }
    case OutputFormat::APE: {
        const FormatSettings::Ape& ape = format.ape;
        const char* level = "Extra high";
        switch (ape.compressionLevel) {
        case 0:
            level = "Fast";
            break;
        case 1:
            level = "Normal";
            break;
        case 2:
            level = "High";
            break;
        case 4:
            level = "Insane";
            break;
        default:
            break;
        }
        QM_RETURN(7, qm::Format("APE/%dHz,%s,%s", static_cast<int>(ape.sampleRate),
                                Channels(ape.channels), level));
    }
    case OutputFormat::FLAC: {
        const FormatSettings::Flac& flac = format.flac;
        QM_RETURN(8, qm::Format("FLAC/%dHz,%s,level %d", static_cast<int>(flac.sampleRate),
                                Channels(flac.channels), static_cast<int>(flac.compressionLevel)));
    }
    }
    QM_RETURN(9, std::string());
}

void CTrackList::UpdateFormatSettings() {
    QM_TRACE("TracksWnd");
    if (!HasDisc() || !m_hasAudioTracks || m_data.Tracks().empty()) {
        QM_RETURN(0);
    }
    for (int row = 0; row < GetRowCount(); ++row) {
        const TrackRecord* record = Record(row);
        if (record == nullptr) {
            continue;
        }
        m_view.SetRowFormat(row, record->isDataTrack ? std::string()
                                                     : FormatDescription(record->format));
    }
    QM_EXIT(1);
}

void CTrackList::SyncFormat() {
    QM_TRACE("TracksWnd");
    if (!HasDisc() || m_data.Tracks().empty()) {
        m_view.SyncFormatCombo(false, std::nullopt);
        QM_RETURN(0);
    }
    std::optional<OutputFormat> shared;
    bool differ = false;
    for (int row = 0; row < GetRowCount(); ++row) {
        const TrackRecord* record = Record(row);
        if (!m_rows[static_cast<std::size_t>(row)].selected || record == nullptr) {
            continue;
        }
        if (!shared) {
            shared = record->format.format;
        } else if (*shared != record->format.format) {
            differ = true;
        }
    }
    m_view.SyncFormatCombo(true, differ ? std::nullopt : shared);
    QM_EXIT(1);
}

bool CTrackList::IsMixedCD() {
    QM_TRACE("TracksWnd");
    if (!HasDisc()) {
        QM_RETURN(0, false);
    }
    const std::string* first = nullptr;
    std::string firstArtist;
    for (const TrackRecord& record : m_data.Tracks()) {
        if (record.isDataTrack) {
            continue;
        }
        const std::string artist = record.tag.GetTag("Artist");
        if (first == nullptr) {
            firstArtist = artist;
            first = &firstArtist;
        } else if (artist != *first) {
            QM_RETURN(1, true);
        }
    }
    QM_RETURN(2, false);
}

void CTrackList::EnableMixedCDMode(bool on) {
    QM_TRACE("TracksWnd");
    if (on == IsMixedCDMode()) {
        QM_RETURN(0);
    }
    m_artistColumn = on ? 2 : -1;
    m_timeColumn = on ? 3 : 2;
    m_formatColumn = on ? 4 : 3;
    m_statusColumn = on ? 5 : 4;
    m_view.SetMixedCDMode(on);
    if (HasDisc()) {
        for (int row = 0; row < GetRowCount(); ++row) {
            m_view.SetRowTexts(row, RowTexts(row));
        }
    }
    QM_EXIT(1);
}

void CTrackList::ToggleMixedCDMode() {
    QM_TRACE("TracksWnd");
    if (!IsMixedCDMode()) {
        UpdateCDInfo(true);
        EnableMixedCDMode(true);
        UpdateCDInfo(true);
    } else {
        EnableMixedCDMode(false);
    }
    SyncFormat();
}

void CTrackList::FollowMixedCD() {
    QM_TRACE("TracksWnd");
    if (m_data.Settings().naming.AutoDetectMixedCD && IsMixedCD() != IsMixedCDMode()) {
        ToggleMixedCDMode();
    }
}

void CTrackList::OnEndEditLabel(int row, int column, const std::string& text) {
    QM_TRACE("TracksWnd");
    TrackRecord* record = Record(row);
    if (record == nullptr || record->isDataTrack) {
        QM_RETURN(0);
    }
    const std::string kept = FirstCharacters(qm::MakeValidUtf8(text), kMaxLabelChars);
    if (column == kTitleColumn) {
        record->tag.SetTag("Title", kept);
    } else if (column == kArtistColumn && IsMixedCDMode()) {
        record->tag.SetTag("Artist", kept);
    } else {
        QM_RETURN(1);
    }
    m_view.SetRowTexts(row, RowTexts(row));
    QM_EXIT(2);
}

void CTrackList::SetArtist(const std::string& artist) {
    QM_TRACE("TracksWnd");
    m_data.Ripper().GetDiscInfo().artist = artist;
    m_data.GetDiscTexts().artist = artist;
}

void CTrackList::SetAlbum(const std::string& album) {
    QM_TRACE("TracksWnd");
    m_data.Ripper().GetDiscInfo().title = album;
    m_data.GetDiscTexts().album = album;
}

bool CTrackList::IsChecked(int row) const {
    QM_TRACE("TracksWnd");
    QM_RETURN(0, row >= 0 && row < GetRowCount() && m_rows[static_cast<std::size_t>(row)].checked);
}

void CTrackList::SetChecked(int row, bool checked) {
    QM_TRACE("TracksWnd");
    if (row < 0 || row >= GetRowCount()) {
        QM_RETURN(0);
    }
    m_rows[static_cast<std::size_t>(row)].checked = checked;
    m_view.SetRowChecked(row, checked);
    QM_EXIT(1);
}

bool CTrackList::IsSelected(int row) const {
    QM_TRACE("TracksWnd");
    QM_RETURN(0, row >= 0 && row < GetRowCount() && m_rows[static_cast<std::size_t>(row)].selected);
}

void CTrackList::SetSelected(int row, bool selected) {
    QM_TRACE("TracksWnd");
    if (row < 0 || row >= GetRowCount()) {
        QM_RETURN(0);
    }
    m_rows[static_cast<std::size_t>(row)].selected = selected;
    m_view.SetRowSelected(row, selected);
    QM_EXIT(1);
}

const std::string& CTrackList::GetStatus(int row) const {
    QM_TRACE("TracksWnd");
    static const std::string kNone;
    if (row < 0 || row >= GetRowCount()) {
        QM_RETURN(0, kNone);
    }
    QM_RETURN(1, m_rows[static_cast<std::size_t>(row)].status);
}

void CTrackList::SetStatus(int row, const std::string& text) {
    QM_TRACE("TracksWnd");
    if (row < 0 || row >= GetRowCount()) {
        QM_RETURN(0);
    }
    m_rows[static_cast<std::size_t>(row)].status = text;
    m_view.SetRowStatus(row, text);
    QM_EXIT(1);
}

bool CTrackList::IsDataRow(int row) const {
    QM_TRACE("TracksWnd");
    const std::vector<TrackRecord>& tracks = m_data.Tracks();
    QM_RETURN(0, row >= 0 && static_cast<std::size_t>(row) < tracks.size() &&
                     tracks[static_cast<std::size_t>(row)].isDataTrack);
}

void CTrackList::MarkAll() {
    QM_TRACE("TracksWnd");
    for (int row = 0; row < GetRowCount(); ++row) {
        if (!IsDataRow(row)) {
            SetChecked(row, true);
        }
    }
}

void CTrackList::SelectAll() {
    QM_TRACE("TracksWnd");
    for (int row = 0; row < GetRowCount(); ++row) {
        SetSelected(row, true);
    }
    SyncFormat();
}

void CTrackList::MarkSelected(bool checked) {
    QM_TRACE("TracksWnd");
    for (int row = 0; row < GetRowCount(); ++row) {
        if (IsSelected(row)) {
            SetChecked(row, checked);
        }
    }
}
