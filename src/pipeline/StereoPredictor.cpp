#include "pipeline/StereoPredictor.h"

#include <algorithm>

#include "foundation/Arith.h"

namespace {

// Stages with these shifts run one shift lower (gains halved) until a stereo
// stream has made 16384 calls.
bool startsLow(int32_t shift) { return shift > 8 && shift < 13; }

constexpr int32_t kFullShiftCall = 16384;

}  // namespace

StereoPredictor::StereoPredictor(int32_t channels, PredictorI* predictorA, PredictorI* predictorB,
                                 int32_t gainShift)
    : predictorA(predictorA),
      predictorB(predictorB),
      channels(channels),
      adaptGains(gainShift != 0),
      gainA(pow2(gainShift)),
      gainB(gainA),
      gainShift(gainShift),
      gainMaxA(gainA),
      gainMaxB(gainA) {
    if (startsLow(this->gainShift)) scaleGains(false);
}

void StereoPredictor::scaleGains(bool up) {
    if (up) {
        gainShift += 1;
        gainA *= 2;
        gainB *= 2;
        gainMaxA *= 2;
        gainMaxB *= 2;
    } else {
        gainShift -= 1;
        gainA /= 2;
        gainB /= 2;
        gainMaxA /= 2;
        gainMaxB /= 2;
    }
}

// The gain rises while the sample lands beyond the scaled prediction (d has the
// prediction's sign) and falls when it overshoots; it stays within 1 .. gainMax.
void StereoPredictor::adaptGain(int32_t& gain, int32_t gainMax, int32_t d) const {
    if (!adaptGains || lastOutput == 0 || d == 0) return;
    const int32_t t = (wrapAbs(d) >> 6) + 1;
    if ((lastOutput > 0) == (d > 0))
        gain = std::min(gain + t, gainMax);
    else
        gain = std::max(gain - t, 1);
}

int32_t StereoPredictor::predict(int16_t previous, int16_t) {
    if (callCount == kFullShiftCall && startsLow(gainShift)) scaleGains(true);
    const int32_t d = previous - lastOutput;
    int32_t p;
    if (channels != 2) {
        adaptGain(gainA, gainMaxA, d);
        p = predictorA->predict(previous, 0);
        if (adaptGains) p = (p * gainA) >> gainShift;
    } else if (++callCount & 1) {
        adaptGain(gainA, gainMaxA, d);
        lastA = previous;
        p = predictorB->predict(lastB, previous);
        if (adaptGains) p = (p * gainB) >> gainShift;
    } else {
        adaptGain(gainB, gainMaxB, d);
        lastB = previous;
        p = predictorA->predict(lastA, previous);
        if (adaptGains) p = (p * gainA) >> gainShift;
    }
    lastOutput = p;
    return (p * 121) / 128;
}
