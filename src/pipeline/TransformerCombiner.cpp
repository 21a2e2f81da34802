#include "pipeline/TransformerCombiner.h"

#include <string>

#include "foundation/Options.h"
#include "foundation/Registry.h"

namespace {
std::string stageName(size_t i) { return "stage" + std::to_string(i); }
}  // namespace

void TransformerCombiner::transformFast(SampleBlock& v) {
    startTimer("entiretransforms");
    if (debugMode) budgetCrc(v, -1);
    for (size_t i = 0; i < stages.size(); ++i) {
        const std::string name = stageName(i);
        startTimer(name);
        stages[i]->transformFast(v);
        stopTimer(name);
        if (debugMode) budgetCrc(v, static_cast<int>(i));
    }
    stopTimer("entiretransforms");
}

void TransformerCombiner::inverseTransformFast(SampleBlock& v) {
    for (size_t i = stages.size(); i-- > 0;) {
        if (debugMode) budgetCrc(v, static_cast<int>(i));
        const std::string name = stageName(i);
        startTimer(name);
        stages[i]->inverseTransformFast(v);
        stopTimer(name);
    }
    if (debugMode) budgetCrc(v, -1);
}

void TransformerCombiner::budgetCrc(const SampleBlock& v, int layer) {
    double& value = debugValues["Layer " + std::to_string(layer) + " budget-crc"];
    // The value grows over a long run; going through 64 bits keeps the conversion
    // defined once it passes the int32 range (the low 32 bits are kept).
    uint32_t t = static_cast<uint32_t>(static_cast<int64_t>(value));
    for (const int16_t s : v) t += static_cast<uint32_t>(int32_t{s});
    value += static_cast<double>(static_cast<int32_t>(t) % 32733);
}
