#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <random>

#include "BitstreamTestSupport.h"
#include "SmoothBitProbe.h"
#include "entropy/ModelSmooth02.h"
#include "entropy/ModelSmooth03.h"
#include "entropy/ModelSmooth04.h"
#include "foundation/Arith.h"
#include "foundation/Error.h"

using bitstreamtest::hexBytes;
using bitstreamtest::StreamReader;
using bitstreamtest::writeStream;

namespace {

using Block = std::vector<int16_t>;

std::unique_ptr<SmoothBitModel> makeModel(int generation, int32_t channels, BitstreamFast* coder) {
    if (generation == 3) return std::make_unique<ModelSmooth03>(channels, coder);
    return std::make_unique<ModelSmooth02>(channels, coder);
}

struct Coded {
    std::vector<uint8_t> bytes;
    int32_t state0, state1;
};

Coded encodeSegment(int generation, int32_t channels, const std::vector<Block>& blocks) {
    initPow2Table();
    Coded coded{};
    coded.bytes = writeStream([&](BitstreamFast& bits) {
        auto model = makeModel(generation, channels, &bits);
        for (const Block& b : blocks) model->encodeResiduals(b);
        model->finishEncoding();
        coded.state0 = model->scaleState(0);
        coded.state1 = model->scaleState(1);
    });
    return coded;
}

// Decodes the blocks of a segment of the given sizes; the states end up in decoded.
std::vector<Block> decodeSegment(int generation, int32_t channels, const std::vector<uint8_t>& bytes,
                                 const std::vector<int32_t>& counts, Coded* decoded = nullptr) {
    initPow2Table();
    StreamReader reader(bytes);
    auto model = makeModel(generation, channels, &reader.bits());
    model->startDecoding();
    std::vector<Block> blocks;
    for (int32_t count : counts) {
        blocks.emplace_back();
        model->decodeResiduals(blocks.back(), count);
    }
    if (decoded) {
        decoded->state0 = model->scaleState(0);
        decoded->state1 = model->scaleState(1);
    }
    return blocks;
}

std::vector<int32_t> countsOf(const std::vector<Block>& blocks) {
    std::vector<int32_t> counts;
    for (const Block& b : blocks) counts.push_back(static_cast<int32_t>(b.size()));
    return counts;
}

std::vector<uint16_t> folded(const Block& block) {
    std::vector<uint16_t> u;
    for (int16_t x : block) u.push_back(static_cast<uint16_t>(foldSmooth03(x)));
    return u;
}

// Residual-like noise whose magnitude swings over the whole int16 range.
Block noise(std::mt19937& rng, size_t n, int channels, int silentChannel = -1) {
    Block b(n);
    int32_t amplitude = 1;
    for (size_t i = 0; i < n; ++i) {
        if (i % 512 == 0) amplitude = 1 << (rng() % 16);
        int32_t x = static_cast<int32_t>(rng() % (2 * amplitude + 1)) - amplitude;
        if (rng() % 997 == 0) x = rng() % 2 ? -32768 : 32767;
        b[i] = static_cast<int16_t>(std::clamp(x, -32768, 32767));
        if (channels == 2 && static_cast<int>(i % 2) == silentChannel) b[i] = 0;
    }
    return b;
}

const Block exampleMono = {0, 1, -1, 2, -2, 3, 100, -300};

}  // namespace

TEST(SmoothBitFold, FoldsAndUnfoldsEveryKindOfValue) {
    const struct { int16_t x; uint32_t u; } cases[] = {
        {0, 0}, {1, 1}, {-1, 2}, {2, 3}, {-2, 4}, {3, 5}, {100, 199}, {-300, 600},
        {32767, 65533}, {-32767, 65534}, {-32768, 65535},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(foldSmooth03(c.x), c.u) << c.x;
        EXPECT_EQ(unfoldSmooth03(c.u), c.x) << c.u;
    }
}

TEST(ModelSmooth03, ModeCostTableEntries) {
    buildModeCostTable03();
    ASSERT_EQ(modeCostTable03.size(), 65536u);
    const struct { int r; int32_t cost; } cases[] = {
        {0, 0}, {1, 0}, {2, 2}, {3, 9}, {10, 230}, {100, 46051}, {191, 191608}, {399, 953448},
        {400, 958634}, {65535, 958634},
    };
    for (const auto& c : cases) EXPECT_EQ(modeCostTable03[static_cast<size_t>(c.r)], c.cost) << c.r;
}

