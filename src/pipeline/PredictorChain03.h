#pragma once
#include "pipeline/Transform.h"

// Appends the nine generation-03 stages: the mid/side convertor (built with the
// real channel count, so it does nothing in mono) and eight predictor stages,
// in the stereo layout for two channels and the mono layout for any other count.
void appendChain03(StageList& stages, int channels);
