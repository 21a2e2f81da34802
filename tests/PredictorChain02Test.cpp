#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "foundation/Arith.h"
#include "pipeline/PredictorChain.h"
#include "pipeline/StereoPredictor.h"
#include "pipeline/TransformerCombiner.h"
#include "pipeline/XYConvertor.h"
#include "pipeline/filters/BigFilter02.h"
#include "pipeline/filters/DeltaFilter.h"
#include "pipeline/filters/QuickFilter02.h"

namespace {

constexpr size_t kBlockValues = 73728;

std::vector<SampleBlock> splitBlocks(const SampleBlock& in) {
    std::vector<SampleBlock> blocks;
    for (size_t start = 0; start < in.size(); start += kBlockValues)
        blocks.emplace_back(in.begin() + static_cast<std::ptrdiff_t>(start),
                            in.begin() + static_cast<std::ptrdiff_t>(std::min(in.size(), start + kBlockValues)));
    return blocks;
}

SampleBlock join(const std::vector<SampleBlock>& blocks) {
    SampleBlock all;
    for (const SampleBlock& b : blocks) all.insert(all.end(), b.begin(), b.end());
    return all;
}

// Codes the blocks forward with the generation-02 chain, a fresh chain at every
// keyEvery-th block, then decodes them on chains rebuilt the same way.
SampleBlock chainRoundTrip(const SampleBlock& samples, int channels, size_t keyEvery, bool* changed) {
    std::vector<SampleBlock> blocks = splitBlocks(samples);
    for (size_t b = 0; b < blocks.size(); ++b)
        TransformerCombiner(buildPredictorChain(false, channels, b % keyEvery == 0, 2)).transformFast(blocks[b]);
    *changed = join(blocks) != samples;
    for (size_t b = 0; b < blocks.size(); ++b)
        TransformerCombiner(buildPredictorChain(false, channels, b % keyEvery == 0, 2)).inverseTransformFast(blocks[b]);
    return join(blocks);
}

// What the mid/side convertor alone gives back: the samples themselves, except
// pairs more than 32767 apart, whose stored difference wraps.
SampleBlock convertorRoundTrip(const SampleBlock& samples, int channels, size_t keyEvery) {
    std::vector<SampleBlock> blocks = splitBlocks(samples);
    XYConvertor02 forward(channels), inverse(channels);
    for (size_t b = 0; b < blocks.size(); ++b) {
        if (b % keyEvery == 0) forward = XYConvertor02(channels), inverse = XYConvertor02(channels);
        forward.transformFast(blocks[b]);
        inverse.inverseTransformFast(blocks[b]);
    }
    return join(blocks);
}

void expectChainRestores(const std::string& path, size_t keyEvery) {
    initPow2Table();
    const testsupport::Pcm pcm = testsupport::loadPcm16(path);
    ASSERT_FALSE(pcm.samples.empty()) << path;
    bool changed = false;
    const SampleBlock restored = chainRoundTrip(pcm.samples, pcm.channels, keyEvery, &changed);
    const bool silent = std::all_of(pcm.samples.begin(), pcm.samples.end(), [](int16_t s) { return s == 0; });
    EXPECT_EQ(changed, !silent) << path << ": only silence passes the chain unchanged";
    const SampleBlock expected = convertorRoundTrip(pcm.samples, pcm.channels, keyEvery);
    ASSERT_EQ(restored.size(), expected.size());
    size_t wrong = 0, firstWrong = 0;
    for (size_t i = 0; i < restored.size(); ++i)
        if (restored[i] != expected[i] && wrong++ == 0) firstWrong = i;
    EXPECT_EQ(wrong, 0u) << path << ": first wrong value at " << firstWrong;
}

// Sign-sign filters minimise the size of the residuals, not their squares (a
// few transients dominate the squares), so stages are judged by the sum of
// magnitudes, which also tracks what the coder spends.
int64_t magnitude(const SampleBlock& v) {
    int64_t sum = 0;
    for (int16_t s : v) sum += std::abs(int32_t{s});
    return sum;
}

// The generation-02 chain written out stage by stage: the StereoPredictor's
// gainShift and its inner predictor for a file of `channels` channels. Stages 3
// and 5 read one channel whatever the file holds; stages 6 and 7 shift one less
// for a one-channel file only.
struct Stage02 {
    int gainShift;
    std::function<PredictorI*(int channels)> inner;
};
const Stage02 kStages02[] = {
    {0, [](int) -> PredictorI* { return new DeltaFilter<31, 5>(); }},
    {0, [](int ch) -> PredictorI* { return new QuickFilter02(ch, 14, 7, 7); }},
    {13, [](int) -> PredictorI* { return new BigFilter02(1, 128, 13, 1, 1); }},
    {12, [](int ch) -> PredictorI* { return new QuickFilter02(ch, 11, 4, 5); }},
    {12, [](int) -> PredictorI* { return new BigFilter02(1, 320, 14, 3, 1); }},
    {11, [](int ch) -> PredictorI* { return new BigFilter02(ch, 256, ch == 1 ? 11 : 12, 1, 1); }},
    {10, [](int ch) -> PredictorI* { return new BigFilter02(ch, 64, ch == 1 ? 9 : 10, 1, 0); }},
};

// Index of the first value where the two blocks differ, or -1.
long firstDifference(const SampleBlock& a, const SampleBlock& b) {
    if (a.size() != b.size()) return 0;
    const auto at = std::mismatch(a.begin(), a.end(), b.begin());
    return at.first == a.end() ? -1 : static_cast<long>(at.first - a.begin());
}

}  // namespace

