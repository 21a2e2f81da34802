#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

// The bin counts of a block's histogram while its values are coded: every coded value is
// taken from its bin, so the counts always describe the values still to come.
//
// Most values fall in the first bins and the escapes in the last one, so the cumulative
// counts of the first kHeld bins are kept up to date as counts fall (a fixed-length update
// without branches), and the last bin's follows from the sum of all counts. Only the rare
// values between need a walk over the counts.
class ShrinkingHistogram {
public:
    static constexpr int32_t kBins = 192;
    static constexpr int32_t kHeld = 16;

    ShrinkingHistogram() = default;  // every bin empty
    explicit ShrinkingHistogram(const std::array<int32_t, kBins>& counts);

    int32_t count(int32_t bin) const { return counts[static_cast<size_t>(bin)]; }

    // Sum of the counts of the bins below bin.
    int32_t below(int32_t bin) const {
        if (bin <= kHeld) return held[static_cast<size_t>(bin)];
        if (bin == kBins - 1) return sum - counts[kBins - 1];
        return walkFrom(kHeld, held[kHeld], bin);
    }

    // The bin whose cumulative range [below(bin), below(bin) + count(bin)) holds t, or -1
    // when no bin does (the counts sum to t or less, only on a damaged stream).
    int32_t binHolding(int32_t t) const {
        if (t < held[kHeld]) {
            Quad below{};  // -1 in a lane for every held cumulative count at or under t
            for (size_t j = 0; j < kQuads; ++j) below += heldQuad(j) <= t;
            return -(below[0] + below[1] + below[2] + below[3]);
        }
        if (t >= sum - counts[kBins - 1]) return t < sum ? kBins - 1 : -1;
        return searchFrom(kHeld, held[kHeld], t);
    }

    // Takes one value from bin; false (the count then below zero) when the bin was empty.
    bool take(int32_t bin) {
        --sum;
        // held[k] falls for every k above bin; the comparison is -1 in those lanes.
        for (size_t j = 0; j < kQuads; ++j) setHeldQuad(j, heldQuad(j) + (kHeldIndex[j] > bin));
        return --counts[static_cast<size_t>(bin)] >= 0;
    }

private:
    // Four held counts at a time in the target's vector registers (plain code where it
    // has none): the search and the update run the same few steps whatever the bin.
    using Quad = int32_t __attribute__((vector_size(16)));
    static constexpr size_t kQuads = kHeld / 4;
    static_assert(kHeld == 16, "kHeldIndex lists held indices 1 ... 16");
    static constexpr Quad kHeldIndex[kQuads] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};

    // held[1 + 4j] ... held[4 + 4j].
    Quad heldQuad(size_t j) const {
        Quad q;
        __builtin_memcpy(&q, &held[1 + 4 * j], sizeof q);
        return q;
    }
    void setHeldQuad(size_t j, Quad q) { __builtin_memcpy(&held[1 + 4 * j], &q, sizeof q); }

    int32_t walkFrom(int32_t bin, int32_t cum, int32_t end) const;
    int32_t searchFrom(int32_t bin, int32_t cum, int32_t t) const;

    std::array<int32_t, kBins> counts{};
    std::array<int32_t, kHeld + 1> held{};  // held[k]: sum of the counts of bins 0 ... k - 1
    int32_t sum = 0;
};
