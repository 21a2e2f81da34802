#pragma once
#include <cstdint>
#include <vector>

#include "entropy/BitstreamFast.h"
#include "entropy/GenericModel.h"

// Folded values of generations 02 and 03: x > 0 -> 2x - 1, x <= 0 -> -2x, and -32768,
// whose fold does not fit 16 bits, -> 65535. Unfolding keeps the low 16 bits.
uint32_t foldSmooth03(int16_t x);
int16_t unfoldSmooth03(uint32_t u);

// The block format that ModelSmooth03 and ModelSmooth02 share on a BitstreamFast: zero
// flags with compaction of a silent stereo channel, a 192-bin histogram of scaled folded
// values whose bin counts use small-count tables while few values remain, then the
// values against the histogram and two adaptive scale states. The generations differ in
// the mode field, the scale and the state update, which they supply.
//
// Decoding checks every count against its total before the interval is narrowed, so a
// damaged stream ends in an Error and never leaves the coder's interval or a table.
class SmoothBitModel : public GenericModelI {
public:
    static constexpr int32_t BINS = 192;
    static constexpr int32_t ESCAPE = 191;

    void finishEncoding() override;
    void encodeResiduals(const std::vector<int16_t>& residuals) override;
    void decodeResiduals(std::vector<int16_t>& out, int32_t count) override;
    void startDecoding() override;

    int32_t scaleState(int channel) const { return channel == 0 ? scaleState0 : scaleState1; }
    // The histogram of the values as the value pass will scale them; no state changes.
    std::vector<int32_t> buildHistogram(const std::vector<uint16_t>& u, int32_t mode) const;

protected:
    // frequencies holds the rows of the small-count tables back to back, row j with
    // j + 2 entries; bin counts use table R - 1 while R < smallCountLimit values remain.
    SmoothBitModel(int32_t channels, BitstreamFast* coder, const int32_t* frequencies, int32_t tableCount,
                   int32_t smallCountLimit);

    virtual int32_t scaleOf(int32_t state) const = 0;
    virtual int32_t updatedState(int32_t state, uint32_t u, int32_t mode) const = 0;
    // Chooses the block's mode for the N' values and sends it; returns the mode.
    virtual int32_t encodeMode(const std::vector<uint16_t>& u) = 0;
    virtual int32_t decodeMode() = 0;

    // Symbol operations on the coder.
    void encodeBits(uint32_t v, int32_t n);
    uint32_t decodeBits(int32_t n);
    void encodeUniform(uint32_t v, uint32_t total);
    uint32_t decodeUniform(uint32_t total);
    void encodeSmallCount(int32_t s, const std::vector<int32_t>& table);
    int32_t decodeSmallCount(const std::vector<int32_t>& table);
    void encodeHistogramSymbol(int32_t s, const std::vector<int32_t>& hist, uint32_t total);
    int32_t decodeHistogramSymbol(const std::vector<int32_t>& hist, uint32_t total);

    bool usesState1(int32_t k) const { return channels == 2 && (k & 1) != 0; }

    BitstreamFast* coder;
    int32_t scaleState0 = 16384;
    int32_t scaleState1 = 16384;
    int32_t channels;
    std::vector<std::vector<int32_t>> smallCountTables;

private:
    // Sends or reads the zero flags; returns the silent channel (0 or 1), -1 when none,
    // 2 when the whole block is silent.
    int32_t encodeZeroFlags(std::vector<uint16_t>& u);
    int32_t decodeZeroFlags();
    void encodeHistogram(const std::vector<int32_t>& hist, int32_t valueCount);
    std::vector<int32_t> decodeHistogram(int32_t valueCount);
    void encodeValue(uint32_t u, int32_t& state, std::vector<int32_t>& hist, uint32_t total, int32_t mode);
    int16_t decodeValue(int32_t& state, std::vector<int32_t>& hist, uint32_t total, int32_t mode);
    void checkCount(int64_t count) const;

    int32_t smallCountLimit;
};
