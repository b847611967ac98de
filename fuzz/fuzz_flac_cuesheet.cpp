// An audio file that carries its own sheet (a FLAC CUESHEET block or a
// CUESHEET tag), opened as the drive list opens one: SheetDrive::ForAudioFile
// on the file, which reads the block or the tag and the file's length, and
// lays the disc out.
extern "C" {
#include <libavutil/log.h>
}

#include <string>

#include "FuzzSupport.h"
#include "disc/CdDrive.h"
#include "disc/SheetDrive.h"

// FFmpeg's complaints about broken files would drown libFuzzer's own lines.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path file = qmfuzz::ScratchFolder() / "image.flac";
    qmfuzz::WriteInput(file, qmfuzz::AsText(data, size));
    std::string error;
    const auto drive = qm::SheetDrive::ForAudioFile(file, &error);
    // The audio is not read: its first read decodes the whole file, which
    // takes as long as the (up to 100-minute) disc the sheet lays out.
    if (drive && drive->Open(0)) {
        qm::DiscToc toc;
        (void)drive->ReadToc(toc);
        (void)qm::SheetDiscInfo(*drive);
        drive->Close();
    }
    return 0;
}
