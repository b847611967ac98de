#include "encoders/LameAudioBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/Trace.h"
#include "platform/RiffFile.h"

CLameAudioBuffer::CLameAudioBuffer() {
    QM_TRACE("CLameAudioBuffer");
}

CLameAudioBuffer::~CLameAudioBuffer() {
    QM_TRACE("~CLameAudioBuffer");
}

bool CLameAudioBuffer::Init(std::uint32_t chunkBytes, std::uint32_t minOutputBytes,
                            qm::lame::BeEncodeChunk encodeChunk,
                            qm::lame::BeDeinitStream deinitStream, qm::RiffFile* file,
                            qm::lame::StreamHandle stream) {
    QM_TRACE("LameAudioBuffer");
    Free();
    if (chunkBytes == 0 || chunkBytes % 2 != 0) {
        QM_RETURN(0, false);
    }
    try {
        m_input.assign(chunkBytes / 2, 0);
        // Four chunks' worth, unless the library's own bound is larger (a
        // mono chunk at a low rate is smaller than what a flush may emit).
        m_output.assign(
            std::max<std::size_t>(4 * static_cast<std::size_t>(chunkBytes), minOutputBytes), 0);
    } catch (const std::bad_alloc&) {
        Free();
        QM_RETURN(1, false);
    }
    m_chunkBytes = chunkBytes;
    m_fill = 0;
    m_encodeChunk = encodeChunk;
    m_deinitStream = deinitStream;
    m_file = file;
    m_stream = stream;
    QM_RETURN(2, true);
}

bool CLameAudioBuffer::Write(const void* block, std::uint32_t samples,
                             std::uint32_t bytesPerSample) {
    QM_TRACE("LameAudioBuffer");
    if (IsEmpty() || bytesPerSample == 0) {
        QM_RETURN(0, false);
    }
    m_bytesPerSample = bytesPerSample;
    const auto* data = static_cast<const std::uint8_t*>(block);
    std::size_t left = static_cast<std::size_t>(samples) * bytesPerSample;
    auto* chunk = reinterpret_cast<std::uint8_t*>(m_input.data());
    while (left > 0) {
        const std::size_t room = m_chunkBytes - m_fill;
        if (left < room) {
            std::memcpy(chunk + m_fill, data, left);
            m_fill += static_cast<std::uint32_t>(left);
            break;
        }
        // A block that fills the chunk exactly encodes it now, not on the
        // next write.
        std::memcpy(chunk + m_fill, data, room);
        data += room;
        left -= room;
        m_fill = 0;
        if (!EncodeChunk(m_chunkBytes)) {
            QM_RETURN(1, false);
        }
    }
    QM_RETURN(2, true);
}

bool CLameAudioBuffer::Flush() {
    QM_TRACE("LameAudioBuffer");
    if (IsEmpty()) {
        QM_RETURN(0, false);
    }
    bool ok = true;
    if (m_fill > 0) {
        ok = EncodeChunk(m_fill);
        m_fill = 0;
    }
    std::uint32_t bytes = 0;
    if (m_deinitStream(m_stream, m_output.data(), &bytes) != qm::lame::kOk) {
        QM_RETURN(1, false);
    }
    if (m_file != nullptr && !Store(bytes)) {
        QM_RETURN(2, false);
    }
    QM_RETURN(3, ok);
}

void CLameAudioBuffer::Free() {
    QM_TRACE("LameAudioBuffer");
    m_input.clear();
    m_input.shrink_to_fit();
    m_output.clear();
    m_output.shrink_to_fit();
    m_chunkBytes = 0;
    m_fill = 0;
    m_encodeChunk = nullptr;
    m_deinitStream = nullptr;
    m_file = nullptr;
    m_stream = nullptr;
}

bool CLameAudioBuffer::EncodeChunk(std::uint32_t bytes) {
    QM_TRACE("LameAudioBuffer");
    std::uint32_t coded = 0;
    if (m_encodeChunk(m_stream, bytes / m_bytesPerSample, m_input.data(), m_output.data(),
                      &coded) != qm::lame::kOk) {
        QM_RETURN(0, false);
    }
    QM_RETURN(1, Store(coded));
}

bool CLameAudioBuffer::Store(std::uint32_t bytes) {
    QM_TRACE("LameAudioBuffer");
    if (bytes == 0) {
        QM_RETURN(0, true);
    }
    if (m_file == nullptr || bytes > m_output.size()) {
        QM_RETURN(1, false);
    }
    QM_RETURN(2, m_file->Write(m_output.data(), bytes));
}
