#pragma once
#include <cstdint>
#include <memory>

#include "pipeline/Transform.h"

// The stage of every generation-02 predictor: two inner predictors of one kind.
// With two channels they take turns over the interleaved block (predictorB the
// first sample of each pair, predictorA the second), each told the other
// channel's newest sample; with any other count only predictorA runs. A non-zero
// gainShift scales each inner prediction by an adaptive gain, and every stage
// prediction is finally scaled by 121/128.
class StereoPredictor : public PredictorI {
public:
    // Takes ownership of both inner predictors; gainShift lies in 0 .. 31.
    StereoPredictor(int32_t channels, PredictorI* predictorA, PredictorI* predictorB, int32_t gainShift);

    // `side` is not read: a stage is always called with 0.
    int32_t predict(int16_t previous, int16_t side) override;

private:
    void adaptGain(int32_t& gain, int32_t gainMax, int32_t d) const;
    void scaleGains(bool up);

    std::unique_ptr<PredictorI> predictorA;
    std::unique_ptr<PredictorI> predictorB;
    int32_t callCount = 0;
    int32_t lastOutput = 0;
    int32_t channels;
    bool adaptGains;
    int16_t lastA = 0;
    int16_t lastB = 0;
    int32_t gainA;
    int32_t gainB;
    int32_t gainShift;
    int32_t gainMaxA;
    int32_t gainMaxB;
};
