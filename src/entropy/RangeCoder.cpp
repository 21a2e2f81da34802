#include "entropy/RangeCoder.h"

#include "entropy/BinaryFile.h"
#include "foundation/Error.h"

namespace {
[[noreturn]] void corrupt() {
    throw Error("Input data corrupt");
}
}  // namespace

RangeCoder::RangeCoder(BinaryFile& stream, Mode mode) : byteCounter(&stream.byteCount), file(stream.file) {
    if (mode == Mode::decoding)
        for (int i = 0; i < 4; ++i) code = (code << 8) | take();
}

RangeCoder::RangeCoder() = default;

// A total above the range leaves no width per unit; only a damaged stream gets there,
// and the target would then divide by zero.
uint32_t RangeCoder::unitWidth(uint32_t total) const {
    const uint32_t r = total == 0 ? 0 : range / total;
    if (r == 0) corrupt();
    return r;
}

uint32_t RangeCoder::unitWidthShift(uint32_t shift) const {
    const uint32_t r = shift >= 32 ? 0 : range >> shift;
    if (r == 0) corrupt();
    return r;
}

void RangeCoder::put(uint32_t byte) {
    if (file == nullptr) {
        ++byteTally;
        return;
    }
    // One thread uses the stream, so the per-call stream lock is skipped.
    putc_unlocked(static_cast<int>(byte & 0xFF), file);
}

// An intact decoder never reads past its segment, so meeting the end means truncation.
uint32_t RangeCoder::take() {
    ++*byteCounter;
    const int c = getc_unlocked(file);
    if (c == EOF) throw Error("Error - unexpected end of file.");
    return static_cast<uint32_t>(c);
}

void RangeCoder::normaliseOutput() {
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

void RangeCoder::normaliseInput() {
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

void RangeCoder::encode(uint32_t cumLow, uint32_t cumHigh, uint32_t total) {
    const uint32_t r = unitWidth(total);
    low += cumLow * r;
    range = r * (cumHigh - cumLow);
    normaliseOutput();
}

void RangeCoder::encodeShift(uint32_t cumLow, uint32_t cumHigh, uint32_t shift) {
    const uint32_t r = unitWidthShift(shift);
    low += cumLow * r;
    range = r * (cumHigh - cumLow);
    normaliseOutput();
}

void RangeCoder::finish() {
    for (int i = 0; i < 4; ++i) {
        put(low >> 24);
        low <<= 8;
    }
}

uint32_t RangeCoder::getCount(uint32_t total) {
    range = unitWidth(total);
    const uint32_t target = (code - low) / range;
    if (target >= total) corrupt();
    return target;
}

uint32_t RangeCoder::getCountShift(uint32_t shift) {
    range = unitWidthShift(shift);
    return (code - low) / range;
}

void RangeCoder::decodeUpdate(uint32_t cumLow, uint32_t cumHigh) {
    low += cumLow * range;
    range *= cumHigh - cumLow;
    normaliseInput();
}
