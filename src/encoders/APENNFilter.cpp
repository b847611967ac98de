#include "encoders/APENNFilter.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#define QM_APE_X86 1
#endif

namespace qm::ape {

namespace {

// Samples between two slides of the history buffers back to their start.
constexpr int kWindow = 4096;
// Every order is a multiple of 16; buffers are aligned for 32-byte loads.
constexpr std::size_t kAlign = 16; // in int16 elements

// A kernel pass adapts `coeff` by `adapt` (Direction 1 subtracts the steps,
// -1 adds them, 0 leaves the coefficients) and returns the dot product of
// the adapted coefficients with `history`, wrapped to 32 bits.
template <int Direction>
std::int32_t PlainPass(std::int16_t* coeff, const std::int16_t* history, const std::int16_t* adapt,
                       int order) {
    std::uint32_t sum = 0;
    for (int j = 0; j < order; ++j) {
        if constexpr (Direction > 0) {
            coeff[j] = static_cast<std::int16_t>(coeff[j] - adapt[j]);
        } else if constexpr (Direction < 0) {
            coeff[j] = static_cast<std::int16_t>(coeff[j] + adapt[j]);
        }
        sum += static_cast<std::uint32_t>(static_cast<std::int32_t>(coeff[j]) * history[j]);
    }
    return static_cast<std::int32_t>(sum);
}

#ifdef QM_APE_X86

// pmaddwd sums pairs of int16 products into int32 lanes; the lanes add up
// with wrap-around, which is what the decoder does too.
template <int Direction>
std::int32_t Sse2Pass(std::int16_t* coeff, const std::int16_t* history, const std::int16_t* adapt,
                      int order) {
    __m128i sum0 = _mm_setzero_si128();
    __m128i sum1 = _mm_setzero_si128();
    auto* c = reinterpret_cast<__m128i*>(coeff);
    const auto* h = reinterpret_cast<const __m128i*>(history);
    const auto* a = reinterpret_cast<const __m128i*>(adapt);
    for (int k = 0; k < order / 8; k += 2) {
        __m128i c0 = _mm_load_si128(c + k);
        __m128i c1 = _mm_load_si128(c + k + 1);
        if constexpr (Direction > 0) {
            c0 = _mm_sub_epi16(c0, _mm_loadu_si128(a + k));
            c1 = _mm_sub_epi16(c1, _mm_loadu_si128(a + k + 1));
        } else if constexpr (Direction < 0) {
            c0 = _mm_add_epi16(c0, _mm_loadu_si128(a + k));
            c1 = _mm_add_epi16(c1, _mm_loadu_si128(a + k + 1));
        }
        if constexpr (Direction != 0) {
            _mm_store_si128(c + k, c0);
            _mm_store_si128(c + k + 1, c1);
        }
        sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(c0, _mm_loadu_si128(h + k)));
        sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(c1, _mm_loadu_si128(h + k + 1)));
    }
    __m128i sum = _mm_add_epi32(sum0, sum1);
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
    return _mm_cvtsi128_si32(sum);
}

template <int Direction>
__attribute__((target("avx2"))) std::int32_t
Avx2Pass(std::int16_t* coeff, const std::int16_t* history, const std::int16_t* adapt, int order) {
    __m256i sum = _mm256_setzero_si256();
    auto* c = reinterpret_cast<__m256i*>(coeff);
    const auto* h = reinterpret_cast<const __m256i*>(history);
    const auto* a = reinterpret_cast<const __m256i*>(adapt);
    for (int k = 0; k < order / 16; ++k) {
        __m256i c0 = _mm256_load_si256(c + k);
        if constexpr (Direction > 0) {
            c0 = _mm256_sub_epi16(c0, _mm256_loadu_si256(a + k));
        } else if constexpr (Direction < 0) {
            c0 = _mm256_add_epi16(c0, _mm256_loadu_si256(a + k));
        }
        if constexpr (Direction != 0) {
            _mm256_store_si256(c + k, c0);
        }
        sum = _mm256_add_epi32(sum, _mm256_madd_epi16(c0, _mm256_loadu_si256(h + k)));
    }
    __m128i half = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0x4E));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0xB1));
    return _mm_cvtsi128_si32(half);
}

#endif

struct KernelChoice {
    NNFilter::Passes passes; // add, keep, subtract
    const char* name;
};

// Fastest first.
std::vector<KernelChoice> Available() {
    std::vector<KernelChoice> kernels;
#ifdef QM_APE_X86
    if (__builtin_cpu_supports("avx2")) {
        kernels.push_back({{Avx2Pass<-1>, Avx2Pass<0>, Avx2Pass<1>}, "avx2"});
    }
    kernels.push_back({{Sse2Pass<-1>, Sse2Pass<0>, Sse2Pass<1>}, "sse2"});
#endif
    kernels.push_back({{PlainPass<-1>, PlainPass<0>, PlainPass<1>}, "plain"});
    return kernels;
}

