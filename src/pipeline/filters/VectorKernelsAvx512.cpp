#include <immintrin.h>

#include "pipeline/filters/VectorKernelPaths.h"

// AVX-512 (F and BW) kernels, 32 elements (one register) per step, with the same
// wrapping operations as the narrower paths: multiply-low and subtract for the update,
// pmaddwd and 32-bit lane adds for the dot product. Full steps go in pairs on two
// accumulators; the last one or two steps run masked, since n is a multiple of 16 and
// not of 64: lanes beyond n load as zeros, add nothing to the sum and are not stored.
namespace kernels::avx512 {

namespace {

constexpr __mmask32 kAllLanes = ~__mmask32{0};

// The lanes of the step that starts `left` elements before the end.
__mmask32 lanesOf(int left) { return left >= 32 ? kAllLanes : (__mmask32{1} << left) - 1; }

__m512i load(const int16_t* p, __mmask32 lanes) { return _mm512_maskz_loadu_epi16(lanes, p); }

// One step of the update: the new weights, stored and returned.
__m512i updateStep(int16_t* w, const int16_t* x, __m512i step, __mmask32 lanes) {
    const __m512i updated = _mm512_sub_epi16(load(w, lanes), _mm512_mullo_epi16(load(x, lanes), step));
    _mm512_mask_storeu_epi16(w, lanes, updated);
    return updated;
}

__m512i productStep(const int16_t* a, const int16_t* b, __mmask32 lanes) {
    return _mm512_madd_epi16(load(a, lanes), load(b, lanes));
}

__m512i updateProductStep(int16_t* w, const int16_t* x, const int16_t* h, __m512i step, __mmask32 lanes) {
    return _mm512_madd_epi16(load(h, lanes), updateStep(w, x, step, lanes));
}

// The wrapping sum of the sixteen 32-bit lanes. (This compiler's lane-extract
// intrinsics warn of uninitialised operands, so the lanes go through memory.)
int32_t sumLanes(__m512i sum) {
    alignas(64) uint32_t lanes[16];
    _mm512_store_si512(lanes, sum);
    uint32_t total = 0;
    for (const uint32_t lane : lanes) total += lane;
    return static_cast<int32_t>(total);
}

}  // namespace

void update(int16_t* w, const int16_t* x, int n, int mu) {
    const __m512i step = _mm512_set1_epi16(static_cast<int16_t>(mu));
    for (int i = 0; i < n; i += 32) updateStep(w + i, x + i, step, lanesOf(n - i));
}

int32_t dot(const int16_t* a, const int16_t* b, int n) {
    __m512i sum0 = _mm512_setzero_si512();
    __m512i sum1 = _mm512_setzero_si512();
    int i = 0;
    for (; n - i >= 64; i += 64) {
        sum0 = _mm512_add_epi32(sum0, productStep(a + i, b + i, kAllLanes));
        sum1 = _mm512_add_epi32(sum1, productStep(a + i + 32, b + i + 32, kAllLanes));
    }
    for (; i < n; i += 32) sum0 = _mm512_add_epi32(sum0, productStep(a + i, b + i, lanesOf(n - i)));
    return sumLanes(_mm512_add_epi32(sum0, sum1));
}

// The update's new weights feed the products while they are still in registers.
int32_t updateDot(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu) {
    const __m512i step = _mm512_set1_epi16(static_cast<int16_t>(mu));
    __m512i sum0 = _mm512_setzero_si512();
    __m512i sum1 = _mm512_setzero_si512();
    int i = 0;
    for (; n - i >= 64; i += 64) {
        sum0 = _mm512_add_epi32(sum0, updateProductStep(w + i, x + i, h + i, step, kAllLanes));
        sum1 = _mm512_add_epi32(sum1, updateProductStep(w + i + 32, x + i + 32, h + i + 32, step, kAllLanes));
    }
    for (; i < n; i += 32)
        sum0 = _mm512_add_epi32(sum0, updateProductStep(w + i, x + i, h + i, step, lanesOf(n - i)));
    return sumLanes(_mm512_add_epi32(sum0, sum1));
}

}  // namespace kernels::avx512
