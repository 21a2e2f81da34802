#include "entropy/ShrinkingHistogram.h"

ShrinkingHistogram::ShrinkingHistogram(const std::array<int32_t, kBins>& binCounts) : counts(binCounts) {
    for (size_t k = 0; k < kHeld; ++k) held[k + 1] = held[k] + counts[k];
    for (int32_t c : counts) sum += c;
}

int32_t ShrinkingHistogram::walkFrom(int32_t bin, int32_t cum, int32_t end) const {
    for (; bin < end; ++bin) cum += counts[static_cast<size_t>(bin)];
    return cum;
}

int32_t ShrinkingHistogram::searchFrom(int32_t bin, int32_t cum, int32_t t) const {
    for (; bin < kBins; ++bin) {
        cum += counts[static_cast<size_t>(bin)];
        if (t < cum) return bin;
    }
    return -1;
}
