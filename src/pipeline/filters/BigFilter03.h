#pragma once
#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "foundation/Arith.h"
#include "pipeline/Transform.h"
#include "pipeline/filters/History.h"
#include "pipeline/filters/LookupTables.h"
#include "pipeline/filters/PhaseHistory.h"
#include "pipeline/filters/VectorKernels.h"

// The step of the long generation-03 filter for error e and error scale
// stepScale (at least 32): bigStepTable03 by e / stepScale, signed against e,
// +1 for an exact prediction. An intact stream keeps the quotient inside the
// table; a prediction driven far off by damaged data takes the step of the
// table's nearest end.
inline int32_t bigFilter03Step(int32_t e, int32_t stepScale) {
    const int32_t index = std::clamp(e / stepScale + 4096, 0, 8191);
    const int32_t t = bigStepTable03[static_cast<size_t>(index)];
    return e < 0 ? -t : t;
}

// The long predictor of generation-03 chains: a sign-sign LMS filter with int16
// weights over the last Taps entries of its own channel and, with Channels = 2,
// as many of the other channel. The step comes from bigStepTable03 by the error
// relative to the mean absolute error of the last 256 calls; the update
// multiplies it by bigCompressTable02 values of the history. With Phases = 1
// the compressed entries are halved as they age (and the 256-tap filter gives
// its oldest weight the error level instead of a sample); with Phases > 1 the
// histories are decimated, so that Taps entries span Taps * Phases samples.
template <int Channels, int Taps, int OutShift, int Phases, int SideShift>
class BigFilter03 : public PredictorI {
    static_assert(Channels == 1 || Channels == 2, "own channel, optionally one side channel");
    static_assert(Taps % 16 == 0, "the kernels run whole steps of 16");

public:
    BigFilter03() : ownWeights(Taps, 0), sideWeights(Channels == 2 ? Taps : 0, 0) {
        buildBigCompressTable02();
        buildBigStepTable03();
        for (int i = 0; i < 64; ++i) errorLevel.push(1024);
        useMmx = mmxAvailable();
    }

    int32_t predict(int16_t previous, int16_t side) override {
        // The first call has no prediction to learn from.
        if (callCount != 0) adapt(previous, side);
        int32_t d = dotProduct(window(ownHistory), ownWeights.data(), Taps, useMmx);
        if constexpr (Channels == 2) d += dotProduct(window(sideHistory), sideWeights.data(), Taps, useMmx) >> SideShift;
        const int32_t p = (d + (1 << (OutShift - 1))) >> OutShift;
        ++callCount;
        lastPrediction = p;
        return p;
    }

private:
    using History = std::conditional_t<Phases == 1, RollingBuffer<int16_t, Taps>, PhaseHistory03<Taps, Phases>>;

    static int16_t* window(History& h) {
        if constexpr (Phases == 1) return h.window();
        else return h.currentBuffer().window();
    }

    static int16_t compress(int16_t x) { return bigCompressTable02[static_cast<size_t>(x + 65536)]; }

    // Moves the weights by the compressed entries that formed the last
    // prediction, then pushes this call's sample and side value.
    void adapt(int16_t previous, int16_t side) {
        const int32_t e = previous - lastPrediction;
        errorLevel.push(wrapAbs(e));
        if (callCount % 8 == 0) stepScale = (errorLevel.sum >> 11) + 32;
        const int32_t step = bigFilter03Step(e, stepScale);
        updateWeights(ownWeights.data(), window(ownCompressed), Taps, step, useMmx);
        if constexpr (Channels == 2) updateWeights(sideWeights.data(), window(sideCompressed), Taps, step, useMmx);
        ownCompressed.push(compress(previous));
        ownHistory.push(previous);
        if constexpr (Channels == 2) {
            sideCompressed.push(compress(side));
            sideHistory.push(side);
        }
        if constexpr (Phases == 1) {
            age(ownCompressed);
            if constexpr (Channels == 2) age(sideCompressed);
            if constexpr (Taps == 256) {
                // The oldest weight learns from the mean error of the last 256 calls.
                const int32_t level = errorLevel.sum >> 8;
                ownHistory[-255] = static_cast<int16_t>(level);
                ownCompressed[-255] = static_cast<int16_t>(level > 0 ? -1 : 0);
            }
        }
    }

    // Halves each compressed entry at ages 3 and 8, and at age 24 unless it has
    // fallen to a magnitude of 1 or 0, so that no entry once non-zero becomes 0.
    static void age(History& compressed) {
        compressed[-3] = static_cast<int16_t>(compressed[-3] >> 1);
        compressed[-8] = static_cast<int16_t>(compressed[-8] >> 1);
        if (wrapAbs(compressed[-24]) > 1) compressed[-24] = static_cast<int16_t>(compressed[-24] >> 1);
    }

    int32_t stepScale = 64;
    int32_t lastPrediction = 0;
    int32_t callCount = 0;
    bool useMmx = false;
    MovingSumRing<256> errorLevel;
    History ownHistory;
    History sideHistory;
    History ownCompressed;
    History sideCompressed;
    std::vector<int16_t> ownWeights;
    std::vector<int16_t> sideWeights;
};
