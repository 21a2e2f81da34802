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

template <int Ch>
void appendLayout04(StageList& stages, bool high) {
    appendStage<StereoCombiner04<Ch, 0, 0, 0, 0, 0>, DeltaFilter04>(stages);
    appendStage<StereoCombiner04<Ch, 0, 0, 0, 0, 0>, QuickFilter04<Ch, 14, 16, 16>>(stages);
    appendStage<StereoCombiner04<Ch, 1, 64, 6, 9, 512>, BigFilter04<1, 512, 9>>(stages);
    if (high) {
        appendStage<StereoCombiner04<Ch, 1, 128, 7, 9, 512>, BigFilter04<Ch, 16, 9>>(stages);
        appendStage<StereoCombiner04<Ch, 1, 128, 7, 8, 256>, BigFilter0304<1, 288, 10, 4, 1>>(stages);
    }
    appendStage<StereoCombiner04<Ch, 1, 128, 7, 9, 512>, BigFilter04<Ch, 96, Ch == 2 ? 7 : 6>>(stages);
    appendStage<StereoCombiner04<Ch, 1, 0, 0, 8, 256>, BigFilter04<Ch, 16, 4>>(stages);
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
