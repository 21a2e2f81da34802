#include "entropy/ModelSmooth04.h"

#include <algorithm>
#include <bit>

#include "entropy/RangeCoder.h"
#include "entropy/ShrinkingHistogram.h"
#include "entropy/SmallCountTables.h"
#include "entropy/TotalDivision.h"
#include "foundation/Arith.h"
#include "foundation/Error.h"
#include "foundation/Registry.h"

namespace {

constexpr int32_t kSmallCountTables = 32;
constexpr int32_t kSmallCountLimit = 32;   // fewer values left than this: small-count tables
constexpr int32_t kMaxEscapeLength = 16;   // folded values fit in 16 bits
constexpr uint32_t kMaxFolded = 65535;
constexpr int32_t kMaxBlockValues = 65536;
constexpr int32_t kInitialScaleState = 16384;

}  // namespace

const int32_t smallCountFrequencies04[560] = {
    13243, 1333,  // R = 1
    7125, 1076, 124,  // R = 2
    3328, 918, 159, 30,  // R = 3
    2301, 783, 165, 46, 13,  // R = 4
    1793, 699, 184, 55, 26, 8,  // R = 5
    1204, 633, 157, 63, 27, 10, 6,  // R = 6
    970, 553, 183, 56, 27, 9, 8, 3,  // R = 7
    710, 477, 174, 57, 34, 15, 13, 2, 2,  // R = 8
    612, 429, 192, 55, 35, 17, 17, 4, 3, 3,  // R = 9
    429, 365, 169, 62, 42, 22, 9, 7, 3, 2, 2,  // R = 10
    370, 322, 177, 65, 32, 19, 13, 15, 2, 2, 2, 1,  // R = 11
    310, 302, 164, 73, 31, 15, 13, 4, 5, 3, 2, 1, 1,  // R = 12
    178, 258, 161, 89, 35, 21, 15, 13, 5, 4, 3, 2, 2, 1,  // R = 13
    168, 223, 170, 65, 36, 26, 12, 13, 7, 3, 3, 2, 2, 1, 1,  // R = 14
    125, 202, 158, 68, 42, 15, 11, 11, 9, 5, 4, 3, 2, 2, 1, 1,  // R = 15
    135, 175, 144, 80, 35, 15, 10, 10, 10, 8, 4, 2, 2, 1, 1, 1, 1,  // R = 16
    85, 141, 149, 83, 45, 19, 12, 10, 7, 5, 3, 4, 2, 1, 1, 1, 1, 1,  // R = 17
    67, 137, 121, 75, 38, 31, 15, 13, 9, 7, 5, 3, 3, 2, 1, 1, 1, 1, 1,  // R = 18
    57, 105, 107, 77, 34, 18, 14, 11, 10, 5, 5, 4, 4, 3, 2, 1, 1, 1, 1, 1,  // R = 19
    55, 81, 106, 81, 42, 18, 12, 11, 10, 6, 6, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1,  // R = 20
    38, 82, 79, 65, 56, 28, 14, 11, 9, 8, 8, 7, 6, 5, 2, 1, 1, 1, 1, 1, 1, 1,  // R = 21
    23, 64, 71, 77, 54, 28, 18, 18, 13, 11, 5, 7, 7, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1,  // R = 22
    28, 60, 78, 73, 54, 26, 10, 10, 10, 9, 3, 3, 4, 3, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1,  // R = 23
    20, 56, 57, 65, 54, 28, 24, 11, 11, 6, 4, 8, 3, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // R = 24
    16, 45, 59, 65, 42, 33, 12, 9, 9, 8, 6, 5, 2, 4, 4, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // R = 25
    13, 26, 55, 66, 38, 24, 10, 13, 9, 8, 7, 4, 3, 3, 3, 3, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // R = 26
    15, 33, 48, 48, 31, 29, 12, 12, 11, 11, 8, 7, 6, 5, 4, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // R = 27
    9, 21, 41, 42, 39, 33, 21, 15, 11, 9, 8, 7, 6, 6, 6, 4, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // R = 28
    9, 24, 40, 34, 49, 32, 22, 22, 10, 9, 7, 6, 5, 3, 3, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // R = 29
    5, 21, 23, 36, 36, 29, 26, 15, 12, 9, 8, 7, 6, 6, 6, 6, 8, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // R = 30
    4, 13, 36, 25, 30, 26, 26, 15, 13, 12, 12, 9, 7, 4, 4, 4, 4, 4, 4, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // R = 31
    6, 13, 23, 32, 28, 25, 19, 16, 13, 6, 6, 6, 6, 5, 5, 4, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // R = 32
};

