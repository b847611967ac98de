#include "output/CueSheet.h"

#include <FLAC/metadata.h>

#include <cstring>

#include "core/Text.h"
#include "core/Trace.h"
#include "platform/AtomicFile.h"

namespace {

// A value as it may stand between double quotes.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        out += c == '"' ? '\'' : (c == '\r' || c == '\n') ? ' ' : c;
    }
    return out + "\"";
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Drives report "0000000000000" (or nothing) for a disc without a catalogue
// number and an ISRC of zeros for a track without one.
bool IsCatalog(const std::string& code) {
    return code.size() == 13 && code.find_first_not_of("0123456789") == std::string::npos &&
           code.find_first_not_of('0') != std::string::npos;
}

bool IsIsrc(const std::string& code) {
    if (code.size() != 12 || code.find_first_not_of('0') == std::string::npos) {
        return false;
    }
    for (const char c : code) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) {
            return false;
        }
    }
    return true;
}

} // namespace

void CCueSheet::AddRem(const std::string& key, const std::string& value) {
    QM_TRACE("CueSheet");
    if (!value.empty()) {
        m_rems.emplace_back(key, value);
    }
}

CCueSheet::File& CCueSheet::AddFile(const std::string& name, const std::string& type) {
    QM_TRACE("CueSheet");
    m_files.push_back(File{name, type, {}});
    QM_RETURN(0, m_files.back());
}

std::string CCueSheet::FileTypeFor(const std::string& fileName) {
    QM_TRACE("CueSheet");
    const std::size_t dot = fileName.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : Lower(fileName.substr(dot + 1));
    if (extension == "mp3") {
        QM_RETURN(0, std::string("MP3"));
    }
    if (extension == "aif" || extension == "aiff") {
        QM_RETURN(1, std::string("AIFF"));
    }
    QM_RETURN(2, std::string("WAVE"));
}

std::string CCueSheet::Time(std::int64_t frames) {
    QM_TRACE("CueSheet");
    if (frames < 0) {
        frames = 0;
    }
    const std::int64_t seconds = frames / kFramesPerSecond;
    QM_RETURN(0, qm::Format("%02lld:%02lld:%02lld", static_cast<long long>(seconds / 60),
                            static_cast<long long>(seconds % 60),
                            static_cast<long long>(frames % kFramesPerSecond)));
}

std::string CCueSheet::Text() const {
    QM_TRACE("CueSheet");
    std::string text;
    for (const auto& [key, value] : m_rems) {
        text += "REM " + key + " " + value + "\r\n";
    }
    if (IsCatalog(m_catalog)) {
        text += "CATALOG " + m_catalog + "\r\n";
    }
    if (!m_performer.empty()) {
        text += "PERFORMER " + Quoted(m_performer) + "\r\n";
    }
    if (!m_title.empty()) {
        text += "TITLE " + Quoted(m_title) + "\r\n";
    }
    for (const File& file : m_files) {
        text += "FILE " + Quoted(file.name) + " " + file.type + "\r\n";
        for (const Track& track : file.tracks) {
            text += qm::Format("  TRACK %02d AUDIO\r\n", track.number);
            if (!track.title.empty()) {
                text += "    TITLE " + Quoted(track.title) + "\r\n";
            }
            if (!track.performer.empty()) {
                text += "    PERFORMER " + Quoted(track.performer) + "\r\n";
            }
            if (const auto isrc = m_isrcs.find(track.number);
                isrc != m_isrcs.end() && IsIsrc(isrc->second)) {
                text += "    ISRC " + isrc->second + "\r\n";
            }
            if (track.index00 && *track.index00 < track.index01) {
                text += "    INDEX 00 " + Time(*track.index00) + "\r\n";
            }
            text += "    INDEX 01 " + Time(track.index01) + "\r\n";
        }
    }
    QM_RETURN(0, text);
}

bool CCueSheet::Write(const std::string& path, std::string* error) const {
    QM_TRACE("CueSheet");
    if (!qm::WriteNewFile(path, Text())) {
        if (error != nullptr) {
            *error = std::strerror(errno);
        }
        QM_RETURN(0, false);
    }
    QM_RETURN(1, true);
}

