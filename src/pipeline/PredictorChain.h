#pragma once
#include "pipeline/Transform.h"

// The stage list of the predictor chain for a format generation, channel layout
// and mode. The chain is kept process-wide: with reset false and a chain already
// built, the same stages (with all their state) come back whatever the other
// arguments; with reset true, or on the first call, the old stages are
// destroyed and a fresh chain is built. The caller must not delete the stages;
// the returned copy stays valid until the next rebuild.
StageList buildPredictorChain(bool high, int channels, bool reset, int version);

// Runs a generation-04 chain (a list built by appendChain04, matched by the stages'
// types) over a block in one loop of direct calls, with the results of running its
// stages one after the other; false, with v untouched, for any other list.
bool runFusedChain(const StageList& stages, SampleBlock& v, bool forward);

// Appends the generation-04 stages: with two channels the stereo layout
// (convertor first), with any other count the mono layout over the interleaved
// stream; high inserts two stages after the 512-tap stage.
void appendChain04(StageList& stages, bool high, int channels);

// Appends the nine generation-03 stages: the mid/side convertor (built with the
// real channel count, so it does nothing in mono) and eight predictor stages,
// in the stereo layout for two channels and the mono layout for any other count.
void appendChain03(StageList& stages, int channels);

// Appends the generation-02 stages, built for every version other than 3 and 4:
// the mid/side convertor, then seven StereoPredictor stages configured from the
// channel count (high plays no part).
void appendChain02(StageList& stages, int channels);
