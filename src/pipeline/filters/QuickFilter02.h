#pragma once
#include <array>
#include <cstdint>

#include "pipeline/Transform.h"
#include "pipeline/filters/History.h"

// The short predictor of generation-02 chains: a sign-sign LMS filter with int32
// weights over the newest sample and the first differences before it, of its own
// channel and, with two channels, of the other one. The step comes from
// quickStepTable02 by the raw error; the update multiplies it by a compressed
// copy of the history (quickCompressTable02).
class QuickFilter02 : public PredictorI {
public:
    // ownTaps and sideTaps lie in 0 .. 16; channels 2 adds the side history.
    QuickFilter02(int32_t channels, int32_t shift, int32_t ownTaps, int32_t sideTaps);

    int32_t predict(int16_t previous, int16_t side) override;

private:
    using History = RollingBuffer<int32_t, 16>;
    using Weights = std::array<int32_t, 16>;

    static void adapt(Weights& weights, const History& compressed, int32_t taps, int32_t q);
    static void pushDifference(History& history, int16_t sample);
    static int32_t weightedSum(const History& history, const Weights& weights, int32_t taps);
    static void pushCompressed(History& compressed, const History& history);

    History ownHistory;
    History sideHistory;
    History ownCompressed;
    History sideCompressed;
    Weights ownWeights = {343, 129, -47, 69};
    Weights sideWeights = {};
    int32_t ownTaps;
    int32_t sideTaps;
    int32_t lastPrediction = 0;
    int32_t channels;
    int32_t outShift;
};
