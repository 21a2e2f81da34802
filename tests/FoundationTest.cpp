#include <gtest/gtest.h>

#include <string>

#include "foundation/Arith.h"
#include "foundation/Names.h"
#include "foundation/Options.h"
#include "foundation/Registry.h"
#include "pipeline/filters/History.h"
#include "pipeline/filters/VectorKernels.h"

TEST(Foundation, BaseNameSplitsOnlyAtBackslash) {
    const struct { const char* in; const char* out; } cases[] = {
        {"music\\a.wav", "a.wav"}, {"a.wav", "a.wav"}, {"music/a.wav", "music/a.wav"},
        {"", ""}, {"dir\\", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(baseName(c.in), c.out) << c.in;
}

TEST(Foundation, DisplayNameCutsTo34) {
    EXPECT_EQ(displayName(std::string(40, 'x')), std::string(34, 'x'));
    EXPECT_EQ(displayName(std::string(34, 'y')), std::string(34, 'y'));
    EXPECT_EQ(displayName("d\\" + std::string(36, 'z')), std::string(34, 'z'));
}

TEST(Foundation, Saturate16) {
    const struct { int32_t in; int16_t out; } cases[] = {
        {65535, 32767}, {-65536, -32768}, {-32768, -32768}, {32767, 32767}, {0, 0},
        {INT32_MIN, -32768}, {INT32_MAX, 32767},
    };
    for (const auto& c : cases) EXPECT_EQ(saturate16(c.in), c.out) << c.in;
}

TEST(Foundation, Pow2TableFilledOnce) {
    initPow2Table();
    initPow2Table();
    ASSERT_EQ(pow2Table.size(), 32u);
    EXPECT_EQ(pow2(0), 1);
    EXPECT_EQ(pow2(16), 65536);
    EXPECT_EQ(pow2(31), INT32_MIN);
}

TEST(Foundation, WrapAbsKeepsMostNegative) {
    EXPECT_EQ(wrapAbs(-5), 5);
    EXPECT_EQ(wrapAbs(7), 7);
    EXPECT_EQ(wrapAbs(INT32_MIN), INT32_MIN);
}

TEST(Foundation, MultiplyWideKeepsEveryBitAndCarry) {
    const struct { uint64_t a, b; Uint128 product; } cases[] = {
        {0, 0xFFFFFFFFFFFFFFFFu, {0, 0}},
        {1, 0xFFFFFFFFFFFFFFFFu, {0, 0xFFFFFFFFFFFFFFFFu}},
        {0xFFFFFFFFFFFFFFFFu, 0xFFFFFFFFFFFFFFFFu, {0xFFFFFFFFFFFFFFFEu, 1}},  // the middle carries twice
        {0xFFFFFFFFu, 0xFFFFFFFFu, {0, 0xFFFFFFFE00000001u}},
        {0xFFFFFFFFu, 0xFFFFFFFF00000000u, {0xFFFFFFFEu, 0x100000000u}},
        {0xFFFFFFFF00000000u, 0xFFFFFFFF00000000u, {0xFFFFFFFE00000001u, 0}},
        {uint64_t{1} << 63, 2, {1, 0}},
        {0x123456789ABCDEF0u, 0x0FEDCBA987654321u, {0x0121FA00AD77D742u, 0x2236D88FE5618CF0u}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(multiplyWide(c.a, c.b), c.product) << std::hex << c.a << " * " << c.b;
        EXPECT_EQ(multiplyWide(c.b, c.a), c.product) << std::hex << c.b << " * " << c.a;
    }
}

// Against the hardware division for every divisor of the range, at the ends of the
// dividend range and beside every multiple of the divisor there, in the orders of
// divisors a filter meets: rising, falling, repeated.
TEST(Foundation, SlowDivisorRoundsTowardZeroLikeDivision) {
    SlowDivisor slow;
    auto check = [&](int32_t x, int32_t d) { ASSERT_EQ(slow.divide(x, d), x / d) << x << " / " << d; };
    const int32_t ends[] = {0, 1, -1, 32767, -32767, 32768, -32768, 12345, -12345};
    for (int32_t d = 1; d < (1 << 17); ++d) {
        for (const int32_t x : ends) check(x, d);
        for (int32_t k = 1; k * d <= 32768 && k <= 64; ++k)
            for (const int32_t x : {k * d - 1, k * d, k * d + 1, -(k * d - 1), -(k * d), -(k * d + 1)})
                if (x >= -32768 && x <= 32768) check(x, d);
    }
    for (int32_t d = (1 << 17) - 1; d >= 1; d -= 97) check(-32768, d);
    for (const int32_t d : {24, 24, 25, 24, 8216}) check(-32767, d);
}

TEST(Foundation, StopTimerWithoutStartAddsWholeClock) {
    timerStarts.erase("never-started");
    timerTotals.erase("never-started");
    stopTimer("never-started");
    EXPECT_GE(timerTotals["never-started"], 0);
    startTimer("pair");
    stopTimer("pair");
    EXPECT_GE(timerTotals["pair"], 0);
}

TEST(Foundation, DebugAssertPrintsOnlyWhenFailingInDebugMode) {
    testing::internal::CaptureStdout();
    debugMode = false;
    debugAssert(false, "quiet");
    debugMode = true;
    debugAssert(true, "never");
    debugAssert(false, "x");
    debugMode = false;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nAssert Failed! - x\n");
}

TEST(VectorKernels, UpdateWrapsWithoutSaturation) {
    const struct { int16_t w, x; int mu; int16_t out; } cases[] = {
        {5, 9, 0, 5}, {32767, 1, -1, -32768}, {7, -32768, 2, 7}, {100, -32768, 3, -32668},
    };
    for (const auto& c : cases) {
        int16_t w[16] = {}, x[16] = {};
        w[3] = c.w;
        x[3] = c.x;
        updateWeights(w, x, 16, c.mu, true);
        EXPECT_EQ(w[3], c.out);
        w[3] = c.w;
        updateWeights04(w, x, 16, c.mu, true);
        EXPECT_EQ(w[3], c.out);
    }
}

TEST(VectorKernels, DotProductsWrapAndShiftOnce) {
    int16_t a[16] = {}, b[16] = {};
    EXPECT_EQ(dotProduct04(a, b, 0, true), 0);
    a[0] = b[0] = a[1] = b[1] = -32768;
    EXPECT_EQ(dotProduct04(a, b, 16, true), INT32_MIN);
    EXPECT_EQ(dotProduct(a, b, 16, true), -67108864);
    for (int i = 0; i < 16; ++i) a[i] = b[i] = -32768;
    EXPECT_EQ(dotProduct04(a, b, 16, true), 0);
    EXPECT_EQ(dotProduct(a, b, 16, true), 0);
    const struct { int16_t s; int32_t out; } shifts[] = {{-1, -1}, {31, 0}, {-33, -2}};
    for (const auto& c : shifts) {
        int16_t p[16] = {c.s}, q[16] = {1};
        EXPECT_EQ(dotProduct(p, q, 16, true), c.out);
    }
}

TEST(History, RollingBufferReadsAsUnboundedAcrossMoves) {
    RollingBuffer<int16_t, 16> h;
    for (int j = 0; j <= 16; ++j) EXPECT_EQ(h[-j], 0);
    for (int n = 1; n <= 2000; ++n) {
        h.push(static_cast<int16_t>(n));
        if (n > 5) h[-5] = static_cast<int16_t>(-(n - 5));  // owner rewrites in place
        for (int j = 0; j <= 16; ++j) {
            int expected = n - j > 0 ? n - j : 0;
            if (j >= 5 && n - j > 0) expected = -expected;
            ASSERT_EQ(h[-j], expected) << "push " << n << " offset " << j;
        }
        ASSERT_EQ(h.window()[15], h[0]);
        ASSERT_EQ(h.window()[0], h[-15]);
    }
}

TEST(History, MovingSumRing) {
    MovingSumRing<4> ring;
    const int32_t expected[] = {1, 3, 6, 10, 14, 18};
    for (int v = 1; v <= 6; ++v) {
        ring.push(v);
        EXPECT_EQ(ring.sum, expected[v - 1]);
    }
    MovingSumRing<256> filled;
    for (int i = 0; i < 64; ++i) filled.push(1024);
    EXPECT_EQ(filled.sum, 65536);
    for (int i = 0; i < 192; ++i) filled.push(0);
    EXPECT_EQ(filled.sum, 65536);
    filled.push(0);  // the 193rd push drops the first 1024
    EXPECT_EQ(filled.sum, 65536 - 1024);
}
