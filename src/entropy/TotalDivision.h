#pragma once
#include <cstdint>

// a / d for the coder's totals without a hardware division on targets with a 128-bit
// product: q = (a * M(d)) >> 63 with M(d) = ceil(2^63 / d), from a process-wide table
// for d = 1 ... 2^16, the largest total the models pass.
//
// Exact for every 32-bit a: M(d) = 2^63 / d + e with 0 <= e < 1, so a * M(d) / 2^63
// exceeds a / d by a * e / 2^63 < 2^-31. The fraction of a / d is at most 1 - 1/d and
// 1/d >= 2^-16, so the excess never reaches the next integer and the floor is a / d.
//
// Other totals (0 included, which the caller must refuse) and targets without a 128-bit
// product divide.
namespace totaldivision {

constexpr uint32_t kLargestTabled = 1u << 16;

#if defined(__SIZEOF_INT128__)
extern uint64_t reciprocals[kLargestTabled + 1];  // reciprocals[d] = M(d); [0] unused

inline uint32_t divide(uint32_t a, uint32_t d) {
    if (d - 1 >= kLargestTabled) return d == 0 ? 0 : a / d;
    // The high half of 2a * M(d), which is (a * M(d)) >> 63 without a double-word shift.
    return static_cast<uint32_t>((static_cast<unsigned __int128>(uint64_t{a} << 1) * reciprocals[d]) >> 64);
}
#else
inline uint32_t divide(uint32_t a, uint32_t d) { return d == 0 ? 0 : a / d; }
#endif

}  // namespace totaldivision
