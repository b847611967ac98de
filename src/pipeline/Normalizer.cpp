#include "pipeline/Normalizer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <numeric>

#include "core/Error.h"
#include "core/Progress.h"
#include "core/Trace.h"

namespace {

constexpr std::int32_t kWeight = 200;
constexpr const char* kProcessName = "Normalizing";
// How often (in bytes of a block) the passes look at the terminate event.
constexpr std::int32_t kPollBytes = 50000;

inline std::int32_t Load16(const std::uint8_t* at) {
    std::int16_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

inline void AddToWindow(CNormalizer::MovingAverage& window, std::int64_t value) {
    const std::int64_t magnitude = value < 0 ? -value : value;
    if (window.count < window.capacity) {
        window.ring[static_cast<std::size_t>(window.position)] = magnitude;
        window.sum += magnitude;
        ++window.count;
    } else {
        const std::int64_t average = window.sum / window.count;
        if (average > window.largest) {
            window.largest = average;
        }
        std::int64_t& oldest = window.ring[static_cast<std::size_t>(window.position)];
        window.sum += magnitude - oldest;
        oldest = magnitude;
    }
    window.position = window.position + 1 == window.capacity ? 0 : window.position + 1;
}

void MeasurePeak16(const std::uint8_t* data, std::size_t samples, std::int32_t& peak,
                   CNormalizer::MovingAverage* window) {
    std::int32_t largest = peak;
    if (window == nullptr) {
        for (std::size_t i = 0; i < samples; ++i) {
            const std::int32_t s = Load16(data + 2 * i);
            largest = std::max(largest, s < 0 ? -s : s);
        }
    } else {
        for (std::size_t i = 0; i < samples; ++i) {
            const std::int32_t s = Load16(data + 2 * i);
            largest = std::max(largest, s < 0 ? -s : s);
            AddToWindow(*window, s);
        }
    }
    peak = largest;
}

void MeasurePeak8(const std::uint8_t* data, std::size_t samples, std::int32_t& peak,
                  CNormalizer::MovingAverage* window) {
    std::int32_t largest = peak;
    for (std::size_t i = 0; i < samples; ++i) {
        const std::int32_t s = static_cast<std::int8_t>(data[i]);
        largest = std::max(largest, s < 0 ? -s : s);
        if (window != nullptr) {
            AddToWindow(*window, s);
        }
    }
    peak = largest;
}

// s * numerator / denominator, truncated toward zero and kept within
// -32767..32767 (never -32768, so that loud passages stay symmetric).
void Rescale16(std::uint8_t* data, std::size_t samples, std::int64_t numerator,
               std::int64_t denominator) {
    for (std::size_t i = 0; i < samples; ++i) {
        const std::int64_t scaled = Load16(data + 2 * i) * numerator / denominator;
        const auto value =
            static_cast<std::int16_t>(std::clamp<std::int64_t>(scaled, -32767, 32767));
        std::memcpy(data + 2 * i, &value, sizeof value);
    }
}

// 8-bit samples are limited the same way, to -127..127: a product beyond the
// byte range (possible with the window's average as the peak) would
// otherwise wrap around into a full-scale click of the opposite sign.
void Rescale8(std::uint8_t* data, std::size_t samples, double factor) {
    for (std::size_t i = 0; i < samples; ++i) {
        const double scaled = static_cast<std::int8_t>(data[i]) * factor;
        const auto value = static_cast<std::int32_t>(std::clamp(scaled, -127.0, 127.0));
        data[i] = static_cast<std::uint8_t>(static_cast<std::int8_t>(value));
    }
}

} // namespace

CNormalizer::CNormalizer() : CFilterStage("Normalizer") {
    QM_TRACE("CNormalizer");
    CDecoder::m_progressWeight = kWeight;
    CEncoder::m_progressWeight = kWeight;
    m_window.ring.reset(new (std::nothrow) std::int64_t[1]);
    m_window.capacity = m_window.ring ? 1 : 0;
}

CNormalizer::~CNormalizer() {
    QM_TRACE("Normalizer");
    Clear();
}

void CNormalizer::SetParameters(bool enabled, bool onlyIfLowerOrHigher, int targetPeak, int maxPeak,
                                int minPeak, bool useWindow, int windowSize) {
    QM_TRACE("Normalizer");
    m_enabled = enabled;
    m_onlyIfLowerOrHigher = onlyIfLowerOrHigher;
    m_targetPeak = targetPeak;
    m_maxPeak = maxPeak;
    m_minPeak = minPeak;
    m_useWindow = useWindow;
    m_windowSize = windowSize;
}

void CNormalizer::InitProgress(CProgress* progress) {
    QM_TRACE("Normalizer");
    Register(progress, false);
}

void CNormalizer::InitProgress(CProgress* progress, bool addProcess) {
    QM_TRACE("Normalizer");
    Register(progress, addProcess);
}

void CNormalizer::Register(CProgress* progress, bool addProcess) {
    QM_TRACE("Normalizer");
    KeepTracker(progress);
    if (progress != nullptr && (addProcess || m_enabled)) {
        progress->Add(kWeight, kProcessName);
    }
    // The next sink works after this stage has finished, so it always gets
    // a process of its own.
    if (m_sink != nullptr) {
        m_sink->InitProgress(progress, true);
    }
}

std::int32_t CNormalizer::Start() {
    QM_TRACE("Normalizer");
    if (m_terminateEvent) {
        m_terminateEvent->Reset();
    }
    CProgress* progress = Tracker();
    if (progress != nullptr) {
        progress->NextProcess();
    }
    if (m_enabled) {
        if (NormalizeBuffer() == 0) {
            QM_RETURN(0, 0);
        }
        if (progress != nullptr) {
            progress->NextProcess();
        }
    }
    if (m_sink == nullptr) {
        Clear();
        QM_RETURN(1, 0);
    }
    const std::int64_t total = TotalBytes();
    m_sink->SetStreaming(1);
    if (CDecoder::m_finishEvent) {
        m_sink->SetFinishEvent(CDecoder::m_finishEvent);
    }
    const std::int32_t channels = m_channels == 1 ? 1 : 2;
    const std::int32_t bytesPerSample = m_bits == 16 ? 2 : m_bits == 24 ? 3 : m_bits == 32 ? 4 : 1;
    std::int64_t done = 0;
    for (CAudioBuffer* node = m_buffer; node != nullptr; node = node->next) {
        if (IsTerminated()) {
            Stop(true);
            QM_RETURN(2, 0);
        }
        if (!qm::WaitBeforeBlock(m_terminateEvent, m_sink->GetReadyEvent(), nullptr)) {
            Stop(true);
            QM_RETURN(3, 0);
        }
        const WriteResult result =
            m_sink->Write(node->data, node->length / (channels * bytesPerSample));
        // A sink that refuses a block ends the delivery even when it filed
        // nothing: closing it as complete would report a short file as whole.
        if (result == WriteResult::Refused || IsAnyError()) {
            Stop(false);
            m_sink->Close(false);
            QM_RETURN(4, 0);
        }
        done += node->length;
        SetPercent(done, total, 0, 100);
    }
    if (progress != nullptr) {
        progress->SetPercent(100);
    }
    m_sink->Close(true);
    QM_RETURN(5, 1);
}

void CNormalizer::Stop(bool notify) {
    QM_TRACE("Normalizer");
    Clear();
    if (notify) {
        if (Registry() != nullptr) {
            Registry()->Add(qm::err::kCancelled, qm::mod::kApplication);
        }
        if (m_sink != nullptr) {
            m_sink->Close(false);
        }
    }
}

bool CNormalizer::Open(const char* /*fileName*/, CEncoder* /*sink*/) {
    QM_TRACE("Normalizer");
    return true;
}

std::int32_t CNormalizer::SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                                        std::int32_t bitsPerSample) {
    QM_TRACE("Normalizer");
    Clear();
    m_rate = sampleRate;
    m_channels = channels;
    m_bits = bitsPerSample;
    if (m_sink != nullptr) {
        m_sink->SetStreaming(1);
        const std::int32_t result = m_sink->SetInputProps(sampleRate, channels, bitsPerSample);
        if (result < 0) {
            QM_RETURN(0, result);
        }
    }
    QM_RETURN(1, 0);
}

