#pragma once
#include <cstdint>
#include <cstdio>

class BinaryFile;

// A 32-bit range coder without carry propagation: every symbol narrows the interval
// [low, low + range), and settled top bytes of low go to the stream one at a time.
// Totals (and 2^shift) must not exceed 2^16, the least range after normalisation.
//
// Bytes go straight to the BinaryFile's stream handle; a decoder adds every byte it takes
// to the BinaryFile's byteCount. A coder in counting mode writes nothing and only counts.
class RangeCoder {
public:
    enum class Mode { encoding, decoding };

    // Over a stream; a decoder takes its first four bytes at once.
    RangeCoder(BinaryFile& stream, Mode mode);
    // Counting mode.
    RangeCoder();
    RangeCoder(const RangeCoder&) = delete;
    RangeCoder& operator=(const RangeCoder&) = delete;

    void encode(uint32_t cumLow, uint32_t cumHigh, uint32_t total);
    void encodeShift(uint32_t cumLow, uint32_t cumHigh, uint32_t shift);
    // Puts the four bytes that end the segment's stream.
    void finish();

    // Target of the next symbol below total; "Input data corrupt" when it is not below.
    uint32_t getCount(uint32_t total);
    // Target of the next symbol below 2^shift, unchecked.
    uint32_t getCountShift(uint32_t shift);
    void decodeUpdate(uint32_t cumLow, uint32_t cumHigh);

    // Counting mode: the bytes that would have been written.
    int32_t countedBytes() const { return byteTally; }

private:
    static constexpr uint32_t TOP = 1u << 24;
    static constexpr uint32_t BOTTOM = 1u << 16;

    uint32_t unitWidth(uint32_t total) const;
    uint32_t unitWidthShift(uint32_t shift) const;
    void put(uint32_t byte);
    uint32_t take();
    void normaliseOutput();
    void normaliseInput();

    int32_t* byteCounter = nullptr;
    uint32_t low = 0;
    uint32_t code = 0;
    uint32_t range = 0xFFFFFFFFu;
    std::FILE* file = nullptr;
    int32_t byteTally = 0;
};
