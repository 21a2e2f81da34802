#include <gtest/gtest.h>

#include <random>

#include "CoderTestSupport.h"
#include "entropy/ModelSmooth04.h"
#include "entropy/RangeCoder.h"
#include "foundation/Arith.h"
#include "foundation/Registry.h"

using codertest::errorOf;
using codertest::ScratchFile;
using Bytes = std::vector<uint8_t>;
using Block = std::vector<int16_t>;

namespace {

class ModelSmooth04Test : public ::testing::Test {
protected:
    void SetUp() override { initPow2Table(); }

    // One coding segment: every block through encodeResiduals, then finishEncoding.
    Bytes encodeSegment(int32_t channels, const std::vector<Block>& blocks) {
        return file.written([&](BinaryFile& out) {
            RangeCoder coder(out, RangeCoder::Mode::encoding);
            ModelSmooth04 model(channels, &coder);
            for (const Block& b : blocks) model.encodeResiduals(b);
            model.finishEncoding();
        });
    }

    // Decodes blocks of the given sizes; byteCount tells how many bytes the decoder took.
    std::vector<Block> decodeSegment(int32_t channels, const Bytes& bytes, const std::vector<size_t>& sizes,
                                     int32_t* byteCount = nullptr) {
        BinaryFile& in = file.input(bytes);
        RangeCoder coder(in, RangeCoder::Mode::decoding);
        ModelSmooth04 model(channels, &coder);
        model.startDecoding();
        std::vector<Block> blocks;
        for (size_t n : sizes) {
            blocks.emplace_back();
            model.decodeResiduals(blocks.back(), static_cast<int32_t>(n));
        }
        if (byteCount) *byteCount = in.byteCount;
        return blocks;
    }

    // Encodes, decodes with a foreign byte after the segment, and checks that the decoder
    // returns every block and takes exactly the segment's bytes.
    void expectRoundTrip(int32_t channels, const std::vector<Block>& blocks, const std::string& what) {
        Bytes bytes = encodeSegment(channels, blocks);
        const int32_t segmentBytes = static_cast<int32_t>(bytes.size());
        bytes.push_back(0x5A);
        std::vector<size_t> sizes;
        for (const Block& b : blocks) sizes.push_back(b.size());
        int32_t taken = 0;
        EXPECT_EQ(decodeSegment(channels, bytes, sizes, &taken), blocks) << what;
        EXPECT_EQ(taken, segmentBytes) << what;
    }

    ScratchFile file;
};

// Residuals of every magnitude: a random bit length 0 ... 16, a random sign, the extremes.
Block noise(std::mt19937& rng, size_t n, int maxBits = 16) {
    Block b(n);
    for (auto& v : b) {
        const int bits = static_cast<int>(rng() % static_cast<unsigned>(maxBits + 1));
        const int32_t magnitude = bits == 0 ? 0 : static_cast<int32_t>(rng() & ((1u << bits) - 1));
        v = static_cast<int16_t>(rng() & 1 ? -magnitude : magnitude);
    }
    if (n >= 2) {
        b[0] = -32768;
        b[n - 1] = 32767;
    }
    return b;
}

Block withSilentChannel(Block b, int channel) {
    for (size_t i = static_cast<size_t>(channel); i < b.size(); i += 2) b[i] = 0;
    return b;
}

double overflowCount() {
    return debugValues["Entropy Encoder overflow"];
}

}  // namespace

TEST(ModelSmooth04Fold, MapsSignedToInterleavedUnsignedAndBack) {
    const struct { int16_t x; uint16_t u; } cases[] = {
        {0, 0}, {-1, 1}, {1, 2}, {-2, 3}, {2, 4}, {100, 200}, {-300, 599}, {32767, 65534}, {-32768, 65535},
    };
    for (const auto& c : cases) EXPECT_EQ(ModelSmooth04::fold(c.x), c.u) << c.x;
    for (int32_t x = -32768; x <= 32767; ++x)
        ASSERT_EQ(ModelSmooth04::unfold(ModelSmooth04::fold(static_cast<int16_t>(x))), x);
}

