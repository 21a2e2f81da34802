#pragma once
#include <cstdint>
#include <cstdio>

#include "entropy/BinaryFile.h"
#include "entropy/TotalDivision.h"

// A 32-bit range coder without carry propagation: every symbol narrows the interval
// [low, low + range), and settled top bytes of low go to the stream one at a time.
// Totals (and 2^shift) must not exceed 2^16, the least range after normalisation.
//
// The per-symbol operations are inline: the models call them for every value.
//
// An encoder puts its bytes straight to the BinaryFile's stream handle, and has the
// BinaryFile note the reason of a byte it could not write; a decoder takes its bytes
// straight from the BinaryFile's buffer and adds every byte it takes to its byteCount.
// A coder in counting mode writes nothing and only counts.
class RangeCoder {
public:
    enum class Mode { encoding, decoding };

    // Over a stream; a decoder takes its first four bytes at once.
    RangeCoder(BinaryFile& stream, Mode mode);
    // Counting mode.
    RangeCoder();
    RangeCoder(const RangeCoder&) = delete;
    RangeCoder& operator=(const RangeCoder&) = delete;
    // A model may move the coder into a local for a run of symbols and back after it.
    RangeCoder(RangeCoder&&) = default;
    RangeCoder& operator=(RangeCoder&&) = default;

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
    [[noreturn]] static void corrupt();
    // The stream ended before a byte (its read error has thrown already): a file cut
    // meanwhile, or its end.
    [[noreturn]] void endOfFile() const;
    // A byte that could not be written: the stream's first failure keeps its reason.
    void writeFailed() const;

    static constexpr uint32_t TOP = 1u << 24;
    static constexpr uint32_t BOTTOM = 1u << 16;

    uint32_t unitWidth(uint32_t total) const;
    uint32_t unitWidthShift(uint32_t shift) const;
    void put(uint32_t byte);
    uint32_t take();
    void shiftSettled();
    void normaliseOutput();
    void normaliseInput();

    BinaryFile* source = nullptr;
    uint32_t low = 0;
    uint32_t code = 0;
    uint32_t range = 0xFFFFFFFFu;
    std::FILE* file = nullptr;
    int32_t byteTally = 0;
};

// A total above the range leaves no width per unit; only a damaged stream gets there,
// and the target would then divide by zero.
inline uint32_t RangeCoder::unitWidth(uint32_t total) const {
    const uint32_t r = totaldivision::divide(range, total);
    if (r == 0) corrupt();
    return r;
}

inline uint32_t RangeCoder::unitWidthShift(uint32_t shift) const {
    const uint32_t r = shift >= 32 ? 0 : range >> shift;
    if (r == 0) corrupt();
    return r;
}

inline void RangeCoder::put(uint32_t byte) {
    if (file == nullptr) {
        ++byteTally;
        return;
    }
    // One thread uses the stream, so the per-call stream lock is skipped.
    if (putc_unlocked(static_cast<int>(byte & 0xFF), file) == EOF) writeFailed();
}

// An intact decoder never reads past its segment, so meeting the end means truncation.
inline uint32_t RangeCoder::take() {
    ++source->byteCount;
    const int c = source->takeByte();
    if (c < 0) endOfFile();
    return static_cast<uint32_t>(c);
}

// Counting mode: shifts out at once every top byte of low that is settled, the bytes
// in which low and low + range agree (the leading zero bytes of their difference in
// bits, which the loop would shift out one by one). How many there are is what a
// branch predictor cannot guess. Afterwards the top bytes differ, so the loop is
// needed only to refill a range that has become too small.
inline void RangeCoder::shiftSettled() {
    const uint32_t differing = low ^ (low + range);  // not 0: a symbol's range is never 0
    const int32_t settled = __builtin_clz(differing) >> 3;
    low <<= 8 * settled;
    range <<= 8 * settled;
    byteTally += settled;
}

inline void RangeCoder::normaliseOutput() {
    if (file == nullptr) {
        shiftSettled();
        if (range >= BOTTOM) return;
    }
    for (;;) {
        if ((low ^ (low + range)) >= TOP) {
            if (range >= BOTTOM) return;
            range = (0u - low) & 0xFFFFu;
        }
        put(low >> 24);
        low <<= 8;
        range <<= 8;
    }
}

inline void RangeCoder::normaliseInput() {
    for (;;) {
        if ((low ^ (low + range)) >= TOP) {
            if (range >= BOTTOM) return;
            range = (0u - low) & 0xFFFFu;
        }
        code = (code << 8) | take();
        low <<= 8;
        range <<= 8;
        // Intact streams keep the range above zero; a damaged one must not spin here.
        if (range == 0) corrupt();
    }
}

inline void RangeCoder::encode(uint32_t cumLow, uint32_t cumHigh, uint32_t total) {
    const uint32_t r = unitWidth(total);
    low += cumLow * r;
    range = r * (cumHigh - cumLow);
    normaliseOutput();
}

inline void RangeCoder::encodeShift(uint32_t cumLow, uint32_t cumHigh, uint32_t shift) {
    const uint32_t r = unitWidthShift(shift);
    low += cumLow * r;
    range = r * (cumHigh - cumLow);
    normaliseOutput();
}

inline uint32_t RangeCoder::getCount(uint32_t total) {
    range = unitWidth(total);
    const uint32_t target = (code - low) / range;
    if (target >= total) corrupt();
    return target;
}

inline uint32_t RangeCoder::getCountShift(uint32_t shift) {
    range = unitWidthShift(shift);
    return (code - low) / range;
}

inline void RangeCoder::decodeUpdate(uint32_t cumLow, uint32_t cumHigh) {
    low += cumLow * range;
    range *= cumHigh - cumLow;
    normaliseInput();
}
