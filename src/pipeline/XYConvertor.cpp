#include "pipeline/XYConvertor.h"

#include <bit>
#include <utility>

#include "foundation/Arith.h"

// The stored generation-02 format was produced with x87 extended precision: the
// product and the sum are each rounded to a 64-bit significand, to nearest with
// ties to even, and the result is rounded to a double only when stored. The same
// three roundings are done here on integers, so that every processor and compiler
// gives the same bytes. They are exact for every finite value: the sum is zero or
// between 2^-64 and the largest double in magnitude (a sum that cancels against
// +-1 is a multiple of 2^-64), so the result is always zero or a normal double.
namespace {

constexpr uint64_t kTopBit = uint64_t{1} << 63;

// (-1)^negative * significand * 2^exponent, with the significand's top bit set, or zero.
struct Extended {
    bool negative = false;
    uint64_t significand = 0;
    int exponent = 0;
};

// A finite double as (-1)^negative * significand * 2^exponent, significand < 2^53.
Extended split(double d) {
    const uint64_t bits = std::bit_cast<uint64_t>(d);
    const bool negative = (bits >> 63) != 0;
    const int field = static_cast<int>((bits >> 52) & 0x7FF);
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    if (field == 0) return {negative, fraction, -1074};  // zero or subnormal
    return {negative, fraction | (uint64_t{1} << 52), field - 1075};
}

Uint128 shiftLeft(Uint128 q, int n) {
    if (n >= 64) return {q.low << (n - 64), 0};
    if (n == 0) return q;
    return {(q.high << n) | (q.low >> (64 - n)), q.low << n};
}

// (-1)^negative * q * 2^exponent, q not zero, rounded to a 64-bit significand: to
// nearest, ties to even.
Extended rounded(bool negative, Uint128 q, int exponent) {
    const int leading = q.high != 0 ? std::countl_zero(q.high) : 64 + std::countl_zero(q.low);
    q = shiftLeft(q, leading);
    const bool up = q.low > kTopBit || (q.low == kTopBit && (q.high & 1) != 0);
    Extended r{negative, q.high + up, exponent + 64 - leading};
    if (r.significand == 0) {  // carried out of the top bit
        r.significand = kTopBit;
        ++r.exponent;
    }
    return r;
}

Extended product(double a, double b) {
    const Extended x = split(a), y = split(b);
    if (x.significand == 0 || y.significand == 0) return {x.negative != y.negative, 0, 0};
    return rounded(x.negative != y.negative, multiplyWide(x.significand, y.significand), x.exponent + y.exponent);
}

// m * 2^shift in 128 bits, shift <= 63. The bits of a negative shift that fall
// below bit 0 are kept as a sticky bit 0 that only decides rounding.
Uint128 placed(uint64_t m, int shift) {
    if (shift > 0) return {m >> (64 - shift), m << shift};
    if (shift == 0) return {0, m};
    if (shift > -64) return {0, (m >> -shift) | ((m << (64 + shift)) != 0)};
    return {0, m != 0};
}

// a + b, b not zero, rounded to a 64-bit significand.
Extended sum(Extended a, Extended b) {
    if (a.significand == 0) return b;
    if (a.exponent < b.exponent || (a.exponent == b.exponent && a.significand < b.significand)) std::swap(a, b);
    // |a| >= |b|. a's top bit goes to bit 126, which leaves room for a carry and
    // 63 bits below a's last bit. Where b reaches further down, the bits are more
    // than two places below where the result rounds, however much a - b cancels:
    // only whether they are all zero counts, as the sticky bit 0.
    const Uint128 x = placed(a.significand, 63);
    const Uint128 y = placed(b.significand, 63 - (a.exponent - b.exponent));
    if (a.negative == b.negative) {
        const uint64_t low = x.low + y.low;
        return rounded(a.negative, {x.high + y.high + (low < x.low), low}, a.exponent - 63);
    }
    const Uint128 difference{x.high - y.high - (x.low < y.low), x.low - y.low};
    if (difference == Uint128{}) return {};  // an exact cancellation is +0
    return rounded(a.negative, difference, a.exponent - 63);
}

// Rounded to a double, to nearest with ties to even; x is zero or of a normal double's size.
double toDouble(const Extended& x) {
    if (x.significand == 0) return 0.0;
    uint64_t m = x.significand >> 11;
    const uint64_t rest = x.significand & 0x7FF;
    int exponent = x.exponent + 11;
    m += rest > 0x400 || (rest == 0x400 && (m & 1) != 0);
    if ((m >> 53) != 0) {  // carried out of the top bit
        m >>= 1;
        ++exponent;
    }
    const uint64_t field = static_cast<uint64_t>(exponent + 52 + 1023);
    return std::bit_cast<double>((uint64_t{x.negative} << 63) | (field << 52) | (m & ((uint64_t{1} << 52) - 1)));
}

}  // namespace

void DecayingSum::update(bool equalPair) {
    value = toDouble(sum(product(value, factor), {!equalPair, kTopBit, -63}));
}
