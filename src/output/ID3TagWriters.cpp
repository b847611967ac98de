// The per-format writers of CID3Tag: TagLib for ID3 (MP3), APE and WMA
// attributes, libFLAC's metadata interface for FLAC, and our Ogg comment
// editor for Ogg Vorbis.
//
// The TagLib writers edit a copy of the file beside it and rename the copy
// over the original only after the edit succeeded: TagLib rewrites files in
// place, and a write cut short (a full disk, a crash) must not leave a
// damaged file behind.
#include <FLAC/metadata.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <taglib/apefile.h>
#include <taglib/apeitem.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/urllinkframe.h>
#include <taglib/wavfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <system_error>

#include "core/Text.h"
#include "core/Trace.h"
#include "output/ID3Tag.h"
#include "output/OggCommentEditor.h"

namespace {

// Result codes of the WMA writer, as the Windows Media editor reports them.
constexpr std::uint32_t kFail = 0x80004005;         // E_FAIL
constexpr std::uint32_t kInvalidArg = 0x80070057;   // E_INVALIDARG
constexpr std::uint32_t kFileNotFound = 0x80070002; // HRESULT of ERROR_FILE_NOT_FOUND

TagLib::String Utf8(const std::string& text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

bool IsRegularFile(const std::string& path, struct stat* info) {
    return ::stat(path.c_str(), info) == 0 && S_ISREG(info->st_mode);
}

bool SyncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

bool FolderRefusesNewFiles(const std::error_code& error) {
    return error == std::errc::permission_denied || error == std::errc::read_only_file_system ||
           error == std::errc::operation_not_permitted;
}

// Makes a read-only file writable for `edit` and read-only again after it,
// as the MP3 and Ogg writers do; false when the mode cannot be changed.
bool WithWritableFile(const std::string& path, const struct stat& info,
                      const std::function<bool(const std::string&)>& edit) {
    const bool readOnly = (info.st_mode & S_IWUSR) == 0;
    if (readOnly && ::chmod(path.c_str(), (info.st_mode | S_IWUSR) & 07777) != 0) {
        return false;
    }
    const bool done = edit(path);
    if (readOnly) {
        ::chmod(path.c_str(), info.st_mode & 07777);
    }
    return done;
}

// Runs `edit` on a copy named path + "~" and renames the copy over `path`
// when the edit succeeded; otherwise the copy goes and `path` is untouched.
// Where no file can be made beside it (a read-only folder), the edit runs on
// the file itself.
bool EditThroughCopy(const std::string& path, const std::function<bool(const std::string&)>& edit) {
    struct stat info {};
    if (!IsRegularFile(path, &info)) {
        return false;
    }
    const std::string copy = path + "~";
    std::error_code error;
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing,
                               error);
    if (error) {
        std::error_code ignored;
        if (FolderRefusesNewFiles(error) && !std::filesystem::exists(copy, ignored)) {
            return WithWritableFile(path, info, edit);
        }
        std::filesystem::remove(copy, ignored);
        return false;
    }
    bool done = ::chmod(copy.c_str(), S_IRUSR | S_IWUSR) == 0 && edit(copy) && SyncFile(copy) &&
                ::chmod(copy.c_str(), info.st_mode & 07777) == 0;
    // The file may have gone while it was being tagged: then there is
    // nothing to replace.
    struct stat now {};
    done = done && IsRegularFile(path, &now) && std::rename(copy.c_str(), path.c_str()) == 0;
    if (!done) {
        std::error_code ignored;
        std::filesystem::remove(copy, ignored);
    }
    return done;
}

// ID3v2: replaces every frame of `id` by one text frame holding `value`.
void ReplaceTextFrame(TagLib::ID3v2::Tag& tag, const char* id, const std::string& value) {
    tag.removeFrames(id);
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::Latin1);
    frame->setText(Utf8(value));
    tag.addFrame(frame);
}