TEST(SmoothBitModel, SmallCountRowTotals) {
    // A mistyped frequency changes a row's total; the totals are those of the format.
    auto rowTotals = [](const int32_t* f, int rows) {
        std::vector<int32_t> totals;
        for (int j = 0; j < rows; ++j) {
            totals.push_back(std::accumulate(f, f + j + 2, 0));
            f += j + 2;
        }
        return totals;
    };
    EXPECT_EQ(rowTotals(smallCountFrequencies02, 10),
              (std::vector<int32_t>{941, 632, 469, 300, 315, 309, 255, 179, 176, 150}));
    EXPECT_EQ(rowTotals(smallCountFrequencies04, 32),
              (std::vector<int32_t>{14576, 8325, 4435, 3308, 2765, 2100, 1809, 1484, 1367, 1112, 1020,
                                    924,   787,  732,  659,  634,  570,  531,  461,  441,  425,  409,
                                    385,   362,  332,  299,  296,  294,  293,  277,  266,  233}));
}

TEST(ModelSmooth03, ModeCostsAndHistogramOfExampleBlock) {
    ModelSmooth03 model(1, nullptr);
    const std::vector<uint16_t> u = folded(exampleMono);
    EXPECT_EQ(u, (std::vector<uint16_t>{0, 1, 2, 3, 4, 5, 199, 600}));
    EXPECT_EQ(model.modeCosts(u), (std::array<int64_t, 4>{2, 2, 9, 9}));
    EXPECT_EQ(model.chooseAdaptationMode(u), 1);  // tie with mode 2 keeps the lower mode
    std::vector<int32_t> hist(192, 0);
    hist[0] = 7;
    hist[2] = 1;
    EXPECT_EQ(model.buildHistogram(u, 1), hist);

    // All four costs equal (all zero): mode 1.
    EXPECT_EQ(model.chooseAdaptationMode({9, 6, 13, 0}), 1);
}

// 600 zero residuals take a generation-02 state from 16384 down to 15, where
// state >> 6 is 0: the scale is held at 1, so the folded value 9 that follows
// lands in bin 9 with no remainder, and the state then rises by (9 + 1) >> 1
// to 20.
TEST(ModelSmooth02, ScaleFloorOfOneAfterARunOfZeros) {
    Block block(600, 0);
    block.push_back(5);
    ModelSmooth02 model(1, nullptr);
    std::vector<int32_t> hist(192, 0);
    hist[0] = 600;
    hist[9] = 1;
    EXPECT_EQ(model.buildHistogram(folded(block), 0), hist);

    const Coded coded = encodeSegment(2, 1, {block});
    EXPECT_EQ(coded.state0, 20);
    Coded decoded{};
    EXPECT_EQ(decodeSegment(2, 1, coded.bytes, {601}, &decoded)[0], block);
    EXPECT_EQ(decoded.state0, 20);
}

TEST(SmoothBitModel, KnownBlocksGiveKnownBytesAndDecodeBack) {
    const struct {
        int generation;
        int32_t channels;
        Block block;
        std::vector<uint8_t> bytes;
        int32_t state0, state1;
    } cases[] = {
        {3, 1, exampleMono, hexBytes({0x1F, 0xF3, 0x07, 0xB6, 0x5D, 0x40, 0xDC, 0xEB, 0xA4, 0x8A, 0x00}), 14652, 16384},
        {3, 2, {0, 5, 0, -3, 0, 7, 0, 0}, hexBytes({0x8F, 0xF0, 0x77, 0x1E, 0x8C, 0xB8}), 15393, 16384},
        {2, 1, exampleMono, hexBytes({0x7F, 0x2E, 0xB7, 0x12, 0x2B, 0x9D, 0x06, 0x01, 0x9F, 0xA4}), 13114, 16384},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "generation " << c.generation << ", channels " << c.channels);
        const Coded coded = encodeSegment(c.generation, c.channels, {c.block});
        EXPECT_EQ(coded.bytes, c.bytes);
        EXPECT_EQ(coded.state0, c.state0);
        EXPECT_EQ(coded.state1, c.state1);
        for (const uint8_t tail : {0x00, 0xFF}) {
            std::vector<uint8_t> stream = c.bytes;
            stream.insert(stream.end(), 6, tail);
            Coded decoded{};
            EXPECT_EQ(decodeSegment(c.generation, c.channels, stream, {8}, &decoded)[0], c.block);
            EXPECT_EQ(decoded.state0, c.state0);
            EXPECT_EQ(decoded.state1, c.state1);
        }
    }
}

