#pragma once
#include <cstdint>

// The int16 kernels of the sign-sign LMS filters. n is a multiple of 16. All
// arithmetic wraps: weights modulo 2^16, sums modulo 2^32. The plain path defines
// the results; the vectorised path must match it bit for bit.
//
// updateWeights/updateWeights04: w[i] = int16(w[i] - x[i] * mu).
// dotProduct: (sum of a[i] * b[i]) >> 5; dotProduct04: the sum unshifted.
// updateDotProduct04(w, x, h, ...): updateWeights04(w, x, ...), then dotProduct04(h, w, ...),
// in one pass over the weights; w must not overlap x or h.
// useMmx true runs the active kernel path, false the plain one.
void updateWeights(int16_t* w, const int16_t* x, int n, int mu, bool useMmx);
void updateWeights04(int16_t* w, const int16_t* x, int n, int mu, bool useMmx);
int32_t dotProduct(const int16_t* a, const int16_t* b, int n, bool useMmx);
int32_t dotProduct04(const int16_t* a, const int16_t* b, int n, bool useMmx);
int32_t updateDotProduct04(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu, bool useMmx);

// Whether filters use the vectorised path; taken by each filter at construction.
bool mmxAvailable();

// The dot and update-and-dot kernels of one path as plain function pointers. A
// filter takes them once at construction, so its per-sample calls skip the
// dispatch; updateDotProduct computes what updateDotProduct04 does. A step mu of 0
// runs the fused kernel too (the weights come out unchanged): the error behind mu
// is 0 at irregular moments, and a branch on it would be mispredicted.
struct FilterKernels {
    int32_t (*dot)(const int16_t* a, const int16_t* b, int n);
    int32_t (*updateDot)(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu);

    int32_t updateDotProduct(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu) const {
        return updateDot(w, x, h, n, mu);
    }
};

// The active path's kernels (useMmx) or the plain ones, as selected at this moment.
FilterKernels filterKernels(bool useMmx);

// The instruction sets the vectorised path can run on. One is picked at start-up:
// the build's QO_KERNELS choice when the processor supports it, otherwise the
// fastest one it supports (see defaultKernelPath).
enum class KernelPath { Plain, Sse2, Avx2, Avx512 };

bool kernelPathSupported(KernelPath path);
KernelPath defaultKernelPath();
KernelPath activeKernelPath();
// Switches the vectorised path to `path` if the processor supports it; returns
// whether it did (otherwise the active path stays as it was).
bool selectKernelPath(KernelPath path);