// ID3v2: the model's free-form fields as TXXX frames, each in place of the
// frames of that description the tag had.
void SetUserTextFrames(const CID3Tag& model, TagLib::ID3v2::Tag& tag) {
    for (const ID3TagField& field : model.GetFreeFormFields()) {
        const TagLib::String description = Utf8(field.name);
        while (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(&tag, description)) {
            tag.removeFrame(old);
        }
        auto* frame = new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::Latin1);
        frame->setDescription(description);
        frame->setText(Utf8(field.value));
        tag.addFrame(frame);
    }
}

// The plain comment and URL frames are the ones without a description;
// described ones (player data and the like) stay.
template <typename Frame> void RemoveUndescribed(TagLib::ID3v2::Tag& tag, const char* id) {
    const TagLib::ID3v2::FrameList frames = tag.frameList(id);
    for (TagLib::ID3v2::Frame* frame : frames) {
        auto* typed = dynamic_cast<Frame*>(frame);
        if (typed == nullptr || typed->description().isEmpty()) {
            tag.removeFrame(frame);
        }
    }
}

TagLib::ByteVector Bytes(const std::string& data) {
    return TagLib::ByteVector(data.data(), static_cast<unsigned int>(data.size()));
}

// The model's picture as the front cover of an ID3v2 tag, in place of the
// front cover it had.
void SetID3Picture(const CID3Tag& model, TagLib::ID3v2::Tag& tag) {
    if (!model.HasPicture()) {
        return;
    }
    const TagLib::ID3v2::FrameList pictures = tag.frameList("APIC");
    for (TagLib::ID3v2::Frame* frame : pictures) {
        auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (picture != nullptr &&
            picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover) {
            tag.removeFrame(frame);
        }
    }
    auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setMimeType(model.GetPictureType());
    frame->setDescription("");
    frame->setPicture(Bytes(model.GetPictureData()));
    tag.addFrame(frame);
}

// The FLAC picture block of the model's picture, as the Ogg comment
// METADATA_BLOCK_PICTURE carries it (base64).
std::string OggPictureComment(const CID3Tag& model) {
    TagLib::FLAC::Picture picture;
    picture.setType(TagLib::FLAC::Picture::FrontCover);
    picture.setMimeType(model.GetPictureType());
    picture.setData(Bytes(model.GetPictureData()));
    const TagLib::ByteVector encoded = picture.render().toBase64();
    return "METADATA_BLOCK_PICTURE=" + std::string(encoded.data(), encoded.size());
}