TEST(SmoothBitModel, SegmentsRoundTrip) {
    std::mt19937 rng(11);
    const Block silentMono(100, 0);
    const Block extremes = {-32768, 32767, -32768, 0, 32767, 1, -1, -32768};
    Block longZeroRun(20000, 0);
    longZeroRun.back() = 3;  // states sink to their floor, then one value is coded
    const struct {
        const char* name;
        int32_t channels;
        std::vector<Block> blocks;
    } cases[] = {
        {"mono noise, several blocks", 1, {noise(rng, 73728, 1), noise(rng, 5000, 1), noise(rng, 1, 1)}},
        {"stereo noise", 2, {noise(rng, 73728, 2), noise(rng, 2, 2)}},
        {"stereo, channel 0 silent", 2, {noise(rng, 4000, 2, 0), noise(rng, 64, 2)}},
        {"stereo, channel 1 silent", 2, {noise(rng, 4000, 2, 1), noise(rng, 64, 2, 1)}},
        {"silent blocks between", 1, {silentMono, extremes, silentMono, extremes}},
        {"stereo, both silent", 2, {Block(50, 0), extremes, Block(8, 0)}},
        {"extremes only", 2, {extremes, extremes}},
        {"long zero run", 1, {longZeroRun, noise(rng, 300, 1)}},
        {"few values left", 1, {Block{7}, Block{0, -5}, Block(31, 2), Block(32, -2), Block(9, 40), Block(10, 40)}},
    };
    for (int generation : {2, 3}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "generation " << generation << ": " << c.name);
            const Coded coded = encodeSegment(generation, c.channels, c.blocks);
            Coded decoded{};
            EXPECT_EQ(decodeSegment(generation, c.channels, coded.bytes, countsOf(c.blocks), &decoded), c.blocks);
            EXPECT_EQ(decoded.state0, coded.state0);
            EXPECT_EQ(decoded.state1, coded.state1);
        }
    }
}

TEST(SmoothBitModel, SilentBlocksKeepStatesAndCostOneFlagPerChannel) {
    for (int generation : {2, 3}) {
        for (int32_t channels : {1, 2}) {
            // finish adds at most two bits, so the flags and the ending fit one byte.
            const Coded coded = encodeSegment(generation, channels, {Block(64, 0)});
            EXPECT_EQ(coded.bytes.size(), 1u);
            EXPECT_EQ(coded.state0, 16384);
            EXPECT_EQ(coded.state1, 16384);
        }
    }
    // One silent stereo channel leaves the other channel's values on state 0 only.
    const Coded oneSilent = encodeSegment(2, 2, {{0, 5, 0, -3, 0, 7, 0, 0}});
    EXPECT_NE(oneSilent.state0, 16384);
    EXPECT_EQ(oneSilent.state1, 16384);
}

TEST(SmoothBitModel, ChannelCountsOtherThanOneAndTwoAreRefused) {
    for (int generation : {2, 3})
        for (int32_t channels : {0, 3, -1}) EXPECT_THROW(makeModel(generation, channels, nullptr), Error);
}

TEST(SmoothBitModel, OddStereoCountIsRefused) {
    for (int generation : {2, 3}) {
        EXPECT_THROW(encodeSegment(generation, 2, {Block{1, 2, 3}}), Error);
        const Coded coded = encodeSegment(generation, 2, {Block{1, 2, 3, 4}});
        EXPECT_THROW(decodeSegment(generation, 2, coded.bytes, {3}), Error);
    }
}

TEST(SmoothBitModel, BinCountsSwitchFromSmallCountTablesAtTheirLimit) {
    // The first bin count of a block of R values is coded with table R - 1 below the
    // generation's limit and uniformly over R + 1 from it on. One value lies outside bin
    // 0, so the count is not the top symbol, which both codings would place alike.
    const struct { int generation; int32_t values; bool smallCountTable; } cases[] = {
        {3, 31, true}, {3, 32, false}, {2, 9, true}, {2, 10, false}, {2, 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "generation " << c.generation << ", " << c.values << " values");
        Block block(static_cast<size_t>(c.values), 1);
        block.back() = 1000;
        const Coded coded = encodeSegment(c.generation, 1, {block});
        StreamReader reader(coded.bytes);
        auto readBinCount = [&](auto& probe) {
            probe.startDecoding();
            EXPECT_EQ(probe.decodeBits(1), 0u);
            if (c.generation == 3) {
                EXPECT_EQ(probe.decodeBits(2), 0u);  // mode 1
            }
            return c.smallCountTable
                       ? probe.decodeSmallCount(probe.table(static_cast<size_t>(c.values - 1)))
                       : static_cast<int32_t>(probe.decodeUniform(static_cast<uint32_t>(c.values + 1)));
        };
        if (c.generation == 3) {
            SmoothBitProbe<ModelSmooth03> probe(1, &reader.bits());
            EXPECT_EQ(readBinCount(probe), c.values - 1);
        } else {
            SmoothBitProbe<ModelSmooth02> probe(1, &reader.bits());
            EXPECT_EQ(readBinCount(probe), c.values - 1);
        }
    }
}
