#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "foundation/Arith.h"
#include "pipeline/filters/PhaseHistory.h"

TEST(PhaseBuffer, ReadsAsUnboundedAcrossMoves) {
    PhaseBuffer b(320, 320);
    for (int j = 0; j <= 320; ++j) ASSERT_EQ(b[-j], 0);
    for (int n = 1; n <= 1000; ++n) {
        b.push(static_cast<int16_t>(n));
        for (int j = 0; j <= 320; ++j) ASSERT_EQ(b[-j], n - j > 0 ? n - j : 0) << "push " << n << " offset " << j;
        ASSERT_EQ(b.window()[319], b[0]);
        ASSERT_EQ(b.window()[0], b[-319]);
    }
}

TEST(PhaseBuffer, RewrittenEntriesSurviveMoves) {
    PhaseBuffer b(128, 16);  // moves every 128 pushes
    for (int n = 1; n <= 600; ++n) {
        b.push(static_cast<int16_t>(n));
        b[-1] = static_cast<int16_t>(-b[-1]);
        for (int j = 1; j <= 16 && j < n; ++j) ASSERT_EQ(b[-j], -(n - j)) << "push " << n << " offset " << j;
    }
}

namespace {

// The current buffer's four newest entries after pushing `inputs` into a fresh history.
template <typename History>
std::vector<int> newestFour(const std::vector<int>& inputs) {
    History h;
    for (int v : inputs) h.push(static_cast<int16_t>(v));
    const PhaseBuffer& b = h.currentBuffer();
    return {b[0], b[-1], b[-2], b[-3]};
}

std::vector<int> repeat(int v, int n) { return std::vector<int>(static_cast<size_t>(n), v); }

}  // namespace

// The two histories agree except where a sum leaves 16 bits: wrap against saturation.
TEST(PhaseHistory, FourPhaseExamples) {
    std::vector<int> ones_then_zeros = repeat(-1, 4);
    for (int i = 0; i < 8; ++i) ones_then_zeros.push_back(0);
    const struct {
        const char* name;
        std::vector<int> inputs;
        std::vector<int> expected03;
        std::vector<int> expected0304;
    } cases[] = {
        {"1..12", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {42, 13, 2, 0}, {42, 13, 2, 0}},
        {"4 x 20000", repeat(20000, 4), {14464, 0, 0, 0}, {32767, 0, 0, 0}},
        {"-1 x 4, 0 x 8", ones_then_zeros, {0, 0, -1, 0}, {0, 0, -1, 0}},
        {"single 1000", {1000}, {1000, 0, 0, 0}, {1000, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        using Wrapping = PhaseHistory03<320, 4>;
        using Saturating = PhaseHistory0304<288, 4>;
        EXPECT_EQ(newestFour<Wrapping>(c.inputs), c.expected03) << c.name;
        EXPECT_EQ(newestFour<Saturating>(c.inputs), c.expected0304) << c.name;
    }
}

namespace {

// Checks after every push that the current buffer holds S_0, S_1 >> 1 and S_j >> 2,
// S_j being the j-th newest sum of Phases inputs reduced to 16 bits by `reduce`,
// over enough pushes that every buffer moves its window several times.
template <typename History, int Window, int Phases, typename Reduce>
void checkAgainstSums(Reduce reduce) {
    History h;
    std::vector<int32_t> x;
    uint32_t seed = 12345;
    for (int t = 1; t <= 4 * Phases * Window; ++t) {
        seed = seed * 1103515245u + 12345u;
        x.push_back(static_cast<int16_t>(seed >> 16));  // full int16 range, so sums overflow
        h.push(static_cast<int16_t>(x.back()));
        const PhaseBuffer& b = h.currentBuffer();
        for (int j = 0; j < Window; ++j) {
            int32_t sum = 0;
            for (int k = 0; k < Phases; ++k) {
                const int idx = t - j * Phases - k;  // 1-based
                if (idx >= 1) sum += x[static_cast<size_t>(idx - 1)];
            }
            const int16_t s = reduce(sum);
            const int16_t expected = static_cast<int16_t>(j == 0 ? s : (j == 1 ? s >> 1 : s >> 2));
            ASSERT_EQ(b.window()[Window - 1 - j], expected) << "push " << t << " entry " << j;
        }
    }
}

}  // namespace

TEST(PhaseHistory, MatchesDecimatedSumsOverLongRuns) {
    auto wrap = [](int32_t s) { return static_cast<int16_t>(s); };
    auto saturate = [](int32_t s) { return saturate16(s); };
    checkAgainstSums<PhaseHistory03<320, 4>, 320, 4>(wrap);
    checkAgainstSums<PhaseHistory0304<288, 4>, 288, 4>(saturate);
    checkAgainstSums<PhaseHistory0304<192, 10>, 192, 10>(saturate);
}