bool TagMP3(const CID3Tag& model, const std::string& path) {
    TagLib::MPEG::File file(path.c_str(), false);
    if (!file.isValid() || file.readOnly()) {
        return false;
    }
    TagLib::ID3v2::Tag& tag = *file.ID3v2Tag(true);
    static constexpr struct {
        const char* field;
        const char* frame;
    } kTextFrames[] = {
        {"Title", "TIT2"},
        {"Artist", "TPE1"},
        {"Album", "TALB"},
        {"Track", "TRCK"},
    };
    for (const auto& entry : kTextFrames) {
        const std::string value = model.GetTag(entry.field);
        if (!value.empty()) {
            ReplaceTextFrame(tag, entry.frame, value);
        }
    }
    const std::string year = model.GetTag("Year");
    if (!year.empty()) {
        // TagLib reads an ID3v2.3 year as TDRC; both go, and TYER holds the
        // text exactly as the model has it.
        tag.removeFrames("TDRC");
        ReplaceTextFrame(tag, "TYER", year);
    }
    const std::string genre = model.GetTag("Genre");
    if (!genre.empty()) {
        ReplaceTextFrame(tag, "TCON", genre);
    }
    const std::string comment = model.GetTag("Comment");
    if (!comment.empty()) {
        RemoveUndescribed<TagLib::ID3v2::CommentsFrame>(tag, "COMM");
        auto* frame = new TagLib::ID3v2::CommentsFrame(TagLib::String::Latin1);
        frame->setText(Utf8(comment));
        tag.addFrame(frame);
    }
    const std::string copyright = model.GetTag("Copyright");
    if (!copyright.empty()) {
        ReplaceTextFrame(tag, "TCOP", copyright);
    }
    const std::string url = model.GetTag("URL");
    if (!url.empty()) {
        RemoveUndescribed<TagLib::ID3v2::UserUrlLinkFrame>(tag, "WXXX");
        auto* frame = new TagLib::ID3v2::UserUrlLinkFrame(TagLib::String::Latin1);
        frame->setUrl(Utf8(url));
        tag.addFrame(frame);
    }
    const std::string lyrics = model.GetTag("Lyrics");
    if (!lyrics.empty() && tag.frameList("USLT").isEmpty()) {
        // Lyrics the file already has stay.
        auto* frame = new TagLib::ID3v2::UnsynchronizedLyricsFrame(TagLib::String::Latin1);
        frame->setText(Utf8(lyrics));
        tag.addFrame(frame);
    }

    SetID3Picture(model, tag);
    SetUserTextFrames(model, tag);

    // The ID3v1 tag carries what fits of the same values.
    TagLib::ID3v1::Tag& v1 = *file.ID3v1Tag(true);
    TagLib::Tag::duplicate(&tag, &v1, true);
    const TagLib::ID3v2::FrameList years = tag.frameList("TYER");
    if (!years.isEmpty()) {
        v1.setYear(static_cast<unsigned int>(
            std::max(0, std::atoi(years.front()->toString().toCString(true)))));
    }
    return file.save(TagLib::MPEG::File::ID3v1 | TagLib::MPEG::File::ID3v2,
                     TagLib::File::StripOthers, TagLib::ID3v2::v3, TagLib::File::DoNotDuplicate);
}

bool TagAPE(const CID3Tag& model, const std::string& path) {
    TagLib::APE::File file(path.c_str(), false);
    if (!file.isValid() || file.readOnly()) {
        return false;
    }
    TagLib::APE::Tag& tag = *file.APETag(true);
    static constexpr struct {
        const char* field;
        const char* item;
    } kItems[] = {
        {"Artist", "Artist"},   {"Title", "Title"},         {"Album", "Album"},
        {"Genre", "Genre"},     {"Year", "Year"},           {"Track", "Track"},
        {"Comment", "Comment"}, {"Copyright", "Copyright"}, {"URL", "File URL"},
        {"Lyrics", "Lyrics"},
    };
    for (const auto& entry : kItems) {
        const std::string value = model.GetTag(entry.field);
        if (!value.empty()) {
            tag.addValue(entry.item, Utf8(value), true);
        }
    }
    for (const ID3TagField& field : model.GetFreeFormFields()) {
        tag.addValue(Utf8(field.name), Utf8(field.value), true);
    }
    if (model.HasPicture()) {
        // A binary item: a file name, a zero byte, the picture.
        const bool png = model.GetPictureType() == "image/png";
        TagLib::ByteVector value(png ? "cover.png" : "cover.jpg", 9);
        value.append('\0');
        value.append(Bytes(model.GetPictureData()));
        tag.setItem("Cover Art (Front)", TagLib::APE::Item("Cover Art (Front)", value, true));
    }
    // No ID3v1 copy of the APE tag.
    file.strip(TagLib::APE::File::ID3v1);
    return file.save();
}