namespace {

[[noreturn]] void corruptInput() {
    throw Error("Input data corrupt");
}

[[noreturn]] void inconsistentModel() {
    throw Error("Internal error - probably due to corrupt input file.");
}

using Histogram = std::array<int32_t, ModelSmooth04::kBins>;

// Quotient and scale of one value in one mode, from the histogram pass for the value pass.
struct ValueCode {
    int32_t quotient;
    int32_t scale;
};

// Encoder work storage, shared by every model of the process: one block is coded at a time.
std::vector<uint16_t> foldedValues;
Histogram blockHistogram04{};
std::vector<ValueCode> valueCodes04;  // of the pass coded last; value i of lane l at i * lanes + l

int32_t scaleOf(int32_t state) {
    return std::max(1, state >> 6);
}

// Moves a scale state towards the size of the latest folded value; a mode outside
// 1 ... 4 (damaged stream) leaves it as it is.
int32_t updatedState(int32_t s, uint32_t u, int32_t mode) {
    const int32_t half = static_cast<int32_t>((u + 6) >> 1);
    const int32_t d = half - ((s + 16) >> 5);
    switch (mode) {
        case 1: return s + (d >> 1);
        case 2: return s + d;
        case 3: return s + (d >> 2);
        case 4: return s + 2 * d;
        default: return s;
    }
}

static_assert(ShrinkingHistogram::kBins == ModelSmooth04::kBins);

void takeFromBin(ShrinkingHistogram& hist, int32_t bin) {
    if (!hist.take(bin)) inconsistentModel();
}

// ---- encoding operations on a coder ----

void encodeBits(RangeCoder& coder, uint32_t v, uint32_t n) {
    coder.encodeShift(v, v + 1, n);
}

void encodeUniform(RangeCoder& coder, uint32_t v, uint32_t total) {
    coder.encode(v, v + 1, total);
}

void encodeSmallCount(RangeCoder& coder, uint32_t s, const std::vector<int32_t>& table) {
    coder.encode(static_cast<uint32_t>(table.at(s)), static_cast<uint32_t>(table.at(s + 1)),
                 static_cast<uint32_t>(table.back()));
}

void encodeHistogramSymbol(RangeCoder& coder, int32_t s, const ShrinkingHistogram& hist, int32_t total) {
    const int32_t cum = hist.below(s);
    const int32_t count = hist.count(s);
    coder.encode(static_cast<uint32_t>(cum), static_cast<uint32_t>(cum + count), static_cast<uint32_t>(total));
}

// Returns whether the value was escaped. Inlined into the lane loop: a call per value
// and lane costs more than the coding itself.
[[gnu::always_inline]] inline bool encodeValue(RangeCoder& coder, ShrinkingHistogram& hist, int32_t total, uint16_t u,
                                               ValueCode code) {
    const int32_t q = code.quotient;
    int32_t scale = code.scale;
    const int32_t s = std::min(q, ModelSmooth04::kEscape);
    encodeHistogramSymbol(coder, s, hist, total);
    uint32_t r;
    if (q >= ModelSmooth04::kEscape) {
        const int32_t length = static_cast<int32_t>(std::bit_width(static_cast<uint32_t>(u)));
        encodeBits(coder, static_cast<uint32_t>(length), 5);
        scale = pow2(length);
        r = u;
    } else {
        r = static_cast<uint32_t>(u - q * scale);
    }
    takeFromBin(hist, s);
    if (scale >= 2) encodeUniform(coder, r, static_cast<uint32_t>(scale));
    return q >= ModelSmooth04::kEscape;
}

// Codings of the same values in several modes, each on its own coder from its own scale
// states. The lanes advance together value by value: their coders' dependency chains
// are independent, so the processor overlaps them.
template <size_t Lanes>
struct ModePasses {
    std::array<int32_t, Lanes> mode{};
    std::array<RangeCoder*, Lanes> coder{};
    std::array<int32_t, Lanes> state0{};
    std::array<int32_t, Lanes> state1{};
    std::array<Histogram, Lanes> histogram{};
};

// Quotients, scales and histograms of the values, advancing the scale states exactly as
// the decoder will while it decodes them.
template <size_t Lanes>
void buildHistograms(ModePasses<Lanes>& p, const uint16_t* u, int32_t n, bool stereo) {
    for (Histogram& h : p.histogram) h.fill(0);
    valueCodes04.resize(static_cast<size_t>(n) * Lanes);
    ValueCode* code = valueCodes04.data();
    for (int32_t i = 0; i < n; ++i) {
        const bool second = stereo && (i & 1);
        for (size_t l = 0; l < Lanes; ++l, ++code) {
            int32_t& state = second ? p.state1[l] : p.state0[l];
            const int32_t scale = scaleOf(state);
            const int32_t q = static_cast<int32_t>(totaldivision::divide(u[i], static_cast<uint32_t>(scale)));
            ++p.histogram[l][static_cast<size_t>(std::min(q, ModelSmooth04::kEscape))];
            *code = {q, scale};
            state = updatedState(state, u[i], p.mode[l]);
        }
    }
}

// Mode, histogram and values of a block (or of its middle half for a trial), per lane.
template <size_t Lanes>
void encodeInModes(ModePasses<Lanes>& p, const uint16_t* u, int32_t n, bool stereo,
                   const std::vector<std::vector<int32_t>>& smallCountTables) {
    buildHistograms(p, u, n, stereo);
    for (size_t l = 0; l < Lanes; ++l) {
        RangeCoder& coder = *p.coder[l];
        const Histogram& hist = p.histogram[l];
        encodeBits(coder, static_cast<uint32_t>(p.mode[l] - 1), 2);
        int32_t sent = 0;
        for (int32_t b = 0; b < ModelSmooth04::kBins && sent < n; ++b) {
            const int32_t remaining = n - sent;
            const uint32_t binCount = static_cast<uint32_t>(hist[static_cast<size_t>(b)]);
            if (remaining < kSmallCountLimit)
                encodeSmallCount(coder, binCount, smallCountTables[static_cast<size_t>(remaining - 1)]);
            else
                encodeUniform(coder, binCount, static_cast<uint32_t>(remaining + 1));
            sent += hist[static_cast<size_t>(b)];
        }
    }
    std::array<ShrinkingHistogram, Lanes> left;
    for (size_t l = 0; l < Lanes; ++l) left[l] = ShrinkingHistogram(p.histogram[l]);
    const ValueCode* code = valueCodes04.data();
    int32_t escapes = 0;
    for (int32_t i = 0; i < n; ++i)
        for (size_t l = 0; l < Lanes; ++l, ++code)
            escapes += encodeValue(*p.coder[l], left[l], n - i, u[i], *code) ? 1 : 0;
    // Counted per pass so the report's map is looked up once, not per escape; the
    // entry appears only once a value has been escaped.
    if (escapes > 0) debugValues["Entropy Encoder overflow"] += escapes;
}

// ---- decoding operations on a coder ----

uint32_t decodeBits(RangeCoder& coder, uint32_t n) {
    const uint32_t t = coder.getCountShift(n);
    coder.decodeUpdate(t, t + 1);
    return t;
}

[[gnu::always_inline]] inline uint32_t decodeUniform(RangeCoder& coder, uint32_t total) {
    const uint32_t t = coder.getCount(total);
    coder.decodeUpdate(t, t + 1);
    return t;
}

uint32_t decodeSmallCount(RangeCoder& coder, const std::vector<int32_t>& table) {
    const uint32_t t = coder.getCount(static_cast<uint32_t>(table.back()));
    uint32_t s = 0;
    while (static_cast<uint32_t>(table[s + 1]) <= t) ++s;  // t is below the last entry
    coder.decodeUpdate(static_cast<uint32_t>(table[s]), static_cast<uint32_t>(table[s + 1]));
    return s;
}

// A damaged stream can present a target that no bin covers (the counts then sum to less
// than the total).
[[gnu::always_inline]] inline int32_t decodeHistogramSymbol(RangeCoder& coder, const ShrinkingHistogram& hist,
                                                            int32_t total) {
    const uint32_t t = coder.getCount(static_cast<uint32_t>(total));
    const int32_t s = hist.binHolding(static_cast<int32_t>(t));
    if (s < 0) inconsistentModel();
    const uint32_t cum = static_cast<uint32_t>(hist.below(s));
    coder.decodeUpdate(cum, cum + static_cast<uint32_t>(hist.count(s)));
    return s;
}

// Inlined into the block's value loop like encodeValue.
[[gnu::always_inline]] inline uint16_t decodeValue(RangeCoder& coder, ShrinkingHistogram& hist, int32_t total,
                                                   int32_t mode, int32_t& state) {
    const int32_t s = decodeHistogramSymbol(coder, hist, total);
    takeFromBin(hist, s);
    uint32_t q = static_cast<uint32_t>(s);
    uint32_t scale = static_cast<uint32_t>(scaleOf(state));
    if (s == ModelSmooth04::kEscape) {
        const uint32_t length = decodeBits(coder, 5);
        if (length > kMaxEscapeLength) corruptInput();
        scale = static_cast<uint32_t>(pow2(static_cast<int>(length)));
        q = 0;
    }
    const uint32_t r = scale >= 2 ? decodeUniform(coder, scale) : 0;
    const uint32_t u = q * scale + r;
    if (u > kMaxFolded) corruptInput();
    state = updatedState(state, u, mode);
    return static_cast<uint16_t>(u);
}

}  // namespace

