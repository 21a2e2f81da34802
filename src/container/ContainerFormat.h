#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The container's generations and the way every generation cuts the sample
// values into blocks and groups the blocks into coding segments.
struct Generation {
    int version;           // 2, 3 or 4
    std::string magic;     // "QO02", "QO03", "QO04"
    int32_t blockSize;     // sample values per block, all channels counted
    int32_t seekInterval;  // blocks per coding segment when seekable
    bool hasTrailer;       // a header-size field, a trailer offset and a trailer (03 and 04)

    // Blocks that cover sampleCount values; 0 for a count of 0 or less.
    int32_t blockCount(int32_t sampleCount) const;
    // Values in block `block` of a file of sampleCount values.
    int32_t blockLength(int32_t block, int32_t sampleCount) const;
    // Block 0, and when seekable every multiple of the seek interval: a coding segment starts there.
    bool isKeyBlock(int32_t block, bool seekable) const;
    // Entries of the seek table: the key blocks after block 0.
    int32_t seekEntryCount(int32_t blocks, bool seekable) const;
    // Offset of the first coding segment, right after a header of N stored
    // WAV header bytes and k seek entries.
    int64_t firstSegmentOffset(int64_t storedHeaderLength, int32_t seekEntries) const;
};

extern const Generation generation02;
extern const Generation generation03;
extern const Generation generation04;

// Generation 04 writes one value 0 after an odd-length block of a file that is
// not mono; the value is outside the sample count and the checksum.
bool hasPadValue(int channels, int32_t blockLength);

// Flags byte: bit 0 seekable, bit 1 high-compression chain; other bits are written 0.
uint8_t containerFlags(bool seekable, bool high);

// The container's checksum of the sample bytes: the reflected CRC-32
// (polynomial 0xEDB88320), register started at all ones and stored as it
// ends, without the usual final complement.
class Crc32 {
public:
    void update(const uint8_t* bytes, size_t count);
    // Sample values as stored in the WAV data: each low byte first.
    void updateSamples(const int16_t* samples, size_t count);
    uint32_t value() const { return reg; }

private:
    void updateByte(uint8_t byte);
    void updateWord(uint32_t word);

    uint32_t reg = 0xFFFFFFFFu;
};
