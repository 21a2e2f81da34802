#include <memory>

#include "pipeline/ChainStages.h"
#include "pipeline/PredictorChain.h"
#include "pipeline/StereoPredictor.h"
#include "pipeline/XYConvertor.h"
#include "pipeline/filters/BigFilter02.h"
#include "pipeline/filters/DeltaFilter.h"
#include "pipeline/filters/QuickFilter02.h"

namespace {

// One stage: a StereoPredictor around two fresh inner predictors built with the
// same settings (the first becomes predictorA). Nothing leaks if a
// construction fails part way; the stages appended before stay in the list.
template <class Inner, class... Settings>
void appendStereoPredictor(StageList& stages, int channels, int gainShift, Settings... settings) {
    std::unique_ptr<PredictorI> a(new Inner(settings...));
    std::unique_ptr<PredictorI> b(new Inner(settings...));
    appendOwned(stages, std::unique_ptr<TransformerI>(new StereoPredictor(channels, a.release(), b.release(), gainShift)));
}

}  // namespace

void appendChain02(StageList& stages, int channels) {
    // Stages 6 and 7 shift one less for a one-channel file.
    const int m = channels == 1 ? 1 : 0;
    appendOwned(stages, std::make_unique<XYConvertor02>(channels));
    appendStereoPredictor<DeltaFilter<31, 5>>(stages, channels, 0);
    appendStereoPredictor<QuickFilter02>(stages, channels, 0, channels, 14, 7, 7);
    appendStereoPredictor<BigFilter02>(stages, channels, 13, 1, 128, 13, 1, 1);
    appendStereoPredictor<QuickFilter02>(stages, channels, 12, channels, 11, 4, 5);
    appendStereoPredictor<BigFilter02>(stages, channels, 12, 1, 320, 14, 3, 1);
    appendStereoPredictor<BigFilter02>(stages, channels, 11, channels, 256, 12 - m, 1, 1);
    appendStereoPredictor<BigFilter02>(stages, channels, 10, channels, 64, 10 - m, 1, 0);
}