ModelSmooth04::ModelSmooth04(int32_t channelCount, RangeCoder* rangeCoder)
    : coder(rangeCoder),
      scaleState0(kInitialScaleState),
      scaleState1(kInitialScaleState),
      channels(channelCount),
      smallCountTables(cumulativeSmallCountTables(smallCountFrequencies04, kSmallCountTables)) {}

uint16_t ModelSmooth04::fold(int16_t x) {
    return static_cast<uint16_t>(x >= 0 ? 2 * x : -2 * x - 1);
}

int16_t ModelSmooth04::unfold(uint16_t u) {
    return static_cast<int16_t>((u & 1) ? -1 - (u >> 1) : (u >> 1));
}

int32_t ModelSmooth04::modeWithFewestBytes(const std::array<int32_t, 4>& trialBytes) {
    int32_t best = 99999999;
    int32_t mode = 1;
    for (int32_t m = 1; m <= 4; ++m) {
        if (trialBytes[static_cast<size_t>(m - 1)] < best) {
            best = trialBytes[static_cast<size_t>(m - 1)];
            mode = m;
        }
    }
    return mode;
}

const std::array<int32_t, ModelSmooth04::kBins>& ModelSmooth04::lastBlockHistogram() {
    return blockHistogram04;
}

int32_t ModelSmooth04::lastBlockScale(size_t i) {
    return valueCodes04.at(i).scale;
}

