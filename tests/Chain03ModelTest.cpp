// A second, plain model of the generation-03 predictor chain, written from the
// stored-format rules rather than from the production classes (building blocks
// in ChainModel.h). The filters keep only the plain sequence of their inputs
// and form every history entry from its closed form: the short filter's raw
// samples and first differences with their compressed values, the long
// filter's compressed entries aged by the halving schedule (c, c >> 1 from age
// 3, quartered from age 8, halved once more from age 24 unless at most 1 in
// magnitude), and its decimated history as wrapped four-input sums. Generation
// 03 is only read, and the tests write their containers with the production
// chain, so comparing the forward residuals stage by stage against this model
// is what catches a slip that the test writer and the reader share.
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
#include "foundation/Arith.h"
#include "pipeline/PredictorChain.h"
#include "pipeline/filters/LookupTables.h"

namespace {
namespace model {

using namespace chainmodel;

// Value j of a sequence counted from its newest (j = 0); 0 before its start.
int32_t newest(const std::vector<int16_t>& seq, int j) {
    return static_cast<size_t>(j) < seq.size() ? seq[seq.size() - 1 - static_cast<size_t>(j)] : 0;
}

class Delta : public Predictor {
public:
    int32_t predict(int16_t s, int16_t) override { return mul(s, 32) >> 5; }
};

// The short filter. After t samples its history holds, for difference position
// k, the raw samples s_t .. s_(t-k+1) and then the differences d_t, d_(t-1) ...;
// the compressed history holds their half-compressed (raw) and compressed
// (difference) values.
class Quick : public Predictor {
public:
    Quick(int channels, int outShift, int ownTaps, int sideTaps)
        : channels(channels), outShift(outShift), ownTaps(ownTaps), sideTaps(sideTaps), ownW(16, 0), sideW(16, 0) {
        ownW[0] = 343;
        ownW[1] = 129;
        ownW[2] = -47;
        ownW[3] = 69;
        buildQuickStepTable03();
        buildQuickCompressTables03();
        for (int i = 0; i < 64; ++i) level.push(1024);
    }
    int32_t predict(int16_t s, int16_t x) override {
        const int32_t e = std::clamp(sub(s, lastPrediction), -100000, 100000);
        level.push(magnitude(e));
        adapt(ownW, own, ownTaps, step(e));
        own.push_back(s);
        int32_t acc = weighted(own, ownW, ownTaps);
        if (channels == 2) {
            level.push(magnitude(e));
            adapt(sideW, side, sideTaps, step(e));
            side.push_back(x);
            acc = add(acc, weighted(side, sideW, sideTaps));
        }
        return lastPrediction = acc >> outShift;
    }

private:
    static int differencePosition(int taps) { return taps == 10 ? 3 : 1; }
    static int32_t entry(const std::vector<int16_t>& seq, int j, int k) {
        if (j < k) return newest(seq, j);
        return newest(seq, j - k) - newest(seq, j - k + 1);
    }
    static int32_t compressedEntry(const std::vector<int16_t>& seq, int j, int k) {
        const auto& table = j < k ? quickHalfCompressTable03 : quickCompressTable03;
        return table[static_cast<size_t>(entry(seq, j, k) + 131072)];
    }
    int32_t step(int32_t e) const {
        if (e == 0) return 1;
        const int32_t t = quickStepTable03[static_cast<size_t>(e / ((level.sum >> 13) + 32) + 4096)];
        return e > 0 ? -t : t;
    }
    static void adapt(std::vector<int32_t>& w, const std::vector<int16_t>& seq, int taps, int32_t step) {
        const int k = differencePosition(taps);
        for (int i = 0; i < taps; ++i) w[static_cast<size_t>(i)] = add(w[static_cast<size_t>(i)], mul(step, compressedEntry(seq, i, k)));
    }
    static int32_t weighted(const std::vector<int16_t>& seq, const std::vector<int32_t>& w, int taps) {
        const int k = differencePosition(taps);
        int32_t acc = 0;
        for (int i = 0; i < taps; ++i) acc = add(acc, mul(entry(seq, i, k), w[static_cast<size_t>(i)]));
        return acc;
    }