WriteResult CNormalizer::Write(const void* data, std::int32_t frames) {
    QM_TRACE("Normalizer");
    if (data == nullptr || frames <= 0) {
        QM_RETURN(0, WriteResult::Accepted);
    }
    const std::int64_t channels = m_channels == 1 ? 1 : 2;
    const std::int64_t bytes = channels * (std::int64_t{frames} * m_bits / 8);
    bool stored = false;
    if (bytes <= std::numeric_limits<std::int32_t>::max()) {
        const auto length = static_cast<std::int32_t>(bytes);
        if (m_buffer == nullptr) {
            auto* head = new (std::nothrow) CAudioBuffer;
            if (head != nullptr && head->Set(data, length)) {
                m_buffer = head;
                stored = true;
            } else {
                delete head;
            }
        } else {
            stored = m_buffer->Add(data, length);
        }
    }
    if (!stored) {
        // Going on would deliver the track with a hole in it.
        if (Registry() != nullptr) {
            Registry()->Add(qm::err::kNoMemory, qm::mod::kApplication);
        }
        QM_RETURN(1, WriteResult::Refused);
    }
    QM_RETURN(2, WriteResult::Accepted);
}

void CNormalizer::Close(bool complete) {
    QM_TRACE("Normalizer");
    if (complete) {
        Start();
    } else if (m_sink != nullptr) {
        m_sink->Close(false);
    }
    Clear();
}

