#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "pipeline/filters/LookupTables.h"

namespace {

// One table seen through int entries, whatever its element type.
struct TableRef {
    const char* name;
    void (*build)();
    std::function<size_t()> size;
    std::function<int(size_t)> get;
    std::function<void(size_t, int)> set;
    int centre;
};

template <typename T>
TableRef ref(const char* name, std::vector<T>& t, void (*build)(), int centre) {
    return {name,
            build,
            [&t] { return t.size(); },
            [&t](size_t i) { return static_cast<int>(t.at(i)); },
            [&t](size_t i, int v) { t.at(i) = static_cast<T>(v); },
            centre};
}

std::vector<TableRef> allTables() {
    return {
        ref("quickStepTable02", quickStepTable02, buildQuickStepTable02, 131072),
        ref("quickCompressTable02", quickCompressTable02, buildQuickCompressTable02, 131072),
        ref("quickStepTable03", quickStepTable03, buildQuickStepTable03, 4096),
        ref("quickCompressTable03", quickCompressTable03, buildQuickCompressTables03, 131072),
        ref("quickHalfCompressTable03", quickHalfCompressTable03, buildQuickCompressTables03, 131072),
        ref("quickMagnitudeTable04", quickMagnitudeTable04, buildQuickMagnitudeTable04, 8192),
        ref("quickCompressTable04", quickCompressTable04, buildQuickCompressTable04, 131072),
        ref("bigStepTable04", bigStepTable04, buildBigStepTable04, 0),
        ref("bigUpdateTable04", bigUpdateTable04, buildBigUpdateTable04, 16384),
        ref("bigCompressTable04", bigCompressTable04, buildBigCompressTable04, 65536),
        ref("bigCompressTable02", bigCompressTable02, buildBigCompressTable02, 65536),
        ref("bigStepTable03", bigStepTable03, buildBigStepTable03, 4096),
    };
}

TableRef find(const std::string& name) {
    for (const TableRef& t : allTables())
        if (name == t.name) return t;
    ADD_FAILURE() << "no table " << name;
    return allTables().front();
}

}  // namespace

// Size, sum and sum of magnitudes pin every entry of a table down well enough
// that a single off-by-one band edge or a different rounding shows.
TEST(LookupTables, WholeTableSums) {
    const struct { const char* name; size_t entries; long long sum, absSum; } cases[] = {
        {"quickStepTable02", 262144, 483335, 2086651},
        {"quickCompressTable02", 262144, 2, 522238},
        {"quickStepTable03", 8192, 130171, 130171},
        {"quickCompressTable03", 262144, 4, 1030524},
        {"quickHalfCompressTable03", 262144, -3022, 515262},
        {"quickMagnitudeTable04", 16384, 1135425, 1135425},
        {"quickCompressTable04", 262144, 4, 1030524},
        {"bigStepTable04", 65536, 1242226, 1242226},
        {"bigUpdateTable04", 32768, 2257247, 2257247},
        {"bigCompressTable04", 131072, 96, 11852824},
        {"bigCompressTable02", 131072, 24, 2963272},
        {"bigStepTable03", 8192, 65197, 65197},
    };
    for (const auto& c : cases) {
        const TableRef t = find(c.name);
        t.build();
        ASSERT_EQ(t.size(), c.entries) << c.name;
        long long sum = 0, absSum = 0;
        for (size_t i = 0; i < t.size(); ++i) {
            sum += t.get(i);
            absSum += std::abs(t.get(i));
        }
        EXPECT_EQ(sum, c.sum) << c.name;
        EXPECT_EQ(absSum, c.absSum) << c.name;
    }
}

// Entries at band edges, at the table ends and next to truncation boundaries of
// the floating-point rules. v is the reader's value (index minus centre).
TEST(LookupTables, EdgeValues) {
    const struct { const char* name; int v; int expected; } cases[] = {
        {"quickStepTable02", 0, 1}, {"quickStepTable02", 1, -1}, {"quickStepTable02", -128, 1},
        {"quickStepTable02", -129, 2}, {"quickStepTable02", 16384, -7}, {"quickStepTable02", 16385, -6},
        {"quickStepTable02", -16385, 10}, {"quickStepTable02", -131072, 10}, {"quickStepTable02", 131071, -6},
        {"quickCompressTable02", 0, 0}, {"quickCompressTable02", 1024, -1}, {"quickCompressTable02", 1025, -2},
        {"quickCompressTable02", -1025, 2},
        {"quickStepTable03", 1, 1}, {"quickStepTable03", 2, 2}, {"quickStepTable03", -63, 10},
        {"quickStepTable03", 64, 16},
        {"quickCompressTable03", 0, 0}, {"quickCompressTable03", 3000, -2}, {"quickCompressTable03", -3001, 3},
        {"quickCompressTable03", 5001, -4},
        {"quickHalfCompressTable03", 1, -1}, {"quickHalfCompressTable03", -1, 0},
        {"quickHalfCompressTable03", 3001, -2}, {"quickHalfCompressTable03", -3001, 1},
        {"quickMagnitudeTable04", 0, 1}, {"quickMagnitudeTable04", -8192, 86}, {"quickMagnitudeTable04", 1, 1},
        {"quickMagnitudeTable04", -2, 1}, {"quickMagnitudeTable04", 3, 2},
        {"quickMagnitudeTable04", 8073, 85}, {"quickMagnitudeTable04", -8074, 86},
        {"quickCompressTable04", 1025, -2}, {"quickCompressTable04", -5001, 4},
        {"bigUpdateTable04", 0, 1}, {"bigUpdateTable04", 1, 1}, {"bigUpdateTable04", -2, 2},
        {"bigUpdateTable04", 5, 3}, {"bigUpdateTable04", 11688, 79}, {"bigUpdateTable04", -11689, 80},
        {"bigUpdateTable04", 16151, 86}, {"bigUpdateTable04", -16384, 86},
        {"bigCompressTable04", 0, 0}, {"bigCompressTable04", -3, 4}, {"bigCompressTable04", 4, -8},
        {"bigCompressTable04", 15, -8}, {"bigCompressTable04", 16, -16}, {"bigCompressTable04", 400, -16},
        {"bigCompressTable04", 401, -32}, {"bigCompressTable04", 16385, -96},
        {"bigCompressTable02", 0, 0}, {"bigCompressTable02", 400, -4}, {"bigCompressTable02", 401, -8},
        {"bigCompressTable02", -16385, 24},
        {"bigStepTable03", 0, 1}, {"bigStepTable03", -1, 2}, {"bigStepTable03", 64, 8},
        {"bigStepTable04", 0, 18724}, {"bigStepTable04", 25, 9638}, {"bigStepTable04", 43, 6539},
        {"bigStepTable04", 100, 2239}, {"bigStepTable04", 1000, 87}, {"bigStepTable04", 10000, 4},
        {"bigStepTable04", 31102, 1}, {"bigStepTable04", 31103, 0}, {"bigStepTable04", 65535, 0},
    };
    for (const auto& c : cases) {
        const TableRef t = find(c.name);
        t.build();
        EXPECT_EQ(t.get(static_cast<size_t>(c.v + t.centre)), c.expected) << c.name << " v=" << c.v;
    }
}

// A built table is never rebuilt: a marked entry survives a second build.
TEST(LookupTables, SecondBuildKeepsTable) {
    for (const TableRef& t : allTables()) {
        t.build();
        const int original = t.get(0);
        t.set(0, original + 1);
        t.build();
        EXPECT_EQ(t.get(0), original + 1) << t.name;
        t.set(0, original);
    }
}
