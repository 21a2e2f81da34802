// Coded bytes of whole segments, pinned to values worked out independently from the
// block format: encoder and decoder changed together in the same wrong way would still
// round-trip, so these paths need fixed bytes of their own. Between them the cases take
// both scale states, the adaptation modes 1 to 3 (mode 4 is in the worked mono block of
// ModelSmooth04Test), histograms sent with the uniform counts
// (40 values) and the small-count tables, an escape, a compacted block, a silent block
// carried within a segment, and a channel count other than 1 and 2.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "CoderTestSupport.h"
#include "entropy/ModelSmooth04.h"
#include "entropy/RangeCoder.h"
#include "foundation/Arith.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Block = std::vector<int16_t>;
using States = std::pair<int32_t, int32_t>;

Bytes fromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Sends mode 2 from fresh states.
const Block kQuiet = {-1, 2, 0, 0, -2, -2, 1, 1, -2, 0, -2, 1, -1, -2, 0, 1, 1, -2, -2, 2,
                      2, -2, 1, 2, 0, 2, 0, 2, -1, -2, 0, -2, -2, -2, 2, 2, -2, -1, 1, 0};
// Sends mode 3 from fresh states, mode 1 after kQuiet.
const Block kLoud = {-547, 499, -302, 492, 321, -491, -422, -110, 980, -454, -73, -735, -22, -315,
                     88, 615, 791, -640, 270, 82, 67, -96, 265, -895, -859, -146, -129, 126,
                     735, 250, 592, -404, -879, -516, 749, -219, -214, -568, -847, -250};
// Channel 0 silent: six channel-1 values coded on scaleState0.
const Block kHalfSilent = {0, 5, 0, -7, 0, 12, 0, -1, 0, 300, 0, 2};
// Value 21 (channel 1) folds to 60000: an escape of length 16 inside the mode sample too.
const Block kEscape = {-100, -359, -26, -177, 48, 5, -78, 187, -4, 369, 70, -349, -56, -167,
                       18, 15, 92, 197, -34, 379, 40, 30000, -86, -157, -12, 25, 62, 207,
                       -64, 389, 10, -329, 84, -147, -42, 35, 32, 217, -94, 399};

TEST(ModelSmooth04Format, SegmentsCodeToTheirKnownBytesAndScaleStates) {
    initPow2Table();
    const struct {
        const char* what;
        int32_t channels;
        std::vector<Block> blocks;
        std::vector<States> states;  // after each block
        const char* hex;
    } cases[] = {
        {"stereo segment", 2, {kQuiet, kLoud, Block(6, 0), kHalfSilent, kEscape},
         {{8738, 8744}, {10425, 9780}, {10425, 9780}, {9652, 9780}, {5944, 30878}},
         "1f9c7e65a111560f962f015ec899c5ef8abebe77217af91466cb2264ae2ab83222e041fc8afc1f32e679878b6d4f37e9"
         "7288b525980978e5157cb23b6760712e8e492a59539eba064e3ac2b7f131a9e899d203e47ab173dd432e9d89cfb068"
         "5b5c55cb5afeba5fba068a56dfef434c09dff8c43fbfea7efa71badd5d3c45a12d24b52a46d25643ed03ec32cbcca5"
         "10fb9c28fdbac591117c03de4e227861a4a031f600"},
        {"stereo mode 3", 2, {kLoud}, {{16156, 15835}},
         "22cc31d114a2f6ccd89633dc0ede95672f16664be9953b1d672782e67e07edef8fc5d738c016ab0a2d05643c89e2e0cb"
         "d3f4ca1d9c26cdcfd5406aeeed00"},
        {"three channels", 3, {{1, -2, 3, -4, 5, -6, 7, -8, 9}}, {{14250, 16384}}, "0ff71355fdf652f3d4813ef4e000"},
    };
    codertest::ScratchFile file;
    for (const auto& c : cases) {
        std::vector<States> states;
        const Bytes bytes = file.written([&](BinaryFile& out) {
            RangeCoder coder(out, RangeCoder::Mode::encoding);
            ModelSmooth04 model(c.channels, &coder);
            for (const Block& b : c.blocks) {
                model.encodeResiduals(b);
                states.emplace_back(model.scaleState(0), model.scaleState(1));
            }
            model.finishEncoding();
        });
        EXPECT_EQ(bytes, fromHex(c.hex)) << c.what;
        EXPECT_EQ(states, c.states) << c.what;

        BinaryFile& in = file.input(bytes);
        RangeCoder decoder(in, RangeCoder::Mode::decoding);
        ModelSmooth04 model(c.channels, &decoder);
        for (const Block& b : c.blocks) {
            Block out;
            model.decodeResiduals(out, static_cast<int32_t>(b.size()));
            EXPECT_EQ(out, b) << c.what;
        }
        EXPECT_EQ(in.byteCount, static_cast<int32_t>(bytes.size())) << c.what;
    }
}

}  // namespace
