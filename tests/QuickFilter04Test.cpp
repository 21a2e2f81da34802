#include <gtest/gtest.h>

#include "pipeline/filters/QuickFilter04.h"

TEST(QuickFilter04, FirstTwoCallsStepByStep) {
    QuickFilter04<1, 14, 16, 16> f;
    // Call 1: the compressed history is all 0, so no weight moves; the difference
    // 1000 - 0 lands at H[-3]; (49 * 1000 + 118 * 1000 + 8192) >> 14 = 10.
    EXPECT_EQ(f.predict(1000, 0), 10);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(f.weightAt(i), quickInitialWeights04[i]) << i;
    for (int j = 0; j <= 15; ++j) {
        const bool set = j == 0 || j == 3;
        EXPECT_EQ(f.historyAt(-j), set ? 1000 : 0) << j;
        EXPECT_EQ(f.compressedAt(-j), set ? -1 : 0) << j;
    }
    // Call 2: e = 990, level 65536 + 1000 + 1024 gives the divisor 32, q = 30, and
    // the magnitude trunc(ln(37.5)^2 + 1) = 14 moves the two weights under Hc = -1.
    // The new window holds 1000, 1000, 0, difference 0, then the old difference 1000.
    EXPECT_EQ(f.predict(1000, 0), ((49 + 14) * 1000 + 57 * 1000 + 196 * 1000 + 8192) >> 14);
    EXPECT_EQ(f.weightAt(15), 49 + 14);
    EXPECT_EQ(f.weightAt(12), 118 + 14);
    EXPECT_EQ(f.historyAt(-3), 0);
    EXPECT_EQ(f.historyAt(-4), 1000);
    EXPECT_EQ(f.compressedAt(-4), -1);
}

TEST(QuickFilter04, StereoWindowKeepsOwnAndSideHalvesApart) {
    QuickFilter04<2, 14, 16, 16> f;
    // Own part weighted by entries 16..31, side part by entries 0..15.
    EXPECT_EQ(f.predict(1000, 500), (78 * 1000 + 253 * 1000 + 49 * 500 + 118 * 500 + 8192) >> 14);
    EXPECT_EQ(f.historyAt(0), 1000);
    EXPECT_EQ(f.historyAt(-3), 1000);
    EXPECT_EQ(f.historyAt(-16), 500);
    EXPECT_EQ(f.historyAt(-19), 500);
    EXPECT_EQ(f.compressedAt(-16), -1);
    EXPECT_EQ(f.compressedAt(-19), -1);
    // Older compressed differences are halved once from position -6 (-22) on.
    for (int call = 0; call < 8; ++call) f.predict(static_cast<int16_t>(-5000 * (call % 2)), 6000);
    // Differences of +-5000 compress to -+3 (1025..3000 -> 2, 3001..5000 -> 3).
    EXPECT_EQ(f.compressedAt(-5), 3);  // the difference -5000 of call 7: not yet halved
    EXPECT_EQ(f.compressedAt(-6), -3 >> 1);
    EXPECT_EQ(f.compressedAt(-7), 3 >> 1);
    EXPECT_EQ(f.historyAt(-19), 0);  // the side stays at 6000
    EXPECT_EQ(f.compressedAt(-16), -4);  // c(6000)
}

TEST(QuickFilter04, ExtremeErrorsSaturateAndStayInsideTheTables) {
    // Full-scale square waves push e and q to the ends of the tables; the round
    // trip through the predictor frame must still be exact.
    SampleBlock v;
    for (int i = 0; i < 20000; ++i) v.push_back((i / 3) % 2 ? int16_t{32767} : int16_t{-32768});
    const SampleBlock original = v;
    QuickFilter04<1, 14, 16, 16> encoder, decoder;
    encoder.transformFast(v);
    decoder.inverseTransformFast(v);
    EXPECT_EQ(v, original);
}
