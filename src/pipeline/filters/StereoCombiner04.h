#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>

#include "foundation/Arith.h"
#include "pipeline/Transform.h"
#include "pipeline/filters/History.h"

// The stage object of every generation-04 predictor stage. It owns two inner
// predictors of one configuration. With two channels it alternates over the
// interleaved stream: predictorB predicts the first sample of each pair and
// predictorA the second, each handed its own channel's newest sample and the
// other channel's newest sample as `side`. With one channel only predictorA is
// called. The inner prediction is optionally scaled by an adaptive gain (moved
// toward the sign agreement of prediction and error) and by an attenuation that
// falls as the long-run error level rises.
//
// Inner is the type of the inner predictors; a final concrete type (as in the
// chains) makes the calls to them direct, PredictorI takes any predictor.
template <int Channels, int AdaptGain, int AttenBase, int AttenShift, int GainShift, int GainMax,
          class Inner = PredictorI>
class StereoCombiner04 final
    : public PredictorStage<StereoCombiner04<Channels, AdaptGain, AttenBase, AttenShift, GainShift, GainMax, Inner>> {
    static_assert(Channels == 1 || Channels == 2);
    static_assert(AdaptGain == 0 || GainShift > 0);
    static_assert(AttenBase == 0 || AttenShift > 0);

public:
    using InnerPredictor = Inner;

    StereoCombiner04(Inner* a, Inner* b)
        : predictorA(a), predictorB(b), gainA(int32_t{1} << GainShift), gainB(gainA) {}

    int32_t predict(int16_t previous, int16_t) override {
        const int32_t s = previous;
        const int32_t d = s - lastOutput;
        int32_t n = 0;
        if constexpr (Channels == 1) {
            gainA = adaptedGain(gainA, d);
            lastOutput = scaled(predictorA->predict(previous, 0), gainA);
        } else {
            n = ++callCount;
            if ((n & 1) == 0) {
                gainB = adaptedGain(gainB, d);
                lastB = previous;
                lastOutput = scaled(predictorA->predict(lastA, previous), gainA);
            } else {
                gainA = adaptedGain(gainA, d);
                lastA = previous;
                lastOutput = scaled(predictorB->predict(lastB, previous), gainB);
            }
        }
        if constexpr (AttenBase == 0) {
            return lastOutput;
        } else {
            if ((n & 15) == 0) {
                errorLevel.push(wrapAbs(d));
                attenuation = AttenBase - attenuationDrop(errorLevel.sum >> 12);
            }
            return (attenuation * lastOutput + (1 << (AttenShift - 1))) >> AttenShift;
        }
    }

    const PredictorI* innerA() const { return predictorA.get(); }
    const PredictorI* innerB() const { return predictorB.get(); }
    int32_t currentGainA() const { return gainA; }
    int32_t currentGainB() const { return gainB; }
    int32_t currentAttenuation() const { return attenuation; }

private:
    // The gain after the error d of the last output. Branch-free: whether prediction and
    // error agree in sign is close to a coin toss, and a mispredicted branch here would
    // discard the work of the stages in flight. Always inlined: it sits on the chain from
    // one output to the next, and left out of line (the compiler's choice once the fused
    // chain loops instantiate every stage) it made the high-mode chain a third slower.
    [[gnu::always_inline]] int32_t adaptedGain(int32_t gain, int32_t d) const {
        if constexpr (AdaptGain == 0) {
            return gain;
        } else {
            const int32_t magnitude = wrapAbs(d);
            const int32_t t = (magnitude >> 9) + 1;
            const bool hold = (lastOutput == 0) | (d == 0) | (AttenBase == 64 && magnitude <= 4);
            // Unless held, both are non-zero, and they agree in sign when their bits do.
            const int32_t disagree = (lastOutput ^ d) >> 31;  // 0 or -1
            const int32_t move = ((t ^ disagree) - disagree) & -static_cast<int32_t>(!hold);
            // The gain stays in [1, GainMax], so a step up can only pass the top and a
            // step down only the bottom.
            return std::clamp(gain + move, 1, GainMax);
        }
    }

    static int32_t scaled(int32_t p, int32_t gain) {
        if constexpr (AdaptGain == 0) {
            return p;
        } else {
            return (p * gain + (1 << (GainShift - 1))) >> GainShift;
        }
    }

    static int32_t attenuationDrop(int32_t level) {
        if (level <= 64) return 0;
        if (level <= 128) return 1;
        if (level <= 192) return 2;
        if (level <= 256) return 3;
        if (level <= 378) return 4;
        if (level <= 512) return 5;
        return 6;
    }

    std::unique_ptr<Inner> predictorA;
    std::unique_ptr<Inner> predictorB;
    int32_t callCount = 0;
    int32_t lastOutput = 0;
    int32_t gainA;
    int32_t gainB;
    int32_t attenuation = AttenBase;
    int16_t lastA = 0;
    int16_t lastB = 0;
    MovingSumRing<4096> errorLevel;
};
