// The files behind a CUE sheet as runs of CD sectors: a raw BIN (either byte
// order), a WAV file read in place, or any other audio file FFmpeg decodes
// (FLAC, APE, WavPack, Ogg ...), decoded once into an unnamed temporary file
// so that no more than a buffer of it is ever in memory. Decoding starts at
// the first read and runs ahead of the reads on a thread of its own; a read
// waits only for the part it needs.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qm {

class ImageAudioFile {
public:
    enum class Kind { kRaw, kDecoded };

    // Opens and checks the file: CD audio (44.1 kHz, 16-bit, stereo) or a raw
    // BIN. `type` is the sheet's FILE type. nullptr, with the reason naming
    // the file, when it is missing or holds something else.
    static std::unique_ptr<ImageAudioFile> Open(const std::filesystem::path& path,
                                                const std::string& type, std::string* error);
    ~ImageAudioFile();
    ImageAudioFile(const ImageAudioFile&) = delete;
    ImageAudioFile& operator=(const ImageAudioFile&) = delete;

    // Whole sectors, a partial last sector counted as one.
    std::int64_t Sectors() const { return (m_bytes + 2351) / 2352; }
    // The sample (or raw) bytes the file holds.
    std::int64_t Bytes() const { return m_bytes; }
    Kind GetKind() const { return m_kind; }
    const std::filesystem::path& Path() const { return m_path; }

    // `count` sectors from `first` as little-endian 16-bit stereo; the part
    // of the last sector the file does not fill reads as silence. False when
    // the file cannot be read (or decodes shorter than it said).
    bool Read(std::int64_t first, std::int32_t count, std::uint8_t* dest);
    // `bytes` bytes from byte `from` (a TOC file's offsets need not fall on a
    // sector); past the file's end, up to a sector of silence.
    bool ReadBytes(std::int64_t from, std::int64_t bytes, std::uint8_t* dest);

private:
    ImageAudioFile() = default;
    // Starts decoding into a temporary file; false when it cannot begin.
    bool StartDecoding();
    void DecodeAll();
    // Waits until `end` bytes are decoded or decoding has ended; false when
    // they never will be.
    bool WaitFor(std::int64_t end);
    // Decodes the whole file now (a lossy file's length needs it).
    bool Decode();

    std::filesystem::path m_path;
    Kind m_kind = Kind::kRaw;
    int m_fd = -1;             // the file itself, or its decoded samples
    std::int64_t m_offset = 0; // where the samples start in m_fd
    std::int64_t m_bytes = 0;  // sample bytes the file holds
    bool m_swap = false;       // most significant byte first
    bool m_decoded = false;    // decoding has begun
    bool m_failed = false;

    std::thread m_decoder;
    std::mutex m_progressLock;
    std::condition_variable m_progress;
    std::int64_t m_ready = 0; // bytes decoded so far
    bool m_done = false;      // decoding has ended (m_failed says how)
    bool m_stop = false;      // the file is going: stop decoding
};

} // namespace qm
