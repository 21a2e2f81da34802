#include <immintrin.h>

#include "pipeline/filters/VectorKernelPaths.h"
#include "pipeline/filters/VectorKernelSums.h"

// AVX-512 (F and BW) kernels, 32 elements (one register) per step, with the same
// wrapping operations as the narrower paths: multiply-low and subtract for the update,
// pmaddwd and 32-bit lane adds for the dot product. n is a multiple of 16, not of 32,
// so a last step may hold 16 elements; it loads them into the low half of a register
// whose upper half is zero (adding nothing to the sum) and stores only that half.
//
// Vectors shorter than kWideFrom go to the AVX2 kernels: there the result waits
// mostly on the fixed cost of a call (the broadcast of mu, the sum across the
// lanes), which is lower at 256 bits, and the few steps saved do not win it back.
namespace kernels::avx512 {

namespace {

constexpr int kWideFrom = 256;

// The lanes a step covers: all 32, or the low 16 of a last step. No load or store
// is masked: the next call loads the weights this one stores, and with masked
// accesses that load waits for the store to reach the cache instead of taking its
// data on the way (a short call then took 6.8 ns where it takes 2.7).
enum class Width { Full, Half };

__m512i load(const int16_t* p, Width width) {
    if (width == Width::Full) return _mm512_loadu_si512(p);
    const __m256i half = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    return _mm512_maskz_inserti64x4(0xF, _mm512_setzero_si512(), half, 0);
}

// The low and high 256 bits. (The masked extract says the same as the plain
// one, which warns of an uninitialised operand with this compiler.)
__m256i lowHalf(__m512i v) { return _mm512_maskz_extracti64x4_epi64(0xF, v, 0); }
__m256i highHalf(__m512i v) { return _mm512_maskz_extracti64x4_epi64(0xF, v, 1); }

void store(int16_t* p, __m512i v, Width width) {
    if (width == Width::Full)
        _mm512_storeu_si512(p, v);
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), lowHalf(v));
}

// One step of the update: the new weights, stored and returned.
__m512i updateStep(int16_t* w, const int16_t* x, __m512i step, Width width) {
    const __m512i updated = _mm512_sub_epi16(load(w, width), _mm512_mullo_epi16(load(x, width), step));
    store(w, updated, width);
    return updated;
}

// The 32-bit lane operations of the shared accumulator tree.
struct Lanes {
    static __m512i zero() { return _mm512_setzero_si512(); }
    static __m512i add(__m512i a, __m512i b) { return _mm512_add_epi32(a, b); }
};

// The wrapping sum of the sixteen 32-bit lanes, in registers.
int32_t sumLanes(__m512i sum) {
    const __m256i eight = _mm256_add_epi32(lowHalf(sum), highHalf(sum));
    __m128i four = _mm_add_epi32(_mm256_castsi256_si128(eight), _mm256_extracti128_si256(eight, 1));
    four = _mm_add_epi32(four, _mm_shuffle_epi32(four, _MM_SHUFFLE(1, 0, 3, 2)));
    four = _mm_add_epi32(four, _mm_shuffle_epi32(four, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(four);
}

// The wrapping sum over all lanes of product(i, width) for the steps i = 0, 32, ...
// below n, the last one half a register when n is not a multiple of 32.
template <class Product>
int32_t sumOfProducts(int64_t n, Product product) {
    const int64_t full = n & ~int64_t{31};
    __m512i sum = sumOfSteps<Lanes>(full / 32, [&](int64_t step) { return product(32 * step, Width::Full); });
    if (full < n) sum = Lanes::add(sum, product(full, Width::Half));
    return sumLanes(sum);
}

}  // namespace

void update(int16_t* w, const int16_t* x, int n, int mu) {
    const __m512i step = _mm512_set1_epi16(static_cast<int16_t>(mu));
    const int full = n & ~31;
    for (int i = 0; i < full; i += 32) updateStep(w + i, x + i, step, Width::Full);
    if (full < n) updateStep(w + full, x + full, step, Width::Half);
}

int32_t dot(const int16_t* a, const int16_t* b, int n) {
    if (n < kWideFrom) return avx2::dot(a, b, n);
    return sumOfProducts(
        n, [&](int64_t i, Width width) { return _mm512_madd_epi16(load(a + i, width), load(b + i, width)); });
}

// The update's new weights feed the products while they are still in registers.
int32_t updateDot(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu) {
    if (n < kWideFrom) return avx2::updateDot(w, x, h, n, mu);
    const __m512i step = _mm512_set1_epi16(static_cast<int16_t>(mu));
    return sumOfProducts(n, [&](int64_t i, Width width) {
        return _mm512_madd_epi16(load(h + i, width), updateStep(w + i, x + i, step, width));
    });
}

}  // namespace kernels::avx512