// FLAC: sets the last comment named `name` to `value` (an empty value
// removes it), or appends one.
bool SetFlacEntry(FLAC__StreamMetadata* block, const char* name, const std::string& value) {
    int last = -1;
    for (int at = 0; (at = FLAC__metadata_object_vorbiscomment_find_entry_from(
                          block, static_cast<unsigned>(at), name)) >= 0;
         ++at) {
        last = at;
    }
    if (value.empty()) {
        return last < 0 || FLAC__metadata_object_vorbiscomment_delete_comment(
                               block, static_cast<unsigned>(last));
    }
    FLAC__StreamMetadata_VorbisComment_Entry entry;
    if (!FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name,
                                                                        value.c_str())) {
        return false;
    }
    if (last >= 0) {
        return FLAC__metadata_object_vorbiscomment_set_comment(block, static_cast<unsigned>(last),
                                                               entry, false);
    }
    return FLAC__metadata_object_vorbiscomment_append_comment(block, entry, false);
}

// FLAC: the model's picture as the file's front-cover picture block, in place
// of the one it had or added after the other blocks (before final padding).
bool SetFlacPicture(const CID3Tag& model, const std::string& path) {
    FLAC__StreamMetadata* picture = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PICTURE);
    if (picture == nullptr) {
        return false;
    }
    std::string mime = model.GetPictureType();
    const std::string& data = model.GetPictureData();
    picture->data.picture.type = FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER;
    bool ok = FLAC__metadata_object_picture_set_mime_type(picture, mime.data(), true) &&
              FLAC__metadata_object_picture_set_data(
                  picture, reinterpret_cast<FLAC__byte*>(const_cast<char*>(data.data())),
                  static_cast<FLAC__uint32>(data.size()), true);
    FLAC__Metadata_SimpleIterator* iterator = FLAC__metadata_simple_iterator_new();
    if (ok && iterator != nullptr &&
        FLAC__metadata_simple_iterator_init(iterator, path.c_str(), false, true)) {
        bool replaced = false;
        do {
            if (FLAC__metadata_simple_iterator_get_block_type(iterator) ==
                FLAC__METADATA_TYPE_PICTURE) {
                FLAC__StreamMetadata* old = FLAC__metadata_simple_iterator_get_block(iterator);
                const bool front =
                    old != nullptr &&
                    old->data.picture.type == FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER;
                if (old != nullptr) {
                    FLAC__metadata_object_delete(old);
                }
                if (front) {
                    ok = FLAC__metadata_simple_iterator_set_block(iterator, picture, true);
                    replaced = true;
                    break;
                }
            }
        } while (FLAC__metadata_simple_iterator_next(iterator));
        if (!replaced) {
            if (FLAC__metadata_simple_iterator_get_block_type(iterator) ==
                FLAC__METADATA_TYPE_PADDING) {
                FLAC__metadata_simple_iterator_prev(iterator);
            }
            ok = FLAC__metadata_simple_iterator_insert_block_after(iterator, picture, true);
        }
    } else {
        ok = false;
    }
    if (iterator != nullptr) {
        FLAC__metadata_simple_iterator_delete(iterator);
    }
    FLAC__metadata_object_delete(picture);
    return ok;
}

} // namespace

bool CID3Tag::WriteWAVPicture(const std::string& path) {
    QM_TRACE("ID3Tag");
    TagLib::RIFF::WAV::File file(path.c_str(), false);
    if (!file.isValid() || file.readOnly()) {
        m_lastError = "Could not open the WAV file.";
        QM_RETURN(0, false);
    }
    SetID3Picture(*this, *file.ID3v2Tag());
    SetUserTextFrames(*this, *file.ID3v2Tag());
    if (!file.save(TagLib::RIFF::WAV::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3)) {
        m_lastError = "Could not write the WAV file's picture.";
        QM_RETURN(1, false);
    }
    QM_RETURN(2, true);
}

bool CID3Tag::WriteMP3(const std::string& path) {
    QM_TRACE("ID3Tag");
    struct stat info {};
    if (!IsRegularFile(path, &info)) {
        m_lastError = "The file does not exist.";
        QM_RETURN(0, false);
    }
    if (!EditThroughCopy(path, [this](const std::string& file) { return TagMP3(*this, file); })) {
        m_lastError = "Could not write the ID3 tag.";
        QM_RETURN(1, false);
    }
    QM_RETURN(2, true);
}

