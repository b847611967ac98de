#include "platform/RiffFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qm {

namespace {

void PutU32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value >> 16);
    out[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t GetU32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
           (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

bool WriteFully(int fd, std::int64_t offset, const std::uint8_t* data, std::size_t bytes) {
    while (bytes > 0) {
        const ssize_t done = ::pwrite(fd, data, bytes, offset);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (done == 0) {
            return false;
        }
        data += done;
        bytes -= static_cast<std::size_t>(done);
        offset += done;
    }
    return true;
}

} // namespace

RiffFile::RiffFile(std::size_t bufferSize) : m_capacity(bufferSize < 4096 ? 4096 : bufferSize) {}

RiffFile::~RiffFile() {
    Close();
}

bool RiffFile::Create(const std::filesystem::path& path) {
    Close();
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        return false;
    }
    m_buffer.clear();
    m_buffer.reserve(m_capacity);
    m_bufferStart = 0;
    m_position = 0;
    m_fileSize = 0;
    m_failed = false;
    return true;
}

bool RiffFile::Flush() {
    if (m_fd < 0) {
        return false;
    }
    if (!m_buffer.empty()) {
        if (!WriteFully(m_fd, m_bufferStart, m_buffer.data(), m_buffer.size())) {
            m_failed = true;
        }
        m_bufferStart += static_cast<std::int64_t>(m_buffer.size());
        m_buffer.clear();
    }
    return !m_failed;
}

bool RiffFile::WriteAt(std::int64_t offset, const std::uint8_t* data, std::size_t bytes) {
    const std::int64_t bufferEnd = m_bufferStart + static_cast<std::int64_t>(m_buffer.size());
    // Overwriting bytes still in the buffer (a size patch, say).
    if (offset >= m_bufferStart && offset + static_cast<std::int64_t>(bytes) <= bufferEnd) {
        std::memcpy(m_buffer.data() + (offset - m_bufferStart), data, bytes);
        return true;
    }
    if (offset != bufferEnd || m_buffer.empty()) {
        if (!Flush()) {
            return false;
        }
        m_bufferStart = offset;
    }
    while (bytes > 0) {
        if (m_buffer.empty() && bytes >= m_capacity) {
            // Big blocks bypass the buffer.
            if (!WriteFully(m_fd, offset, data, bytes)) {
                m_failed = true;
                return false;
            }
            m_bufferStart = offset + static_cast<std::int64_t>(bytes);
            return true;
        }
        const std::size_t room = m_capacity - m_buffer.size();
        const std::size_t part = bytes < room ? bytes : room;
        m_buffer.insert(m_buffer.end(), data, data + part);
        data += part;
        bytes -= part;
        offset += static_cast<std::int64_t>(part);
        if (m_buffer.size() == m_capacity && !Flush()) {
            return false;
        }
    }
    return true;
}

bool RiffFile::Write(const void* data, std::size_t bytes) {
    if (m_fd < 0 || m_failed) {
        return false;
    }
    if (bytes == 0) {
        return true;
    }
    if (!WriteAt(m_position, static_cast<const std::uint8_t*>(data), bytes)) {
        return false;
    }
    m_position += static_cast<std::int64_t>(bytes);
    if (m_position > m_fileSize) {
        m_fileSize = m_position;
    }
    return true;
}

bool RiffFile::WriteU32At(std::int64_t offset, std::uint32_t value) {
    std::uint8_t raw[4];
    PutU32(raw, value);
    const std::int64_t saved = m_position;
    m_position = offset;
    const bool ok = Write(raw, sizeof raw);
    m_position = saved;
    return ok;
}

bool RiffFile::Read(void* data, std::size_t bytes) {
    if (m_fd < 0 || !Flush()) {
        return false;
    }
    auto* out = static_cast<std::uint8_t*>(data);
    while (bytes > 0) {
        const ssize_t done = ::pread(m_fd, out, bytes, m_position);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        out += done;
        bytes -= static_cast<std::size_t>(done);
        m_position += done;
    }
    return true;
}

bool RiffFile::Seek(std::int64_t position) {
    if (m_fd < 0 || position < 0) {
        return false;
    }
    m_position = position;
    return true;
}

bool RiffFile::CreateChunk(RiffChunk& chunk, bool riffForm) {
    if (riffForm) {
        chunk.id = FourCC('R', 'I', 'F', 'F');
    }
    std::uint8_t header[12];
    PutU32(header, chunk.id);
    PutU32(header + 4, chunk.size);
    const bool hasForm = riffForm || chunk.id == FourCC('L', 'I', 'S', 'T');
    if (hasForm) {
        PutU32(header + 8, chunk.formType);
    }
    chunk.dataOffset = m_position + 8;
    chunk.created = true;
    return Write(header, hasForm ? 12 : 8);
}

bool RiffFile::Ascend(RiffChunk& chunk) {
    if (m_fd < 0) {
        return false;
    }
    if (chunk.created) {
        const std::int64_t length = m_position - chunk.dataOffset;
        if (length < 0 || length > 0xFFFFFFFFLL) {
            m_failed = true;
            return false;
        }
        if (length & 1) {
            const std::uint8_t pad = 0;
            if (!Write(&pad, 1)) {
                return false;
            }
        }
        if (static_cast<std::uint32_t>(length) != chunk.size) {
            chunk.size = static_cast<std::uint32_t>(length);
            if (!WriteU32At(chunk.dataOffset - 4, chunk.size)) {
                return false;
            }
        }
        chunk.created = false;
    }
    return Seek(chunk.dataOffset + chunk.size + (chunk.size & 1));
}

bool RiffFile::Descend(RiffChunk& chunk, const RiffChunk* parent, Find mode) {
    const std::int64_t end =
        parent != nullptr ? parent->dataOffset + parent->size : m_fileSize;
    const std::uint32_t wantedId = chunk.id;
    const std::uint32_t wantedForm = chunk.formType;
    while (m_position + 8 <= end) {
        std::uint8_t header[12];
        if (!Read(header, 8)) {
            return false;
        }
        RiffChunk found;
        found.id = GetU32(header);
        found.size = GetU32(header + 4);
        found.dataOffset = m_position;
        const bool hasForm =
            found.id == FourCC('R', 'I', 'F', 'F') || found.id == FourCC('L', 'I', 'S', 'T');
        if (hasForm) {
            if (!Read(header + 8, 4)) {
                return false;
            }
            found.formType = GetU32(header + 8);
        }
        const bool match = mode == Find::Next ||
                           (mode == Find::Chunk && found.id == wantedId) ||
                           (mode == Find::Riff && found.id == FourCC('R', 'I', 'F', 'F') &&
                            found.formType == wantedForm);
        if (match) {
            chunk = found;
            return true;
        }
        m_position = found.dataOffset + found.size + (found.size & 1);
    }
    return false;
}

bool RiffFile::Close() {
    if (m_fd < 0) {
        return false;
    }
    const bool flushed = Flush();
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    return flushed && closed;
}

} // namespace qm
