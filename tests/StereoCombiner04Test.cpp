#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "pipeline/filters/StereoCombiner04.h"

namespace {

// An inner predictor that returns a fixed value and records its arguments.
class FixedPredictor : public PredictorI {
public:
    explicit FixedPredictor(int32_t value, std::vector<std::pair<int, int>>* calls = nullptr)
        : value(value), calls(calls) {}
    int32_t predict(int16_t previous, int16_t side) override {
        if (calls) calls->push_back({previous, side});
        return value;
    }

private:
    int32_t value;
    std::vector<std::pair<int, int>>* calls;
};

template <class Combiner>
Combiner* fixed(int32_t value) {
    return new Combiner(new FixedPredictor(value), new FixedPredictor(value));
}

}  // namespace

TEST(StereoCombiner04, GainFollowsSignAgreementOfPredictionAndError) {
    using C = StereoCombiner04<1, 1, 0, 0, 8, 256>;
    std::unique_ptr<C> c(fixed<C>(1000));
    EXPECT_EQ(c->predict(0, 0), 1000);  // no adaptation while lastOutput is 0
    EXPECT_EQ(c->currentGainA(), 256);
    EXPECT_EQ(c->predict(1600, 0), 1000);  // d = 600, same sign: stays at the cap
    EXPECT_EQ(c->currentGainA(), 256);
    EXPECT_EQ(c->predict(-200, 0), 988);  // d = -1200, t = 3: 253, (1000 * 253 + 128) >> 8
    EXPECT_EQ(c->currentGainA(), 253);
    EXPECT_EQ(c->predict(988, 0), 988);  // d = 0: no adaptation
    EXPECT_EQ(c->currentGainA(), 253);

    // t = (|d| >> 9) + 1 at the band edges.
    const std::pair<int, int> steps[] = {{511, 1}, {512, 2}, {1023, 2}, {1024, 3}, {1535, 3}, {1536, 4}};
    for (const auto& [magnitude, t] : steps) {
        std::unique_ptr<C> g(fixed<C>(1000));
        g->predict(0, 0);
        g->predict(static_cast<int16_t>(1000 - magnitude), 0);
        EXPECT_EQ(g->currentGainA(), 256 - t) << magnitude;
    }
}

TEST(StereoCombiner04, OnlyTheAttenBase64StagesIgnoreErrorsUpToFour) {
    using Narrow = StereoCombiner04<1, 1, 64, 6, 9, 512>;
    using Wide = StereoCombiner04<1, 1, 128, 7, 9, 512>;
    std::unique_ptr<Narrow> narrow(fixed<Narrow>(100));
    std::unique_ptr<Wide> wide(fixed<Wide>(100));
    narrow->predict(0, 0);
    wide->predict(0, 0);
    for (int i = 0; i < 10; ++i) {
        narrow->predict(96, 0);  // d = -4 against a prediction of 100
        wide->predict(96, 0);
    }
    EXPECT_EQ(narrow->currentGainA(), 512);
    EXPECT_LT(wide->currentGainA(), 512);
    narrow->predict(90, 0);  // |d| = 10 adapts
    EXPECT_EQ(narrow->currentGainA(), 511);
}

TEST(StereoCombiner04, MonoAttenuationFollowsTheLongRunErrorLevel) {
    // The inner prediction is 0, so every error equals the sample.
    using C = StereoCombiner04<1, 1, 128, 7, 9, 512>;
    const std::pair<int16_t, int> cases[] = {{0, 128},   {64, 128},  {65, 127},  {300, 124},
                                             {378, 124}, {379, 123}, {512, 123}, {513, 122}, {30000, 122}};
    for (const auto& [error, attenuation] : cases) {
        std::unique_ptr<C> c(fixed<C>(0));
        for (int i = 0; i < 4096; ++i) c->predict(error, 0);
        EXPECT_EQ(c->currentAttenuation(), attenuation) << error;
    }
    // While the ring fills, the level rises gradually: after 2048 calls of 300 it reads 150.
    std::unique_ptr<C> c(fixed<C>(0));
    for (int i = 0; i < 2048; ++i) c->predict(300, 0);
    EXPECT_EQ(c->currentAttenuation(), 126);
}

