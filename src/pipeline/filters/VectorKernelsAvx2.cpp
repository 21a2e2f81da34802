#include <immintrin.h>

#include "pipeline/filters/VectorKernelPaths.h"
#include "pipeline/filters/VectorKernelSums.h"

// AVX2 kernels, 16 elements (one register) per step, with the same wrapping
// operations as the SSE2 path: multiply-low and subtract for the update, pmaddwd
// and 32-bit lane adds for the dot product. The compiler clears the upper
// register halves on return, so callers' SSE and floating-point code pays no
// transition penalty.
namespace kernels::avx2 {

namespace {

__m256i load(const __m256i* p) { return _mm256_loadu_si256(p); }

// The 32-bit lane operations of the shared accumulator tree.
struct Lanes {
    static __m256i zero() { return _mm256_setzero_si256(); }
    static __m256i add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
};

// One step of the update: the 16 new weights, stored and returned.
__m256i updateStep(__m256i* w, const __m256i* x, __m256i step) {
    const __m256i updated = _mm256_sub_epi16(load(w), _mm256_mullo_epi16(load(x), step));
    _mm256_storeu_si256(w, updated);
    return updated;
}

// The wrapping sum of the eight 32-bit lanes.
int32_t sumLanes(__m256i sum) {
    __m128i half = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, _MM_SHUFFLE(1, 0, 3, 2)));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(half);
}

// The wrapping sum over all lanes of product(0) .. product(steps - 1).
template <class Product>
int32_t sumOfProducts(int64_t steps, Product product) {
    return sumLanes(sumOfSteps<Lanes>(steps, product));
}

}  // namespace

void update(int16_t* w, const int16_t* x, int n, int mu) {
    const __m256i step = _mm256_set1_epi16(static_cast<int16_t>(mu));
    auto* wp = reinterpret_cast<__m256i*>(w);
    const auto* xp = reinterpret_cast<const __m256i*>(x);
    for (const auto* end = xp + n / 16; xp != end; ++xp, ++wp) updateStep(wp, xp, step);
}

int32_t dot(const int16_t* a, const int16_t* b, int n) {
    const auto* ap = reinterpret_cast<const __m256i*>(a);
    const auto* bp = reinterpret_cast<const __m256i*>(b);
    return sumOfProducts(n >> 4, [&](int64_t i) { return _mm256_madd_epi16(load(ap + i), load(bp + i)); });
}

// The update's new weights feed the products while they are still in registers.
int32_t updateDot(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu) {
    const __m256i step = _mm256_set1_epi16(static_cast<int16_t>(mu));
    auto* wp = reinterpret_cast<__m256i*>(w);
    const auto* xp = reinterpret_cast<const __m256i*>(x);
    const auto* hp = reinterpret_cast<const __m256i*>(h);
    return sumOfProducts(n >> 4,
                         [&](int64_t i) { return _mm256_madd_epi16(load(hp + i), updateStep(wp + i, xp + i, step)); });
}

}  // namespace kernels::avx2
