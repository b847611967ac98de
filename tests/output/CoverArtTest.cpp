// The front cover in every format's tag, read back by mutagen: the picture
// type (3, front cover), the MIME type and the bytes, once, with the audio
// left as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "output/ID3Tag.h"
#include "support/Oracles.h"
#include "support/Process.h"
#include "support/TagReader.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// Every picture of a file as mutagen finds it: [type, mime, hex bytes].
constexpr const char* kPictureScript = R"PY(
import base64, json, struct, sys
import mutagen
from mutagen.apev2 import APEv2
from mutagen.flac import FLAC, Picture

path, kind = sys.argv[1], sys.argv[2]
out = []
if kind == "ape":
    for key, value in APEv2(path).items():
        if key.lower().startswith("cover art"):
            name, _, data = value.value.partition(b"\0")
            mime = "image/png" if name.lower().endswith(b".png") else "image/jpeg"
            out.append([3 if key == "Cover Art (Front)" else 0, mime, data.hex()])
else:
    f = mutagen.File(path)
    if isinstance(f, FLAC):
        for p in f.pictures:
            out.append([p.type, p.mime, p.data.hex()])
    elif f.tags is not None and hasattr(f.tags, "getall"):
        for p in f.tags.getall("APIC"):
            out.append([int(p.type), p.mime, p.data.hex()])
    elif kind == "asf":
        for value in f.tags.get("WM/Picture", []):
            raw = value.value
            ptype, size = raw[0], struct.unpack("<I", raw[1:5])[0]
            rest = raw[5:]
            def text(b):
                end = 0
                while b[end:end + 2] != b"\0\0":
                    end += 2
                return b[:end].decode("utf-16-le"), b[end + 2:]
            mime, rest = text(rest)
            _, rest = text(rest)
            out.append([ptype, mime, rest[:size].hex()])
    else:
        for value in f.tags.get("metadata_block_picture", []):
            p = Picture(base64.b64decode(value))
            out.append([p.type, p.mime, p.data.hex()])
print(json.dumps(out))
)PY";

struct Found {
    int type = -1;
    std::string mime;
    std::string hex;
};

std::vector<Found> Pictures(const fs::path& file, const std::string& kind) {
    const qmtest::CommandResult run = qmtest::Run(
        std::string(qmtest::SystemPython()) + " -c " + qmtest::ShellQuote(kPictureScript) + " " +
        qmtest::ShellQuote(file.string()) + " " + qmtest::ShellQuote(kind));
    std::vector<Found> found;
    const auto json = nlohmann::json::parse(run.out, nullptr, false);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    if (json.is_array()) {
        for (const auto& p : json) {
            found.push_back({p[0].get<int>(), p[1].get<std::string>(), p[2].get<std::string>()});
        }
    }
    return found;
}

std::string Hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

// A JPEG-looking picture with every byte value in it.
std::string Picture(char seed) {
    std::string bytes = "\xFF\xD8\xFF\xE0";
    for (int i = 0; i < 3000; ++i) {
        bytes += static_cast<char>((i * 7 + seed) & 0xFF);
    }
    return bytes;
}

struct Format {
    const char* name;
    const char* codec; // for ffmpeg
    const char* kind;  // for the picture reader
};

class CoverArt : public ::testing::TestWithParam<Format> {};

TEST_P(CoverArt, TheFrontCoverIsEmbeddedOnceAndTheAudioStays) {
    const Format& format = GetParam();
    qmtest::TempDir dir;
    // ffmpeg cannot make APE files; the APE tag goes at the end of any data.
    const std::string ext = format.name;
    const fs::path file = dir / ("track." + ext);
    ASSERT_TRUE(qmtest::MakeSampleAudio(file, format.codec));
    const qmtest::Bytes audio = ext == "ape" ? qmtest::Bytes() : qmtest::DecodeWithFfmpeg(file);

    CID3Tag tag;
    tag.SetTag("Title", "With a cover");
    tag.SetPicture(Picture(1), "image/jpeg");
    ASSERT_TRUE(tag.Write(file.string())) << tag.GetLastError();
    std::vector<Found> found = Pictures(file, format.kind);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].type, 3);
    EXPECT_EQ(found[0].mime, "image/jpeg");
    EXPECT_EQ(found[0].hex, Hex(Picture(1)));

    // A second write replaces the cover rather than adding one.
    tag.SetPicture(std::string("\x89PNG\r\n\x1A\n", 8) + Picture(2), "image/png");
    ASSERT_TRUE(tag.Write(file.string())) << tag.GetLastError();
    found = Pictures(file, format.kind);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].type, 3);
    EXPECT_EQ(found[0].mime, "image/png");
    EXPECT_EQ(found[0].hex, Hex(std::string("\x89PNG\r\n\x1A\n", 8) + Picture(2)));

    // Without a picture the one the file has stays.
    CID3Tag plain;
    plain.SetTag("Title", "No cover");
    if (ext != "wav") {
        ASSERT_TRUE(plain.Write(file.string())) << plain.GetLastError();
        EXPECT_EQ(Pictures(file, format.kind).size(), 1u);
    } else {
        EXPECT_FALSE(plain.Write(file.string())); // a WAV file has no tag to write
    }
    if (!audio.empty()) {
        EXPECT_EQ(qmtest::DecodeWithFfmpeg(file), audio);
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, CoverArt,
                         ::testing::Values(Format{"mp3", "-c:a libmp3lame -b:a 128k", "auto"},
                                           Format{"ogg", "-c:a libvorbis -q:a 3", "auto"},
                                           Format{"flac", "-c:a flac", "auto"},
                                           Format{"ape", "-c:a libmp3lame -b:a 128k -f mp3", "ape"},
                                           Format{"wma", "-c:a wmav2 -b:a 64k", "asf"},
                                           Format{"wav", "-c:a pcm_s16le", "auto"}),
                         [](const testing::TestParamInfo<Format>& param) {
                             return std::string(param.param.name);
                         });

TEST(CoverArtModel, APictureIsPartOfTheTag) {
    CID3Tag tag;
    EXPECT_FALSE(tag.HasPicture());
    tag.SetPicture("bytes", "image/jpeg");
    EXPECT_TRUE(tag.HasPicture());
    const CID3Tag copy = tag;
    EXPECT_EQ(copy, tag);
    tag.SetPicture("", "image/jpeg");
    EXPECT_FALSE(tag.HasPicture());
    EXPECT_EQ(tag.GetPictureType(), "");
    EXPECT_FALSE(copy == tag);
    CID3Tag cleared = copy;
    cleared.Clear();
    EXPECT_FALSE(cleared.HasPicture());
}

} // namespace
