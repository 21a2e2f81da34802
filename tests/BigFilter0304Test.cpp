#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "TestSupport.h"
#include "pipeline/filters/BigFilter0304.h"

namespace {

using HighFilter = BigFilter0304<1, 288, 10, 4, 1>;

std::vector<int32_t> predictions(const std::vector<int>& previous, int side = 0) {
    HighFilter f;
    std::vector<int32_t> out;
    for (int v : previous) out.push_back(f.predict(static_cast<int16_t>(v), static_cast<int16_t>(side)));
    return out;
}

}  // namespace

TEST(BigFilter0304, CallSequences) {
    const struct {
        const char* name;
        std::vector<int> previous;
        std::vector<int32_t> expected;
    } cases[] = {
        // The compressed history is still empty at the second call; from the third
        // on the last weight moves by 25 x c(1000) = -300.
        {"ramp to 1000", {0, 1000, 1000, 1000, 1000, 1000, 1000, 1000}, {0, 0, 18, 76, 180, 274, 352, 431}},
        // The two exact predictions after the 5 still move the last weight to 8;
        // from there the update by -30 x -4 makes it -112 and the prediction 3
        // (it would be 4 had the exact predictions left the weight at 0).
        {"exact predictions adapt", {0, 0, 0, 5, 0, 0, -1000}, {0, 0, 0, 0, 0, 0, 3}},
    };
    for (const auto& c : cases) EXPECT_EQ(predictions(c.previous), c.expected) << c.name;
}

TEST(BigFilter0304, FirstCallAndSideChangeNothing) {
    const std::vector<int> tail = {1000, 1000, -2000, 300, 5, 7000, 7000, -32768, 32767, 12};
    std::vector<int> fromZero = {0}, fromOther = {-31000};
    fromZero.insert(fromZero.end(), tail.begin(), tail.end());
    fromOther.insert(fromOther.end(), tail.begin(), tail.end());
    const std::vector<int32_t> reference = predictions(fromZero);
    EXPECT_EQ(predictions(fromOther), reference) << "the first call's sample must be ignored";
    EXPECT_EQ(predictions(fromZero, 12345), reference) << "the side argument must be ignored";
}

// Full-scale alternating input drives the error level past the end of the step
// table and the scaled error past both ends of the update table.
TEST(BigFilter0304, ExtremeInputStaysInRange) {
    HighFilter f;
    for (int n = 0; n < 20000; ++n) {
        const int32_t p = f.predict(static_cast<int16_t>((n / 3) % 2 ? 32767 : -32768), 0);
        ASSERT_GE(p, -65536);
        ASSERT_LE(p, 65536);
    }
}

TEST(BigFilter0304, RoundTripsRealRecording) {
    const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath("real_tabla_mono.wav"));
    ASSERT_FALSE(pcm.samples.empty());
    SampleBlock block = pcm.samples;
    HighFilter encoder, decoder;
    encoder.transformFast(block);
    EXPECT_NE(block, pcm.samples);
    decoder.inverseTransformFast(block);
    EXPECT_EQ(block, pcm.samples);
}
