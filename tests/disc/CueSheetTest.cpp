// CUE sheets as users have them, read through the drive they become: every
// real sheet of the fixtures beside files of the length it needs, one disc in
// each of the forms people keep, the gap before a data session, and sheets
// that are broken in every way the fixtures know.
#include <gtest/gtest.h>

#include <discid/discid.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "core/Text.h"
#include "disc/CdAccess.h"
#include "disc/CueSheet.h"
#include "disc/DriveList.h"
#include "disc/SheetDrive.h"
#include "support/DiscImage.h"
#include "support/Fixtures.h"
#include "support/Process.h"
#include "support/SheetImages.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

struct LayoutTrack {
    int number = 0;
    std::string mode;
    int file = 0;
    int idx0 = -1;
    int idx1 = -1; // -1: the sheet has none
    int pregap = 0;
    int length = -1; // to the next INDEX 01 or the file's end, when known
};

struct Layout {
    int files = 0;
    bool rejected = false;
    std::vector<LayoutTrack> tracks;
    int total = -1; // sectors of the single file, when known
};

// LAYOUTS.txt: the layout each fixture sheet implies.
std::map<std::string, Layout> ReadLayouts(const fs::path& file) {
    std::map<std::string, Layout> layouts;
    std::ifstream in(file);
    std::string line;
    Layout* current = nullptr;
    const std::regex head(R"(^(\S+\.cue): (\d+) FILE line)");
    const std::regex track(R"(^  T(\d+) (\S+)\s+file#(\d+)(.*)$)");
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, head)) {
            current = &layouts[m[1]];
            current->files = std::stoi(m[2]);
        } else if (line.find(": REJECTED") != std::string::npos) {
            layouts[line.substr(0, line.find(':'))].rejected = true;
            current = nullptr;
        } else if (current != nullptr && std::regex_match(line, m, track)) {
            LayoutTrack t;
            t.number = std::stoi(m[1]);
            t.mode = m[2];
            t.file = std::stoi(m[3]);
            const std::string rest = m[4];
            std::smatch v;
            if (std::regex_search(rest, v, std::regex(R"(idx0=(\d+))"))) {
                t.idx0 = std::stoi(v[1]);
            }
            if (std::regex_search(rest, v, std::regex(R"(idx1=(\d+))"))) {
                t.idx1 = std::stoi(v[1]);
            }
            if (std::regex_search(rest, v, std::regex(R"(PREGAP=(\d+))"))) {
                t.pregap = std::stoi(v[1]);
            }
            if (std::regex_search(rest, v, std::regex(R"(len\([^)]*\)=(\d+))"))) {
                t.length = std::stoi(v[1]);
                if (rest.find("to end of file") != std::string::npos) {
                    current->total = t.idx1 + t.length;
                }
            }
            current->tracks.push_back(t);
        }
    }
    return layouts;
}

std::map<std::string, fs::path> FixtureSheets() {
    std::map<std::string, fs::path> sheets;
    for (const auto& entry : fs::recursive_directory_iterator(qmtest::FixturesDir() / "real/cue")) {
        if (entry.path().extension() == ".cue") {
            sheets[entry.path().filename().string()] = entry.path();
        }
    }
    return sheets;
}

