#include "entropy/ModelSmooth03.h"

#include <cmath>

const int32_t smallCountFrequencies03[560] = {
    13243, 1333,
    7125, 1076, 124,
    3328, 918, 159, 30,
    2301, 783, 165, 46, 13,
    1793, 699, 184, 55, 26, 8,
    1204, 633, 157, 63, 27, 10, 6,
    970, 553, 183, 56, 27, 9, 8, 3,
    710, 477, 174, 57, 34, 15, 13, 2, 2,
    612, 429, 192, 55, 35, 17, 17, 4, 3, 3,
    429, 365, 169, 62, 42, 22, 9, 7, 3, 2, 2,
    370, 322, 177, 65, 32, 19, 13, 15, 2, 2, 2, 1,
    310, 302, 164, 73, 31, 15, 13, 4, 5, 3, 2, 1, 1,
    178, 258, 161, 89, 35, 21, 15, 13, 5, 4, 3, 2, 2, 1,
    168, 223, 170, 65, 36, 26, 12, 13, 7, 3, 3, 2, 2, 1, 1,
    125, 202, 158, 68, 42, 15, 11, 11, 9, 5, 4, 3, 2, 2, 1, 1,
    135, 175, 144, 80, 35, 15, 10, 10, 10, 8, 4, 2, 2, 1, 1, 1, 1,
    85, 141, 149, 83, 45, 19, 12, 10, 7, 5, 3, 4, 2, 1, 1, 1, 1, 1,
    67, 137, 121, 75, 38, 31, 15, 13, 9, 7, 5, 3, 3, 2, 1, 1, 1, 1, 1,
    57, 105, 107, 77, 34, 18, 14, 11, 10, 5, 5, 4, 4, 3, 2, 1, 1, 1, 1, 1,
    55, 81, 106, 81, 42, 18, 12, 11, 10, 6, 6, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1,
    38, 82, 79, 65, 56, 28, 14, 11, 9, 8, 8, 7, 6, 5, 2, 1, 1, 1, 1, 1, 1, 1,
    23, 64, 71, 77, 54, 28, 18, 18, 13, 11, 5, 7, 7, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1,
    28, 60, 78, 73, 54, 26, 10, 10, 10, 9, 3, 3, 4, 3, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1,
    20, 56, 57, 65, 54, 28, 24, 11, 11, 6, 4, 8, 3, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    16, 45, 59, 65, 42, 33, 12, 9, 9, 8, 6, 5, 2, 4, 4, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    13, 26, 55, 66, 38, 24, 10, 13, 9, 8, 7, 4, 3, 3, 3, 3, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    15, 33, 48, 48, 31, 29, 12, 12, 11, 11, 8, 7, 6, 5, 4, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    9, 21, 41, 42, 39, 33, 21, 15, 11, 9, 8, 7, 6, 6, 6, 4, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    9, 24, 40, 34, 49, 32, 22, 22, 10, 9, 7, 6, 5, 3, 3, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    5, 21, 23, 36, 36, 29, 26, 15, 12, 9, 8, 7, 6, 6, 6, 6, 8, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    4, 13, 36, 25, 30, 26, 26, 15, 13, 12, 12, 9, 7, 4, 4, 4, 4, 4, 4, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    6, 13, 23, 32, 28, 25, 19, 16, 13, 6, 6, 6, 6, 5, 5, 4, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
};

std::vector<int32_t> modeCostTable03;

void buildModeCostTable03() {
    if (!modeCostTable03.empty()) return;
    modeCostTable03.assign(65536, 958634);
    modeCostTable03[0] = 0;
    modeCostTable03[1] = 0;
    for (int32_t r = 2; r < 400; ++r) {
        const double x = static_cast<double>(r);
        modeCostTable03[static_cast<size_t>(r)] = static_cast<int32_t>(x * x * std::log(x));
    }
}

ModelSmooth03::ModelSmooth03(int32_t channels, BitstreamFast* coder)
    : SmoothBitModel(channels, coder, smallCountFrequencies03, 32, 32) {}

// No floor: from 16384 the update rules keep every state at 64 or more.
int32_t ModelSmooth03::scaleOf(int32_t state) const { return state >> 6; }

int32_t ModelSmooth03::updatedState(int32_t state, uint32_t u, int32_t mode) const {
    const int32_t half = static_cast<int32_t>((u + 4) >> 1);
    const int32_t d = half - ((state + 16) >> 5);
    switch (mode) {
        case 1: return state + (d >> 1);
        case 2: return state + d;
        case 3: return state + 3 * (d >> 1);
        case 4: return state + 2 * d;
        default: return state;
    }
}

std::array<int64_t, 4> ModelSmooth03::modeCosts(const std::vector<uint16_t>& u) const {
    buildModeCostTable03();
    std::array<int64_t, 4> costs{};
    // trial[channel][mode - 1]
    int32_t trial[2][4];
    for (int32_t m = 0; m < 4; ++m) {
        trial[0][m] = scaleState0;
        trial[1][m] = scaleState1;
    }
    for (size_t k = 0; k < u.size(); ++k) {
        int32_t* states = trial[usesState1(static_cast<int32_t>(k)) ? 1 : 0];
        for (int32_t m = 0; m < 4; ++m) {
            costs[static_cast<size_t>(m)] += modeCostTable03[u[k] / static_cast<uint32_t>(scaleOf(states[m]))];
            states[m] = updatedState(states[m], u[k], m + 1);
        }
    }
    return costs;
}

int32_t ModelSmooth03::chooseAdaptationMode(const std::vector<uint16_t>& u) const {
    const std::array<int64_t, 4> costs = modeCosts(u);
    int32_t best = 0;
    for (int32_t m = 1; m < 4; ++m)
        if (costs[static_cast<size_t>(m)] < costs[static_cast<size_t>(best)]) best = m;
    return best + 1;
}

int32_t ModelSmooth03::encodeMode(const std::vector<uint16_t>& u) {
    const int32_t mode = chooseAdaptationMode(u);
    encodeBits(static_cast<uint32_t>(mode - 1), 2);
    return mode;
}

int32_t ModelSmooth03::decodeMode() { return static_cast<int32_t>(decodeBits(2)) + 1; }
