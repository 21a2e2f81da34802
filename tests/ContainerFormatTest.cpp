#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "container/ContainerFormat.h"

namespace {

TEST(ContainerFormat, GenerationParameters) {
    const struct { const Generation& g; const char* magic; int32_t blockSize, interval; bool trailer; } cases[] = {
        {generation02, "QO02", 73728, 16, false},
        {generation03, "QO03", 73728, 16, true},
        {generation04, "QO04", 61440, 19, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.g.magic, c.magic);
        EXPECT_EQ(c.g.blockSize, c.blockSize) << c.magic;
        EXPECT_EQ(c.g.seekInterval, c.interval) << c.magic;
        EXPECT_EQ(c.g.hasTrailer, c.trailer) << c.magic;
    }
}

TEST(ContainerFormat, BlockAndSeekEntryCounts) {
    const int32_t b4 = 61440, b3 = 73728;
    const struct { const Generation& g; int32_t samples; bool seekable; int32_t blocks, entries; } cases[] = {
        {generation04, 0, true, 0, 0},
        {generation04, -5, true, 0, 0},
        {generation04, 1, true, 1, 0},
        {generation04, b4, true, 1, 0},
        {generation04, b4 + 1, true, 2, 0},
        {generation04, 19 * b4, true, 19, 0},
        {generation04, 19 * b4 + 1, true, 20, 1},
        {generation04, 19 * b4 + 1, false, 20, 0},
        {generation04, 38 * b4, true, 38, 1},
        {generation04, 38 * b4 + 1, true, 39, 2},
        {generation04, INT32_MAX, true, 34953, 1839},
        {generation03, 16 * b3, true, 16, 0},
        {generation03, 16 * b3 + 1, true, 17, 1},
        {generation02, 33 * b3, true, 33, 2},
    };
    for (const auto& c : cases) {
        const int32_t blocks = c.g.blockCount(c.samples);
        EXPECT_EQ(blocks, c.blocks) << c.g.magic << " " << c.samples;
        EXPECT_EQ(c.g.seekEntryCount(blocks, c.seekable), c.entries) << c.g.magic << " " << c.samples;
    }
}

TEST(ContainerFormat, BlockLengthsCoverTheSamplesExactly) {
    const int32_t b = generation04.blockSize;
    const std::vector<int32_t> mono = {b, b, 1};
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(generation04.blockLength(i, 2 * b + 1), mono[i]) << i;
    EXPECT_EQ(generation04.blockLength(3, 2 * b + 1), 0);
    EXPECT_EQ(generation03.blockLength(0, 100), 100);
    // The last block of the largest count ends exactly at it, without wrapping.
    const int32_t last = generation04.blockCount(INT32_MAX) - 1;
    EXPECT_EQ(generation04.blockLength(last, INT32_MAX), INT32_MAX - last * b);
}

TEST(ContainerFormat, KeyBlocksAndPadValue) {
    const struct { const Generation& g; int32_t block; bool seekable, key; } keys[] = {
        {generation04, 0, false, true}, {generation04, 0, true, true},   {generation04, 19, true, true},
        {generation04, 19, false, false}, {generation04, 20, true, false}, {generation04, 38, true, true},
        {generation04, 16, true, false}, {generation03, 16, true, true},  {generation02, 32, true, true},
    };
    for (const auto& c : keys) EXPECT_EQ(c.g.isKeyBlock(c.block, c.seekable), c.key) << c.g.magic << " " << c.block;

    // Every channel count but 1 pads an odd block, 0 and 3 included.
    const struct { int channels; int32_t length; bool pad; } pads[] = {
        {1, 1, false}, {1, 61439, false}, {2, 1, true}, {2, 2, false}, {3, 3, true}, {0, 5, true}, {2, 0, false},
    };
    for (const auto& c : pads) EXPECT_EQ(hasPadValue(c.channels, c.length), c.pad) << c.channels << " " << c.length;
}

TEST(ContainerFormat, FirstSegmentOffsetAndFlags) {
    EXPECT_EQ(generation04.firstSegmentOffset(24, 0), 53);
    EXPECT_EQ(generation04.firstSegmentOffset(24, 1), 57);
    EXPECT_EQ(generation03.firstSegmentOffset(60, 2), 97);
    EXPECT_EQ(generation02.firstSegmentOffset(24, 0), 45);
    EXPECT_EQ(generation02.firstSegmentOffset(24, 3), 57);

    EXPECT_EQ(containerFlags(false, false), 0);
    EXPECT_EQ(containerFlags(true, false), 1);
    EXPECT_EQ(containerFlags(false, true), 2);
    EXPECT_EQ(containerFlags(true, true), 3);
}

TEST(ContainerFormat, CrcIsTheUncomplementedRegister) {
    Crc32 empty;
    EXPECT_EQ(empty.value(), 0xFFFFFFFFu);

    // The usual CRC-32 of "123456789" is 0xCBF43926; the stored register is its complement.
    const std::string check = "123456789";
    Crc32 crc;
    crc.update(reinterpret_cast<const uint8_t*>(check.data()), check.size());
    EXPECT_EQ(crc.value(), ~0xCBF43926u);

    std::vector<uint8_t> bytes(1001);
    uint32_t x = 12345;
    for (uint8_t& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    Crc32 pieces;
    pieces.update(bytes.data(), 10);
    pieces.update(bytes.data() + 10, 0);
    pieces.update(bytes.data() + 10, bytes.size() - 10);
    EXPECT_EQ(pieces.value(), testsupport::bitwiseCrcRegister(bytes.data(), bytes.size()));
}

TEST(ContainerFormat, CrcOfSamplesTakesLowByteFirst) {
    const std::vector<int16_t> samples = {0x0102, -1, INT16_MIN, 0x7F80, 0};
    Crc32 crc;
    crc.updateSamples(samples.data(), samples.size());
    const uint8_t bytes[] = {0x02, 0x01, 0xFF, 0xFF, 0x00, 0x80, 0x80, 0x7F, 0x00, 0x00};
    EXPECT_EQ(crc.value(), testsupport::bitwiseCrcRegister(bytes, sizeof bytes));

    // Every count of whole sample pairs and an odd last one, from every register state
    // the earlier samples leave.
    std::vector<int16_t> many;
    std::vector<uint8_t> manyBytes;
    uint32_t x = 987;
    for (int count = 0; count < 12; ++count) {
        Crc32 run;
        run.updateSamples(many.data(), many.size());
        EXPECT_EQ(run.value(), testsupport::bitwiseCrcRegister(manyBytes.data(), manyBytes.size())) << count;
        const int16_t v = static_cast<int16_t>((x = x * 1103515245u + 12345u) >> 16);
        many.push_back(v);
        manyBytes.push_back(static_cast<uint8_t>(v & 0xFF));
        manyBytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
}

}  // namespace
