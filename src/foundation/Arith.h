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

// Absolute value with wrap-around: |INT32_MIN| stays INT32_MIN.
inline int32_t wrapAbs(int32_t v) {
    return v < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
}

extern std::vector<int32_t> pow2Table;
void initPow2Table();
int32_t pow2(int i);
