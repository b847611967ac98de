#include "output/ID3Tag.h"

#include <algorithm>
#include <new>

#include "core/Text.h"
#include "core/Trace.h"

namespace {

bool MatchesSource(int wanted, int source) {
    return wanted == 0 || wanted == source;
}

// The sources to try, best first, when a value is looked up without `exact`.
int PreferenceOrder(int source, int (&order)[3]) {
    if (source == 0) {
        order[0] = 0;
        order[1] = 2;
        order[2] = 1;
        return 3;
    }
    order[0] = source;
    order[1] = 0;
    return 2;
}

} // namespace

CID3Tag::CID3Tag() {
    QM_TRACE("CID3Tag");
    static constexpr struct {
        int type;
        const char* extensions[3];
    } kTypes[] = {
        {kMP3, {"mp3", "mp2", nullptr}},     {kWMA, {"wma", nullptr, nullptr}},
        {kOGG, {"ogg", nullptr, nullptr}},   {kAPE, {"ape", nullptr, nullptr}},
        {kFLAC, {"flac", nullptr, nullptr}}, {kMP4, {"m4a", "m4b", "mp4"}},
    };
    for (const auto& entry : kTypes) {
        FileTypeEntry& slot = m_fileTypes[m_fileTypeCount++];
        slot.type = entry.type;
        std::copy(std::begin(entry.extensions), std::end(entry.extensions), slot.extensions);
    }
    InitMP3();
    InitOGG();
    InitAPE();
    InitWMA();
}

CID3Tag::~CID3Tag() {
    QM_TRACE("~CID3Tag");
}

void CID3Tag::InitMP3() {
    QM_TRACE("ID3Tag");
    m_id3FrameMap = {{"Track", "TRCK"},      {"Title", "TIT2"},     {"Artist", "TPE1"},
                     {"Album", "TALB"},      {"Year", "TYER"},      {"Genre", "TCON"},
                     {"Copyright", "TCOP"},  {"URL", "WXXX"},       {"Comment", "COMM"},
                     {"Composer", "TCOM"},   {"EncodedBy", "TENC"}, {"Mood", "TMOO"},
                     {"OrigArtist", "TOPE"}, {"Rating", "POPM"}};
}

void CID3Tag::InitOGG() {
    QM_TRACE("ID3Tag");
}

void CID3Tag::InitAPE() {
    QM_TRACE("ID3Tag");
}

void CID3Tag::InitWMA() {
    QM_TRACE("ID3Tag");
    m_wmaAttributeMap = {
        {"WM/TrackNumber", "Track"}, {"Title", "Title"},         {"Author", "Artist"},
        {"WM/AlbumTitle", "Album"},  {"WM/Year", "Year"},        {"WM/Genre", "Genre"},
        {"Copyright", "Copyright"},  {"WM/PromotionURL", "URL"}, {"Description", "Comment"}};
}

bool CID3Tag::SetTag(std::string_view name, std::string_view value, int source) {
    QM_TRACE("ID3Tag");
    if (name.empty()) {
        QM_RETURN(0, false);
    }
    if (value.empty()) {
        std::erase_if(m_fields, [&](const ID3TagField& field) {
            return field.source == source && qm::EqualsNoCase(field.name, name);
        });
        QM_RETURN(1, false);
    }
    for (ID3TagField& field : m_fields) {
        if (field.source == source && qm::EqualsNoCase(field.name, name)) {
            field.value = std::string(value);
            QM_RETURN(2, true);
        }
    }
    try {
        m_fields.insert(m_fields.begin(),
                        ID3TagField{std::string(name), std::string(value), source});
    } catch (const std::bad_alloc&) {
        QM_RETURN(3, false);
    }
    QM_RETURN(4, true);
}

const ID3TagField* CID3Tag::FindFieldByName(std::string_view name, int source, bool exact) const {
    QM_TRACE("ID3Tag");
    auto find = [&](int wanted) -> const ID3TagField* {
        for (const ID3TagField& field : m_fields) {
            if (field.source == wanted && qm::EqualsNoCase(field.name, name)) {
                return &field;
            }
        }
        return nullptr;
    };
    if (exact) {
        QM_RETURN(0, find(source));
    }
    int order[3];
    const int count = PreferenceOrder(source, order);
    for (int i = 0; i < count; ++i) {
        if (const ID3TagField* field = find(order[i])) {
            QM_RETURN(1, field);
        }
    }
    QM_RETURN(2, nullptr);
}

std::string CID3Tag::GetTag(std::string_view name) const {
    QM_TRACE("ID3Tag");
    const ID3TagField* field = FindFieldByName(name, 0, false);
    QM_RETURN(0, field != nullptr ? field->value : std::string());
}

