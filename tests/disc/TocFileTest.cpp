// cdrdao TOC files as users have them, read through the drive they become:
// the real TOC files of the fixtures beside files of the length they need,
// the same disc as TOC and CUE sheet, and TOC files broken in the ways the
// fixtures and users break them.
#include <gtest/gtest.h>

#include <discid/discid.h>

#include <chrono>
#include <fstream>
#include <random>

#include "core/Text.h"
#include "disc/CdAccess.h"
#include "disc/DriveList.h"
#include "disc/SheetDrive.h"
#include "disc/TocFile.h"
#include "support/DiscImage.h"
#include "support/Fixtures.h"
#include "support/SheetImages.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCueDir = "real/cue";

// A copy of `toc` in `dir` beside every file it names, each as long as its
// pieces need (75 sectors more where a piece runs to the file's end): silent
// WAVs for audio files, sparse files for the rest.
fs::path StageToc(const fs::path& toc, const fs::path& dir) {
    const fs::path copy = dir / toc.filename();
    fs::copy_file(toc, copy);
    std::string error;
    const auto parsed = qm::ReadTocFile(copy, &error);
    if (!parsed) {
        return copy;
    }
    std::vector<std::int64_t> need(parsed->sheet.files.size(), 0);
    for (const qm::TocTrack& track : parsed->tracks) {
        for (const qm::TocPiece& piece : track.pieces) {
            if (piece.file >= 0) {
                const std::int64_t length =
                    piece.length < 0 ? 75LL * piece.sectorBytes : piece.length;
                auto& n = need[static_cast<std::size_t>(piece.file)];
                n = std::max(n, piece.offset + length);
            }
        }
    }
    for (std::size_t f = 0; f < need.size(); ++f) {
        const qm::CueFileLine& file = parsed->sheet.files[f];
        fs::create_directories(file.path.parent_path());
        if (file.type == "WAVE") {
            qmtest::WriteSilentWav(file.path, (need[f] + 2351) / 2352);
        } else {
            std::ofstream(file.path, std::ios::binary).flush();
            fs::resize_file(file.path, static_cast<std::uintmax_t>(need[f]));
        }
    }
    return copy;
}

std::string CddbId(const qm::DiscToc& toc) {
    return qm::Format("%08x", qm::CddbDiscId(toc));
}

// Absolute addresses (INDEX 01 + 150), as cd-discid prints them.
std::vector<int> Offsets(const qm::DiscToc& toc) {
    std::vector<int> out;
    for (const qm::DiscTocTrack& track : toc.tracks) {
        out.push_back(track.start + qm::kMsfOffset);
    }
    return out;
}

struct Opened {
    std::shared_ptr<qm::SheetDrive> drive;
    qm::DiscToc toc;
};

Opened OpenStaged(const std::string& name, const fs::path& dir) {
    Opened out;
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    out.drive = qm::SheetDrive::ForSheet(
        StageToc(qmtest::FixturesDir() / kCueDir / "whipper" / name, dir), &error);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_NE(out.drive, nullptr) << error;
    if (out.drive) {
        EXPECT_TRUE(out.drive->Open(0));
        EXPECT_TRUE(out.drive->ReadToc(out.toc));
        out.drive->Close();
    }
    return out;
}

