// A second, deliberately plain model of the generation-04 predictor chain,
// written from the stored-format rules rather than from the production classes
// (building blocks in ChainModel.h): unbounded histories in plain vectors, the
// decimated histories of the 288-tap filter formed from their closed form
// (newest sum, the one before halved, older ones quartered) instead of by
// in-place halving. Comparing the forward residuals stage by stage against this
// model catches a slip that encoder and decoder share, and names the stage.
//
// The lookup tables are shared with the production code; their contents are
// pinned entry by entry and as whole-table sums in LookupTablesTest.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ChainModel.h"
#include "TestSupport.h"
#include "pipeline/PredictorChain.h"
#include "pipeline/filters/LookupTables.h"

namespace {
namespace model {

using namespace chainmodel;

// h[0] newest, h[-j] older; everything before the first push reads 0.
class History {
public:
    explicit History(int window) : windowSize(window), v(static_cast<size_t>(window) + 1, 0) {}
    void push(int16_t x) { v.push_back(x); }
    int16_t& operator[](int j) { return v[v.size() - 1 + static_cast<size_t>(static_cast<ptrdiff_t>(j))]; }
    const int16_t* window() const { return &v[v.size() - static_cast<size_t>(windowSize)]; }

private:
    int windowSize;
    std::vector<int16_t> v;
};

void clampWeights(std::vector<int16_t>& w, int limit) {
    for (int16_t& x : w) x = static_cast<int16_t>(std::clamp<int>(x, -limit, limit));
}

class Delta : public Predictor {
public:
    int32_t predict(int16_t s, int16_t) override {
        const int32_t e = magnitude(2 * newest - s - older);
        roughness = ((roughness * 8191) >> 13) + e;
        if ((calls++ & 15) == 0) {
            const int32_t m = static_cast<int32_t>((roughness + 4096) >> 13);
            factor = m <= 64 ? 256 : m <= 128 ? 254 : m <= 192 ? 250 : m <= 1024 ? 248 : 246;
        }
        const int32_t p = (factor * s + 128) >> 8;
        older = newest;
        newest = s;
        return p;
    }

private:
    int32_t newest = 0, older = 0, factor = 256, calls = 0;
    int64_t roughness = 0;
};

class Quick : public Predictor {
public:
    explicit Quick(int channels) : channels(channels), n(16 * channels), h(n), hc(n) {
        static const int16_t initial[32] = {38,  39,  246, 133, 151, 21,  173, 29, 210, 148, 221,
                                            196, 118, 25,  57,  49,  241, 173, 181, 88,  240, 147,
                                            151, 50,  25,  43,  209, 192, 253, 22,  142, 78};
        w.assign(initial, initial + n);
        buildQuickCompressTable04();
        buildQuickMagnitudeTable04();
        for (int i = 0; i < 64; ++i) level.push(1024);
    }
    int32_t predict(int16_t s, int16_t x) override {
        const int32_t e = sat16(s - lastPrediction);
        const int32_t l = level.sum + 1024;
        level.push(magnitude(e));
        const int32_t q = e / ((l >> 13) + 24);
        const int32_t u = quickMagnitudeTable04[static_cast<size_t>(std::clamp(q + 8192, 0, 16383))];
        update(w, hc.window(), e > 0 ? u : e < 0 ? -u : 0);
        h.push(s);
        h[-3] = sat16(h[0] - h[-1]);
        if (channels == 2) {
            h[-16] = x;
            h[-19] = sat16(h[-16] - h[-17]);
        }
        lastPrediction = add(dot(h.window(), w), 8192) >> 14;
        hc.push(c(s));
        hc[-3] = c(h[-3]);
        hc[-6] = half(hc[-6]);
        if (channels == 2) {
            hc[-16] = c(x);
            hc[-19] = c(h[-19]);
            hc[-22] = half(hc[-22]);
        }
        if ((calls++ & 127) == 0) {
            const int32_t lvl = l >> 11;
            clampWeights(w, lvl < 32    ? 6000
                            : lvl < 64  ? 8000
                            : lvl < 128 ? 10000
                            : lvl <= 256  ? 12000
                            : lvl <= 512  ? 14000
                            : lvl <= 1024 ? 16000
                                          : 18000);
        }
        return lastPrediction;
    }

private:
    static int16_t c(int16_t y) { return quickCompressTable04[static_cast<size_t>(y + 131072)]; }
    int channels, n;
    LastSum level{2048};
    History h, hc;
    std::vector<int16_t> w;
    int32_t lastPrediction = 0, calls = 0;
};

class Big : public Predictor {
public:
    Big(int channels, int taps, int precision)
        : channels(channels), taps(taps), precision(precision), h(channels * taps), hc(channels * taps),
          w(static_cast<size_t>(channels * taps), 0) {
        buildBigCompressTable04();
        buildBigUpdateTable04();
        buildBigStepTable04();
    }
    int32_t predict(int16_t s, int16_t x) override {
        if (calls == 0) {
            calls = 1;
            lastOwn = s;
            lastSide = x;
            return lastPrediction = 0;
        }
        const int32_t e = sub(s, lastPrediction);
        fastError = add(mul(fastError, 63) >> 6, magnitude(e));
        slowError = add(mul(slowError, 1023) >> 10, magnitude(e));
        // A level that wrapped negative (only after absurd errors) reads the first entry.
        if ((calls & 3) == 0) step = bigStepTable04[static_cast<size_t>(std::clamp((fastError + 32) >> 6, 0, 65535))];
        if ((calls & 255) == 0) {
            const int32_t l = (slowError + 512) >> 10;
            scale = l >= -7 && l <= 165 ? 14155776 / (5 * l + 36) : 16384;
            clampWeights(w, 24000);
        }
        const int32_t j = std::clamp((add(mul(step, e), 16384) >> 15) + 16384, 0, 32767);
        const int32_t u = bigUpdateTable04[static_cast<size_t>(j)];
        if (e != 0) update(w, hc.window(), e > 0 ? u : -u);
        h.push(s);
        if (channels == 2) h[-taps] = x;
        hc.push(c(s));
        if (channels == 2) hc[-taps] = c(x);
        if (taps == 16) {
            const int16_t d = sat16(s - lastOwn);
            hc[-2] = c(d);
            h[-2] = d;
            if (channels == 2) {
                const int16_t d2 = sat16(x - lastSide);
                hc[-18] = c(d2);
                h[-18] = d2;
            }
            halve(hc, {-4, -6});
            if (channels == 2) halve(hc, {-20, -22});
        } else {
            halve(hc, {-2, -4, -8, -20});
            if (taps == 96) halve(h, {-40});
            if (taps == 96 && channels == 2) {
                halve(hc, {-98, -100, -104, -116});
                halve(h, {-136});
            }
        }
        const int32_t sum = dot(h.window(), w);
        ++calls;
        lastOwn = s;
        lastSide = x;
        return lastPrediction = add(sum, 1 << (precision + 6)) >> (precision + 7);
    }

private:
    int16_t c(int16_t y) const {
        const int32_t j = std::clamp((add(mul(scale, y), 8192) >> 14) + 65536, 0, 131071);
        const int16_t value = bigCompressTable04[static_cast<size_t>(j)];
        return taps == 16 ? static_cast<int16_t>(value >> 2) : value;
    }
    static void halve(History& b, std::initializer_list<int> positions) {
        for (int p : positions) b[p] = half(b[p]);
    }
    int channels, taps, precision;
    History h, hc;
    std::vector<int16_t> w;
    int32_t step = 512, scale = 16384, lastPrediction = 0, calls = 0, fastError = 1024, slowError = 1024;
    int16_t lastOwn = 0, lastSide = 0;
};

class Big0304 : public Predictor {
public:
    Big0304() : w(288, 0) {
        buildBigCompressTable02();
        buildBigStepTable04();
        buildBigUpdateTable04();
    }
    int32_t predict(int16_t s, int16_t) override {
        if (calls != 0) {
            const int32_t e = sub(s, lastPrediction);
            fastError = add(mul(fastError, 63) >> 6, magnitude(e));
            const int32_t step = bigStepTable04[static_cast<size_t>(std::min((fastError + 32) >> 6, 65535))];
            const int32_t k = std::clamp((add(mul(step, e), 16384) >> 15) + 16384, 0, 32767);
            const int32_t u = bigUpdateTable04[static_cast<size_t>(k)];
            update(w, compressed.window(288), e < 0 ? -u : u);
            compressed.push(bigCompressTable02[static_cast<size_t>(s + 65536)]);
            samples.push(s);
        }
        ++calls;
        return lastPrediction = add(dot(samples.window(288), w) >> 5, 512) >> 10;
    }

private:
    Decimated samples{sat16}, compressed{sat16};
    std::vector<int16_t> w;
    int32_t lastPrediction = 0, calls = 0, fastError = 0;
};

struct CombinerSettings {
    int adaptGain, attenBase, attenShift, gainShift, gainMax;
};

class Combiner {
public:
    Combiner(int channels, CombinerSettings k, std::unique_ptr<Predictor> a, std::unique_ptr<Predictor> b)
        : channels(channels), k(k), a(std::move(a)), b(std::move(b)), gainA(1 << k.gainShift), gainB(gainA),
          attenuation(k.attenBase) {}

