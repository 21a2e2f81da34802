#include "pipeline/filters/QuickFilter02.h"

#include <algorithm>

#include "pipeline/filters/LookupTables.h"

namespace {

constexpr int32_t kTableCentre = 131072;

// The step for an error e. The table covers -131072 .. 131071, which every error
// of an intact stream meets (a prediction within +-98304 of zero); damaged input
// can push the prediction further, and such an error takes the step of the
// table's nearest end.
int32_t stepFor(int32_t e) {
    return quickStepTable02[static_cast<size_t>(std::clamp(e, -kTableCentre, kTableCentre - 1) + kTableCentre)];
}

// Samples and differences of two samples always lie inside the table.
int32_t compress(int32_t v) { return quickCompressTable02[static_cast<size_t>(v + kTableCentre)]; }

}  // namespace

QuickFilter02::QuickFilter02(int32_t channels, int32_t shift, int32_t ownTaps, int32_t sideTaps)
    : ownTaps(ownTaps), sideTaps(sideTaps), channels(channels), outShift(shift + 1) {
    buildQuickStepTable02();
    buildQuickCompressTable02();
}

void QuickFilter02::adapt(Weights& weights, const History& compressed, int32_t taps, int32_t q) {
    for (int32_t i = 0; i < taps; ++i) weights[static_cast<size_t>(i)] += q * compressed[-i];
}

// Pushes the new sample and turns the one before it into the newest difference.
void QuickFilter02::pushDifference(History& history, int16_t sample) {
    history.push(sample);
    history[-1] = history[0] - history[-1];
}

int32_t QuickFilter02::weightedSum(const History& history, const Weights& weights, int32_t taps) {
    int32_t acc = 0;
    for (int32_t i = 0; i < taps; ++i) acc += history[-i] * weights[static_cast<size_t>(i)];
    return acc;
}

void QuickFilter02::pushCompressed(History& compressed, const History& history) {
    compressed.push(compress(history[0]));
    compressed[-1] = compress(history[-1]);
}

int32_t QuickFilter02::predict(int16_t previous, int16_t side) {
    const int32_t q = stepFor(previous - lastPrediction);
    adapt(ownWeights, ownCompressed, ownTaps, q);
    pushDifference(ownHistory, previous);
    int32_t acc = weightedSum(ownHistory, ownWeights, ownTaps);
    if (channels == 2) {
        adapt(sideWeights, sideCompressed, sideTaps, q);
        pushDifference(sideHistory, side);
        acc += weightedSum(sideHistory, sideWeights, sideTaps);
    }
    lastPrediction = acc >> outShift;
    pushCompressed(ownCompressed, ownHistory);
    if (channels == 2) pushCompressed(sideCompressed, sideHistory);
    return lastPrediction;
}
