#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "foundation/Arith.h"
#include "pipeline/StereoPredictor.h"

namespace {

// An inner predictor that always predicts the same value and records what it is told.
struct FixedPredictor : PredictorI {
    explicit FixedPredictor(int32_t value, int* destroyed = nullptr) : value(value), destroyed(destroyed) {}
    ~FixedPredictor() override {
        if (destroyed) ++*destroyed;
    }
    int32_t predict(int16_t previous, int16_t side) override {
        calls.emplace_back(previous, side);
        return value;
    }
    int32_t value;
    int* destroyed;
    std::vector<std::pair<int, int>> calls;
};

struct Stage {
    Stage(int channels, int32_t innerValue, int gainShift)
        : a(new FixedPredictor(innerValue)), b(new FixedPredictor(innerValue)) {
        initPow2Table();
        stage = std::make_unique<StereoPredictor>(channels, a, b, gainShift);
    }
    FixedPredictor* a;
    FixedPredictor* b;
    std::unique_ptr<StereoPredictor> stage;
};

}  // namespace

TEST(StereoPredictor, UnscaledPredictionTimes121Over128TruncatesTowardZero) {
    const struct { int32_t inner; int32_t out; } cases[] = {
        {1000, 945}, {-1000, -945}, {0, 0}, {127, 120}, {-127, -120}, {-1, 0},
    };
    for (const auto& c : cases) {
        Stage s(1, c.inner, 0);
        for (int call = 0; call < 3; ++call) EXPECT_EQ(s.stage->predict(static_cast<int16_t>(call * 999), 0), c.out) << c.inner;
    }
}

// Mono, gainShift 13: an inner prediction of 8192 makes the scaled prediction
// equal to the gain, so every output shows the gain as adapted in that call.
TEST(StereoPredictor, GainAdaptsByErrorMagnitudeWithinOneAndBound) {
    Stage s(1, 8192, 13);
    const struct { int16_t previous; int32_t gain; } steps[] = {
        {0, 8192},           // first call: no adaptation
        {8192 - 400, 8185},  // d = -400 against a positive prediction: falls by 7
        {8185 + 200, 8189},  // d = 200: rises by 4
        {8189 + 6400, 8192}, // rises by 101 but stops at the bound
        {8192, 8192},        // d = 0: unchanged
    };
    for (const auto& st : steps) EXPECT_EQ(s.stage->predict(st.previous, 0), st.gain * 121 / 128) << st.previous;
    for (int i = 0; i < 40; ++i) s.stage->predict(-32768, 0);
    EXPECT_EQ(s.stage->predict(0, 0), 0);    // gain held at 1: p = 1
    EXPECT_EQ(s.stage->predict(100, 0), 2);  // d = 99 rises by 2: p = 3
}

TEST(StereoPredictor, NoGainAdaptationWithShiftZero) {
    Stage s(1, 500, 0);
    for (int16_t prev : {0, -30000, 30000, 12}) EXPECT_EQ(s.stage->predict(prev, 0), 472);
}

// gainShift 12 runs at 11 with gains 2048; a stereo stage goes to 12 (gains and
// bounds doubled as adapted) at the start of call 16385, a mono stage never.
// The shift change shows in how far a later adaptation moves the prediction.
TEST(StereoPredictor, StereoStageReachesFullShiftAfter16384Calls) {
    const struct { int channels; int gainShift; int32_t inner; int32_t outAfter; } cases[] = {
        {2, 12, 2048, 2042 * 121 / 128},  // gainA 4096 - 11 at shift 12
        {1, 12, 2048, 2037 * 121 / 128},  // gainA 2048 - 11 at shift 11
        {2, 13, 8192, 8181 * 121 / 128},  // no change of shift: 8192 - 11
    };
    for (const auto& c : cases) {
        Stage s(c.channels, c.inner, c.gainShift);
        for (int call = 0; call < 16384; ++call) ASSERT_EQ(s.stage->predict(static_cast<int16_t>(c.inner), 0), c.inner * 121 / 128);
        // Call 16385 adapts gainA (in stereo it scaled call 16384, predictorA's).
        const int32_t first = s.stage->predict(static_cast<int16_t>(c.inner - 640), 0);
        if (c.channels == 2) {
            EXPECT_EQ(first, c.inner * 121 / 128) << c.gainShift;  // predictorB, unchanged gainB
            EXPECT_EQ(s.stage->predict(static_cast<int16_t>(c.inner), 0), c.outAfter) << c.gainShift;
        } else {
            EXPECT_EQ(first, c.outAfter);
        }
    }
}

TEST(StereoPredictor, StereoAlternatesInnerPredictorsWithSideSamples) {
    Stage s(2, 0, 0);
    SampleBlock block = {10, 20, 11, 21, 12, 22};
    s.stage->transformFast(block);
    using Calls = std::vector<std::pair<int, int>>;
    EXPECT_EQ(s.b->calls, (Calls{{0, 0}, {10, 20}, {11, 21}}));
    EXPECT_EQ(s.a->calls, (Calls{{0, 10}, {20, 11}, {21, 12}}));
}

TEST(StereoPredictor, MonoUsesOnlyPredictorAWithoutSide) {
    Stage s(1, 0, 12);
    SampleBlock block = {5, -6, 7};
    s.stage->transformFast(block);
    using Calls = std::vector<std::pair<int, int>>;
    EXPECT_EQ(s.a->calls, (Calls{{0, 0}, {5, 0}, {-6, 0}}));
    EXPECT_TRUE(s.b->calls.empty());
}

TEST(StereoPredictor, InverseRestoresBlockAndDestroysInnerPredictors) {
    int destroyed = 0;
    initPow2Table();
    const SampleBlock original = {100, -100, 32767, -32768, 5, 0, 1, 2};
    SampleBlock block = original;
    {
        StereoPredictor enc(2, new FixedPredictor(3000, &destroyed), new FixedPredictor(-7000, &destroyed), 12);
        StereoPredictor dec(2, new FixedPredictor(3000, &destroyed), new FixedPredictor(-7000, &destroyed), 12);
        enc.transformFast(block);
        EXPECT_NE(block, original);
        dec.inverseTransformFast(block);
    }
    EXPECT_EQ(block, original);
    EXPECT_EQ(destroyed, 4);
}
