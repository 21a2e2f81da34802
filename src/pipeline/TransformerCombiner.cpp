#include "pipeline/TransformerCombiner.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Options.h"
#include "foundation/Registry.h"
#include "pipeline/PredictorChain.h"

namespace {
std::string stageName(size_t i) { return "stage" + std::to_string(i); }

// One stage's step in the chosen direction.
struct BoundStep {
    TransformerI* stage;
    StageStep::Fn fn;
    size_t width;
};
}  // namespace

void TransformerCombiner::transformFast(SampleBlock& v) {
    startTimer("entiretransforms");
    if (debugMode || !(runFusedChain(stages, v, true) || runDepthFirst(v, true))) runBreadthFirst(v, true);
    stopTimer("entiretransforms");
}

void TransformerCombiner::inverseTransformFast(SampleBlock& v) {
    if (debugMode || !(runFusedChain(stages, v, false) || runDepthFirst(v, false))) runBreadthFirst(v, false);
}

void TransformerCombiner::runBreadthFirst(SampleBlock& v, bool forward) {
    if (forward && debugMode) budgetCrc(v, -1);
    for (size_t k = 0; k < stages.size(); ++k) {
        const size_t i = forward ? k : stages.size() - 1 - k;
        if (!forward && debugMode) budgetCrc(v, static_cast<int>(i));
        const std::string name = stageName(i);
        startTimer(name);
        if (forward)
            stages[i]->transformFast(v);
        else
            stages[i]->inverseTransformFast(v);
        stopTimer(name);
        if (forward && debugMode) budgetCrc(v, static_cast<int>(i));
    }
    if (!forward && debugMode) budgetCrc(v, -1);
}

bool TransformerCombiner::runDepthFirst(SampleBlock& v, bool forward) {
    std::vector<BoundStep> steps;
    steps.reserve(stages.size());
    size_t unit = 1;
    for (size_t k = 0; k < stages.size(); ++k) {
        TransformerI* stage = stages[forward ? k : stages.size() - 1 - k];
        const StageStep step = stage->stageStep();
        if (step.width == 0) return false;
        const size_t width = static_cast<size_t>(step.width);
        steps.push_back({stage, forward ? step.forward : step.inverse, width});
        unit = std::max(unit, width);
    }
    // Runs of one-value stages between the wider stages: within a unit, each run
    // takes the first value through all its stages, then the next value, which
    // keeps the steps of one stage apart; a wider stage sits between runs, with
    // all of its values ready.
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t b = 0; b < steps.size();) {
        size_t e = b + 1;
        if (steps[b].width == 1)
            while (e < steps.size() && steps[e].width == 1) ++e;
        runs.emplace_back(b, e);
        b = e;
    }
    const size_t n = v.size();
    size_t p = 0;
    for (; p + unit <= n; p += unit) {
        int16_t* x = &v[p];
        for (const auto& [b, e] : runs) {
            if (steps[b].width != 1) {
                steps[b].fn(*steps[b].stage, x);
                continue;
            }
            for (size_t j = 0; j < unit; ++j)
                for (size_t k = b; k < e; ++k) steps[k].fn(*steps[k].stage, x + j);
        }
    }
    // The values after the last whole unit: a stage of wider steps leaves them
    // alone, as its block loop does.
    for (; p < n; ++p)
        for (const BoundStep& s : steps)
            if (s.width == 1) s.fn(*s.stage, &v[p]);
    return true;
}

void TransformerCombiner::budgetCrc(const SampleBlock& v, int layer) {
    double& value = debugValues["Layer " + std::to_string(layer) + " budget-crc"];
    // The value grows over a long run; going through 64 bits keeps the conversion
    // defined once it passes the int32 range (the low 32 bits are kept).
    uint32_t t = static_cast<uint32_t>(static_cast<int64_t>(value));
    for (const int16_t s : v) t += static_cast<uint32_t>(int32_t{s});
    value += static_cast<double>(static_cast<int32_t>(t) % 32733);
}