    // The per-sample frame: residual = prediction - sample, kept to 16 bits.
    void forward(std::vector<int16_t>& v) {
        for (int16_t& x : v) {
            const int32_t p = predict(previous);
            previous = x;
            x = low16(sub(p, x));
        }
    }

private:
    int32_t predict(int16_t s) {
        const int32_t d = sub(s, lastOutput);
        int32_t n = 0;
        if (channels == 1) {
            adapt(gainA, d);
            lastOutput = scaled(a->predict(s, 0), gainA);
        } else if (++calls % 2 == 0) {
            n = calls;
            adapt(gainB, d);
            lastB = s;
            lastOutput = scaled(a->predict(lastA, s), gainA);
        } else {
            n = calls;
            adapt(gainA, d);
            lastA = s;
            lastOutput = scaled(b->predict(lastB, s), gainB);
        }
        if (k.attenBase == 0) return lastOutput;
        if (n % 16 == 0) {
            level.push(magnitude(d));
            const int32_t lvl = level.sum >> 12;
            const int drop = lvl <= 64 ? 0 : lvl <= 128 ? 1 : lvl <= 192 ? 2 : lvl <= 256 ? 3 : lvl <= 378 ? 4 : lvl <= 512 ? 5 : 6;
            attenuation = k.attenBase - drop;
        }
        return add(mul(attenuation, lastOutput), 1 << (k.attenShift - 1)) >> k.attenShift;
    }
    void adapt(int32_t& gain, int32_t d) const {
        if (k.adaptGain == 0 || lastOutput == 0 || d == 0) return;
        if (k.attenBase == 64 && magnitude(d) <= 4) return;
        const int32_t t = (magnitude(d) >> 9) + 1;
        const bool sameSign = (lastOutput < 0) == (d < 0);
        gain = sameSign ? std::min(gain + t, k.gainMax) : std::max(gain - t, 1);
    }
    int32_t scaled(int32_t p, int32_t gain) const {
        if (k.adaptGain == 0) return p;
        return add(mul(p, gain), 1 << (k.gainShift - 1)) >> k.gainShift;
    }

