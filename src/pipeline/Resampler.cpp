#include "pipeline/Resampler.h"

#include <cstring>
#include <limits>
#include <new>

#include "core/Error.h"
#include "core/Progress.h"
#include "core/Text.h"
#include "core/Trace.h"

namespace {

// No block in the chain is counted in more than 32 bits.
constexpr std::size_t kMaxBlockBytes = std::numeric_limits<std::int32_t>::max();

bool IsSupported(std::uint32_t rate, std::uint8_t channels, std::int32_t bits) {
    return rate >= 2000 && rate <= 96000 && (channels == 1 || channels == 2) &&
           (bits == 8 || bits == 16);
}

} // namespace

CResampler::CResampler() : CFilterStage("Resampler") {
    QM_TRACE("Resampler");
}

CResampler::~CResampler() {
    QM_TRACE("Resampler");
    Clear();
}

void CResampler::Stop(bool /*complete*/) {
    QM_TRACE("Resampler");
    Clear();
    if (m_terminateEvent && m_terminateEvent->IsSet() && m_sink != nullptr) {
        m_sink->Close(false);
    }
}

bool CResampler::Open(const char* /*fileName*/, CEncoder* sink) {
    QM_TRACE("Resampler");
    m_sink = sink;
    return true;
}

void CResampler::InitProgress(CProgress* progress, bool addProcess) {
    QM_TRACE("Resampler");
    KeepTracker(progress);
    if (m_sink != nullptr) {
        m_sink->InitProgress(progress, addProcess);
    }
}

std::int32_t CResampler::SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                       std::int32_t bitsPerSample) {
    QM_TRACE("Resampler");
    CError* registry = Registry();
    if (registry != nullptr && !IsSupported(sampleRate, channels, bitsPerSample)) {
        registry->Add(qm::err::kUnsupportedInput, qm::mod::kResampler, 0,
                      qm::Format("%dHz,%d channels,%d bits", static_cast<int>(sampleRate),
                                 static_cast<int>(channels), static_cast<int>(bitsPerSample))
                          .c_str());
        QM_RETURN(0, -1);
    }
    m_input = {sampleRate, channels, static_cast<std::uint8_t>(bitsPerSample)};
    m_output = m_requested;
    if (!m_convertRate) {
        m_output.rate = m_input.rate;
    }
    if (!m_convertChannels) {
        m_output.channels = m_input.channels;
    }
    if (!m_convertBits) {
        m_output.bits = m_input.bits;
    }
    if (registry != nullptr && !IsSupported(m_output.rate, m_output.channels, m_output.bits)) {
        registry->Add(qm::err::kUnsupportedOutput, qm::mod::kResampler, 0,
                      qm::Format("%dHz,%d channels,%d bits", static_cast<int>(m_output.rate),
                                 static_cast<int>(m_output.channels),
                                 static_cast<int>(m_output.bits))
                          .c_str());
        QM_RETURN(1, -1);
    }
    // A rate the converter cannot step through (only possible without a
    // registry) is left alone rather than converted.
    m_step = qm::MakeRateStep(m_input.rate, m_output.rate);
    if (m_input.rate == 0 || m_input.channels < 1 || m_input.channels > 2) {
        m_step.step = 0;
    }
    // Every stream starts from silence: what the previous track left in the
    // history must not leak into the first samples of this one.
    m_rateState = {};
    m_pendingBytes = 0;
    m_pendingFrames = 0;
    if (m_sink != nullptr) {
        QM_RETURN(2, m_sink->SetInputProps(m_output.rate, m_output.channels, m_output.bits));
    }
    QM_RETURN(3, 0);
}

