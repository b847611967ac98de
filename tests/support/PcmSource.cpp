#include "support/PcmSource.h"

#include "core/Diagnostics.h"
#include "pipeline/Encoder.h"

namespace qmtest {

PcmSource::PcmSource(Bytes pcm, PcmFormat format, std::int32_t framesPerBlock)
    : PcmSource(std::span<const std::uint8_t>(), format, framesPerBlock) {
    m_owned = std::move(pcm);
    m_pcm = m_owned;
}

PcmSource::PcmSource(std::span<const std::uint8_t> pcm, PcmFormat format,
                     std::int32_t framesPerBlock)
    : m_pcm(pcm), m_format(format), m_framesPerBlock(framesPerBlock),
      m_terminate(qm::Event::Create(false)), m_pause(qm::Event::Create(true)) {
    m_progressWeight = 500;
}

void PcmSource::Terminate() {
    m_terminate->Set();
}

bool PcmSource::Open(const char* /*fileName*/, CEncoder* sink) {
    m_sink = sink;
    return true;
}

void PcmSource::InitProgress(CProgress* progress) {
    m_progress = progress;
    if (progress != nullptr) {
        progress->Add(static_cast<std::uint32_t>(m_progressWeight), "Test source");
    }
    if (m_sink != nullptr) {
        m_sink->InitProgress(progress, false);
    }
}

std::int32_t PcmSource::Start() {
    if (m_sink == nullptr) {
        return 0;
    }
    auto fail = [this](int code) {
        if (m_error != nullptr) {
            m_error->Add(code, qm::mod::kCDRipper);
        }
        m_sink->Close(false);
    };
    if (m_sink->SetInputProps(m_format.rate, m_format.channels, m_format.bits) != 0) {
        fail(qm::err::kWriteFailed);
        return 0;
    }
    m_sink->SetStreaming(1);
    if (m_progress != nullptr) {
        m_progress->NextProcess();
    }
    const std::size_t frameBytes = static_cast<std::size_t>(m_format.FrameBytes());
    const std::size_t totalFrames = m_pcm.size() / frameBytes;
    int block = 0;
    for (std::size_t done = 0; done < totalFrames; ++block) {
        if (m_beforeBlock) {
            m_beforeBlock(block);
        }
        if (!qm::WaitBeforeBlock(m_terminate, m_sink->GetReadyEvent(), m_pause)) {
            fail(qm::err::kCancelled);
            return 1;
        }
        std::size_t frames = totalFrames - done;
        if (frames > static_cast<std::size_t>(m_framesPerBlock)) {
            frames = static_cast<std::size_t>(m_framesPerBlock);
        }
        if (m_sink->Write(m_pcm.data() + done * frameBytes, static_cast<std::int32_t>(frames)) ==
            WriteResult::Refused) {
            m_sink->Close(false);
            return 0;
        }
        done += frames;
        m_blocks.store(block + 1);
        if (m_progress != nullptr) {
            m_progress->SetPercent(static_cast<std::uint8_t>(done * 100 / totalFrames));
        }
    }
    if (m_closeAtEnd) {
        m_sink->Close(true);
    }
    return 1;
}

} // namespace qmtest