// Writes silent files for every FILE line of `sheet`, each as long as the
// indexes in it need (or `total` for a single file), and returns where the
// sheet was copied.
fs::path StageSheet(const fs::path& sheet, const fs::path& dir, int total) {
    fs::copy_file(sheet, dir / sheet.filename());
    std::string error;
    // The sheet is read once to learn its files; a sheet that cannot be read
    // is staged without them.
    auto parsed = qm::ReadCueSheet(dir / sheet.filename(), &error);
    if (!parsed) {
        return dir / sheet.filename();
    }
    std::vector<std::int64_t> need(parsed->files.size(), 0);
    for (const qm::CueTrack& track : parsed->tracks) {
        for (const qm::CueIndex& index : track.indexes) {
            auto& n = need[static_cast<std::size_t>(index.file)];
            n = std::max<std::int64_t>(n, index.position + 75);
        }
    }
    if (parsed->end) {
        auto& n = need[static_cast<std::size_t>(parsed->end->file)];
        n = std::max<std::int64_t>(n, parsed->end->position + 75);
    }
    for (std::size_t f = 0; f < parsed->files.size(); ++f) {
        const std::int64_t sectors = parsed->files.size() == 1 && total > 0 ? total : need[f];
        fs::create_directories(parsed->files[f].path.parent_path());
        if (parsed->files[f].type == "BINARY" || parsed->files[f].type == "MOTOROLA") {
            std::ofstream(parsed->files[f].path, std::ios::binary).flush();
            fs::resize_file(parsed->files[f].path, static_cast<std::uintmax_t>(sectors) * 2352);
        } else {
            qmtest::WriteSilentWav(parsed->files[f].path, sectors);
        }
    }
    return dir / sheet.filename();
}

// The sheets the fixtures' README calls broken. The two real sheets with
// tracks that have only an INDEX 00 open: audio tracks start there, and a
// last data track that was never ripped (kanye.cue) is left out, the disc
// ending where it would have begun.
bool ExpectedRefused(const std::string& name) {
    return name.rfind("bad-", 0) == 0 || name.rfind("fuzz-", 0) == 0;
}

TEST(CueSheetFixtures, EverySheetGivesItsLayoutOrIsRefusedWithItsLine) {
    QM_REQUIRE_FIXTURES();
    const auto layouts = ReadLayouts(qmtest::FixturesDir() / "real/cue/LAYOUTS.txt");
    const auto sheets = FixtureSheets();
    ASSERT_GE(sheets.size(), 40u);
    int opened = 0;
    int refused = 0;
    for (const auto& [name, path] : sheets) {
        SCOPED_TRACE(name);
        qmtest::TempDir dir;
        const auto layout = layouts.find(name);
        ASSERT_NE(layout, layouts.end());
        const fs::path staged = StageSheet(path, dir.path(), layout->second.total);
        std::string error;
        const auto started = std::chrono::steady_clock::now();
        auto drive = qm::SheetDrive::ForSheet(staged, &error);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
        if (ExpectedRefused(name)) {
            EXPECT_EQ(drive, nullptr);
            EXPECT_NE(error.find(name + ": line "), std::string::npos) << error;
            ++refused;
            continue;
        }
        ASSERT_NE(drive, nullptr) << error;
        ++opened;
        const qm::CueSheet& sheet = drive->Sheet();
        auto expected = layout->second.tracks;
        if (expected.back().idx1 < 0 && expected.back().mode != "AUDIO") {
            ASSERT_TRUE(sheet.end);
            EXPECT_EQ(sheet.end->position, expected.back().idx0);
            expected.pop_back();
        }
        ASSERT_EQ(sheet.tracks.size(), expected.size());
        ASSERT_EQ(static_cast<int>(sheet.files.size()), layout->second.files);
        ASSERT_TRUE(drive->Open(0));
        qm::DiscToc toc;
        ASSERT_TRUE(drive->ReadToc(toc));
        EXPECT_EQ(toc.firstTrack, expected.front().number);
        std::int32_t pregaps = 0;
        for (std::size_t t = 0; t < expected.size(); ++t) {
            SCOPED_TRACE("track " + std::to_string(expected[t].number));
            const qm::CueTrack& track = sheet.tracks[t];
            EXPECT_EQ(track.number, expected[t].number);
            if (expected[t].idx1 < 0) {
                // Only an INDEX 00: the track starts there.
                EXPECT_EQ(track.Index(1)->position, expected[t].idx0);
                EXPECT_EQ(track.Index(0), nullptr);
            } else {
                EXPECT_EQ(track.Index(1)->position, expected[t].idx1);
            }
            EXPECT_EQ(track.pregap, expected[t].pregap);
            if (expected[t].idx0 >= 0 && expected[t].idx1 >= 0) {
                ASSERT_NE(track.Index(0), nullptr);
                EXPECT_EQ(track.Index(0)->position, expected[t].idx0);
            }
            pregaps += track.pregap;
            if (layout->second.files == 1) {
                // One file: the disc is the file, with PREGAP silence cut in.
                EXPECT_EQ(toc.tracks[t].start, expected[t].idx1 + pregaps);
                if (expected[t].length >= 0) {
                    const std::int32_t end =
                        t + 1 < toc.tracks.size() ? toc.tracks[t + 1].start : toc.leadout;
                    EXPECT_EQ(end - toc.tracks[t].start,
                              expected[t].length +
                                  (t + 1 < expected.size() ? sheet.tracks[t + 1].pregap : 0));
                }
            }
        }
        if (sheet.end && sheet.end->file == sheet.tracks.back().Index(1)->file) {
            // The disc ends where the track left out would have begun.
            EXPECT_EQ(toc.leadout - toc.tracks.back().start,
                      sheet.end->position - sheet.tracks.back().Index(1)->position);
        }
        drive->Close();
    }
    EXPECT_EQ(refused, 8);
    EXPECT_EQ(opened, 40);
    EXPECT_EQ(opened + refused, static_cast<int>(sheets.size()));
}

