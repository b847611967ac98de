#include "disc/SheetDrive.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}
#include <FLAC/metadata.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/Text.h"
#include "disc/CdioDrive.h"

namespace qm {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string FileType(const std::filesystem::path& file) {
    return Lower(file.extension().string()) == ".flac" ? "FLAC" : "WAVE";
}

// A FLAC file's CUESHEET block as a sheet over the file itself.
std::optional<CueSheet> FlacCueSheet(const std::filesystem::path& file) {
    FLAC__StreamMetadata* block = nullptr;
    if (!FLAC__metadata_get_cuesheet(file.c_str(), &block) || block == nullptr) {
        return std::nullopt;
    }
    const FLAC__StreamMetadata_CueSheet& cue = block->data.cue_sheet;
    CueSheet sheet;
    sheet.sheet = file;
    sheet.files.push_back(CueFileLine{file, "FLAC", 0});
    sheet.catalog = cue.media_catalog_number;
    bool usable = true;
    for (std::uint32_t t = 0; t < cue.num_tracks && usable; ++t) {
        const FLAC__StreamMetadata_CueSheet_Track& from = cue.tracks[t];
        if (from.number == 170 || from.number == 255) {
            continue; // the lead-out
        }
        CueTrack track;
        track.number = from.number;
        track.data = from.type != 0;
        track.mode = track.data ? "MODE1/2352" : "AUDIO";
        track.preEmphasis = from.pre_emphasis != 0;
        track.isrc = from.isrc;
        for (std::uint32_t i = 0; i < from.num_indices; ++i) {
            const std::uint64_t at = from.offset + from.indices[i].offset;
            track.indexes.push_back(CueIndex{from.indices[i].number, 0,
                                             static_cast<std::int32_t>(at / kFramesPerSector), 0});
        }
        usable = track.Index(1) != nullptr && track.number >= 1 && track.number <= 99 &&
                 (sheet.tracks.empty() || track.number == sheet.tracks.back().number + 1);
        sheet.tracks.push_back(track);
    }
    FLAC__metadata_object_delete(block);
    if (!usable || sheet.tracks.empty()) {
        return std::nullopt;
    }
    return sheet;
}

// The text of a CUESHEET tag, as FFmpeg reads the file's tags.
std::string CueSheetTag(const std::filesystem::path& file) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0) {
        return {};
    }
    std::string text;
    const AVDictionaryEntry* entry = av_dict_get(format->metadata, "cuesheet", nullptr, 0);
    for (unsigned s = 0; entry == nullptr && s < format->nb_streams; ++s) {
        entry = av_dict_get(format->streams[s]->metadata, "cuesheet", nullptr, 0);
    }
    if (entry != nullptr && entry->value != nullptr) {
        text = entry->value;
    }
    avformat_close_input(&format);
    return text;
}

// The file a FILE line means when its name does not exist as written: the
// same name in another letter case, the same name with another extension
// (the tracks converted to FLAC since), or, for a sheet of one file, the
// sheet's own name with the FILE line's extension.
std::filesystem::path Resolve(const std::filesystem::path& named, const CueSheet& sheet) {
    std::error_code ec;
    if (std::filesystem::exists(named, ec)) {
        return named;
    }
    const std::string wanted = Lower(named.filename().string());
    const std::string stem = Lower(named.stem().string());
    std::filesystem::path sameStem;
    for (const auto& entry : std::filesystem::directory_iterator(named.parent_path(), ec)) {
        const std::string name = Lower(entry.path().filename().string());
        if (name == wanted) {
            return entry.path();
        }
        const std::string ext = Lower(entry.path().extension().string());
        if (sameStem.empty() && Lower(entry.path().stem().string()) == stem && ext != ".cue" &&
            ext != ".toc" && ext != ".log" && ext != ".m3u") {
            sameStem = entry.path();
        }
    }
    if (!sameStem.empty()) {
        return sameStem;
    }
    if (sheet.files.size() == 1) {
        std::filesystem::path beside = sheet.sheet;
        beside.replace_extension(named.extension());
        if (std::filesystem::exists(beside, ec)) {
            return beside;
        }
    }
    return named;
}

} // namespace

