#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>

#include "entropy/ShrinkingHistogram.h"

namespace {

using Counts = std::array<int32_t, ShrinkingHistogram::kBins>;

// The plain walk over the counts that the kept cumulative counts replace.
int32_t plainBelow(const Counts& c, int32_t bin) {
    int32_t cum = 0;
    for (int32_t b = 0; b < bin; ++b) cum += c[static_cast<size_t>(b)];
    return cum;
}

int32_t plainBinHolding(const Counts& c, int32_t t) {
    int32_t cum = 0;
    for (int32_t b = 0; b < ShrinkingHistogram::kBins; ++b) {
        cum += c[static_cast<size_t>(b)];
        if (t < cum) return b;
    }
    return -1;
}

void expectSameAsPlainWalk(const ShrinkingHistogram& h, const Counts& c, const std::string& where) {
    int32_t sum = 0;
    for (int32_t b = 0; b < ShrinkingHistogram::kBins; ++b) {
        ASSERT_EQ(h.count(b), c[static_cast<size_t>(b)]) << where << " bin " << b;
        ASSERT_EQ(h.below(b), plainBelow(c, b)) << where << " bin " << b;
        sum += c[static_cast<size_t>(b)];
    }
    // Targets up to two past the sum: those beyond it are what a damaged stream presents.
    for (int32_t t = 0; t <= sum + 1; ++t) ASSERT_EQ(h.binHolding(t), plainBinHolding(c, t)) << where << " t " << t;
}

// Counts shaped like coded audio (most in the first bins, a tail, escapes in the last bin),
// a histogram with only middle bins, and one with empty first bins: values are taken in a
// random order until every bin is empty, and after every take the cumulative counts and
// the bin search agree with the plain walk over the counts.
TEST(ShrinkingHistogram, AgreesWithThePlainWalkWhileValuesAreTaken) {
    Counts audio{};
    for (size_t b = 0; b < 30; ++b) audio[b] = static_cast<int32_t>(40 >> (b / 3));
    audio[ShrinkingHistogram::kBins - 1] = 5;
    Counts middle{};
    middle[16] = 3;
    middle[17] = 2;
    middle[100] = 4;
    middle[190] = 1;
    Counts late{};
    late[15] = 2;
    late[ShrinkingHistogram::kBins - 1] = 3;
    std::mt19937 rng(3);
    for (const Counts& start : {audio, middle, late}) {
        Counts c = start;
        ShrinkingHistogram h(start);
        expectSameAsPlainWalk(h, c, "start");
        for (;;) {
            std::vector<int32_t> filled;
            for (int32_t b = 0; b < ShrinkingHistogram::kBins; ++b)
                if (c[static_cast<size_t>(b)] > 0) filled.push_back(b);
            if (filled.empty()) break;
            const int32_t bin = filled[rng() % filled.size()];
            ASSERT_TRUE(h.take(bin));
            --c[static_cast<size_t>(bin)];
            expectSameAsPlainWalk(h, c, "after taking from bin " + std::to_string(bin));
        }
    }
}

TEST(ShrinkingHistogram, TakingFromAnEmptyBinIsReported) {
    Counts c{};
    c[3] = 1;
    for (const int32_t bin : {0, 3, 20, ShrinkingHistogram::kBins - 1}) {
        ShrinkingHistogram h(c);
        if (bin == 3) {
            EXPECT_TRUE(h.take(bin));
            EXPECT_FALSE(h.take(bin));
        } else {
            EXPECT_FALSE(h.take(bin)) << bin;
        }
    }
    EXPECT_EQ(ShrinkingHistogram().binHolding(0), -1);
}

}  // namespace
