// A cue sheet: the disc-level PERFORMER, TITLE and REM lines, then one FILE
// entry per audio file, each with its tracks and their INDEX 00 (where the
// gap before the track starts, when it has one) and INDEX 01 (where the
// track's audio starts), in CD frames of 1/75 s from the start of that file.
//
// Text goes out as UTF-8; a double quote inside a quoted value becomes a
// single one and line breaks become spaces, since the format has no escape.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

class CCueSheet {
public:
    static constexpr std::int64_t kFramesPerSecond = 75;

    struct Track {
        std::int32_t number = 1;
        std::string title;
        std::string performer;
        std::optional<std::int64_t> index00; // gap start, in frames
        std::int64_t index01 = 0;            // audio start, in frames
    };
    struct File {
        std::string name; // as the FILE line names it (usually without a folder)
        std::string type; // "WAVE", "MP3", ...
        std::vector<Track> tracks;
    };

    void SetPerformer(const std::string& performer) { m_performer = performer; }
    void SetTitle(const std::string& title) { m_title = title; }
    // The disc's media catalogue number (13 digits, as a drive reports it);
    // a malformed or all-zero one leaves the CATALOG line out.
    void SetCatalog(const std::string& catalog) { m_catalog = catalog; }
    // The ISRC of track `number` (12 letters and digits); a malformed or
    // all-zero one leaves the track's ISRC line out.
    void SetIsrc(std::int32_t number, const std::string& isrc) { m_isrcs[number] = isrc; }
    // A "REM key value" line; an empty value leaves the line out.
    void AddRem(const std::string& key, const std::string& value);
    File& AddFile(const std::string& name, const std::string& type);
    const std::vector<File>& GetFiles() const { return m_files; }

    // The FILE type of an audio file by its extension: "MP3" for .mp3,
    // "AIFF" for .aif/.aiff, else "WAVE" (what players take for any
    // decodable audio file).
    static std::string FileTypeFor(const std::string& fileName);
    // "mm:ss:ff" of a position in frames.
    static std::string Time(std::int64_t frames);

    // The sheet's text, lines ending in CR LF.
    std::string Text() const;
    // Writes the sheet to `path` through a temporary file beside it, so that
    // an older sheet stays whole until the new one is complete. False (with
    // `error` set when given) when it cannot be written.
    bool Write(const std::string& path, std::string* error = nullptr) const;
    // Puts the sheet's first FILE into the CUESHEET block of a FLAC file,
    // replacing one it has; positions are converted to samples of
    // `sampleRate`. `totalFrames` is the file's length in CD frames (the
    // lead-out). False when the file cannot be read or written.
    bool WriteToFlac(const std::string& path, std::uint32_t sampleRate, std::int64_t totalFrames,
                     std::string* error = nullptr) const;

private:
    std::string m_performer;
    std::string m_title;
    std::string m_catalog;
    std::map<std::int32_t, std::string> m_isrcs;
    std::vector<std::pair<std::string, std::string>> m_rems;
    std::vector<File> m_files;
};
