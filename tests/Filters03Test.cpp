#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "pipeline/filters/BigFilter03.h"
#include "pipeline/filters/LookupTables.h"
#include "pipeline/filters/QuickFilter03.h"
#include "TestSupport.h"

namespace {

using Input = std::pair<int16_t, int16_t>;  // (previous, side)

// Feeds a fresh filter the inputs and returns its predictions.
template <typename Filter>
std::vector<int32_t> predictions(const std::vector<Input>& inputs) {
    Filter f;
    std::vector<int32_t> out;
    for (const auto& [previous, side] : inputs) out.push_back(f.predict(previous, side));
    return out;
}

std::vector<Input> samples(std::vector<int16_t> values, int16_t side = 0) {
    std::vector<Input> in;
    for (int16_t v : values) in.push_back({v, side});
    return in;
}

// Hostile input: full-scale noise on both arguments. The filters must stay
// inside their tables and buffers (the sanitizer build checks this) and two
// filters fed alike must agree.
template <typename Filter>
void expectDeterministicOnNoise() {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> any(-32768, 32767);
    Filter a, b;
    for (int i = 0; i < 20000; ++i) {
        const auto previous = static_cast<int16_t>(any(rng)), side = static_cast<int16_t>(any(rng));
        ASSERT_EQ(a.predict(previous, side), b.predict(previous, side)) << i;
    }
}

// With one channel the side argument is never read.
template <typename Filter>
void expectSideIgnored() {
    const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath("real_tabla_mono.wav"));
    Filter withSide, withoutSide;
    for (size_t i = 0; i < 5000 && i < pcm.samples.size(); ++i) {
        const int16_t s = pcm.samples[i];
        ASSERT_EQ(withSide.predict(s, static_cast<int16_t>(~s)), withoutSide.predict(s, 0)) << i;
    }
}

TEST(QuickFilter03, FirstPredictionsFromTheStartWeights) {
    // (1000 * 343 + 1000 * 129) >> OutShift with the difference right behind
    // the newest sample; the 10-weight filter keeps three raw samples first,
    // so its difference pairs with weight 69.
    EXPECT_EQ((predictions<QuickFilter03<1, 8, 4, 4>>(samples({1000}))), (std::vector<int32_t>{1843}));
    EXPECT_EQ((predictions<QuickFilter03<1, 12, 4, 5>>(samples({1000}))), (std::vector<int32_t>{115}));
    EXPECT_EQ((predictions<QuickFilter03<1, 15, 10, 10>>(samples({1000}))), (std::vector<int32_t>{12}));
    // A first call with 0 learns nothing: every compressed entry is still 0.
    EXPECT_EQ((predictions<QuickFilter03<1, 8, 4, 4>>(samples({0, 1000}))), (std::vector<int32_t>{0, 1843}));
}

TEST(QuickFilter03, AdaptsAgainstTheErrorScaledByTheErrorLevel) {
    // Second call: e = 1000 - 1843 = -843, level (66536 + 843) >> 13 = 8, so
    // the quotient -21 gives the step +10; the compressed history {-1, -1}
    // turns the weights into {333, 119, -47, 69} over the history
    // {1000, 0, 1000, 0}: (333000 - 47000) >> 8 = 1117.
    EXPECT_EQ((predictions<QuickFilter03<1, 8, 4, 4>>(samples({1000, 1000}))), (std::vector<int32_t>{1843, 1117}));
    // Two channels: the side weights start at 0 and learn from the second
    // call on; the second call adds 500 * 10 to the own sum 306000.
    EXPECT_EQ((predictions<QuickFilter03<2, 12, 4, 5>>(samples({1000, 1000}, 500))), (std::vector<int32_t>{115, 75}));
}

TEST(QuickFilter03, SideIgnoredWithOneChannel) {
    expectSideIgnored<QuickFilter03<1, 15, 10, 10>>();
    expectSideIgnored<QuickFilter03<1, 8, 4, 4>>();
}

TEST(QuickFilter03, DeterministicAndInBoundsOnNoise) {
    expectDeterministicOnNoise<QuickFilter03<2, 15, 10, 10>>();
    expectDeterministicOnNoise<QuickFilter03<2, 12, 4, 5>>();
    expectDeterministicOnNoise<QuickFilter03<1, 8, 4, 4>>();
}

