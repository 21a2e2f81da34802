#include "pipeline/filters/VectorKernels.h"

namespace {

void updatePlain(int16_t* w, const int16_t* x, int n, int mu) {
    if (mu == 0) return;
    const uint32_t step = 0u - static_cast<uint32_t>(mu);
    for (int i = 0; i < n; ++i)
        w[i] = static_cast<int16_t>(static_cast<uint32_t>(w[i]) +
                                    static_cast<uint32_t>(static_cast<uint16_t>(x[i])) * step);
}

int32_t dotPlain(const int16_t* a, const int16_t* b, int n) {
    uint32_t sum = 0;
    for (int i = 0; i < n; ++i) sum += static_cast<uint32_t>(int32_t{a[i]} * int32_t{b[i]});
    return static_cast<int32_t>(sum);
}

}  // namespace

void updateWeights(int16_t* w, const int16_t* x, int n, int mu, bool) { updatePlain(w, x, n, mu); }
void updateWeights04(int16_t* w, const int16_t* x, int n, int mu, bool) { updatePlain(w, x, n, mu); }
int32_t dotProduct(const int16_t* a, const int16_t* b, int n, bool) { return dotPlain(a, b, n) >> 5; }
int32_t dotProduct04(const int16_t* a, const int16_t* b, int n, bool) { return dotPlain(a, b, n); }

bool mmxAvailable() { return true; }
