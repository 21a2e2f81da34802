#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "pipeline/filters/BigFilter0304.h"
#include "pipeline/filters/BigFilter04.h"
#include "pipeline/filters/QuickFilter04.h"
#include "pipeline/filters/VectorKernels.h"

static const char* pathName(KernelPath path) {
    switch (path) {
        case KernelPath::Plain: return "Plain";
        case KernelPath::Sse2: return "Sse2";
        case KernelPath::Avx2: return "Avx2";
        case KernelPath::Avx512: return "Avx512";
    }
    return "?";
}

// Lets GoogleTest name the path in test listings and failures.
void PrintTo(KernelPath path, std::ostream* os) { *os << pathName(path); }

namespace {

// Runs each test with the vectorised path switched to one kernel path, and
// skips visibly where the processor lacks it.
class KernelPathTest : public testing::TestWithParam<KernelPath> {
protected:
    void SetUp() override {
        if (!selectKernelPath(GetParam())) GTEST_SKIP() << "this processor lacks " << pathName(GetParam());
    }
    void TearDown() override { selectKernelPath(defaultKernelPath()); }
};

// An int16 vector placed at an odd offset inside a larger buffer, as the filters'
// history windows are: unaligned, with guard values around it that must survive.
struct Window {
    static constexpr int guard = 19;
    static constexpr int16_t guardValue = 0x5A5A;
    std::vector<int16_t> buffer;
    explicit Window(int n) : buffer(static_cast<size_t>(n + 2 * guard), guardValue) {}
    int16_t* data() { return buffer.data() + guard; }
    int size() const { return static_cast<int>(buffer.size()) - 2 * guard; }
};

enum class Values { Uniform, Extreme };

void fill(Window& v, std::mt19937& rng, Values kind) {
    static const int16_t extremes[] = {-32768, -32767, -1, 0, 1, 32767};
    std::uniform_int_distribution<int> uniform(-32768, 32767);
    std::uniform_int_distribution<int> pick(0, 5);
    for (int i = 0; i < v.size(); ++i)
        v.data()[i] = kind == Values::Uniform ? static_cast<int16_t>(uniform(rng)) : extremes[pick(rng)];
}

// Every length the chains use, and more, so that the kernels' loops, which take
// whole groups of four steps and then the rest one by one, end in every way: with
// 0 to 3 steps left over after no group or after some, in 16-element steps (112:
// seven) and in the 32-element steps the widest path takes from 256 elements on,
// where a last step may also hold only 16 elements (272, 304, 352 and 368).
const int testLengths[] = {16, 32, 48, 64, 96, 112, 144, 192, 240, 256, 272, 288, 304, 320, 352, 368, 512};

TEST_P(KernelPathTest, MatchesPlainPathOnRandomInputs) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> anyMu(INT_MIN, INT_MAX);
    for (int n : testLengths) {
        for (Values kind : {Values::Uniform, Values::Extreme}) {
            for (int trial = 0; trial < 4; ++trial) {
                Window w(n), x(n), h(n);
                fill(w, rng, kind);
                fill(x, rng, kind);
                fill(h, rng, kind);
                SCOPED_TRACE("n=" + std::to_string(n) + " trial=" + std::to_string(trial) +
                             (kind == Values::Extreme ? " extreme" : " uniform"));

                EXPECT_EQ(dotProduct04(w.data(), x.data(), n, true), dotProduct04(w.data(), x.data(), n, false));
                EXPECT_EQ(dotProduct(w.data(), x.data(), n, true), dotProduct(w.data(), x.data(), n, false));

                const int mus[] = {0, 1, -1, 3, -17, 255, 32767, -32768, 65537, -65539, 1 << 20,
                                   INT_MAX, INT_MIN, anyMu(rng)};
                for (int mu : mus) {
                    Window expected = w, got = w, got04 = w;
                    updateWeights(expected.data(), x.data(), n, mu, false);
                    updateWeights(got.data(), x.data(), n, mu, true);
                    updateWeights04(got04.data(), x.data(), n, mu, true);
                    EXPECT_EQ(got.buffer, expected.buffer) << "mu=" << mu;
                    EXPECT_EQ(got04.buffer, expected.buffer) << "mu=" << mu;
                    // The fused pass: the same weights, and the product with the updated ones.
                    Window fused = w;
                    EXPECT_EQ(updateDotProduct04(fused.data(), x.data(), h.data(), n, mu, true),
                              dotProduct04(h.data(), expected.data(), n, false))
                        << "mu=" << mu;
                    EXPECT_EQ(fused.buffer, expected.buffer) << "mu=" << mu;
                    // The kernels a filter takes at construction, called directly.
                    Window direct = w;
                    EXPECT_EQ(filterKernels(true).updateDotProduct(direct.data(), x.data(), h.data(), n, mu),
                              dotProduct04(h.data(), expected.data(), n, false))
                        << "mu=" << mu;
                    EXPECT_EQ(direct.buffer, expected.buffer) << "mu=" << mu;
                }
            }
        }
    }
}

// A single nonzero element at every position of the vector, so that a lane that
// is dropped, mixed up or shifted shows.
TEST_P(KernelPathTest, UpdateWrapsIn16BitsAtEveryPosition) {
    const struct { int16_t w, x; int mu; int16_t out; } cases[] = {
        {5, 9, 0, 5}, {32767, 1, -1, -32768}, {7, -32768, 2, 7}, {100, -32768, 3, -32668},
        {-32768, 1, 1, 32767}, {0, 2, 65536 + 3, -6},
    };
    const int n = 32;
    for (const auto& c : cases) {
        for (int pos = 0; pos < n; ++pos) {
            Window w(n), x(n);
            std::fill_n(w.data(), n, int16_t{0});
            std::fill_n(x.data(), n, int16_t{0});
            w.data()[pos] = c.w;
            x.data()[pos] = c.x;
            Window expected = w;
            expected.data()[pos] = c.out;
            updateWeights(w.data(), x.data(), n, c.mu, true);
            EXPECT_EQ(w.buffer, expected.buffer) << "w=" << c.w << " x=" << c.x << " mu=" << c.mu << " pos=" << pos;
        }
    }
}

