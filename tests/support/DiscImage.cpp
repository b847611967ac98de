#include "support/DiscImage.h"

#include <fstream>
#include <stdexcept>

#include "disc/DriveList.h"

namespace qmtest {

std::int32_t TestImage::End(int track) const {
    const auto index = static_cast<std::size_t>(track);
    if (index < layout.starts.size()) {
        return layout.starts[index];
    }
    return layout.leadout;
}

Bytes TestImage::Sectors(std::int32_t first, std::int32_t end) const {
    Bytes out(static_cast<std::size_t>(end - first) * discgen::kSectorBytes);
    std::ifstream in(layout.bin, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(first) * discgen::kSectorBytes);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    if (!in) {
        throw std::runtime_error("cannot read sectors of " + layout.bin.string());
    }
    if (bigEndian) {
        for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
            std::swap(out[i], out[i + 1]);
        }
    }
    return out;
}

TestImage WriteTestImage(const std::filesystem::path& dir, const std::string& name,
                         const std::vector<ImageTrack>& tracks, std::uint32_t seed,
                         discgen::SheetKind kind) {
    const char* extension = kind == discgen::SheetKind::Cue ? ".cue" : ".toc";
    std::string error;
    auto layout = discgen::WriteImage(dir / (name + extension), tracks, discgen::NoiseFill(seed),
                                      kind, &error);
    if (!layout) {
        throw std::runtime_error("cannot write the test image: " + error);
    }
    TestImage image;
    image.layout = *layout;
    image.tracks = tracks;
    image.bigEndian = kind == discgen::SheetKind::CdrdaoToc;
    return image;
}

std::vector<ImageTrack> RandomTracks(std::mt19937& rng, int maxTracks, bool allowData) {
    std::uniform_int_distribution<int> count(1, maxTracks);
    std::uniform_int_distribution<int> length(1, 4 * discgen::kSectorsPerSecond);
    std::uniform_int_distribution<int> percent(0, 99);
    std::vector<ImageTrack> tracks(static_cast<std::size_t>(count(rng)));
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        // A few tracks of a handful of sectors, the rest up to four seconds.
        tracks[i].sectors = percent(rng) < 20 ? 1 + percent(rng) % 5 : length(rng);
        if (percent(rng) < 30) {
            tracks[i].pregap = 1 + percent(rng) % 150;
        }
    }
    if (allowData && tracks.size() > 1 && percent(rng) < 40) {
        ImageTrack& data = tracks.back();
        data.data = true;
        data.pregap = 11400;
        data.sectors = 30 + percent(rng);
    }
    return tracks;
}

ScopedDrive::ScopedDrive(std::shared_ptr<qm::CdDrive> drive) : m_drive(std::move(drive)) {
    qm::DriveList::Instance().AddDrive(m_drive);
}

ScopedDrive::ScopedDrive(const std::filesystem::path& sheet) {
    std::string error;
    auto& list = qm::DriveList::Instance();
    const int index = list.AddImage(sheet, &error);
    if (index < 0) {
        throw std::runtime_error("cannot open " + sheet.string() + ": " + error);
    }
    m_drive = list.Drives().at(static_cast<std::size_t>(index)).drive;
}

ScopedDrive::~ScopedDrive() {
    qm::DriveList::Instance().Remove(m_drive);
}

int ScopedDrive::Index() const {
    return qm::DriveList::Instance().IndexOf(m_drive);
}

Bytes WavPayload(const std::filesystem::path& wav) {
    const Bytes file = ReadFile(wav);
    auto u32 = [&file](std::size_t at) {
        return static_cast<std::uint32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
                                          static_cast<std::uint32_t>(file[at + 3]) << 24);
    };
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::uint32_t size = u32(at + 4);
        if (file[at] == 'd' && file[at + 1] == 'a' && file[at + 2] == 't' && file[at + 3] == 'a') {
            const std::size_t end = std::min<std::size_t>(file.size(), at + 8 + size);
            return Bytes(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                         file.begin() + static_cast<std::ptrdiff_t>(end));
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

} // namespace qmtest
