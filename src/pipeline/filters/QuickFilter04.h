#pragma once
#include <algorithm>
#include <array>
#include <cstdint>

#include "foundation/Arith.h"
#include "pipeline/Transform.h"
#include "pipeline/filters/History.h"
#include "pipeline/filters/LookupTables.h"
#include "pipeline/filters/VectorKernels.h"

// Starting weights of the short filter: the mono filter takes entries 0..15, the
// stereo filter all 32 (0..15 weigh the side half, 16..31 the own half).
inline constexpr std::array<int16_t, 32> quickInitialWeights04 = {
    38,  39,  246, 133, 151, 21,  173, 29, 210, 148, 221, 196, 118, 25, 57,  49,
    241, 173, 181, 88,  240, 147, 151, 50, 25,  43,  209, 192, 253, 22, 142, 78};

// The short sign-sign LMS predictor of generation 04. Its window holds the own
// channel's three newest samples and thirteen first differences (in stereo also
// the same of the other channel). The update magnitude comes from the error
// scaled to the mean error of the last 2048 samples; every 128 calls the weights
// are clamped to a limit that grows with that mean error.
template <int Channels, int OutShift, int OwnTaps, int SideTaps>
class QuickFilter04 final : public PredictorI {
    static_assert(Channels == 1 || Channels == 2);
    static_assert(OwnTaps == 16 && SideTaps == 16, "the window layout is built for 16 + 16 taps");
    static constexpr int N = 16 * Channels;

public:
    QuickFilter04() : kernels(filterKernels(mmxAvailable())) {
        std::copy_n(quickInitialWeights04.begin(), N, weights.begin());
        buildQuickCompressTable04();
        buildQuickMagnitudeTable04();
        for (int i = 0; i < 64; ++i) errorLevel.push(1024);
    }

    int32_t predict(int16_t previous, int16_t side) override {
        const int32_t e = saturate16(previous - lastPrediction);
        const int32_t level = errorLevel.sum + 1024;
        errorLevel.push(wrapAbs(e));

        // |e| <= 2^15 and the divisor stays below 2^14 (the level is at most 2048 * 32768 + 1024).
        const int32_t q = divisor.divide(e, (level >> 13) + 24);
        const int32_t u = quickMagnitudeTable04[std::clamp(q + 8192, 0, 16383)];
        const int32_t v = withSignOf(e, u);
        // The update reads the compressed history before this call's push, the
        // prediction the sample history after it.
        const int16_t* compressedBefore = compressedHistory.window();

        RollingBuffer<int16_t, N>& h = history;
        h.push(previous);
        h[-3] = saturate16(h[0] - h[-1]);
        if constexpr (Channels == 2) {
            h[-16] = side;
            h[-19] = saturate16(h[-16] - h[-17]);
        }
        const int32_t sum = kernels.updateDotProduct(weights.data(), compressedBefore, h.window(), N, v);
        lastPrediction = (sum + (1 << (OutShift - 1))) >> OutShift;

        RollingBuffer<int16_t, N>& hc = compressedHistory;
        hc.push(compress(previous));
        hc[-3] = compress(h[-3]);
        hc[-6] = static_cast<int16_t>(hc[-6] >> 1);
        if constexpr (Channels == 2) {
            hc[-16] = compress(side);
            hc[-19] = compress(h[-19]);
            hc[-22] = static_cast<int16_t>(hc[-22] >> 1);
        }

        if ((callCount++ & 127) == 0) clampWeights(weightLimit(level >> 11));
        return lastPrediction;
    }

    int16_t weightAt(int i) const { return weights[i]; }
    int16_t historyAt(int j) const { return history[j]; }
    int16_t compressedAt(int j) const { return compressedHistory[j]; }

private:
    static int16_t compress(int16_t y) { return quickCompressTable04[y + 131072]; }

    static int32_t weightLimit(int32_t lvl) {
        if (lvl < 32) return 6000;
        if (lvl < 64) return 8000;
        if (lvl < 128) return 10000;
        if (lvl <= 256) return 12000;
        if (lvl <= 512) return 14000;
        if (lvl <= 1024) return 16000;
        return 18000;
    }

    void clampWeights(int32_t limit) {
        for (int16_t& w : weights) w = static_cast<int16_t>(std::clamp<int32_t>(w, -limit, limit));
    }

    MovingSumRing<2048> errorLevel;
    RollingBuffer<int16_t, N> history;
    RollingBuffer<int16_t, N> compressedHistory;
    alignas(64) std::array<int16_t, N> weights{};  // aligned: the kernels load it whole
    int32_t lastPrediction = 0;
    int32_t callCount = 0;
    SlowDivisor divisor;
    const FilterKernels kernels;
};