const std::vector<KernelChoice>& AllKernels() {
    static const std::vector<KernelChoice> kernels = Available();
    return kernels;
}

const NNFilter::Passes& FindKernel(const char* name) {
    if (name != nullptr) {
        for (const KernelChoice& choice : AllKernels()) {
            if (std::strcmp(choice.name, name) == 0) {
                return choice.passes;
            }
        }
    }
    return AllKernels().front().passes;
}

inline std::int16_t Saturate16(std::int32_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, -32768, 32767));
}

std::size_t RoundUp(int n) {
    return (static_cast<std::size_t>(n) + kAlign - 1) / kAlign * kAlign;
}

} // namespace

const char* NNFilter::BestKernel() {
    return AllKernels().front().name;
}

std::vector<const char*> NNFilter::Kernels() {
    std::vector<const char*> names;
    for (const KernelChoice& choice : AllKernels()) {
        names.push_back(choice.name);
    }
    return names;
}

NNFilter::NNFilter(int order, int fractionBits, const char* kernel)
    : m_passes(FindKernel(kernel)), m_order(order), m_shift(fractionBits),
      m_round(1 << (fractionBits - 1)), m_length(order + kWindow) {
    // Coefficients, then the history and adapt buffers, each aligned.
    const std::size_t coeffSpace = RoundUp(order);
    const std::size_t bufferSpace = RoundUp(m_length);
    const std::size_t used = coeffSpace + 2 * bufferSpace;
    m_storage = std::make_unique<std::int16_t[]>(used + kAlign);
    void* start = m_storage.get();
    std::size_t space = (used + kAlign) * sizeof(std::int16_t);
    m_coeff = static_cast<std::int16_t*>(
        std::align(kAlign * sizeof(std::int16_t), used * sizeof(std::int16_t), start, space));
    m_history = m_coeff + coeffSpace;
    m_adapt = m_history + bufferSpace;
    Reset();
}

void NNFilter::Reset() {
    std::memset(m_coeff, 0, sizeof(std::int16_t) * static_cast<std::size_t>(m_order));
    std::memset(m_history, 0, sizeof(std::int16_t) * static_cast<std::size_t>(m_length));
    std::memset(m_adapt, 0, sizeof(std::int16_t) * static_cast<std::size_t>(m_length));
    // Index 0 stays before the first window: the deferred adaptation reads
    // the window one sample back.
    m_pos = 1;
    m_average = 0;
    m_pass = kKeep;
}

void NNFilter::Slide() {
    // Keep the current window and the one element before it.
    const std::size_t keep = static_cast<std::size_t>(m_order) + 1;
    std::memmove(m_history, m_history + m_pos - 1, keep * sizeof(std::int16_t));
    std::memmove(m_adapt, m_adapt + m_pos - 1, keep * sizeof(std::int16_t));
    m_pos = 1;
}

void NNFilter::Encode(std::int32_t* data, int count) {
    const int order = m_order;
    for (int i = 0; i < count; ++i) {
        if (m_pos + order == m_length) {
            Slide();
        }
        // The previous sample's adaptation (with the window as it was then)
        // fused with this sample's dot product.
        const std::int32_t dot =
            m_passes[m_pass](m_coeff, m_history + m_pos, m_adapt + m_pos - 1, order);
        // The previous sample's decay of its recent adapt steps, deferred so
        // that the adaptation above saw them undecayed.
        std::int16_t* window = m_adapt + m_pos;
        window[order - 2] = static_cast<std::int16_t>(window[order - 2] >> 1);
        window[order - 3] = static_cast<std::int16_t>(window[order - 3] >> 1);
        window[order - 9] = static_cast<std::int16_t>(window[order - 9] >> 1);

        const std::int32_t x = data[i];
        const auto prediction =
            static_cast<std::int32_t>((static_cast<std::int64_t>(dot) + m_round) >> m_shift);
        const auto out = static_cast<std::int32_t>(static_cast<std::uint32_t>(x) -
                                                   static_cast<std::uint32_t>(prediction));
        data[i] = out;
        m_pass = out > 0 ? kSubtract : (out < 0 ? kAdd : kKeep);

        // Push the input, saturated, and its adaptation step.
        m_history[m_pos + order] = Saturate16(x);
        const std::uint32_t magnitude =
            x < 0 ? 0u - static_cast<std::uint32_t>(x) : static_cast<std::uint32_t>(x);
        std::int16_t step = 0;
        if (magnitude != 0) {
            if (magnitude > static_cast<std::uint64_t>(m_average) * 3) {
                step = 32;
            } else if (magnitude > m_average + m_average / 3) {
                step = 16;
            } else {
                step = 8;
            }
            if (x > 0) {
                step = static_cast<std::int16_t>(-step);
            }
        }
        m_adapt[m_pos + order] = step;
        m_average +=
            static_cast<std::uint32_t>(static_cast<std::int32_t>(magnitude - m_average) / 16);
        ++m_pos;
    }
}

} // namespace qm::ape
