#include <gtest/gtest.h>

#include <random>

#include "CoderTestSupport.h"
#include "entropy/RangeCoder.h"
#include "entropy/TotalDivision.h"

using codertest::errorOf;
using codertest::ScratchFile;
using Bytes = std::vector<uint8_t>;

// The reciprocal division must equal the hardware one for every total the coder sees:
// for each d, the dividends where the quotient steps (k * d - 1, k * d) at the bottom and
// the top of the 32-bit range, plus random ones; totals outside the table and zero too.
TEST(TotalDivision, EqualsIntegerDivisionAtEveryQuotientStep) {
    std::mt19937 rng(2024);
    const auto random = [&rng] { return static_cast<uint32_t>(rng()); };
    for (uint32_t d = 1; d <= totaldivision::kLargestTabled; ++d) {
        const uint32_t topK = 0xFFFFFFFFu / d;
        std::vector<uint32_t> dividends{0, 1, d - 1, d, 0xFFFFFFFFu, 0xFFFFFFFFu - 1, random(), random()};
        for (uint32_t k : {2u, 3u, topK - 1, topK}) {
            const uint64_t step = uint64_t{k} * d;
            if (step == 0 || step > 0xFFFFFFFFu) continue;
            dividends.push_back(static_cast<uint32_t>(step - 1));
            dividends.push_back(static_cast<uint32_t>(step));
        }
        for (uint32_t a : dividends) ASSERT_EQ(totaldivision::divide(a, d), a / d) << a << " / " << d;
    }
    for (uint32_t d : {65537u, 1000000u, 0xFFFFFFFFu})
        for (uint32_t a : {0u, 65536u, 0xFFFFFFFFu}) EXPECT_EQ(totaldivision::divide(a, d), a / d);
    EXPECT_EQ(totaldivision::divide(12345, 0), 0u);
}