void CNormalizer::Clear() {
    QM_TRACE("Normalizer");
    delete m_buffer;
    m_buffer = nullptr;
}

int CNormalizer::NormalizeBuffer() {
    QM_TRACE("Normalizer");
    if (m_windowSize <= 0) {
        m_useWindow = false;
    }
    if (m_useWindow) {
        if (m_window.capacity != m_windowSize) {
            // Without memory for the new ring the old one serves.
            auto* ring = new (std::nothrow) std::int64_t[static_cast<std::size_t>(m_windowSize)];
            if (ring != nullptr) {
                m_window.ring.reset(ring);
                m_window.capacity = m_windowSize;
            }
        }
        m_window.count = 0;
        m_window.position = 0;
        m_window.sum = 0;
        m_window.largest = 0;
    }
    if (m_bits == 16) {
        QM_RETURN(0, NormalizeBuffer16bit());
    }
    if (m_bits == 8) {
        QM_RETURN(1, NormalizeBuffer8bit());
    }
    QM_RETURN(2, 1);
}

int CNormalizer::NormalizeBuffer16bit() {
    QM_TRACE("Normalizer");
    MovingAverage* window = ActiveWindow();
    const std::int32_t peak = MeasureLevel(
        [window](std::uint8_t* data, std::int32_t bytes, std::int32_t& largest) {
            MeasurePeak16(data, static_cast<std::size_t>(bytes) / 2, largest, window);
        },
        32767);
    if (peak <= 0) {
        QM_RETURN(0, peak == 0 ? 1 : 0);
    }
    // The scale in hundredths, as a reduced fraction for integer arithmetic.
    const std::int64_t scale = std::int64_t{m_targetPeak} * 32767 / peak;
    const std::int64_t divisor = std::gcd(scale, std::int64_t{100});
    const std::int64_t numerator = scale / divisor;
    const std::int64_t denominator = 100 / divisor;
    const bool done =
        RescaleBlocks([numerator, denominator](std::uint8_t* data, std::int32_t bytes) {
            Rescale16(data, static_cast<std::size_t>(bytes) / 2, numerator, denominator);
        });
    QM_RETURN(1, done ? 1 : 0);
}

