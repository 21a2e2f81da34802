#include "pipeline/filters/LookupTables.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <initializer_list>

std::vector<int8_t> quickStepTable02;
std::vector<int8_t> quickCompressTable02;
std::vector<int8_t> quickStepTable03;
std::vector<int8_t> quickCompressTable03;
std::vector<int8_t> quickHalfCompressTable03;
std::vector<int8_t> quickMagnitudeTable04;
std::vector<int8_t> quickCompressTable04;
std::vector<uint16_t> bigStepTable04;
std::vector<int8_t> bigUpdateTable04;
std::vector<int8_t> bigCompressTable04;
std::vector<int8_t> bigCompressTable02;
std::vector<int8_t> bigStepTable03;

namespace {

// A run of magnitudes d <= maxD that share one value.
struct Band {
    int maxD;
    int value;
};

constexpr int kRest = INT_MAX;  // maxD of the last band: every larger magnitude

int bandValue(int d, std::initializer_list<Band> bands) {
    for (const Band& b : bands)
        if (d <= b.maxD) return b.value;
    return 0;  // not reached: every band list ends with kRest
}

// The compress tables point against the value: m below the centre, -m above, 0 at it.
int againstSign(int v, int m) { return v < 0 ? m : (v > 0 ? -m : 0); }

// Fills an empty table with rule(v), v = index - centre; a built table is left alone.
template <typename T, typename Rule>
void fillOnce(std::vector<T>& table, int entries, int centre, Rule rule) {
    if (!table.empty()) return;
    table.assign(static_cast<size_t>(entries), 0);
    for (int i = 0; i < entries; ++i) table[static_cast<size_t>(i)] = static_cast<T>(rule(i - centre));
}

// Fills an empty table with againstSign(v, factor * bandValue(|v|, bands)), a band's
// run of entries at a time: filled entry by entry, most of the time went on finding the band.
void fillAgainstSign(std::vector<int8_t>& table, int entries, int centre, int factor,
                     std::initializer_list<Band> bands) {
    if (!table.empty()) return;
    table.assign(static_cast<size_t>(entries), 0);
    const auto at = [&](int i) { return table.begin() + std::clamp(i, 0, entries); };
    int least = 1;  // the band's smallest magnitude; v = 0 stays 0
    for (const Band& b : bands) {
        const int m = factor * b.value;
        const int most = std::min(b.maxD, entries);  // no entry lies further from the centre
        std::fill(at(centre - most), at(centre - least + 1), static_cast<int8_t>(m));
        std::fill(at(centre + least), at(centre + most + 1), static_cast<int8_t>(-m));
        if (most == entries) break;
        least = most + 1;
    }
}

constexpr std::initializer_list<Band> kQuickCompressBands0304 = {{1024, 1}, {3000, 2}, {5000, 3}, {kRest, 4}};

int quickCompress0304(int v) { return againstSign(v, bandValue(std::abs(v), kQuickCompressBands0304)); }

}  // namespace

void buildQuickStepTable02() {
    fillOnce(quickStepTable02, 262144, 131072, [](int v) {
        const int d = std::abs(v);
        if (v <= 0) return bandValue(d, {{128, 1}, {512, 2}, {1024, 4}, {4096, 8}, {16384, 9}, {kRest, 10}});
        return bandValue(d, {{128, -1}, {512, -2}, {1024, -4}, {4096, -8}, {16384, -7}, {kRest, -6}});
    });
}

void buildQuickCompressTable02() {
    fillOnce(quickCompressTable02, 262144, 131072,
             [](int v) { return againstSign(v, std::abs(v) <= 1024 ? 1 : 2); });
}

void buildQuickStepTable03() {
    fillOnce(quickStepTable03, 8192, 4096, [](int v) {
        return bandValue(std::abs(v), {{1, 1}, {3, 2}, {7, 4}, {15, 8}, {63, 10}, {kRest, 16}});
    });
}

void buildQuickCompressTables03() {
    if (!quickCompressTable03.empty()) return;
    fillAgainstSign(quickCompressTable03, 262144, 131072, 1, kQuickCompressBands0304);
    // Filled together with quickCompressTable03, whose emptiness alone decides the build.
    // The arithmetic shift rounds toward minus infinity, so the two halves differ.
    quickHalfCompressTable03.clear();
    fillOnce(quickHalfCompressTable03, 262144, 131072, [](int v) { return quickCompress0304(v) >> 1; });
}

void buildQuickMagnitudeTable04() {
    fillOnce(quickMagnitudeTable04, 16384, 8192, [](int v) {
        const int d = std::abs(v);
        if (d == 0) return 1;
        const double l = std::log(1.25 * d);
        const double r = l * l + 1;
        return static_cast<int>(std::trunc(r));
    });
}

void buildQuickCompressTable04() { fillAgainstSign(quickCompressTable04, 262144, 131072, 1, kQuickCompressBands0304); }

void buildBigUpdateTable04() {
    // b changes only every 8 magnitudes, and the entries come in order of v, so each
    // run of equal d / 8 takes it from the previous entry.
    fillOnce(bigUpdateTable04, 32768, 16384, [group = -1, b = 0.0](int v) mutable {
        const int d = std::abs(v);
        if (d == 0) return 1;
        const double e = std::exp(1.0);
        const double a = std::log(5.0 * d);
        if (d / 8 != group) {
            group = d / 8;
            const double s = e + static_cast<double>(d / 8);
            b = std::log(s);
        }
        return static_cast<int>(std::trunc(a * b));
    });
}

void buildBigCompressTable04() {
    fillAgainstSign(bigCompressTable04, 131072, 65536, 1,
                    {{0, 0}, {3, 4}, {15, 8}, {400, 16}, {700, 32}, {1224, 48}, {4096, 64}, {16384, 80}, {kRest, 96}});
}

void buildBigStepTable04() {
    // l2 changes only every 25 entries and is taken from the previous entry in between.
    fillOnce(bigStepTable04, 65536, 0, [group = -1, l2 = 0.0](int i) mutable {
        const double l1 = std::log(i + 3.0);
        if (i / 25 != group) {
            group = i / 25;
            l2 = std::log(static_cast<double>(i / 25 + 3));
        }
        double x = l1 * i;
        x = x * l2;
        x = x * (2.0 / 7.0);
        x = x + 35;
        x = x * 0.05;
        return static_cast<int>(std::trunc(32768 / x));
    });
}

void buildBigCompressTable02() {
    fillAgainstSign(bigCompressTable02, 131072, 65536, 4,
                    {{400, 1}, {700, 2}, {1224, 3}, {4096, 4}, {16384, 5}, {kRest, 6}});
}

void buildBigStepTable03() {
    fillOnce(bigStepTable03, 8192, 4096, [](int v) {
        return bandValue(std::abs(v), {{0, 1}, {3, 2}, {7, 3}, {15, 4}, {63, 6}, {kRest, 8}});
    });
}
