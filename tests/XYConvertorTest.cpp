#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "pipeline/XYConvertor.h"

namespace {

template <class Convertor>
SampleBlock forward(SampleBlock v, int channels = 2) {
    Convertor c(channels);
    c.transformFast(v);
    return v;
}

template <class Convertor>
SampleBlock inverse(SampleBlock v, int channels = 2) {
    Convertor c(channels);
    c.inverseTransformFast(v);
    return v;
}

// Pairs that switch the convertor on and off: runs of equal and unequal pairs.
SampleBlock mixedPairs(size_t pairs, int spread, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> value(-spread, spread);
    std::uniform_int_distribution<int> runLength(1, 400);
    SampleBlock v;
    bool equal = false;
    while (v.size() < 2 * pairs) {
        const int run = runLength(rng);
        for (int k = 0; k < run && v.size() < 2 * pairs; ++k) {
            const int16_t l = static_cast<int16_t>(value(rng));
            v.push_back(l);
            v.push_back(equal ? l : static_cast<int16_t>(value(rng)));
        }
        equal = !equal;
    }
    return v;
}

}  // namespace

TEST(XYConvertor, FirstPairRewrites) {
    struct Case {
        SampleBlock in, out, restored;
    };
    const Case midSide[] = {
        {{100, 300}, {200, 200}, {100, 300}},
        {{-5, 0}, {5, -3}, {-5, 0}},
        {{0, -5}, {-5, -2}, {0, -5}},
        // A difference beyond int16 wraps when stored; old files carry exactly this.
        {{-20000, 20000}, {-25536, 0}, {12768, -12768}},
    };
    for (const Case& c : midSide) {
        EXPECT_EQ(forward<XYConvertor03>(c.in), c.out);
        EXPECT_EQ(inverse<XYConvertor03>(c.out), c.restored);
        EXPECT_EQ(forward<XYConvertor02>(c.in), c.out);
        EXPECT_EQ(inverse<XYConvertor02>(c.out), c.restored);
    }
    EXPECT_EQ(forward<XYConvertor04>({-32768, 32767}), (SampleBlock{-32768, 1}));
    EXPECT_EQ(inverse<XYConvertor04>({-32768, 1}), (SampleBlock{-32768, 32767}));
    EXPECT_EQ(forward<XYConvertor04>({100, 300}), (SampleBlock{100, -200}));
}

TEST(XYConvertor, MonoAndOddBlocks) {
    const SampleBlock odd = {1, 2, 3, 4, 5};
    EXPECT_EQ(forward<XYConvertor02>(odd, 1), odd);
    EXPECT_EQ(forward<XYConvertor03>(odd, 1), odd);
    EXPECT_EQ(inverse<XYConvertor04>(odd, 1), odd);
    // With two channels the unpaired last value is left alone and nothing is
    // touched past the end of the block.
    EXPECT_EQ(forward<XYConvertor04>(odd), (SampleBlock{1, -1, 3, 4, 5}));
    EXPECT_EQ(inverse<XYConvertor04>({1, -1, 3, 4, 5}), odd);
}

TEST(XYConvertor, DecayCounterSwitchesPairByPair) {
    XYConvertor04 c(2);
    SampleBlock v = {1, 2, 7, 9, 3, 3, 4, 5};  // unequal, unequal, equal, unequal
    c.transformFast(v);
    // Pair 1 on (counter 0 -> -1), pair 2 off (-> -2), pair 3 off (-> ((-510) >> 8) + 1 = -1),
    // pair 4 off (-> -2).
    EXPECT_EQ(v, (SampleBlock{1, -1, 7, 9, 3, 3, 4, 5}));
    EXPECT_EQ(c.switchState().value, -2);

    XYConvertor03 d(2);
    SampleBlock w = {1, 2, 3, 3, 4, 6};  // unequal, equal: ((-255) >> 8) + 1 = 0, on again
    d.transformFast(w);
    EXPECT_EQ(w, (SampleBlock{1, 1, 3, 3, 2, 5}));

    // Long runs: equal pairs hold the counter at 1; unequal pairs take it down to -256,
    // from where 255 equal pairs bring it back to 0.
    XYConvertor04 e(2);
    SampleBlock equalRun(2000, 7), unequalRun;
    for (int i = 0; i < 1000; ++i) unequalRun.insert(unequalRun.end(), {1, 2});
    e.transformFast(equalRun);
    EXPECT_EQ(e.switchState().value, 1);
    e.transformFast(unequalRun);
    EXPECT_EQ(e.switchState().value, -256);
    SampleBlock back(2 * 255, 7);
    e.transformFast(back);
    EXPECT_EQ(e.switchState().value, 0);
}

TEST(XYConvertor, DecayingSumSwitchesPairByPair) {
    XYConvertor02 c(2);
    SampleBlock v = {1, 2, 7, 9};
    c.transformFast(v);
    EXPECT_EQ(v, (SampleBlock{1, 1, 7, 9}));  // -1.0 truncates to -1: off for the second pair
    XYConvertor02 d(2);
    SampleBlock w = {1, 2, 3, 3, 4, 6};
    d.transformFast(w);
    EXPECT_NEAR(d.switchState().value, 0.0001 * 0.9999 - 1.0, 1e-12);
    EXPECT_EQ(w, (SampleBlock{1, 1, 3, 3, 2, 5}));  // ~0.0001 after the equal pair: on again

    XYConvertor02 e(2);
    SampleBlock unequal;
    for (int i = 0; i < 200000; ++i) unequal.insert(unequal.end(), {1, 2});
    e.transformFast(unequal);
    EXPECT_NEAR(e.switchState().value, -10000.0, 1.0);
    SampleBlock equal(400000, 5);
    e.transformFast(equal);
    EXPECT_NEAR(e.switchState().value, 10000.0, 2.0);
}

