#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

// WAV sample data holds each int16 value low byte first. Samples move between a file
// and memory as raw bytes, so on a big-endian host every value is byte-swapped on the
// way; on a little-endian host the bytes already lie in that order and nothing is done.
static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "sample byte order is defined for little- and big-endian hosts");

// Turns values read as little-endian bytes into the host's order, or the host's values
// into little-endian bytes: the same swap, in place.
inline void swapLittleEndian(int16_t* values, size_t count) {
    if constexpr (std::endian::native == std::endian::big) {
        for (size_t i = 0; i < count; ++i) {
            const auto u = static_cast<uint16_t>(values[i]);
            values[i] = static_cast<int16_t>(static_cast<uint16_t>(u << 8 | u >> 8));
        }
    }
}

// The values laid out as little-endian bytes for writing: the values themselves on a
// little-endian host, else a swapped copy kept in scratch.
inline const int16_t* littleEndianValues(const std::vector<int16_t>& values, std::vector<int16_t>& scratch) {
    if constexpr (std::endian::native == std::endian::little) {
        return values.data();
    } else {
        scratch = values;
        swapLittleEndian(scratch.data(), scratch.size());
        return scratch.data();
    }
}