// ---- encoding ----

void ModelSmooth04::finishEncoding() {
    coder->finish();
}

void ModelSmooth04::encodeResiduals(const std::vector<int16_t>& residuals) {
    const int32_t n = static_cast<int32_t>(residuals.size());
    foldedValues.resize(residuals.size());
    for (size_t i = 0; i < residuals.size(); ++i) foldedValues[i] = fold(residuals[i]);
    uint16_t* u = foldedValues.data();

    int32_t count = n;
    bool stereo = false;
    if (channels == 1) {
        const bool silent = std::all_of(u, u + n, [](uint16_t v) { return v == 0; });
        encodeBits(*coder, silent ? 1 : 0, 1);
        if (silent) return;
    } else if (channels == 2) {
        bool silent[2] = {true, true};
        for (int32_t i = 0; i < n; ++i) silent[i & 1] = silent[i & 1] && u[i] == 0;
        encodeBits(*coder, silent[0] ? 1 : 0, 1);
        encodeBits(*coder, silent[1] ? 1 : 0, 1);
        if (silent[0] && silent[1]) return;
        if (silent[0] || silent[1]) {
            // Only the other channel is coded, as one mono stream on scaleState0.
            count = n / 2;
            const int32_t first = silent[0] ? 1 : 0;
            for (int32_t k = 0; k < count; ++k) u[k] = u[2 * k + first];
        } else {
            stereo = true;
        }
    } else {
        encodeBits(*coder, 0, 1);
        encodeBits(*coder, 0, 1);
    }
    const int32_t mode = chooseAdaptationMode(u, count, stereo);
    encodeWithMode(mode, u, count, stereo);
}

