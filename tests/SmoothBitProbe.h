#pragma once
// Opens a bit model's symbol operations to tests, so they can read single fields of a
// coded block or write streams that no intact encoder makes.
#include <vector>

#include "entropy/SmoothBitModel.h"

template <class Model>
class SmoothBitProbe : public Model {
public:
    using Model::Model;
    using SmoothBitModel::decodeBits;
    using SmoothBitModel::decodeHistogramSymbol;
    using SmoothBitModel::decodeSmallCount;
    using SmoothBitModel::decodeUniform;
    using SmoothBitModel::encodeBits;
    using SmoothBitModel::encodeHistogramSymbol;
    using SmoothBitModel::encodeSmallCount;
    using SmoothBitModel::encodeUniform;
    const std::vector<int32_t>& table(size_t j) const { return this->smallCountTables.at(j); }
};