// The CDDB ids the fixtures' disc-id tests assert, from the sheet and the
// length of the disc alone; libdiscid computes the same.
TEST(CueSheetFixtures, DiscIdsOfRealSheetsAreThoseOfTheirDiscs) {
    QM_REQUIRE_FIXTURES();
    const auto sheets = FixtureSheets();
    const std::pair<const char*, std::pair<int, const char*>> known[] = {
        {"freedb_test_discid-1.cue", {67571, "5a038407"}},
        {"freedb_test_discid-2.cue", {261223, "be0d9a1f"}},
        {"freedb_test_discid-3.cue", {324708, "a610e90a"}},
        {"freedb_test_discid-4.cue", {217580, "ce0ad30e"}},
        {"freedb_test_discid-5.cue", {203882, "fc0a9e14"}},
        {"trackcat_pre_gap.cue", {324708, "a610e90a"}}};
    for (const auto& [name, expected] : known) {
        SCOPED_TRACE(name);
        qmtest::TempDir dir;
        std::string error;
        auto drive = qm::SheetDrive::ForSheet(
            StageSheet(sheets.at(name), dir.path(), expected.first), &error);
        ASSERT_NE(drive, nullptr) << error;
        ASSERT_TRUE(drive->Open(0));
        qm::DiscToc toc;
        ASSERT_TRUE(drive->ReadToc(toc));
        EXPECT_EQ(qm::Format("%08x", qm::CddbDiscId(toc)), expected.second);
        DiscId* id = discid_new();
        int offsets[100] = {toc.leadout + qm::kMsfOffset};
        for (std::size_t t = 0; t < toc.tracks.size(); ++t) {
            offsets[t + 1] = toc.tracks[t].start + qm::kMsfOffset;
        }
        ASSERT_TRUE(discid_put(id, toc.firstTrack, toc.lastTrack, offsets));
        EXPECT_EQ(std::string(discid_get_freedb_id(id)), expected.second);
        discid_free(id);
        drive->Close();
    }
}

