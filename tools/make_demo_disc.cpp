// Writes the bundled demo disc: a CUE/BIN image of six tracks of synthesized
// music, and its entry in the local CDDB folder ("Local CDDB/<disc id>") so
// the program names the album and tracks without a look-up.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "disc/CdAccess.h"
#include "disc/CdioDrive.h"
#include "disc/LocalCDDB.h"
#include "discgen/DiscImage.h"

namespace {

struct DemoTrack {
    const char* title;
    int seconds;
};

constexpr DemoTrack kTracks[] = {
    {"Opening Lines", 24}, {"Copper Kettle", 31},  {"Slow River", 20},
    {"Night Market", 37},  {"Paper Lanterns", 28}, {"Last Light", 33},
};
constexpr const char* kArtist = "The Quavermill Players";
constexpr const char* kAlbum = "Demo Disc";
constexpr const char* kGenre = "Instrumental";
constexpr int kYear = 2024;

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-demo-disc OUTPUT-FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);

    std::vector<discgen::ImageTrack> tracks;
    for (const DemoTrack& track : kTracks) {
        tracks.push_back({false, 0, track.seconds * discgen::kSectorsPerSecond});
    }
    std::string error;
    const auto layout =
        discgen::WriteImage(folder / "demo.cue", tracks, discgen::MusicFill(tracks, 7),
                            discgen::SheetKind::Cue, &error);
    if (!layout) {
        std::fprintf(stderr, "make-demo-disc: %s\n", error.c_str());
        return 1;
    }

    // The disc id as the program will compute it from the image.
    const auto drive = qm::CdioDrive::ForImage(layout->sheet, &error);
    qm::DiscToc toc;
    if (!drive || !drive->Open(0) || !drive->ReadToc(toc)) {
        std::fprintf(stderr, "make-demo-disc: the image does not read back: %s\n", error.c_str());
        return 1;
    }
    drive->Close();
    // The entry is written by the program's own cache writer, so the demo
    // disc is named exactly as a disc the user looked up once.
    DiscInfo disc;
    disc.artist = kArtist;
    disc.title = kAlbum;
    disc.genre = kGenre;
    disc.year = kYear;
    std::vector<CID3Tag> tags(std::size(kTracks));
    std::vector<const CID3Tag*> tagPointers;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        disc.tracks.push_back({kTracks[i].title, "", kTracks[i].seconds, ""});
        tags[i].SetTag("Title", kTracks[i].title);
        tags[i].SetTag("Artist", kArtist);
        tagPointers.push_back(&tags[i]);
    }
    const std::uint32_t id = qm::CddbDiscId(toc);
    const std::filesystem::path cddb = folder / kLocalCDDBFolder;
    if (!SaveLocalCDDB(cddb, id, disc, tagPointers, toc.firstTrack, toc.lastTrack)) {
        std::fprintf(stderr, "make-demo-disc: cannot write %s\n",
                     (cddb / LocalCDDBFileName(id)).c_str());
        return 1;
    }
    std::printf("Wrote %s (%zu tracks, disc id %08x) and its CDDB entry %s\n",
                layout->sheet.c_str(), tracks.size(), id, (cddb / LocalCDDBFileName(id)).c_str());
    return 0;
}
