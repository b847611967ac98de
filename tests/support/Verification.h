// Test material for rip verification: a drive that delivers its audio a
// number of samples late (or early), and the AccurateRip and CUETools
// database answers for a generated disc, written where a FileServer serves
// them at the paths the real services use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "disc/AccurateRip.h"
#include "disc/CdDrive.h"
#include "disc/RipChecksums.h"
#include "support/DiscImage.h"

namespace qmtest {

// Wraps a drive: its reads come `shift` samples late (a drive whose read
// offset is +shift), with silence where the disc has no samples.
class ShiftedDrive : public qm::CdDrive {
public:
    ShiftedDrive(std::shared_ptr<qm::CdDrive> disc, int shift);
    std::string Device() const override { return m_disc->Device(); }
    bool IsImage() const override { return m_disc->IsImage(); }
    bool Open(int readType) override { return m_disc->Open(readType); }
    void Close() override { m_disc->Close(); }
    std::string Identity() override { return m_disc->Identity(); }
    bool ReadToc(qm::DiscToc& toc) override { return m_disc->ReadToc(toc); }
    qm::DriveStatus ReadAudio(std::int32_t lsn, std::int32_t sectors, std::uint8_t* dest) override;
    qm::DriveStatus SetSpeed(int kbPerSecond) override { return m_disc->SetSpeed(kbPerSecond); }
    int GetCurrentSpeed() override { return m_disc->GetCurrentSpeed(); }
    int GetMaximalSpeed() override { return m_disc->GetMaximalSpeed(); }

private:
    std::shared_ptr<qm::CdDrive> m_disc;
    int m_shift;
    std::vector<std::uint8_t> m_scratch;
};

// The table of contents of a generated image, as the drive gives it.
qm::DiscToc TocOf(const TestImage& image);
// The audio of every audio track (INDEX 01 to the track's end).
std::vector<Bytes> AudioTracks(const TestImage& image);

// One chunk of an AccurateRip answer for `image`: each track's v2 (or v1)
// checksum and sector-450 sum with `confidence`.
std::string DbarChunk(const TestImage& image, int confidence, bool v2 = true);
// Writes `answer` where the AccurateRip server keeps the image's answer:
// `root`/accuraterip/x/y/z/dBAR-....bin. The URL path is returned.
std::string ServeDbar(const std::filesystem::path& root, const TestImage& image,
                      const std::string& answer);

// zlib's CRC-32 of `pcm`.
std::uint32_t Crc32(const Bytes& pcm);

// The CUETools database CRCs of the image's tracks, computed here with
// zlib over the ranges the database covers, and of the whole disc.
std::vector<std::uint32_t> CtdbTrackCrcs(const TestImage& image);
std::uint32_t CtdbDiscCrc(const TestImage& image);
// Writes `root`/lookup2.php answering with one entry for the image (none
// when confidence is 0), `crcs` as its track CRCs.
void ServeCtdb(const std::filesystem::path& root, const TestImage& image, int confidence,
               const std::vector<std::uint32_t>& crcs);

} // namespace qmtest
