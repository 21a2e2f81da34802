#include <immintrin.h>

#include "pipeline/filters/VectorKernelPaths.h"

// AVX2 kernels, 16 elements (one register) per step, with the same wrapping
// operations as the SSE2 path: multiply-low and subtract for the update, pmaddwd
// and 32-bit lane adds for the dot product. The compiler clears the upper
// register halves on return, so callers' SSE and floating-point code pays no
// transition penalty.
namespace kernels::avx2 {

namespace {

__m256i load(const __m256i* p) { return _mm256_loadu_si256(p); }

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
    const auto* end = ap + n / 16;
    // Two accumulators over pairs of steps keep the adds off one dependency chain;
    // an odd last step goes into the first.
    __m256i sum0 = _mm256_setzero_si256();
    __m256i sum1 = _mm256_setzero_si256();
    for (; end - ap >= 2; ap += 2, bp += 2) {
        sum0 = _mm256_add_epi32(sum0, _mm256_madd_epi16(load(ap), load(bp)));
        sum1 = _mm256_add_epi32(sum1, _mm256_madd_epi16(load(ap + 1), load(bp + 1)));
    }
    if (ap != end) sum0 = _mm256_add_epi32(sum0, _mm256_madd_epi16(load(ap), load(bp)));
    return sumLanes(_mm256_add_epi32(sum0, sum1));
}

// The update's new weights feed the products while they are still in registers;
// the accumulators are split as in dot.
int32_t updateDot(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu) {
    const __m256i step = _mm256_set1_epi16(static_cast<int16_t>(mu));
    auto* wp = reinterpret_cast<__m256i*>(w);
    const auto* xp = reinterpret_cast<const __m256i*>(x);
    const auto* hp = reinterpret_cast<const __m256i*>(h);
    const auto* end = xp + n / 16;
    __m256i sum0 = _mm256_setzero_si256();
    __m256i sum1 = _mm256_setzero_si256();
    for (; end - xp >= 2; xp += 2, wp += 2, hp += 2) {
        sum0 = _mm256_add_epi32(sum0, _mm256_madd_epi16(load(hp), updateStep(wp, xp, step)));
        sum1 = _mm256_add_epi32(sum1, _mm256_madd_epi16(load(hp + 1), updateStep(wp + 1, xp + 1, step)));
    }
    if (xp != end) sum0 = _mm256_add_epi32(sum0, _mm256_madd_epi16(load(hp), updateStep(wp, xp, step)));
    return sumLanes(_mm256_add_epi32(sum0, sum1));
}

}  // namespace kernels::avx2
