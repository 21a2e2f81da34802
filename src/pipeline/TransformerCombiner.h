#pragma once
#include "pipeline/Transform.h"

// Runs a stage list over one sample block: forward through the stages in list
// order, inverse in reverse order. Each stage is timed ("stage%d"); with
// debugMode a check value of the block is recorded after every layer, so that
// the encoder's and the decoder's reports can be compared layer by layer.
// The stages are borrowed: they belong to the chain builder.
class TransformerCombiner : public TransformerI {
public:
    explicit TransformerCombiner(const StageList& stageList) : stages(stageList) {}

    void transformFast(SampleBlock& v) override;
    void inverseTransformFast(SampleBlock& v) override;

    // Adds (truncated old value + sum of v) % 32733 to "Layer <layer> budget-crc".
    static void budgetCrc(const SampleBlock& v, int layer);

private:
    StageList stages;
};