// The same disc as CUE+BIN, CUE+WAV, CUE+FLAC and one FLAC per track (gaps
// appended and gaps left out): the same table of contents, the same bytes in
// every sector, and the disc id libdiscid gives.
TEST(CueSheetForms, EveryFormServesTheSameDisc) {
    qmtest::TempDir dir;
    const std::vector<qmtest::ImageTrack> tracks = {
        {false, 40, 300}, {false, 0, 151}, {false, 75, 222}, {false, 1, 97}};
    qmtest::TestImage image;
    const auto variants = qmtest::WriteSheetVariants(dir.path(), tracks, "", &image);
    const qmtest::Bytes disc = image.Sectors(0, image.layout.leadout);
    qm::DiscToc reference;
    for (const auto& variant : variants) {
        SCOPED_TRACE(variant.name);
        std::string error;
        auto drive = qm::SheetDrive::ForSheet(variant.sheet, &error);
        ASSERT_NE(drive, nullptr) << error;
        ASSERT_TRUE(drive->Open(0));
        qm::DiscToc toc;
        ASSERT_TRUE(drive->ReadToc(toc));
        ASSERT_EQ(toc.tracks.size(), tracks.size());
        for (std::size_t t = 0; t < tracks.size(); ++t) {
            EXPECT_EQ(toc.tracks[t].start, image.layout.starts[t]);
        }
        EXPECT_EQ(toc.leadout, image.layout.leadout);
        DiscId* id = discid_new();
        int offsets[100] = {toc.leadout + qm::kMsfOffset};
        for (std::size_t t = 0; t < toc.tracks.size(); ++t) {
            offsets[t + 1] = toc.tracks[t].start + qm::kMsfOffset;
        }
        ASSERT_TRUE(discid_put(id, toc.firstTrack, toc.lastTrack, offsets));
        EXPECT_EQ(std::string(discid_get_freedb_id(id)), qm::Format("%08x", qm::CddbDiscId(toc)));
        discid_free(id);
        // Odd-sized reads that cross the files' and the gaps' edges.
        qmtest::Bytes read(disc.size());
        for (std::int32_t at = 0; at < toc.leadout; at += 37) {
            const std::int32_t n = std::min(37, toc.leadout - at);
            ASSERT_EQ(drive->ReadAudio(at, n, read.data() + static_cast<std::size_t>(at) * 2352),
                      qm::DriveStatus::kOk);
        }
        EXPECT_TRUE(read == disc);
        EXPECT_EQ(drive->ReadAudio(toc.leadout - 1, 2, read.data()), qm::DriveStatus::kFailed);
        drive->Close();
    }
}

// The Enhanced CD's gap: only a data track in a later session (REM SESSION)
// ends the audio before it 11400 sectors early; a data track that follows in
// the same session leaves the last audio track whole.
TEST(CueSheetSessions, TheDataSessionGapAppliesOnlyToALaterSession) {
    qmtest::TempDir dir;
    const std::int32_t audio = 155 * 75;
    std::ofstream(dir / "disc.bin", std::ios::binary).flush();
    fs::resize_file(dir / "disc.bin", static_cast<std::uintmax_t>(audio + 11400 + 300) * 2352);
    const std::string single = "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                               "  TRACK 02 MODE1/2352\n    INDEX 01 " +
                               discgen::Msf(audio) + "\n";
    const std::string multi = "REM SESSION 01\nFILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n"
                              "    INDEX 01 00:00:00\nREM SESSION 02\n  TRACK 02 MODE1/2352\n"
                              "    INDEX 01 " +
                              discgen::Msf(audio + 11400) + "\n";
    std::ofstream(dir / "single.cue") << single;
    std::ofstream(dir / "multi.cue") << multi;
    for (const char* name : {"single.cue", "multi.cue"}) {
        SCOPED_TRACE(name);
        qmtest::ScopedDrive drive(dir / name);
        ASSERT_TRUE(drive.Drive()->Open(0));
        qm::DiscToc toc;
        ASSERT_TRUE(drive.Drive()->ReadToc(toc));
        const bool later = std::string(name) == "multi.cue";
        EXPECT_EQ(qm::SessionBreakBefore(toc, 1), later);
        EXPECT_EQ(toc.lastSessionStart, later ? audio + 11400 : 0);
        drive.Drive()->Close();

        qm::CdHandleRequest request;
        const auto entry =
            qm::DriveList::Instance().Drives().at(static_cast<std::size_t>(drive.Index()));
        request.hostAdapter = entry.hostAdapter;
        request.target = entry.target;
        request.lun = entry.lun;
        qm::CdHandle* handle = qm::GetCDHandle(&request);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(qm::SessionBreakBefore(handle, 2), later);
        EXPECT_FALSE(qm::SessionBreakBefore(handle, 1));
        qm::CloseCDHandle(handle);
    }
}

