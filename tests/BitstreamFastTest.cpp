#include <gtest/gtest.h>

#include <random>

#include "BitstreamTestSupport.h"
#include "foundation/Error.h"

using bitstreamtest::StreamReader;
using bitstreamtest::writeStream;

namespace {

// One decoded bit of the raw stream: on the full interval a one-bit symbol moves the
// code value by exactly one stream bit.
uint32_t decodeRawBit(BitstreamFast& bits) {
    const uint32_t bit = bits.getCountShift(1);
    bits.decodeUpdate(bit, bit + 1);
    return bit;
}

struct Symbol {
    bool shifted;
    uint32_t total;  // the total, or the shift when shifted
    uint32_t cumLow, cumHigh;
};

std::vector<Symbol> randomSymbols(uint32_t seed, size_t count) {
    std::mt19937 rng(seed);
    std::vector<Symbol> symbols;
    for (size_t i = 0; i < count; ++i) {
        Symbol s{};
        s.shifted = rng() % 3 == 0;
        s.total = s.shifted ? 1 + rng() % 16 : 1 + rng() % (rng() % 2 ? 70000 : 12);
        const uint32_t span = s.shifted ? (1u << s.total) : s.total;
        s.cumLow = rng() % span;
        s.cumHigh = s.cumLow + 1 + rng() % (span - s.cumLow);
        symbols.push_back(s);
    }
    return symbols;
}

}  // namespace

TEST(BitstreamFast, PrimeAndFirstSymbolOfKnownBytes) {
    StreamReader reader(bitstreamtest::hexBytes({0x12, 0x34, 0x56, 0x78}));
    reader.bits().primeDecoder();
    EXPECT_EQ(reader.bits().codeValue(), 0x12345678u >> 1);

    StreamReader top(bitstreamtest::hexBytes({0x80, 0x00, 0x00, 0x00}));
    top.bits().primeDecoder();
    EXPECT_EQ(top.bits().getCountShift(1), 1u);
    top.bits().decodeUpdate(1, 2);
    EXPECT_EQ(top.bits().intervalLow(), 0u);
    EXPECT_EQ(top.bits().intervalHigh(), BitstreamFast::TOP_VALUE);
}

TEST(BitstreamFast, FinishedEmptyStreamIsOneByte) {
    // finish owes one opposite bit: 0 then 1, padded with zeros.
    EXPECT_EQ(writeStream([](BitstreamFast& bits) { bits.finish(); }), bitstreamtest::hexBytes({0x40}));
}

TEST(BitstreamFast, BitsAreTakenInOrderAcrossChunks) {
    std::mt19937 rng(7);
    std::vector<uint8_t> bytes(3 * BitstreamFast::CHUNK_BYTES + 100);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    StreamReader reader(bytes);
    reader.bits().primeDecoder();
    // The code value runs 31 bits ahead of the decoded bits.
    const size_t total = bytes.size() * 8 - 31;
    for (size_t i = 0; i < total; ++i) {
        const uint32_t expected = (bytes[i / 8] >> (7 - i % 8)) & 1;
        ASSERT_EQ(decodeRawBit(reader.bits()), expected) << "bit " << i;
    }
}

TEST(BitstreamFast, ChunkIsReadWhenItsFirstBitIsNeeded) {
    // A file of exactly one chunk: every later chunk meets the end of the file, and the
    // fifth such read (the sixth chunk) throws. So the bits of five chunks are taken
    // without error and the next bit throws.
    StreamReader reader(std::vector<uint8_t>(BitstreamFast::CHUNK_BYTES, 0x5A));
    reader.bits().primeDecoder();
    const int64_t bitsWithoutError = 5LL * BitstreamFast::CHUNK_BITS - 31;
    for (int64_t i = 0; i < bitsWithoutError; ++i) decodeRawBit(reader.bits());
    try {
        decodeRawBit(reader.bits());
        FAIL() << "reading a sixth chunk past the end did not throw";
    } catch (const Error& e) {
        EXPECT_EQ(e.message, "Error - unexpected end of file.");
    }
}

// A chunk read that meets the end of the stream fills only the bytes that were
// there; the rest of the buffer keeps what the chunk before left in it. Here the
// second chunk brings one 00 byte after a chunk of FF bytes, and the third
// brings nothing: after its first eight bits every chunk reads as FF again.
TEST(BitstreamFast, ShortChunkKeepsTheEarlierBytesOfTheBuffer) {
    std::vector<uint8_t> bytes(BitstreamFast::CHUNK_BYTES, 0xFF);
    bytes.push_back(0x00);
    StreamReader reader(bytes);
    reader.bits().primeDecoder();
    const int64_t total = 3LL * BitstreamFast::CHUNK_BITS - 31;
    for (int64_t i = 0; i < total; ++i) {
        const bool newByteOfLaterChunk = i >= BitstreamFast::CHUNK_BITS && i % BitstreamFast::CHUNK_BITS < 8;
        ASSERT_EQ(decodeRawBit(reader.bits()), newByteOfLaterChunk ? 0u : 1u) << "bit " << i;
    }
}

TEST(BitstreamFast, WriterAndReaderAgreeWhateverFollows) {
    const struct { uint32_t seed; size_t count; } cases[] = {{1, 1}, {2, 40}, {3, 20000}, {4, 60000}};
    for (const auto& c : cases) {
        const std::vector<Symbol> symbols = randomSymbols(c.seed, c.count);
        std::vector<uint8_t> bytes = writeStream([&](BitstreamFast& bits) {
            for (const Symbol& s : symbols) {
                if (s.shifted)
                    bits.encodeShift(s.cumLow, s.cumHigh, static_cast<int32_t>(s.total));
                else
                    bits.encode(s.cumLow, s.cumHigh, s.total);
            }
            bits.finish();
        });
        for (const uint8_t tail : {0x00, 0xFF}) {
            std::vector<uint8_t> stream = bytes;
            stream.insert(stream.end(), 8, tail);
            StreamReader reader(stream);
            reader.bits().primeDecoder();
            for (size_t i = 0; i < symbols.size(); ++i) {
                const Symbol& s = symbols[i];
                const uint32_t count = s.shifted ? reader.bits().getCountShift(static_cast<int32_t>(s.total))
                                                 : reader.bits().getCount(s.total);
                ASSERT_GE(count, s.cumLow) << "seed " << c.seed << " symbol " << i;
                ASSERT_LT(count, s.cumHigh) << "seed " << c.seed << " symbol " << i;
                reader.bits().decodeUpdate(s.cumLow, s.cumHigh);
            }
        }
    }
}

TEST(BitstreamFast, TotalWiderThanIntervalIsCorrupt) {
    StreamReader reader(bitstreamtest::hexBytes({0x12, 0x34, 0x56, 0x78}));
    reader.bits().primeDecoder();
    try {
        reader.bits().getCount(0x80000001u);
        FAIL() << "a zero step did not throw";
    } catch (const Error& e) {
        EXPECT_EQ(e.message, "Input data corrupt");
    }
}