TEST(XYConvertor, RoundTripAcrossBlocksWhileSwitching) {
    // Mid/side is exact while |R - L| <= 32767, so its data stays within +-16383.
    const SampleBlock data = mixedPairs(20000, 16383, 7);
    const SampleBlock wide = mixedPairs(20000, 32768, 8);
    auto roundTrip = [](auto encoder, auto decoder, const SampleBlock& in) {
        SampleBlock all;
        for (size_t start = 0; start < in.size(); start += 4096) {
            SampleBlock block(in.begin() + start, in.begin() + std::min(in.size(), start + 4096));
            encoder.transformFast(block);
            decoder.inverseTransformFast(block);
            all.insert(all.end(), block.begin(), block.end());
        }
        return all;
    };
    EXPECT_EQ(roundTrip(XYConvertor02(2), XYConvertor02(2), data), data);
    EXPECT_EQ(roundTrip(XYConvertor03(2), XYConvertor03(2), data), data);
    EXPECT_EQ(roundTrip(XYConvertor04(2), XYConvertor04(2), wide), wide);
}

// The oracle needs a 128-bit integer type, which 32-bit targets lack.
#if defined(__SIZEOF_INT128__)
namespace {

// An exact binary number (-1)^negative * m * 2^e, for an oracle of the x87
// extended-precision update that works on integers only.
struct Exact {
    bool negative = false;
    unsigned __int128 m = 0;
    int e = 0;
};

int bitLength(unsigned __int128 m) {
    int n = 0;
    for (; m != 0; m >>= 1) ++n;
    return n;
}

Exact fromDouble(double d) {
    int exponent = 0;
    const double fraction = std::frexp(std::fabs(d), &exponent);
    return {d < 0, static_cast<unsigned __int128>(std::ldexp(fraction, 53)), exponent - 53};
}

// Rounds to `bits` significant bits, to nearest with ties to even.
Exact roundTo(Exact x, int bits) {
    const int excess = bitLength(x.m) - bits;
    if (excess <= 0) return x;
    const unsigned __int128 one = 1;
    unsigned __int128 q = x.m >> excess;
    const unsigned __int128 rest = x.m & ((one << excess) - 1), half = one << (excess - 1);
    if (rest > half || (rest == half && (q & 1))) ++q;
    x.m = q;
    x.e += excess;
    return roundTo(x, bits);  // a carry out of the top leaves one more bit to drop
}

Exact multiply(const Exact& a, const Exact& b) { return {a.negative != b.negative, a.m * b.m, a.e + b.e}; }

Exact add(Exact a, Exact b) {
    if (a.m == 0) return b;
    const int e = std::min(a.e, b.e);
    EXPECT_LT(std::max(a.e, b.e) - e, 60);
    a.m <<= a.e - e;
    b.m <<= b.e - e;
    if (a.negative == b.negative) return {a.negative, a.m + b.m, e};
    if (a.m >= b.m) return {a.negative, a.m - b.m, e};
    return {b.negative, b.m - a.m, e};
}

double toDouble(const Exact& x) {
    const Exact r = roundTo(x, 53);
    const double magnitude = std::ldexp(static_cast<double>(static_cast<uint64_t>(r.m)), r.e);
    return r.negative ? -magnitude : magnitude;
}

}  // namespace

TEST(XYConvertor, DecayingSumUsesA64BitSignificandAndRoundsOnceToDouble) {
    // value = double(round64(round64(value * 0.9999) +- 1)): the oracle below does
    // it in integers; plain double arithmetic drifts away from it within the run.
    XYConvertor02 convertor(2);
    Exact expected;
    double plain = 0.0;
    bool plainDiverged = false;
    uint32_t x = 1;
    for (int pair = 0; pair < 20000; ++pair) {
        x = x * 1103515245u + 12345u;
        const bool equal = ((x >> 16) % 3) != 0;
        SampleBlock v = {5, static_cast<int16_t>(equal ? 5 : 6)};
        convertor.transformFast(v);

        const Exact product = roundTo(multiply(fromDouble(toDouble(expected)), fromDouble(DecayingSum::factor)), 64);
        expected = fromDouble(toDouble(roundTo(add(product, fromDouble(equal ? 1.0 : -1.0)), 64)));
        ASSERT_EQ(convertor.switchState().value, toDouble(expected)) << "pair " << pair;

        plain = plain * DecayingSum::factor + (equal ? 1.0 : -1.0);
        plainDiverged = plainDiverged || plain != toDouble(expected);
    }
    EXPECT_TRUE(plainDiverged) << "the sequence does not tell extended from double precision";
}
#else
TEST(XYConvertor, DecayingSumUsesA64BitSignificandAndRoundsOnceToDouble) {
    GTEST_SKIP() << "no 128-bit integer type for the oracle on this target";
}
#endif