bool CID3Tag::WriteAPE(const std::string& path) {
    QM_TRACE("ID3Tag");
    if (!EditThroughCopy(path, [this](const std::string& file) { return TagAPE(*this, file); })) {
        m_lastError = "Could not write the APE tag.";
        QM_RETURN(0, false);
    }
    QM_RETURN(1, true);
}

std::int32_t CID3Tag::WMA_SetHeaderAttribute(TagLib::ASF::Tag* header,
                                             const std::string& attributeName,
                                             const WmaAttributeValue& value) {
    QM_TRACE("ID3Tag");
    std::int32_t result = 0;
    if (header == nullptr || attributeName.empty() || (value.type != 0 && value.type != 1)) {
        result = static_cast<std::int32_t>(kInvalidArg);
    } else {
        const TagLib::String text = value.type == 1
                                        ? Utf8(value.text)
                                        : TagLib::String::number(static_cast<int>(value.number));
        // These five live in the header's content description object, the
        // rest in its extended attributes.
        if (attributeName == "Title") {
            header->setTitle(text);
        } else if (attributeName == "Author") {
            header->setArtist(text);
        } else if (attributeName == "Copyright") {
            header->setCopyright(text);
        } else if (attributeName == "Description") {
            header->setComment(text);
        } else if (attributeName == "Rating") {
            header->setRating(text);
        } else if (value.type == 1) {
            header->setAttribute(Utf8(attributeName), TagLib::ASF::Attribute(text));
        } else {
            header->setAttribute(Utf8(attributeName), TagLib::ASF::Attribute(value.number));
        }
    }
    if (result < 0) {
        std::printf("SetAttribute failed for Attribute name %s (hr=0x%08x).\n",
                    attributeName.c_str(), static_cast<unsigned>(result));
        std::fflush(stdout);
    }
    QM_RETURN(0, result);
}

bool CID3Tag::WriteWMA(const std::string& path) {
    QM_TRACE("ID3Tag");
    bool written = false;
    const bool replaced = EditThroughCopy(path, [&](const std::string& file) {
        TagLib::ASF::File asf(file.c_str(), false);
        if (!asf.isValid() || asf.readOnly()) {
            std::printf("Could not open the file %s (hr=0x%08x).\n", path.c_str(),
                        static_cast<unsigned>(kFail));
            return false;
        }
        TagLib::ASF::Tag* header = asf.tag();
        if (header == nullptr) {
            std::printf("Could not QI for IWMHeaderInfo (hr=0x%08x).\n",
                        static_cast<unsigned>(kFail));
            return false;
        }
        bool allSet = true;
        for (const NamePair& entry : m_wmaAttributeMap) {
            const std::string value = GetTag(entry.second);
            if (!value.empty()) {
                allSet = WMA_SetHeaderAttribute(header, entry.first, {1, 0, value}) >= 0 && allSet;
            }
        }
        const std::string lyrics = GetTag("Lyrics");
        if (!lyrics.empty()) {
            allSet = WMA_SetHeaderAttribute(header, "WM/Lyrics", {1, 0, lyrics}) >= 0 && allSet;
        }
        for (const ID3TagField& field : m_freeForm) {
            allSet = WMA_SetHeaderAttribute(header, field.name, {1, 0, field.value}) >= 0 && allSet;
        }
        if (HasPicture()) {
            TagLib::ASF::Picture picture;
            picture.setType(TagLib::ASF::Picture::FrontCover);
            picture.setMimeType(GetPictureType());
            picture.setPicture(Bytes(GetPictureData()));
            header->setAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
        }
        if (!asf.save()) {
            std::printf("Flush failed (hr=0x%08x).\n", static_cast<unsigned>(kFail));
            return false;
        }
        written = allSet;
        return true;
    });
    if (!replaced) {
        struct stat info {};
        if (!IsRegularFile(path, &info)) {
            std::printf("Could not open the file %s (hr=0x%08x).\n", path.c_str(),
                        static_cast<unsigned>(kFileNotFound));
        }
        std::fflush(stdout);
        m_lastError = "Could not write the WMA attributes.";
        QM_RETURN(0, false);
    }
    std::fflush(stdout);
    if (!written) {
        m_lastError = "Some WMA attributes could not be set.";
    }
    QM_RETURN(1, written);
}

