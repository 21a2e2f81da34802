#pragma once
// Building blocks of the plain chain models (Chain04ModelTest, Chain03ModelTest):
// second implementations of the predictor chains written from the stored-format
// rules, every wrap done in unsigned arithmetic, histories kept unbounded or
// formed from their closed form. Encoder and decoder share the production code,
// so a slip in it would still round-trip; the models catch it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace chainmodel {

inline int32_t add(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int32_t sub(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
inline int32_t mul(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }
inline int32_t magnitude(int32_t v) { return v < 0 ? sub(0, v) : v; }
inline int16_t low16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v))); }
inline int16_t sat16(int32_t v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }
inline int16_t half(int16_t v) { return static_cast<int16_t>(v >> 1); }

// Sum of the last `length` values pushed.
class LastSum {
public:
    explicit LastSum(size_t length) : length(length) {}
    void push(int32_t x) {
        values.push_back(x);
        sum = add(sum, x);
        if (values.size() > length) sum = sub(sum, values[values.size() - 1 - length]);
    }
    int32_t sum = 0;

private:
    size_t length;
    std::vector<int32_t> values;
};

// int16 weights: w[i] = int16(w[i] - x[i] * mu); the dot product wraps in 32 bits.
inline void update(std::vector<int16_t>& w, const int16_t* x, int32_t mu) {
    for (size_t i = 0; i < w.size(); ++i) w[i] = low16(sub(w[i], mul(x[i], mu)));
}
inline int32_t dot(const int16_t* h, const std::vector<int16_t>& w) {
    int32_t s = 0;
    for (size_t i = 0; i < w.size(); ++i) s = add(s, int32_t{h[i]} * w[i]);
    return s;
}

struct Predictor {
    virtual ~Predictor() = default;
    virtual int32_t predict(int16_t previous, int16_t side) = 0;
};

// A four-phase decimated history in closed form: entry j of the window read
// after t inputs is the sum S_j of inputs t-4j-3 .. t-4j, brought to 16 bits by
// `limit` (saturation or wrap-around), as S_0, S_1 >> 1, then (S_j >> 1) >> 1.
class Decimated {
public:
    explicit Decimated(int16_t (*limit)(int32_t)) : limit(limit) {}
    void push(int16_t x) { inputs.push_back(x); }
    const int16_t* window(int taps) {
        entries.assign(static_cast<size_t>(taps), 0);
        const ptrdiff_t t = static_cast<ptrdiff_t>(inputs.size());
        for (int j = 0; j < taps; ++j) {
            int32_t sum = 0;
            for (ptrdiff_t k = t - 4 * j - 4; k < t - 4 * j; ++k)
                if (k >= 0) sum += inputs[static_cast<size_t>(k)];
            int16_t entry = limit(sum);
            if (j >= 1) entry = half(entry);
            if (j >= 2) entry = half(entry);
            entries[static_cast<size_t>(taps - 1 - j)] = entry;
        }
        return entries.data();
    }

private:
    int16_t (*limit)(int32_t);
    std::vector<int16_t> inputs, entries;
};

// Seeded full-scale-capable noise: each value is the top bits of a linear
// congruential sequence, shifted down by `shift`.
inline std::vector<int16_t> noise(size_t count, uint32_t seed, int shift) {
    std::vector<int16_t> v;
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        v.push_back(static_cast<int16_t>(static_cast<int32_t>(seed) >> shift));
    }
    return v;
}

// Signals that drive the chains to their edges: a full-scale square (largest
// differences), quiet noise after silence (the scales settle on small errors)
// and equal pairs (the stereo convertor stays on).
struct ExtremeSignals {
    std::vector<int16_t> square, quiet, equalPairs;
};

inline ExtremeSignals extremeSignals() {
    ExtremeSignals x;
    for (int i = 0; i < 20000; ++i) x.square.push_back((i / 5) % 2 ? int16_t{32767} : int16_t{-32768});
    x.quiet.assign(12000, 0);
    const std::vector<int16_t> soft = noise(30000, 7, 29);
    x.quiet.insert(x.quiet.end(), soft.begin(), soft.end());
    for (const int16_t v : noise(10000, 3, 20)) x.equalPairs.insert(x.equalPairs.end(), {v, v});
    return x;
}

}  // namespace chainmodel
