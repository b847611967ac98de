#include "encoders/APECompress.h"

#include <algorithm>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include "core/Trace.h"
#include "encoders/APEFrameEncoder.h"
#include "platform/RiffFile.h"

namespace {

constexpr std::uint32_t kDescriptorBytes = 52;
constexpr std::uint32_t kHeaderBytes = 24;
constexpr std::uint16_t kFlagCreateWavHeader = 32;
constexpr std::uint32_t kStandardBlocksPerFrame = 73728;
// The seek table never reserves more than this many entries up front; a
// longer stream grows it at the end.
constexpr std::uint32_t kMaxReservedEntries = 65536;
// Bytes moved at a time when the seek table grows.
constexpr std::size_t kMoveChunk = 1 << 20;

void Put16(std::uint8_t* out, std::uint16_t v) {
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

} // namespace

struct CAPECompress::Md5 {
    struct Free {
        void operator()(AVMD5* p) const { av_free(p); }
    };
    std::unique_ptr<AVMD5, Free> context{av_md5_alloc()};
};

int FillWaveFormatEx(qm::WaveFormat* format, int sampleRate, int bitsPerSample, int channels) {
    if (format == nullptr || sampleRate <= 0 || bitsPerSample <= 0 || channels <= 0) {
        return kAPEErrorInvalidArgument;
    }
    format->formatTag = 1;
    format->channels = static_cast<std::uint16_t>(channels);
    format->samplesPerSec = static_cast<std::uint32_t>(sampleRate);
    format->bitsPerSample = static_cast<std::uint16_t>(bitsPerSample);
    format->blockAlign = static_cast<std::uint16_t>(bitsPerSample / 8 * channels);
    format->avgBytesPerSec = format->blockAlign * format->samplesPerSec;
    format->extraSize = 0;
    return kAPESuccess;
}

std::unique_ptr<IAPECompress> CreateIAPECompress(int* errorCode) {
    try {
        auto compressor = std::make_unique<CAPECompress>();
        if (errorCode != nullptr) {
            *errorCode = kAPESuccess;
        }
        return compressor;
    } catch (const std::bad_alloc&) {
        if (errorCode != nullptr) {
            *errorCode = kAPEErrorNoMemory;
        }
        return nullptr;
    }
}

std::uint32_t CAPECompress::BlocksPerFrame(int compressionLevel) {
    switch (compressionLevel) {
    case 4000:
        return kStandardBlocksPerFrame * 4;
    case 5000:
        return kStandardBlocksPerFrame * 16;
    default:
        return kStandardBlocksPerFrame;
    }
}

CAPECompress::CAPECompress(std::uint32_t blocksPerFrame) : m_fixedBlocksPerFrame(blocksPerFrame) {
    QM_TRACE("APECompress");
}

CAPECompress::~CAPECompress() {
    QM_TRACE("APECompress");
    if (m_state == State::Started || m_state == State::Failed) {
        Fail(kAPEErrorNotStarted);
    }
}

int CAPECompress::Fail(int code) {
    QM_TRACE("APECompress");
    if (m_file) {
        m_file->Close();
        m_file.reset();
    }
    m_buffer = {};
    m_encoder.reset();
    m_state = State::Failed;
    QM_RETURN(0, code);
}

int CAPECompress::Start(const char* outputFilename, const qm::WaveFormat* input,
                        std::int64_t maxAudioBytes, int compressionLevel, const void* headerData,
                        std::int64_t headerBytes) {
    QM_TRACE("APECompress");
    if (m_state != State::Idle) {
        QM_RETURN(0, kAPEErrorNotStarted);
    }
    if (outputFilename == nullptr || *outputFilename == '\0' || input == nullptr) {
        QM_RETURN(1, kAPEErrorInvalidArgument);
    }
    if (input->formatTag != 1 || input->bitsPerSample != 16 ||
        (input->channels != 1 && input->channels != 2) || input->samplesPerSec == 0 ||
        input->blockAlign != input->channels * 2) {
        QM_RETURN(2, kAPEErrorInvalidFormat);
    }
    if (compressionLevel < 1000 || compressionLevel > 5000 || compressionLevel % 1000 != 0) {
        QM_RETURN(3, kAPEErrorInvalidLevel);
    }
    if (headerBytes == kCreateWavHeader) {
        m_createWavHeader = true;
        m_headerData.clear();
    } else if (headerBytes >= 0 && (headerBytes == 0 || headerData != nullptr) &&
               headerBytes <= 0xFFFFFFFFLL) {
        m_createWavHeader = false;
        const auto* bytes = static_cast<const std::uint8_t*>(headerData);
        m_headerData.assign(bytes, bytes + headerBytes);
    } else {
        QM_RETURN(4, kAPEErrorInvalidArgument);
    }

    m_format = *input;
    m_level = compressionLevel;
    m_blocksPerFrame =
        m_fixedBlocksPerFrame != 0 ? m_fixedBlocksPerFrame : BlocksPerFrame(compressionLevel);
    const std::uint64_t frameBytes =
        static_cast<std::uint64_t>(m_blocksPerFrame) * m_format.blockAlign;
    std::uint64_t entries = 1;
    if (maxAudioBytes > 0) {
        entries = (static_cast<std::uint64_t>(maxAudioBytes) + frameBytes - 1) / frameBytes;
    }
    m_seekEntries =
        static_cast<std::uint32_t>(std::clamp<std::uint64_t>(entries, 1, kMaxReservedEntries));

    try {
        m_buffer.assign(frameBytes, 0);
        m_encoder = std::make_unique<qm::ape::FrameEncoder>(m_format.channels, m_level);
        m_md5 = std::make_unique<Md5>();
        m_stream.clear();
        m_stream.reserve(frameBytes + frameBytes / 8 + 64);
        m_frameOffsets.clear();
    } catch (const std::bad_alloc&) {
        m_buffer = {};
        m_encoder.reset();
        QM_RETURN(5, kAPEErrorNoMemory);
    }
    if (!m_md5->context) {
        QM_RETURN(6, kAPEErrorNoMemory);
    }
    av_md5_init(m_md5->context.get());

    auto file = std::make_unique<qm::RiffFile>();
    if (!file->Create(outputFilename)) {
        QM_RETURN(7, kAPEErrorOpen);
    }
    m_file = std::move(file);
    m_state = State::Started;
    m_filled = 0;
    m_streamLength = 0;
    m_totalBlocks = 0;
    m_finalFrameBlocks = 0;

    // Placeholders for the descriptor, header and seek table; Finish writes
    // them once the lengths are known.
    const std::vector<std::uint8_t> zeros(kDescriptorBytes + kHeaderBytes + 4 * m_seekEntries, 0);
    bool ok = m_file->Write(zeros.data(), zeros.size());
    ok = ok && m_file->Write(m_headerData.data(), m_headerData.size());
    if (!ok) {
        QM_RETURN(8, Fail(kAPEErrorWrite));
    }
    av_md5_update(m_md5->context.get(), m_headerData.data(), m_headerData.size());
    m_firstFrame = m_file->Tell();
    QM_RETURN(9, kAPESuccess);
}

std::uint8_t* CAPECompress::LockBuffer(std::int64_t* bytesAvailable) {
    QM_TRACE("APECompress");
    if (bytesAvailable != nullptr) {
        *bytesAvailable = 0;
    }
    if (m_state != State::Started || bytesAvailable == nullptr) {
        QM_RETURN(0, nullptr);
    }
    // A full buffer left by UnlockBuffer without processing goes out first.
    if (m_filled == m_buffer.size() && CompressBuffer() != kAPESuccess) {
        QM_RETURN(1, nullptr);
    }
    *bytesAvailable = static_cast<std::int64_t>(m_buffer.size() - m_filled);
    QM_RETURN(2, m_buffer.data() + m_filled);
}

int CAPECompress::UnlockBuffer(std::int64_t bytesAdded, bool process) {
    QM_TRACE("APECompress");
    if (m_state != State::Started) {
        QM_RETURN(0, kAPEErrorNotStarted);
    }
    if (bytesAdded < 0 || static_cast<std::uint64_t>(bytesAdded) > m_buffer.size() - m_filled) {
        QM_RETURN(1, kAPEErrorInvalidArgument);
    }
    m_filled += static_cast<std::size_t>(bytesAdded);
    if (process && m_filled == m_buffer.size()) {
        QM_RETURN(2, CompressBuffer());
    }
    QM_RETURN(3, kAPESuccess);
}

int CAPECompress::CompressBuffer() {
    QM_TRACE("APECompress");
    const auto blocks = static_cast<std::uint32_t>(m_filled / m_format.blockAlign);
    if (blocks == 0) {
        QM_RETURN(0, kAPESuccess);
    }
    m_frameOffsets.push_back(m_streamLength);
    const std::size_t before = m_stream.size();
    try {
        m_encoder->Encode(m_buffer.data(), static_cast<int>(blocks), &m_stream);
    } catch (const std::bad_alloc&) {
        QM_RETURN(1, Fail(kAPEErrorNoMemory));
    }
    m_streamLength += m_stream.size() - before;
    m_totalBlocks += blocks;
    m_finalFrameBlocks = blocks;
    m_filled = 0;
    QM_RETURN(2, WriteStream(false));
}

int CAPECompress::WriteStream(bool final) {
    QM_TRACE("APECompress");
    if (final) {
        // Zero bytes up to the next word, and a whole zero word when the
        // stream already ends on one.
        const std::size_t pad = 4 - m_stream.size() % 4;
        m_stream.insert(m_stream.end(), pad, 0);
        m_streamLength += pad;
    }
    // The logical stream is stored as 32-bit words with their bytes reversed,
    // on a grid anchored at the first frame.
    const std::size_t whole = m_stream.size() / 4 * 4;
    for (std::size_t i = 0; i < whole; i += 4) {
        std::swap(m_stream[i], m_stream[i + 3]);
        std::swap(m_stream[i + 1], m_stream[i + 2]);
    }
    if (!m_file->Write(m_stream.data(), whole)) {
        QM_RETURN(0, Fail(kAPEErrorWrite));
    }
    av_md5_update(m_md5->context.get(), m_stream.data(), whole);
    m_stream.erase(m_stream.begin(), m_stream.begin() + static_cast<std::ptrdiff_t>(whole));
    QM_RETURN(1, kAPESuccess);
}

int CAPECompress::GrowSeekTable(std::uint32_t entries) {
    QM_TRACE("APECompress");
    // More frames than entries reserved: move everything after the seek
    // table (header data, frames, trailing data) up, from the end backwards.
    const std::int64_t delta = 4 * static_cast<std::int64_t>(entries - m_seekEntries);
    const std::int64_t from =
        kDescriptorBytes + kHeaderBytes + 4 * static_cast<std::int64_t>(m_seekEntries);
    std::int64_t end = m_file->Tell();
    std::vector<std::uint8_t> chunk;
    try {
        chunk.resize(kMoveChunk);
    } catch (const std::bad_alloc&) {
        QM_RETURN(0, Fail(kAPEErrorNoMemory));
    }
    while (end > from) {
        const auto part = static_cast<std::size_t>(std::min<std::int64_t>(end - from, kMoveChunk));
        end -= static_cast<std::int64_t>(part);
        if (!m_file->Seek(end) || !m_file->Read(chunk.data(), part) || !m_file->Seek(end + delta) ||
            !m_file->Write(chunk.data(), part)) {
            QM_RETURN(1, Fail(kAPEErrorWrite));
        }
    }
    m_seekEntries = entries;
    m_firstFrame += delta;
    QM_RETURN(2, kAPESuccess);
}

int CAPECompress::Finish(const void* terminatingData, std::int64_t terminatingBytes,
                         std::int64_t wavTerminatingBytes) {
    QM_TRACE("APECompress");
    if (m_state != State::Started) {
        QM_RETURN(0, kAPEErrorNotStarted);
    }
    if (terminatingBytes < 0 || wavTerminatingBytes < 0 || wavTerminatingBytes > terminatingBytes ||
        terminatingBytes > 0xFFFFFFFFLL || (terminatingBytes > 0 && terminatingData == nullptr)) {
        QM_RETURN(1, Fail(kAPEErrorInvalidArgument));
    }
    if (m_filled % m_format.blockAlign != 0) {
        QM_RETURN(2, Fail(kAPEErrorPartialBlock));
    }
    if (CompressBuffer() != kAPESuccess) {
        QM_RETURN(3, kAPEErrorWrite);
    }
    // Zero blocks cannot be stored: a file needs at least one frame, and a
    // frame at least one block.
    if (m_totalBlocks == 0) {
        QM_RETURN(4, Fail(kAPEErrorEmpty));
    }
    if (WriteStream(true) != kAPESuccess) {
        QM_RETURN(5, kAPEErrorWrite);
    }
    const auto* trailing = static_cast<const std::uint8_t*>(terminatingData);
    std::vector<std::uint8_t> terminating(trailing, trailing + terminatingBytes);
    if (!m_file->Write(terminating.data(), terminating.size())) {
        QM_RETURN(6, Fail(kAPEErrorWrite));
    }
    terminating.resize(static_cast<std::size_t>(wavTerminatingBytes));

    const auto frames = static_cast<std::uint32_t>(m_frameOffsets.size());
    if (frames > m_seekEntries && GrowSeekTable(frames) != kAPESuccess) {
        QM_RETURN(7, kAPEErrorWrite);
    }
    // Seek entries are 32-bit file offsets.
    if (static_cast<std::uint64_t>(m_firstFrame) + m_streamLength + terminatingBytes >
        0xFFFFFFFFull) {
        QM_RETURN(8, Fail(kAPEErrorTooLarge));
    }
    if (WriteHeaders(terminating) != kAPESuccess) {
        QM_RETURN(9, kAPEErrorWrite);
    }
    const bool closed = m_file->Close();
    m_file.reset();
    if (!closed) {
        m_state = State::Failed;
        QM_RETURN(10, kAPEErrorWrite);
    }
    m_buffer = {};
    m_encoder.reset();
    m_state = State::Finished;
    QM_RETURN(11, kAPESuccess);
}

int CAPECompress::WriteHeaders(const std::vector<std::uint8_t>& terminating) {
    QM_TRACE("APECompress");
    const auto frames = static_cast<std::uint32_t>(m_frameOffsets.size());
    std::uint8_t header[kHeaderBytes] = {};
    Put16(header + 0, static_cast<std::uint16_t>(m_level));
    Put16(header + 2, m_createWavHeader ? kFlagCreateWavHeader : 0);
    Put32(header + 4, m_blocksPerFrame);
    Put32(header + 8, m_finalFrameBlocks);
    Put32(header + 12, frames);
    Put16(header + 16, m_format.bitsPerSample);
    Put16(header + 18, m_format.channels);
    Put32(header + 20, m_format.samplesPerSec);

    // Unused trailing entries stay 0.
    std::vector<std::uint8_t> seekTable(4 * static_cast<std::size_t>(m_seekEntries), 0);
    for (std::uint32_t i = 0; i < frames; ++i) {
        Put32(seekTable.data() + 4 * static_cast<std::size_t>(i),
              static_cast<std::uint32_t>(static_cast<std::uint64_t>(m_firstFrame) +
                                         m_frameOffsets[i]));
    }

    // The file MD5: header data and frames were added as they were written;
    // then the trailing WAV data, the header and the seek table.
    AVMD5* md5 = m_md5->context.get();
    av_md5_update(md5, terminating.data(), terminating.size());
    av_md5_update(md5, header, sizeof header);
    av_md5_update(md5, seekTable.data(), seekTable.size());
    std::uint8_t digest[16];
    av_md5_final(md5, digest);

    std::uint8_t descriptor[kDescriptorBytes] = {};
    descriptor[0] = 'M';
    descriptor[1] = 'A';
    descriptor[2] = 'C';
    descriptor[3] = ' ';
    Put16(descriptor + 4, kVersion);
    Put32(descriptor + 8, kDescriptorBytes);
    Put32(descriptor + 12, kHeaderBytes);
    Put32(descriptor + 16, static_cast<std::uint32_t>(seekTable.size()));
    Put32(descriptor + 20, static_cast<std::uint32_t>(m_headerData.size()));
    Put32(descriptor + 24, static_cast<std::uint32_t>(m_streamLength));
    Put32(descriptor + 28, static_cast<std::uint32_t>(m_streamLength >> 32));
    Put32(descriptor + 32, static_cast<std::uint32_t>(terminating.size()));
    std::memcpy(descriptor + 36, digest, sizeof digest);

    bool ok = m_file->Seek(0);
    ok = ok && m_file->Write(descriptor, sizeof descriptor);
    ok = ok && m_file->Write(header, sizeof header);
    ok = ok && m_file->Write(seekTable.data(), seekTable.size());
    if (!ok) {
        QM_RETURN(0, Fail(kAPEErrorWrite));
    }
    QM_RETURN(1, kAPESuccess);
}
