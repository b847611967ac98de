#include "jobs/Data.h"

#include "core/Text.h"
#include "core/Trace.h"
#include "disc/CdAccess.h"
#include "disc/LocalCDDB.h"
#include "disc/SheetDrive.h"
#include "output/Naming.h"
#include "output/Playlist.h"
#include "platform/UserFolders.h"

CData::CData() : m_dataFolder(qm::DefaultDataFolder()) {
    QM_TRACE("Data");
}

int CData::AddToLog(const std::string& text, std::uint8_t kind) {
    QM_TRACE("Data");
    QM_RETURN(0, m_grabLog.AddToLog(text, kind));
}

std::filesystem::path CData::LocalCDDBFolder() const {
    QM_TRACE("Data");
    QM_RETURN(0, m_dataFolder / kLocalCDDBFolder);
}

std::uint32_t CData::GetCDDBID() {
    QM_TRACE("Data");
    std::uint32_t id = 0;
    m_ripper.GetDiscId(&id);
    QM_RETURN(0, id);
}

void CData::GetTrackRange(std::int32_t* firstTrack, std::int32_t* lastTrack) {
    QM_TRACE("Data");
    if (firstTrack == nullptr || lastTrack == nullptr) {
        return;
    }
    if (!m_ripper.GetTrackRange(firstTrack, lastTrack)) {
        *firstTrack = -1;
        *lastTrack = -1;
    }
}

bool CData::GetCacheKey(CacheKey* key) {
    QM_TRACE("Data");
    key->id = GetCDDBID();
    GetTrackRange(&key->first, &key->last);
    QM_RETURN(0, key->id != 0);
}

std::vector<CID3Tag*> CData::TrackTags() {
    QM_TRACE("Data");
    std::vector<CID3Tag*> tags;
    for (TrackRecord& track : m_tracks) {
        tags.push_back(&track.tag);
    }
    QM_RETURN(0, tags);
}

std::string CData::FormatName(std::int32_t trackNumber) {
    QM_TRACE("Data");
    std::int32_t first = -1;
    std::int32_t last = -1;
    GetTrackRange(&first, &last);
    if (first == -1 || last == -1 || trackNumber < first || trackNumber > last) {
        QM_RETURN(0, std::string());
    }
    const auto index = static_cast<std::size_t>(trackNumber - first);
    if (index >= m_tracks.size()) {
        QM_RETURN(1, std::string());
    }
    const TrackRecord& track = m_tracks[index];
    const NamingOptions options{m_settings.naming.OutputFolder, m_settings.naming.NameFormat,
                                m_settings.naming.GenerateIfExist, m_mixedCD};
    const NamingRecord record{track.tag, track.useCustomTag,
                              static_cast<std::int32_t>(track.format.format)};
    QM_RETURN(2,
              FormatTrackName(options, m_ripper.GetDiscInfo(), record, trackNumber, GetCDDBID()));
}

std::string CData::FormatName(const std::string& mask, const TrackRecord& albumTrack) {
    QM_TRACE("Data");
    const NamingRecord record{albumTrack.tag, albumTrack.useCustomTag,
                              static_cast<std::int32_t>(albumTrack.format.format)};
    QM_RETURN(0, FormatAlbumName(mask, m_ripper.GetDiscInfo(), record, m_mixedCD));
}

bool CData::SaveLocalCDDB() {
    QM_TRACE("Data");
    CacheKey key;
    if (!GetCacheKey(&key)) {
        QM_RETURN(0, false);
    }
    const std::vector<CID3Tag*> tags = TrackTags();
    const std::vector<const CID3Tag*> readOnly(tags.begin(), tags.end());
    QM_RETURN(1, ::SaveLocalCDDB(LocalCDDBFolder(), key.id, m_ripper.GetDiscInfo(), readOnly,
                                 key.first, key.last));
}

bool CData::LoadLocalCDDB() {
    QM_TRACE("Data");
    CacheKey key;
    if (!GetCacheKey(&key)) {
        QM_RETURN(0, false);
    }
    DiscInfo& disc = m_ripper.GetDiscInfo();
    std::string error;
    if (!::LoadLocalCDDB(LocalCDDBFolder(), key.id, disc, TrackTags(), key.first, key.last,
                         m_settings.naming.ParseMixedCD, &error)) {
        if (!error.empty()) {
            AddToLog(error, kLogAttention);
        }
        QM_RETURN(1, false);
    }
    m_discTexts.album = disc.title;
    m_discTexts.artist = disc.artist;
    m_discTexts.year = disc.year >= 1 && disc.year <= 9999 ? std::to_string(disc.year) : "";
    m_discTexts.genre = disc.genre;
    QM_RETURN(2, true);
}

bool CData::LoadSheetNames() {
    QM_TRACE("Data");
    const std::shared_ptr<qm::CdDrive> drive = qm::HandleDrive(m_ripper.GetHandle());
    const std::optional<DiscInfo> names = drive ? qm::SheetDiscInfo(*drive) : std::nullopt;
    if (!names) {
        QM_RETURN(0, false);
    }
    DiscInfo& disc = m_ripper.GetDiscInfo();
    disc.artist = names->artist;
    disc.title = names->title;
    disc.year = names->year;
    disc.genre = names->genre;
    for (std::size_t i = 0; i < disc.tracks.size() && i < names->tracks.size(); ++i) {
        disc.tracks[i].title = names->tracks[i].title;
        disc.tracks[i].artist = names->tracks[i].artist;
    }
    m_discTexts.album = disc.title;
    m_discTexts.artist = disc.artist;
    m_discTexts.year = disc.year >= 1 && disc.year <= 9999 ? std::to_string(disc.year) : "";
    m_discTexts.genre = disc.genre;
    QM_RETURN(1, true);
}

std::string CData::GeneratePlaylistName() {
    QM_TRACE("Data");
    const PlaylistSettings& playlist = m_settings.playlist;
    const PlaylistOptions options{playlist.AddToPlaylist, playlist.AddTo == kSpecifiedPlaylist,
                                  playlist.SpecifiedPlaylist, playlist.MaskPlaylist,
                                  m_settings.naming.OutputFolder};
    QM_RETURN(0, ::GeneratePlaylistName(options, m_ripper.GetDiscInfo()));
}

bool CData::PreparePlaylist(const std::string& path) {
    QM_TRACE("Data");
    QM_RETURN(0,
              ::PreparePlaylist(path, m_settings.playlist.IfPlayListExist == kOverwritePlaylist));
}

bool CData::AddToPlaylist(const std::string& playlist, const std::string& track) {
    QM_TRACE("Data");
    QM_RETURN(0, ::AddToPlaylist(playlist, track));
}
