#include "pipeline/Transform.h"

MultiBlock BlockTransformerI::forwardBlocks(const MultiBlock& blocks) {
    MultiBlock copy = blocks;
    for (Block& b : copy) forwardBlock(b);
    return copy;
}

MultiBlock BlockTransformerI::inverseBlocks(const MultiBlock& blocks) {
    MultiBlock copy = blocks;
    for (Block& b : copy) inverseBlock(b);
    return copy;
}

void TransformerI::forwardBlock(Block& block) { transformFast(block.samples); }
void TransformerI::inverseBlock(Block& block) { inverseTransformFast(block.samples); }

void FilterI::transformFast(SampleBlock& v) {
    const size_t n = v.size();
    for (size_t i = 0; i < n; ++i) v[i] = encodeSample(v[i]);
}

void FilterI::inverseTransformFast(SampleBlock& v) {
    const size_t n = v.size();
    for (size_t i = 0; i < n; ++i) v[i] = decodeSample(v[i]);
}

StageStep FilterI::stageStep() {
    return {[](TransformerI& stage, int16_t* x) { *x = static_cast<FilterI&>(stage).encodeSample(*x); },
            [](TransformerI& stage, int16_t* r) { *r = static_cast<FilterI&>(stage).decodeSample(*r); }, 1};
}
