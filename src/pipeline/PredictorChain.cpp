#include "pipeline/PredictorChain.h"

#include <memory>
#include <tuple>
#include <typeinfo>
#include <utility>

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
using Stage04 = StereoCombiner04<Ch, AdaptGain, AttenBase, AttenShift, GainShift, GainMax, Inner>;

// Whether the stage is an object of type T itself (not of a type derived from it).
template <class T>
bool isExactly(const TransformerI* stage) {
    return typeid(*stage) == typeid(T);
}

// The predictor stages of a layout, in chain order.
template <class... Stages>
struct Layout {
    static constexpr size_t size = sizeof...(Stages);

    static void append(StageList& stages) {
        (appendStage<Stages, typename Stages::InnerPredictor>(stages), ...);
    }

    // Whether stages[first ...] are exactly these stages, type for type.
    static bool matches(const StageList& stages, size_t first) {
        if (stages.size() != first + size) return false;
        size_t i = first;
        return (isExactly<Stages>(stages[i++]) && ...);
    }

    // All values of v through the stages, value by value, with direct calls to the
    // stages' own sample steps: each stage sees its inputs in the order its block
    // loop would, so the results are those of the stages run one after the other.
    static void run(const StageList& stages, size_t first, SampleBlock& v, bool forward) {
        runWith(stages, first, v, forward, std::index_sequence_for<Stages...>{});
    }

private:
    template <size_t... I>
    static void runWith(const StageList& stages, size_t first, SampleBlock& v, bool forward,
                        std::index_sequence<I...>) {
        const std::tuple<Stages*...> s{static_cast<Stages*>(stages[first + I])...};
        if (forward)
            for (int16_t& x : v) ((x = std::get<I>(s)->encodeSample(x)), ...);
        else
            for (int16_t& x : v) ((x = std::get<size - 1 - I>(s)->decodeSample(x)), ...);
    }
};

// The stages of the generation-04 chains, for Ch channels.
template <int Ch>
using DeltaStage = Stage04<DeltaFilter04, Ch, 0, 0, 0, 0, 0>;
template <int Ch>
using QuickStage = Stage04<QuickFilter04<Ch, 14, 16, 16>, Ch, 0, 0, 0, 0, 0>;
template <int Ch>
using LongStage = Stage04<BigFilter04<1, 512, 9>, Ch, 1, 64, 6, 9, 512>;
template <int Ch>
using HighShortStage = Stage04<BigFilter04<Ch, 16, 9>, Ch, 1, 128, 7, 9, 512>;
template <int Ch>
using HighDecimatedStage = Stage04<BigFilter0304<1, 288, 10, 4, 1>, Ch, 1, 128, 7, 8, 256>;
template <int Ch>
using MiddleStage = Stage04<BigFilter04<Ch, 96, Ch == 2 ? 7 : 6>, Ch, 1, 128, 7, 9, 512>;
template <int Ch>
using ShortStage = Stage04<BigFilter04<Ch, 16, 4>, Ch, 1, 0, 0, 8, 256>;

template <int Ch>
using Normal04 = Layout<DeltaStage<Ch>, QuickStage<Ch>, LongStage<Ch>, MiddleStage<Ch>, ShortStage<Ch>>;
// High mode inserts two stages after the 512-tap stage.
template <int Ch>
using High04 = Layout<DeltaStage<Ch>, QuickStage<Ch>, LongStage<Ch>, HighShortStage<Ch>, HighDecimatedStage<Ch>,
                      MiddleStage<Ch>, ShortStage<Ch>>;

template <int Ch>
void appendLayout04(StageList& stages, bool high) {
    if (high)
        High04<Ch>::append(stages);
    else
        Normal04<Ch>::append(stages);
}

// A stereo chain's convertor is its first stage and works on pairs; it runs over the
// whole block before the predictor stages (and after them in the inverse), which
// gives every stage the same inputs as the interleaved run.
template <class L>
bool runLayout(const StageList& stages, SampleBlock& v, bool forward, bool stereo) {
    const size_t first = stereo ? 1 : 0;
    if (!L::matches(stages, first)) return false;
    if (stereo && !isExactly<XYConvertor04>(stages[0])) return false;
    if (stereo && forward) stages[0]->transformFast(v);
    L::run(stages, first, v, forward);
    if (stereo && !forward) stages[0]->inverseTransformFast(v);
    return true;
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

bool runFusedChain(const StageList& stages, SampleBlock& v, bool forward) {
    return runLayout<Normal04<2>>(stages, v, forward, true) || runLayout<High04<2>>(stages, v, forward, true) ||
           runLayout<Normal04<1>>(stages, v, forward, false) || runLayout<High04<1>>(stages, v, forward, false);
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
