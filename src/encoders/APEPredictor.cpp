#include "encoders/APEPredictor.h"

namespace qm::ape {

namespace {

constexpr std::int32_t kInitialCoeffA[4] = {360, 317, -109, 98};

inline std::int32_t Sign(std::int32_t v) {
    return (v > 0) - (v < 0);
}

// The fixed first-order filter: v - 31/32 of the previous value.
inline std::int32_t StageOne(std::int32_t value, std::int32_t& last) {
    const std::int32_t out = value - ((31 * last) >> 5);
    last = value;
    return out;
}

} // namespace

void Predictor::Reset() {
    m_lastValue = 0;
    m_lastOther = 0;
    for (int i = 0; i < 4; ++i) {
        m_historyA[i] = 0;
        m_historyB[i] = 0;
        m_coeffA[i] = kInitialCoeffA[i];
    }
    for (int i = 0; i < 5; ++i) {
        m_coeffB[i] = 0;
    }
}

namespace {

// The value itself and its last differences, newest first: the inputs of
// the adaptive stage. `history` holds count - 1 values.
template <int Count>
void Deltas(std::int32_t newest, const std::int32_t* history, std::int32_t* deltas) {
    deltas[0] = newest;
    deltas[1] = newest - history[0];
    for (int i = 2; i < Count; ++i) {
        deltas[i] = history[i - 2] - history[i - 1];
    }
}

// Sign-sign adaptation toward a smaller residual.
template <int Count>
void Adapt(std::int32_t* coeff, const std::int32_t* deltas, std::int32_t residualSign) {
    for (int i = 0; i < Count; ++i) {
        coeff[i] += Sign(deltas[i]) * residualSign;
    }
}

template <int Count> void Push(std::int32_t* history, std::int32_t value) {
    for (int i = Count - 1; i > 0; --i) {
        history[i] = history[i - 1];
    }
    history[0] = value;
}

} // namespace

std::int32_t Predictor::Encode(std::int32_t value, std::int32_t other) {
    const std::int32_t a = StageOne(value, m_lastValue);
    const std::int32_t b = StageOne(other, m_lastOther);
    // A from the previous sample back, B from the current one.
    std::int32_t dA[4];
    Deltas<4>(m_historyA[0], m_historyA + 1, dA);
    std::int32_t dB[5];
    Deltas<5>(b, m_historyB, dB);
    std::int64_t predictionA = 0;
    for (int i = 0; i < 4; ++i) {
        predictionA += static_cast<std::int64_t>(dA[i]) * m_coeffA[i];
    }
    std::int64_t predictionB = 0;
    for (int i = 0; i < 5; ++i) {
        predictionB += static_cast<std::int64_t>(dB[i]) * m_coeffB[i];
    }
    const auto residual = static_cast<std::int32_t>(a - ((predictionA + (predictionB >> 1)) >> 10));

    const std::int32_t s = Sign(residual);
    Adapt<4>(m_coeffA, dA, s);
    Adapt<5>(m_coeffB, dB, s);
    Push<4>(m_historyA, a);
    Push<4>(m_historyB, b);
    return residual;
}

std::int32_t Predictor::EncodeMono(std::int32_t value) {
    const std::int32_t a = StageOne(value, m_lastValue);
    std::int32_t dA[4];
    Deltas<4>(m_historyA[0], m_historyA + 1, dA);
    // The decoder keeps this sum in 32 bits; wrap it the same way.
    std::uint32_t prediction = 0;
    for (int i = 0; i < 4; ++i) {
        prediction += static_cast<std::uint32_t>(dA[i]) * static_cast<std::uint32_t>(m_coeffA[i]);
    }
    const auto residual = a - (static_cast<std::int32_t>(prediction) >> 10);

    Adapt<4>(m_coeffA, dA, Sign(residual));
    Push<4>(m_historyA, a);
    return residual;
}

void EncodeStereoRun(Predictor& predictor, const std::int32_t* values, const std::int32_t* others,
                     std::int32_t* residuals, int count) {
    for (int i = 0; i < count; ++i) {
        residuals[i] = predictor.Encode(values[i], others[i]);
    }
}

void EncodeMonoRun(Predictor& predictor, const std::int32_t* values, std::int32_t* residuals,
                   int count) {
    for (int i = 0; i < count; ++i) {
        residuals[i] = predictor.EncodeMono(values[i]);
    }
}

} // namespace qm::ape
