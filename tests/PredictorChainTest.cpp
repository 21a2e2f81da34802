#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

#include "TestSupport.h"
#include "foundation/Arith.h"
#include "pipeline/PredictorChain.h"
#include "pipeline/TransformerCombiner.h"
#include "pipeline/XYConvertor.h"
#include "pipeline/filters/BigFilter0304.h"
#include "pipeline/filters/BigFilter04.h"
#include "pipeline/filters/DeltaFilter.h"
#include "pipeline/filters/QuickFilter04.h"
#include "pipeline/filters/StereoCombiner04.h"

namespace {

constexpr size_t kBlockValues = 61440;

// Whether a stage is the combiner C around two inner predictors of type I.
template <class C, class I>
bool isStage(const TransformerI* stage) {
    const C* c = dynamic_cast<const C*>(stage);
    return c && typeid(*c->innerA()) == typeid(I) && typeid(*c->innerB()) == typeid(I) &&
           c->innerA() != c->innerB();
}
// Whether a stage is the generation-04 combiner with these settings around two I.
template <class I, int Ch, int AdaptGain, int AttenBase, int AttenShift, int GainShift, int GainMax>
bool isStage04(const TransformerI* stage) {
    return isStage<StereoCombiner04<Ch, AdaptGain, AttenBase, AttenShift, GainShift, GainMax, I>, I>(stage);
}
using StageCheck = std::function<bool(const TransformerI*)>;

template <int Ch>
std::vector<StageCheck> expectedLayout(bool high) {
    std::vector<StageCheck> layout;
    if (Ch == 2) layout.push_back([](const TransformerI* s) { return dynamic_cast<const XYConvertor04*>(s) != nullptr; });
    layout.push_back(isStage04<DeltaFilter04, Ch, 0, 0, 0, 0, 0>);
    layout.push_back(isStage04<QuickFilter04<Ch, 14, 16, 16>, Ch, 0, 0, 0, 0, 0>);
    layout.push_back(isStage04<BigFilter04<1, 512, 9>, Ch, 1, 64, 6, 9, 512>);
    if (high) {
        layout.push_back(isStage04<BigFilter04<Ch, 16, 9>, Ch, 1, 128, 7, 9, 512>);
        layout.push_back(isStage04<BigFilter0304<1, 288, 10, 4, 1>, Ch, 1, 128, 7, 8, 256>);
    }
    if (Ch == 2)
        layout.push_back(isStage04<BigFilter04<2, 96, 7>, 2, 1, 128, 7, 9, 512>);
    else
        layout.push_back(isStage04<BigFilter04<1, 96, 6>, 1, 1, 128, 7, 9, 512>);
    layout.push_back(isStage04<BigFilter04<Ch, 16, 4>, Ch, 1, 0, 0, 8, 256>);
    return layout;
}

// Runs the generation-04 chain over consecutive blocks, forward or inverse, with a
// fresh chain at block 0 and at keyBlock, as the drivers do at key blocks.
void runChain(std::vector<int16_t>& values, bool high, int channels, bool forward, size_t keyBlock) {
    for (size_t start = 0, block = 0; start < values.size(); start += kBlockValues, ++block) {
        const bool reset = block == 0 || block == keyBlock;
        SampleBlock v(values.begin() + start, values.begin() + std::min(values.size(), start + kBlockValues));
        TransformerCombiner runner(buildPredictorChain(high, channels, reset, 4));
        if (forward)
            runner.transformFast(v);
        else
            runner.inverseTransformFast(v);
        std::copy(v.begin(), v.end(), values.begin() + start);
    }
}

void expectRoundTrip(const std::vector<int16_t>& samples, int channels, const std::string& what) {
    const size_t blocks = (samples.size() + kBlockValues - 1) / kBlockValues;
    for (const bool high : {false, true}) {
        std::vector<int16_t> values = samples;
        runChain(values, high, channels, true, blocks / 2);
        if (std::any_of(samples.begin(), samples.end(), [](int16_t x) { return x != 0; })) {
            EXPECT_NE(values, samples) << what;
        }
        runChain(values, high, channels, false, blocks / 2);
        EXPECT_TRUE(values == samples) << what << (high ? " high" : " normal") << ": inverse does not restore";
    }
}

std::vector<int16_t> repeated(const std::vector<int16_t>& v, int times) {
    std::vector<int16_t> out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), v.begin(), v.end());
    return out;
}