    int channels, outShift, ownTaps, sideTaps;
    LastSum level{2048};
    std::vector<int16_t> own, side;
    std::vector<int32_t> ownW, sideW;
    int32_t lastPrediction = 0;
};

// A compressed value c as it reads at an age of `age` pushes.
int16_t aged(int16_t c, int age) {
    if (age < 3) return c;
    if (age < 8) return half(c);
    const int16_t quarter = half(half(c));
    if (age < 24 || magnitude(quarter) <= 1) return quarter;
    return half(quarter);
}

// The long filter: plain histories (Phases 1) with ageing and, for 256 taps,
// the error level in the oldest entry; or decimated histories (Phases 4).
class Big : public Predictor {
public:
    Big(int channels, int taps, int outShift, int phases, int sideShift)
        : channels(channels), taps(taps), outShift(outShift), phases(phases), sideShift(sideShift),
          ownW(static_cast<size_t>(taps), 0), sideW(static_cast<size_t>(taps), 0) {
        buildBigCompressTable02();
        buildBigStepTable03();
        for (int i = 0; i < 64; ++i) level.push(1024);
    }
    int32_t predict(int16_t s, int16_t x) override {
        if (calls != 0) {
            const int32_t e = sub(s, lastPrediction);
            level.push(magnitude(e));
            if (calls % 8 == 0) stepScale = (level.sum >> 11) + 32;
            // Errors beyond the table (far-off predictions only) take its end value.
            const int32_t t = bigStepTable03[static_cast<size_t>(std::clamp(e / stepScale + 4096, 0, 8191))];
            const int32_t step = e < 0 ? -t : t;
            update(ownW, compressedWindow(ownC, decimatedOwnC, levelSign), step);
            if (channels == 2) update(sideW, compressedWindow(sideC, decimatedSideC, 0), step);
            push(own, ownC, decimatedOwn, decimatedOwnC, s);
            if (channels == 2) push(side, sideC, decimatedSide, decimatedSideC, x);
            if (taps == 256) {
                const int32_t l = level.sum >> 8;
                levelValue = low16(l);
                levelSign = l > 0 ? -1 : 0;
            }
        }
        int32_t d = dot(sampleWindow(own, decimatedOwn, levelValue), ownW) >> 5;
        if (channels == 2) d = add(d, (dot(sampleWindow(side, decimatedSide, 0), sideW) >> 5) >> sideShift);
        ++calls;
        return lastPrediction = add(d, 1 << (outShift - 1)) >> outShift;
    }

private:
    static int16_t c(int16_t v) { return bigCompressTable02[static_cast<size_t>(v + 65536)]; }
    void push(std::vector<int16_t>& seq, std::vector<int16_t>& cseq, Decimated& dec, Decimated& cdec, int16_t v) {
        seq.push_back(v);
        cseq.push_back(c(v));
        dec.push(v);
        cdec.push(c(v));
    }
    // Window element i pairs with the entry taps - 1 - i pushes old; with 256
    // taps the oldest one holds the latest error-level entry instead.
    const int16_t* sampleWindow(const std::vector<int16_t>& seq, Decimated& dec, int16_t oldest) {
        if (phases == 4) return dec.window(taps);
        window.assign(static_cast<size_t>(taps), 0);
        for (int i = 0; i < taps; ++i) window[static_cast<size_t>(i)] = static_cast<int16_t>(newest(seq, taps - 1 - i));
        if (taps == 256) window[0] = oldest;
        return window.data();
    }
    const int16_t* compressedWindow(const std::vector<int16_t>& cseq, Decimated& cdec, int16_t oldest) {
        if (phases == 4) return cdec.window(taps);
        window.assign(static_cast<size_t>(taps), 0);
        for (int i = 0; i < taps; ++i) {
            const int age = taps - 1 - i;
            window[static_cast<size_t>(i)] = aged(static_cast<int16_t>(newest(cseq, age)), age);
        }
        if (taps == 256) window[0] = oldest;
        return window.data();
    }

