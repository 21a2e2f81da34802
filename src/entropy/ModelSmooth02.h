#pragma once
#include <cstdint>
#include <vector>

#include "entropy/SmoothBitModel.h"

// The small-count frequencies of generation 02: 10 rows back to back, row j with j + 2
// entries (65 in all).
extern const int32_t smallCountFrequencies02[65];

// Residual model of generation-02 containers: no mode field, one fixed state update, a
// scale floor of 1, and small-count tables only while fewer than 10 values remain.
class ModelSmooth02 : public SmoothBitModel {
public:
    ModelSmooth02(int32_t channels, BitstreamFast* coder);

protected:
    int32_t scaleOf(int32_t state) const override;
    int32_t updatedState(int32_t state, uint32_t u, int32_t mode) const override;
    int32_t encodeMode(const std::vector<uint16_t>& u) override;
    int32_t decodeMode() override;
};
