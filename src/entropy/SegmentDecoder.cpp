#include "entropy/SegmentDecoder.h"

#include "entropy/BinaryFile.h"
#include "entropy/BitstreamFast.h"
#include "entropy/ModelSmooth02.h"
#include "entropy/ModelSmooth03.h"
#include "entropy/ModelSmooth04.h"
#include "entropy/RangeCoder.h"

SegmentDecoder::SegmentDecoder(BinaryFile& stream, int version, int32_t channels) : stream(stream) {
    if (version == 4) {
        rangeDecoder = std::make_unique<RangeCoder>(stream, RangeCoder::Mode::decoding);
        residualModel = std::make_unique<ModelSmooth04>(channels, rangeDecoder.get());
    } else {
        bitReader = std::make_unique<BitstreamFast>(&stream, true);
        if (version == 3)
            residualModel = std::make_unique<ModelSmooth03>(channels, bitReader.get());
        else
            residualModel = std::make_unique<ModelSmooth02>(channels, bitReader.get());
    }
    residualModel->startDecoding();
}

SegmentDecoder::~SegmentDecoder() = default;

int64_t SegmentDecoder::codedEnd(int64_t start) const {
    return bitReader ? start + bitReader->codedBytes() : stream.position();
}
