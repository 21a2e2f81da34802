#include "entropy/BitstreamFast.h"

#include <algorithm>

#include "entropy/BinaryFile.h"
#include "foundation/Error.h"
#include "foundation/Registry.h"

BitstreamFast::BitstreamFast(BinaryFile* owner, bool read)
    : owner(owner), buffer(BUFFER_SIZE, 0), chunk(read ? CHUNK_BYTES : 0), bitCount(read ? CHUNK_BITS : 0) {}

// Bits are taken most significant first; a new chunk is read when the bit after the
// last bit of the current chunk is needed.
uint32_t BitstreamFast::takeBit() {
    currentByte = static_cast<uint8_t>(currentByte << 1);
    if (bitCount % 8 == 0) {
        if (bitCount == CHUNK_BITS) {
            readBuffer();
        } else {
            ++cursor;
            currentByte = buffer[static_cast<size_t>(cursor)];
        }
    }
    ++bitCount;
    return currentByte >> 7;
}

void BitstreamFast::readBuffer() {
    debugAssert(bitCount % 8 == 0, "BitstreamFast::readBuffer()");
    // A short read leaves the buffer's later bytes as they were; they only serve as
    // lookahead beyond the segment's final bits.
    const int32_t delivered = owner->read(chunk.data(), CHUNK_BYTES);
    std::copy_n(chunk.begin(), delivered, buffer.begin());
    chunkBase += CHUNK_BITS;
    bitCount = 0;
    cursor = 0;
    currentByte = buffer[0];
}

int64_t BitstreamFast::codedBytes() const {
    constexpr int64_t kBitsAhead = 31 - 2;
    return std::max<int64_t>(chunkBase + bitCount - kBitsAhead + 7, 0) / 8;
}

void BitstreamFast::primeDecoder() {
    for (int i = 0; i < 31; ++i) value = (value << 1) | takeBit();
}

// On a damaged stream a total can exceed the interval's width; the count would then
// divide by zero.
uint32_t BitstreamFast::checkedStep(uint32_t width) {
    if (width == 0) throw Error("Input data corrupt");
    return width;
}

uint32_t BitstreamFast::getCount(uint32_t total) {
    step = checkedStep((high - low + 1) / total);
    return (value - low) / step;
}

uint32_t BitstreamFast::getCountShift(int32_t shift) {
    step = checkedStep((high - low + 1) >> shift);
    return (value - low) / step;
}

void BitstreamFast::narrow(uint32_t cumLow, uint32_t cumHigh) {
    high = low + cumHigh * step - 1;
    low = low + cumLow * step;
}

void BitstreamFast::decodeUpdate(uint32_t cumLow, uint32_t cumHigh) {
    narrow(cumLow, cumHigh);
    while (high < HALF || low >= HALF) {
        if (high < HALF) {
            low = 2 * low;
            high = 2 * high + 1;
            value = 2 * value + takeBit();
        } else {
            low = 2 * low - 0x80000000u;
            high = 2 * high - 0x7FFFFFFFu;
            value = 2 * value + takeBit() - 0x80000000u;
        }
    }
    while (low >= FIRST_QUARTER && high < THIRD_QUARTER) {
        low = 2 * low - 0x40000000u;
        high = 2 * high - 0x3FFFFFFFu;
        value = 2 * value + takeBit() - 0x40000000u;
    }
}

void BitstreamFast::putBit(uint32_t bit) {
    currentByte = static_cast<uint8_t>(2 * currentByte + bit);
    ++bitCount;
    if (bitCount % 8 == 0) {
        buffer[static_cast<size_t>(cursor)] = currentByte;
        ++cursor;
        currentByte = 0;
        if (bitCount > CHUNK_BITS) writeBuffer();
    }
}

void BitstreamFast::putBitWithFollow(uint32_t bit) {
    putBit(bit);
    for (; bitsToFollow > 0; --bitsToFollow) putBit(bit ^ 1);
}

void BitstreamFast::encodeWithStep(uint32_t cumLow, uint32_t cumHigh) {
    narrow(cumLow, cumHigh);
    while (high < HALF || low >= HALF) {
        if (high < HALF) {
            putBitWithFollow(0);
            low = 2 * low;
            high = 2 * high + 1;
        } else {
            putBitWithFollow(1);
            low = 2 * low - 0x80000000u;
            high = 2 * high - 0x7FFFFFFFu;
        }
    }
    while (low >= FIRST_QUARTER && high < THIRD_QUARTER) {
        ++bitsToFollow;
        low = 2 * low - 0x40000000u;
        high = 2 * high - 0x3FFFFFFFu;
    }
}

void BitstreamFast::encode(uint32_t cumLow, uint32_t cumHigh, uint32_t total) {
    step = (high - low + 1) / total;
    encodeWithStep(cumLow, cumHigh);
}

void BitstreamFast::encodeShift(uint32_t cumLow, uint32_t cumHigh, int32_t shift) {
    step = (high - low + 1) >> shift;
    encodeWithStep(cumLow, cumHigh);
}

void BitstreamFast::finish() {
    ++bitsToFollow;
    putBitWithFollow(low < FIRST_QUARTER ? 0 : 1);
    padToByte();
    writeBuffer();
}

void BitstreamFast::padToByte() {
    while (bitCount % 8 != 0) putBit(0);
}

void BitstreamFast::writeBuffer() {
    debugAssert(bitCount % 8 == 0, "BitstreamFast::writeBuffer()");
    if (bitCount > 0) owner->write(buffer.data(), bitCount / 8);
    bitCount = 0;
    cursor = 0;
}
