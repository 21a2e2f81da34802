#pragma once
#include <cstdint>
#include <memory>

#include "entropy/GenericModel.h"

class BinaryFile;
class BitstreamFast;
class RangeCoder;

// The residual decoder of one coding segment: the generation's coder over the stream
// (generation 04: a range decoder; 02 and 03: a bit reader), which takes its first
// bytes at once, and the model that borrows it, ready for the segment's first block.
class SegmentDecoder {
public:
    SegmentDecoder(BinaryFile& stream, int version, int32_t channels);
    ~SegmentDecoder();
    SegmentDecoder(const SegmentDecoder&) = delete;
    SegmentDecoder& operator=(const SegmentDecoder&) = delete;

    GenericModelI& model() { return *residualModel; }

private:
    std::unique_ptr<RangeCoder> rangeDecoder;
    std::unique_ptr<BitstreamFast> bitReader;
    std::unique_ptr<GenericModelI> residualModel;  // last: released before the coder it borrows
};
