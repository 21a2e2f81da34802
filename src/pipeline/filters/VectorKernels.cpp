#include "pipeline/filters/VectorKernels.h"

#include <initializer_list>

#include "pipeline/filters/VectorKernelPaths.h"

namespace {

struct KernelSet {
    KernelPath path;
    void (*update)(int16_t*, const int16_t*, int, int);
    int32_t (*dot)(const int16_t*, const int16_t*, int);
    int32_t (*updateDot)(int16_t*, const int16_t*, const int16_t*, int, int);
};

constexpr KernelSet plainKernels{KernelPath::Plain, kernels::plain::update, kernels::plain::dot,
                                 kernels::plain::updateDot};

KernelSet kernelSet(KernelPath path) {
    switch (path) {
#if QO_X86_KERNELS
        case KernelPath::Sse2: return {path, kernels::sse2::update, kernels::sse2::dot, kernels::sse2::updateDot};
        case KernelPath::Avx2: return {path, kernels::avx2::update, kernels::avx2::dot, kernels::avx2::updateDot};
        case KernelPath::Avx512:
            return {path, kernels::avx512::update, kernels::avx512::dot, kernels::avx512::updateDot};
#endif
        default: return plainKernels;
    }
}

// Constant-initialised, so kernels called before start-up selection still work.
KernelSet active = plainKernels;

struct StartUpSelection {
    StartUpSelection() { selectKernelPath(defaultKernelPath()); }
} startUpSelection;

}  // namespace

bool kernelPathSupported(KernelPath path) {
    switch (path) {
        case KernelPath::Plain: return true;
#if QO_X86_KERNELS
        case KernelPath::Sse2: __builtin_cpu_init(); return __builtin_cpu_supports("sse2");
        case KernelPath::Avx2: __builtin_cpu_init(); return __builtin_cpu_supports("avx2");
        case KernelPath::Avx512:
            // Its kernels hand short vectors to the AVX2 ones.
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
                   __builtin_cpu_supports("avx512bw");
#endif
        default: return false;
    }
}

KernelPath defaultKernelPath() {
#ifdef QO_KERNELS_PIN
    if (kernelPathSupported(KernelPath::QO_KERNELS_PIN)) return KernelPath::QO_KERNELS_PIN;
#endif
    // AVX-512 ranks first: its kernels take 512-bit steps from 256 elements on and
    // hand shorter vectors to the AVX2 ones, so the filters get the faster of the
    // two at each length. Measured on an AMD Zen 5 (family 26): one update-and-dot
    // call, from mu to the sum, takes 15.6 ns against 17.7 at 512 elements and 12.9
    // against 14.2 at 288; the filter chain alone (sixteen paired runs) runs about
    // 1% faster than on AVX2, in both modes; in the whole program (qo_bench) the
    // difference is below the noise of a shared machine.
    for (KernelPath path : {KernelPath::Avx512, KernelPath::Avx2, KernelPath::Sse2})
        if (kernelPathSupported(path)) return path;
    return KernelPath::Plain;
}

KernelPath activeKernelPath() { return active.path; }

bool selectKernelPath(KernelPath path) {
    if (!kernelPathSupported(path)) return false;
    active = kernelSet(path);
    return true;
}

void updateWeights(int16_t* w, const int16_t* x, int n, int mu, bool useMmx) {
    if (mu == 0) return;
    (useMmx ? active.update : kernels::plain::update)(w, x, n, mu);
}

// Both update kernels compute the same values, so they share one implementation.
void updateWeights04(int16_t* w, const int16_t* x, int n, int mu, bool useMmx) { updateWeights(w, x, n, mu, useMmx); }

int32_t dotProduct04(const int16_t* a, const int16_t* b, int n, bool useMmx) {
    return (useMmx ? active.dot : kernels::plain::dot)(a, b, n);
}

FilterKernels filterKernels(bool useMmx) {
    const KernelSet& set = useMmx ? active : plainKernels;
    return {set.dot, set.updateDot};
}

int32_t updateDotProduct04(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu, bool useMmx) {
    return filterKernels(useMmx).updateDotProduct(w, x, h, n, mu);
}

int32_t dotProduct(const int16_t* a, const int16_t* b, int n, bool useMmx) { return dotProduct04(a, b, n, useMmx) >> 5; }

bool mmxAvailable() { return true; }