    int channels;
    CombinerSettings k;
    std::unique_ptr<Predictor> a, b;
    int32_t calls = 0, lastOutput = 0, gainA, gainB, attenuation;
    int16_t lastA = 0, lastB = 0, previous = 0;
    LastSum level{4096};
};

// The difference convertor in the forward direction.
class Convertor {
public:
    void forward(std::vector<int16_t>& v) {
        for (size_t i = 0; i + 1 < v.size(); i += 2) {
            const bool equal = v[i] == v[i + 1];
            if (counter >= 0) v[i + 1] = low16(v[i] - v[i + 1]);
            counter = ((counter * 255) >> 8) + (equal ? 1 : -1);
        }
    }

private:
    int32_t counter = 0;
};

// The generation-04 stage table: kind of inner filter and combiner settings.
enum class Inner { Delta, Quick, Big512, Big16x9, Big0304, Big96, Big16x4 };
struct StageRow {
    Inner inner;
    CombinerSettings settings;
    bool highOnly;
};
constexpr StageRow kStages[] = {
    {Inner::Delta, {0, 0, 0, 0, 0}, false},        {Inner::Quick, {0, 0, 0, 0, 0}, false},
    {Inner::Big512, {1, 64, 6, 9, 512}, false},    {Inner::Big16x9, {1, 128, 7, 9, 512}, true},
    {Inner::Big0304, {1, 128, 7, 8, 256}, true},   {Inner::Big96, {1, 128, 7, 9, 512}, false},
    {Inner::Big16x4, {1, 0, 0, 8, 256}, false},
};

std::unique_ptr<Predictor> makeInner(Inner kind, int channels) {
    switch (kind) {
        case Inner::Delta: return std::make_unique<Delta>();
        case Inner::Quick: return std::make_unique<Quick>(channels);
        case Inner::Big512: return std::make_unique<Big>(1, 512, 9);
        case Inner::Big16x9: return std::make_unique<Big>(channels, 16, 9);
        case Inner::Big0304: return std::make_unique<Big0304>();
        case Inner::Big96: return std::make_unique<Big>(channels, 96, channels == 2 ? 7 : 6);
        case Inner::Big16x4: return std::make_unique<Big>(channels, 16, 4);
    }
    return nullptr;
}

class Chain {
public:
    Chain(bool high, int channelCount) : stereo(channelCount == 2) {
        const int channels = stereo ? 2 : 1;
        for (const StageRow& row : kStages)
            if (high || !row.highOnly)
                stages.emplace_back(channels, row.settings, makeInner(row.inner, channels),
                                    makeInner(row.inner, channels));
    }
    size_t size() const { return stages.size() + (stereo ? 1 : 0); }
    void forwardStage(size_t i, std::vector<int16_t>& v) {
        if (stereo && i == 0)
            convertor.forward(v);
        else
            stages[i - (stereo ? 1 : 0)].forward(v);
    }

private:
    bool stereo;
    Convertor convertor;
    std::vector<Combiner> stages;
};

}  // namespace model

constexpr size_t kBlockValues = 61440;

// Runs the production chain and the model over consecutive blocks (one coding
// segment) stage by stage, and reports the first stage and value that differ.
void expectChainMatchesModel(const std::vector<int16_t>& samples, int channels, const std::string& what) {
    for (const bool high : {false, true}) {
        model::Chain reference(high, channels);
        for (size_t start = 0, block = 0; start < samples.size(); start += kBlockValues, ++block) {
            const StageList stages = buildPredictorChain(high, channels, block == 0, 4);
            ASSERT_EQ(stages.size(), reference.size()) << what;
            SampleBlock v(samples.begin() + static_cast<ptrdiff_t>(start),
                          samples.begin() + static_cast<ptrdiff_t>(std::min(samples.size(), start + kBlockValues)));
            for (size_t i = 0; i < stages.size(); ++i) {
                std::vector<int16_t> expected = v;
                reference.forwardStage(i, expected);
                stages[i]->transformFast(v);
                const auto diff = std::mismatch(v.begin(), v.end(), expected.begin());
                ASSERT_TRUE(diff.first == v.end())
                    << what << (high ? " high" : " normal") << ": stage " << i << " differs at value "
                    << start + static_cast<size_t>(diff.first - v.begin()) << " (" << *diff.first << " against "
                    << *diff.second << ")";
            }
        }
    }
}

}  // namespace