// The discs whipper's tests know from these files: starts, gaps, lengths and
// ids as cd-discid printed them for the real discs.
TEST(TocFixtures, WhipperTocFilesGiveTheirDiscs) {
    QM_REQUIRE_FIXTURES();
    {
        SCOPED_TRACE("bloc.toc");
        qmtest::TempDir dir;
        const Opened bloc = OpenStaged("bloc.toc", dir.path());
        ASSERT_NE(bloc.drive, nullptr);
        EXPECT_EQ(Offsets(bloc.toc),
                  (std::vector<int>{15370, 35019, 51532, 69190, 84292, 96826, 112527, 132448,
                                    148595, 168072, 185539, 203331, 222103}));
        EXPECT_EQ((bloc.toc.leadout + 150) / 75, 3244);
        EXPECT_EQ(CddbId(bloc.toc), "ad0be00d");
        const auto& tracks = bloc.drive->Sheet().tracks;
        EXPECT_EQ(tracks[0].Index(0)->position, 0);
        EXPECT_EQ(tracks[0].Index(1)->position, 15220);
        EXPECT_EQ(bloc.toc.tracks[1].start - bloc.toc.tracks[0].start, 19649);
        EXPECT_EQ(tracks[4].Index(0)->position, 84070);
        EXPECT_EQ(tracks[4].Index(1)->position, 84142);
    }
    {
        SCOPED_TRACE("cure.toc");
        qmtest::TempDir dir;
        const Opened cure = OpenStaged("cure.toc", dir.path());
        ASSERT_NE(cure.drive, nullptr);
        ASSERT_EQ(cure.toc.tracks.size(), 13u);
        EXPECT_EQ(cure.drive->Sheet().catalog, "0602517642256");
        const auto& tracks = cure.drive->Sheet().tracks;
        EXPECT_EQ(tracks[1].Index(0)->position, 28245);
        EXPECT_EQ(tracks[1].Index(1)->position, 28324);
        EXPECT_EQ(cure.toc.tracks[2].start, 46110);
        EXPECT_EQ(cure.toc.tracks[3].start, 66767);
    }
    {
        // The data track follows the audio in the one session a TOC file
        // describes: no Enhanced CD gap, its 2-second ZERO pregap counted.
        SCOPED_TRACE("ladyhawke.toc");
        qmtest::TempDir dir;
        const Opened lady = OpenStaged("ladyhawke.toc", dir.path());
        ASSERT_NE(lady.drive, nullptr);
        EXPECT_EQ(Offsets(lady.toc),
                  (std::vector<int>{150, 15687, 31841, 51016, 66616, 81352, 99559, 116070, 133243,
                                    149997, 161710, 177832, 207256}));
        EXPECT_EQ(lady.toc.leadout, 210385);
        EXPECT_EQ(CddbId(lady.toc), "c60af50d");
        EXPECT_TRUE(lady.toc.tracks[12].data);
        EXPECT_EQ(lady.toc.lastSessionStart, 0);
        EXPECT_EQ(lady.drive->Sheet().tracks[0].isrc, "GBUM70808708");
        EXPECT_EQ(lady.drive->Sheet().catalog, "0602517818866");
        // The data track's sectors are cooked (2336 bytes each): no audio.
        std::vector<std::uint8_t> sector(2352);
        ASSERT_TRUE(lady.drive->Open(0));
        EXPECT_EQ(lady.drive->ReadAudio(lady.toc.tracks[12].start, 1, sector.data()),
                  qm::DriveStatus::kFailed);
        EXPECT_EQ(lady.drive->ReadAudio(lady.toc.tracks[12].start - 1, 1, sector.data()),
                  qm::DriveStatus::kOk);
        lady.drive->Close();
    }
    {
        SCOPED_TRACE("capital.1.toc");
        qmtest::TempDir dir;
        const Opened capital = OpenStaged("capital.1.toc", dir.path());
        ASSERT_NE(capital.drive, nullptr);
        EXPECT_EQ(Offsets(capital.toc), (std::vector<int>{24320, 44855, 64090, 77885, 88095, 104020,
                                                          118245, 129255, 141765, 164487, 181780}));
        EXPECT_EQ(capital.drive->Sheet().tracks[0].isrc, "GBAAA0300350");
    }
    {
        SCOPED_TRACE("jose.toc");
        qmtest::TempDir dir;
        const Opened jose = OpenStaged("jose.toc", dir.path());
        ASSERT_NE(jose.drive, nullptr);
        ASSERT_EQ(jose.toc.tracks.size(), 10u);
        const qm::CueSheet& sheet = jose.drive->Sheet();
        EXPECT_EQ(sheet.performer, "Jos\xC3\xA9 Gonz\xC3\xA1lez");
        EXPECT_EQ(sheet.title, "In Our Nature");
        EXPECT_EQ(sheet.tracks[0].title, "How Low");
        EXPECT_EQ(sheet.tracks[0].performer, "Jos\xC3\xA9 Gonz\xC3\xA1lez");
        EXPECT_EQ(sheet.tracks[0].isrc, "SEVVX0700301");
        EXPECT_EQ(jose.toc.tracks[1].start - jose.toc.tracks[0].start, 12001);
        const DiscInfo info = qm::SheetDiscInfo(sheet);
        EXPECT_EQ(info.artist, "Jos\xC3\xA9 Gonz\xC3\xA1lez");
        EXPECT_EQ(info.tracks.at(5).title, "Abram");
    }
    {
        SCOPED_TRACE("breeders.toc");
        qmtest::TempDir dir;
        const Opened breeders = OpenStaged("breeders.toc", dir.path());
        ASSERT_NE(breeders.drive, nullptr);
        const qm::CueSheet& sheet = breeders.drive->Sheet();
        EXPECT_EQ(sheet.catalog, "0652637280326");
        EXPECT_EQ(sheet.performer, "THE BREEDERS");
        EXPECT_EQ(sheet.title, "MOUNTAIN BATTLES");
        EXPECT_EQ(sheet.tracks[0].title, "OVERGLAZED");
        EXPECT_EQ(sheet.tracks[0].performer, "");
    }
    {
        SCOPED_TRACE("strokes-someday.toc");
        qmtest::TempDir dir;
        const Opened strokes = OpenStaged("strokes-someday.toc", dir.path());
        ASSERT_NE(strokes.drive, nullptr);
        ASSERT_EQ(strokes.toc.tracks.size(), 1u);
        EXPECT_EQ(strokes.drive->Sheet().tracks[0].Index(0)->position, 0);
        EXPECT_EQ(strokes.toc.tracks[0].start, 1);
        EXPECT_TRUE(strokes.toc.tracks[0].copyPermitted);
    }
    {
        SCOPED_TRACE("surferrosa.toc");
        qmtest::TempDir dir;
        const Opened rosa = OpenStaged("surferrosa.toc", dir.path());
        ASSERT_NE(rosa.drive, nullptr);
        ASSERT_EQ(rosa.toc.tracks.size(), 21u);
        const qm::CueTrack& eleven = rosa.drive->Sheet().tracks[10];
        EXPECT_EQ(rosa.toc.tracks[0].start, 32);
        EXPECT_EQ(eleven.Index(1)->position, 111257);
        ASSERT_NE(eleven.Index(2), nullptr);
        EXPECT_EQ(eleven.Index(2)->position, 111257 + 3370);
    }
    for (const char* name : {"totbl.fast.toc", "gentlemen.fast.toc"}) {
        SCOPED_TRACE(name);
        qmtest::TempDir dir;
        const Opened disc = OpenStaged(name, dir.path());
        ASSERT_NE(disc.drive, nullptr);
        EXPECT_EQ(disc.toc.tracks.size(), 11u);
        EXPECT_EQ(CddbId(disc.toc), "810b7b0b");
    }
    for (const char* name : {"capital.fast.toc", "capital.2.toc"}) {
        SCOPED_TRACE(name);
        qmtest::TempDir dir;
        const Opened disc = OpenStaged(name, dir.path());
        EXPECT_NE(disc.drive, nullptr);
    }
}