TEST(RangeCoder, EncodesTheKnownByteStreams) {
    ScratchFile f;
    EXPECT_EQ(f.written([](BinaryFile& out) { RangeCoder(out, RangeCoder::Mode::encoding).finish(); }),
              (Bytes{0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(f.written([](BinaryFile& out) {
                  RangeCoder c(out, RangeCoder::Mode::encoding);
                  c.encodeShift(1, 2, 1);
                  c.finish();
              }),
              (Bytes{0x7F, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(f.written([](BinaryFile& out) {
                  RangeCoder c(out, RangeCoder::Mode::encoding);
                  for (uint32_t v : {3u, 0u, 5u, 1u}) c.encode(v, v + 1, 7);
                  c.finish();
              }),
              (Bytes{0x71, 0x8D, 0x7C, 0xD6, 0x00}));
}

TEST(RangeCoder, CountingModeCountsWhatWouldBeWritten) {
    RangeCoder c;
    for (uint32_t v : {3u, 0u, 5u, 1u}) c.encode(v, v + 1, 7);
    EXPECT_EQ(c.countedBytes(), 1);
    c.finish();
    EXPECT_EQ(c.countedBytes(), 5);
}

TEST(RangeCoder, DecodesTheKnownStreamsTakingExactlyTheirBytes) {
    ScratchFile f;
    {
        BinaryFile& in = f.input({0x7F, 0xFF, 0xFF, 0xFF});
        RangeCoder d(in, RangeCoder::Mode::decoding);
        EXPECT_EQ(in.byteCount, 4);
        EXPECT_EQ(d.getCountShift(1), 1u);
    }
    BinaryFile& in = f.input({0x71, 0x8D, 0x7C, 0xD6, 0x00});
    in.byteCount = 100;  // the decoder adds to whatever the stream counted before
    RangeCoder d(in, RangeCoder::Mode::decoding);
    for (uint32_t v : {3u, 0u, 5u, 1u}) {
        const uint32_t t = d.getCount(7);
        EXPECT_EQ(t, v);
        d.decodeUpdate(t, t + 1);
    }
    EXPECT_EQ(in.byteCount, 105);
    EXPECT_EQ(in.tell(), 5);
}

// Symbols of every width, shifts and divisions mixed, tiny frequencies included so the
// range keeps falling below 2^16 with an unsettled top byte and gets cut.
TEST(RangeCoder, RandomSymbolsRoundTripAndTheDecoderStopsAtTheSegmentEnd) {
    struct Symbol { bool shift; uint32_t low, high, total; };
    std::mt19937 rng(12345);
    std::vector<Symbol> symbols;
    for (int i = 0; i < 200000; ++i) {
        if (rng() % 4 == 0) {
            const uint32_t shift = 1 + rng() % 16;
            const uint32_t v = rng() & ((1u << shift) - 1);
            symbols.push_back({true, v, v + 1, shift});
        } else {
            const uint32_t total = 2 + rng() % 65535;
            const uint32_t lo = rng() % total;
            const uint32_t hi = lo + 1 + (rng() % 3 == 0 ? rng() % (total - lo) : 0);
            symbols.push_back({false, lo, hi, total});
        }
    }
    ScratchFile f;
    RangeCoder counter;
    Bytes bytes = f.written([&](BinaryFile& out) {
        RangeCoder c(out, RangeCoder::Mode::encoding);
        for (const Symbol& s : symbols) {
            if (s.shift) {
                c.encodeShift(s.low, s.high, s.total);
                counter.encodeShift(s.low, s.high, s.total);
            } else {
                c.encode(s.low, s.high, s.total);
                counter.encode(s.low, s.high, s.total);
            }
        }
        c.finish();
        counter.finish();
    });
    EXPECT_EQ(static_cast<size_t>(counter.countedBytes()), bytes.size());
    bytes.push_back(0xA5);  // a following segment's byte must stay unread
    BinaryFile& in = f.input(bytes);
    RangeCoder d(in, RangeCoder::Mode::decoding);
    for (size_t i = 0; i < symbols.size(); ++i) {
        const Symbol& s = symbols[i];
        const uint32_t t = s.shift ? d.getCountShift(s.total) : d.getCount(s.total);
        ASSERT_TRUE(t >= s.low && t < s.high) << "symbol " << i;
        d.decodeUpdate(s.low, s.high);
    }
    EXPECT_EQ(in.byteCount, static_cast<int32_t>(bytes.size() - 1));
    char next;
    ASSERT_TRUE(in.getByte(next));
    EXPECT_EQ(static_cast<uint8_t>(next), 0xA5);
}

TEST(RangeCoder, DamagedInputEndsWithAnError) {
    ScratchFile f;
    EXPECT_EQ(errorOf([&] { RangeCoder d(f.input({0x71, 0x8D}), RangeCoder::Mode::decoding); }),
              "Error - unexpected end of file.");
    const struct { const char* what; std::function<void(RangeCoder&)> step; const char* message; } cases[] = {
        {"target not below total", [](RangeCoder& d) { d.getCount(7); }, "Input data corrupt"},
        {"zero total", [](RangeCoder& d) { d.getCount(0); }, "Input data corrupt"},
        {"total above the range", [](RangeCoder& d) { d.getCountShift(16); d.getCount(0x10000); },
         "Input data corrupt"},
        {"shift beyond the range", [](RangeCoder& d) { d.getCountShift(32); }, "Input data corrupt"},
        {"empty interval", [](RangeCoder& d) { d.getCount(2); d.decodeUpdate(1, 1); }, "Input data corrupt"},
        {"stream ends mid-segment",
         [](RangeCoder& d) {
             for (;;) { d.getCountShift(16); d.decodeUpdate(0, 1); }
         },
         "Error - unexpected end of file."},
    };
    for (const auto& c : cases) {
        BinaryFile& in = f.input({0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34});
        RangeCoder d(in, RangeCoder::Mode::decoding);
        EXPECT_EQ(errorOf([&] { c.step(d); }), c.message) << c.what;
    }
}
