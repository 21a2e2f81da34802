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
    // Where the coded bytes of the blocks decoded so far end, for a segment that starts
    // at start: a range decoder takes exactly those bytes; a bit reader reads ahead, and
    // the end follows from the bits it took.
    int64_t codedEnd(int64_t start) const;

private:
    BinaryFile& stream;
    std::unique_ptr<RangeCoder> rangeDecoder;
    std::unique_ptr<BitstreamFast> bitReader;
    std::unique_ptr<GenericModelI> residualModel;  // last: released before the coder it borrows
};