// A TOC file and the CUE sheet written for the same disc lay out the same
// disc over the same data.wav.
TEST(TocFixtures, TocFilesAndTheirCueSheetsAgree) {
    QM_REQUIRE_FIXTURES();
    const std::pair<const char*, const char*> pairs[] = {
        {"bloc.toc", "bloc.cue"},
        {"breeders.toc", "breeders.cue"},
        {"cure.toc", "cure.cue"},
        {"surferrosa.toc", "surferrosa.eac.single.cue"}};
    for (const auto& [tocName, cueName] : pairs) {
        SCOPED_TRACE(tocName);
        qmtest::TempDir dir;
        const Opened toc = OpenStaged(tocName, dir.path());
        ASSERT_NE(toc.drive, nullptr);
        const fs::path cue = dir / cueName;
        fs::copy_file(qmtest::FixturesDir() / kCueDir / "whipper" / cueName, cue);
        // A sheet over a file of its own was written for a rip of the whole
        // disc, the hidden first track included.
        if (auto parsed = qm::ReadCueSheet(cue, nullptr);
            parsed && parsed->files.front().path != dir / "data.wav") {
            qmtest::WriteSilentWav(parsed->files.front().path, toc.toc.leadout);
        }
        std::string error;
        auto sheet = qm::SheetDrive::ForSheet(cue, &error);
        ASSERT_NE(sheet, nullptr) << error;
        ASSERT_TRUE(sheet->Open(0));
        qm::DiscToc fromCue;
        ASSERT_TRUE(sheet->ReadToc(fromCue));
        sheet->Close();
        EXPECT_EQ(Offsets(fromCue), Offsets(toc.toc));
        EXPECT_EQ(fromCue.leadout, toc.toc.leadout);
    }
}