TEST(ModelSmooth04Fold, FewestTrialBytesWinAndTiesKeepTheLowerMode) {
    const struct { std::array<int32_t, 4> bytes; int32_t mode; } cases[] = {
        {{9, 9, 9, 8}, 4}, {{9, 8, 8, 9}, 2}, {{4, 4, 4, 4}, 1}, {{7, 9, 6, 6}, 3},
    };
    for (const auto& c : cases) EXPECT_EQ(ModelSmooth04::modeWithFewestBytes(c.bytes), c.mode);
}

TEST_F(ModelSmooth04Test, WorkedMonoBlockGivesItsKnownBytesAndIntermediateValues) {
    const Block block = {0, 1, -1, 2, -2, 3, 100, -300};
    std::vector<int32_t> scales;
    ModelSmooth04::ModeChoice choice;
    int32_t finalState = 0;
    const Bytes bytes = file.written([&](BinaryFile& out) {
        RangeCoder coder(out, RangeCoder::Mode::encoding);
        ModelSmooth04 model(1, &coder);
        model.encodeResiduals(block);
        model.finishEncoding();
        for (size_t i = 0; i < block.size(); ++i) scales.push_back(ModelSmooth04::lastBlockScale(i));
        choice = model.lastModeChoice();
        finalState = model.scaleState(0);
        EXPECT_EQ(model.scaleState(1), 16384);
    });
    EXPECT_EQ(bytes, (Bytes{0x7F, 0xE7, 0x35, 0xDC, 0x28, 0xC4, 0x78, 0x79, 0xE9, 0x04, 0x6E, 0x55, 0x00, 0x00}));
    EXPECT_EQ(choice.trialBytes, (std::array<int32_t, 4>{9, 9, 9, 8}));
    EXPECT_EQ(choice.mode, 4);
    EXPECT_EQ(scales, (std::vector<int32_t>{256, 240, 225, 211, 198, 185, 174, 166}));
    std::array<int32_t, ModelSmooth04::kBins> histogram{};
    histogram[0] = 6;
    histogram[1] = 1;
    histogram[3] = 1;
    EXPECT_EQ(ModelSmooth04::lastBlockHistogram(), histogram);
    EXPECT_EQ(finalState, 10612);

    int32_t taken = 0;
    EXPECT_EQ(decodeSegment(1, bytes, {8}, &taken), std::vector<Block>{block});
    EXPECT_EQ(taken, 14);
}

TEST_F(ModelSmooth04Test, BlocksRoundTripAndTheDecoderTakesExactlyTheSegment) {
    std::mt19937 rng(2024);
    const Block loudStereo = noise(rng, 4096);
    const struct { const char* what; int32_t channels; std::vector<Block> blocks; } cases[] = {
        {"mono noise", 1, {noise(rng, 3000), noise(rng, 3000, 4), noise(rng, 3001, 9)}},
        {"mono full-size block", 1, {noise(rng, 61440), noise(rng, 61440, 3)}},
        {"mono silent between loud", 1, {noise(rng, 500), Block(500, 0), noise(rng, 17)}},
        {"mono 1 to 7 values", 1, {{-32768}, {32767, 0}, {5, -5, 0}, {1, 2, 3, 4}, {0, 0, 0, 0, 9},
                                   {-1, -1, -1, -1, -1, -1}, {300, -300, 0, 1, 2, 3, 4}}},
        {"stereo noise", 2, {loudStereo, noise(rng, 2048, 6)}},
        {"stereo left silent", 2, {withSilentChannel(loudStereo, 0), loudStereo}},
        {"stereo right silent", 2, {withSilentChannel(loudStereo, 1), withSilentChannel(noise(rng, 64), 1)}},
        {"stereo both silent", 2, {Block(1000, 0), loudStereo, Block(2, 0)}},
        {"stereo 2 to 6 values", 2, {{-32768, 32767}, {1, 0, -1, 0}, {0, 7, 0, -7, 0, 300}}},
        {"three channels", 3, {noise(rng, 3 * 700), Block(30, 0), {4, 5, 6}}},
        {"no channel count", 0, {noise(rng, 1000)}},
    };
    for (const auto& c : cases) expectRoundTrip(c.channels, c.blocks, c.what);
}