// Broken sheets: each refused at once, with the line that is wrong.
TEST(CueSheetRefusals, BrokenSheetsNameTheirLine) {
    qmtest::TempDir dir;
    qmtest::WriteSilentWav(dir / "a.wav", 750);
    const std::pair<std::string, std::string> cases[] = {
        {"", "the sheet is empty"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"x\"\n",
         "line 2: track 1 has no INDEX 01"},
        {"FILE \"none.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "line 1: the sheet's file is missing"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
         "    INDEX 01 70:00:00\n",
         "line 5: INDEX 1 lies past the end of a.wav"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 03 AUDIO\n",
         "line 4: track 3 does not follow track 1"},
        {"FILE \"a.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:75\r\n",
         "line 3: bad time"},
        {"CATALOG 12345\r\n", "line 1: CATALOG needs a 13-digit number"},
        {"  TRACK 01 AUDIO\n", "line 1: TRACK before any FILE"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:10\n    INDEX 00 00:00:00\n",
         "line 4: INDEX 00 is out of order"},
        {std::string("FILE \"a.wav\" WAVE\n\0\x01\x02", 21), "line 2: not a CUE sheet"},
    };
    int n = 0;
    for (const auto& [text, reason] : cases) {
        SCOPED_TRACE(reason);
        const fs::path sheet = dir / ("case" + std::to_string(n++) + ".cue");
        std::ofstream(sheet, std::ios::binary) << text;
        std::string error;
        EXPECT_EQ(qm::DriveList::Instance().AddImage(sheet, &error), -1);
        EXPECT_NE(error.find(sheet.filename().string() + ": "), std::string::npos) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    // Random bytes, a file that is not CD audio, and one shorter than its sheet.
    std::string noise(4096, '\0');
    std::mt19937 rng(5);
    for (char& c : noise) {
        c = static_cast<char>(rng());
    }
    std::ofstream(dir / "noise.cue", std::ios::binary) << noise;
    std::string error;
    EXPECT_EQ(qm::SheetDrive::ForSheet(dir / "noise.cue", &error), nullptr);
    EXPECT_NE(error.find("noise.cue: line "), std::string::npos) << error;
    ASSERT_EQ(qmtest::Run("ffmpeg -nostdin -loglevel error -f lavfi -i anullsrc=r=48000:cl=stereo "
                          "-t 2 -c:a flac " +
                          qmtest::ShellQuote((dir / "dvd.flac").string()))
                  .exitCode,
              0);
    std::ofstream(dir / "dvd.cue") << "FILE \"dvd.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 "
                                      "00:00:00\n";
    EXPECT_EQ(qm::SheetDrive::ForSheet(dir / "dvd.cue", &error), nullptr);
    EXPECT_NE(error.find("dvd.flac is not CD audio (44.1 kHz, 16-bit, stereo): 48000 Hz"),
              std::string::npos)
        << error;
}

// Names, codes and flags: Latin-1 text, REM lines, FLAGS and ISRC, and the
// disc information they give.
TEST(CueSheetNames, TextLinesFillTheDiscInformation) {
    qmtest::TempDir dir;
    qmtest::WriteSilentWav(dir / "a.wav", 750);
    std::ofstream(dir / "names.cue", std::ios::binary)
        << "REM GENRE \"Chanson\"\r\nREM DATE 1998\r\nREM DISCID 0A02D202\r\n"
           "PERFORMER \"Jos\xE9 Gonz\xE1lez\"\r\nTITLE \"Caf\xE9\"\r\nCATALOG 0602517931596\r\n"
           "FILE \"A.WAV\" WAVE\r\n  TRACK 01 AUDIO\r\n    TITLE \"Un\"\r\n    PERFORMER "
           "\"Moi\"\r\n"
           "    FLAGS DCP PRE\r\n    ISRC USUM70846386\r\n    INDEX 01 00:00:00\r\n"
           "  TRACK 02 AUDIO\r\n    TITLE \"Deux\"\r\n    INDEX 00 00:04:00\r\n"
           "    INDEX 01 00:05:00\r\n";
    std::string error;
    auto drive = qm::SheetDrive::ForSheet(dir / "names.cue", &error);
    ASSERT_NE(drive, nullptr) << error;
    const qm::CueSheet& sheet = drive->Sheet();
    EXPECT_EQ(sheet.catalog, "0602517931596");
    EXPECT_EQ(sheet.discId, "0A02D202");
    EXPECT_EQ(sheet.tracks[0].isrc, "USUM70846386");
    EXPECT_TRUE(sheet.tracks[0].copyPermitted);
    EXPECT_TRUE(sheet.tracks[0].preEmphasis);
    EXPECT_FALSE(sheet.tracks[1].copyPermitted);
    ASSERT_TRUE(drive->Open(0));
    qm::DiscToc toc;
    ASSERT_TRUE(drive->ReadToc(toc));
    EXPECT_TRUE(toc.tracks[0].copyPermitted && toc.tracks[0].preEmphasis);
    EXPECT_EQ(toc.tracks[1].start, 375);
    drive->Close();
    const auto info = qm::SheetDiscInfo(*drive);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->artist, "José González");
    EXPECT_EQ(info->title, "Café");
    EXPECT_EQ(info->year, 1998);
    EXPECT_EQ(info->genre, "Chanson");
    ASSERT_EQ(info->tracks.size(), 2u);
    EXPECT_EQ(info->tracks[0].title, "Un");
    EXPECT_EQ(info->tracks[0].artist, "Moi");
    EXPECT_EQ(info->tracks[1].title, "Deux");
}

