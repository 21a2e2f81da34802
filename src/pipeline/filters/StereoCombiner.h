#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>

#include "foundation/Arith.h"
#include "pipeline/Transform.h"

// Generation-03 stage over two inner predictors of one type. In stereo the two
// take turns (predictorB the first sample of each pair, predictorA the second),
// each told the other channel's newest sample; in mono only predictorA runs.
// With AdaptGain the inner prediction is scaled by a per-predictor gain that
// grows while samples land beyond the scaled prediction and shrinks when they
// overshoot; every prediction is then scaled by OutFactor / 2^OutShift. With
// OuterGain = 256 the stage's own encodeSample/decodeSample apply a second,
// attenuating gain.
template <int Channels, int AdaptGain, int OutFactor, int OutShift, int OuterGain, int OuterGainShift>
class StereoCombiner : public PredictorI {
public:
    // Takes ownership of both predictors. A gain shift of 9 to 12 starts one
    // lower, with halved gains, and is raised again after 4096 stereo calls.
    StereoCombiner(PredictorI* a, PredictorI* b, int32_t shift) : predictorA(a), predictorB(b) {
        gainA = gainB = gainMax = pow2(shift);
        gainShift = shift;
        if (8 < gainShift && gainShift < 13) {
            gainShift -= 1;
            gainA /= 2;
            gainMax /= 2;
            gainB /= 2;
        }
        outerGain = OuterGain;
    }

    int16_t encodeSample(int16_t x) override {
        const int32_t q = outerPrediction();
        adaptOuterGain(q, x);
        lastSample = x;
        return static_cast<int16_t>(q - x);
    }

    int16_t decodeSample(int16_t r) override {
        const int32_t q = outerPrediction();
        const int16_t x = static_cast<int16_t>(q - r);
        adaptOuterGain(q, x);
        lastSample = x;
        return x;
    }

    int32_t predict(int16_t previous, int16_t /*side*/) override {
        const int32_t c = previous;
        if (callCount == 4096 && 8 < gainShift && gainShift < 13) {
            gainShift += 1;
            gainMax *= 2;
            gainA *= 2;
            gainB *= 2;
        }
        const int32_t d = c - lastOutput;
        int32_t p;
        if constexpr (Channels == 1) {
            if constexpr (AdaptGain == 1) adaptGain(gainA, d);
            p = scaled(predictorA->predict(previous, 0), gainA);
        } else {
            callCount += 1;
            if (callCount & 1) {
                if constexpr (AdaptGain == 1) adaptGain(gainA, d);
                lastA = previous;
                p = scaled(predictorB->predict(lastB, previous), gainB);
            } else {
                if constexpr (AdaptGain == 1) adaptGain(gainB, d);
                lastB = previous;
                p = scaled(predictorA->predict(lastA, previous), gainA);
            }
        }
        lastOutput = p;
        return (p * OutFactor) >> OutShift;
    }

private:
    int32_t scaled(int32_t p, [[maybe_unused]] int32_t gain) const {
        if constexpr (AdaptGain == 1) return (p * gain) >> gainShift;
        return p;
    }

    // The gain follows the sign of the miss relative to the last output.
    void adaptGain(int32_t& gain, int32_t d) const {
        if (lastOutput == 0 || d == 0) return;
        const int32_t t = (wrapAbs(d) >> 6) + 1;
        if ((lastOutput > 0) == (d > 0))
            gain = std::min(gain + t, gainMax);
        else
            gain = std::max(gain - t, 1);
    }

    int32_t outerPrediction() {
        const int32_t p = predict(static_cast<int16_t>(lastSample), 0);
        if constexpr (OuterGain == 256) return (p * outerGain) >> OuterGainShift;
        return p;
    }

    void adaptOuterGain(int32_t q, int16_t x) {
        if constexpr (OuterGain == 256) {
            const int32_t miss = x - q;
            if (q == 0 || miss == 0) return;
            if ((q > 0) == (miss > 0))
                outerGain = std::min(outerGain + 1, 256);
            else
                outerGain = std::max(outerGain - 1, 1);
        }
    }

    std::unique_ptr<PredictorI> predictorA;
    std::unique_ptr<PredictorI> predictorB;
    int32_t callCount = 0;
    int32_t lastOutput = 0;
    int32_t gainA;
    int32_t gainB;
    int32_t gainShift;
    int32_t gainMax;
    int16_t lastA = 0;
    int16_t lastB = 0;
    int32_t lastSample = 0;
    int32_t outerGain;
};