WriteResult CResampler::Write(const void* data, std::int32_t frames) {
    QM_TRACE("Resampler");
    if (m_sink == nullptr) {
        QM_RETURN(0, WriteResult::Refused);
    }
    if (data == nullptr || frames <= 0) {
        QM_RETURN(1, WriteResult::Accepted);
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const std::size_t frameBytes = m_input.FrameBytes();
    if (m_minimumFrames <= 0 || frameBytes == 0) {
        QM_RETURN(2, Convert(bytes, static_cast<std::size_t>(frames)));
    }
    const std::size_t size = static_cast<std::size_t>(frames) * frameBytes;
    const std::size_t needed = m_pendingBytes + size;
    if (needed > m_pendingSize) {
        auto* grown = needed + 100 <= kMaxBlockBytes ? new (std::nothrow) std::uint8_t[needed + 100]
                                                     : nullptr;
        if (grown == nullptr) {
            if (Registry() != nullptr) {
                Registry()->Add(qm::err::kNoMemory, qm::mod::kResampler);
            }
            QM_RETURN(3, WriteResult::Refused);
        }
        if (m_pendingBytes > 0) {
            std::memcpy(grown, m_pending, m_pendingBytes);
        }
        delete[] m_pending;
        m_pending = grown;
        m_pendingSize = needed + 100;
    }
    std::memcpy(m_pending + m_pendingBytes, bytes, size);
    m_pendingBytes = needed;
    m_pendingFrames += static_cast<std::size_t>(frames);
    if (m_pendingFrames < static_cast<std::size_t>(m_minimumFrames)) {
        QM_RETURN(4, WriteResult::Accepted);
    }
    const std::size_t waiting = m_pendingFrames;
    m_pendingBytes = 0;
    m_pendingFrames = 0;
    QM_RETURN(5, Convert(m_pending, waiting));
}

void CResampler::Close(bool complete) {
    QM_TRACE("Resampler");
    bool delivered = true;
    if (complete && m_pendingFrames > 0 && m_sink != nullptr) {
        const std::size_t waiting = m_pendingFrames;
        m_pendingBytes = 0;
        m_pendingFrames = 0;
        delivered = Convert(m_pending, waiting) == WriteResult::Accepted;
    }
    m_pendingBytes = 0;
    m_pendingFrames = 0;
    Clear();
    if (m_sink != nullptr) {
        // Frames that could not be delivered leave the output incomplete.
        m_sink->Close(complete && delivered);
    }
}

void CResampler::SetOutputFormat(std::uint32_t sampleRate, std::uint8_t channels,
                                 std::uint8_t bitsPerSample) {
    QM_TRACE("Resampler");
    m_requested = {sampleRate, channels, bitsPerSample};
}

void CResampler::SetConversions(bool rate, bool channels, bool bits) {
    QM_TRACE("Resampler");
    m_convertRate = rate;
    m_convertChannels = channels;
    m_convertBits = bits;
}

void CResampler::SetMinimumFrames(std::int32_t frames) {
    QM_TRACE("Resampler");
    m_minimumFrames = frames;
}

void CResampler::Clear() {
    QM_TRACE("Resampler");
    for (int i = 0; i < 2; ++i) {
        delete[] m_work[i];
        m_work[i] = nullptr;
        m_workSize[i] = 0;
    }
    delete[] m_pending;
    m_pending = nullptr;
    m_pendingSize = 0;
    m_pendingBytes = 0;
    m_pendingFrames = 0;
}

WriteResult CResampler::Convert(const std::uint8_t* data, std::size_t frames) {
    QM_TRACE("Resampler");
    Block block{data, -1, m_input, frames};
    // One conversion step: `convert` reads the current block and writes
    // `bytes` into a work buffer, which then holds the current block.
    auto step = [this, &block](std::size_t bytes, std::uint8_t channels, std::uint8_t bits,
                               auto convert) {
        int index = -1;
        std::uint8_t* out = Target(block, bytes, &index);
        if (out == nullptr) {
            return false;
        }
        convert(out);
        block.data = out;
        block.buffer = index;
        block.format.channels = channels;
        block.format.bits = bits;
        return true;
    };
    const std::uint8_t bits = block.format.bits;

    // Mono first, so that the rate converter has half the work.
    if (m_output.channels == 1 && block.format.channels == 2 && (bits == 8 || bits == 16)) {
        if (!step(frames * (bits / 8u), 1, bits, [&block, frames, bits](std::uint8_t* out) {
                if (bits == 16) {
                    qm::MixToMono16(block.data, frames, out);
                } else {
                    qm::MixToMono8(block.data, frames, out);
                }
            })) {
            QM_RETURN(0, WriteResult::Refused);
        }
    }

    auto widen = [&block](std::uint8_t* out) {
        qm::Widen8To16(block.data, block.frames * block.format.channels, out);
    };
    if (block.format.rate != m_output.rate && m_step.step != 0) {
        const std::size_t current = block.frames * block.format.channels;
        if (block.format.bits == 8 && !step(current * 2, block.format.channels, 16, widen)) {
            QM_RETURN(1, WriteResult::Refused);
        }
        if (block.format.bits == 16 && !Resample(block)) {
            QM_RETURN(2, WriteResult::Refused);
        }
    }

    const std::size_t now = block.frames * block.format.channels;
    if (block.format.bits == 16 && m_output.bits == 8) {
        if (!step(now, block.format.channels, 8,
                  [&block, now](std::uint8_t* out) { qm::Narrow16To8(block.data, now, out); })) {
            QM_RETURN(3, WriteResult::Refused);
        }
    } else if (block.format.bits == 8 && m_output.bits == 16) {
        if (!step(now * 2, block.format.channels, 16, widen)) {
            QM_RETURN(4, WriteResult::Refused);
        }
    }

    const std::size_t bytesPerSample = block.format.bits / 8u;
    if (block.format.channels == 1 && m_output.channels == 2 && bytesPerSample > 0) {
        if (!step(block.frames * 2 * bytesPerSample, 2, block.format.bits,
                  [&block, bytesPerSample](std::uint8_t* out) {
                      qm::MonoToStereo(block.data, block.frames, static_cast<int>(bytesPerSample),
                                       out);
                  })) {
            QM_RETURN(5, WriteResult::Refused);
        }
    }

    if (block.frames == 0) {
        // A block too short to complete an output sample is not a failure.
        QM_RETURN(6, WriteResult::Accepted);
    }
    QM_RETURN(7, m_sink->Write(block.data, static_cast<std::int32_t>(block.frames)));
}

std::uint8_t* CResampler::Target(const Block& block, std::size_t bytes, int* index) {
    QM_TRACE("Resampler");
    const int target = block.buffer == 0 ? 1 : 0;
    *index = target;
    if (bytes > m_workSize[target]) {
        auto* grown = bytes <= kMaxBlockBytes ? new (std::nothrow) std::uint8_t[bytes] : nullptr;
        if (grown == nullptr) {
            if (Registry() != nullptr) {
                Registry()->Add(qm::err::kNoMemory, qm::mod::kResampler);
            }
            QM_RETURN(0, nullptr);
        }
        delete[] m_work[target];
        m_work[target] = grown;
        m_workSize[target] = bytes;
    }
    QM_RETURN(1, m_work[target]);
}

bool CResampler::Resample(Block& block) {
    QM_TRACE("Resampler");
    const std::size_t room = qm::MaxResampledFrames(block.frames, m_step);
    int index = -1;
    std::uint8_t* out = Target(block, room * block.format.channels * 2, &index);
    if (out == nullptr) {
        QM_RETURN(0, false);
    }
    block.frames =
        qm::Resample16(block.data, block.frames, block.format.channels, m_step, m_rateState, out);
    block.data = out;
    block.buffer = index;
    block.format.rate = m_output.rate;
    QM_RETURN(1, true);
}
