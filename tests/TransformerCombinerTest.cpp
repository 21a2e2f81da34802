#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/Arith.h"
#include "foundation/Options.h"
#include "foundation/Registry.h"
#include "TestSupport.h"
#include "pipeline/PredictorChain.h"
#include "pipeline/TransformerCombiner.h"

namespace {

// Adds its own offset to every value and logs the order in which it runs.
class OffsetStage : public TransformerI {
public:
    OffsetStage(int16_t offset, std::vector<std::string>& log) : offset(offset), log(log) {}
    void transformFast(SampleBlock& v) override {
        log.push_back("f" + std::to_string(offset));
        for (int16_t& s : v) s = static_cast<int16_t>(s + offset);
    }
    void inverseTransformFast(SampleBlock& v) override {
        log.push_back("i" + std::to_string(offset));
        for (int16_t& s : v) s = static_cast<int16_t>(s - offset);
    }

private:
    int16_t offset;
    std::vector<std::string>& log;
};

std::string layerKey(int layer) { return "Layer " + std::to_string(layer) + " budget-crc"; }

class DebugModeOn : public ::testing::Test {
protected:
    void SetUp() override {
        debugMode = true;
        debugValues.clear();
    }
    void TearDown() override { debugMode = false; }
};

}  // namespace

TEST(BudgetCrc, FeedsTheTruncatedOldValueBackThroughModulo32733) {
    struct Case {
        int layer;
        std::vector<int16_t> block;
        std::vector<double> afterEachCall;
    };
    const std::vector<Case> cases = {
        {901, {20000, 20000}, {7267, 21801}},    // 40000 % 32733, then (7267 + 40000) % 32733 added
        {902, {-20000, -20000}, {-7267}},        // the remainder takes the dividend's sign
        {903, {32733}, {0}},                     // modulus 32733, not 32767
        {904, {}, {0}},                          // an empty block still makes the entry
    };
    for (const Case& c : cases) {
        for (const double expected : c.afterEachCall) {
            TransformerCombiner::budgetCrc(c.block, c.layer);
            EXPECT_EQ(debugValues.at(layerKey(c.layer)), expected) << "layer " << c.layer;
        }
    }
}

TEST_F(DebugModeOn, ForwardInStageOrderInverseInReverseWithMatchingLayerValues) {
    std::vector<std::string> log;
    OffsetStage s0(1, log), s1(10, log), s2(100, log);
    const StageList stages = {&s0, &s1, &s2};
    const SampleBlock original = {5, -7, 32767, 0};
    SampleBlock v = original;

    TransformerCombiner(stages).transformFast(v);
    EXPECT_EQ(v, (SampleBlock{116, 104, static_cast<int16_t>(32767 + 111), 111}));
    const std::map<std::string, double> afterEncode = debugValues;
    EXPECT_EQ(afterEncode.size(), 4u);
    for (int layer = -1; layer <= 2; ++layer) EXPECT_TRUE(afterEncode.count(layerKey(layer))) << layer;

    // The decoder measures the same blocks, so every layer gets the same addition.
    debugValues.clear();
    TransformerCombiner(stages).inverseTransformFast(v);
    EXPECT_EQ(v, original);
    EXPECT_EQ(debugValues, afterEncode);
    EXPECT_EQ(log, (std::vector<std::string>{"f1", "f10", "f100", "i100", "i10", "i1"}));
}

TEST_F(DebugModeOn, EmptyStageListRecordsOnlyLayerMinusOne) {
    SampleBlock v = {3, 4};
    TransformerCombiner({}).transformFast(v);
    TransformerCombiner({}).inverseTransformFast(v);
    EXPECT_EQ(v, (SampleBlock{3, 4}));
    ASSERT_EQ(debugValues.size(), 1u);
    EXPECT_EQ(debugValues.at(layerKey(-1)), 21.0);  // 7, then (7 + 7) % 32733 added
}

TEST(TransformerCombinerTimers, RunWithoutDebugModeAndMakeNoCheckValues) {
    debugMode = false;
    debugValues.clear();
    timerTotals.erase("stage0");
    timerTotals.erase("entiretransforms");
    std::vector<std::string> log;
    OffsetStage s0(1, log);
    SampleBlock v(1000, 1);
    TransformerCombiner({&s0}).transformFast(v);
    EXPECT_TRUE(timerTotals.count("stage0"));
    EXPECT_TRUE(timerTotals.count("entiretransforms"));
    EXPECT_TRUE(debugValues.empty());
}

namespace {

// A chain built by the chain builders and owned by the test.
struct OwnedChain {
    StageList stages;
    OwnedChain(int version, bool high, int channels) {
        if (version == 4)
            appendChain04(stages, high, channels);
        else if (version == 3)
            appendChain03(stages, channels);
        else
            appendChain02(stages, channels);
    }
    ~OwnedChain() {
        for (TransformerI* stage : stages) delete stage;
    }
    OwnedChain(const OwnedChain&) = delete;
    OwnedChain& operator=(const OwnedChain&) = delete;
};

}  // namespace

// Without debugMode the combiner interleaves the stages sample by sample (pair
// by pair after a stereo convertor); every stage must still see what its own
// block loop would, in both directions, across blocks and with an odd block whose
// last value has no partner for the convertor.
TEST(TransformerCombinerDepthFirst, GivesTheResultsOfEachStageOverTheWholeBlock) {
    struct Case {
        int version;
        bool high;
        const char* file;
    };
    const Case cases[] = {
        {4, false, "real_bass_st.wav"}, {4, true, "real_bass_st.wav"},  {4, false, "real_tabla_mono.wav"},
        {4, true, "real_tabla_mono.wav"}, {3, false, "real_bass_st.wav"}, {3, false, "real_tabla_mono.wav"},
        {2, false, "real_bass_st.wav"}, {2, false, "real_tabla_mono.wav"},
    };
    debugMode = false;
    initPow2Table();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " generation " + std::to_string(c.version) + (c.high ? " high" : ""));
        const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath(c.file));
        OwnedChain byBlock(c.version, c.high, pcm.channels), forward(c.version, c.high, pcm.channels),
            inverse(c.version, c.high, pcm.channels);
        timerTotals.erase("stage0");
        const size_t blockSizes[] = {4096, 2, 6000, 1001};
        size_t begin = 0;
        for (const size_t size : blockSizes) {
            ASSERT_LE(begin + size, pcm.samples.size());
            const SampleBlock original(pcm.samples.begin() + begin, pcm.samples.begin() + begin + size);
            begin += size;
            SampleBlock expected = original;
            for (TransformerI* stage : byBlock.stages) stage->transformFast(expected);
            SampleBlock v = original;
            TransformerCombiner(forward.stages).transformFast(v);
            ASSERT_EQ(v, expected) << "block of " << size;
            TransformerCombiner(inverse.stages).inverseTransformFast(v);
            ASSERT_EQ(v, original) << "block of " << size;
        }
        // Stage timers belong to the stage-by-stage runs of debugMode only.
        EXPECT_FALSE(timerTotals.count("stage0"));
    }
}
