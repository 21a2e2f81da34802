#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

// A sample block: int16 values with the channels interleaved (L, R, L, R ...).
using SampleBlock = std::vector<int16_t>;

struct Block {
    SampleBlock samples;
};
using MultiBlock = std::vector<Block>;

class MultiBlockTransformerI {
public:
    virtual MultiBlock forwardBlocks(const MultiBlock& blocks) = 0;
    virtual MultiBlock inverseBlocks(const MultiBlock& blocks) = 0;

protected:
    ~MultiBlockTransformerI() = default;
};

class BlockTransformerI : public MultiBlockTransformerI {
public:
    MultiBlock forwardBlocks(const MultiBlock& blocks) override;
    MultiBlock inverseBlocks(const MultiBlock& blocks) override;
    virtual void forwardBlock(Block& block) = 0;
    virtual void inverseBlock(Block& block) = 0;

protected:
    ~BlockTransformerI() = default;
};

class TransformerI;

// A stage's smallest unit of work: rewrites the `width` consecutive values at x
// (forward or inverse), so that several stages can be run interleaved, one
// unit at a time. A run of units over a block in time order gives exactly the
// stage's block transform. Width 0: the stage runs whole blocks only.
struct StageStep {
    using Fn = void (*)(TransformerI& stage, int16_t* x);
    Fn forward = nullptr;
    Fn inverse = nullptr;
    int width = 0;
};

// What a stage list holds: a transform in place on a sample block.
class TransformerI : public BlockTransformerI {
public:
    void forwardBlock(Block& block) override;
    void inverseBlock(Block& block) override;
    virtual void transformFast(SampleBlock& v) = 0;
    virtual void inverseTransformFast(SampleBlock& v) = 0;
    virtual StageStep stageStep() { return {}; }
    virtual ~TransformerI() = default;
};

// A per-sample loop over the block, forward in time in both directions.
class FilterI : public TransformerI {
public:
    void transformFast(SampleBlock& v) override;
    void inverseTransformFast(SampleBlock& v) override;
    virtual int16_t encodeSample(int16_t x) = 0;
    virtual int16_t decodeSample(int16_t r) = 0;
    // One sample per step, through the virtual per-sample calls.
    StageStep stageStep() override;
};

// A predictor: the residual is the prediction minus the sample, kept to 16 bits.
class PredictorI : public FilterI {
public:
    int16_t encodeSample(int16_t x) override { return encodeWith(*this, x); }
    int16_t decodeSample(int16_t r) override { return decodeWith(*this, r); }
    // Adapts to `previous` (the stream's newest sample; `side` is the other
    // channel's newest sample inside a two-channel combiner, else 0) and returns
    // the prediction of the next sample.
    virtual int32_t predict(int16_t previous, int16_t side) = 0;

protected:
    // One sample step through `self`'s predict: a virtual call for a PredictorI,
    // a direct (inlinable) one when P is a final class.
    template <class P>
    static int16_t encodeWith(P& self, int16_t x) {
        const int32_t p = self.predict(self.previousSample, 0);
        self.previousSample = x;
        return static_cast<int16_t>(p - x);
    }
    template <class P>
    static int16_t decodeWith(P& self, int16_t r) {
        const int32_t p = self.predict(self.previousSample, 0);
        self.previousSample = static_cast<int16_t>(p - r);
        return self.previousSample;
    }

    int16_t previousSample = 0;
};

// Base of a final predictor stage: its block loops call Derived's predict
// directly, so running a block costs no virtual call per sample.
template <class Derived>
class PredictorStage : public PredictorI {
public:
    void transformFast(SampleBlock& v) override {
        Derived& self = derived();
        for (int16_t& x : v) x = encodeWith(self, x);
    }
    void inverseTransformFast(SampleBlock& v) override {
        Derived& self = derived();
        for (int16_t& r : v) r = decodeWith(self, r);
    }
    int16_t encodeSample(int16_t x) override { return encodeWith(derived(), x); }
    int16_t decodeSample(int16_t r) override { return decodeWith(derived(), r); }
    // The steps call Derived's predict directly as well.
    StageStep stageStep() override { return {&encodeStep, &decodeStep, 1}; }

private:
    Derived& derived() {
        static_assert(std::is_final_v<Derived>, "only a final class makes the predict calls direct");
        return static_cast<Derived&>(*this);
    }
    static void encodeStep(TransformerI& stage, int16_t* x) { *x = encodeWith(static_cast<Derived&>(stage), *x); }
    static void decodeStep(TransformerI& stage, int16_t* r) { *r = decodeWith(static_cast<Derived&>(stage), *r); }
};

using StageList = std::vector<TransformerI*>;
