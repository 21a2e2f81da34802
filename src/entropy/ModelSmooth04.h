#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "entropy/GenericModel.h"

class RangeCoder;

// Frequencies of the bin counts: row j (j + 2 values, rows back to back) holds the
// frequencies of the counts 0 ... j + 1 of one bin when j + 1 values are still to be
// assigned to bins. Generation 03 codes its bin counts with the same rows.
extern const int32_t smallCountFrequencies04[560];

// The generation-04 residual model. Each block carries zero flags, an adaptation mode and
// a 192-bin histogram of its scaled folded values, then the values themselves, coded
// against the histogram (whose counts shrink as values are coded) and against two
// adaptive scale states that carry over from block to block within a coding segment.
class ModelSmooth04 : public GenericModelI {
public:
    static constexpr int32_t kBins = 192;
    static constexpr int32_t kEscape = kBins - 1;  // bin of every quotient from 191 up

    // The coder is borrowed; it serves one coding segment.
    ModelSmooth04(int32_t channels, RangeCoder* coder);

    void finishEncoding() override;
    void encodeResiduals(const std::vector<int16_t>& residuals) override;
    void decodeResiduals(std::vector<int16_t>& out, int32_t count) override;
    void startDecoding() override {}

    // Residual x to its folded value: 0, -1, 1, -2, 2 ... become 0, 1, 2, 3, 4 ...
    static uint16_t fold(int16_t x);
    static int16_t unfold(uint16_t u);
    // The mode whose trial encoding was smallest; equal sizes keep the lower mode.
    static int32_t modeWithFewestBytes(const std::array<int32_t, 4>& trialBytes);

    // Read-only views for inspection.
    struct ModeChoice {
        std::array<int32_t, 4> trialBytes{};  // counting-mode size of modes 1 to 4
        int32_t mode = 0;
    };
    const ModeChoice& lastModeChoice() const { return modeChoice; }
    int32_t scaleState(int channel) const { return channel == 0 ? scaleState0 : scaleState1; }
    // The encoder's histogram and the scale of value i of the block coded last.
    static const std::array<int32_t, kBins>& lastBlockHistogram();
    static int32_t lastBlockScale(size_t i);

private:
    using Histogram = std::array<int32_t, kBins>;

    int32_t chooseAdaptationMode(const uint16_t* u, int32_t n, bool stereo);
    void encodeWithMode(int32_t mode, const uint16_t* u, int32_t n, bool stereo);

    RangeCoder* coder;
    int32_t scaleState0 = 16384;
    int32_t scaleState1 = 16384;
    int32_t channels;
    std::vector<std::vector<int32_t>> smallCountTables;
    ModeChoice modeChoice;
};