// A FLAC that carries its sheet: as a CUESHEET tag, and as a CUESHEET block.
TEST(CueSheetEmbedded, AFlacWithItsOwnSheetOpensAsADisc) {
    qmtest::TempDir dir;
    const std::string flac = (dir / "album.flac").string();
    ASSERT_EQ(qmtest::Run("ffmpeg -nostdin -loglevel error -f lavfi -i "
                          "anullsrc=r=44100:cl=stereo -t 8 -sample_fmt s16 -c:a flac " +
                          qmtest::ShellQuote(flac))
                  .exitCode,
              0);
    std::ofstream(dir / "sheet.cue") << "TITLE \"Inside\"\nFILE \"old name.wav\" WAVE\n"
                                        "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                        "  TRACK 02 AUDIO\n    INDEX 01 00:03:00\n";
    const fs::path tagged = dir / "tagged.flac";
    fs::copy_file(flac, tagged);
    ASSERT_EQ(qmtest::Run("metaflac --set-tag-from-file=CUESHEET=" +
                          qmtest::ShellQuote((dir / "sheet.cue").string()) + " " +
                          qmtest::ShellQuote(tagged.string()))
                  .exitCode,
              0);
    const fs::path block = dir / "block.flac";
    fs::copy_file(flac, block);
    std::ofstream(dir / "block.cue") << "FILE \"block.flac\" WAVE\n  TRACK 01 AUDIO\n"
                                        "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
                                        "    INDEX 01 00:03:00\n";
    ASSERT_EQ(qmtest::Run("metaflac --import-cuesheet-from=" +
                          qmtest::ShellQuote((dir / "block.cue").string()) + " " +
                          qmtest::ShellQuote(block.string()))
                  .exitCode,
              0);
    for (const fs::path& file : {tagged, block}) {
        SCOPED_TRACE(file.filename().string());
        std::string error;
        const int index = qm::DriveList::Instance().AddImage(file, &error);
        ASSERT_GE(index, 0) << error;
        auto drive = qm::DriveList::Instance().Drives().at(static_cast<std::size_t>(index)).drive;
        ASSERT_TRUE(drive->Open(0));
        qm::DiscToc toc;
        ASSERT_TRUE(drive->ReadToc(toc));
        ASSERT_EQ(toc.tracks.size(), 2u);
        EXPECT_EQ(toc.tracks[1].start, 225);
        EXPECT_EQ(toc.leadout, 600);
        drive->Close();
        qm::DriveList::Instance().Remove(drive);
    }
    std::string error;
    EXPECT_EQ(qm::DriveList::Instance().AddImage(flac, &error), -1);
    EXPECT_NE(error.find("carries no cue sheet"), std::string::npos) << error;
}

} // namespace
