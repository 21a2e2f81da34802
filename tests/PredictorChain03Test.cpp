#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Arith.h"
#include "pipeline/PredictorChain.h"
#include "pipeline/TransformerCombiner.h"
#include "pipeline/XYConvertor.h"
#include "pipeline/filters/StereoCombiner.h"
#include "pipeline/filters/StereoCombinerAlt.h"
#include "TestSupport.h"

namespace {

constexpr size_t kBlockValues = 73728;  // values per block in generation-03 containers

// A fresh generation-03 chain, as the decoder asks for one at a key block.
StageList freshChain03(int channels, bool high = false) {
    initPow2Table();
    return buildPredictorChain(high, channels, true, 3);
}

std::vector<SampleBlock> splitIntoBlocks(const std::vector<int16_t>& samples) {
    std::vector<SampleBlock> blocks;
    for (size_t i = 0; i < samples.size(); i += kBlockValues)
        blocks.emplace_back(samples.begin() + static_cast<std::ptrdiff_t>(i),
                            samples.begin() + static_cast<std::ptrdiff_t>(std::min(samples.size(), i + kBlockValues)));
    return blocks;
}

// Residuals of a whole recording through one chain, block after block.
std::vector<SampleBlock> forward(const std::vector<SampleBlock>& blocks, int channels) {
    TransformerCombiner runner(freshChain03(channels));
    std::vector<SampleBlock> out = blocks;
    for (SampleBlock& b : out) runner.transformFast(b);
    return out;
}

std::vector<SampleBlock> inverse(const std::vector<SampleBlock>& blocks, int channels) {
    TransformerCombiner runner(freshChain03(channels));
    std::vector<SampleBlock> out = blocks;
    for (SampleBlock& b : out) runner.inverseTransformFast(b);
    return out;
}

// What the mid/side convertor alone gives back: the samples themselves except
// for pairs wider than 32767 met while it is on.
std::vector<SampleBlock> throughConvertorOnly(const std::vector<SampleBlock>& blocks, int channels) {
    XYConvertor03 there(channels), back(channels);
    std::vector<SampleBlock> out = blocks;
    for (SampleBlock& b : out) {
        there.transformFast(b);
        back.inverseTransformFast(b);
    }
    return out;
}

// The eight predictor stages restore their input exactly, so forward then
// inverse through fresh chains gives what the convertor alone gives. For real
// audio that is the recording itself when the recording has no wide pairs.
void expectRoundTrip(const std::string& path, bool exact) {
    const testsupport::Pcm pcm = testsupport::loadPcm16(path);
    ASSERT_GT(pcm.samples.size(), kBlockValues) << path;
    const std::vector<SampleBlock> blocks = splitIntoBlocks(pcm.samples);
    const std::vector<SampleBlock> residuals = forward(blocks, pcm.channels);
    EXPECT_NE(residuals, blocks);
    const std::vector<SampleBlock> restored = inverse(residuals, pcm.channels);
    const std::vector<SampleBlock> expected = exact ? blocks : throughConvertorOnly(blocks, pcm.channels);
    ASSERT_EQ(restored.size(), blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) EXPECT_TRUE(restored[i] == expected[i]) << path << " block " << i;
}

// The high flag plays no part in generation 03.
TEST(PredictorChain03, StereoLayout) {
    for (bool high : {false, true}) {
        const StageList stages = freshChain03(2, high);
        ASSERT_EQ(stages.size(), 9u);
        EXPECT_NE(dynamic_cast<XYConvertor03*>(stages[0]), nullptr);
        EXPECT_NE((dynamic_cast<StereoCombiner<2, 0, 31, 5, 0, 0>*>(stages[1])), nullptr);
        EXPECT_NE((dynamic_cast<StereoCombiner<2, 0, 31, 5, 0, 0>*>(stages[2])), nullptr);
        EXPECT_NE((dynamic_cast<StereoCombinerAlt<2, 4, 2, 255, 8, 1>*>(stages[3])), nullptr);
        EXPECT_NE((dynamic_cast<StereoCombinerAlt<2, 4, 2, 255, 8, 1>*>(stages[4])), nullptr);
        EXPECT_NE((dynamic_cast<StereoCombinerAlt<2, 8, 3, 255, 8, 1>*>(stages[5])), nullptr);
        EXPECT_NE((dynamic_cast<StereoCombiner<2, 1, 26, 5, 256, 8>*>(stages[6])), nullptr);
        EXPECT_NE((dynamic_cast<StereoCombiner<2, 1, 30, 5, 0, 0>*>(stages[7])), nullptr);
        EXPECT_NE((dynamic_cast<StereoCombinerAlt<2, 8, 3, 255, 8, 1>*>(stages[8])), nullptr);
    }
}

// Every count but 2 takes the mono layout; the convertor still comes first,
// built with the real count, so it pairs values for every count but 1.
TEST(PredictorChain03, MonoLayoutForEveryOtherChannelCount) {
    for (int channels : {1, 3, 0}) {
        const StageList stages = freshChain03(channels);
        ASSERT_EQ(stages.size(), 9u);
        EXPECT_NE(dynamic_cast<XYConvertor03*>(stages[0]), nullptr);
        EXPECT_NE((dynamic_cast<StereoCombiner<1, 0, 31, 5, 0, 0>*>(stages[1])), nullptr) << channels;
        EXPECT_NE((dynamic_cast<StereoCombinerAlt<1, 4, 2, 255, 8, 1>*>(stages[3])), nullptr) << channels;
        EXPECT_NE((dynamic_cast<StereoCombiner<1, 1, 26, 5, 256, 8>*>(stages[6])), nullptr) << channels;
        EXPECT_NE((dynamic_cast<StereoCombinerAlt<1, 8, 3, 255, 8, 1>*>(stages[8])), nullptr) << channels;
        SampleBlock pair = {100, 300};
        stages[0]->transformFast(pair);
        EXPECT_EQ(pair, (channels == 1 ? SampleBlock{100, 300} : SampleBlock{200, 200})) << channels;
    }
}

TEST(PredictorChain03, RoundTripsRealAudio) {
    expectRoundTrip(testsupport::dataPath("real_bass_st.wav"), true);
    expectRoundTrip(testsupport::dataPath("real_tabla_mono.wav"), true);
}

TEST(PredictorChain03, RoundTripsCorpusAudio) {
    QO_REQUIRE_CORPUS();
    for (const char* name : {"sp_bass_guitar_st.wav", "sp_tabla_mono.wav", "sp_perc_glitch_st.wav"})
        expectRoundTrip(testsupport::corpusPath(name), true);
    // Full-scale noise and square waves drive every filter to its limits; the
    // noise also holds pairs wider than 32767.
    expectRoundTrip(testsupport::corpusPath("syn_square_fullscale_mono.wav"), true);
    expectRoundTrip(testsupport::corpusPath("syn_noise_fullscale_st.wav"), false);
}

// The mid/side convertor carries a pair exactly only while |R - L| <= 32767.
// A wider pair met while the convertor is on is stored with a wrapped
// difference; the predictor stages restore the stored values exactly and the
// convertor's inverse turns them into another pair. Everything else comes back.
TEST(PredictorChain03, StereoPairsWiderThan32767ComeBackWrapped) {
    // On for the first pair: (-20000, 20000) is stored as (-25536, 0) and
    // restored as (12768, -12768). That unequal pair switches the convertor
    // off for (100, 100), which switches it on again, so (32767, -32768) is
    // stored as (1, 0) and restored as (0, 1). Then off again for (5, 5).
    const SampleBlock block = {-20000, 20000, 100, 100, 32767, -32768, 5, 5, -300, 700};
    EXPECT_EQ(inverse(forward({block}, 2), 2)[0], (SampleBlock{12768, -12768, 100, 100, 0, 1, 5, 5, -300, 700}));
    // While the convertor is off the same wide pair passes through exactly.
    const SampleBlock offFirst = {1, 2, 32767, -32768, 7, 7};
    EXPECT_EQ(inverse(forward({offFirst}, 2), 2)[0], offFirst);
}

double meanMagnitude(const SampleBlock& v) {
    double sum = 0;
    for (int16_t x : v) sum += std::abs(x);
    return sum / static_cast<double>(v.size());
}

// Each predictor stage predicts the residuals of the stages before it; on real
// audio each lowers the mean residual magnitude, the quantity its sign-sign
// adaptation minimises. The last stage, a small filter over nearly white
// residuals, may lose a little (on the bass recording 124.27 becomes 124.31).
TEST(PredictorChain03, EachStageLowersTheResidualMagnitude) {
    for (const char* name : {"real_bass_st.wav", "real_tabla_mono.wav"}) {
        const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath(name));
        const StageList stages = freshChain03(pcm.channels);
        SampleBlock v = pcm.samples;
        stages[0]->transformFast(v);  // the convertor only rearranges
        double before = meanMagnitude(v);
        for (size_t s = 1; s < stages.size(); ++s) {
            stages[s]->transformFast(v);
            const double after = meanMagnitude(v);
            if (s + 1 < stages.size())
                EXPECT_LT(after, before) << name << " stage " << s;
            else
                EXPECT_LT(after, before * 1.001) << name << " stage " << s;
            before = after;
        }
    }
}

}  // namespace