    int channels, taps, outShift, phases, sideShift;
    LastSum level{256};
    std::vector<int16_t> own, side, ownC, sideC, window;
    Decimated decimatedOwn{low16}, decimatedSide{low16}, decimatedOwnC{low16}, decimatedSideC{low16};
    std::vector<int16_t> ownW, sideW;
    int32_t stepScale = 64, lastPrediction = 0, calls = 0;
    int16_t levelValue = 0, levelSign = 0;
};

struct Stage {
    virtual ~Stage() = default;
    virtual void forward(std::vector<int16_t>& v) = 0;
};

// The residual frame of a stage without outer gain: prediction minus sample, 16 bits.
class PredictorStage : public Stage {
public:
    void forward(std::vector<int16_t>& v) override {
        for (int16_t& x : v) {
            const int32_t p = predict(previous);
            previous = x;
            x = low16(sub(p, x));
        }
    }

protected:
    virtual int32_t predict(int16_t c) = 0;
    int16_t previous = 0;
};

struct GainSettings {
    int adaptGain, outFactor, outShift;
    bool outerGain;
    int gainShift;
};

class GainStage : public Stage {
public:
    GainStage(int channels, GainSettings k, std::unique_ptr<Predictor> a, std::unique_ptr<Predictor> b)
        : channels(channels), k(k), a(std::move(a)), b(std::move(b)), shift(k.gainShift) {
        gainA = gainB = gainMax = int32_t{1} << shift;
        if (shift > 8 && shift < 13) {
            --shift;
            gainA = gainB = gainMax = int32_t{1} << shift;
        }
    }
    void forward(std::vector<int16_t>& v) override {
        for (int16_t& x : v) {
            const int32_t p = predict(last);
            const int32_t q = k.outerGain ? mul(p, outer) >> 8 : p;
            const int32_t miss = sub(x, q);
            if (k.outerGain && q != 0 && miss != 0)
                outer = (q < 0) == (miss < 0) ? std::min(outer + 1, 256) : std::max(outer - 1, 1);
            last = x;
            x = low16(sub(q, x));
        }
    }

private:
    int32_t predict(int16_t c) {
        if (calls == 4096 && shift > 8 && shift < 13) {
            ++shift;
            gainA *= 2;
            gainB *= 2;
            gainMax *= 2;
        }
        const int32_t d = sub(c, lastOutput);
        int32_t p;
        if (channels == 1) {
            adapt(gainA, d);
            p = scaled(a->predict(c, 0), gainA);
        } else if (++calls % 2 == 1) {
            adapt(gainA, d);
            lastA = c;
            p = scaled(b->predict(lastB, c), gainB);
        } else {
            adapt(gainB, d);
            lastB = c;
            p = scaled(a->predict(lastA, c), gainA);
        }
        lastOutput = p;
        return mul(p, k.outFactor) >> k.outShift;
    }
    void adapt(int32_t& gain, int32_t d) const {
        if (k.adaptGain == 0 || lastOutput == 0 || d == 0) return;
        const int32_t t = (magnitude(d) >> 6) + 1;
        gain = (lastOutput < 0) == (d < 0) ? std::min(gain + t, gainMax) : std::max(gain - t, 1);
    }
    int32_t scaled(int32_t p, int32_t gain) const { return k.adaptGain == 0 ? p : mul(p, gain) >> shift; }

