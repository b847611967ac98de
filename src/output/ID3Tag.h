// The tag model every track record carries: named text fields, each with the
// source it came from (0 = set by the program or the user), and the marks
// the tag pages set. Despite its name it serves every format: Write picks the
// writer by the file's extension and puts the fields into an ID3 tag (MP3),
// Vorbis comments (Ogg Vorbis, FLAC), an APE tag or WMA attributes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace TagLib::ASF {
class Tag;
} // namespace TagLib::ASF

struct ID3TagField {
    std::string name;
    std::string value;
    int source = 0;

    bool operator==(const ID3TagField&) const = default;
};

struct ID3TagSelection {
    std::string name;
    int source = 0;

    bool operator==(const ID3TagSelection&) const = default;
};

class CID3Tag {
public:
    // Type numbers of the file-type table.
    enum FileType { kMP3 = 1, kWMA = 2, kOGG = 3, kAPE = 4, kFLAC = 5, kMP4 = 6 };

    // A WMA attribute value: type 1 is a string (the only one the writer
    // uses), type 0 a 32-bit number.
    struct WmaAttributeValue {
        int type = 1;
        std::uint32_t number = 0;
        std::string text;
    };

    CID3Tag();
    CID3Tag(const CID3Tag&) = default;
    CID3Tag& operator=(const CID3Tag&) = default;
    CID3Tag(CID3Tag&&) = default;
    CID3Tag& operator=(CID3Tag&&) = default;
    virtual ~CID3Tag();

    // Same fields and selections, in the same order.
    bool operator==(const CID3Tag& other) const {
        return m_fields == other.m_fields && m_selections == other.m_selections &&
               m_picture == other.m_picture && m_freeForm == other.m_freeForm;
    }

    // Empty name: false, nothing changes. Empty value: the field (name,
    // source) goes and the result is false. Otherwise the field gets the
    // value (a new field goes to the head of the list); true.
    bool SetTag(std::string_view name, std::string_view value, int source = 0);
    // With `exact`, the field of that source only. Without: for source 0 the
    // first of sources 0, 2, 1 that exists; for another source that source,
    // else 0.
    const ID3TagField* FindFieldByName(std::string_view name, int source = 0,
                                       bool exact = false) const;
    // The text of a field as the rest of the program reads it ("Title",
    // "Artist", ...): FindFieldByName(name, 0, false), "" when absent.
    std::string GetTag(std::string_view name) const;
    // Removes every field of that name whose source matches; source 0
    // removes all sources.
    void RemoveTag(std::string_view name, int source = 0);

    bool HasTitle() const { return !GetTag("Title").empty(); }
    bool HasArtist() const { return !GetTag("Artist").empty(); }
    bool HasAlbum() const { return !GetTag("Album").empty(); }
    bool HasTrack() const { return !GetTag("Track").empty(); }
    bool HasYear() const { return !GetTag("Year").empty(); }
    bool HasGenre() const { return !GetTag("Genre").empty(); }
    bool HasComment() const { return !GetTag("Comment").empty(); }
    bool HasCopyright() const { return !GetTag("Copyright").empty(); }
    bool HasURL() const { return !GetTag("URL").empty(); }

    // Removes all fields and all selections.
    void Clear();

    bool SetSelection(std::string_view name, int source);
    bool IsSelection(std::string_view name, int source, bool exact) const;
    // Removes the marks of that name and, unless source is 0, that source.
    void RemoveSelection(std::string_view name, int source);
    void ClearAllSelections();

    // Newest first.
    const std::vector<ID3TagField>& GetFields() const { return m_fields; }

    // The front cover every writer embeds (ID3v2 APIC, a FLAC picture block,
    // the Ogg METADATA_BLOCK_PICTURE comment, the APE item "Cover Art
    // (Front)", WM/Picture; a WAV file gets an ID3v2 chunk holding it):
    // the picture's bytes and MIME type. Empty bytes: none, and what the
    // file holds stays.
    void SetPicture(std::string bytes, std::string mime);
    const std::string& GetPictureData() const { return m_picture.data; }
    const std::string& GetPictureType() const { return m_picture.mime; }
    bool HasPicture() const { return !m_picture.data.empty(); }

    // Free-form fields written under their own name beside the mapped ones:
    // a Vorbis comment (FLAC, Ogg Vorbis), an ID3v2 TXXX frame of that
    // description (MP3, and the ID3v2 chunk of a WAV file), an APE item, a
    // WMA attribute. Names are ASCII without '='; setting an empty value
    // removes the field. A file's own field of that name is replaced.
    void SetFreeForm(std::string_view name, std::string_view value);
    std::string GetFreeForm(std::string_view name) const;
    // In the order they were first set.
    const std::vector<ID3TagField>& GetFreeFormFields() const { return m_freeForm; }

    // Writes the model into the finished file `path`, by its extension.
    // False for the MP4 family, unknown extensions and failed writes; a WAV
    // file is written only for its picture and its free-form fields.
    bool Write(const std::string& path);
    bool WriteMP3(const std::string& path);
    bool WriteOGG(const std::string& path);
    bool WriteAPE(const std::string& path);
    bool WriteWMA(const std::string& path);
    bool WriteFLAC(const std::string& path);
    // The ID3v2 chunk of a WAV file: its picture and free-form fields.
    bool WriteWAVPicture(const std::string& path);
    // Sets one attribute of a WMA header (stream 0): 0 on success, a
    // negative result code (printed) on failure.
    static std::int32_t WMA_SetHeaderAttribute(TagLib::ASF::Tag* header,
                                               const std::string& attributeName,
                                               const WmaAttributeValue& value);

    // Why the last Write failed ("" after a success); for the log.
    const std::string& GetLastError() const { return m_lastError; }

private:
    struct FileTypeEntry {
        const char* extensions[20] = {};
        int type = 0;
    };
    struct NamePair {
        const char* first;
        const char* second;
    };

    void InitMP3();
    void InitOGG();
    void InitAPE();
    void InitWMA();
    int FileTypeOf(std::string_view extension) const;

    FileTypeEntry m_fileTypes[10];
    int m_fileTypeCount = 0;
    std::vector<ID3TagField> m_fields;         // newest first
    std::vector<ID3TagSelection> m_selections; // newest first
    std::vector<ID3TagField> m_freeForm;       // first set first
    std::vector<NamePair> m_id3FrameMap;       // field name, ID3 frame id
    std::vector<NamePair> m_wmaAttributeMap;   // WMA attribute name, field name
    std::string m_lastError;
    struct Picture {
        std::string data;
        std::string mime;
        bool operator==(const Picture&) const = default;
    } m_picture;
};
