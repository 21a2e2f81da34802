#pragma once
#include <cstdint>

// The kernel implementations behind the dispatch in VectorKernels.cpp, one
// namespace per instruction set. Every path computes the same values:
//   update: w[i] = int16(w[i] - x[i] * mu) for i < n (mu != 0; wraps, never saturates)
//   dot:    the sum of a[i] * b[i] for i < n, wrapped to 32 bits
//   updateDot: update(w, x, n, mu), then dot(h, w, n), in one pass over w
// n is a multiple of 16; the pointers need no alignment.
//
// The x86 paths live in files compiled with their own target flags. Those files
// include nothing but this header, VectorKernelSums.h (a template they instantiate
// with types of their own) and the intrinsics headers, so no inline function
// compiled for a wider instruction set can be shared with the rest of the program.
namespace kernels {

namespace plain {
void update(int16_t* w, const int16_t* x, int n, int mu);
int32_t dot(const int16_t* a, const int16_t* b, int n);
int32_t updateDot(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu);
}  // namespace plain

#if QO_X86_KERNELS
namespace sse2 {
void update(int16_t* w, const int16_t* x, int n, int mu);
int32_t dot(const int16_t* a, const int16_t* b, int n);
int32_t updateDot(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu);
}  // namespace sse2

namespace avx2 {
void update(int16_t* w, const int16_t* x, int n, int mu);
int32_t dot(const int16_t* a, const int16_t* b, int n);
int32_t updateDot(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu);
}  // namespace avx2

namespace avx512 {
void update(int16_t* w, const int16_t* x, int n, int mu);
int32_t dot(const int16_t* a, const int16_t* b, int n);
int32_t updateDot(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu);
}  // namespace avx512
#endif

}  // namespace kernels
