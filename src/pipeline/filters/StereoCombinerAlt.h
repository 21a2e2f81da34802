#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

#include "foundation/Arith.h"
#include "pipeline/Transform.h"

// Generation-03 stage over two inner predictors of one type that scales each
// inner prediction by one of Steps fixed fractions k / Steps. Every candidate k
// keeps a decaying cost (64 times the absolute error it would have made); each
// call picks the cheapest of the candidates within SearchRadius of a centre:
// the stage's last choice in mono, the other channel's last choice in stereo,
// so the two channels' scales move together.
template <int Channels, int Steps, int StepsLog2, int CostDecay, int CostDecayShift, int SearchRadius>
class StereoCombinerAlt : public PredictorI {
public:
    // Takes ownership of both predictors.
    StereoCombinerAlt(PredictorI* a, PredictorI* b) : predictorA(a), predictorB(b) {
        for (int k = 0; k < Steps; ++k) costsA[k] = costsB[k] = Steps - k;
    }

    int32_t predict(int16_t previous, int16_t /*side*/) override {
        const int32_t c = previous;
        if constexpr (Channels == 1) {
            updateCosts(costsA, c, rawPrediction);
            rawPrediction = predictorA->predict(previous, 0);
            bestA = search(costsA, bestA);
            return (bestA * rawPrediction) >> StepsLog2;
        } else {
            callCount += 1;
            if (callCount & 1) {
                updateCosts(costsA, c, rawPrediction);
                lastA = previous;
                rawPrediction = predictorB->predict(lastB, previous);
                bestB = search(costsB, bestA);
                return (bestB * rawPrediction) >> StepsLog2;
            }
            updateCosts(costsB, c, rawPrediction);
            lastB = previous;
            rawPrediction = predictorA->predict(lastA, previous);
            bestA = search(costsA, bestB);
            return (bestA * rawPrediction) >> StepsLog2;
        }
    }

private:
    using Costs = std::array<int64_t, Steps>;

    // Adds to each candidate's decayed cost the error it would have made on
    // sample c given the raw prediction r (both scaled by 64; r is halved first).
    static void updateCosts(Costs& costs, int32_t c, int32_t r) {
        const int32_t step = (r >> 1) * (128 / Steps);
        const int32_t x = 64 * c;
        for (int k = 0; k < Steps; ++k) {
            const int64_t e = wrapAbs(x - k * step);
            costs[k] = ((costs[k] * CostDecay) >> CostDecayShift) + e;
        }
    }

    // Cheapest candidate within SearchRadius of the centre; ties keep the lower index.
    static int32_t search(const Costs& costs, int32_t centre) {
        const int32_t lo = std::max(centre - SearchRadius, 0);
        const int32_t hi = std::min(centre + SearchRadius, Steps - 1);
        int32_t best = lo;
        for (int32_t k = lo + 1; k <= hi; ++k)
            if (costs[k] < costs[best]) best = k;
        return best;
    }

    std::unique_ptr<PredictorI> predictorA;
    std::unique_ptr<PredictorI> predictorB;
    int32_t callCount = 0;
    int32_t rawPrediction = 0;
    int32_t bestA = Steps / 2;
    int32_t bestB = Steps / 2;
    int16_t lastA = 0;
    int16_t lastB = 0;
    Costs costsA;
    Costs costsB;
};
