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
    BigFilter0304() : ownWeights(Taps, 0), kernels(filterKernels(mmxAvailable())) {
        buildBigCompressTable02();
        buildBigStepTable04();
        buildBigUpdateTable04();
    }

    // After the first call, the weights move against the last prediction's error (an
    // exact prediction still moves them by +1 steps) over the compressed history as it
    // was before this sample; the prediction reads the sample history after it. Both
    // run in one pass over the weights.
    int32_t predict(int16_t previous, int16_t /*side*/) override {
        int32_t sum;
        if (callCount == 0) {
            sum = kernels.dot(ownHistory.currentBuffer().window(), ownWeights.data(), Taps);
        } else {
            const int16_t* compressedBefore = ownCompressed.currentBuffer().window();
            ownHistory.push(previous);
            sum = kernels.updateDotProduct(ownWeights.data(), compressedBefore, ownHistory.currentBuffer().window(),
                                           Taps, updateStep(previous));
            ownCompressed.push(bigCompressTable02[static_cast<size_t>(previous + 65536)]);
        }
        const int32_t p = ((sum >> 5) + (1 << (OutShift - 1))) >> OutShift;
        ++callCount;
        lastPrediction = p;
        return p;
    }

private:
    // The signed update magnitude for the error of the last prediction.
    int32_t updateStep(int16_t previous) {
        const int32_t e = previous - lastPrediction;
        fastError = ((fastError * 63) >> 6) + wrapAbs(e);
        const int32_t step = bigStepTable04[static_cast<size_t>(bigStepIndex04(fastError))];
        const int32_t k = std::clamp(((step * e + 16384) >> 15) + 16384, 0, 32767);
        const int32_t u = bigUpdateTable04[static_cast<size_t>(k)];
        return selectBits(e < 0, -u, u);
    }

    int32_t lastPrediction = 0;
    int32_t callCount = 0;
    int32_t fastError = 0;
    PhaseHistory0304<Taps, Phases> ownHistory;
    PhaseHistory0304<Taps, Phases> ownCompressed;
    std::vector<int16_t> ownWeights;
    const FilterKernels kernels;
};
