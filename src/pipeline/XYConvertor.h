#pragma once
#include <cstdint>

#include "foundation/Registry.h"
#include "pipeline/Transform.h"

// Stereo convertors: the first stage of a stereo chain. Each rewrites the
// interleaved pairs (L, R) of a block while equal pairs prevail in the recent
// past (a mono recording stored as stereo then leaves an all-zero difference
// channel) and passes pairs through while unequal pairs prevail. The switch is
// tested before a pair is rewritten and updated from the pair of samples (the
// incoming pair forward, the restored pair inverse), so both directions agree.

// Generation 02 state: a decaying sum of +1 (equal pair) and -1 (unequal pair),
// value = value * factor +- 1 in the x87 extended precision the stored format was
// made with, done on integers so that every processor gives the same value.
struct DecayingSum {
    double value = 0.0;
    static constexpr double factor = 0.9999;
    // On while the value truncated toward zero is not negative.
    bool on() const { return value > -1.0; }
    void update(bool equalPair);
};

// Generations 03 and 04 state: counter = ((counter * 255) >> 8) +- 1.
struct DecayCounter {
    int32_t value = 0;
    bool on() const { return value >= 0; }
    void update(bool equalPair) { value = ((value * 255) >> 8) + (equalPair ? 1 : -1); }
};

// Difference and midpoint; exact while |R - L| <= 32767, and for larger
// differences the stored d wraps exactly as the old files carry it.
struct MidSideRewrite {
    static void forward(int16_t& a, int16_t& b) {
        const int32_t d = int32_t{b} - a;
        const int32_t m = a + d / 2;
        a = static_cast<int16_t>(d);
        b = static_cast<int16_t>(m);
    }
    static void inverse(int16_t& a, int16_t& b) {
        const int32_t d = a;
        const int16_t left = static_cast<int16_t>(b - d / 2);
        a = left;
        b = static_cast<int16_t>(d + left);
    }
};

// L stays; R becomes L - R (exact for every pair).
struct DifferenceRewrite {
    static void forward(int16_t& a, int16_t& b) { b = static_cast<int16_t>(a - b); }
    static void inverse(int16_t& a, int16_t& b) { b = static_cast<int16_t>(a - b); }
};

template <class State, class Rewrite>
class PairConvertor : public TransformerI {
public:
    explicit PairConvertor(int channelCount) : channels(channelCount) {}

    void transformFast(SampleBlock& v) override {
        if (!checkBlock(v)) return;
        for (size_t i = 0; i + 1 < v.size(); i += 2) forwardPair(&v[i]);
    }

    void inverseTransformFast(SampleBlock& v) override {
        if (!checkBlock(v)) return;
        for (size_t i = 0; i + 1 < v.size(); i += 2) inversePair(&v[i]);
    }

    // A pair per step; with one channel there is nothing to rewrite, and a
    // step of one value that does nothing stands in.
    StageStep stageStep() override {
        if (channels == 1) return {&leaveAlone, &leaveAlone, 1};
        return {[](TransformerI& stage, int16_t* x) { static_cast<PairConvertor&>(stage).forwardPair(x); },
                [](TransformerI& stage, int16_t* x) { static_cast<PairConvertor&>(stage).inversePair(x); }, 2};
    }

    const State& switchState() const { return state; }

private:
    void forwardPair(int16_t* x) {
        const bool equalPair = x[0] == x[1];
        if (state.on()) Rewrite::forward(x[0], x[1]);
        state.update(equalPair);
    }
    void inversePair(int16_t* x) {
        if (state.on()) Rewrite::inverse(x[0], x[1]);
        state.update(x[0] == x[1]);
    }
    static void leaveAlone(TransformerI&, int16_t*) {}

    // False when there is nothing to do. An odd block has no partner for its last
    // value; the pair loops leave that value alone.
    bool checkBlock(const SampleBlock& v) const {
        if (channels == 1) return false;
        debugAssert(v.size() % 2 == 0, "XYConvertor::transformFast - uneven number of samples!");
        return true;
    }

    int channels;
    State state;
};

class XYConvertor02 : public PairConvertor<DecayingSum, MidSideRewrite> {
public:
    using PairConvertor::PairConvertor;
};
class XYConvertor03 : public PairConvertor<DecayCounter, MidSideRewrite> {
public:
    using PairConvertor::PairConvertor;
};
class XYConvertor04 : public PairConvertor<DecayCounter, DifferenceRewrite> {
public:
    using PairConvertor::PairConvertor;
};
