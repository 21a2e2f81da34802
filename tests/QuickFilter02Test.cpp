#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "pipeline/filters/QuickFilter02.h"

namespace {

struct Config {
    int channels, shift, ownTaps, sideTaps;
};
constexpr Config kStage2{2, 14, 7, 7};
constexpr Config kStage4{2, 11, 4, 5};

QuickFilter02 make(const Config& c) { return QuickFilter02(c.channels, c.shift, c.ownTaps, c.sideTaps); }

}  // namespace

TEST(QuickFilter02, FirstCallUsesInitialWeightsAndFloorsTheSum) {
    const struct { Config config; int16_t previous, side; int32_t out; } cases[] = {
        {kStage2, 0, 0, 0},
        {kStage2, 1000, 0, 14},      // (1000 * 343 + 1000 * 129) >> 15
        {kStage4, 1000, 0, 115},     // 472000 >> 12
        {kStage2, -1000, 0, -15},    // -472000 >> 15 floors
        {kStage2, 1000, 30000, 14},  // side weights start at 0
    };
    for (const auto& c : cases) {
        QuickFilter02 f = make(c.config);
        EXPECT_EQ(f.predict(c.previous, c.side), c.out) << c.previous << " shift " << c.config.shift;
    }
}

// After a first call with 1000 (prediction 14, both compressed entries -1), the
// second call steps the first two weights by -q and predicts from the sample,
// the difference 1014 - 1000 and the older difference 1000.
TEST(QuickFilter02, SecondCallStepsWeightsByTheErrorClass) {
    const struct { int16_t previous; int32_t out; } cases[] = {
        {1014, 9},      // e = 0, q = +1: weights 342, 128
        {16399, 236},   // e = 16385, q = -6: weights 349, 135
        {-16371, -231}, // e = -16385, q = +10: weights 333, 119; the sum floors
    };
    for (const auto& c : cases) {
        QuickFilter02 f = make({1, 14, 7, 7});
        ASSERT_EQ(f.predict(1000, 0), 14);
        EXPECT_EQ(f.predict(c.previous, 0), c.out) << c.previous;
    }
}

TEST(QuickFilter02, SideSamplesCountOnlyWithTwoChannels) {
    const struct { int channels; bool sideMatters; } cases[] = {{1, false}, {3, false}, {2, true}};
    for (const auto& c : cases) {
        QuickFilter02 quiet(c.channels, 11, 4, 5), loud(c.channels, 11, 4, 5);
        bool differ = false;
        for (int i = 0; i < 2000; ++i) {
            const auto own = static_cast<int16_t>((i * 7919) % 20000 - 10000);
            const auto side = static_cast<int16_t>((i * 104729) % 30000 - 15000);
            differ |= quiet.predict(own, 0) != loud.predict(own, side);
        }
        EXPECT_EQ(differ, c.sideMatters) << c.channels;
    }
}

// This period-3 pattern drives the weights, and with them the prediction, far
// beyond three times the sample range, where the error leaves the step table
// (from about call 48700 on); the filter must keep running and still decode
// what it encoded.
TEST(QuickFilter02, ErrorsBeyondTheStepTableStayDecodable) {
    SampleBlock block(60000);
    const int16_t pattern[3] = {1478, 28209, -32768};
    for (size_t i = 0; i < block.size(); ++i) block[i] = pattern[i % 3];
    const SampleBlock original = block;
    QuickFilter02 enc(1, 11, 4, 5), probe(1, 11, 4, 5), dec(1, 11, 4, 5);
    int32_t largest = 0;
    int16_t previous = 0;
    for (int16_t s : original) {
        largest = std::max(largest, std::abs(probe.predict(previous, 0)));
        previous = s;
    }
    EXPECT_GT(largest, 131072 + 32768);
    enc.transformFast(block);
    dec.inverseTransformFast(block);
    EXPECT_EQ(block, original);
}