// libcdio's test TOC files: the good ones parse, the bad ones are refused
// naming their line, and the one over nothing but silence opens with its
// CD-Text.
TEST(TocFixtures, LibcdioTocFilesParseOrAreRefusedWithTheirLine) {
    QM_REQUIRE_FIXTURES();
    const fs::path folder = qmtest::FixturesDir() / kCueDir / "libcdio";
    int good = 0;
    int bad = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".toc") {
            continue;
        }
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        std::string error;
        const auto parsed = qm::ReadTocFile(entry.path(), &error);
        if (name.rfind("bad-", 0) == 0 && name != "bad-file.toc") {
            EXPECT_FALSE(parsed);
            EXPECT_NE(error.find(name + ": line "), std::string::npos) << error;
            ++bad;
        } else {
            EXPECT_TRUE(parsed) << error;
            ++good;
        }
    }
    EXPECT_EQ(good, 21);
    EXPECT_EQ(bad, 7);

    // bad-file.toc parses, but names a file that is not there.
    qmtest::TempDir dir;
    fs::copy_file(folder / "bad-file.toc", dir / "bad-file.toc");
    std::string error;
    EXPECT_EQ(qm::DriveList::Instance().AddImage(dir / "bad-file.toc", &error), -1);
    EXPECT_NE(error.find("foo.bin"), std::string::npos) << error;

    // A missing file is not stood in for by the TOC file itself, though it
    // shares the file's stem.
    fs::copy_file(folder / "vcd_demo.toc", dir / "vcd_demo.toc");
    EXPECT_EQ(qm::SheetDrive::ForSheet(dir / "vcd_demo.toc", &error), nullptr);
    EXPECT_NE(error.find("line 5: the sheet's file is missing: " + (dir / "vcd_demo.bin").string()),
              std::string::npos)
        << error;

    auto text = qm::SheetDrive::ForSheet(folder / "cdtext.toc", &error);
    ASSERT_NE(text, nullptr) << error;
    const qm::CueSheet& sheet = text->Sheet();
    EXPECT_EQ(sheet.title, "CD Title");
    EXPECT_EQ(sheet.performer, "Performer");
    ASSERT_EQ(sheet.tracks.size(), 1u);
    EXPECT_EQ(sheet.tracks[0].title, "Track Title");
    EXPECT_EQ(sheet.tracks[0].isrc, "USXX19801234");
    ASSERT_TRUE(text->Open(0));
    qm::DiscToc toc;
    ASSERT_TRUE(text->ReadToc(toc));
    EXPECT_EQ(toc.leadout, 60 * 75);
    std::vector<std::uint8_t> sector(2352, 1);
    EXPECT_EQ(text->ReadAudio(100, 1, sector.data()), qm::DriveStatus::kOk);
    EXPECT_EQ(sector, std::vector<std::uint8_t>(2352, 0));
    text->Close();
}