TEST_P(KernelPathTest, DotProductWrapsIn32BitsAndShiftsTheTotalOnce) {
    const int n = 64;
    Window a(n), b(n);
    auto reset = [&] {
        std::fill_n(a.data(), n, int16_t{0});
        std::fill_n(b.data(), n, int16_t{0});
    };
    // Two (-32768)^2 products sum to 2^31, which wraps to -2^31: whether they
    // fall into one multiply-add pair (even first) or two (odd first).
    for (int first = 0; first + 1 < n; ++first) {
        reset();
        a.data()[first] = b.data()[first] = a.data()[first + 1] = b.data()[first + 1] = -32768;
        EXPECT_EQ(dotProduct04(a.data(), b.data(), n, true), INT32_MIN) << "first=" << first;
        EXPECT_EQ(dotProduct(a.data(), b.data(), n, true), -67108864) << "first=" << first;
    }
    // Four such products wrap to 0.
    reset();
    std::fill_n(a.data() + 12, 4, int16_t{-32768});
    std::fill_n(b.data() + 12, 4, int16_t{-32768});
    EXPECT_EQ(dotProduct04(a.data(), b.data(), n, true), 0);
    EXPECT_EQ(dotProduct(a.data(), b.data(), n, true), 0);
    // The shift rounds the finished sum toward minus infinity.
    const struct { int16_t s; int32_t out; } shifts[] = {{-1, -1}, {31, 0}, {-33, -2}, {32, 1}};
    for (const auto& c : shifts) {
        reset();
        a.data()[n - 1] = c.s;
        b.data()[n - 1] = 1;
        EXPECT_EQ(dotProduct(a.data(), b.data(), n, true), c.out) << "S=" << c.s;
    }
    // Products spread over the whole vector, each with the shift's remainder, only
    // round as a total: 64 * (1 * 1) = 64 gives 2, not 64 * (1 >> 5) = 0.
    std::fill_n(a.data(), n, int16_t{1});
    std::fill_n(b.data(), n, int16_t{1});
    EXPECT_EQ(dotProduct(a.data(), b.data(), n, true), 2);
}

TEST_P(KernelPathTest, EmptyVectorsAreLeftAlone) {
    Window w(16), x(16);
    const Window before = w;
    updateWeights(w.data(), x.data(), 0, 5, true);
    updateWeights04(w.data(), x.data(), 0, 5, true);
    EXPECT_EQ(w.buffer, before.buffer);
    EXPECT_EQ(dotProduct04(w.data(), x.data(), 0, true), 0);
    EXPECT_EQ(dotProduct(w.data(), x.data(), 0, true), 0);
    EXPECT_EQ(updateDotProduct04(w.data(), x.data(), x.data(), 0, 5, true), 0);
    EXPECT_EQ(w.buffer, before.buffer);
}

// Long and short filters on a real recording: every path must give the residuals
// the plain path gives, sample for sample.
TEST_P(KernelPathTest, LongAndShortFiltersOnRealAudioGiveThePlainResiduals) {
    if (GetParam() == KernelPath::Plain) GTEST_SKIP() << "the plain path is the reference here";
    const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath("real_tabla_mono.wav"));
    ASSERT_FALSE(pcm.samples.empty());
    // The filters take their kernels when they are built, so each run builds its own.
    auto residuals = [&] {
        BigFilter0304<1, 288, 10, 4, 1> high;
        BigFilter04<1, 512, 9> longFilter;
        QuickFilter04<1, 14, 16, 16> quick;
        std::vector<int16_t> out;
        for (int16_t s : pcm.samples) {
            out.push_back(high.encodeSample(s));
            out.push_back(longFilter.encodeSample(s));
            out.push_back(quick.encodeSample(s));
        }
        return out;
    };
    const std::vector<int16_t> got = residuals();
    ASSERT_TRUE(selectKernelPath(KernelPath::Plain));
    EXPECT_EQ(got, residuals());
}

INSTANTIATE_TEST_SUITE_P(AllPaths, KernelPathTest,
                         testing::Values(KernelPath::Plain, KernelPath::Sse2, KernelPath::Avx2, KernelPath::Avx512),
                         [](const testing::TestParamInfo<KernelPath>& info) { return pathName(info.param); });

TEST(KernelDispatch, StartsOnTheDefaultPathAndSwitchesOnlyToSupportedOnes) {
    EXPECT_TRUE(kernelPathSupported(defaultKernelPath()));
    EXPECT_EQ(activeKernelPath(), defaultKernelPath());
    EXPECT_TRUE(mmxAvailable());
#if defined(__x86_64__)
    // Every x86-64 processor has SSE2, so the build must have its kernels.
    EXPECT_TRUE(kernelPathSupported(KernelPath::Sse2));
#endif
    for (KernelPath path : {KernelPath::Plain, KernelPath::Sse2, KernelPath::Avx2, KernelPath::Avx512}) {
        const KernelPath before = activeKernelPath();
        const bool switched = selectKernelPath(path);
        EXPECT_EQ(switched, kernelPathSupported(path)) << pathName(path);
        EXPECT_EQ(activeKernelPath(), switched ? path : before) << pathName(path);
    }
    selectKernelPath(defaultKernelPath());
}

}  // namespace
