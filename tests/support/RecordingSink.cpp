#include "support/RecordingSink.h"

namespace qmtest {

std::int32_t RecordingSink::SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                          std::int32_t bitsPerSample) {
    format = {sampleRate, channels, bitsPerSample};
    ++inputPropsCalls;
    return inputPropsResult;
}

WriteResult RecordingSink::Write(const void* block, std::int32_t frames) {
    const auto* bytes = static_cast<const std::uint8_t*>(block);
    data.insert(data.end(), bytes, bytes + static_cast<std::size_t>(frames) * format.FrameBytes());
    writes.push_back(frames);
    if (onWrite) {
        onWrite(static_cast<int>(writes.size()));
    }
    return writeResult;
}

void RecordingSink::Close(bool complete) {
    closes.push_back(complete);
    SignalFinish();
}

void RecordingSink::SetFinishEvent(qm::EventHandle event) {
    CEncoder::SetFinishEvent(std::move(event));
    if (onFinishEvent) {
        onFinishEvent();
    }
}

} // namespace qmtest