// One disc as CUE+BIN and as TOC files over WAV, FLAC and raw big-endian
// samples at an odd byte offset: the same table of contents and disc id, the
// same bytes in every sector, and the names of the TOC file's CD-Text.
TEST(TocForms, TocFilesServeTheSameDiscAsItsCueSheet) {
    qmtest::TempDir dir;
    const std::vector<qmtest::ImageTrack> tracks = {
        {false, 40, 300}, {false, 0, 151}, {false, 75, 222}, {false, 1, 97}};
    qmtest::TestImage image;
    const auto cues = qmtest::WriteSheetVariants(dir.path(), tracks, "", &image);
    const auto tocs = qmtest::WriteTocVariants(
        dir.path(), image, "    TITLE \"Sm\\366rg\\345sbord\"\n    PERFORMER \"The Band\"\n");
    const qmtest::Bytes disc = image.Sectors(0, image.layout.leadout);
    std::string error;
    auto bin = qm::SheetDrive::ForSheet(cues.front().sheet, &error);
    ASSERT_NE(bin, nullptr) << error;
    ASSERT_TRUE(bin->Open(0));
    qm::DiscToc reference;
    ASSERT_TRUE(bin->ReadToc(reference));
    bin->Close();
    for (const auto& variant : tocs) {
        SCOPED_TRACE(variant.name);
        const int index = qm::DriveList::Instance().AddImage(variant.sheet, &error);
        ASSERT_GE(index, 0) << error;
        const auto drive =
            qm::DriveList::Instance().Drives().at(static_cast<std::size_t>(index)).drive;
        ASSERT_NE(dynamic_cast<qm::SheetDrive*>(drive.get()), nullptr);
        ASSERT_TRUE(drive->Open(0));
        qm::DiscToc toc;
        ASSERT_TRUE(drive->ReadToc(toc));
        EXPECT_EQ(Offsets(toc), Offsets(reference));
        EXPECT_EQ(toc.leadout, reference.leadout);
        EXPECT_EQ(qm::CddbDiscId(toc), qm::CddbDiscId(reference));
        DiscId* id = discid_new();
        int offsets[100] = {toc.leadout + qm::kMsfOffset};
        for (std::size_t t = 0; t < toc.tracks.size(); ++t) {
            offsets[t + 1] = toc.tracks[t].start + qm::kMsfOffset;
        }
        ASSERT_TRUE(discid_put(id, toc.firstTrack, toc.lastTrack, offsets));
        EXPECT_EQ(std::string(discid_get_freedb_id(id)), CddbId(reference));
        discid_free(id);
        qmtest::Bytes read(disc.size());
        for (std::int32_t at = 0; at < toc.leadout; at += 37) {
            const std::int32_t n = std::min(37, toc.leadout - at);
            ASSERT_EQ(drive->ReadAudio(at, n, read.data() + static_cast<std::size_t>(at) * 2352),
                      qm::DriveStatus::kOk);
        }
        EXPECT_TRUE(read == disc);
        EXPECT_EQ(drive->ReadAudio(toc.leadout - 1, 2, read.data()), qm::DriveStatus::kFailed);
        drive->Close();
        if (variant.name == "toc-wav") {
            const auto info = qm::SheetDiscInfo(*drive);
            ASSERT_TRUE(info);
            EXPECT_EQ(info->title, "Sm\xC3\xB6rg\xC3\xA5sbord");
            EXPECT_EQ(info->artist, "The Band");
            EXPECT_EQ(info->tracks.at(2).title, "Song 3");
        }
        qm::DriveList::Instance().Remove(drive);
    }
}

