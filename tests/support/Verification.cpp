#include "support/Verification.h"

#include <fstream>
#include <zlib.h>

#include "core/Text.h"
#include "disc/CdioDrive.h"
#include "disc/OffsetRead.h"

namespace qmtest {

ShiftedDrive::ShiftedDrive(std::shared_ptr<qm::CdDrive> disc, int shift)
    : m_disc(std::move(disc)), m_shift(shift) {}

qm::DriveStatus ShiftedDrive::ReadAudio(std::int32_t lsn, std::int32_t sectors,
                                        std::uint8_t* dest) {
    qm::DiscToc toc;
    m_disc->ReadToc(toc);
    std::int32_t end = toc.leadout;
    if (toc.tracks.size() >= 2 && toc.tracks.back().data) {
        end = toc.tracks.back().start - 11400;
    }
    // raw[i] = true[i - shift]: the correction with -shift.
    return qm::ReadWithOffset(*m_disc, lsn, sectors, -m_shift, end, dest, m_scratch);
}

qm::DiscToc TocOf(const TestImage& image) {
    std::string error;
    auto drive = qm::CdioDrive::ForImage(image.layout.sheet, &error);
    qm::DiscToc toc;
    if (!drive || !drive->Open(0) || !drive->ReadToc(toc)) {
        throw std::runtime_error("cannot read the image's table: " + error);
    }
    drive->Close();
    return toc;
}

std::vector<Bytes> AudioTracks(const TestImage& image) {
    const qm::DiscToc toc = TocOf(image);
    std::vector<Bytes> tracks;
    for (std::size_t i = 0; i < toc.tracks.size(); ++i) {
        if (toc.tracks[i].data) {
            continue;
        }
        std::int32_t end = i + 1 < toc.tracks.size() ? toc.tracks[i + 1].start : toc.leadout;
        if (i + 1 < toc.tracks.size() && toc.tracks[i + 1].data) {
            end -= 11400;
        }
        tracks.push_back(image.Sectors(toc.tracks[i].start, end));
    }
    return tracks;
}

namespace {

void Le32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

std::uint32_t Crc(const Bytes& pcm, std::size_t from, std::size_t to) {
    return static_cast<std::uint32_t>(
        ::crc32(::crc32(0, nullptr, 0), pcm.data() + from, static_cast<uInt>(to - from)));
}

} // namespace

std::string DbarChunk(const TestImage& image, int confidence, bool v2) {
    const qm::DiscToc toc = TocOf(image);
    const qm::ArDiscIds ids = qm::AccurateRipIds(toc);
    const std::vector<Bytes> tracks = AudioTracks(image);
    std::string out;
    out += static_cast<char>(ids.audioTracks);
    Le32(out, ids.id1);
    Le32(out, ids.id2);
    Le32(out, ids.cddb);
    std::int64_t disc = 0;
    for (const Bytes& t : tracks) {
        disc += static_cast<std::int64_t>(t.size() / 4);
    }
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        qm::ChecksumAccumulator sums;
        sums.Begin({static_cast<std::int64_t>(tracks[i].size() / 4), i == 0, i + 1 == tracks.size(),
                    disc});
        sums.Add(tracks[i].data(), tracks[i].size() / 4);
        const qm::TrackChecksums result = sums.Result();
        out += static_cast<char>(confidence);
        Le32(out, v2 ? result.arV2 : result.arV1);
        Le32(out, result.has450 ? result.ar450 : 0);
    }
    return out;
}

std::string ServeDbar(const std::filesystem::path& root, const TestImage& image,
                      const std::string& answer) {
    const std::string path = "accuraterip/" + qm::AccurateRipPath(qm::AccurateRipIds(TocOf(image)));
    std::filesystem::create_directories((root / path).parent_path());
    std::ofstream(root / path, std::ios::binary) << answer;
    return "/" + path;
}

std::uint32_t Crc32(const Bytes& pcm) {
    return Crc(pcm, 0, pcm.size());
}

std::vector<std::uint32_t> CtdbTrackCrcs(const TestImage& image) {
    const std::vector<Bytes> tracks = AudioTracks(image);
    std::size_t disc = 0;
    for (const Bytes& t : tracks) {
        disc += t.size() / 4;
    }
    std::vector<std::uint32_t> crcs;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const std::size_t from = i == 0 ? 5880 * 4 : 0;
        const std::size_t to =
            tracks[i].size() - (i + 1 == tracks.size() ? (5880 + disc % 5880) * 4 : 0);
        crcs.push_back(Crc(tracks[i], from, to));
    }
    return crcs;
}

std::uint32_t CtdbDiscCrc(const TestImage& image) {
    Bytes all;
    for (const Bytes& t : AudioTracks(image)) {
        all.insert(all.end(), t.begin(), t.end());
    }
    const std::size_t samples = all.size() / 4;
    return Crc(all, 5880 * 4, all.size() - (5880 + samples % 5880) * 4);
}

void ServeCtdb(const std::filesystem::path& root, const TestImage& image, int confidence,
               const std::vector<std::uint32_t>& crcs) {
    std::string xml = R"(<?xml version="1.0" encoding="utf-8"?>)"
                      R"(<ctdb xmlns="http://db.cuetools.net/ns/mmd-1.0#">)";
    if (confidence > 0) {
        std::string list;
        for (std::uint32_t crc : crcs) {
            list += (list.empty() ? "" : " ") + qm::Format("%08x", crc);
        }
        xml += qm::Format(R"(<entry confidence="%d" crc32="%08x" hasparity="" id="7" npar="8" )"
                          R"(stride="5880" toc="" trackcrcs="%s"/>)",
                          confidence, CtdbDiscCrc(image), list.c_str());
    }
    xml += "</ctdb>";
    std::filesystem::create_directories(root);
    std::ofstream(root / "lookup2.php") << xml;
}

} // namespace qmtest
