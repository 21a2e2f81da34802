#pragma once
#include <memory>
#include <utility>

#include "pipeline/Transform.h"

// Helpers of the chain builders: each stage is constructed completely and
// appended before the next, and the list then owns it.

inline void appendOwned(StageList& stages, std::unique_ptr<TransformerI> stage) {
    stages.push_back(stage.get());
    stage.release();
}

// One predictor stage: a combiner around two fresh inner predictors (the first
// becomes predictorA), then the combiner's further constructor arguments.
// Nothing leaks if a construction fails part way.
template <class Combiner, class Inner, class... Args>
void appendStage(StageList& stages, Args&&... args) {
    std::unique_ptr<Inner> a(new Inner());
    std::unique_ptr<Inner> b(new Inner());
    appendOwned(stages, std::unique_ptr<TransformerI>(new Combiner(a.release(), b.release(), std::forward<Args>(args)...)));
}
