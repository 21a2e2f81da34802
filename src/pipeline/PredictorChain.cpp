#include "pipeline/PredictorChain.h"

#include <memory>

#include "pipeline/ChainStages.h"
#include "pipeline/XYConvertor.h"
#include "pipeline/filters/BigFilter0304.h"
#include "pipeline/filters/BigFilter04.h"
#include "pipeline/filters/DeltaFilter.h"
#include "pipeline/filters/QuickFilter04.h"
#include "pipeline/filters/StereoCombiner04.h"

namespace {

// Owns the stages of the current chain; the last chain is released at exit.
struct ChainStore {
    StageList stages;
    void clear() {
        for (TransformerI* stage : stages) delete stage;
        stages.clear();
    }
    ~ChainStore() { clear(); }
};

ChainStore& chainStore() {
    static ChainStore store;
    return store;
}

// A generation-04 stage: the combiner with its settings around two Inner predictors.
template <class Inner, int Ch, int AdaptGain, int AttenBase, int AttenShift, int GainShift, int GainMax>
void appendStage04(StageList& stages) {
    appendStage<StereoCombiner04<Ch, AdaptGain, AttenBase, AttenShift, GainShift, GainMax, Inner>, Inner>(stages);
}

template <int Ch>
void appendLayout04(StageList& stages, bool high) {
    appendStage04<DeltaFilter04, Ch, 0, 0, 0, 0, 0>(stages);
    appendStage04<QuickFilter04<Ch, 14, 16, 16>, Ch, 0, 0, 0, 0, 0>(stages);
    appendStage04<BigFilter04<1, 512, 9>, Ch, 1, 64, 6, 9, 512>(stages);
    if (high) {
        appendStage04<BigFilter04<Ch, 16, 9>, Ch, 1, 128, 7, 9, 512>(stages);
        appendStage04<BigFilter0304<1, 288, 10, 4, 1>, Ch, 1, 128, 7, 8, 256>(stages);
    }
    appendStage04<BigFilter04<Ch, 96, Ch == 2 ? 7 : 6>, Ch, 1, 128, 7, 9, 512>(stages);
    appendStage04<BigFilter04<Ch, 16, 4>, Ch, 1, 0, 0, 8, 256>(stages);
}

}  // namespace

void appendChain04(StageList& stages, bool high, int channels) {
    if (channels == 2) {
        appendOwned(stages, std::make_unique<XYConvertor04>(channels));
        appendLayout04<2>(stages, high);
    } else {
        appendLayout04<1>(stages, high);
    }
}

StageList buildPredictorChain(bool high, int channels, bool reset, int version) {
    ChainStore& store = chainStore();
    if (!store.stages.empty() && !reset) return store.stages;
    store.clear();
    if (version == 4)
        appendChain04(store.stages, high, channels);
    else if (version == 3)
        appendChain03(store.stages, channels);
    else
        appendChain02(store.stages, channels);
    return store.stages;
}
