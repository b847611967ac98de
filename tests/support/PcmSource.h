// A source stage for tests and tools: pushes a PCM buffer through a chain
// the way the ripper does (SetInputProps once, the waits before each block,
// Write per block, Close at the end or on failure).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>

#include "pipeline/Decoder.h"
#include "support/Pcm.h"

namespace qmtest {

class PcmSource : public CDecoder {
public:
    PcmSource(Bytes pcm, PcmFormat format, std::int32_t framesPerBlock = 15288);
    // Streams from memory the caller keeps alive (no copy; for big inputs).
    PcmSource(std::span<const std::uint8_t> pcm, PcmFormat format,
              std::int32_t framesPerBlock = 15288);

    qm::EventHandle GetTerminateEvent() override { return m_terminate; }
    void SetTerminateEvent(qm::EventHandle event) override { m_terminate = std::move(event); }
    bool IsTerminated() override { return m_terminate && m_terminate->IsSet(); }
    void Terminate() override;
    bool Open(const char* fileName, CEncoder* sink) override;
    void InitProgress(CProgress* progress) override;
    std::int32_t Start() override;

    void SetCloseAtEnd(bool closeAtEnd) { m_closeAtEnd = closeAtEnd; }
    qm::EventHandle GetPauseEvent() const { return m_pause; }
    // Calls `hook` before block number `block` (0-based) is written.
    void SetBeforeBlock(std::function<void(int)> hook) { m_beforeBlock = std::move(hook); }
    int BlocksWritten() const { return m_blocks.load(); }

private:
    Bytes m_owned;
    std::span<const std::uint8_t> m_pcm;
    PcmFormat m_format;
    std::int32_t m_framesPerBlock;
    bool m_closeAtEnd = true;
    qm::EventHandle m_terminate;
    qm::EventHandle m_pause;
    std::function<void(int)> m_beforeBlock;
    std::atomic<int> m_blocks{0};
};

} // namespace qmtest
