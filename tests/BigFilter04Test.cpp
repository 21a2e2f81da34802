#include <gtest/gtest.h>

#include <climits>
#include <utility>
#include <vector>

#include "pipeline/filters/BigFilter04.h"

namespace {
struct Entry {
    int position;
    int value;
};
}  // namespace

TEST(BigFilter04, ScaleFromSlowErrorLevel) {
    const std::pair<int32_t, int32_t> cases[] = {
        {0, 393216},      {1, 345262}, {12, 147456}, {44, 55296},       {100, 26410},   {165, 16441},
        {166, 16384},     {5000, 16384}, {-1, 456637}, {-7, 14155776}, {-8, 16384}, {INT32_MIN, 16384},
    };
    for (const auto& [level, scale] : cases) EXPECT_EQ(bigFilterScale04(level), scale) << level;
}

TEST(BigFilter04, StepIndexStaysInsideTheTable) {
    const std::pair<int32_t, int32_t> cases[] = {
        {0, 0},           {31, 0},         {32, 1},      {1024, 16},
        {4194239, 65535}, {4194272, 65535}, {INT32_MAX, 0},  // + 32 wraps negative
        {-33, 0},         {INT32_MIN, 0},  // only reachable after a wrapped 63 * fastError
    };
    for (const auto& [fastError, index] : cases) EXPECT_EQ(bigStepIndex04(fastError), index) << fastError;
}

TEST(BigFilter04, SilenceAdaptsOnlyStepAndScale) {
    BigFilter04<1, 512, 9> f;
    BigFilter04<1, 16, 4> f16;
    EXPECT_EQ(f.compress(1000), -48);
    EXPECT_EQ(f16.compress(1000), -12);
    for (int call = 1; call <= 800; ++call) {
        ASSERT_EQ(f.predict(0, 0), 0);
        f16.predict(0, 0);
        // fastError decays 1024, 1008, 992, 976, 960: the step is first looked up at call 5.
        if (call <= 4) {
            ASSERT_EQ(f.currentStep(), 512) << call;
        } else if (call == 5) {
            ASSERT_EQ(f.currentStep(), bigStepTable04[15]);
        }
        // slowError decays toward 0: level 1 at call 257, level 0 at call 769.
        ASSERT_EQ(f.currentScale(), call < 257 ? 16384 : (call < 769 ? 345262 : 393216)) << call;
    }
    for (int i = 0; i < 512; ++i) ASSERT_EQ(f.weightAt(i), 0);
    // At 24 times the gain, products beyond the int32 range wrap before the index
    // is clamped: 5461 still compresses as a large positive value, 5462 as a large negative one.
    const std::pair<int16_t, int16_t> compressed[] = {{0, 0}, {1000, -96}, {-1000, 96}, {5461, -96}, {5462, 96}};
    for (const auto& [y, c] : compressed) {
        EXPECT_EQ(f.compress(y), c) << y;
        EXPECT_EQ(f16.compress(y), c >> 2) << y;
    }
}

TEST(BigFilter04, FirstCallReturnsZeroAndPushesNothing) {
    BigFilter04<2, 96, 7> f;
    EXPECT_EQ(f.predict(12345, -999), 0);
    EXPECT_EQ(f.historyAt(0), 0);
    EXPECT_EQ(f.historyAt(-96), 0);
    EXPECT_EQ(f.compressedAt(0), 0);
}

TEST(BigFilter04, SixteenTapWindowHoldsDifferencesAfterTwoSamples) {
    BigFilter04<2, 16, 4> f;
    const std::pair<int16_t, int16_t> calls[] = {{100, -50}, {300, 50}, {250, 60}, {250, 60}};
    for (const auto& [own, side] : calls) f.predict(own, side);
    // The second call's difference is taken against the first call's sample even
    // though that sample was never pushed.
    const Entry history[] = {{0, 250},  {-1, 250}, {-2, 0},   {-3, -50}, {-4, 200},  {-5, 0},
                             {-16, 60}, {-17, 60}, {-18, 0}, {-19, 10}, {-20, 100}, {-21, 0}};
    for (const Entry& e : history) EXPECT_EQ(f.historyAt(e.position), e.value) << e.position;
    // Compressed values at scale 16384, shifted right by 2; halved at -4 and -20.
    const Entry compressed[] = {{0, -4},   {-1, -4},  {-2, 0},   {-3, 4},   {-4, -2},
                                {-16, -4}, {-17, -4}, {-18, 0}, {-19, -2}, {-20, -2}};
    for (const Entry& e : compressed) EXPECT_EQ(f.compressedAt(e.position), e.value) << e.position;
}

