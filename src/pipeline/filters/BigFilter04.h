#pragma once
#include <algorithm>
#include <array>
#include <cstdint>

#include "foundation/Arith.h"
#include "pipeline/Transform.h"
#include "pipeline/filters/History.h"
#include "pipeline/filters/LookupTables.h"
#include "pipeline/filters/VectorKernels.h"

// Input gain of the compression from the slow error level L, in units of 1/16384:
// 16384 * max(1, 36 / (L * 5/24 + 1.5)), as the exact integer form (a plain
// double evaluation is one off at L = 44). Quiet signals get up to 24 times more
// gain; a wrapped (negative) level from -7 on gives the larger gains too.
inline int32_t bigFilterScale04(int32_t level) {
    if (level < -7 || level > 165) return 16384;
    return 14155776 / (5 * level + 36);
}

// The long LMS predictor of generation 04 over Taps samples of the own channel
// (and, with two channels, Taps samples of the other). The update has the sign
// of the error and a magnitude from bigUpdateTable04 by the error times a step
// that follows a fast mean of |error|; it multiplies a compressed copy of the
// history whose older entries are halved as they age, so recent inputs weigh
// more. The 16-tap filters hold first differences after the two newest samples.
template <int Channels, int Taps, int Precision>
class BigFilter04 final : public PredictorI {
    static_assert(Channels == 1 || Channels == 2);
    static_assert(Taps == 16 || Taps == 96 || (Taps == 512 && Channels == 1));
    static constexpr int N = Channels * Taps;

public:
    BigFilter04() : kernels(filterKernels(mmxAvailable())) {
        buildBigCompressTable04();
        buildBigUpdateTable04();
        buildBigStepTable04();
    }

    int32_t predict(int16_t previous, int16_t side) override {
        if (callCount == 0) {
            callCount = 1;
            lastOwn = previous;
            lastSide = side;
            lastPrediction = 0;
            return 0;
        }
        const int32_t e = previous - lastPrediction;
        const int32_t a = wrapAbs(e);
        fastError = ((fastError * 63) >> 6) + a;
        slowError = ((slowError * 1023) >> 10) + a;
        if ((callCount & 3) == 0) step = bigStepTable04[bigStepIndex04(fastError)];
        if ((callCount & 255) == 0) {
            scale = bigFilterScale04((slowError + 512) >> 10);
            for (int16_t& w : weights) w = static_cast<int16_t>(std::clamp<int32_t>(w, -24000, 24000));
        }
        const int32_t u = bigUpdateTable04[std::clamp(((step * e + 16384) >> 15) + 16384, 0, 32767)];
        // The update reads the compressed history as it was before this call's push;
        // the prediction reads the sample history after it and the updated weights.
        const int16_t* compressedBefore = compressedHistory.window();

        RollingBuffer<int16_t, N>& h = history;
        h.push(previous);
        if constexpr (Channels == 2) h[-Taps] = side;
        if constexpr (Taps == 16) {
            h[-2] = saturate16(previous - lastOwn);
            if constexpr (Channels == 2) h[-18] = saturate16(side - lastSide);
        } else if constexpr (Taps == 96) {
            halve(h, {-40});
            if constexpr (Channels == 2) halve(h, {-136});
        }
        const int32_t mu = withSignOf(e, u);
        const int32_t sum = kernels.updateDotProduct(weights.data(), compressedBefore, h.window(), N, mu);

        RollingBuffer<int16_t, N>& hc = compressedHistory;
        hc.push(compress(previous));
        if constexpr (Channels == 2) hc[-Taps] = compress(side);
        if constexpr (Taps == 16) {
            hc[-2] = compress(h[-2]);
            if constexpr (Channels == 2) hc[-18] = compress(h[-18]);
            halve(hc, {-4, -6});
            if constexpr (Channels == 2) halve(hc, {-20, -22});
        } else {
            halve(hc, {-2, -4, -8, -20});
            if constexpr (Taps == 96 && Channels == 2) halve(hc, {-98, -100, -104, -116});
        }

        ++callCount;
        lastOwn = previous;
        lastSide = side;
        lastPrediction = (sum + (1 << (Precision + 6))) >> (Precision + 7);
        return lastPrediction;
    }

    int32_t currentStep() const { return step; }
    int32_t currentScale() const { return scale; }
    int16_t weightAt(int i) const { return weights[i]; }
    int16_t historyAt(int j) const { return history[j]; }
    int16_t compressedAt(int j) const { return compressedHistory[j]; }

    // The compressed value of y at the current scale.
    int16_t compress(int16_t y) const {
        const int32_t j = std::clamp(((scale * y + 8192) >> 14) + 65536, 0, 131071);
        const int16_t c = bigCompressTable04[j];
        return Taps == 16 ? static_cast<int16_t>(c >> 2) : c;
    }

private:
    static void halve(RollingBuffer<int16_t, N>& buffer, std::initializer_list<int> positions) {
        for (const int j : positions) buffer[j] = static_cast<int16_t>(buffer[j] >> 1);
    }

    int32_t step = 512;
    int16_t lastOwn = 0;
    int16_t lastSide = 0;
    int32_t scale = 16384;
    int32_t lastPrediction = 0;
    int32_t callCount = 0;
    const FilterKernels kernels;
    int32_t fastError = 1024;
    int32_t slowError = 1024;
    RollingBuffer<int16_t, N> history;
    RollingBuffer<int16_t, N> compressedHistory;
    alignas(64) std::array<int16_t, N> weights{};  // aligned: the kernels load it whole
};
