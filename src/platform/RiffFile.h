// A buffered RIFF file writer: create a file, open chunks, write into them,
// ascend (which patches each chunk's size) and find chunks again to patch a
// value. Data goes through one large memory buffer and reaches the file in
// big writes; there is no per-byte system call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace qm {

constexpr std::uint32_t FourCC(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24);
}

struct RiffChunk {
    std::uint32_t id = 0;
    std::uint32_t size = 0;
    std::uint32_t formType = 0;  // "RIFF" and "LIST" chunks only
    std::int64_t dataOffset = 0; // first byte after the 8-byte header
    bool created = false;        // made by CreateChunk (its size is patched on Ascend)
};

class RiffFile {
public:
    enum class Find { Next, Chunk, Riff };

    static constexpr std::size_t kDefaultBuffer = 1 << 20;

    explicit RiffFile(std::size_t bufferSize = kDefaultBuffer);
    RiffFile(const RiffFile&) = delete;
    RiffFile& operator=(const RiffFile&) = delete;
    ~RiffFile();

    // Creates (or truncates) the file for reading and writing.
    bool Create(const std::filesystem::path& path);
    bool IsOpen() const { return m_fd >= 0; }

    // Writes a chunk header at the current position. For a RIFF form
    // (`riffForm`) the id is "RIFF" and the form type follows the header.
    bool CreateChunk(RiffChunk& chunk, bool riffForm);
    // Leaves a chunk: a created chunk gets its size written (and a pad byte
    // when odd); the position moves past the chunk's end.
    bool Ascend(RiffChunk& chunk);
    // Reads the chunk header at the current position; with Find::Chunk (or
    // Find::Riff) skips chunks until one with the chunk's id (or form type)
    // is found inside `parent` (the whole file when null).
    bool Descend(RiffChunk& chunk, const RiffChunk* parent, Find mode);

    bool Write(const void* data, std::size_t bytes);
    bool Read(void* data, std::size_t bytes);
    bool Seek(std::int64_t position);
    std::int64_t Tell() const { return m_position; }

    bool Flush();
    // Flushes and closes; false when anything could not be written.
    bool Close();

private:
    bool WriteAt(std::int64_t offset, const std::uint8_t* data, std::size_t bytes);
    bool WriteU32At(std::int64_t offset, std::uint32_t value);

    int m_fd = -1;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_capacity;
    std::int64_t m_bufferStart = 0; // file offset of m_buffer[0]
    std::int64_t m_position = 0;
    std::int64_t m_fileSize = 0;
    bool m_failed = false;
};

} // namespace qm
