#include "DiscImage.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>

#include "Signal.h"

namespace discgen {

namespace {

constexpr std::int32_t kChunkSectors = 256;

std::uint8_t Bcd(int value) {
    return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10));
}

// A Mode 1 sector: sync pattern, header with its address, zero user data.
void DataSector(std::int32_t lsn, std::uint8_t* out) {
    std::fill(out, out + kSectorBytes, 0);
    std::fill(out + 1, out + 11, 0xFF);
    const std::int32_t absolute = lsn + 2 * kSectorsPerSecond;
    out[12] = Bcd(absolute / (60 * kSectorsPerSecond));
    out[13] = Bcd(absolute / kSectorsPerSecond % 60);
    out[14] = Bcd(absolute % kSectorsPerSecond);
    out[15] = 1;
}

void SwapBytes(std::span<std::uint8_t> pcm) {
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
        std::swap(pcm[i], pcm[i + 1]);
    }
}

bool Fail(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
    return false;
}

bool WriteBin(const std::filesystem::path& bin, const std::vector<ImageTrack>& tracks,
              const AudioFill& fill, bool bigEndian, std::string* error) {
    std::ofstream out(bin, std::ios::binary | std::ios::trunc);
    if (!out) {
        return Fail(error, "cannot create " + bin.string());
    }
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kChunkSectors) * kSectorBytes);
    std::int64_t sector = 0;
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        const ImageTrack& track = tracks[t];
        if (track.data) {
            sector += track.pregap; // a hole: the gap is never read
            out.seekp(sector * kSectorBytes);
            for (std::int32_t i = 0; i < track.sectors; ++i, ++sector) {
                DataSector(static_cast<std::int32_t>(sector), chunk.data());
                out.write(reinterpret_cast<const char*>(chunk.data()), kSectorBytes);
            }
            continue;
        }
        const std::int64_t total = static_cast<std::int64_t>(track.pregap) + track.sectors;
        for (std::int64_t done = 0; done < total; done += kChunkSectors) {
            const std::int64_t n = std::min<std::int64_t>(kChunkSectors, total - done);
            const std::span<std::uint8_t> part(chunk.data(),
                                               static_cast<std::size_t>(n * kSectorBytes));
            fill(t, static_cast<std::uint64_t>(done * kSectorBytes), part);
            if (bigEndian) {
                SwapBytes(part);
            }
            out.write(reinterpret_cast<const char*>(part.data()),
                      static_cast<std::streamsize>(part.size()));
        }
        sector += total;
    }
    out.close();
    if (!out) {
        return Fail(error, "cannot write " + bin.string());
    }
    return true;
}

std::string CueSheet(const std::string& binName, const std::vector<ImageTrack>& tracks) {
    std::string text = "FILE \"" + binName + "\" BINARY\n";
    std::int32_t sector = 0;
    char line[64];
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        // A data track behind the long gap after audio is an Enhanced CD's
        // second session.
        if (t > 0 && tracks[t].data && !tracks[t - 1].data && tracks[t].pregap >= kSessionGap) {
            text += "REM SESSION 02\n";
        }
        std::snprintf(line, sizeof line, "  TRACK %02zu %s\n", t + 1,
                      tracks[t].data ? "MODE1/2352" : "AUDIO");
        text += line;
        if (tracks[t].pregap > 0) {
            text += "    INDEX 00 " + Msf(sector) + "\n";
            sector += tracks[t].pregap;
        }
        text += "    INDEX 01 " + Msf(sector) + "\n";
        sector += tracks[t].sectors;
    }
    return text;
}

std::string TocSheet(const std::string& binName, const std::vector<ImageTrack>& tracks) {
    std::string text = "CD_DA\n";
    std::int32_t sector = 0;
    for (const ImageTrack& track : tracks) {
        text += "\nTRACK AUDIO\n";
        text += "FILE \"" + binName + "\" " + Msf(sector) + " " +
                Msf(track.pregap + track.sectors) + "\n";
        if (track.pregap > 0) {
            text += "START " + Msf(track.pregap) + "\n";
        }
        sector += track.pregap + track.sectors;
    }
    return text;
}

} // namespace

