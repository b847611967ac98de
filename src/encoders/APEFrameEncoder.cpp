#include "encoders/APEFrameEncoder.h"

#include <algorithm>

extern "C" {
#include <libavutil/crc.h>
}

namespace qm::ape {

namespace {

// Samples run through each stage at a time: small enough for the work
// arrays and filter state to stay in cache.
constexpr int kRun = 4096;

struct FilterSpec {
    int order;
    int fractionBits;
};

// The NN filters of each level, largest first.
std::vector<FilterSpec> FiltersOfLevel(int level) {
    switch (level) {
    case 2000:
        return {{16, 11}};
    case 3000:
        return {{64, 11}};
    case 4000:
        return {{256, 13}, {32, 10}};
    case 5000:
        return {{1280, 15}, {256, 13}, {16, 11}};
    default:
        return {};
    }
}

inline std::int32_t Sample(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

void PutBigEndian32(std::vector<std::uint8_t>* out, std::uint32_t value) {
    out->push_back(static_cast<std::uint8_t>(value >> 24));
    out->push_back(static_cast<std::uint8_t>(value >> 16));
    out->push_back(static_cast<std::uint8_t>(value >> 8));
    out->push_back(static_cast<std::uint8_t>(value));
}

void RunFilters(std::vector<std::unique_ptr<NNFilter>>& filters, std::int32_t* data, int count) {
    for (auto& filter : filters) {
        filter->Encode(data, count);
    }
}

} // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t bytes) {
    static const AVCRC* table = av_crc_get_table(AV_CRC_32_IEEE_LE);
    return av_crc(table, 0xFFFFFFFFu, data, bytes) ^ 0xFFFFFFFFu;
}

std::uint32_t FrameFlags(const std::uint8_t* pcm, int blocks, int channels) {
    if (channels == 1) {
        for (int i = 0; i < blocks * 2; ++i) {
            if (pcm[i] != 0) {
                return 0;
            }
        }
        return kFlagSecondSilent;
    }
    bool firstSilent = true;
    bool secondSilent = true;
    bool identical = true;
    for (int i = 0; i < blocks; ++i) {
        const std::uint8_t* p = pcm + 4 * static_cast<std::size_t>(i);
        const bool first = (p[0] | p[1]) == 0;
        const bool second = (p[2] | p[3]) == 0;
        firstSilent = firstSilent && first;
        secondSilent = secondSilent && second;
        identical = identical && p[0] == p[2] && p[1] == p[3];
    }
    std::uint32_t flags = 0;
    if (secondSilent) {
        flags |= kFlagSecondSilent;
    }
    if (firstSilent) {
        flags |= kFlagFirstSilent;
    }
    if (identical) {
        flags |= kFlagPseudoStereo;
    }
    return flags;
}

FrameEncoder::FrameEncoder(int channels, int level)
    : m_channels(channels), m_x(kRun), m_y(kRun), m_previousX(kRun), m_residualX(kRun),
      m_residualY(kRun) {
    for (const FilterSpec& spec : FiltersOfLevel(level)) {
        m_filtersY.push_back(std::make_unique<NNFilter>(spec.order, spec.fractionBits));
        if (channels == 2) {
            m_filtersX.push_back(std::make_unique<NNFilter>(spec.order, spec.fractionBits));
        }
    }
}

void FrameEncoder::Reset() {
    m_stateY = {};
    m_stateX = {};
    m_predictorY.Reset();
    m_predictorX.Reset();
    for (auto& filter : m_filtersY) {
        filter->Reset();
    }
    for (auto& filter : m_filtersX) {
        filter->Reset();
    }
}

void FrameEncoder::Encode(const std::uint8_t* pcm, int blocks, std::vector<std::uint8_t>* out) {
    const std::size_t bytes = static_cast<std::size_t>(blocks) * 2 * m_channels;
    const std::uint32_t flags = FrameFlags(pcm, blocks, m_channels);
    PutBigEndian32(out, (Crc32(pcm, bytes) >> 1) | (flags != 0 ? 0x80000000u : 0u));
    if (flags != 0) {
        PutBigEndian32(out, flags);
    }

    Reset();
    m_coder.Start(out);
    if (m_channels == 1) {
        if ((flags & kFlagSecondSilent) == 0) {
            EncodeMono(pcm, blocks, 2);
        }
    } else if ((flags & kFlagPseudoStereo) != 0) {
        // Identical channels: only X (= channel 0, since Y is 0) is coded,
        // and nothing at all when both are silent.
        if ((flags & (kFlagFirstSilent | kFlagSecondSilent)) == 0) {
            EncodeMono(pcm, blocks, 4);
        }
    } else {
        EncodeStereo(pcm, blocks);
    }
    m_coder.Flush();
}

void FrameEncoder::EncodeMono(const std::uint8_t* pcm, int blocks, int stride) {
    for (int start = 0; start < blocks; start += kRun) {
        const int count = std::min(kRun, blocks - start);
        const std::uint8_t* p = pcm + static_cast<std::size_t>(start) * stride;
        for (int i = 0; i < count; ++i) {
            m_x[i] = Sample(p + static_cast<std::size_t>(i) * stride);
        }
        EncodeMonoRun(m_predictorY, m_x.data(), m_residualY.data(), count);
        RunFilters(m_filtersY, m_residualY.data(), count);
        for (int i = 0; i < count; ++i) {
            EncodeResidual(m_coder, m_stateY, m_residualY[i]);
        }
    }
}

void FrameEncoder::EncodeStereo(const std::uint8_t* pcm, int blocks) {
    std::int32_t lastX = 0;
    for (int start = 0; start < blocks; start += kRun) {
        const int count = std::min(kRun, blocks - start);
        const std::uint8_t* p = pcm + static_cast<std::size_t>(start) * 4;
        for (int i = 0; i < count; ++i) {
            const std::uint8_t* block = p + 4 * static_cast<std::size_t>(i);
            const std::int32_t first = Sample(block);
            const std::int32_t second = Sample(block + 2);
            const std::int32_t y = second - first;
            // '/' truncates toward zero, as the decoder's inverse expects.
            const std::int32_t x = first + y / 2;
            m_y[i] = y;
            m_x[i] = x;
            m_previousX[i] = lastX;
            lastX = x;
        }
        // Y is predicted with the previous X, X with the current Y.
        EncodeStereoRun(m_predictorY, m_y.data(), m_previousX.data(), m_residualY.data(), count);
        EncodeStereoRun(m_predictorX, m_x.data(), m_y.data(), m_residualX.data(), count);
        RunFilters(m_filtersY, m_residualY.data(), count);
        RunFilters(m_filtersX, m_residualX.data(), count);
        for (int i = 0; i < count; ++i) {
            EncodeResidual(m_coder, m_stateY, m_residualY[i]);
            EncodeResidual(m_coder, m_stateX, m_residualX[i]);
        }
    }
}

} // namespace qm::ape
