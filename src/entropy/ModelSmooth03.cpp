#include "entropy/ModelSmooth03.h"

#include "entropy/ModelSmooth04.h"

#include <cmath>

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
    : SmoothBitModel(channels, coder, smallCountFrequencies04, 32, 32) {}

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
