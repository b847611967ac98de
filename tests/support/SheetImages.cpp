#include "support/SheetImages.h"

#include <fstream>
#include <stdexcept>

#include "support/Process.h"

namespace qmtest {

namespace {

namespace fs = std::filesystem;
using discgen::kSectorBytes;
using discgen::Msf;

void PutLe(std::ofstream& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

void WavHeader(std::ofstream& out, std::uint64_t dataBytes) {
    out.write("RIFF", 4);
    PutLe(out, static_cast<std::uint32_t>(36 + dataBytes), 4);
    out.write("WAVEfmt ", 8);
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);
    PutLe(out, 2, 2);
    PutLe(out, 44100, 4);
    PutLe(out, 44100 * 4, 4);
    PutLe(out, 4, 2);
    PutLe(out, 16, 2);
    out.write("data", 4);
    PutLe(out, static_cast<std::uint32_t>(dataBytes), 4);
}

void WriteFlac(const fs::path& raw, const fs::path& flac) {
    const auto run = Run("ffmpeg -nostdin -loglevel error -y -f s16le -ar 44100 -ac 2 -i " +
                             ShellQuote(raw.string()) + " -c:a flac " + ShellQuote(flac.string()),
                         true);
    if (run.exitCode != 0) {
        throw std::runtime_error("ffmpeg cannot write " + flac.string() + ": " + run.out);
    }
    fs::remove(raw);
}

std::string Track(int number) {
    return std::string("  TRACK ") + (number < 10 ? "0" : "") + std::to_string(number) + " AUDIO\n";
}

} // namespace

std::vector<SheetVariant> WriteTocVariants(const fs::path& dir, const TestImage& image,
                                           const std::string& cdText) {
    const int count = static_cast<int>(image.tracks.size());
    // Track t runs from its gap (the disc's start for track 1) to the next
    // track's gap; START marks its INDEX 01.
    auto tracks = [&](const std::string& fileLine, bool withText) {
        std::string text = "CD_DA\n\n";
        if (withText && !cdText.empty()) {
            text += "CD_TEXT {\n  LANGUAGE_MAP {\n    0: 9\n  }\n  LANGUAGE 0 {\n" + cdText +
                    "  }\n}\n";
        }
        for (int t = 1; t <= count; ++t) {
            auto begin = [&](int n) {
                return n == 1
                           ? 0
                           : image.Start(n) - image.tracks[static_cast<std::size_t>(n - 1)].pregap;
            };
            const std::int32_t from = begin(t);
            const std::int32_t to = t == count ? image.layout.leadout : begin(t + 1);
            text += "\n// Track " + std::to_string(t) + "\nTRACK AUDIO\nNO COPY\nNO PRE_EMPHASIS\n";
            if (withText) {
                text += "CD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"Song " + std::to_string(t) +
                        "\"\n  }\n}\n";
            }
            text += fileLine + " " + (from == 0 ? std::string("0") : Msf(from)) + " " +
                    Msf(to - from) + "\n";
            if (image.Start(t) > from) {
                text += "START " + Msf(image.Start(t) - from) + "\n";
            }
        }
        return text;
    };
    std::vector<SheetVariant> out;
    WriteText(dir / "wav.toc", tracks("FILE \"disc.wav\"", true));
    out.push_back({"toc-wav", dir / "wav.toc"});
    WriteText(dir / "flac.toc", tracks("AUDIOFILE \"disc.flac\"", false));
    out.push_back({"toc-flac", dir / "flac.toc"});
    // Big-endian samples after 1001 bytes of something else.
    Bytes all = image.Sectors(0, image.layout.leadout);
    for (std::size_t i = 0; i + 1 < all.size(); i += 2) {
        std::swap(all[i], all[i + 1]);
    }
    all.insert(all.begin(), 1001, 0x5A);
    WriteFile(dir / "disc.be", all);
    WriteText(dir / "raw.toc", tracks("FILE \"disc.be\" #1001", false));
    out.push_back({"toc-raw", dir / "raw.toc"});
    return out;
}

void WriteSilentWav(const fs::path& file, std::int64_t sectors) {
    const std::uint64_t bytes = static_cast<std::uint64_t>(sectors) * kSectorBytes;
    {
        std::ofstream out(file, std::ios::binary);
        WavHeader(out, bytes);
        if (!out) {
            throw std::runtime_error("cannot write " + file.string());
        }
    }
    fs::resize_file(file, 44 + bytes);
}

std::vector<SheetVariant> WriteSheetVariants(const fs::path& dir,
                                             const std::vector<ImageTrack>& tracks,
                                             const std::string& header, TestImage* image) {
    *image = WriteTestImage(dir, "disc", tracks, 7);
    const TestImage& disc = *image;
    const int count = static_cast<int>(tracks.size());
    // Silent gaps, so a sheet that leaves them out still holds the same disc.
    Bytes all = disc.Sectors(0, disc.layout.leadout);
    for (int t = 1; t <= count; ++t) {
        const std::int32_t gapStart =
            disc.Start(t) - tracks[static_cast<std::size_t>(t - 1)].pregap;
        std::fill(all.begin() + static_cast<std::ptrdiff_t>(gapStart) * kSectorBytes,
                  all.begin() + static_cast<std::ptrdiff_t>(disc.Start(t)) * kSectorBytes, 0);
    }
    WriteFile(disc.layout.bin, all);

    std::vector<SheetVariant> out;
    // One file for the disc: the sheet discgen wrote, over each kind of file.
    std::ifstream in(disc.layout.sheet, std::ios::binary);
    std::string sheet((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string binLine = "FILE \"" + disc.layout.bin.filename().string() + "\" BINARY";
    const std::size_t at = sheet.find(binLine);
    if (at == std::string::npos) {
        throw std::runtime_error("unexpected sheet from discgen: " + sheet);
    }
    auto over = [&](const std::string& file, const std::string& type) {
        std::string text = sheet;
        text.replace(at, binLine.size(), "FILE \"" + file + "\" " + type);
        return header + text;
    };
    WriteText(dir / "bin.cue", header + sheet);
    out.push_back({"bin", dir / "bin.cue"});
    {
        std::ofstream wav(dir / "disc.wav", std::ios::binary);
        WavHeader(wav, all.size());
        wav.write(reinterpret_cast<const char*>(all.data()),
                  static_cast<std::streamsize>(all.size()));
    }
    WriteText(dir / "wav.cue", over("disc.wav", "WAVE"));
    out.push_back({"wav", dir / "wav.cue"});
    WriteFile(dir / "disc.raw", all);
    WriteFlac(dir / "disc.raw", dir / "disc.flac");
    WriteText(dir / "flac.cue", over("disc.flac", "WAVE"));
    out.push_back({"flac", dir / "flac.cue"});

    auto slice = [&](std::int32_t from, std::int32_t to, const fs::path& flac) {
        const Bytes part(all.begin() + static_cast<std::ptrdiff_t>(from) * kSectorBytes,
                         all.begin() + static_cast<std::ptrdiff_t>(to) * kSectorBytes);
        fs::path raw = flac;
        raw.replace_extension(".raw");
        WriteFile(raw, part);
        WriteFlac(raw, flac);
    };
    auto name = [](const char* kind, int t) {
        return std::string(kind) + (t < 10 ? "0" : "") + std::to_string(t) + ".flac";
    };
    // One FLAC per track from INDEX 01 to the next INDEX 01: the next
    // track's gap sits at the end of the file before it.
    std::string appended = header;
    for (int t = 1; t <= count; ++t) {
        const std::int32_t start = t == 1 ? 0 : disc.Start(t);
        const std::int32_t end = t == count ? disc.layout.leadout : disc.Start(t + 1);
        slice(start, end, dir / name("a", t));
        if (t > 1 && tracks[static_cast<std::size_t>(t - 1)].pregap > 0) {
            appended += Track(t) + "    INDEX 00 " +
                        Msf(disc.Start(t) - tracks[static_cast<std::size_t>(t - 1)].pregap -
                            (t == 2 ? 0 : disc.Start(t - 1))) +
                        "\n";
            appended += "FILE \"" + name("a", t) + "\" WAVE\n    INDEX 01 00:00:00\n";
            continue;
        }
        appended += "FILE \"" + name("a", t) + "\" WAVE\n" + Track(t);
        if (t == 1 && disc.Start(1) > 0) {
            appended += "    INDEX 00 00:00:00\n";
        }
        appended += "    INDEX 01 " + Msf(t == 1 ? disc.Start(1) : 0) + "\n";
    }
    WriteText(dir / "appended.cue", appended);
    out.push_back({"appended", dir / "appended.cue"});

    // One FLAC per track from INDEX 01 to the next gap; the gaps are left
    // out and the sheet says how long they were.
    std::string leftout = header;
    for (int t = 1; t <= count; ++t) {
        const std::int32_t end =
            t == count ? disc.layout.leadout
                       : disc.Start(t + 1) - tracks[static_cast<std::size_t>(t)].pregap;
        slice(disc.Start(t), end, dir / name("l", t));
        leftout += "FILE \"" + name("l", t) + "\" WAVE\n" + Track(t);
        const std::int32_t gap =
            t == 1 ? disc.Start(1) : tracks[static_cast<std::size_t>(t - 1)].pregap;
        if (gap > 0) {
            leftout += "    PREGAP " + Msf(gap) + "\n";
        }
        leftout += "    INDEX 01 00:00:00\n";
    }
    WriteText(dir / "leftout.cue", leftout);
    out.push_back({"leftout", dir / "leftout.cue"});
    return out;
}

} // namespace qmtest
