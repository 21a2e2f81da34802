#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "foundation/Arith.h"
#include "pipeline/Transform.h"
#include "pipeline/filters/LookupTables.h"
#include "pipeline/filters/PhaseHistory.h"
#include "pipeline/filters/VectorKernels.h"

// Long sign-sign LMS predictor of the high-mode chains over a decimated history
// of its own channel: each of the Taps entries is a sum of Phases samples. The
// update magnitude comes from a fast-decaying error level through
// bigStepTable04 and bigUpdateTable04; the update multiplies it by the
// bigCompressTable02 values of the samples. The side argument is not used.
template <int Channels, int Taps, int OutShift, int Phases, int Param5>
class BigFilter0304 final : public PredictorI {
    static_assert(Channels == 1, "the filter reads only its own channel");
    static_assert(Taps % 16 == 0, "the kernels run whole steps of 16");

public:
    BigFilter0304() : ownWeights(Taps, 0) {
        buildBigCompressTable02();
        buildBigStepTable04();
        buildBigUpdateTable04();
        useMmx = mmxAvailable();
    }

    int32_t predict(int16_t previous, int16_t /*side*/) override {
        if (callCount != 0) adapt(previous);
        const int32_t p = (dotProduct(ownHistory.currentBuffer().window(), ownWeights.data(), Taps, useMmx) +
                           (1 << (OutShift - 1))) >> OutShift;
        ++callCount;
        lastPrediction = p;
        return p;
    }

private:
    // Moves the weights against the last prediction's error (an exact
    // prediction still moves them by +1 steps), then pushes the sample.
    void adapt(int16_t previous) {
        const int32_t e = previous - lastPrediction;
        fastError = ((fastError * 63) >> 6) + wrapAbs(e);
        const int32_t step = bigStepTable04[static_cast<size_t>(bigStepIndex04(fastError))];
        const int32_t k = std::clamp(((step * e + 16384) >> 15) + 16384, 0, 32767);
        int32_t u = bigUpdateTable04[static_cast<size_t>(k)];
        if (e < 0) u = -u;
        updateWeights(ownWeights.data(), ownCompressed.currentBuffer().window(), Taps, u, useMmx);
        ownCompressed.push(bigCompressTable02[static_cast<size_t>(previous + 65536)]);
        ownHistory.push(previous);
    }

    int32_t lastPrediction = 0;
    int32_t callCount = 0;
    bool useMmx = false;
    int32_t fastError = 0;
    PhaseHistory0304<Taps, Phases> ownHistory;
    PhaseHistory0304<Taps, Phases> ownCompressed;
    std::vector<int16_t> ownWeights;
};
