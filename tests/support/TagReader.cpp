#include "support/TagReader.h"

#include <nlohmann/json.hpp>

#include "support/Process.h"

namespace qmtest {

namespace {

constexpr const char* kMutagenScript = R"PY(
import json, sys
import mutagen
from mutagen.apev2 import APEv2
from mutagen.id3 import ID3
from mutagen.asf import ASFTags

path, kind = sys.argv[1], sys.argv[2]
out = {"tags": [], "id3": "", "v1": {}}

def id3_frames(tag):
    out["id3"] = "%d.%d" % tag.version[:2]
    for frame in tag.values():
        if hasattr(frame, "url"):
            value = frame.url
        elif hasattr(frame, "text"):
            value = "\u0000".join(str(t) for t in frame.text) if isinstance(frame.text, list) else str(frame.text)
        else:
            value = str(frame)
        out["tags"].append([frame.HashKey, value])

if kind == "ape":
    for key, value in APEv2(path).items():
        out["tags"].append([key, str(value)])
elif kind == "id3":
    id3_frames(ID3(path, translate=False, load_v1=False))
else:
    f = mutagen.File(path)
    if f is None:
        sys.exit(2)
    if isinstance(f.tags, ID3):
        try:
            tag = ID3(path, translate=False, load_v1=False)
        except mutagen.MutagenError:
            tag = f.tags  # an ID3v2 chunk inside a RIFF file
        id3_frames(tag)
    elif isinstance(f.tags, ASFTags):
        for key, value in f.tags:
            out["tags"].append([key, str(value)])
    elif f.tags is not None:
        for key, value in f.tags.items() if isinstance(f.tags, APEv2) else f.tags:
            out["tags"].append([key, str(value)])

with open(path, "rb") as fh:
    fh.seek(0, 2)
    if fh.tell() >= 128:
        fh.seek(-128, 2)
        v1 = fh.read(128)
        if v1[:3] == b"TAG":
            text = lambda b: b.split(b"\0")[0].decode("latin-1").rstrip(" ")
            out["v1"] = {"title": text(v1[3:33]), "artist": text(v1[33:63]),
                         "album": text(v1[63:93]), "year": text(v1[93:97]),
                         "comment": text(v1[97:125] if v1[125] == 0 else v1[97:127]),
                         "track": str(v1[126]) if v1[125] == 0 else "",
                         "genre": str(v1[127])}
print(json.dumps(out))
)PY";

bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<std::string> ReadTags::All(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : tags) {
        if (SameNoCase(key, name)) {
            values.push_back(value);
        }
    }
    return values;
}

std::string ReadTags::One(const std::string& name) const {
    const auto values = All(name);
    if (values.empty()) {
        return "";
    }
    return values.size() == 1 ? values.front() : "<" + std::to_string(values.size()) + " values>";
}

ReadTags ReadTagsWithMutagen(const std::filesystem::path& file, const std::string& kind) {
    ReadTags result;
    const CommandResult run =
        Run(std::string(SystemPython()) + " -c " + ShellQuote(kMutagenScript) + " " +
            ShellQuote(file.string()) + " " + ShellQuote(kind));
    if (run.exitCode != 0) {
        return result;
    }
    const auto json = nlohmann::json::parse(run.out, nullptr, false);
    if (json.is_discarded()) {
        return result;
    }
    for (const auto& pair : json["tags"]) {
        result.tags.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
    }
    result.id3Version = json["id3"].get<std::string>();
    for (const auto& [key, value] : json["v1"].items()) {
        result.id3v1[key] = value.get<std::string>();
    }
    result.ok = true;
    return result;
}

std::map<std::string, std::string> ReadTagsWithFfprobe(const std::filesystem::path& file) {
    std::map<std::string, std::string> tags;
    const CommandResult run =
        Run("ffprobe -v error -print_format json -show_entries format_tags:stream_tags " +
            ShellQuote(file.string()));
    if (run.exitCode != 0) {
        return tags;
    }
    const auto json = nlohmann::json::parse(run.out, nullptr, false);
    if (json.is_discarded()) {
        return tags;
    }
    auto take = [&](const nlohmann::json& object) {
        if (!object.is_object() || !object.contains("tags")) {
            return;
        }
        for (const auto& [key, value] : object["tags"].items()) {
            std::string lower = key;
            for (char& c : lower) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            tags[lower] = value.is_string() ? value.get<std::string>() : value.dump();
        }
    };
    if (json.contains("format")) {
        take(json["format"]);
    }
    if (json.contains("streams")) {
        for (const auto& stream : json["streams"]) {
            take(stream);
        }
    }
    return tags;
}

bool MakeSampleAudio(const std::filesystem::path& file, const std::string& codecArgs,
                     double seconds) {
    const CommandResult run =
        Run("ffmpeg -nostdin -v error -y -f lavfi -i " +
            ShellQuote("sine=frequency=440:sample_rate=44100:duration=" + std::to_string(seconds)) +
            " -ac 2 -map_metadata -1 " + codecArgs + " " + ShellQuote(file.string()));
    return run.exitCode == 0 && std::filesystem::exists(file);
}

} // namespace qmtest
