// Damaged generation-02 and -03 streams end in an Error: never a crash, a hang or a read
// outside a table.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "BitstreamTestSupport.h"
#include "SmoothBitProbe.h"
#include "entropy/ModelSmooth02.h"
#include "entropy/ModelSmooth03.h"
#include "foundation/Arith.h"
#include "foundation/Error.h"

using bitstreamtest::StreamReader;
using bitstreamtest::writeStream;

namespace {

const char* const internalError = "Internal error - probably due to corrupt input file.";

using Probe03 = SmoothBitProbe<ModelSmooth03>;

std::string decodeError(const std::vector<uint8_t>& bytes, const std::function<void(Probe03&)>& body) {
    initPow2Table();
    StreamReader reader(bytes);
    Probe03 model(1, &reader.bits());
    model.startDecoding();
    try {
        body(model);
    } catch (const Error& e) {
        return e.message;
    }
    return "no error";
}

// Flags 0 and mode 1 of a mono generation-03 block of one value, then the bin counts
// 0 for bins 0 ... bin - 1 and 1 for bin (the remaining count of 1 uses table 0).
void writeSingleValueHeader(Probe03& model, int32_t bin, int32_t binsToSend) {
    model.encodeBits(0, 1);
    model.encodeBits(0, 2);
    for (int32_t b = 0; b < binsToSend; ++b) model.encodeSmallCount(b == bin ? 1 : 0, model.table(0));
}

std::vector<uint8_t> craft(const std::function<void(Probe03&)>& body) {
    initPow2Table();
    return writeStream([&](BitstreamFast& bits) {
        Probe03 model(1, &bits);
        body(model);
        bits.finish();
    });
}

int16_t decodeOne(Probe03& model) {
    std::vector<int16_t> out;
    model.decodeResiduals(out, 1);
    return out.at(0);
}

}  // namespace

TEST(SmoothBitDamage, CraftedStreamsEndInTheModelError) {
    const struct {
        const char* name;
        std::function<void(Probe03&)> write;
    } cases[] = {
        {"escape length 17", [](Probe03& m) {
             writeSingleValueHeader(m, 191, 192);
             std::vector<int32_t> hist(192, 0);
             hist[191] = 1;
             m.encodeHistogramSymbol(191, hist, 1);
             m.encodeBits(17, 5);
         }},
        {"histogram short after bin 191", [](Probe03& m) { writeSingleValueHeader(m, -1, 192); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = craft(c.write);
        EXPECT_EQ(decodeError(bytes, [](Probe03& m) { decodeOne(m); }), internalError);
    }
}

TEST(SmoothBitDamage, FoldedValueAbove16BitsIsRejected) {
    // A block of 65535s grows the state until the scale is far above 256; then a value in
    // bin 190 would fold to more than 16 bits.
    const std::vector<int16_t> loud(400, -32768);
    std::vector<int32_t> hist(192, 0);
    hist[190] = 1;
    const std::vector<uint8_t> bytes = craft([&](Probe03& m) {
        m.encodeResiduals(loud);
        writeSingleValueHeader(m, 190, 191);
        m.encodeHistogramSymbol(190, hist, 1);
        m.encodeUniform(0, static_cast<uint32_t>(m.scaleState(0) >> 6));
    });
    EXPECT_EQ(decodeError(bytes, [&](Probe03& m) {
                  std::vector<int16_t> out;
                  m.decodeResiduals(out, 400);
                  EXPECT_EQ(out, loud);
                  EXPECT_GT(m.scaleState(0) >> 6, 344);  // 190 * scale > 65535
                  decodeOne(m);
              }),
              internalError);
}

TEST(SmoothBitDamage, CountsAtOrBeyondTheirTotalAreRejected) {
    // All ones keep the code value at the top of the interval; a total that does not
    // divide the interval then yields the count total itself.
    const std::vector<uint8_t> ones(16, 0xFF);
    std::vector<int32_t> hist(192, 0);
    hist[0] = hist[5] = hist[191] = 1;
    const struct {
        const char* name;
        std::function<void(Probe03&)> decode;
    } cases[] = {
        {"uniform", [](Probe03& m) { m.decodeUniform(3); }},
        {"small count", [](Probe03& m) { m.decodeSmallCount(m.table(0)); }},
        {"histogram symbol", [&](Probe03& m) { m.decodeHistogramSymbol(hist, 3); }},
    };
    for (const auto& c : cases) EXPECT_EQ(decodeError(ones, c.decode), internalError) << c.name;
}

TEST(SmoothBitDamage, TruncatedAndFlippedSegmentsNeverCrash) {
    std::mt19937 rng(5);
    std::vector<std::vector<int16_t>> blocks;
    for (int b = 0; b < 6; ++b) {
        std::vector<int16_t> block(8192);
        for (auto& x : block) x = static_cast<int16_t>(static_cast<int32_t>(rng() % 4001) - 2000);
        blocks.push_back(block);
    }
    for (int generation : {2, 3}) {
        for (int32_t channels : {1, 2}) {
            SCOPED_TRACE(testing::Message() << "generation " << generation << ", channels " << channels);
            initPow2Table();
            const std::vector<uint8_t> bytes = writeStream([&](BitstreamFast& bits) {
                std::unique_ptr<SmoothBitModel> model;
                if (generation == 3) model = std::make_unique<ModelSmooth03>(channels, &bits);
                else model = std::make_unique<ModelSmooth02>(channels, &bits);
                for (const auto& b : blocks) model->encodeResiduals(b);
                model->finishEncoding();
            });
            // Decodes far more blocks than were coded, as a driver trusting a damaged
            // header would; returns true when decoding ended in an Error.
            auto decodeEndsInError = [&](const std::vector<uint8_t>& stream, bool& sameAsCoded) {
                StreamReader reader(stream);
                std::unique_ptr<SmoothBitModel> model;
                if (generation == 3) model = std::make_unique<ModelSmooth03>(channels, &reader.bits());
                else model = std::make_unique<ModelSmooth02>(channels, &reader.bits());
                sameAsCoded = true;
                try {
                    model->startDecoding();
                    for (size_t b = 0; b < 400; ++b) {
                        std::vector<int16_t> out;
                        model->decodeResiduals(out, 8192);
                        if (b < blocks.size() && out != blocks[b]) sameAsCoded = false;
                    }
                } catch (const Error&) {
                    return true;
                }
                return false;
            };
            bool same = false;
            for (size_t keep : {size_t(0), size_t(3), bytes.size() / 3, bytes.size() - 40}) {
                const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(keep));
                EXPECT_TRUE(decodeEndsInError(cut, same)) << "kept " << keep << " bytes";
            }
            int flipsDetected = 0;
            for (int i = 0; i < 12; ++i) {
                std::vector<uint8_t> flipped = bytes;
                const size_t bit = rng() % (flipped.size() * 8);
                flipped[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
                // The segment ends, so reading on always ends in an Error; a flip must at
                // least change the decoded blocks unless an Error comes first.
                EXPECT_TRUE(decodeEndsInError(flipped, same));
                if (!same) ++flipsDetected;
            }
            EXPECT_GT(flipsDetected, 0);
        }
    }
}