bool IsSheetImage(const std::filesystem::path& path) {
    const std::string ext = Lower(path.extension().string());
    return ext != ".toc" && ext != ".nrg" && ext != ".bin" && ext != ".iso";
}

bool SheetDrive::OpenFiles(CueSheet& sheet, std::string* error) {
    for (CueFileLine& line : sheet.files) {
        line.path = Resolve(line.path, sheet);
        std::string why;
        auto file = ImageAudioFile::Open(line.path, line.type, &why);
        if (!file) {
            *error = sheet.sheet.filename().string() + ": line " + std::to_string(line.line) +
                     ": " + why;
            return false;
        }
        m_files.push_back(std::move(file));
    }
    return true;
}

void SheetDrive::UseLayout(SheetLayout layout) {
    m_layout = std::move(layout);
    std::int64_t at = 0;
    for (const DiscSegment& segment : m_layout.segments) {
        m_segmentStart.push_back(at);
        at += segment.sectors;
    }
}

std::shared_ptr<SheetDrive> SheetDrive::ForCueSheet(CueSheet sheet, const std::string& device,
                                                    std::string* error) {
    std::shared_ptr<SheetDrive> drive(new SheetDrive());
    drive->m_device = device;
    if (!drive->OpenFiles(sheet, error)) {
        return nullptr;
    }
    std::vector<std::int64_t> lengths;
    for (const auto& file : drive->m_files) {
        lengths.push_back(file->Sectors());
    }
    auto layout = LayOutSheet(sheet, lengths, error);
    if (!layout) {
        return nullptr;
    }
    drive->UseLayout(std::move(*layout));
    drive->m_sheet = std::move(sheet);
    return drive;
}

std::shared_ptr<SheetDrive> SheetDrive::ForTocFile(TocFile toc, const std::string& device,
                                                   std::string* error) {
    std::shared_ptr<SheetDrive> drive(new SheetDrive());
    drive->m_device = device;
    if (!drive->OpenFiles(toc.sheet, error)) {
        return nullptr;
    }
    std::vector<std::int64_t> lengths;
    for (const auto& file : drive->m_files) {
        lengths.push_back(file->Bytes());
    }
    auto layout = LayOutTocFile(toc, lengths, error);
    if (!layout) {
        return nullptr;
    }
    drive->UseLayout(std::move(*layout));
    drive->m_sheet = std::move(toc.sheet);
    return drive;
}

std::shared_ptr<SheetDrive> SheetDrive::ForSheet(const std::filesystem::path& sheet,
                                                 std::string* error) {
    if (Lower(sheet.extension().string()) == ".toc") {
        auto parsed = ReadTocFile(sheet, error);
        if (!parsed) {
            return nullptr;
        }
        return ForTocFile(std::move(*parsed), sheet.string(), error);
    }
    auto parsed = ReadCueSheet(sheet, error);
    if (!parsed) {
        return nullptr;
    }
    return ForCueSheet(std::move(*parsed), sheet.string(), error);
}

std::shared_ptr<SheetDrive> SheetDrive::ForAudioFile(const std::filesystem::path& file,
                                                     std::string* error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        *error = "no such file: " + file.string();
        return nullptr;
    }
    const std::string name = file.filename().string();
    std::optional<CueSheet> sheet;
    const std::string tag = CueSheetTag(file);
    if (!tag.empty()) {
        sheet = ParseCueSheet(tag, file.parent_path(), name + " (CUESHEET tag)", error);
        if (!sheet) {
            return nullptr;
        }
        // The tag's FILE line names the file as it was called when it was
        // written; it is the file that carries the tag.
        const std::string type = FileType(file);
        for (CueFileLine& line : sheet->files) {
            line.path = file;
            line.type = type;
        }
        if (sheet->files.size() != 1) {
            *error = name + ": the CUESHEET tag names more than one file";
            return nullptr;
        }
    } else {
        sheet = FlacCueSheet(file);
    }
    if (!sheet) {
        *error = name + " carries no cue sheet (neither a CUESHEET block nor a CUESHEET tag)";
        return nullptr;
    }
    sheet->sheet = file;
    return ForCueSheet(std::move(*sheet), file.string(), error);
}