double magnitude(const SampleBlock& v) {
    double sum = 0;
    for (const int16_t s : v) sum += std::abs(int32_t{s});
    return sum;
}

}  // namespace

TEST(PredictorChain, Generation04LayoutsStageByStage) {
    struct Case {
        bool high;
        int channels;
        std::vector<StageCheck> layout;
    };
    const Case cases[] = {
        {false, 2, expectedLayout<2>(false)}, {true, 2, expectedLayout<2>(true)},
        {false, 1, expectedLayout<1>(false)}, {true, 1, expectedLayout<1>(true)},
        {false, 3, expectedLayout<1>(false)}, {true, 0, expectedLayout<1>(true)},
    };
    for (const Case& c : cases) {
        const StageList stages = buildPredictorChain(c.high, c.channels, true, 4);
        ASSERT_EQ(stages.size(), c.layout.size()) << "channels " << c.channels << " high " << c.high;
        for (size_t i = 0; i < stages.size(); ++i)
            EXPECT_TRUE(c.layout[i](stages[i])) << "channels " << c.channels << " high " << c.high << " stage " << i;
    }
    EXPECT_EQ(expectedLayout<2>(false).size(), 6u);
    EXPECT_EQ(expectedLayout<2>(true).size(), 8u);
    EXPECT_EQ(expectedLayout<1>(false).size(), 5u);
    EXPECT_EQ(expectedLayout<1>(true).size(), 7u);
}

// The one-loop run serves every generation-04 chain (a chain it missed would still
// come out right, through the stage-by-stage loop, only slower) and nothing else: a
// list it does not know, or a generation-04 list short of a stage, is left alone.
TEST(PredictorChain, FusedLoopTakesExactlyTheGeneration04Chains) {
    initPow2Table();
    const SampleBlock block = {100, -200, 300, 50, -7, 12, 900, -901};
    struct Case {
        int version;
        bool high;
        int channels;
        bool dropLast;
        bool fused;
    };
    const Case cases[] = {
        {4, false, 2, false, true}, {4, true, 2, false, true},  {4, false, 1, false, true},
        {4, true, 1, false, true},  {4, false, 2, true, false}, {4, true, 1, true, false},
        {3, false, 2, false, false}, {3, false, 1, false, false}, {2, false, 2, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("generation " + std::to_string(c.version) + " channels " + std::to_string(c.channels) +
                     (c.high ? " high" : "") + (c.dropLast ? " short of its last stage" : ""));
        StageList stages = buildPredictorChain(c.high, c.channels, true, c.version);
        if (c.dropLast) stages.pop_back();
        for (const bool forward : {true, false}) {
            SampleBlock v = block;
            EXPECT_EQ(runFusedChain(stages, v, forward), c.fused);
            if (!c.fused) {
                EXPECT_EQ(v, block);
            }
        }
    }
}

TEST(PredictorChain, ReusesTheChainUntilReset) {
    const StageList first = buildPredictorChain(false, 2, true, 4);
    StageList again = buildPredictorChain(false, 2, false, 4);
    EXPECT_EQ(again, first);
    // Without reset the other arguments are not looked at.
    EXPECT_EQ(buildPredictorChain(true, 1, false, 3), first);
    again.clear();  // the caller's copy only
    EXPECT_EQ(buildPredictorChain(false, 2, false, 4), first);
    const StageList rebuilt = buildPredictorChain(true, 1, true, 4);
    EXPECT_EQ(rebuilt.size(), 7u);
    EXPECT_EQ(buildPredictorChain(false, 2, false, 4), rebuilt);
}

TEST(PredictorChain, RoundTripsRealAudioOverConsecutiveBlocks) {
    const testsupport::Pcm bass = testsupport::loadPcm16(testsupport::dataPath("real_bass_st.wav"));
    const testsupport::Pcm tabla = testsupport::loadPcm16(testsupport::dataPath("real_tabla_mono.wav"));
    ASSERT_EQ(bass.channels, 2);
    ASSERT_EQ(tabla.channels, 1);
    // Repeated so that each run spans several blocks and a key block in between.
    expectRoundTrip(repeated(bass.samples, 2), 2, "bass");
    expectRoundTrip(repeated(tabla.samples, 4), 1, "tabla");

    // Three channels are coded as one interleaved stream with the mono layout.
    std::vector<int16_t> three;
    for (size_t i = 0; i + 1 < bass.samples.size() && i / 2 < tabla.samples.size(); i += 2)
        three.insert(three.end(), {bass.samples[i], bass.samples[i + 1], tabla.samples[i / 2]});
    expectRoundTrip(three, 3, "three channels");
}

TEST(PredictorChain, RoundTripsCorpusFiles) {
    QO_REQUIRE_CORPUS();
    for (const char* name : {"sp_ambient_st.wav", "sp_perc_glitch_st.wav", "sp_loops_downmix_mono.wav",
                             "syn_noise_fullscale_st.wav", "syn_square_fullscale_mono.wav", "syn_sweep_mono.wav",
                             "syn_silence_st.wav", "edge_3ch_16bit.wav", "edge_odd_frames_st.wav"}) {
        const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::corpusPath(name));
        std::vector<int16_t> samples = pcm.samples;
        if (pcm.channels == 2 && samples.size() % 2) samples.push_back(0);  // the driver's pad value
        if (pcm.channels == 2 || samples.size() > 0) expectRoundTrip(samples, pcm.channels, name);
    }
}

