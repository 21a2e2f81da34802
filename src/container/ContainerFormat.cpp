#include "container/ContainerFormat.h"

#include <array>

const Generation generation02{2, "QO02", 73728, 16, false};
const Generation generation03{3, "QO03", 73728, 16, true};
const Generation generation04{4, "QO04", 61440, 19, true};

int32_t Generation::blockCount(int32_t sampleCount) const {
    if (sampleCount <= 0) return 0;
    // 64-bit so that counts near 2^31 do not wrap while rounding up.
    return static_cast<int32_t>((static_cast<int64_t>(sampleCount) + blockSize - 1) / blockSize);
}

int32_t Generation::blockLength(int32_t block, int32_t sampleCount) const {
    const int64_t rest = static_cast<int64_t>(sampleCount) - static_cast<int64_t>(block) * blockSize;
    if (rest <= 0) return 0;
    return rest < blockSize ? static_cast<int32_t>(rest) : blockSize;
}

bool Generation::isKeyBlock(int32_t block, bool seekable) const {
    return block == 0 || (seekable && block % seekInterval == 0);
}

int32_t Generation::seekEntryCount(int32_t blocks, bool seekable) const {
    if (!seekable || blocks <= 1) return 0;
    return (blocks - 1) / seekInterval;
}

int64_t Generation::firstSegmentOffset(int64_t storedHeaderLength, int32_t seekEntries) const {
    if (!hasTrailer) return 45 + 4 * static_cast<int64_t>(seekEntries);
    return 29 + storedHeaderLength + 4 * static_cast<int64_t>(seekEntries);
}

bool hasPadValue(int channels, int32_t blockLength) {
    return channels != 1 && blockLength % 2 != 0;
}

uint8_t containerFlags(bool seekable, bool high) {
    return static_cast<uint8_t>((seekable ? 1 : 0) | (high ? 2 : 0));
}

namespace {

// Row 0 is the byte-at-a-time table; row k advances a byte's contribution through k
// more zero bytes, so four bytes are folded in with four lookups (slicing by four).
constexpr std::array<std::array<uint32_t, 256>, 4> makeCrcTables() {
    std::array<std::array<uint32_t, 256>, 4> tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][i] = c;
    }
    for (size_t k = 1; k < 4; ++k)
        for (uint32_t i = 0; i < 256; ++i)
            tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
    return tables;
}

constexpr std::array<std::array<uint32_t, 256>, 4> crcTables = makeCrcTables();

}  // namespace

void Crc32::updateByte(uint8_t byte) {
    reg = (reg >> 8) ^ crcTables[0][(reg ^ byte) & 0xFF];
}

// Four bytes, the first in the low eight bits.
void Crc32::updateWord(uint32_t word) {
    const uint32_t x = reg ^ word;
    reg = crcTables[3][x & 0xFF] ^ crcTables[2][(x >> 8) & 0xFF] ^ crcTables[1][(x >> 16) & 0xFF] ^
          crcTables[0][x >> 24];
}

void Crc32::update(const uint8_t* bytes, size_t count) {
    size_t i = 0;
    for (; i + 4 <= count; i += 4)
        updateWord(bytes[i] | uint32_t{bytes[i + 1]} << 8 | uint32_t{bytes[i + 2]} << 16 |
                   uint32_t{bytes[i + 3]} << 24);
    for (; i < count; ++i) updateByte(bytes[i]);
}

void Crc32::updateSamples(const int16_t* samples, size_t count) {
    size_t i = 0;
    for (; i + 2 <= count; i += 2)
        updateWord(static_cast<uint16_t>(samples[i]) | uint32_t{static_cast<uint16_t>(samples[i + 1])} << 16);
    if (i < count) {
        const uint16_t v = static_cast<uint16_t>(samples[i]);
        updateByte(static_cast<uint8_t>(v & 0xFF));
        updateByte(static_cast<uint8_t>(v >> 8));
    }
}