    int channels;
    GainSettings k;
    std::unique_ptr<Predictor> a, b;
    int32_t shift, gainA, gainB, gainMax, calls = 0, lastOutput = 0, outer = 256;
    int16_t lastA = 0, lastB = 0, last = 0;
};

class ScaleStage : public PredictorStage {
public:
    ScaleStage(int channels, int steps, std::unique_ptr<Predictor> a, std::unique_ptr<Predictor> b)
        : channels(channels), steps(steps), a(std::move(a)), b(std::move(b)), bestA(steps / 2), bestB(steps / 2) {
        for (int j = 0; j < steps; ++j) {
            costsA.push_back(steps - j);
            costsB.push_back(steps - j);
        }
    }

private:
    int32_t predict(int16_t c) override {
        if (channels == 1) {
            addCosts(costsA, c);
            raw = a->predict(c, 0);
            bestA = cheapest(costsA, bestA);
            return scaled(bestA);
        }
        if (++calls % 2 == 1) {
            addCosts(costsA, c);
            lastA = c;
            raw = b->predict(lastB, c);
            bestB = cheapest(costsB, bestA);
            return scaled(bestB);
        }
        addCosts(costsB, c);
        lastB = c;
        raw = a->predict(lastA, c);
        bestA = cheapest(costsA, bestB);
        return scaled(bestA);
    }
    int32_t scaled(int32_t j) const { return mul(j, raw) >> (steps == 8 ? 3 : 2); }
    // Candidate j would have predicted about (j / steps) of the raw prediction.
    void addCosts(std::vector<int64_t>& costs, int16_t c) const {
        const int32_t step = mul(raw >> 1, 128 / steps);
        for (int j = 0; j < steps; ++j)
            costs[static_cast<size_t>(j)] =
                ((costs[static_cast<size_t>(j)] * 255) >> 8) + magnitude(sub(mul(64, c), mul(j, step)));
    }
    int32_t cheapest(const std::vector<int64_t>& costs, int32_t centre) const {
        int32_t best = std::max(centre - 1, 0);
        for (int32_t j = best + 1; j <= std::min(centre + 1, steps - 1); ++j)
            if (costs[static_cast<size_t>(j)] < costs[static_cast<size_t>(best)]) best = j;
        return best;
    }

    int channels, steps;
    std::unique_ptr<Predictor> a, b;
    int32_t calls = 0, raw = 0, bestA, bestB;
    int16_t lastA = 0, lastB = 0;
    std::vector<int64_t> costsA, costsB;
};

// The mid/side convertor in the forward direction: on while its counter is not negative.
class Convertor : public Stage {
public:
    explicit Convertor(int channels) : channels(channels) {}
    void forward(std::vector<int16_t>& v) override {
        if (channels == 1) return;
        for (size_t i = 0; i + 1 < v.size(); i += 2) {
            const int32_t l = v[i], r = v[i + 1];
            if (counter >= 0) {
                const int32_t d = r - l;
                v[i] = low16(d);
                v[i + 1] = low16(l + d / 2);
            }
            counter = ((counter * 255) >> 8) + (l == r ? 1 : -1);
        }
    }

private:
    int channels;
    int32_t counter = 0;
};

// The generation-03 stage table; ch is 2 for two channels and 1 for every other count.
std::vector<std::unique_ptr<Stage>> chain(int channels) {
    const int ch = channels == 2 ? 2 : 1;
    const auto gain = [ch](GainSettings k, auto make) {
        auto [a, b] = std::make_pair(make(), make());
        return std::unique_ptr<Stage>(new GainStage(ch, k, std::move(a), std::move(b)));
    };
    const auto scale = [ch](int steps, auto make) {
        auto [a, b] = std::make_pair(make(), make());
        return std::unique_ptr<Stage>(new ScaleStage(ch, steps, std::move(a), std::move(b)));
    };
    using P = std::unique_ptr<Predictor>;
    std::vector<std::unique_ptr<Stage>> stages;
    stages.push_back(std::make_unique<Convertor>(channels));
    stages.push_back(gain({0, 31, 5, false, 0}, [] { return P(new Delta()); }));
    stages.push_back(gain({0, 31, 5, false, 0}, [ch] { return P(new Quick(ch, 15, 10, 10)); }));
    stages.push_back(scale(4, [ch] { return P(new Big(ch, 64, ch == 2 ? 10 : 9, 1, 1)); }));
    stages.push_back(scale(4, [ch] { return P(new Quick(ch, 12, 4, 5)); }));
    stages.push_back(scale(8, [] { return P(new Big(1, 320, 10, 4, 1)); }));
    stages.push_back(gain({1, 26, 5, true, 12}, [] { return P(new Big(1, 256, 8, 1, 1)); }));
    stages.push_back(gain({1, 30, 5, false, 11}, [ch] { return P(new Big(ch, 64, 7, 1, 0)); }));
    stages.push_back(scale(8, [ch] { return P(new Quick(ch, 8, 4, 4)); }));
    return stages;
}

}  // namespace model

constexpr size_t kBlockValues = 73728;

// Runs the production chain and the model over consecutive blocks (one coding
// segment) stage by stage, and reports the first stage and value that differ.
void expectChainMatchesModel(const std::vector<int16_t>& samples, int channels, const std::string& what) {
    initPow2Table();
    std::vector<std::unique_ptr<model::Stage>> reference = model::chain(channels);
    for (size_t start = 0, block = 0; start < samples.size(); start += kBlockValues, ++block) {
        const StageList stages = buildPredictorChain(false, channels, block == 0, 3);
        ASSERT_EQ(stages.size(), reference.size()) << what;
        SampleBlock v(samples.begin() + static_cast<ptrdiff_t>(start),
                      samples.begin() + static_cast<ptrdiff_t>(std::min(samples.size(), start + kBlockValues)));
        for (size_t i = 0; i < stages.size(); ++i) {
            std::vector<int16_t> expected = v;
            reference[i]->forward(expected);
            stages[i]->transformFast(v);
            const auto diff = std::mismatch(v.begin(), v.end(), expected.begin());
            ASSERT_TRUE(diff.first == v.end())
                << what << ": stage " << i << " differs at value " << start + static_cast<size_t>(diff.first - v.begin())
                << " (" << *diff.first << " against " << *diff.second << ")";
        }
    }
}

}  // namespace