std::string Msf(std::int32_t sectors) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / (60 * kSectorsPerSecond),
                  sectors / kSectorsPerSecond % 60, sectors % kSectorsPerSecond);
    return text;
}

std::optional<ImageLayout> WriteImage(const std::filesystem::path& sheet,
                                      const std::vector<ImageTrack>& tracks, const AudioFill& fill,
                                      SheetKind kind, std::string* error) {
    if (tracks.empty() || tracks.size() > 99) {
        Fail(error, "a disc holds 1 to 99 tracks");
        return std::nullopt;
    }
    ImageLayout layout;
    std::int32_t sector = 0;
    for (const ImageTrack& track : tracks) {
        if (track.sectors < 1 || track.pregap < 0) {
            Fail(error, "every track needs at least one sector");
            return std::nullopt;
        }
        if (track.data && kind == SheetKind::CdrdaoToc) {
            Fail(error, "the TOC writer takes audio tracks only");
            return std::nullopt;
        }
        sector += track.pregap;
        layout.starts.push_back(sector);
        sector += track.sectors;
    }
    layout.leadout = sector;
    layout.sheet = sheet;
    layout.bin = std::filesystem::path(sheet).replace_extension(".bin");
    if (!WriteBin(layout.bin, tracks, fill, kind == SheetKind::CdrdaoToc, error)) {
        return std::nullopt;
    }
    // libcdio looks for a TOC file's data file from the current folder, not
    // from the TOC's, so that one gets the full path.
    const std::string text = kind == SheetKind::Cue
                                 ? CueSheet(layout.bin.filename().string(), tracks)
                                 : TocSheet(std::filesystem::absolute(layout.bin).string(), tracks);
    std::ofstream out(sheet, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        Fail(error, "cannot write " + sheet.string());
        return std::nullopt;
    }
    return layout;
}

AudioFill NoiseFill(std::uint32_t seed) {
    return [seed](std::size_t track, std::uint64_t offset, std::span<std::uint8_t> out) {
        // A counter-based generator, so any chunk can be made on its own.
        std::uint64_t word = offset / 8;
        std::size_t at = 0;
        std::size_t skip = offset % 8;
        while (at < out.size()) {
            std::uint64_t z = (static_cast<std::uint64_t>(seed) << 40) ^
                              (static_cast<std::uint64_t>(track) << 56) ^ word++;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            for (; skip < 8 && at < out.size(); ++skip) {
                out[at++] = static_cast<std::uint8_t>(z >> (8 * skip));
            }
            skip = 0;
        }
    };
}

AudioFill MusicFill(const std::vector<ImageTrack>& tracks, std::uint32_t seed) {
    struct Cache {
        std::size_t track = static_cast<std::size_t>(-1);
        Bytes pcm;
    };
    auto cache = std::make_shared<Cache>();
    std::vector<std::int64_t> frames;
    for (const ImageTrack& track : tracks) {
        frames.push_back((static_cast<std::int64_t>(track.pregap) + track.sectors) *
                         kFramesPerSector);
    }
    return [cache, seed, frames](std::size_t track, std::uint64_t offset,
                                 std::span<std::uint8_t> out) {
        if (cache->track != track) {
            // The whole track at once; the writer asks for it chunk by chunk.
            cache->track = track;
            cache->pcm = MusicLike(SignalFormat{}, static_cast<double>(frames.at(track)) / 44100.0,
                                   seed + static_cast<std::uint32_t>(track));
        }
        std::copy_n(cache->pcm.begin() + static_cast<std::ptrdiff_t>(offset), out.size(),
                    out.begin());
    };
}

} // namespace discgen
