#pragma once
#include <cstdint>

#include "foundation/Arith.h"
#include "pipeline/Transform.h"

// First-order predictors at the head of every chain: the next sample from the
// previous one alone. `side` is never read.

// Fixed scaling (previous * OutFactor) >> OutShift, of the generation-02 and -03 chains.
template <int OutFactor, int OutShift>
class DeltaFilter : public PredictorI {
public:
    int32_t predict(int16_t previous, int16_t) override { return (previous * OutFactor) >> OutShift; }
};

// Adaptive scaling of generation 04: every 16 calls it picks a factor of
// 256/256 down to 246/256 from the decaying mean magnitude of the second
// difference, so rough signals are predicted with less than full weight.
class DeltaFilter04 final : public PredictorI {
public:
    int32_t predict(int16_t previous, int16_t) override {
        const int32_t s = previous;
        const int32_t e = wrapAbs(2 * newest - s - older);
        roughness = ((roughness * 8191) >> 13) + e;
        const int32_t c = callCount++;
        if ((c & 15) == 0) factor = factorFor(static_cast<int32_t>((roughness + 4096) >> 13));
        const int32_t p = (factor * s + 128) >> 8;
        older = newest;
        newest = s;
        return p;
    }

    int32_t currentFactor() const { return factor; }

private:
    static int32_t factorFor(int32_t m) {
        if (m <= 64) return 256;
        if (m <= 128) return 254;
        if (m <= 192) return 250;
        if (m <= 1024) return 248;
        return 246;
    }

    int32_t newest = 0;
    int32_t older = 0;
    int32_t factor = 256;
    int32_t callCount = 0;
    int64_t roughness = 0;
};