TEST(Chain03Model, RealRecordingsGiveTheModelsResidualsAtEveryStage) {
    const testsupport::Pcm bass = testsupport::loadPcm16(testsupport::dataPath("real_bass_st.wav"));
    const testsupport::Pcm tabla = testsupport::loadPcm16(testsupport::dataPath("real_tabla_mono.wav"));
    ASSERT_EQ(bass.channels, 2);
    ASSERT_EQ(tabla.channels, 1);
    ASSERT_GT(bass.samples.size(), kBlockValues);  // the chain carries its state into a second block
    expectChainMatchesModel(bass.samples, 2, "bass");
    expectChainMatchesModel(tabla.samples, 1, "tabla");
    expectChainMatchesModel(bass.samples, 3, "bass as one interleaved stream");
}

TEST(Chain03Model, ExtremeSignalsGiveTheModelsResidualsAtEveryStage) {
    // Full-scale noise drives the errors past the short filter's clamp, wraps
    // the decimated sums and holds pairs wider than 32767; a full-scale square
    // gives the largest differences; quiet noise after silence lets the scales
    // settle on small errors; equal pairs keep the convertor on, and equal
    // pairs between unequal ones switch it back on for every unequal pair.
    const chainmodel::ExtremeSignals x = chainmodel::extremeSignals();
    std::vector<int16_t> switching;
    const std::vector<int16_t> pairs = chainmodel::noise(20000, 5, 18);
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) switching.insert(switching.end(), {pairs[i], pairs[i], pairs[i], pairs[i + 1]});
    for (const int channels : {1, 2}) {
        expectChainMatchesModel(chainmodel::noise(40000, 11, 16), channels, "full-scale noise");
        expectChainMatchesModel(x.square, channels, "full-scale square");
        expectChainMatchesModel(x.quiet, channels, "quiet noise after silence");
    }
    expectChainMatchesModel(x.equalPairs, 2, "equal pairs");
    expectChainMatchesModel(switching, 2, "equal and unequal pairs in turn");
}