bool CID3Tag::WriteFLAC(const std::string& path) {
    // Not traced: the FLAC writer is the one writer without a trace.
    FLAC__Metadata_SimpleIterator* iterator = FLAC__metadata_simple_iterator_new();
    if (iterator == nullptr) {
        m_lastError = "Out of memory.";
        return false;
    }
    if (!FLAC__metadata_simple_iterator_init(iterator, path.c_str(), false, true)) {
        FLAC__metadata_simple_iterator_delete(iterator);
        m_lastError = "Could not open the FLAC file.";
        return false;
    }
    FLAC__StreamMetadata* block = nullptr;
    bool existing = false;
    do {
        if (FLAC__metadata_simple_iterator_get_block_type(iterator) ==
            FLAC__METADATA_TYPE_VORBIS_COMMENT) {
            block = FLAC__metadata_simple_iterator_get_block(iterator);
            existing = true;
            break;
        }
    } while (FLAC__metadata_simple_iterator_next(iterator));
    if (!existing) {
        block = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
        // libFLAC takes padding only from the block after the insertion
        // point: a new block goes in front of a final padding block.
        if (FLAC__metadata_simple_iterator_get_block_type(iterator) ==
            FLAC__METADATA_TYPE_PADDING) {
            FLAC__metadata_simple_iterator_prev(iterator);
        }
    }
    bool ok = block != nullptr;
    static constexpr struct {
        const char* field;
        const char* name;
    } kEntries[] = {
        {"Title", "TITLE"},         {"Artist", "ARTIST"},       {"Album", "ALBUM"},
        {"Year", "DATE"},           {"Track", "TRACKNUMBER"},   {"Genre", "GENRE"},
        {"Comment", "DESCRIPTION"}, {"Copyright", "COPYRIGHT"}, {"URL", "URL"},
    };
    for (const auto& entry : kEntries) {
        const std::string value = GetTag(entry.field);
        if (ok && !value.empty()) {
            ok = SetFlacEntry(block, entry.name, value);
        }
    }
    for (const ID3TagField& field : m_freeForm) {
        ok = ok && SetFlacEntry(block, field.name.c_str(), field.value);
    }
    if (ok) {
        ok = existing ? FLAC__metadata_simple_iterator_set_block(iterator, block, true)
                      : FLAC__metadata_simple_iterator_insert_block_after(iterator, block, true);
    }
    if (block != nullptr) {
        FLAC__metadata_object_delete(block);
    }
    FLAC__metadata_simple_iterator_delete(iterator);
    if (!ok) {
        m_lastError = "Could not write the FLAC comments.";
        return false;
    }
    if (HasPicture() && !SetFlacPicture(*this, path)) {
        m_lastError = "Could not write the FLAC picture.";
        return false;
    }
    return ok;
}