TEST(PredictorChain02, EveryVersionButThreeAndFourBuildsTheEightStages) {
    initPow2Table();
    for (int version : {2, 0, 1, 5, -1}) {
        for (int channels : {1, 2, 3}) {
            for (bool high : {false, true}) {
                const StageList stages = buildPredictorChain(high, channels, true, version);
                ASSERT_EQ(stages.size(), 8u) << version;
                EXPECT_NE(dynamic_cast<XYConvertor02*>(stages[0]), nullptr) << version;
                for (size_t i = 1; i < stages.size(); ++i)
                    EXPECT_NE(dynamic_cast<StereoPredictor*>(stages[i]), nullptr) << version << " stage " << i;
            }
        }
    }
}

// Each stage of the built chain gives, on the same input, exactly the residuals
// of the stage written out above; real stereo audio reaches every side path and,
// past 8192 pairs, the full gain shifts.
TEST(PredictorChain02, EveryStageIsTheTabledStereoPredictor) {
    initPow2Table();
    const testsupport::Pcm stereo = testsupport::loadPcm16(testsupport::dataPath("real_bass_st.wav"));
    const testsupport::Pcm mono = testsupport::loadPcm16(testsupport::dataPath("real_tabla_mono.wav"));
    const struct { int channels; const SampleBlock& samples; } cases[] = {
        {2, stereo.samples}, {1, mono.samples}, {3, stereo.samples}};
    for (const auto& c : cases) {
        const StageList chain = buildPredictorChain(false, c.channels, true, 2);
        ASSERT_EQ(chain.size(), 1 + std::size(kStages02));
        SampleBlock input = c.samples, built = c.samples;
        XYConvertor02(c.channels).transformFast(input);
        chain[0]->transformFast(built);
        ASSERT_EQ(firstDifference(built, input), -1) << c.channels << " channels, convertor";
        for (size_t i = 0; i < std::size(kStages02); ++i) {
            const Stage02& row = kStages02[i];
            StereoPredictor tabled(c.channels, row.inner(c.channels), row.inner(c.channels), row.gainShift);
            built = input;
            chain[i + 1]->transformFast(built);
            tabled.transformFast(input);
            ASSERT_EQ(firstDifference(built, input), -1) << c.channels << " channels, stage " << i + 1;
        }
    }
}