TEST(Chain04Model, RealRecordingsGiveTheModelsResidualsAtEveryStage) {
    const testsupport::Pcm bass = testsupport::loadPcm16(testsupport::dataPath("real_bass_st.wav"));
    const testsupport::Pcm tabla = testsupport::loadPcm16(testsupport::dataPath("real_tabla_mono.wav"));
    ASSERT_EQ(bass.channels, 2);
    ASSERT_EQ(tabla.channels, 1);
    expectChainMatchesModel(bass.samples, 2, "bass");      // more than one block
    expectChainMatchesModel(tabla.samples, 1, "tabla");
    expectChainMatchesModel(bass.samples, 3, "bass as one interleaved stream");
}

TEST(Chain04Model, ExtremeSignalsGiveTheModelsResidualsAtEveryStage) {
    // Full-scale noise wraps the gain, compression and error products; a
    // full-scale square saturates the differences; quiet noise after silence
    // raises the compression gain to its top; equal pairs keep the convertor on.
    const chainmodel::ExtremeSignals x = chainmodel::extremeSignals();
    for (const int channels : {1, 2}) {
        expectChainMatchesModel(chainmodel::noise(40000, 11, 16), channels, "full-scale noise");
        expectChainMatchesModel(x.square, channels, "full-scale square");
        expectChainMatchesModel(x.quiet, channels, "quiet noise after silence");
    }
    expectChainMatchesModel(x.equalPairs, 2, "equal pairs");
}