// Codes the middle half of the block (a multiple of 4 values, starting on an even
// position so every value keeps its channel) in each mode on a counting coder.
int32_t ModelSmooth04::chooseAdaptationMode(const uint16_t* u, int32_t n, bool stereo) {
    int32_t d = n / 2;
    d -= d % 4;
    std::array<RangeCoder, 4> counting;
    ModePasses<4> trials;
    for (size_t l = 0; l < 4; ++l) {
        trials.mode[l] = static_cast<int32_t>(l) + 1;
        trials.coder[l] = &counting[l];
        trials.state0[l] = scaleState0;
        trials.state1[l] = scaleState1;
    }
    encodeInModes(trials, u + d / 2, d, stereo, smallCountTables);
    for (size_t l = 0; l < 4; ++l) {
        counting[l].finish();
        modeChoice.trialBytes[l] = counting[l].countedBytes();
    }
    modeChoice.mode = modeWithFewestBytes(modeChoice.trialBytes);
    return modeChoice.mode;
}

void ModelSmooth04::encodeWithMode(int32_t mode, const uint16_t* u, int32_t n, bool stereo) {
    ModePasses<1> pass;
    pass.mode[0] = mode;
    pass.coder[0] = coder;
    pass.state0[0] = scaleState0;
    pass.state1[0] = scaleState1;
    encodeInModes(pass, u, n, stereo, smallCountTables);
    scaleState0 = pass.state0[0];
    scaleState1 = pass.state1[0];
    blockHistogram04 = pass.histogram[0];
}

// ---- decoding ----

void ModelSmooth04::decodeResiduals(std::vector<int16_t>& out, int32_t count) {
    if (count < 1 || count > kMaxBlockValues) corruptInput();
    out.assign(static_cast<size_t>(count), 0);

    int32_t n = count;
    bool stereo = false;
    int32_t first = 0;   // position of value 0
    int32_t stride = 1;  // distance between positions
    if (channels == 1) {
        if (decodeBits(*coder, 1) != 0) return;
    } else if (channels == 2) {
        const bool silent0 = decodeBits(*coder, 1) == 1;
        const bool silent1 = decodeBits(*coder, 1) == 1;
        if (silent0 && silent1) return;
        if (silent0 || silent1) {
            n = count / 2;
            first = silent0 ? 1 : 0;
            stride = 2;
        } else {
            stereo = true;
        }
    } else {
        decodeBits(*coder, 1);
        decodeBits(*coder, 1);
    }
    const int32_t mode = static_cast<int32_t>(decodeBits(*coder, 2) + 1);

    Histogram hist{};
    int32_t received = 0;
    for (int32_t b = 0; b < kBins && received < n; ++b) {
        const int32_t remaining = n - received;
        const uint32_t binCount = remaining < kSmallCountLimit
                                      ? decodeSmallCount(*coder, smallCountTables[static_cast<size_t>(remaining - 1)])
                                      : decodeUniform(*coder, static_cast<uint32_t>(remaining + 1));
        hist[static_cast<size_t>(b)] = static_cast<int32_t>(binCount);
        received += static_cast<int32_t>(binCount);
    }
    // The values are decoded on local copies of the coder and the scale states: nothing
    // else can reach them, so they stay in registers instead of being stored and reloaded
    // around every stream byte (the byte counter's stores might otherwise alias them).
    RangeCoder local = std::move(*coder);
    std::array<int32_t, 2> states = {scaleState0, scaleState1};
    ShrinkingHistogram left(hist);
    int16_t* const values = out.data() + first;
    for (int32_t k = 0; k < n; ++k) {
        int32_t& state = states[stereo ? static_cast<size_t>(k & 1) : 0];
        values[static_cast<ptrdiff_t>(stride) * k] = unfold(decodeValue(local, left, n - k, mode, state));
    }
    *coder = std::move(local);
    scaleState0 = states[0];
    scaleState1 = states[1];
}
