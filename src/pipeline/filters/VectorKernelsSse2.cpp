#include <emmintrin.h>

#include "pipeline/filters/VectorKernelPaths.h"
#include "pipeline/filters/VectorKernelSums.h"

// SSE2 kernels, 8 elements (one register) per step. The update uses the wrapping
// 16-bit multiply-low and subtract; the dot product uses pmaddwd, whose one
// overflowing pair sum, (-32768)^2 + (-32768)^2, comes out as -2^31 just as the
// wrapping scalar sum does, and wrapping 32-bit lane adds.
namespace kernels::sse2 {

namespace {

__m128i load(const __m128i* p) { return _mm_loadu_si128(p); }

// The 32-bit lane operations of the shared accumulator tree.
struct Lanes {
    static __m128i zero() { return _mm_setzero_si128(); }
    static __m128i add(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
};

// One step of the update: the 8 new weights, stored and returned.
__m128i updateStep(__m128i* w, const __m128i* x, __m128i step) {
    const __m128i updated = _mm_sub_epi16(load(w), _mm_mullo_epi16(load(x), step));
    _mm_storeu_si128(w, updated);
    return updated;
}

// The wrapping sum of the four 32-bit lanes.
int32_t sumLanes(__m128i sum) {
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(sum);
}

// The wrapping sum over all lanes of product(0) .. product(steps - 1).
template <class Product>
int32_t sumOfProducts(int64_t steps, Product product) {
    return sumLanes(sumOfSteps<Lanes>(steps, product));
}

}  // namespace

void update(int16_t* w, const int16_t* x, int n, int mu) {
    const __m128i step = _mm_set1_epi16(static_cast<int16_t>(mu));
    auto* wp = reinterpret_cast<__m128i*>(w);
    const auto* xp = reinterpret_cast<const __m128i*>(x);
    for (const auto* end = xp + n / 8; xp != end; ++xp, ++wp) updateStep(wp, xp, step);
}

int32_t dot(const int16_t* a, const int16_t* b, int n) {
    const auto* ap = reinterpret_cast<const __m128i*>(a);
    const auto* bp = reinterpret_cast<const __m128i*>(b);
    return sumOfProducts(n >> 3, [&](int64_t i) { return _mm_madd_epi16(load(ap + i), load(bp + i)); });
}

// The update's new weights feed the products while they are still in registers.
int32_t updateDot(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu) {
    const __m128i step = _mm_set1_epi16(static_cast<int16_t>(mu));
    auto* wp = reinterpret_cast<__m128i*>(w);
    const auto* xp = reinterpret_cast<const __m128i*>(x);
    const auto* hp = reinterpret_cast<const __m128i*>(h);
    return sumOfProducts(n >> 3,
                         [&](int64_t i) { return _mm_madd_epi16(load(hp + i), updateStep(wp + i, xp + i, step)); });
}

}  // namespace kernels::sse2
