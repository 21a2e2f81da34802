#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The whole build uses -fwrapv: signed int32 arithmetic wraps, right shifts of
// negative values are arithmetic (C++20), and narrowing to int16 keeps the low bits.

inline int16_t saturate16(int32_t v) {
    if (static_cast<int16_t>(v) == v) return static_cast<int16_t>(v);
    return static_cast<int16_t>((v >> 31) ^ 0x7FFF);
}

// c ? a : b by masking, for data-dependent choices that a compiler would otherwise
// make with a branch: where the condition is close to a coin toss, mispredictions
// discard the work in flight.
inline int32_t selectBits(bool c, int32_t a, int32_t b) {
    return b ^ ((a ^ b) & -static_cast<int32_t>(c));
}

// u with the sign of e: u, -u, or 0 when e is 0. Arithmetic rather than a branch on a
// sign that follows the signal.
inline int32_t withSignOf(int32_t e, int32_t u) {
    return ((e > 0) - (e < 0)) * u;
}

// Absolute value with wrap-around: |INT32_MIN| stays INT32_MIN.
inline int32_t wrapAbs(int32_t v) {
    return v < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
}

// x / d rounded toward zero, for |x| <= 2^15 and 0 < d < 2^17, through a reciprocal
// made again only when d changes: where the divisor moves slowly, a hardware division
// leaves the chain of dependent operations it would sit on. With m = floor(2^32 / d) + 1,
// |x| * m / 2^32 exceeds |x| / d by at most |x| / 2^32 <= 2^-17, which is less than
// 1/d, the least distance from the fraction of |x| / d to the next integer.
class SlowDivisor {
public:
    int32_t divide(int32_t x, int32_t d) {
        if (d != divisor) {
            divisor = d;
            reciprocal = (uint64_t{1} << 32) / static_cast<uint64_t>(d) + 1;
        }
        const int32_t q = static_cast<int32_t>((static_cast<uint64_t>(wrapAbs(x)) * reciprocal) >> 32);
        return x < 0 ? -q : q;
    }

private:
    int32_t divisor = 0;
    uint64_t reciprocal = 0;
};

// An unsigned 128-bit integer as two 64-bit halves: no 128-bit type exists on every
// target (32-bit x86 has none).
struct Uint128 {
    uint64_t high = 0;
    uint64_t low = 0;
    friend bool operator==(const Uint128&, const Uint128&) = default;
};

// a * b exactly, from four 32 x 32 -> 64-bit products.
inline Uint128 multiplyWide(uint64_t a, uint64_t b) {
    const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    // Below 3 * 2^32: the three terms of bits 32 to 63 and what carries out of them.
    const uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & 0xFFFFFFFFu)};
}

extern std::vector<int32_t> pow2Table;
void initPow2Table();
int32_t pow2(int i);
