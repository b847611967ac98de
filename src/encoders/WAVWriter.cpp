#include "encoders/WAVWriter.h"

#include <array>

#include "core/Trace.h"

namespace {

// 8-bit PCM travels through the chain as signed values, but WAV stores it
// unsigned (128 is silence). Converted through a small buffer of our own so
// the caller's block stays as it was.
constexpr std::size_t kConvertChunk = 16384;

} // namespace

CWAVWriter::CWAVWriter() {
    QM_TRACE("CWAVWriter");
    m_progressWeight = 200;
    m_readyEvent = qm::Event::OpenNamed(kReadyEventName, true);
}

CWAVWriter::~CWAVWriter() {
    QM_TRACE("~CWAVWriter");
    // The file goes unfinished: the sink removes it once it is closed.
    if (m_file) {
        m_file->Close();
        m_file.reset();
    }
}

void CWAVWriter::InitProgress(CProgress* progress, bool addProcess) {
    QM_TRACE("WAVWriter");
    if (progress == nullptr) {
        QM_RETURN(0);
    }
    RegisterProcess(progress, addProcess, "Encoding WAV");
    QM_EXIT(1);
}

std::int32_t CWAVWriter::Open(const char* fileName) {
    QM_TRACE("WAVWriter");
    m_path = fileName != nullptr ? fileName : "";
    m_frames = 0;
    // A file still open from a stream that was never closed is unfinished.
    if (m_file) {
        m_file->Close();
        m_file.reset();
    }
    // A path that cannot take a file is reported when the stream starts.
    static_cast<void>(BeginOutput(m_path));
    return 1;
}

std::int32_t CWAVWriter::SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                       std::int32_t bitsPerSample) {
    QM_TRACE("WAVWriter");
    m_format.formatTag = 1;
    m_format.channels = channels;
    m_format.samplesPerSec = sampleRate;
    m_format.bitsPerSample = static_cast<std::uint16_t>(bitsPerSample);
    m_format.blockAlign = static_cast<std::uint16_t>(bitsPerSample * channels / 8);
    m_format.avgBytesPerSec = m_format.blockAlign * sampleRate;
    m_format.extraSize = 0;
    if (m_readyEvent) {
        m_readyEvent->Set();
    }
    if (WaveCreateFile(m_path) != 0 || WaveStartDataWrite() != 0) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1, 0);
}

WriteResult CWAVWriter::Write(const void* data, std::int32_t frames) {
    QM_TRACE("WAVWriter");
    if (!m_file) {
        QM_RETURN(0, WriteResult::Accepted);
    }
    if (frames <= 0) {
        QM_RETURN(1, WriteResult::Accepted);
    }
    const std::size_t bytes = static_cast<std::size_t>(frames) * m_format.blockAlign;
    if (WaveWriteFile(static_cast<const std::uint8_t*>(data), bytes) != 0) {
        QM_RETURN(2, WriteResult::Refused);
    }
    m_frames += static_cast<std::uint32_t>(frames);
    QM_RETURN(3, WriteResult::Accepted);
}

void CWAVWriter::Close(bool complete) {
    QM_TRACE("WAVWriter");
    const bool started = m_file != nullptr;
    bool finished = false;
    if (started) {
        finished = WaveCloseWriteFile(m_frames) == 0;
        m_file.reset();
    }
    // A file whose finishing failed is as broken as an aborted one.
    const bool keep = complete && finished;
    if (!EndOutput(keep) && keep) {
        // The file could not take its name.
        ReportError(qm::err::kWriteFailed, qm::mod::kWAVEncoder);
    }
    SignalFinish();
}

