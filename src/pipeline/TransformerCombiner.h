#pragma once
#include "pipeline/Transform.h"

// Runs a stage list over one sample block: forward through the stages in list
// order, inverse in reverse order. Every stage sees its inputs in the same
// order either way it is run:
// - with debugMode, breadth-first: each stage over the whole block in turn,
//   timed ("stage%d"), with a check value of the block recorded after every
//   layer, so that the encoder's and the decoder's reports can be compared
//   layer by layer;
// - otherwise depth-first: each unit of samples (a pair when a stage works on
//   pairs) through all stages before the next unit. Each stage's adaptation is
//   one long serial chain of dependent steps; interleaving the stages lets the
//   processor overlap their independent chains. A generation-04 chain runs
//   this way in one loop of direct calls (runFusedChain); other lists through
//   each stage's StageStep.
// The stages are borrowed: they belong to the chain builder.
class TransformerCombiner : public TransformerI {
public:
    explicit TransformerCombiner(const StageList& stageList) : stages(stageList) {}

    void transformFast(SampleBlock& v) override;
    void inverseTransformFast(SampleBlock& v) override;

    // Adds (truncated old value + sum of v) % 32733 to "Layer <layer> budget-crc".
    static void budgetCrc(const SampleBlock& v, int layer);

private:
    void runBreadthFirst(SampleBlock& v, bool forward);
    // False (and nothing done) when a stage runs whole blocks only.
    bool runDepthFirst(SampleBlock& v, bool forward);

    StageList stages;
};
