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
constexpr int kAlign = 16; // in int16 elements

// Adapts `coeff` by `adapt` (subtracted for direction > 0, added for < 0,
// left for 0) and returns the dot product of the adapted coefficients with
// `history`, wrapped to 32 bits.
using Kernel = std::int32_t (*)(std::int16_t* coeff, const std::int16_t* history,
                                const std::int16_t* adapt, int order, int direction);

std::int32_t KernelPlain(std::int16_t* coeff, const std::int16_t* history,
                         const std::int16_t* adapt, int order, int direction) {
    if (direction > 0) {
        for (int j = 0; j < order; ++j) {
            coeff[j] = static_cast<std::int16_t>(coeff[j] - adapt[j]);
        }
    } else if (direction < 0) {
        for (int j = 0; j < order; ++j) {
            coeff[j] = static_cast<std::int16_t>(coeff[j] + adapt[j]);
        }
    }
    std::uint32_t sum = 0;
    for (int j = 0; j < order; ++j) {
        sum += static_cast<std::uint32_t>(static_cast<std::int32_t>(coeff[j]) * history[j]);
    }
    return static_cast<std::int32_t>(sum);
}

#ifdef QM_APE_X86

std::int32_t KernelSse2(std::int16_t* coeff, const std::int16_t* history, const std::int16_t* adapt,
                        int order, int direction) {
    __m128i sum0 = _mm_setzero_si128();
    __m128i sum1 = _mm_setzero_si128();
    auto* c = reinterpret_cast<__m128i*>(coeff);
    const auto* h = reinterpret_cast<const __m128i*>(history);
    const auto* a = reinterpret_cast<const __m128i*>(adapt);
    const int steps = order / 8;
    if (direction > 0) {
        for (int k = 0; k < steps; k += 2) {
            const __m128i c0 = _mm_sub_epi16(_mm_load_si128(c + k), _mm_loadu_si128(a + k));
            const __m128i c1 = _mm_sub_epi16(_mm_load_si128(c + k + 1), _mm_loadu_si128(a + k + 1));
            _mm_store_si128(c + k, c0);
            _mm_store_si128(c + k + 1, c1);
            sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(c0, _mm_loadu_si128(h + k)));
            sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(c1, _mm_loadu_si128(h + k + 1)));
        }
    } else if (direction < 0) {
        for (int k = 0; k < steps; k += 2) {
            const __m128i c0 = _mm_add_epi16(_mm_load_si128(c + k), _mm_loadu_si128(a + k));
            const __m128i c1 = _mm_add_epi16(_mm_load_si128(c + k + 1), _mm_loadu_si128(a + k + 1));
            _mm_store_si128(c + k, c0);
            _mm_store_si128(c + k + 1, c1);
            sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(c0, _mm_loadu_si128(h + k)));
            sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(c1, _mm_loadu_si128(h + k + 1)));
        }
    } else {
        for (int k = 0; k < steps; k += 2) {
            sum0 =
                _mm_add_epi32(sum0, _mm_madd_epi16(_mm_load_si128(c + k), _mm_loadu_si128(h + k)));
            sum1 = _mm_add_epi32(
                sum1, _mm_madd_epi16(_mm_load_si128(c + k + 1), _mm_loadu_si128(h + k + 1)));
        }
    }
    __m128i sum = _mm_add_epi32(sum0, sum1);
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
    return _mm_cvtsi128_si32(sum);
}

