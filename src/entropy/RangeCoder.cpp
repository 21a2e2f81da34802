#include "entropy/RangeCoder.h"

#include "entropy/BinaryFile.h"
#include "foundation/Error.h"

void RangeCoder::corrupt() {
    throw Error("Input data corrupt");
}

void RangeCoder::endOfFile() const {
    source->throwEndOfInput();
}

void RangeCoder::writeFailed() const {
    source->noteWriteFailure();
}

RangeCoder::RangeCoder(BinaryFile& stream, Mode mode)
    : source(&stream), file(stream.file) {
    if (mode == Mode::decoding)
        for (int i = 0; i < 4; ++i) code = (code << 8) | take();
}

RangeCoder::RangeCoder() = default;

void RangeCoder::finish() {
    for (int i = 0; i < 4; ++i) {
        put(low >> 24);
        low <<= 8;
    }
}

