#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/Arith.h"
#include "pipeline/filters/StereoCombiner.h"
#include "pipeline/filters/StereoCombinerAlt.h"

namespace {

using Call = std::pair<int16_t, int16_t>;  // (previous, side) as an inner predictor saw them
using Rule = std::function<int32_t(int16_t previous, int16_t side)>;

// An inner predictor that logs its arguments and answers from a rule.
class ScriptedPredictor : public PredictorI {
public:
    ScriptedPredictor(std::vector<Call>* log, Rule rule) : log(log), rule(std::move(rule)) {}
    int32_t predict(int16_t previous, int16_t side) override {
        if (log) log->push_back({previous, side});
        return rule(previous, side);
    }

private:
    std::vector<Call>* log;
    Rule rule;
};

PredictorI* inner(Rule rule, std::vector<Call>* log = nullptr) { return new ScriptedPredictor(log, std::move(rule)); }

Rule constant(int32_t value) {
    return [value](int16_t, int16_t) { return value; };
}

// Answers the given values in turn, one per call.
Rule sequence(std::vector<int32_t> values) {
    return [values, i = size_t{0}](int16_t, int16_t) mutable { return values.at(i++); };
}

class CombinerTest : public ::testing::Test {
protected:
    void SetUp() override { initPow2Table(); }
};

// Both generation-03 combiners route interleaved channels the same way.
template <int Channels>
struct GainStage {
    static PredictorI* make(PredictorI* a, PredictorI* b) { return new StereoCombiner<Channels, 0, 31, 5, 0, 0>(a, b, 0); }
};
template <int Channels>
struct ScaleStage {
    static PredictorI* make(PredictorI* a, PredictorI* b) { return new StereoCombinerAlt<Channels, 8, 3, 255, 8, 1>(a, b); }
};

template <typename Stage>
class CombinerRouting : public CombinerTest {
protected:
    // Runs a block through a stage of the given kind and logs its inner calls.
    template <typename Make>
    void run(Make make, SampleBlock block) {
        PredictorI* stage = make(inner(constant(0), &logA), inner(constant(0), &logB));
        stage->transformFast(block);
        delete stage;
    }
    std::vector<Call> logA, logB;
};
using CombinerKinds = ::testing::Types<GainStage<2>, ScaleStage<2>>;
TYPED_TEST_SUITE(CombinerRouting, CombinerKinds);

TYPED_TEST(CombinerRouting, StereoAlternatesAndPassesTheOtherChannel) {
    this->run(TypeParam::make, {10, 20, 30, 40, 50, 60});  // L0 R0 L1 R1 L2 R2
    // predictorB predicts L from the previous L and the previous pair's R;
    // predictorA predicts R from the previous R and the same pair's L.
    EXPECT_EQ(this->logB, (std::vector<Call>{{0, 0}, {10, 20}, {30, 40}}));
    EXPECT_EQ(this->logA, (std::vector<Call>{{0, 10}, {20, 30}, {40, 50}}));
}

TYPED_TEST(CombinerRouting, MonoCallsOnlyPredictorAWithoutSide) {
    const auto makeMono = [](PredictorI* a, PredictorI* b) -> PredictorI* {
        if constexpr (std::is_same_v<TypeParam, GainStage<2>>) return GainStage<1>::make(a, b);
        return ScaleStage<1>::make(a, b);
    };
    this->run(makeMono, {10, 20, 30});
    EXPECT_EQ(this->logA, (std::vector<Call>{{0, 0}, {10, 0}, {20, 0}}));
    EXPECT_TRUE(this->logB.empty());
}

using StereoCombinerTest = CombinerTest;

// With an inner predictor that echoes the previous sample, a fixed-scale stage
// returns floor(s * 31 / 32).
TEST_F(StereoCombinerTest, FixedScaleFloorsTowardMinusInfinity) {
    const struct { int16_t s; int32_t out; } cases[] = {
        {1000, 968}, {-1000, -969}, {0, 0}, {1, 0}, {-1, -1}, {32767, 31743}, {-32768, -31744},
    };
    const Rule echo = [](int16_t previous, int16_t) { return int32_t{previous}; };
    StereoCombiner<1, 0, 31, 5, 0, 0> stage(inner(echo), inner(echo), 0);
    for (const auto& c : cases) EXPECT_EQ(stage.predict(c.s, 0), c.out) << c.s;
}

// Mono stage with gain shift 11 (it starts at 10, gain 1024 = unity) over a
// predictor that always says 1000: each miss moves the gain by |d|/64 + 1, up
// when the sample lands beyond the output, capped at unity, floored at 1.
TEST_F(StereoCombinerTest, GainFollowsTheSignOfTheMiss) {
    StereoCombiner<1, 1, 32, 5, 0, 0> stage(inner(constant(1000)), inner(constant(1000)), 11);
    const struct { int16_t sample; int32_t out; } calls[] = {
        {5000, 1000},   // first call: no last output yet, no adaptation
        {1200, 1000},   // beyond a positive output by 200: +4, held at the cap
        {800, 996},     // short by 200: 1020
        {996, 996},     // exact: no change
        {1060, 998},    // beyond by 64: +2, 1022
        {-32768, 482},  // short by 33766: -528, 494
        {-32768, 0},    // short by 33250: floored at 1, (1000 * 1) >> 10 = 0
        {32767, 0},     // a last output of 0 freezes the gain
    };
    for (const auto& c : calls) EXPECT_EQ(stage.predict(c.sample, 0), c.out) << c.sample;
}

// A stage built with gain shift 12 (11 and gain 2048 at first) over predictors
// that always say 1000, each call fed the previous output less 200 at the miss
// calls; returns the output of the last call.
template <int Channels>
int32_t runWithMisses(std::vector<int> missCalls, int lastCall) {
    StereoCombiner<Channels, 1, 32, 5, 0, 0> stage(inner(constant(1000)), inner(constant(1000)), 12);
    int32_t out = 0;
    for (int call = 1; call <= lastCall; ++call) {
        const bool miss = std::find(missCalls.begin(), missCalls.end(), call) != missCalls.end();
        out = stage.predict(static_cast<int16_t>(out - (miss ? 200 : 0)), 0);
    }
    return out;
}

// At the start of the 4097th stereo call the shift becomes 12 and the gains
// double, so a later miss of the same size moves the gain half as far. Misses
// at odd calls adapt predictorA, whose scaled prediction the next call returns.
TEST_F(StereoCombinerTest, GainShiftRisesAfter4096StereoCallsOnly) {
    EXPECT_EQ(runWithMisses<2>({11, 13}, 14), 996);      // 2048 - 4 - 4 = 2040 of 2048
    EXPECT_EQ(runWithMisses<2>({11, 4099}, 4100), 997);  // 4088 - 4 = 4084 of 4096
    EXPECT_EQ(runWithMisses<1>({11, 4099}, 4100), 996);  // mono never switches
}

// The outer gain starts at unity (256), only attenuates, and moves by one per
// sample whenever the scaled prediction and the miss are both non-zero.
TEST_F(StereoCombinerTest, OuterGainAttenuatesAndRoundTrips) {
    using Stage = StereoCombiner<1, 0, 32, 5, 256, 8>;
    Stage encoder(inner(constant(1000)), inner(constant(1000)), 0);
    const struct { int16_t x; int16_t residual; } steps[] = {
        {1500, -500},  // q = 1000; beyond it: stays at 256
        {500, 500},    // short: 255
        {0, 996},      // q = (1000 * 255) >> 8 = 996; short: 254
        {996, -4},     // q = 992; beyond: 255
        {996, 0},      // q = 996, exact: no change
    };
    SampleBlock samples;
    for (const auto& s : steps) {
        EXPECT_EQ(encoder.encodeSample(s.x), s.residual) << s.x;
        samples.push_back(s.x);
    }
    // A long undershoot wears the gain down to 1: q = (1000 * 1) >> 8 = 3.
    for (int i = 0; i < 300; ++i) {
        encoder.encodeSample(-30000);
        samples.push_back(-30000);
    }
    EXPECT_EQ(encoder.encodeSample(-30000), 30003);
    samples.push_back(-30000);

    Stage forward(inner(constant(1000)), inner(constant(1000)), 0);
    Stage backward(inner(constant(1000)), inner(constant(1000)), 0);
    SampleBlock block = samples;
    forward.transformFast(block);
    backward.inverseTransformFast(block);
    EXPECT_EQ(block, samples);
}

using StereoCombinerAltTest = CombinerTest;

// A fresh stage's first call adds nothing to the decayed start costs
// Steps - k, so the cheapest of the three around Steps / 2 is the one above.
TEST_F(StereoCombinerAltTest, FirstChoiceIsOneAboveTheCentre) {
    StereoCombinerAlt<1, 8, 3, 255, 8, 1> eighths(inner(constant(800)), inner(constant(800)));
    StereoCombinerAlt<1, 4, 2, 255, 8, 1> quarters(inner(constant(800)), inner(constant(800)));
    EXPECT_EQ(eighths.predict(0, 0), 500);   // (5 * 800) >> 3
    EXPECT_EQ(quarters.predict(0, 0), 600);  // (3 * 800) >> 2
}

// The inner predictor always says 1000 and the samples are all 0: scale 0 is
// best, but a mono choice moves at most one step per call.
TEST_F(StereoCombinerAltTest, MonoChoiceMovesOneStepPerCall) {
    StereoCombinerAlt<1, 8, 3, 255, 8, 1> stage(inner(constant(1000)), inner(constant(1000)));
    const int32_t expected[] = {625, 500, 375, 250, 125, 0, 0, 0};
    for (int32_t e : expected) EXPECT_EQ(stage.predict(0, 0), e);
}

// Raw predictions of 1 give every candidate the same error, so only the
// decayed start costs decide; once those are equal the lowest index wins.
TEST_F(StereoCombinerAltTest, EqualCostsKeepTheLowerIndex) {
    StereoCombinerAlt<1, 4, 2, 255, 8, 1> stage(inner(sequence({1, 1, 1000})), inner(constant(0)));
    EXPECT_EQ(stage.predict(0, 0), 0);    // costs 3 2 1 0: choice 3
    EXPECT_EQ(stage.predict(0, 0), 0);    // costs 2 1 0 0: tie of 2 and 3 gives 2
    EXPECT_EQ(stage.predict(0, 0), 250);  // costs 1 0 0 0: tie of 1, 2, 3 gives 1
}

// The error step halves the raw prediction before scaling it: for a raw 5 and
// the sample 3 the candidate errors are |192 - 64 k|, which favour scale 3/4;
// |192 - 80 k| (no halving first) would favour 2/4.
TEST_F(StereoCombinerAltTest, ErrorStepHalvesTheRawPredictionFirst) {
    StereoCombinerAlt<1, 4, 2, 255, 8, 1> stage(inner(sequence({5, 1000})), inner(constant(0)));
    stage.predict(0, 0);
    EXPECT_EQ(stage.predict(3, 0), 750);
}

// The second channel's samples are all 0 and the first channel's all 1000,
// both predicted as 1000: on its own the second channel would settle at scale
// 0, but each choice is searched around the other channel's latest choice, so
// the second is held at 6/8 while the first reaches 7/8.
TEST_F(StereoCombinerAltTest, StereoChoiceStaysNextToTheOtherChannel) {
    StereoCombinerAlt<2, 8, 3, 255, 8, 1> stage(inner(constant(1000)), inner(constant(1000)));
    std::vector<int32_t> out;
    for (int call = 1; call <= 100; ++call) out.push_back(stage.predict(call & 1 ? 0 : 1000, 0));
    EXPECT_EQ(std::vector<int32_t>(out.begin(), out.begin() + 4), (std::vector<int32_t>{625, 750, 875, 750}));
    EXPECT_EQ(out[98], 875);  // first channel, predictorB
    EXPECT_EQ(out[99], 750);  // second channel, predictorA
}

}  // namespace