bool CID3Tag::WriteOGG(const std::string& path) {
    QM_TRACE("ID3Tag");
    struct stat info {};
    if (!IsRegularFile(path, &info)) {
        m_lastError = "The file does not exist.";
        QM_RETURN(0, false);
    }
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        m_lastError = "Could not open the file.";
        QM_RETURN(1, false);
    }
    const std::string temporary = path + "~";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (out == nullptr) {
        std::fclose(in);
        m_lastError = "Could not create the temporary file.";
        QM_RETURN(2, false);
    }
    auto fail = [&](const std::string& why) {
        if (out != nullptr) {
            std::fclose(out);
        }
        if (in != nullptr) {
            std::fclose(in);
        }
        std::remove(temporary.c_str());
        m_lastError = why;
        return false;
    };

    COggCommentEditor editor;
    if (!editor.Open(in)) {
        QM_RETURN(3, fail(editor.GetLastError()));
    }
    // Field name for each comment this writer owns. Both spellings of the
    // copyright comment count, so files tagged with the old misspelt key get
    // it mended rather than doubled.
    static constexpr struct {
        const char* key;
        const char* field;
        const char* alias;
    } kOwned[] = {
        {"TITLE", "Title", nullptr},
        {"ARTIST", "Artist", nullptr},
        {"ALBUM", "Album", nullptr},
        {"DATE", "Year", nullptr},
        {"COMMENT", "Comment", nullptr},
        {"GENRE", "Genre", nullptr},
        {"COPYRIGHT", "Copyright", "COPYRIHGT"},
        {"URL", "URL", nullptr},
        {"TRACKNUMBER", "Track", nullptr},
        {"LYRICS", "Lyrics", nullptr},
    };
    constexpr std::size_t kOwnedCount = std::size(kOwned);
    bool done[kOwnedCount] = {};
    std::vector<std::string> comments;
    for (const std::string& old : editor.GetComments()) {
        const std::size_t equals = old.find('=');
        if (equals == std::string::npos || equals == 0) {
            continue;
        }
        const std::string_view key = std::string_view(old).substr(0, equals);
        std::size_t owned = kOwnedCount;
        for (std::size_t i = 0; i < kOwnedCount; ++i) {
            if (qm::EqualsNoCase(key, kOwned[i].key) ||
                (kOwned[i].alias != nullptr && qm::EqualsNoCase(key, kOwned[i].alias))) {
                owned = i;
                break;
            }
        }
        // The picture comment is replaced as a whole when the model has one,
        // a free-form comment by the model's.
        if ((HasPicture() && qm::EqualsNoCase(key, "METADATA_BLOCK_PICTURE")) ||
            !GetFreeForm(key).empty()) {
            continue;
        }
        const std::string value = owned < kOwnedCount ? GetTag(kOwned[owned].field) : "";
        if (value.empty()) {
            comments.push_back(old); // kept as it was, spelling included
        } else if (!done[owned]) {
            comments.push_back(std::string(kOwned[owned].key) + "=" + value);
            done[owned] = true;
        }
        // A second comment of a field the model sets is replaced by the
        // first one's new value, not repeated.
    }
    for (std::size_t i = 0; i < kOwnedCount; ++i) {
        const std::string value = GetTag(kOwned[i].field);
        if (!done[i] && !value.empty()) {
            comments.push_back(std::string(kOwned[i].key) + "=" + value);
        }
    }
    for (const ID3TagField& field : m_freeForm) {
        comments.push_back(field.name + "=" + field.value);
    }
    if (HasPicture()) {
        comments.push_back(OggPictureComment(*this));
    }
    if (!editor.Write(out, comments)) {
        QM_RETURN(4, fail(editor.GetLastError()));
    }
    const bool flushed = std::fflush(out) == 0 && ::fsync(::fileno(out)) == 0;
    const bool closed = std::fclose(out) == 0;
    out = nullptr;
    std::fclose(in);
    in = nullptr;
    if (!flushed || !closed) {
        QM_RETURN(5, fail("Could not write the temporary file."));
    }
    // The new file takes the old one's permissions, read-only included; the
    // rename replaces the old file in one step.
    if (::chmod(temporary.c_str(), info.st_mode & 07777) != 0 ||
        std::rename(temporary.c_str(), path.c_str()) != 0) {
        QM_RETURN(6, fail("Could not replace the file."));
    }
    m_lastError.clear();
    QM_RETURN(7, true);
}