// Real recordings coded directly as residuals: large, strongly varying values that
// drive the scale states over their whole range and escape often.
TEST_F(ModelSmooth04Test, RealRecordingsRoundTripInFullSizeBlocks) {
    for (const char* name : {"real_bass_st.wav", "real_tabla_mono.wav"}) {
        const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath(name));
        ASSERT_FALSE(pcm.samples.empty()) << name;
        std::vector<Block> blocks;
        for (size_t at = 0; at < pcm.samples.size(); at += 61440) {
            const size_t end = std::min(pcm.samples.size(), at + 61440);
            blocks.emplace_back(pcm.samples.begin() + static_cast<std::ptrdiff_t>(at),
                                pcm.samples.begin() + static_cast<std::ptrdiff_t>(end));
        }
        expectRoundTrip(pcm.channels, blocks, name);
    }
}

TEST_F(ModelSmooth04Test, SilenceLeavesTheScaleStatesAndCompactionUsesOnlyTheFirst) {
    const struct { const char* what; int32_t channels; Block block; size_t bytes; bool state0Moves; } cases[] = {
        {"mono silent", 1, Block(64, 0), 4, false},
        {"stereo silent", 2, Block(64, 0), 4, false},
        {"stereo channel 0 silent", 2, withSilentChannel(Block(64, 1000), 0), 0, true},
        {"stereo channel 1 silent", 2, withSilentChannel(Block(64, 1000), 1), 0, true},
    };
    for (const auto& c : cases) {
        int32_t states[2] = {};
        const Bytes bytes = file.written([&](BinaryFile& out) {
            RangeCoder coder(out, RangeCoder::Mode::encoding);
            ModelSmooth04 model(c.channels, &coder);
            model.encodeResiduals(c.block);
            model.finishEncoding();
            states[0] = model.scaleState(0);
            states[1] = model.scaleState(1);
        });
        if (c.bytes) {
            EXPECT_EQ(bytes.size(), c.bytes) << c.what;  // the flag bits only
        }
        EXPECT_EQ(states[0] != 16384, c.state0Moves) << c.what;
        EXPECT_EQ(states[1], 16384) << c.what;
        EXPECT_EQ(decodeSegment(c.channels, bytes, {c.block.size()}), std::vector<Block>{c.block}) << c.what;
    }
}

// A fresh state gives scale 256: quotient 191 (folded 48896) is the first escape.
// Blocks of one value make the mode trials empty, so only the block itself counts.
TEST_F(ModelSmooth04Test, QuotientsFrom191EscapeAndAreCountedAsOverflow) {
    const struct { int16_t residual; double escapes; } cases[] = {
        {24320, 0}, {24448, 1}, {-24449, 1}, {-32768, 1}, {32767, 1}, {127, 0},
    };
    for (const auto& c : cases) {
        const double before = overflowCount();
        const Bytes bytes = encodeSegment(1, {{c.residual}});
        EXPECT_EQ(overflowCount() - before, c.escapes) << c.residual;
        EXPECT_EQ(decodeSegment(1, bytes, {1}), std::vector<Block>{{c.residual}}) << c.residual;
    }
}

TEST_F(ModelSmooth04Test, ShortBlocksAreSentInModeOne) {
    RangeCoder counting;
    ModelSmooth04 model(1, &counting);
    model.encodeResiduals({3, -3, 3, -3, 3, -3, 3});
    EXPECT_EQ(model.lastModeChoice().trialBytes, (std::array<int32_t, 4>{4, 4, 4, 4}));
    EXPECT_EQ(model.lastModeChoice().mode, 1);
}

TEST_F(ModelSmooth04Test, EveryTruncationEndsWithUnexpectedEndOfFile) {
    std::mt19937 rng(7);
    const Bytes bytes = encodeSegment(2, {noise(rng, 256, 10), withSilentChannel(noise(rng, 64), 0)});
    for (size_t len = 0; len < bytes.size(); ++len) {
        const Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(len));
        EXPECT_EQ(errorOf([&] { decodeSegment(2, cut, {256, 64}); }), "Error - unexpected end of file.")
            << "cut to " << len;
    }
}

