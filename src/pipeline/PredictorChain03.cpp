#include "pipeline/PredictorChain.h"

#include <memory>

#include "pipeline/ChainStages.h"
#include "pipeline/XYConvertor.h"
#include "pipeline/filters/BigFilter03.h"
#include "pipeline/filters/DeltaFilter.h"
#include "pipeline/filters/QuickFilter03.h"
#include "pipeline/filters/StereoCombiner.h"
#include "pipeline/filters/StereoCombinerAlt.h"

namespace {

// The layouts differ only in the channel count of the combiners and of the
// filters that read both channels; the 64-tap filter of the third stage also
// shifts one less in mono.
template <int Ch>
void appendLayout03(StageList& stages) {
    appendStage<StereoCombiner<Ch, 0, 31, 5, 0, 0>, DeltaFilter<32, 5>>(stages, 0);
    appendStage<StereoCombiner<Ch, 0, 31, 5, 0, 0>, QuickFilter03<Ch, 15, 10, 10>>(stages, 0);
    appendStage<StereoCombinerAlt<Ch, 4, 2, 255, 8, 1>, BigFilter03<Ch, 64, Ch == 2 ? 10 : 9, 1, 1>>(stages);
    appendStage<StereoCombinerAlt<Ch, 4, 2, 255, 8, 1>, QuickFilter03<Ch, 12, 4, 5>>(stages);
    appendStage<StereoCombinerAlt<Ch, 8, 3, 255, 8, 1>, BigFilter03<1, 320, 10, 4, 1>>(stages);
    appendStage<StereoCombiner<Ch, 1, 26, 5, 256, 8>, BigFilter03<1, 256, 8, 1, 1>>(stages, 12);
    appendStage<StereoCombiner<Ch, 1, 30, 5, 0, 0>, BigFilter03<Ch, 64, 7, 1, 0>>(stages, 11);
    appendStage<StereoCombinerAlt<Ch, 8, 3, 255, 8, 1>, QuickFilter03<Ch, 8, 4, 4>>(stages);
}

}  // namespace

void appendChain03(StageList& stages, int channels) {
    appendOwned(stages, std::make_unique<XYConvertor03>(channels));
    if (channels == 2)
        appendLayout03<2>(stages);
    else
        appendLayout03<1>(stages);
}
