// Disc images for tests: CUE/BIN (or cdrdao TOC) images of any layout written
// into a folder, opened as drives of the drive list for the test's lifetime,
// and the bytes a rip of them must give.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "disc/CdDrive.h"
#include "discgen/DiscImage.h"
#include "support/Pcm.h"

namespace qmtest {

using discgen::ImageTrack;

struct TestImage {
    discgen::ImageLayout layout;
    std::vector<ImageTrack> tracks;
    bool bigEndian = false;

    std::int32_t Start(int track) const {
        return layout.starts.at(static_cast<std::size_t>(track - 1));
    }
    // Sector after the track's last one: the next track's INDEX 01, or the lead-out.
    std::int32_t End(int track) const;
    // Sectors [first, end) of the BIN as little-endian samples.
    Bytes Sectors(std::int32_t first, std::int32_t end) const;
};

// Writes `name`.cue (or .toc) and its BIN into `dir`: noise that differs from
// track to track and seed to seed. Throws when the image cannot be written.
TestImage WriteTestImage(const std::filesystem::path& dir, const std::string& name,
                         const std::vector<ImageTrack>& tracks, std::uint32_t seed = 1,
                         discgen::SheetKind kind = discgen::SheetKind::Cue);

// A random layout: 1 to `maxTracks` tracks of a few sectors to a few seconds,
// some with pregaps, and now and then a data track at the end after the gap an
// Enhanced CD has (`allowData`).
std::vector<ImageTrack> RandomTracks(std::mt19937& rng, int maxTracks, bool allowData);

// A drive in the drive list for as long as this object lives.
class ScopedDrive {
public:
    explicit ScopedDrive(std::shared_ptr<qm::CdDrive> drive);
    // Opens the image as a drive; throws when it does not open.
    explicit ScopedDrive(const std::filesystem::path& sheet);
    ~ScopedDrive();
    ScopedDrive(const ScopedDrive&) = delete;
    ScopedDrive& operator=(const ScopedDrive&) = delete;

    int Index() const;
    const std::shared_ptr<qm::CdDrive>& Drive() const { return m_drive; }

private:
    std::shared_ptr<qm::CdDrive> m_drive;
};

// The samples of a WAV file's "data" chunk; empty when there is none.
Bytes WavPayload(const std::filesystem::path& wav);

} // namespace qmtest
