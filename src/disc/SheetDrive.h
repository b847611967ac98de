// A disc image described by a CUE sheet or a cdrdao TOC file, as a drive: the
// sheet's files (one for the disc or one per track, BIN or audio of any kind,
// or runs of them) serve the sectors
// of the disc the sheet describes, gaps and hidden first-track audio
// included, on demand.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/DiscInfo.h"
#include "disc/CdDrive.h"
#include "disc/CueSheet.h"
#include "disc/ImageAudio.h"
#include "disc/TocFile.h"

namespace qm {

class SheetDrive : public CdDrive {
public:
    // A CUE sheet or a cdrdao TOC file (by its extension) over its files.
    // nullptr, with the reason (naming the sheet's line or the file) in
    // *error, when the sheet or one of its files cannot serve a disc.
    static std::shared_ptr<SheetDrive> ForSheet(const std::filesystem::path& sheet,
                                                std::string* error);
    // An audio file that carries its own sheet: a FLAC CUESHEET block or a
    // CUESHEET tag. nullptr, with the reason, when it has none or it does not
    // fit the file.
    static std::shared_ptr<SheetDrive> ForAudioFile(const std::filesystem::path& file,
                                                    std::string* error);
    // The same for a sheet already read; its FILE lines name the files.
    static std::shared_ptr<SheetDrive> ForCueSheet(CueSheet sheet, const std::string& device,
                                                   std::string* error);
    // The same for a TOC file already read.
    static std::shared_ptr<SheetDrive> ForTocFile(TocFile toc, const std::string& device,
                                                  std::string* error);

    std::string Device() const override { return m_device; }
    bool IsImage() const override { return true; }
    bool Open(int readType) override;
    void Close() override;
    std::string Identity() override;
    bool ReadToc(DiscToc& toc) override;
    DriveStatus ReadAudio(std::int32_t lsn, std::int32_t sectors, std::uint8_t* dest) override;
    DriveStatus SetSpeed(int kbPerSecond) override;
    int GetCurrentSpeed() override;
    int GetMaximalSpeed() override;

    const CueSheet& Sheet() const { return m_sheet; }

private:
    SheetDrive() = default;
    // Opens the files the sheet names; false, with the reason, when one
    // cannot serve audio.
    bool OpenFiles(CueSheet& sheet, std::string* error);
    void UseLayout(SheetLayout layout);

    std::mutex m_lock;
    std::string m_device;
    CueSheet m_sheet;
    SheetLayout m_layout;
    std::vector<std::int64_t> m_segmentStart; // disc sector of each segment
    std::vector<std::unique_ptr<ImageAudioFile>> m_files;
    int m_opens = 0;
};

// The disc's names as its sheet gives them (CD-Text and REM lines): disc
// artist and title, year and genre, each track's title and artist. Empty
// fields where the sheet says nothing.
DiscInfo SheetDiscInfo(const CueSheet& sheet);
// The same for the image behind a drive; nullopt when the drive is not one
// opened from a sheet or the sheet names nothing.
std::optional<DiscInfo> SheetDiscInfo(const CdDrive& drive);

// Whether `path` names an audio file DriveList::AddImage opens through the
// sheet it carries (anything but a BIN, TOC, NRG or ISO image; .cue and .toc
// files are told apart before).
bool IsSheetImage(const std::filesystem::path& path);

} // namespace qm
