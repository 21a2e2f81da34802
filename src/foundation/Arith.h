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

extern std::vector<int32_t> pow2Table;
void initPow2Table();
int32_t pow2(int i);
