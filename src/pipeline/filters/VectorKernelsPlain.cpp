#include "pipeline/filters/VectorKernelPaths.h"

// The reference path: scalar loops whose results every vectorised path matches.
namespace kernels::plain {

void update(int16_t* w, const int16_t* x, int n, int mu) {
    const uint32_t step = 0u - static_cast<uint32_t>(mu);
    for (int i = 0; i < n; ++i)
        w[i] = static_cast<int16_t>(static_cast<uint32_t>(w[i]) +
                                    static_cast<uint32_t>(static_cast<uint16_t>(x[i])) * step);
}

int32_t dot(const int16_t* a, const int16_t* b, int n) {
    uint32_t sum = 0;
    for (int i = 0; i < n; ++i) sum += static_cast<uint32_t>(int32_t{a[i]} * int32_t{b[i]});
    return static_cast<int32_t>(sum);
}

int32_t updateDot(int16_t* w, const int16_t* x, const int16_t* h, int n, int mu) {
    update(w, x, n, mu);
    return dot(h, w, n);
}

}  // namespace kernels::plain
