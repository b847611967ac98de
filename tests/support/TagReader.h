// Independent readers of the tags the program writes: mutagen (through
// Debian's python3) and ffprobe.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qmtest {

struct ReadTags {
    bool ok = false;
    // (name, value) in file order: ID3 frames by mutagen's key ("TIT2",
    // "COMM::XXX", "WXXX:", "USLT::XXX"; ID3v2.3 frames as stored, TYER
    // included), Vorbis comments by their stored key, WMA attributes and APE
    // items by name.
    std::vector<std::pair<std::string, std::string>> tags;
    std::string id3Version; // "2.3" for an ID3v2.3 tag, "" without ID3v2
    // The ID3v1 tag's fields ("title", "artist", "album", "year", "comment",
    // "track", "genre" number); empty without an ID3v1 tag.
    std::map<std::string, std::string> id3v1;

    // Every value stored under `name` (compared without regard to case).
    std::vector<std::string> All(const std::string& name) const;
    // The only value under `name`; "" when there is none, "<n values>" when
    // there are several.
    std::string One(const std::string& name) const;
};

// `kind`: "auto" (by content), "id3" or "ape" (the APEv2 tag of any file).
ReadTags ReadTagsWithMutagen(const std::filesystem::path& file, const std::string& kind = "auto");

// Format and stream tags as ffprobe reports them (keys lower-cased).
std::map<std::string, std::string> ReadTagsWithFfprobe(const std::filesystem::path& file);

// A short tone encoded by ffmpeg with `codecArgs` (e.g. "-c:a libmp3lame").
bool MakeSampleAudio(const std::filesystem::path& file, const std::string& codecArgs,
                     double seconds = 1.0);

} // namespace qmtest
