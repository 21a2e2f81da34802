#include "pipeline/filters/BigFilter02.h"

#include <algorithm>

#include "foundation/Arith.h"
#include "pipeline/filters/LookupTables.h"
#include "pipeline/filters/VectorKernels.h"

namespace {

constexpr int32_t kErrorLevelLength = 512;

int32_t checkedTaps(int32_t taps) {
    if (taps < 1 || taps % 16 != 0) throw 1;
    return taps;
}

// Entries 4 and 8 pushes old lose half their weight as they pass.
void ageCompressed(PhaseBuffer& b) {
    b[-4] = static_cast<int16_t>(b[-4] >> 1);
    b[-8] = static_cast<int16_t>(b[-8] >> 1);
}

// The step for an absolute error a against the mean absolute error m.
int32_t stepFor(int32_t a, int32_t m) {
    if (a > 8 * m + 2048) return 8;
    if (a > 2 * m + 512) return 6;
    if (a > m + 256) return 4;
    if (a > m / 8 + 32) return 2;
    return 1;
}

}  // namespace

PhaseHistory02::PhaseHistory02(int32_t window, int32_t phases) : phases(phases) {
    buffers.reserve(static_cast<size_t>(phases));
    for (int32_t i = 0; i < phases; ++i) buffers.emplace_back(std::max(window, 128), window);
}

// Starts a new sum in the buffer whose turn it is and adds v to the newest sum of
// every buffer. With one phase this is a plain push of v.
void PhaseHistory02::push(int16_t v) {
    buffers.at(static_cast<size_t>(phase)).push(0);
    phase = (phase + 1) % phases;
    for (PhaseBuffer& b : buffers) b[0] = static_cast<int16_t>(b[0] + v);
}

BigFilter02::BigFilter02(int32_t channels, int32_t taps, int32_t shift, int32_t phases, int32_t sideShift)
    : taps(checkedTaps(taps)),
      channels(channels),
      outShift(shift - 3),
      phases(phases),
      sideShift(sideShift),
      useMmx(mmxAvailable()),
      ownHistory(taps, phases),
      sideHistory(taps, phases),
      ownCompressed(taps, phases),
      sideCompressed(taps, phases),
      ownWeights(static_cast<size_t>(taps), 0),
      sideWeights(static_cast<size_t>(taps), 0) {
    buildBigCompressTable02();
    for (int i = 0; i < 64; ++i) errorLevel.push(1024);
}

// Samples always lie inside the table. Summed histories take the table's
// multiples of 4 as 1 .. 6.
int16_t BigFilter02::compress(int16_t sample) const {
    const int16_t c = bigCompressTable02[static_cast<size_t>(sample + 65536)];
    return phases >= 2 ? static_cast<int16_t>(c >> 2) : c;
}

// Steps the weights from the compressed history that produced the last
// prediction, then pushes this call's values.
void BigFilter02::adapt(int16_t previous, int16_t side) {
    const int32_t e = previous - lastPrediction;
    const int32_t a = wrapAbs(e);
    errorLevel.push(a);
    int32_t k = stepFor(a, errorLevel.sum / kErrorLevelLength);
    if (e < 0) k = -k;

    updateWeights(ownWeights.data(), ownCompressed.currentBuffer().window(), taps, k, useMmx);
    if (channels == 2)
        updateWeights(sideWeights.data(), sideCompressed.currentBuffer().window(), taps, k, useMmx);

    ownCompressed.push(compress(previous));
    ownHistory.push(previous);
    if (channels == 2) {
        sideCompressed.push(compress(side));
        sideHistory.push(side);
    }
    if (phases == 1) {
        ageCompressed(ownCompressed.currentBuffer());
        if (channels == 2) ageCompressed(sideCompressed.currentBuffer());
    }
}

int32_t BigFilter02::predict(int16_t previous, int16_t side) {
    // The first call has no prediction to learn from and only predicts (0).
    if (callCount != 0) adapt(previous, side);
    int32_t dot = dotProduct(ownHistory.currentBuffer().window(), ownWeights.data(), taps, useMmx);
    if (channels == 2)
        dot += dotProduct(sideHistory.currentBuffer().window(), sideWeights.data(), taps, useMmx) >> sideShift;
    ++callCount;
    lastPrediction = (dot + (1 << (outShift - 1))) >> outShift;
    return lastPrediction;
}