TEST(PredictorChain, EachPredictorStageLowersTheResidualsOfRealAudio) {
    // The sign-sign filters minimise residual magnitudes, so the sum of |residual|
    // over a run of blocks is the measure. A late stage may find next to nothing
    // left on a short percussive recording; a broken one makes things far worse.
    struct Case {
        const char* file;
        int channels;
    };
    for (const Case& c : {Case{"real_bass_st.wav", 2}, Case{"real_tabla_mono.wav", 1}}) {
        const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath(c.file));
        const std::vector<int16_t> samples = repeated(pcm.samples, 3);
        for (const bool high : {false, true}) {
            std::vector<double> perLayer;  // layer -1 first
            for (size_t start = 0, block = 0; start < samples.size(); start += kBlockValues, ++block) {
                const StageList stages = buildPredictorChain(high, c.channels, block == 0, 4);
                perLayer.resize(stages.size() + 1);
                SampleBlock v(samples.begin() + start, samples.begin() + std::min(samples.size(), start + kBlockValues));
                perLayer[0] += magnitude(v);
                for (size_t i = 0; i < stages.size(); ++i) {
                    stages[i]->transformFast(v);
                    perLayer[i + 1] += magnitude(v);
                }
            }
            const std::string what = std::string(c.file) + (high ? " high" : " normal");
            const StageList stages = buildPredictorChain(high, c.channels, false, 4);
            for (size_t i = 0; i < stages.size(); ++i) {
                if (dynamic_cast<const XYConvertor04*>(stages[i]) != nullptr) continue;
                EXPECT_LT(perLayer[i + 1], perLayer[i] * 1.005) << what << " stage " << i;
            }
            EXPECT_LT(perLayer.back(), perLayer.front() * 0.05) << what;
            EXPECT_LT(perLayer.back(), perLayer[perLayer.size() - 4] * 0.98) << what << ": the long stages gain nothing";
        }
    }
}

TEST(PredictorChain, DecodesArbitraryResidualsAsADamagedFileWouldDeliver) {
    // Random residuals drive every filter state to extremes; decoding must stay
    // inside every table, and encoding the result gives the residuals back.
    std::vector<int16_t> residuals;
    uint32_t x = 99;
    for (size_t i = 0; i < 3 * kBlockValues; ++i) {
        x = x * 1664525u + 1013904223u;
        residuals.push_back(static_cast<int16_t>(x >> 16));
    }
    for (const int channels : {1, 2}) {
        std::vector<int16_t> values = residuals;
        runChain(values, true, channels, false, 2);
        runChain(values, true, channels, true, 2);
        EXPECT_TRUE(values == residuals) << channels << " channels";
    }
}
