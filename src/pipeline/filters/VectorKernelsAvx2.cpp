#include <immintrin.h>

#include "pipeline/filters/VectorKernelPaths.h"

// AVX2 kernels, 16 elements (one register) per step, with the same wrapping
// operations as the SSE2 path: multiply-low and subtract for the update, pmaddwd
// and 32-bit lane adds for the dot product. The compiler clears the upper
// register halves on return, so callers' SSE and floating-point code pays no
// transition penalty.
namespace kernels::avx2 {

void update(int16_t* w, const int16_t* x, int n, int mu) {
    const __m256i step = _mm256_set1_epi16(static_cast<int16_t>(mu));
    auto* wp = reinterpret_cast<__m256i*>(w);
    const auto* xp = reinterpret_cast<const __m256i*>(x);
    for (const auto* end = xp + n / 16; xp != end; ++xp, ++wp)
        _mm256_storeu_si256(wp, _mm256_sub_epi16(_mm256_loadu_si256(wp), _mm256_mullo_epi16(_mm256_loadu_si256(xp), step)));
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
        sum0 = _mm256_add_epi32(sum0, _mm256_madd_epi16(_mm256_loadu_si256(ap), _mm256_loadu_si256(bp)));
        sum1 = _mm256_add_epi32(sum1, _mm256_madd_epi16(_mm256_loadu_si256(ap + 1), _mm256_loadu_si256(bp + 1)));
    }
    if (ap != end) sum0 = _mm256_add_epi32(sum0, _mm256_madd_epi16(_mm256_loadu_si256(ap), _mm256_loadu_si256(bp)));
    const __m256i sum = _mm256_add_epi32(sum0, sum1);
    __m128i half = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, _MM_SHUFFLE(1, 0, 3, 2)));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(half);
}

}  // namespace kernels::avx2
