// One test disc kept the ways users keep theirs: a CUE sheet over the BIN,
// over one WAV or one FLAC of the whole disc, and over one FLAC per track
// with the gaps appended to the previous file or left out (PREGAP). The gaps
// of the disc are silent, so every form holds the same disc.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/DiscImage.h"

namespace qmtest {

struct SheetVariant {
    std::string name; // "bin", "wav", "flac", "appended", "leftout"
    std::filesystem::path sheet;
};

// Writes the disc into `dir` and a sheet for every form; `header` is put at
// the top of every sheet (CD-Text and REM lines). Throws when a file cannot
// be written or ffmpeg fails.
std::vector<SheetVariant> WriteSheetVariants(const std::filesystem::path& dir,
                                             const std::vector<ImageTrack>& tracks,
                                             const std::string& header, TestImage* image);

// cdrdao TOC files for the disc WriteSheetVariants wrote into `dir`: over
// disc.wav ("toc-wav", with CD-Text `header` inside CD_TEXT { }), over
// disc.flac ("toc-flac"), and over raw big-endian samples behind a header
// the FILE lines skip with a byte offset ("toc-raw").
std::vector<SheetVariant> WriteTocVariants(const std::filesystem::path& dir, const TestImage& image,
                                           const std::string& cdText);

// A WAV file of `sectors` silent sectors (a sparse file), as long as a sheet
// needs its file to be.
void WriteSilentWav(const std::filesystem::path& file, std::int64_t sectors);

} // namespace qmtest
