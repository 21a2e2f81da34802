#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "entropy/SmoothBitModel.h"

// Encoder cost of a quotient r: r*r*ln r truncated for 2 <= r <= 399, 0 below, and the
// value at 400 for every larger quotient. 65536 entries, built once by the first encoder.
extern std::vector<int32_t> modeCostTable03;
void buildModeCostTable03();

// Residual model of generation-03 containers: each block carries an adaptation mode
// (1 ... 4) that selects how fast the scale states follow the values.
class ModelSmooth03 : public SmoothBitModel {
public:
    ModelSmooth03(int32_t channels, BitstreamFast* coder);

    // The cost of coding the N' folded values under each of the modes 1 ... 4.
    std::array<int64_t, 4> modeCosts(const std::vector<uint16_t>& u) const;
    // The mode of least cost; equal costs keep the lower mode.
    int32_t chooseAdaptationMode(const std::vector<uint16_t>& u) const;

protected:
    int32_t scaleOf(int32_t state) const override;
    int32_t updatedState(int32_t state, uint32_t u, int32_t mode) const override;
    int32_t encodeMode(const std::vector<uint16_t>& u) override;
    int32_t decodeMode() override;
};
