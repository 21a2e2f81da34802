#include "entropy/ModelSmooth02.h"

const int32_t smallCountFrequencies02[65] = {
    871, 70,
    560, 63, 9,
    394, 57, 12, 6,
    222, 56, 12, 6, 4,
    243, 55, 11, 3, 2, 1,
    237, 51, 14, 3, 2, 1, 1,
    179, 50, 13, 4, 3, 2, 2, 2,
    116, 42, 9, 4, 3, 2, 1, 1, 1,
    97, 38, 19, 6, 5, 4, 3, 2, 1, 1,
    79, 44, 13, 4, 3, 2, 1, 1, 1, 1, 1,
};

ModelSmooth02::ModelSmooth02(int32_t channels, BitstreamFast* coder)
    : SmoothBitModel(channels, coder, smallCountFrequencies02, 10, 10) {}

// A run of zeros lets a state sink to 15, where the shift alone would give 0.
int32_t ModelSmooth02::scaleOf(int32_t state) const {
    const int32_t scale = state >> 6;
    return scale < 1 ? 1 : scale;
}

int32_t ModelSmooth02::updatedState(int32_t state, uint32_t u, int32_t) const {
    return state + static_cast<int32_t>((u + 1) >> 1) - ((state + 16) >> 5);
}

// The block carries no mode.
int32_t ModelSmooth02::encodeMode(const std::vector<uint16_t>&) { return 0; }

int32_t ModelSmooth02::decodeMode() { return 0; }
