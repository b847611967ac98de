// The filter stage that brings a whole track to a target peak level. The
// scale depends on the loudest part of the track, so the sink face keeps
// every block in memory; when the upstream stage closes it, the source face
// measures, rescales in place and feeds the blocks to the next sink.
#pragma once

#include <cstdint>
#include <memory>

#include "pipeline/AudioBuffer.h"
#include "pipeline/FilterStage.h"

class CNormalizer : public CFilterStage {
public:
    CNormalizer();
    ~CNormalizer() override;

    // Percentages are of full scale. With onlyIfLowerOrHigher, a track whose
    // level already lies within minPeak..maxPeak is left as it is. With
    // useWindow, the level is the loudest moving average over windowSize
    // samples instead of the loudest single sample.
    void SetParameters(bool enabled, bool onlyIfLowerOrHigher, int targetPeak, int maxPeak,
                       int minPeak, bool useWindow, int windowSize);

    // Source face (the terminate event, registry and finish event are the
    // filter stage's).
    void InitProgress(CProgress* progress) override;
    // Normalizes, delivers every block and closes the next sink: 1. Stopped
    // or failed: 0 (the next sink closed with false).
    std::int32_t Start() override;
    // Frees the blocks; with notify, files "cancelled" and closes the next
    // sink with false.
    void Stop(bool notify) override;
    bool Open(const char* fileName, CEncoder* sink) override;
    using CEncoder::Open;

    // Sink face.
    void InitProgress(CProgress* progress, bool addProcess) override;
    // Frees what a previous stream left and passes the format on; the next
    // sink's refusal is passed back.
    std::int32_t SetInputProps(std::uint32_t sampleRate, std::uint8_t channels,
                               std::int32_t bitsPerSample) override;
    // Keeps a copy of the block: 0, or -1 when memory runs out (error 2).
    WriteResult Write(const void* data, std::int32_t frames) override;
    // complete: runs Start. Otherwise closes the next sink with false.
    void Close(bool complete) override;

    void Clear();

    // The loudest moving average over `capacity` sample magnitudes, taken
    // over full windows only.
    struct MovingAverage {
        std::unique_ptr<std::int64_t[]> ring;
        std::int32_t capacity = 0;
        std::int32_t count = 0;
        std::int32_t position = 0;
        std::int64_t sum = 0;
        std::int64_t largest = 0;
    };

private:
    int NormalizeBuffer();
    int NormalizeBuffer16bit();
    int NormalizeBuffer8bit();
    // Both widths share the passes. Pass 1 and the decision: the level to
    // scale from, 0 when the track stays as it is, -1 when stopped.
    template <typename Measure> std::int32_t MeasureLevel(Measure&& measure, int fullScale);
    // Pass 2, in place: false when stopped.
    template <typename Rescale> bool RescaleBlocks(Rescale&& rescale);
    // Walks every block in stretches of at most 50000 bytes, looking at the
    // terminate event before each, and moves the progress on after each
    // block by its share of `span` percent.
    template <typename Work> bool WalkBlocks(int progressBase, Work&& work);
    void SetPercent(std::int64_t done, std::int64_t total, int base, int span);
    void Register(CProgress* progress, bool addProcess);
    MovingAverage* ActiveWindow();
    std::int64_t TotalBytes() const;

    bool m_enabled = true;
    bool m_onlyIfLowerOrHigher = false;
    int m_targetPeak = 96;
    int m_maxPeak = 98;
    int m_minPeak = 91;
    bool m_useWindow = false;
    int m_windowSize = 1000;

    std::uint32_t m_rate = 0;
    std::uint8_t m_channels = 0;
    std::int32_t m_bits = 0;

    CAudioBuffer* m_buffer = nullptr;
    MovingAverage m_window;
};