// Broken TOC files: each refused at once, with the line that is wrong.
TEST(TocRefusals, BrokenTocFilesNameTheirLine) {
    qmtest::TempDir dir;
    qmtest::WriteSilentWav(dir / "a.wav", 750);
    const std::pair<std::string, std::string> cases[] = {
        {"", "the TOC file is empty"},
        {"CD_DA\n// nothing\n", "line 1: the TOC file has no tracks"},
        {"TRACK AUDIO\nFILE \"a.wav 0\n", "line 2: a quote is not closed"},
        {"TRACK AUDIO\nFILE \"a.wav\" 0 00:20:00\nBOGUS 1\n", "line 3: unknown keyword BOGUS"},
        {"TRACK AUDIO\nFILE \"a.wav\" 0 00:05:00\nTRACK AUDIO\nFILE \"a.wav\" 00:11:00\n",
         "line 4: starts past the end of a.wav"},
        {"TRACK AUDIO\nFILE \"a.wav\" 0 00:11:00\n", "line 2: runs past the end of a.wav"},
        {"TRACK AUDIO\nFILE \"none.wav\" 0\n", "line 2: the sheet's file is missing"},
        {"TRACK AUDIO\nFILE \"a.wav\" 0 00:05:00\nSTART 00:05:00\n",
         "line 3: track 1 has no sectors after its START"},
        {"TRACK AUDIO\nFILE \"a.wav\" 0 00:05:00\nINDEX 00:06:00\n",
         "line 3: INDEX lies past the end of track 1"},
        {"TRACK AUDIO\nFILE \"a.wav\" 0 00:05:00\nINDEX 00:02:00\nINDEX 00:01:00\n",
         "line 4: INDEX does not follow"},
        {"CD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"x\"\n",
         "line 2: the LANGUAGE block is not closed"},
        {"TRACK AUDIO\nFILE \"a.wav\" 0 00:05:75\n", "line 2: bad time 00:05:75"},
        {"TRACK AUDIO\nFILE \"a.wav\" 0 1000\n", "line 2: the length is not a whole number"},
        {"TRACK AUDIO\nISRC \"XX\"\nFILE \"a.wav\" 0\n", "line 2: ISRC needs a 12-character code"},
        {"TRACK AUDIO\nNO COPY\n", "line 1: track 1 has no FILE"},
        {"SILENCE 00:01:00\n", "line 1: SILENCE before any TRACK"},
        {"TRACK MODE3\nSILENCE 00:01:00\n", "line 1: unknown track mode MODE3"},
        {std::string("TRACK AUDIO\n\0\x01\x02", 15), "line 2: not a TOC file"},
    };
    int n = 0;
    for (const auto& [text, reason] : cases) {
        SCOPED_TRACE(reason);
        const fs::path toc = dir / ("case" + std::to_string(n++) + ".toc");
        std::ofstream(toc, std::ios::binary) << text;
        std::string error;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(qm::DriveList::Instance().AddImage(toc, &error), -1);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
        EXPECT_NE(error.find(toc.filename().string() + ": "), std::string::npos) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    // Random bytes, and every prefix of a real TOC file: refused or opened,
    // never a crash or a hang.
    std::string noise(4096, '\0');
    std::mt19937 rng(11);
    for (char& c : noise) {
        c = static_cast<char>(rng() % 96 + 32);
    }
    std::string error;
    EXPECT_FALSE(qm::ParseTocFile(noise, dir.path(), "noise.toc", &error));
    EXPECT_NE(error.find("noise.toc: line "), std::string::npos) << error;
    if (!qmtest::FixturesDir().empty()) {
        std::ifstream in(qmtest::FixturesDir() / kCueDir / "whipper/jose.toc");
        const std::string jose((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        for (std::size_t cut = 0; cut < jose.size(); cut += 7) {
            error.clear();
            const auto parsed =
                qm::ParseTocFile(jose.substr(0, cut), dir.path(), "cut.toc", &error);
            EXPECT_TRUE(parsed || error.find("cut.toc") == 0) << error;
        }
    }
}

} // namespace
