// The checksums that prove a rip right, taken from the ripper's own reads as
// the blocks pass through: the AccurateRip v1 and v2 sums (with the skips of
// the first and last audio track), the sum of the track's sector 450 that
// finds a drive's read offset, the CUETools database CRC (with its skips)
// and the plain CRC-32 of the track's PCM. One pass, no copy of the data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

// AccurateRip leaves out the first five sectors but one sample of a disc's
// first audio track and the last five sectors of its last.
constexpr std::int64_t kArFirstSkip = 2939;
constexpr std::int64_t kArLastSkip = 2940;
// The sector whose sum the offset finding compares.
constexpr std::int64_t kArOffsetSector = 450;
// The CUETools database leaves out ten sectors at each end of the disc (and
// the disc's odd rest at its end).
constexpr std::int64_t kCtdbSkip = 5880;

// Where a track stands on its disc: what the skips depend on.
struct ChecksumLayout {
    std::int64_t trackSamples = 0; // samples the track holds
    bool firstAudio = false;       // first audio track of the disc
    bool lastAudio = false;        // last audio track of the disc
    std::int64_t discSamples = 0;  // audio samples of the whole disc
};

struct TrackChecksums {
    // The whole track came by, in order: the sums below mean something.
    bool complete = false;
    std::int64_t samples = 0;
    std::uint32_t arV1 = 0;
    std::uint32_t arV2 = 0;
    std::uint32_t ar450 = 0;
    bool has450 = false; // the track reaches past its sector 450
    std::uint32_t crc32 = 0;
    std::uint32_t ctdbCrc = 0;
    std::int64_t ctdbBytes = 0; // bytes the CTDB CRC covers (to join the tracks' CRCs)
    std::uint16_t peak = 0;     // largest sample magnitude
};

class ChecksumAccumulator {
public:
    void Begin(const ChecksumLayout& layout);
    // The next `frames` samples of the track (16-bit stereo, little-endian).
    void Add(const std::uint8_t* pcm, std::size_t frames);
    // Marks the result incomplete (a seek or a cut read only part of it).
    void Invalidate() { m_valid = false; }
    TrackChecksums Result() const;

private:
    ChecksumLayout m_layout;
    bool m_valid = false;
    std::int64_t m_position = 0; // samples seen so far
    std::int64_t m_arFirst = 1;  // 1-based, inclusive
    std::int64_t m_arLast = 0;
    std::int64_t m_ctdbFirst = 0; // 0-based, end exclusive
    std::int64_t m_ctdbEnd = 0;
    std::uint32_t m_v1 = 0;
    std::uint32_t m_high = 0;
    std::uint32_t m_450 = 0;
    // One running CRC over every byte; its values where the CTDB range
    // starts and ends give that range's CRC without a second pass.
    unsigned long m_crc = 0;
    unsigned long m_crcAtCtdbFirst = 0;
    unsigned long m_crcAtCtdbEnd = 0;
    std::uint16_t m_peak = 0;
};

// zlib's CRC-32 (same arguments, same values), by carry-less multiplication
// where the processor has it.
std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t bytes);

// Joins the CTDB CRCs of consecutive tracks into the disc's.
std::uint32_t CombineCrc(std::uint32_t first, std::uint32_t second, std::int64_t secondBytes);

} // namespace qm
