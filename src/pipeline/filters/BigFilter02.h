#pragma once
#include <cstdint>
#include <vector>

#include "pipeline/Transform.h"
#include "pipeline/filters/History.h"
#include "pipeline/filters/PhaseHistory.h"

// The error-level ring of BigFilter02: the sum of the last 512 absolute errors.
using MovingSumRing02 = MovingSumRing<512>;

// The history of BigFilter02: with one phase a plain sliding history of the
// pushed values; with P phases, P phase buffers of which the current one holds,
// newest first, the sum of the P newest inputs, the sum of the P before those,
// and so on, each sum wrapping at 16 bits.
class PhaseHistory02 {
public:
    PhaseHistory02(int32_t window, int32_t phases);

    void push(int16_t v);
    // The buffer the filter reads between pushes.
    PhaseBuffer& currentBuffer() { return buffers.at(static_cast<size_t>(phase)); }

private:
    int32_t phase = 0;  // buffer that receives the next new entry
    int32_t phases;
    std::vector<PhaseBuffer> buffers;
};

// The long predictor of generation-02 chains: a sign-sign LMS filter with int16
// weights over the last `taps` values (single samples, or sums of `phases`
// samples) of its own channel and, with two channels, of the other one. The
// step (1, 2, 4, 6 or 8) compares the current absolute error with the mean of
// the last 512; the update multiplies it by a compressed history
// (bigCompressTable02).
class BigFilter02 : public PredictorI {
public:
    // Throws the int 1 unless taps is a positive multiple of 16.
    BigFilter02(int32_t channels, int32_t taps, int32_t shift, int32_t phases, int32_t sideShift);

    int32_t predict(int16_t previous, int16_t side) override;

private:
    void adapt(int16_t previous, int16_t side);
    int16_t compress(int16_t sample) const;

    int32_t taps;
    int32_t lastPrediction = 0;
    int32_t channels;
    int32_t outShift;
    int32_t phases;
    int32_t sideShift;
    int32_t callCount = 0;
    bool useMmx;
    MovingSumRing02 errorLevel;
    PhaseHistory02 ownHistory;
    PhaseHistory02 sideHistory;
    PhaseHistory02 ownCompressed;
    PhaseHistory02 sideCompressed;
    std::vector<int16_t> ownWeights;
    std::vector<int16_t> sideWeights;
};
