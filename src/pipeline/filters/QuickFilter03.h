#pragma once
#include <algorithm>
#include <array>
#include <cstdint>

#include "foundation/Arith.h"
#include "pipeline/Transform.h"
#include "pipeline/filters/History.h"
#include "pipeline/filters/LookupTables.h"

// The short predictor of generation-03 chains: a sign-sign LMS filter with
// int32 weights over the newest raw samples and the first differences before
// them, of its own channel and, with Channels = 2, of the other one. The step
// comes from quickStepTable03 by the error relative to the recent mean absolute
// error; the update multiplies it by a compressed copy of the history, raw
// samples compressed by quickHalfCompressTable03 and differences by
// quickCompressTable03.
template <int Channels, int OutShift, int OwnTaps, int SideTaps>
class QuickFilter03 : public PredictorI {
public:
    QuickFilter03() {
        buildQuickStepTable03();
        buildQuickCompressTables03();
        for (int i = 0; i < 64; ++i) errorLevel.push(1024);
    }

    int32_t predict(int16_t previous, int16_t side) override {
        const int32_t e = std::clamp(previous - lastPrediction, -kErrorLimit, kErrorLimit);
        errorLevel.push(wrapAbs(e));
        adapt(ownWeights, ownCompressed, OwnTaps, stepFor(e));
        pushSample<kOwnDiff>(ownHistory, previous);
        int32_t acc = weightedSum(ownHistory, ownWeights, OwnTaps);
        if constexpr (Channels == 2) {
            // The side update takes its step from the level after a second push.
            errorLevel.push(wrapAbs(e));
            adapt(sideWeights, sideCompressed, SideTaps, stepFor(e));
            pushSample<kSideDiff>(sideHistory, side);
            acc += weightedSum(sideHistory, sideWeights, SideTaps);
        }
        lastPrediction = acc >> OutShift;
        pushCompressed<kOwnDiff>(ownCompressed, ownHistory);
        if constexpr (Channels == 2) pushCompressed<kSideDiff>(sideCompressed, sideHistory);
        return lastPrediction;
    }

private:
    using History = RollingBuffer<int32_t, 16>;
    using Weights = std::array<int32_t, 16>;

    // The position of the newest difference: a 10-weight history keeps three
    // raw samples ahead of its differences, shorter ones keep one.
    static constexpr int kOwnDiff = OwnTaps == 10 ? 3 : 1;
    static constexpr int kSideDiff = SideTaps == 10 ? 3 : 1;
    // Clamping the error keeps the step quotient and the level sum small.
    static constexpr int32_t kErrorLimit = 100000;
    static constexpr int32_t kStepCentre = 4096;
    static constexpr int32_t kCompressCentre = 131072;

    // The error divided by the mean error level picks the step; its sign
    // opposes the error, and an exact prediction still nudges by +1. The
    // quotient lies within +-3125, inside the table.
    int32_t stepFor(int32_t e) const {
        if (e == 0) return 1;
        const int32_t t = quickStepTable03[static_cast<size_t>(e / ((errorLevel.sum >> 13) + 32) + kStepCentre)];
        return e > 0 ? -t : t;
    }

    static void adapt(Weights& weights, const History& compressed, int taps, int32_t step) {
        for (int i = 0; i < taps; ++i) weights[static_cast<size_t>(i)] += step * compressed[-i];
    }

    // Pushes the sample and turns the raw sample at Diff into the newest difference.
    template <int Diff>
    static void pushSample(History& history, int16_t sample) {
        history.push(sample);
        history[-Diff] = history[0] - history[-1];
    }

    static int32_t weightedSum(const History& history, const Weights& weights, int taps) {
        int32_t acc = 0;
        for (int i = 0; i < taps; ++i) acc += history[-i] * weights[static_cast<size_t>(i)];
        return acc;
    }

    // Samples and differences of two samples lie within +-65535, inside both tables.
    template <int Diff>
    static void pushCompressed(History& compressed, const History& history) {
        compressed.push(quickHalfCompressTable03[static_cast<size_t>(history[0] + kCompressCentre)]);
        compressed[-Diff] = quickCompressTable03[static_cast<size_t>(history[-Diff] + kCompressCentre)];
    }

    MovingSumRing<2048> errorLevel;
    History ownHistory;
    History sideHistory;
    History ownCompressed;
    History sideCompressed;
    Weights ownWeights = {343, 129, -47, 69};
    Weights sideWeights = {};
    int32_t lastPrediction = 0;
};