// Damaged streams built symbol by symbol: each must end with its Error.
TEST_F(ModelSmooth04Test, DamagedStreamsEndWithAnError) {
    const uint32_t one0 = 13243, one = 14576;  // small-count table for one remaining value
    const uint32_t two0 = 7125, two1 = 8201, two = 8325;  // ... and for two
    using Steps = std::function<void(RangeCoder&)>;
    const struct { const char* what; int32_t channels; int32_t count; Steps steps; const char* message; } cases[] = {
        {"escape length above 16", 1, 1,
         [&](RangeCoder& c) {
             c.encodeShift(0, 1, 1);                                // not silent
             c.encodeShift(0, 1, 2);                                // mode 1
             for (int b = 0; b < 191; ++b) c.encode(0, one0, one);  // empty bins
             c.encode(one0, one, one);                              // bin 191 holds the value
             c.encode(0, 1, 1);                                     // the escape symbol
             c.encodeShift(17, 18, 5);
         },
         "Input data corrupt"},
        {"folded value above 65535", 1, 2,
         [&](RangeCoder& c) {
             c.encodeShift(0, 1, 1);
             c.encodeShift(3, 4, 2);                                // mode 4 lifts the state fast
             for (int b = 0; b < 190; ++b) c.encode(0, two0, two);
             c.encode(two0, two1, two);                             // bin 190: one value
             c.encode(one0, one, one);                              // bin 191: one value
             c.encode(1, 2, 2);                                     // escape first
             c.encodeShift(16, 17, 5);
             c.encode(65535, 65536, 65536);                         // -32768, state -> 80900
             c.encode(0, 1, 1);                                     // bin 190 at scale 1264
             c.encode(0, 1, 1264);
         },
         "Input data corrupt"},
        {"target beyond every bin", 1, 40,
         [&](RangeCoder& c) {
             c.encodeShift(0, 1, 1);
             c.encodeShift(0, 1, 2);
             for (int b = 0; b < 192; ++b) c.encode(0, 1, 41);      // all bins empty
             c.encode(5, 6, 40);
         },
         "Internal error - probably due to corrupt input file."},
        {"value symbol not below its total", 1, 40,
         [&](RangeCoder& c) {
             c.encodeShift(0, 1, 1);
             c.encodeShift(0, 1, 2);
             c.encode(40, 41, 41);                                  // bin 0 holds all 40
             c.encode(40, 41, 40);                                  // a target past the total
         },
         "Input data corrupt"},
    };
    for (const auto& c : cases) {
        const Bytes bytes = file.written([&](BinaryFile& out) {
            RangeCoder coder(out, RangeCoder::Mode::encoding);
            c.steps(coder);
            coder.finish();
        });
        EXPECT_EQ(errorOf([&] { decodeSegment(c.channels, bytes, {static_cast<size_t>(c.count)}); }), c.message)
            << c.what;
    }
    for (int32_t count : {0, -1, 65537})
        EXPECT_EQ(errorOf([&] { decodeSegment(1, Bytes(8, 0), {static_cast<size_t>(count)}); }),
                  "Input data corrupt")
            << count;
}

// Any single flipped bit must end decoding normally or with an Error; run under the
// sanitizers this also shows that no damaged path reads out of bounds or divides by zero.
TEST_F(ModelSmooth04Test, FlippedBitsNeverCrash) {
    std::mt19937 rng(99);
    const std::vector<Block> blocks = {noise(rng, 300, 12), withSilentChannel(noise(rng, 100), 1), Block(20, 0)};
    for (int32_t channels : {1, 2}) {
        const Bytes bytes = encodeSegment(channels, blocks);
        int failures = 0;
        for (size_t bit = 0; bit < bytes.size() * 8; ++bit) {
            Bytes damaged = bytes;
            damaged[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            try {
                decodeSegment(channels, damaged, {300, 100, 20});
            } catch (const Error&) {
                ++failures;
            }
        }
        EXPECT_GT(failures, 0) << channels;
    }
}
