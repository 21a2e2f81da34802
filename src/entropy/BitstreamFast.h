#pragma once
#include <cstdint>
#include <vector>

class BinaryFile;

// Binary arithmetic coder of generation-02 and -03 containers: 31-bit code values in
// low/high form, pending opposite bits for middle-half scalings, one bit at a time
// through a byte buffer that is filled from, or emptied into, a BinaryFile.
class BitstreamFast {
public:
    static constexpr uint32_t TOP_VALUE = 0x7FFFFFFF;
    static constexpr uint32_t HALF = 0x40000000;
    static constexpr uint32_t FIRST_QUARTER = 0x20000000;
    static constexpr uint32_t THIRD_QUARTER = 0x60000000;
    static constexpr int32_t BUFFER_SIZE = 4096;
    static constexpr int32_t CHUNK_BYTES = 4088;
    static constexpr int32_t CHUNK_BITS = CHUNK_BYTES * 8;

    // The owner is borrowed. A reader takes no byte before primeDecoder.
    BitstreamFast(BinaryFile* owner, bool read);

    // Reading.
    void primeDecoder();
    // Both throw "Input data corrupt" when the total leaves no width per unit; the
    // returned count is not checked against the total (the models do that).
    uint32_t getCount(uint32_t total);
    uint32_t getCountShift(int32_t shift);
    void decodeUpdate(uint32_t cumLow, uint32_t cumHigh);
    void readBuffer();
    // Reading: the bytes the writer put for the symbols decoded so far, had they ended
    // the stream. The reader takes 31 bits ahead at the start and one bit per scaling;
    // the writer puts one bit per scaling and two closing bits, padded to a byte.
    int64_t codedBytes() const;

    // Writing, the exact inverse of reading.
    void encode(uint32_t cumLow, uint32_t cumHigh, uint32_t total);
    void encodeShift(uint32_t cumLow, uint32_t cumHigh, int32_t shift);
    void finish();
    void padToByte();
    void writeBuffer();

    uint32_t intervalLow() const { return low; }
    uint32_t intervalHigh() const { return high; }
    uint32_t codeValue() const { return value; }

private:
    uint32_t takeBit();
    void putBit(uint32_t bit);
    void putBitWithFollow(uint32_t bit);
    void narrow(uint32_t cumLow, uint32_t cumHigh);
    void encodeWithStep(uint32_t cumLow, uint32_t cumHigh);
    uint32_t checkedStep(uint32_t width);

    BinaryFile* owner;
    std::vector<uint8_t> buffer;
    std::vector<uint8_t> chunk;  // where a chunk is read before its delivered bytes enter buffer
    int32_t cursor = 0;  // index into buffer
    uint8_t currentByte = 0;
    int32_t bitCount = 0;
    // Reading: the bits of the chunks before the current one, less one chunk, so that
    // chunkBase + bitCount is the number of bits taken (bitCount starts at a full chunk).
    int64_t chunkBase = -CHUNK_BITS;
    uint32_t low = 0;
    uint32_t high = TOP_VALUE;
    uint32_t step = 0;
    int32_t bitsToFollow = 0;
    uint32_t value = 0;
};