int CWAVWriter::WaveCreateFile(const std::string& path) {
    QM_TRACE("WAVWriter");
    m_file.reset();
    auto file = CreateOutputFile(qm::RiffFile::kDefaultBuffer);
    if (!file) {
        ReportError(qm::err::kOpenFile, qm::mod::kWAVEncoder, 0, path.c_str());
        QM_RETURN(0, kFailure);
    }
    m_file = std::move(file);
    m_riffChunk = {};
    m_riffChunk.formType = qm::FourCC('W', 'A', 'V', 'E');
    bool ok = m_file->CreateChunk(m_riffChunk, true);

    m_chunk = {};
    m_chunk.id = qm::FourCC('f', 'm', 't', ' ');
    m_chunk.size = 16;
    ok = ok && m_file->CreateChunk(m_chunk, false);
    std::uint8_t fmt[16];
    auto put16 = [&fmt](int at, std::uint16_t v) {
        fmt[at] = static_cast<std::uint8_t>(v);
        fmt[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    auto put32 = [&fmt](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            fmt[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    };
    put16(0, m_format.formatTag);
    put16(2, m_format.channels);
    put32(4, m_format.samplesPerSec);
    put32(8, m_format.avgBytesPerSec);
    put16(12, m_format.blockAlign);
    put16(14, m_format.bitsPerSample);
    ok = ok && m_file->Write(fmt, sizeof fmt);
    ok = ok && m_file->Ascend(m_chunk);

    qm::RiffChunk fact;
    fact.id = qm::FourCC('f', 'a', 'c', 't');
    ok = ok && m_file->CreateChunk(fact, false);
    const std::uint8_t placeholder[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    ok = ok && m_file->Write(placeholder, sizeof placeholder);
    ok = ok && m_file->Ascend(fact);
    if (!ok) {
        ReportError(qm::err::kWriteFailed, qm::mod::kWAVEncoder);
        QM_RETURN(1, kFailure);
    }
    QM_RETURN(2, 0);
}

int CWAVWriter::WaveStartDataWrite() {
    QM_TRACE("WAVWriter");
    m_chunk = {};
    m_chunk.id = qm::FourCC('d', 'a', 't', 'a');
    if (!m_file->CreateChunk(m_chunk, false)) {
        ReportError(qm::err::kWriteFailed, qm::mod::kWAVEncoder);
        QM_RETURN(0, kFailure);
    }
    QM_RETURN(1, 0);
}

int CWAVWriter::WaveWriteFile(const std::uint8_t* data, std::size_t bytes) {
    QM_TRACE("WAVWriter");
    bool ok = true;
    if (m_format.bitsPerSample == 8) {
        std::array<std::uint8_t, kConvertChunk> unsignedPcm;
        for (std::size_t done = 0; ok && done < bytes; done += kConvertChunk) {
            const std::size_t part = bytes - done < kConvertChunk ? bytes - done : kConvertChunk;
            for (std::size_t i = 0; i < part; ++i) {
                unsignedPcm[i] = static_cast<std::uint8_t>(data[done + i] ^ 0x80);
            }
            ok = m_file->Write(unsignedPcm.data(), part);
        }
    } else {
        ok = m_file->Write(data, bytes);
    }
    if (!ok) {
        ReportError(qm::err::kWriteFailed, qm::mod::kWAVEncoder);
        QM_RETURN(0, kFailure);
    }
    QM_RETURN(1, 0);
}

int CWAVWriter::WaveCloseWriteFile(std::uint32_t frameCount) {
    QM_TRACE("WAVWriter");
    bool ok = m_file->Ascend(m_chunk);
    ok = ok && m_file->Ascend(m_riffChunk);
    ok = ok && m_file->Seek(0);
    qm::RiffChunk riff;
    riff.formType = qm::FourCC('W', 'A', 'V', 'E');
    ok = ok && m_file->Descend(riff, nullptr, qm::RiffFile::Find::Riff);
    if (ok) {
        qm::RiffChunk fact;
        fact.id = qm::FourCC('f', 'a', 'c', 't');
        if (m_file->Descend(fact, &riff, qm::RiffFile::Find::Chunk)) {
            const std::uint8_t count[4] = {static_cast<std::uint8_t>(frameCount),
                                           static_cast<std::uint8_t>(frameCount >> 8),
                                           static_cast<std::uint8_t>(frameCount >> 16),
                                           static_cast<std::uint8_t>(frameCount >> 24)};
            ok = m_file->Write(count, sizeof count) && m_file->Ascend(fact);
        }
        ok = ok && m_file->Ascend(riff);
    }
    ok = m_file->Close() && ok;
    if (!ok) {
        ReportError(qm::err::kWriteFailed, qm::mod::kWAVEncoder);
        QM_RETURN(0, kFailure);
    }
    QM_RETURN(1, 0);
}
