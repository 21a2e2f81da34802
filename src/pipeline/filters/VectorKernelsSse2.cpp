#include <emmintrin.h>

#include "pipeline/filters/VectorKernelPaths.h"

// SSE2 kernels, 16 elements (two registers) per step. The update uses the
// wrapping 16-bit multiply-low and subtract; the dot product uses pmaddwd, whose
// one overflowing pair sum, (-32768)^2 + (-32768)^2, comes out as -2^31 just as
// the wrapping scalar sum does, and wrapping 32-bit lane adds.
namespace kernels::sse2 {

namespace {
// The wrapping sum of the four 32-bit lanes.
int32_t sumLanes(__m128i sum) {
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(sum);
}
}  // namespace

void update(int16_t* w, const int16_t* x, int n, int mu) {
    const __m128i step = _mm_set1_epi16(static_cast<int16_t>(mu));
    auto* wp = reinterpret_cast<__m128i*>(w);
    const auto* xp = reinterpret_cast<const __m128i*>(x);
    for (const auto* end = xp + n / 8; xp != end; xp += 2, wp += 2) {
        const __m128i w0 = _mm_sub_epi16(_mm_loadu_si128(wp), _mm_mullo_epi16(_mm_loadu_si128(xp), step));
        const __m128i w1 = _mm_sub_epi16(_mm_loadu_si128(wp + 1), _mm_mullo_epi16(_mm_loadu_si128(xp + 1), step));
        _mm_storeu_si128(wp, w0);
        _mm_storeu_si128(wp + 1, w1);
    }
}

int32_t dot(const int16_t* a, const int16_t* b, int n) {
    const auto* ap = reinterpret_cast<const __m128i*>(a);
    const auto* bp = reinterpret_cast<const __m128i*>(b);
    __m128i sum0 = _mm_setzero_si128();
    __m128i sum1 = _mm_setzero_si128();
    for (const auto* end = ap + n / 8; ap != end; ap += 2, bp += 2) {
        sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(_mm_loadu_si128(ap), _mm_loadu_si128(bp)));
        sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(_mm_loadu_si128(ap + 1), _mm_loadu_si128(bp + 1)));
    }
    return sumLanes(_mm_add_epi32(sum0, sum1));
}

// The update's new weights feed the products while they are still in registers.
int32_t updateDot(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu) {
    const __m128i step = _mm_set1_epi16(static_cast<int16_t>(mu));
    auto* wp = reinterpret_cast<__m128i*>(w);
    const auto* xp = reinterpret_cast<const __m128i*>(x);
    const auto* hp = reinterpret_cast<const __m128i*>(h);
    __m128i sum0 = _mm_setzero_si128();
    __m128i sum1 = _mm_setzero_si128();
    for (const auto* end = xp + n / 8; xp != end; xp += 2, wp += 2, hp += 2) {
        const __m128i w0 = _mm_sub_epi16(_mm_loadu_si128(wp), _mm_mullo_epi16(_mm_loadu_si128(xp), step));
        const __m128i w1 = _mm_sub_epi16(_mm_loadu_si128(wp + 1), _mm_mullo_epi16(_mm_loadu_si128(xp + 1), step));
        _mm_storeu_si128(wp, w0);
        _mm_storeu_si128(wp + 1, w1);
        sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(_mm_loadu_si128(hp), w0));
        sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(_mm_loadu_si128(hp + 1), w1));
    }
    return sumLanes(_mm_add_epi32(sum0, sum1));
}

}  // namespace kernels::sse2