bool SheetDrive::Open(int /*readType*/) {
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_opens;
    return true;
}

void SheetDrive::Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_opens > 0) {
        --m_opens;
    }
}

std::string SheetDrive::Identity() {
    return "Disc image: " + std::filesystem::path(m_device).filename().string();
}

bool SheetDrive::ReadToc(DiscToc& toc) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_opens == 0) {
        return false;
    }
    toc = m_layout.toc;
    return true;
}

DriveStatus SheetDrive::ReadAudio(std::int32_t lsn, std::int32_t sectors, std::uint8_t* dest) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_opens == 0 || sectors <= 0 || dest == nullptr || lsn < 0 ||
        static_cast<std::int64_t>(lsn) + sectors > m_layout.toc.leadout) {
        return DriveStatus::kFailed;
    }
    std::int64_t at = lsn;
    std::int32_t left = sectors;
    auto segment = std::upper_bound(m_segmentStart.begin(), m_segmentStart.end(), at) -
                   m_segmentStart.begin() - 1;
    while (left > 0) {
        const DiscSegment& piece = m_layout.segments[static_cast<std::size_t>(segment)];
        const std::int64_t into = at - m_segmentStart[static_cast<std::size_t>(segment)];
        const auto count =
            static_cast<std::int32_t>(std::min<std::int64_t>(left, piece.sectors - into));
        if (piece.file == kUnreadableSegment) {
            return DriveStatus::kFailed; // cooked data sectors: not audio
        }
        if (piece.file < 0) {
            std::memset(dest, 0, static_cast<std::size_t>(count) * kSectorBytes);
        } else if (ImageAudioFile& file = *m_files[static_cast<std::size_t>(piece.file)];
                   piece.skew == 0
                       ? !file.Read(piece.from + into, count, dest)
                       : !file.ReadBytes((piece.from + into) * kSectorBytes + piece.skew,
                                         static_cast<std::int64_t>(count) * kSectorBytes, dest)) {
            return DriveStatus::kFailed;
        }
        dest += static_cast<std::size_t>(count) * kSectorBytes;
        at += count;
        left -= count;
        ++segment;
    }
    return DriveStatus::kOk;
}

DriveStatus SheetDrive::SetSpeed(int /*kbPerSecond*/) {
    return DriveStatus::kOk;
}

int SheetDrive::GetCurrentSpeed() {
    return kImageSpeed;
}

int SheetDrive::GetMaximalSpeed() {
    return kImageSpeed;
}

DiscInfo SheetDiscInfo(const CueSheet& sheet) {
    DiscInfo info;
    info.artist = sheet.performer;
    info.title = sheet.title;
    info.genre = sheet.genre;
    bool found = false;
    const std::int32_t year = LeadingInteger(sheet.date, &found);
    info.year = found && year > 0 ? year : 0;
    if (!sheet.tracks.empty()) {
        info.firstTrack = sheet.tracks.front().number;
        info.lastTrack = sheet.tracks.back().number;
    }
    for (const CueTrack& track : sheet.tracks) {
        DiscTrackInfo entry;
        entry.title = track.title;
        entry.artist = track.performer;
        info.tracks.push_back(entry);
    }
    return info;
}

std::optional<DiscInfo> SheetDiscInfo(const CdDrive& drive) {
    const auto* image = dynamic_cast<const SheetDrive*>(&drive);
    if (image == nullptr) {
        return std::nullopt;
    }
    DiscInfo info = SheetDiscInfo(image->Sheet());
    const bool named =
        !info.artist.empty() || !info.title.empty() ||
        std::any_of(info.tracks.begin(), info.tracks.end(),
                    [](const DiscTrackInfo& t) { return !t.title.empty() || !t.artist.empty(); });
    if (!named) {
        return std::nullopt;
    }
    return info;
}

} // namespace qm