bool CCueSheet::WriteToFlac(const std::string& path, std::uint32_t sampleRate,
                            std::int64_t totalFrames, std::string* error) const {
    QM_TRACE("CueSheet");
    auto fail = [error](const char* why) {
        if (error != nullptr) {
            *error = why;
        }
        return false;
    };
    if (m_files.empty() || m_files.front().tracks.empty() || sampleRate == 0) {
        QM_RETURN(0, fail("The cue sheet has no tracks."));
    }
    const auto samples = [sampleRate](std::int64_t frames) {
        return static_cast<FLAC__uint64>(frames) * sampleRate / kFramesPerSecond;
    };
    const std::vector<Track>& tracks = m_files.front().tracks;
    // The CD subset wants every point on a sector of 44100 Hz audio; an album
    // with gaps of any length is described as a plain (non-CD) sheet.
    bool cd = sampleRate == 44100;
    FLAC__StreamMetadata* block = FLAC__metadata_object_new(FLAC__METADATA_TYPE_CUESHEET);
    if (block == nullptr) {
        QM_RETURN(1, fail("Out of memory."));
    }
    bool ok = true;
    std::uint32_t at = 0;
    for (const Track& track : tracks) {
        const std::int64_t start =
            track.index00 ? std::min(*track.index00, track.index01) : track.index01;
        ok = ok && FLAC__metadata_object_cuesheet_insert_blank_track(block, at);
        if (!ok) {
            break;
        }
        FLAC__StreamMetadata_CueSheet_Track& entry = block->data.cue_sheet.tracks[at];
        entry.offset = samples(start);
        entry.number = static_cast<FLAC__byte>(track.number);
        entry.type = 0;
        entry.pre_emphasis = 0;
        std::uint32_t index = 0;
        if (start < track.index01) {
            FLAC__StreamMetadata_CueSheet_Index gap{};
            gap.offset = 0;
            gap.number = 0;
            ok = ok && FLAC__metadata_object_cuesheet_track_insert_index(block, at, index++, gap);
        }
        FLAC__StreamMetadata_CueSheet_Index audio{};
        audio.offset = samples(track.index01) - samples(start);
        audio.number = 1;
        ok = ok && FLAC__metadata_object_cuesheet_track_insert_index(block, at, index, audio);
        cd = cd && entry.offset % 588 == 0 && audio.offset % 588 == 0;
        ++at;
    }
    if (ok) {
        // The lead-out.
        ok = FLAC__metadata_object_cuesheet_insert_blank_track(block, at);
        if (ok) {
            block->data.cue_sheet.tracks[at].offset = samples(totalFrames);
        }
    }
    if (ok) {
        cd = cd && block->data.cue_sheet.tracks[at].offset % 588 == 0;
        block->data.cue_sheet.is_cd = cd;
        block->data.cue_sheet.lead_in = cd ? 88200 : 0;
        block->data.cue_sheet.tracks[at].number = cd ? 170 : 255;
        const char* violation = nullptr;
        ok = FLAC__metadata_object_cuesheet_is_legal(block, cd, &violation);
        if (!ok) {
            FLAC__metadata_object_delete(block);
            QM_RETURN(2, fail(violation != nullptr ? violation : "The cue sheet is not legal."));
        }
    }
    if (!ok) {
        FLAC__metadata_object_delete(block);
        QM_RETURN(3, fail("Out of memory."));
    }

    FLAC__Metadata_SimpleIterator* iterator = FLAC__metadata_simple_iterator_new();
    if (iterator == nullptr ||
        !FLAC__metadata_simple_iterator_init(iterator, path.c_str(), false, true)) {
        if (iterator != nullptr) {
            FLAC__metadata_simple_iterator_delete(iterator);
        }
        FLAC__metadata_object_delete(block);
        QM_RETURN(4, fail("Could not open the FLAC file."));
    }
    bool existing = false;
    do {
        if (FLAC__metadata_simple_iterator_get_block_type(iterator) ==
            FLAC__METADATA_TYPE_CUESHEET) {
            existing = true;
            break;
        }
    } while (FLAC__metadata_simple_iterator_next(iterator));
    if (!existing &&
        FLAC__metadata_simple_iterator_get_block_type(iterator) == FLAC__METADATA_TYPE_PADDING) {
        // The padding after the insertion point pays for the new block.
        FLAC__metadata_simple_iterator_prev(iterator);
    }
    ok = existing ? FLAC__metadata_simple_iterator_set_block(iterator, block, true)
                  : FLAC__metadata_simple_iterator_insert_block_after(iterator, block, true);
    FLAC__metadata_simple_iterator_delete(iterator);
    FLAC__metadata_object_delete(block);
    if (!ok) {
        QM_RETURN(5, fail("Could not write the FLAC cue sheet."));
    }
    QM_RETURN(6, true);
}