TEST(BigFilter03, PredictionSequencesOfFreshFilters) {
    using V = std::vector<int32_t>;
    // The first call only predicts (0): what it is told is ignored.
    EXPECT_EQ((predictions<BigFilter03<1, 64, 7, 1, 0>>(samples({0, 1000, 1000, 1000, 1000}))), (V{0, 0, 12, 35, 70}));
    EXPECT_EQ((predictions<BigFilter03<1, 64, 7, 1, 0>>(samples({123, 1000, 1000}))), (V{0, 0, 12}));
    std::vector<Input> stereo = {{0, 0}, {1000, -500}, {1000, -500}, {1000, -500}, {1000, -500}};
    EXPECT_EQ((predictions<BigFilter03<2, 64, 10, 1, 1>>(stereo)), (V{0, 0, 2, 5, 10}));
    EXPECT_EQ((predictions<BigFilter03<1, 320, 10, 4, 1>>(samples({0, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000}))),
              (V{0, 0, 3, 13, 35, 59, 83, 109, 138}));
    EXPECT_EQ((predictions<BigFilter03<1, 256, 8, 1, 1>>(samples({0, 1000, 1000, 1000, 1000, 1000}))),
              (V{0, 0, 6, 18, 36, 56}));
}

// A constant input v fills every history entry with v and every compressed
// entry with c = c(v), aged in place. The prediction then depends only on the
// weight sum W, and each update moves W by step times the sum of the aged
// compressed entries, which this model takes from the closed form: c at ages
// 0-2, c >> 1 at 3-7, c >> 2 at 8-23, and from 24 on that halved again unless
// its magnitude is at most 1.
int32_t agedCompressed(int32_t c, int age) {
    if (age < 3) return c;
    if (age < 8) return c >> 1;
    const int32_t quarter = (c >> 1) >> 1;
    if (age < 24 || wrapAbs(quarter) <= 1) return quarter;
    return quarter >> 1;
}

TEST(BigFilter03, AgeingMatchesTheClosedFormOverAFullWindow) {
    for (int16_t v : {int16_t{1000}, int16_t{-1000}, int16_t{300}, int16_t{-20000}}) {
        BigFilter03<1, 64, 7, 1, 0> filter;
        const int32_t c = bigCompressTable02[static_cast<size_t>(v + 65536)];
        MovingSumRing<256> level;
        for (int i = 0; i < 64; ++i) level.push(1024);
        int32_t weightSum = 0, stepScale = 64, last = filter.predict(v, 0);
        EXPECT_EQ(last, 0);
        for (int call = 2; call <= 300; ++call) {
            const int32_t e = v - last;
            level.push(wrapAbs(e));
            if ((call - 1) % 8 == 0) stepScale = (level.sum >> 11) + 32;
            const int32_t t = bigStepTable03[static_cast<size_t>(std::clamp(e / stepScale + 4096, 0, 8191))];
            const int32_t step = e < 0 ? -t : t;
            for (int age = 0; age < std::min(call - 2, 64); ++age) weightSum -= step * agedCompressed(c, age);
            const int32_t expected = (((v * weightSum) >> 5) + 64) >> 7;
            last = filter.predict(v, 0);
            ASSERT_EQ(last, expected) << "v " << v << " call " << call;
        }
    }
}

// The step follows the table by e / stepScale; errors beyond the table's
// reach (only a far-off prediction on damaged input makes them) take its
// end value, 8, instead of reading outside it.
TEST(BigFilter03, StepStaysInsideItsTable) {
    BigFilter03<1, 64, 7, 1, 0> buildsTables;
    const struct { int32_t e, scale, step; } cases[] = {
        {0, 64, 1}, {1000, 64, 4}, {-1000, 64, -4}, {63, 64, 1}, {64, 64, 2}, {-64, 64, -2},
        {4096 * 32, 32, 8}, {-4096 * 32, 32, -8}, {4096 * 32 + 31, 32, 8},
        {1 << 20, 32, 8}, {-(1 << 20), 32, -8}, {INT32_MAX, 32, 8}, {INT32_MIN, 32, -8},
    };
    for (const auto& c : cases) EXPECT_EQ(bigFilter03Step(c.e, c.scale), c.step) << c.e << " / " << c.scale;
}

TEST(BigFilter03, SideIgnoredWithOneChannel) {
    expectSideIgnored<BigFilter03<1, 64, 9, 1, 1>>();
    expectSideIgnored<BigFilter03<1, 320, 10, 4, 1>>();
    expectSideIgnored<BigFilter03<1, 256, 8, 1, 1>>();
}

TEST(BigFilter03, DeterministicAndInBoundsOnNoise) {
    expectDeterministicOnNoise<BigFilter03<2, 64, 10, 1, 1>>();
    expectDeterministicOnNoise<BigFilter03<1, 320, 10, 4, 1>>();
    expectDeterministicOnNoise<BigFilter03<1, 256, 8, 1, 1>>();
    expectDeterministicOnNoise<BigFilter03<2, 64, 7, 1, 0>>();
}

}  // namespace
