#include "disc/AccurateRip.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/Text.h"
#include "core/Trace.h"
#include "disc/CdAccess.h"

namespace qm {

namespace {

constexpr std::size_t kChunkHeader = 13;
constexpr std::size_t kEntryBytes = 9;
constexpr std::size_t kOffsetRecord = 69;
constexpr std::size_t kOffsetName = 33;

std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::string Trim(std::string text) {
    auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), space));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), space).base(), text.end());
    return text;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

} // namespace

ArDiscIds AccurateRipIds(const DiscToc& toc) {
    QM_TRACE("AccurateRip");
    ArDiscIds ids;
    std::uint32_t position = 0;
    for (const DiscTocTrack& track : toc.tracks) {
        if (track.data) {
            continue;
        }
        ++position;
        const auto start = static_cast<std::uint32_t>(track.start);
        ids.id1 += start;
        ids.id2 += std::max<std::uint32_t>(start, 1) * position;
    }
    const auto leadout = static_cast<std::uint32_t>(toc.leadout);
    ids.audioTracks = static_cast<int>(position);
    ids.id1 += leadout;
    ids.id2 += leadout * (position + 1);
    ids.cddb = CddbDiscId(toc);
    QM_RETURN(0, ids);
}

std::string AccurateRipPath(const ArDiscIds& ids) {
    QM_TRACE("AccurateRip");
    const std::string id1 = Format("%08x", ids.id1);
    QM_RETURN(0, Format("%c/%c/%c/dBAR-%03d-%s-%08x-%08x.bin", id1[7], id1[6], id1[5],
                        ids.audioTracks, id1.c_str(), ids.id2, ids.cddb));
}

std::string AccurateRipUrl(const std::string& server, const ArDiscIds& ids) {
    QM_TRACE("AccurateRip");
    std::string base = server;
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    QM_RETURN(0, base + "/accuraterip/" + AccurateRipPath(ids));
}

std::optional<std::vector<ArChunk>> ParseDbar(std::string_view bytes) {
    QM_TRACE("AccurateRip");
    std::vector<ArChunk> chunks;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t tracks = data[at];
        const std::size_t size = kChunkHeader + kEntryBytes * tracks;
        if (tracks == 0 || bytes.size() - at < size) {
            QM_RETURN(0, std::nullopt);
        }
        ArChunk chunk;
        chunk.tracks = static_cast<int>(tracks);
        chunk.id1 = Le32(data + at + 1);
        chunk.id2 = Le32(data + at + 5);
        chunk.cddb = Le32(data + at + 9);
        for (std::size_t i = 0; i < tracks; ++i) {
            const unsigned char* entry = data + at + kChunkHeader + i * kEntryBytes;
            chunk.entries.push_back({entry[0], Le32(entry + 1), Le32(entry + 5)});
        }
        // Every chunk of one answer belongs to the same disc.
        if (!chunks.empty() &&
            (chunk.tracks != chunks.front().tracks || chunk.id1 != chunks.front().id1 ||
             chunk.id2 != chunks.front().id2)) {
            QM_RETURN(1, std::nullopt);
        }
        chunks.push_back(std::move(chunk));
        at += size;
    }
    if (chunks.empty()) {
        QM_RETURN(2, std::nullopt);
    }
    QM_RETURN(3, chunks);
}

int ArSlot(const DiscToc& toc, int position) {
    QM_TRACE("AccurateRip");
    int audio = 0;
    for (const DiscTocTrack& track : toc.tracks) {
        audio += track.data ? 0 : 1;
    }
    if (position < 1 || position > audio) {
        QM_RETURN(0, -1);
    }
    const bool mixedMode = !toc.tracks.empty() && toc.tracks.front().data;
    if (!mixedMode) {
        QM_RETURN(1, position - 1);
    }
    QM_RETURN(2, position < audio ? position : -1);
}

ArVerdict MatchAccurateRip(const std::vector<ArChunk>& chunks, int slot, std::uint32_t v1,
                           std::uint32_t v2) {
    QM_TRACE("AccurateRip");
    ArVerdict verdict;
    if (slot < 0) {
        QM_RETURN(0, verdict);
    }
    for (const ArChunk& chunk : chunks) {
        if (static_cast<std::size_t>(slot) >= chunk.entries.size()) {
            continue;
        }
        const ArEntry& entry = chunk.entries[static_cast<std::size_t>(slot)];
        if (entry.confidence == 0) {
            continue;
        }
        verdict.submissions += entry.confidence;
        const int version = entry.crc == v2 ? 2 : entry.crc == v1 ? 1 : 0;
        if (version == 0) {
            continue;
        }
        // v2 before v1; within a version the higher confidence.
        if (verdict.version == 0 || version > verdict.version ||
            (version == verdict.version && entry.confidence > verdict.confidence)) {
            verdict.version = version;
            verdict.confidence = entry.confidence;
        }
    }
    if (verdict.version != 0) {
        verdict.status = VerifyStatus::kMatch;
    } else if (verdict.submissions > 0) {
        verdict.status = VerifyStatus::kMismatch;
    }
    QM_RETURN(1, verdict);
}

std::string ArVerdictText(const ArVerdict& verdict) {
    QM_TRACE("AccurateRip");
    switch (verdict.status) {
    case VerifyStatus::kMatch:
        QM_RETURN(0, Format("Accurately ripped (confidence %d) [v%d]", verdict.confidence,
                            verdict.version));
    case VerifyStatus::kMismatch:
        QM_RETURN(1, Format("Not accurately ripped (%d submissions differ)", verdict.submissions));
    case VerifyStatus::kUnknown:
        break;
    }
    QM_RETURN(2, std::string("Not in database"));
}

std::vector<DriveOffset> ParseDriveOffsets(std::string_view bytes) {
    QM_TRACE("AccurateRip");
    std::vector<DriveOffset> list;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t at = 0; at + kOffsetRecord <= bytes.size(); at += kOffsetRecord) {
        DriveOffset record;
        record.offset = static_cast<std::int16_t>(data[at] | data[at + 1] << 8);
        const char* name = bytes.data() + at + 2;
        record.name = Trim(std::string(name, strnlen(name, kOffsetName)));
        record.submissions = data[at + 2 + kOffsetName];
        list.push_back(std::move(record));
    }
    QM_RETURN(0, list);
}

std::optional<DriveOffset> FindDriveOffset(const std::vector<DriveOffset>& list,
                                           const std::string& vendor, const std::string& model) {
    QM_TRACE("AccurateRip");
    const std::string wantedVendor = Upper(Trim(vendor));
    const std::string wantedModel = Upper(Trim(model));
    if (wantedModel.empty()) {
        QM_RETURN(0, std::nullopt);
    }
    const std::string wanted =
        wantedVendor.empty() ? "- " + wantedModel : wantedVendor + " - " + wantedModel;
    for (const DriveOffset& record : list) {
        if (Upper(record.name) == wanted) {
            QM_RETURN(1, record);
        }
    }
    QM_RETURN(2, std::nullopt);
}

const std::vector<int>& CommonReadOffsets() {
    QM_TRACE("AccurateRip");
    static const std::vector<int> offsets = {6,    667,  48,  102, 12,   1776, 1858, -472, 97,
                                             -582, 676,  30,  98,  594,  738,  116,  91,   -1164,
                                             99,   -491, 120, 685, 1194, 118,  355,  564,  -534};
    QM_RETURN(0, offsets);
}

} // namespace qm