void CID3Tag::RemoveTag(std::string_view name, int source) {
    QM_TRACE("ID3Tag");
    std::erase_if(m_fields, [&](const ID3TagField& field) {
        return MatchesSource(source, field.source) && qm::EqualsNoCase(field.name, name);
    });
}

void CID3Tag::Clear() {
    QM_TRACE("ID3Tag");
    m_fields.clear();
    m_freeForm.clear();
    m_picture = {};
    ClearAllSelections();
}

bool CID3Tag::SetSelection(std::string_view name, int source) {
    QM_TRACE("ID3Tag");
    if (!IsSelection(name, source, true)) {
        try {
            m_selections.insert(m_selections.begin(), ID3TagSelection{std::string(name), source});
        } catch (const std::bad_alloc&) {
            QM_RETURN(0, false);
        }
    }
    QM_RETURN(1, true);
}

bool CID3Tag::IsSelection(std::string_view name, int source, bool exact) const {
    QM_TRACE("ID3Tag");
    auto present = [&](int wanted) {
        return std::any_of(m_selections.begin(), m_selections.end(),
                           [&](const ID3TagSelection& mark) {
                               return mark.source == wanted && qm::EqualsNoCase(mark.name, name);
                           });
    };
    if (exact) {
        QM_RETURN(0, present(source));
    }
    int order[3];
    const int count = PreferenceOrder(source, order);
    for (int i = 0; i < count; ++i) {
        if (present(order[i])) {
            QM_RETURN(1, true);
        }
    }
    QM_RETURN(2, false);
}

void CID3Tag::RemoveSelection(std::string_view name, int source) {
    QM_TRACE("ID3Tag");
    std::erase_if(m_selections, [&](const ID3TagSelection& mark) {
        return MatchesSource(source, mark.source) && qm::EqualsNoCase(mark.name, name);
    });
}

void CID3Tag::ClearAllSelections() {
    QM_TRACE("ID3Tag");
    m_selections.clear();
}

int CID3Tag::FileTypeOf(std::string_view extension) const {
    QM_TRACE("ID3Tag");
    for (int i = 0; i < m_fileTypeCount; ++i) {
        const FileTypeEntry& entry = m_fileTypes[i];
        for (const char* known : entry.extensions) {
            if (known == nullptr || known[0] == '\0') {
                break;
            }
            if (qm::EqualsNoCase(known, extension)) {
                QM_RETURN(0, entry.type);
            }
        }
    }
    QM_RETURN(1, 0);
}

void CID3Tag::SetPicture(std::string bytes, std::string mime) {
    QM_TRACE("ID3Tag");
    m_picture.data = std::move(bytes);
    m_picture.mime = m_picture.data.empty() ? std::string() : std::move(mime);
}

void CID3Tag::SetFreeForm(std::string_view name, std::string_view value) {
    QM_TRACE("ID3Tag");
    if (name.empty() || name.find('=') != std::string_view::npos) {
        QM_RETURN(0);
    }
    const auto same = [&](const ID3TagField& field) { return qm::EqualsNoCase(field.name, name); };
    const auto found = std::find_if(m_freeForm.begin(), m_freeForm.end(), same);
    if (value.empty()) {
        std::erase_if(m_freeForm, same);
    } else if (found != m_freeForm.end()) {
        found->value = std::string(value);
    } else {
        m_freeForm.push_back({std::string(name), std::string(value), 0});
    }
    QM_EXIT(1);
}

std::string CID3Tag::GetFreeForm(std::string_view name) const {
    QM_TRACE("ID3Tag");
    for (const ID3TagField& field : m_freeForm) {
        if (qm::EqualsNoCase(field.name, name)) {
            QM_RETURN(0, field.value);
        }
    }
    QM_RETURN(1, std::string());
}

bool CID3Tag::Write(const std::string& path) {
    QM_TRACE("ID3Tag");
    m_lastError.clear();
    const std::size_t dot = path.rfind('.');
    const std::string_view extension =
        dot == std::string::npos ? std::string_view() : std::string_view(path).substr(dot + 1);
    switch (FileTypeOf(extension)) {
    case kMP3:
        QM_RETURN(0, WriteMP3(path));
    case kWMA:
        QM_RETURN(1, WriteWMA(path));
    case kOGG:
        QM_RETURN(2, WriteOGG(path));
    case kAPE:
        QM_RETURN(3, WriteAPE(path));
    case kFLAC:
        QM_RETURN(4, WriteFLAC(path));
    default:
        if ((HasPicture() || !m_freeForm.empty()) && qm::EqualsNoCase(extension, "wav")) {
            QM_RETURN(6, WriteWAVPicture(path));
        }
        m_lastError = "No tag is written into files of this type.";
        QM_RETURN(5, false);
    }
}
