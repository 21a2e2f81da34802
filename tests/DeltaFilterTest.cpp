#include <gtest/gtest.h>

#include "pipeline/filters/DeltaFilter.h"

TEST(DeltaFilter, FixedScalingFloors) {
    struct Case {
        int16_t previous;
        int32_t by31, by32;
    };
    const Case cases[] = {
        {100, 96, 100}, {-100, -97, -100}, {32767, 31743, 32767}, {-32768, -31744, -32768}, {0, 0, 0}, {-1, -1, -1},
    };
    for (const Case& c : cases) {
        DeltaFilter<31, 5> f31;
        DeltaFilter<32, 5> f32;
        EXPECT_EQ(f31.predict(c.previous, 1234), c.by31) << c.previous;
        EXPECT_EQ(f32.predict(c.previous, 1234), c.by32) << c.previous;
    }
}

TEST(DeltaFilter04, ConstantInputIsPredictedExactly) {
    for (const int16_t c : {int16_t{0}, int16_t{5000}, int16_t{-32768}, int16_t{32767}}) {
        DeltaFilter04 f;
        for (int call = 1; call <= 300; ++call) {
            ASSERT_EQ(f.predict(c, 0), c) << "value " << c << " call " << call;
            ASSERT_EQ(f.currentFactor(), 256);
        }
    }
}

TEST(DeltaFilter04, FactorFallsWithRoughnessEverySixteenCalls) {
    // Alternating +-10000: the factor is chosen at calls 1, 17, 33, ... from the
    // decaying mean second difference, and already applies to that call.
    struct Stretch {
        int firstCall, lastCall, factor, predictionOf10000;
    };
    const Stretch stretches[] = {
        {1, 16, 256, 10000}, {17, 32, 254, 9922}, {33, 48, 250, 9766}, {49, 224, 248, 9688}, {225, 400, 246, 9609},
    };
    DeltaFilter04 f;
    int call = 0;
    for (const Stretch& s : stretches) {
        for (; call < s.lastCall;) {
            ++call;
            const int16_t previous = (call % 2 == 1) ? 10000 : -10000;
            const int32_t p = f.predict(previous, 0);
            ASSERT_EQ(f.currentFactor(), s.factor) << "call " << call;
            if (previous == 10000) ASSERT_EQ(p, s.predictionOf10000) << "call " << call;
            else ASSERT_EQ(p, (s.factor * -10000 + 128) >> 8) << "call " << call;
        }
    }
}

TEST(DeltaFilter04, RoundTripsThroughThePredictorFrame) {
    SampleBlock v;
    for (int i = 0; i < 5000; ++i) v.push_back(static_cast<int16_t>((i * 7919) % 65536 - 32768));
    const SampleBlock original = v;
    DeltaFilter04 encoder, decoder;
    encoder.transformFast(v);
    EXPECT_NE(v, original);
    decoder.inverseTransformFast(v);
    EXPECT_EQ(v, original);
}
