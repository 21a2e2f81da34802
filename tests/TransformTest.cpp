#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "pipeline/Transform.h"

namespace {

// Predicts a scripted value per call and records the `previous` it was told.
struct Script {
    std::vector<int32_t> predictions;
    std::vector<int> told;
    size_t next = 0;
    int32_t step(int16_t previous) {
        told.push_back(previous);
        return predictions.at(next++);
    }
};

class ScriptedPredictor : public PredictorI {
public:
    explicit ScriptedPredictor(std::vector<int32_t> p) { script.predictions = std::move(p); }
    int32_t predict(int16_t previous, int16_t) override { return script.step(previous); }
    Script script;
};

// The same through the direct-call stage base that every combiner uses.
class ScriptedStage final : public PredictorStage<ScriptedStage> {
public:
    explicit ScriptedStage(std::vector<int32_t> p) { script.predictions = std::move(p); }
    int32_t predict(int16_t previous, int16_t) override { return script.step(previous); }
    Script script;
};

struct Case {
    int32_t prediction;
    int16_t sample;
    int16_t residual;  // prediction - sample, low 16 bits
};
// int16(40000 + 30000) = 4464; int16(-32768 - 32767) = 1; predictions far outside
// the 16-bit range (even one whose difference wraps in 32 bits) still code exactly.
const Case kCases[] = {
    {40000, -30000, 4464}, {100, 100, 0}, {-32768, 32767, 1}, {-70000, 12, -4476}, {2147483647, -1, 0},
};

template <class P>
void expectResidualRule() {
    std::vector<int32_t> predictions;
    SampleBlock samples, residuals;
    for (const Case& c : kCases) {
        predictions.push_back(c.prediction);
        samples.push_back(c.sample);
        residuals.push_back(c.residual);
    }
    P encoder(predictions), decoder(predictions);
    SampleBlock v = samples;
    SampleBlock empty;
    encoder.transformFast(empty);  // an empty block leaves the state alone
    encoder.transformFast(v);
    EXPECT_EQ(v, residuals);
    decoder.inverseTransformFast(v);
    EXPECT_EQ(v, samples);
    // Both directions tell predict the previous sample (0 at first), never a residual.
    std::vector<int> told = {0};
    for (size_t i = 0; i + 1 < samples.size(); ++i) told.push_back(samples[i]);
    EXPECT_EQ(encoder.script.told, told);
    EXPECT_EQ(decoder.script.told, told);
}

}  // namespace

TEST(PredictorI, ResidualIsPredictionMinusSampleInSixteenBits) {
    expectResidualRule<ScriptedPredictor>();
    expectResidualRule<ScriptedStage>();

    // The per-sample calls follow the same rule.
    ScriptedPredictor single({40000, 40000});
    EXPECT_EQ(single.encodeSample(-30000), 4464);
    ScriptedStage stage({40000});
    EXPECT_EQ(stage.decodeSample(4464), -30000);
}