__attribute__((target("avx2"))) std::int32_t KernelAvx2(std::int16_t* coeff,
                                                        const std::int16_t* history,
                                                        const std::int16_t* adapt, int order,
                                                        int direction) {
    __m256i sum = _mm256_setzero_si256();
    auto* c = reinterpret_cast<__m256i*>(coeff);
    const auto* h = reinterpret_cast<const __m256i*>(history);
    const auto* a = reinterpret_cast<const __m256i*>(adapt);
    const int steps = order / 16;
    if (direction > 0) {
        for (int k = 0; k < steps; ++k) {
            const __m256i c0 =
                _mm256_sub_epi16(_mm256_load_si256(c + k), _mm256_loadu_si256(a + k));
            _mm256_store_si256(c + k, c0);
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(c0, _mm256_loadu_si256(h + k)));
        }
    } else if (direction < 0) {
        for (int k = 0; k < steps; ++k) {
            const __m256i c0 =
                _mm256_add_epi16(_mm256_load_si256(c + k), _mm256_loadu_si256(a + k));
            _mm256_store_si256(c + k, c0);
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(c0, _mm256_loadu_si256(h + k)));
        }
    } else {
        for (int k = 0; k < steps; ++k) {
            sum = _mm256_add_epi32(
                sum, _mm256_madd_epi16(_mm256_load_si256(c + k), _mm256_loadu_si256(h + k)));
        }
    }
    __m128i half = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0x4E));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0xB1));
    return _mm_cvtsi128_si32(half);
}

#endif

struct KernelChoice {
    Kernel kernel;
    const char* name;
};

// Fastest first.
std::vector<KernelChoice> Available() {
    std::vector<KernelChoice> kernels;
#ifdef QM_APE_X86
    if (__builtin_cpu_supports("avx2")) {
        kernels.push_back({KernelAvx2, "avx2"});
    }
    kernels.push_back({KernelSse2, "sse2"});
#endif
    kernels.push_back({KernelPlain, "plain"});
    return kernels;
}

const std::vector<KernelChoice>& AllKernels() {
    static const std::vector<KernelChoice> kernels = Available();
    return kernels;
}

Kernel FindKernel(const char* name) {
    if (name != nullptr) {
        for (const KernelChoice& choice : AllKernels()) {
            if (std::strcmp(choice.name, name) == 0) {
                return choice.kernel;
            }
        }
    }
    return AllKernels().front().kernel;
}

inline std::int16_t Saturate16(std::int32_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, -32768, 32767));
}

std::int16_t* AlignUp(std::int16_t* p) {
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t bytes = kAlign * sizeof(std::int16_t);
    return reinterpret_cast<std::int16_t*>((address + bytes - 1) / bytes * bytes);
}

int RoundUp(int n) {
    return (n + kAlign - 1) / kAlign * kAlign;
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
    : m_kernel(FindKernel(kernel)), m_order(order), m_shift(fractionBits),
      m_round(1 << (fractionBits - 1)), m_length(order + kWindow) {
    // Coefficients, then the history and adapt buffers, each aligned.
    const int coeffSpace = RoundUp(order);
    const int bufferSpace = RoundUp(m_length);
    const std::size_t total = static_cast<std::size_t>(coeffSpace + 2 * bufferSpace + kAlign);
    m_storage = std::make_unique<std::int16_t[]>(total);
    m_coeff = AlignUp(m_storage.get());
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
    m_direction = 0;
}

void NNFilter::Slide() {
    // Keep the current window and the one element before it.
    const std::size_t keep = static_cast<std::size_t>(m_order) + 1;
    std::memmove(m_history, m_history + m_pos - 1, keep * sizeof(std::int16_t));
    std::memmove(m_adapt, m_adapt + m_pos - 1, keep * sizeof(std::int16_t));
    m_pos = 1;
}

void NNFilter::Encode(std::int32_t* data, int count) {
    const Kernel kernel = m_kernel;
    const int order = m_order;
    for (int i = 0; i < count; ++i) {
        if (m_pos + order == m_length) {
            Slide();
        }
        // The previous sample's adaptation (with the window as it was then)
        // fused with this sample's dot product.
        const std::int32_t dot =
            kernel(m_coeff, m_history + m_pos, m_adapt + m_pos - 1, order, m_direction);
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
        m_direction = (out > 0) - (out < 0);

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
