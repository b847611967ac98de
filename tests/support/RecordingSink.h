// A sink for tests: keeps the format, the bytes and the block sizes it is
// given and how it was closed; can refuse, hold the source back with a ready
// event of its own, and call back when a block arrives.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "pipeline/Encoder.h"
#include "support/Pcm.h"

namespace qmtest {

class RecordingSink : public CEncoder {
public:
    RecordingSink() = default;
    // With a ready event of its own, initially `ready`.
    explicit RecordingSink(bool ready) { m_readyEvent = qm::Event::Create(ready); }

    std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                               std::int32_t bitsPerSample) override;
    WriteResult Write(const void* data, std::int32_t frames) override;
    void Close(bool complete) override;
    void SetFinishEvent(qm::EventHandle event) override;

    CError* Registry() const { return m_error; }
    CProgress* Tracker() const { return m_progress; }
    const qm::EventHandle& Finish() const { return m_finishEvent; }
    qm::EventHandle& Ready() { return m_readyEvent; }

    PcmFormat format{0, 0, 0};
    int inputPropsCalls = 0;
    Bytes data;
    std::vector<std::int32_t> writes; // frames per Write
    std::vector<bool> closes;
    std::int32_t inputPropsResult = 0;
    WriteResult writeResult = WriteResult::Accepted;
    // Called after block n (1-based) has been kept.
    std::function<void(int)> onWrite;
    // Called whenever a finish event is handed over.
    std::function<void()> onFinishEvent;
};

} // namespace qmtest