TEST(PredictorChain02, RestoresRealRecordingsAcrossBlocksAndKeyBlocks) {
    for (const char* name : {"real_bass_st.wav", "real_tabla_mono.wav"})
        for (size_t keyEvery : {16, 2, 1}) expectChainRestores(testsupport::dataPath(name), keyEvery);
}

// A recording stored as two equal channels keeps the mid/side convertor on; a
// pair (-20000, 20000) then has a difference that 16 bits cannot hold, and
// comes back as (12768, -12768) while every other value comes back exactly.
TEST(PredictorChain02, PairsTooFarApartComeBackAsTheConvertorWrapsThem) {
    initPow2Table();
    const testsupport::Pcm mono = testsupport::loadPcm16(testsupport::dataPath("real_tabla_mono.wav"));
    SampleBlock stereo, expected;
    for (size_t i = 0; i < mono.samples.size(); ++i) {
        const bool wide = i % 1000 == 999;
        stereo.insert(stereo.end(), {wide ? int16_t{-20000} : mono.samples[i], wide ? int16_t{20000} : mono.samples[i]});
        expected.insert(expected.end(), {wide ? int16_t{12768} : mono.samples[i], wide ? int16_t{-12768} : mono.samples[i]});
    }
    bool changed = false;
    EXPECT_EQ(chainRoundTrip(stereo, 2, 16, &changed), expected);
}

TEST(PredictorChain02, RestoresCorpusFiles) {
    QO_REQUIRE_CORPUS();
    for (const char* name : {"sp_loops1_st.wav", "sp_ambient_st.wav", "sp_perc_glitch_st.wav", "sp_loops_downmix_mono.wav",
                             "syn_noise_fullscale_st.wav", "syn_square_fullscale_mono.wav", "syn_sweep_mono.wav",
                             "syn_silence_st.wav", "edge_3ch_16bit.wav", "edge_odd_rate_st.wav"})
        expectChainRestores(testsupport::corpusPath(name), 16);
}

TEST(PredictorChain02, EachPredictorStageShrinksTheResidualsOfRealAudio) {
    initPow2Table();
    for (const char* name : {"real_bass_st.wav", "real_tabla_mono.wav"}) {
        const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath(name));
        SampleBlock block = pcm.samples;
        const StageList stages = buildPredictorChain(false, pcm.channels, true, 2);
        stages[0]->transformFast(block);
        if (pcm.channels == 1) {
            EXPECT_EQ(block, pcm.samples) << name << ": a one-channel convertor does nothing";
        }
        int64_t before = magnitude(block);
        for (size_t i = 1; i < stages.size(); ++i) {
            stages[i]->transformFast(block);
            const int64_t after = magnitude(block);
            EXPECT_LT(after, before) << name << " stage " << i;
            before = after;
        }
    }
}

// The switch state of the generation-02 convertor is multiplied and summed with
// a 64-bit significand and rounded to a double once per pair. Evaluated in
// plain double precision, each of these runs ends one unit in the last place
// away (-0x1.7ff62b8061644p+1, -0x1.a575e7d09aa23p+10, 0x1.0e3642921283ep+13).
TEST(XYConvertor02, SwitchStateCarriesExtendedPrecision) {
    const struct { const char* name; int pairs; bool (*equalPair)(int); double value; } cases[] = {
        {"unequal", 3, [](int) { return false; }, -0x1.7ff62b8061645p+1},
        {"mixed", 5000, [](int i) { return i % 7 == 0 || i % 7 == 3; }, -0x1.a575e7d09aa24p+10},
        {"equal", 20000, [](int) { return true; }, 0x1.0e3642921283dp+13},
    };
    for (const auto& c : cases) {
        SampleBlock v;
        for (int i = 0; i < c.pairs; ++i) v.insert(v.end(), {100, static_cast<int16_t>(c.equalPair(i) ? 100 : 300)});
        XYConvertor02 forward(2), inverse(2);
        forward.transformFast(v);
        EXPECT_EQ(forward.switchState().value, c.value) << c.name;
        inverse.inverseTransformFast(v);
        EXPECT_EQ(inverse.switchState().value, c.value) << c.name;
    }
}