TEST(StereoCombiner04, AttenuationIsAppliedAfterTheGain) {
    using C = StereoCombiner04<1, 1, 64, 6, 9, 512>;
    std::unique_ptr<C> c(fixed<C>(0));
    for (int i = 0; i < 4096; ++i) c->predict(30000, 0);  // level above 512: 64 - 6
    EXPECT_EQ(c->currentAttenuation(), 58);
    std::unique_ptr<C> d(new C(new FixedPredictor(1000), new FixedPredictor(0)));
    EXPECT_EQ(d->predict(0, 0), (64 * 1000 + 32) >> 6);
}

TEST(StereoCombiner04, StereoAlternatesInnerPredictorsWithOwnAndSideSamples) {
    std::vector<std::pair<int, int>> callsA, callsB;
    StereoCombiner04<2, 0, 0, 0, 0, 0> c(new FixedPredictor(111, &callsA), new FixedPredictor(222, &callsB));
    // Stream L0 R0 L1 R1 = 10 20 30 40; each call is told the sample just coded.
    // The combiner's own side argument is never read.
    EXPECT_EQ(c.predict(0, 999), 222);   // L0 by B from (0, 0)
    EXPECT_EQ(c.predict(10, 999), 111);  // R0 by A from (0, L0)
    EXPECT_EQ(c.predict(20, 999), 222);  // L1 by B from (L0, R0)
    EXPECT_EQ(c.predict(30, 999), 111);  // R1 by A from (R0, L1)
    EXPECT_EQ(callsB, (std::vector<std::pair<int, int>>{{0, 0}, {10, 20}}));
    EXPECT_EQ(callsA, (std::vector<std::pair<int, int>>{{0, 10}, {20, 30}}));

    std::vector<std::pair<int, int>> monoCalls, unused;
    StereoCombiner04<1, 0, 0, 0, 0, 0> mono(new FixedPredictor(-70000, &monoCalls), new FixedPredictor(0, &unused));
    EXPECT_EQ(mono.predict(5, 6), -70000);  // passed through unchanged
    EXPECT_EQ(mono.predict(7, 8), -70000);
    EXPECT_EQ(monoCalls, (std::vector<std::pair<int, int>>{{5, 0}, {7, 0}}));
    EXPECT_TRUE(unused.empty());
}

TEST(StereoCombiner04, StereoAttenuationChangesOnlyEverySixteenthCall) {
    using C = StereoCombiner04<2, 1, 128, 7, 9, 512>;
    std::unique_ptr<C> c(fixed<C>(0));
    // Errors of 30000 pushed at calls 16, 32, ...: the 9th push (call 144) lifts the
    // level to 65, the 18th (call 288) to 131.
    for (int call = 1; call <= 300; ++call) {
        c->predict(30000, 0);
        ASSERT_EQ(c->currentAttenuation(), call < 144 ? 128 : (call < 288 ? 127 : 126)) << call;
    }
}

TEST(StereoCombiner04, EachGainFollowsTheErrorsOfItsOwnPredictor) {
    using C = StereoCombiner04<2, 1, 128, 7, 9, 512>;
    std::unique_ptr<C> c(fixed<C>(1000));
    // The first channel is predicted exactly (by B); the second is always 0 while A
    // predicts about 1000, so only gainA falls, by 2 per pair.
    c->predict(0, 0);
    for (int pair = 1; pair <= 5; ++pair) {
        c->predict(1000, 0);
        c->predict(0, 0);
    }
    EXPECT_EQ(c->currentGainA(), 502);
    EXPECT_EQ(c->currentGainB(), 512);
}