TEST(BigFilter04, LongFiltersHalveAgeingEntries) {
    BigFilter04<1, 96, 6> mono;
    BigFilter04<2, 96, 7> stereo;
    BigFilter04<1, 512, 9> long512;
    for (int call = 0; call < 50; ++call) {  // 49 pushes after the first call
        mono.predict(1000, 0);
        stereo.predict(1000, 2000);
        long512.predict(1000, 2000);
    }
    // c(1000) = -48, c(2000) = -64: halved at -2, -4, -8 and -20 (side: -98, -100, -104, -116).
    const Entry compressedOwn[] = {{0, -48}, {-1, -48}, {-2, -24}, {-3, -24}, {-4, -12}, {-7, -12},
                                   {-8, -6}, {-19, -6}, {-20, -3}, {-48, -3}, {-49, 0}};
    for (const Entry& e : compressedOwn) {
        EXPECT_EQ(mono.compressedAt(e.position), e.value) << e.position;
        EXPECT_EQ(stereo.compressedAt(e.position), e.value) << e.position;
        EXPECT_EQ(long512.compressedAt(e.position), e.value) << e.position;
    }
    const Entry compressedSide[] = {{-96, -64}, {-97, -64}, {-98, -32},  {-99, -32},  {-100, -16},
                                    {-103, -16}, {-104, -8}, {-115, -8}, {-116, -4}, {-144, -4}, {-145, 0}};
    for (const Entry& e : compressedSide) EXPECT_EQ(stereo.compressedAt(e.position), e.value) << e.position;
    // The 96-tap filters also halve the raw samples from -40 (side: -136) on; the 512-tap one does not.
    const Entry raw[] = {{-39, 1000}, {-40, 500}, {-48, 500}, {-49, 0}};
    for (const Entry& e : raw) {
        EXPECT_EQ(mono.historyAt(e.position), e.value) << e.position;
        EXPECT_EQ(stereo.historyAt(e.position), e.value) << e.position;
    }
    EXPECT_EQ(long512.historyAt(-40), 1000);
    const Entry rawSide[] = {{-96, 2000}, {-135, 2000}, {-136, 1000}, {-144, 1000}, {-145, 0}};
    for (const Entry& e : rawSide) EXPECT_EQ(stereo.historyAt(e.position), e.value) << e.position;
}

TEST(BigFilter04, RoundTripsFullScaleNoiseThroughEveryConfiguration) {
    // Loud random input wraps the compression products and the error sums; the
    // decoder must follow the encoder exactly all the same.
    SampleBlock noise;
    uint32_t x = 12345;
    for (int i = 0; i < 30000; ++i) {
        x = x * 1664525u + 1013904223u;
        noise.push_back(static_cast<int16_t>(x >> 16));
    }
    auto roundTrip = [&noise](auto encoder, auto decoder) {
        SampleBlock v = noise;
        encoder->transformFast(v);
        decoder->inverseTransformFast(v);
        delete encoder;
        delete decoder;
        return v == noise;
    };
    EXPECT_TRUE(roundTrip(new BigFilter04<1, 16, 4>, new BigFilter04<1, 16, 4>));
    EXPECT_TRUE(roundTrip(new BigFilter04<2, 16, 9>, new BigFilter04<2, 16, 9>));
    EXPECT_TRUE(roundTrip(new BigFilter04<1, 96, 6>, new BigFilter04<1, 96, 6>));
    EXPECT_TRUE(roundTrip(new BigFilter04<2, 96, 7>, new BigFilter04<2, 96, 7>));
    EXPECT_TRUE(roundTrip(new BigFilter04<1, 512, 9>, new BigFilter04<1, 512, 9>));
}

TEST(BigFilter04, FirstThreeCallsStepByStep) {
    BigFilter04<1, 16, 4> f;
    EXPECT_EQ(f.predict(0, 0), 0);
    // Call 2: e = 1000 with the initial step 512: ((512 * 1000 + 16384) >> 15) + 16384
    // = 16400, u = trunc(ln 80 * ln(e + 2)) = 6; the compressed history is still 0,
    // so no weight moves. c(1000) = -48 >> 2 = -12 lands at Hc[0] and, as the
    // difference 1000 - 0, at Hc[-2].
    EXPECT_EQ(f.predict(1000, 0), 0);
    EXPECT_EQ(f.compressedAt(0), -12);
    EXPECT_EQ(f.compressedAt(-2), -12);
    // Call 3: e = 1000 again (the step is first refreshed at call 5), so the two
    // weights under -12 become 72; the new window is 1000, 1000, difference 0, and
    // (72 * 1000 + 1024) >> 11 = 35.
    EXPECT_EQ(f.predict(1000, 0), 35);
    EXPECT_EQ(f.weightAt(15), 72);
    EXPECT_EQ(f.weightAt(13), 72);
    EXPECT_EQ(f.weightAt(14), 0);
    EXPECT_EQ(f.weightAt(12), 0);
    EXPECT_EQ(f.historyAt(-2), 0);
    EXPECT_EQ(f.historyAt(-3), 1000);
}
