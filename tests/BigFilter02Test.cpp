#include <gtest/gtest.h>

#include <vector>

#include "pipeline/filters/BigFilter02.h"

// The small filters below use 16 taps and shift 4, so a prediction is
// ((dot >> 5) + 1) >> 1 and can be followed by hand.

TEST(PhaseHistory02, SumsPhasesInputsWithWrapAround) {
    const struct { int phases; std::vector<int16_t> pushes; std::vector<int16_t> newestFirst; } cases[] = {
        {3, {10, 20, 30, 40}, {90, 10, 0}},
        {3, {20000, 20000, 20000}, {-5536, 0}},
        {1, {10, 20, 30, 40}, {40, 30, 20, 10, 0}},
        {2, {1, 2, 3, 4, 5}, {9, 5, 1, 0}},
    };
    for (const auto& c : cases) {
        PhaseHistory02 h(16, c.phases);
        for (int16_t v : c.pushes) h.push(v);
        for (size_t j = 0; j < c.newestFirst.size(); ++j)
            EXPECT_EQ(h.currentBuffer()[-static_cast<int>(j)], c.newestFirst[j]) << c.phases << " phases, entry -" << j;
    }
}

TEST(BigFilter02, TapsMustBeAPositiveMultipleOf16) {
    for (int taps : {0, -16, 8, 17, 100}) EXPECT_THROW(BigFilter02(1, taps, 13, 1, 1), int) << taps;
    EXPECT_NO_THROW(BigFilter02(2, 16, 13, 1, 1));
}

TEST(BigFilter02, FirstCallOnlyPredictsZero) {
    for (int channels : {1, 2}) {
        BigFilter02 fresh(channels, 64, 10, 1, 0), used(channels, 64, 10, 1, 0);
        EXPECT_EQ(used.predict(20000, -5000), 0);
        EXPECT_EQ(fresh.predict(0, 0), 0);
        for (int i = 0; i < 3000; ++i) {
            const auto own = static_cast<int16_t>((i * 7919) % 20000 - 10000);
            const auto side = static_cast<int16_t>((i * 104729) % 30000 - 15000);
            ASSERT_EQ(fresh.predict(own, side), used.predict(own, side)) << channels << " channels, call " << i;
        }
    }
}

// Call 2 pushes `first` (compressed to -4 for 1, +4 for -1); call 3 steps the
// newest weight by -k * c(first), with k chosen from |e| against the mean error
// that already includes |e|, and predicts e times that weight.
TEST(BigFilter02, StepFollowsErrorAgainstMeanError) {
    const struct { int16_t first, e; int32_t out; } cases[] = {
        {1, 4000, 2000},  // m = 135: above 8m + 2048, k = 8
        {1, 3000, 1125},  // m = 133: k = 6
        {1, -3000, 1125}, // k = -6
        {1, 3100, 1163},  // m = 134 with this error counted: k = 6, not 8
        {1, 500, 125},    // k = 4
        {1, 100, 13},     // k = 2
        {1, 40, 3},       // k = 1
        {-1, 48, -3},     // k = 1; a negative sum rounds toward minus infinity
    };
    for (const auto& c : cases) {
        BigFilter02 f(1, 16, 4, 1, 1);
        f.predict(0, 0);
        ASSERT_EQ(f.predict(c.first, 0), 0);
        EXPECT_EQ(f.predict(c.e, 0), c.out) << c.first << ", " << c.e;
    }
}

// A single sample of 20000 (compressed -24) followed by zeros: every error is 0,
// so k = +1 and each weight takes the negated compressed entry at its age,
// 24 for ages 0..3, 12 for 4..7 and 6 from 8 on. A probe of 1024 then walks
// through the sample window and reads them back one by one.
TEST(BigFilter02, CompressedEntriesHalveAtAges4And8) {
    BigFilter02 f(1, 16, 4, 1, 1);
    f.predict(0, 0);
    f.predict(20000, 0);
    for (int call = 3; call <= 18; ++call) ASSERT_EQ(f.predict(0, 0), 0) << call;
    std::vector<int32_t> got = {f.predict(1024, 0)};
    for (int t = 1; t < 17; ++t) got.push_back(f.predict(0, 0));
    const std::vector<int32_t> expected = {384, 384, 384, 384, 192, 192, 192, 192, 96, 96, 96, 96, 96, 96, 96, 96, 0};
    EXPECT_EQ(got, expected);
}

// With several phases the compressed values are the table's divided by 4, and
// the sample sum of the current phase meets the newest weight at once.
TEST(BigFilter02, SummedHistoriesUseQuarterCompressedValues) {
    const struct { int16_t sample; int32_t out; } cases[] = {
        {20000, 1875},  // weight 6: 20000 * 6 >> 5 = 3750
        {1000, 47},     // weight 3
    };
    for (const auto& c : cases) {
        BigFilter02 f(1, 16, 4, 3, 1);
        f.predict(0, 0);
        ASSERT_EQ(f.predict(c.sample, 0), 0);
        EXPECT_EQ(f.predict(0, 0), c.out) << c.sample;
    }
}

TEST(BigFilter02, SideDotProductIsShiftedBySideShift) {
    const struct { int channels, sideShift; int32_t out; } cases[] = {
        {2, 0, 63},  // side weight 4: 1000 * 4 >> 5 = 125
        {2, 1, 31},  // 125 >> 1 = 62
        {1, 0, 0},   // one channel: side samples play no part
    };
    for (const auto& c : cases) {
        BigFilter02 f(c.channels, 16, 4, 1, c.sideShift);
        f.predict(0, 0);
        ASSERT_EQ(f.predict(0, 1), 0);
        EXPECT_EQ(f.predict(0, 1000), c.out) << c.channels << " channels, side shift " << c.sideShift;
    }
}