int CNormalizer::NormalizeBuffer8bit() {
    QM_TRACE("Normalizer");
    MovingAverage* window = ActiveWindow();
    const std::int32_t peak = MeasureLevel(
        [window](std::uint8_t* data, std::int32_t bytes, std::int32_t& largest) {
            MeasurePeak8(data, static_cast<std::size_t>(bytes), largest, window);
        },
        127);
    if (peak <= 0) {
        QM_RETURN(0, peak == 0 ? 1 : 0);
    }
    const double factor = m_targetPeak * 127.0 / 100.0 / peak;
    const bool done = RescaleBlocks([factor](std::uint8_t* data, std::int32_t bytes) {
        Rescale8(data, static_cast<std::size_t>(bytes), factor);
    });
    QM_RETURN(1, done ? 1 : 0);
}

template <typename Measure>
std::int32_t CNormalizer::MeasureLevel(Measure&& measure, int fullScale) {
    QM_TRACE("Normalizer");
    if (TotalBytes() == 0) {
        QM_RETURN(0, 0);
    }
    std::int32_t peak = 0;
    if (!WalkBlocks(0, [&measure, &peak](std::uint8_t* data, std::int32_t bytes) {
            measure(data, bytes, peak);
        })) {
        QM_RETURN(1, -1);
    }
    if (ActiveWindow() != nullptr) {
        peak = static_cast<std::int32_t>(std::min<std::int64_t>(m_window.largest, fullScale + 1));
    }
    // A silent track (or a window that never filled) has no level to scale
    // from; it passes unchanged.
    if (peak == 0) {
        QM_RETURN(2, 0);
    }
    if (m_onlyIfLowerOrHigher) {
        const std::int32_t level = peak * 100 / fullScale;
        if (level <= m_maxPeak && level >= m_minPeak) {
            QM_RETURN(3, 0);
        }
    }
    QM_RETURN(4, peak);
}

template <typename Rescale> bool CNormalizer::RescaleBlocks(Rescale&& rescale) {
    QM_TRACE("Normalizer");
    if (!WalkBlocks(50, rescale)) {
        QM_RETURN(0, false);
    }
    if (Tracker() != nullptr) {
        Tracker()->SetPercent(100);
    }
    QM_RETURN(1, true);
}

template <typename Work> bool CNormalizer::WalkBlocks(int progressBase, Work&& work) {
    QM_TRACE("Normalizer");
    const std::int64_t total = TotalBytes();
    std::int64_t done = 0;
    for (CAudioBuffer* node = m_buffer; node != nullptr; node = node->next) {
        for (std::int32_t offset = 0; offset < node->length; offset += kPollBytes) {
            if (IsTerminated()) {
                Stop(true);
                QM_RETURN(0, false);
            }
            work(node->data + offset, std::min(kPollBytes, node->length - offset));
        }
        done += node->length;
        // Each pass covers half of the normalizing process.
        SetPercent(done, total, progressBase, 50);
    }
    QM_RETURN(1, true);
}

void CNormalizer::SetPercent(std::int64_t done, std::int64_t total, int base, int span) {
    QM_TRACE("Normalizer");
    if (Tracker() == nullptr || total <= 0) {
        QM_RETURN(0);
    }
    const std::int64_t percent = base + done * span / total;
    Tracker()->SetPercent(static_cast<std::uint8_t>(std::min<std::int64_t>(percent, 100)));
    QM_EXIT(1);
}

CNormalizer::MovingAverage* CNormalizer::ActiveWindow() {
    QM_TRACE("Normalizer");
    return m_useWindow && m_window.capacity > 0 ? &m_window : nullptr;
}

std::int64_t CNormalizer::TotalBytes() const {
    QM_TRACE("Normalizer");
    std::int64_t total = 0;
    for (const CAudioBuffer* node = m_buffer; node != nullptr; node = node->next) {
        total += node->length;
    }
    return total;
}
