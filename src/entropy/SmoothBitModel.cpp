#include "entropy/SmoothBitModel.h"

#include <algorithm>
#include <bit>

#include "entropy/SmallCountTables.h"
#include "foundation/Arith.h"
#include "foundation/Error.h"
#include "foundation/Registry.h"

namespace {

const char* const corruptInput = "Internal error - probably due to corrupt input file.";

// The encoder's folded values, reused from block to block.
std::vector<uint16_t> foldBuffer;

[[noreturn]] void failCorrupt() { throw Error(corruptInput); }

// Restores the model's channel count at the end of a block with one silent channel,
// also when the block ends in an Error.
class ChannelsRestore {
public:
    ChannelsRestore(int32_t& channels) : channels(channels), saved(channels) {}
    ~ChannelsRestore() { channels = saved; }

private:
    int32_t& channels;
    int32_t saved;
};

}  // namespace

uint32_t foldSmooth03(int16_t x) {
    if (x > 0) return 2u * static_cast<uint32_t>(x) - 1u;
    if (x == -32768) return 65535u;
    return static_cast<uint32_t>(-2 * static_cast<int32_t>(x));
}

int16_t unfoldSmooth03(uint32_t u) {
    const int32_t half = static_cast<int32_t>(u >> 1);
    return static_cast<int16_t>((u & 1) != 0 ? half + 1 : -half);
}

SmoothBitModel::SmoothBitModel(int32_t channels, BitstreamFast* coder, const int32_t* frequencies,
                               int32_t tableCount, int32_t smallCountLimit)
    : coder(coder), channels(channels), smallCountLimit(smallCountLimit) {
    // The formats define the mono and stereo layouts only.
    if (channels != 1 && channels != 2)
        throw Error("Error - unsupported channel count " + std::to_string(channels) + " in container.");
    smallCountTables = cumulativeSmallCountTables(frequencies, tableCount);
}

void SmoothBitModel::finishEncoding() { coder->finish(); }

void SmoothBitModel::startDecoding() { coder->primeDecoder(); }

void SmoothBitModel::encodeBits(uint32_t v, int32_t n) { coder->encodeShift(v, v + 1, n); }

uint32_t SmoothBitModel::decodeBits(int32_t n) {
    const uint32_t v = coder->getCountShift(n);
    if (v >= (1u << n)) failCorrupt();
    coder->decodeUpdate(v, v + 1);
    return v;
}

void SmoothBitModel::encodeUniform(uint32_t v, uint32_t total) { coder->encode(v, v + 1, total); }

uint32_t SmoothBitModel::decodeUniform(uint32_t total) {
    const uint32_t v = coder->getCount(total);
    if (v >= total) failCorrupt();
    coder->decodeUpdate(v, v + 1);
    return v;
}

void SmoothBitModel::encodeSmallCount(int32_t s, const std::vector<int32_t>& table) {
    const size_t i = static_cast<size_t>(s);
    coder->encode(static_cast<uint32_t>(table.at(i)), static_cast<uint32_t>(table.at(i + 1)),
                  static_cast<uint32_t>(table.back()));
}

int32_t SmoothBitModel::decodeSmallCount(const std::vector<int32_t>& table) {
    const uint32_t c = coder->getCount(static_cast<uint32_t>(table.back()));
    if (c >= static_cast<uint32_t>(table.back())) failCorrupt();
    size_t s = 0;
    while (static_cast<uint32_t>(table[s + 1]) <= c) ++s;
    coder->decodeUpdate(static_cast<uint32_t>(table[s]), static_cast<uint32_t>(table[s + 1]));
    return static_cast<int32_t>(s);
}

void SmoothBitModel::encodeHistogramSymbol(int32_t s, const std::vector<int32_t>& hist, uint32_t total) {
    uint32_t cumLow = 0;
    for (int32_t b = 0; b < s; ++b) cumLow += static_cast<uint32_t>(hist[static_cast<size_t>(b)]);
    coder->encode(cumLow, cumLow + static_cast<uint32_t>(hist.at(static_cast<size_t>(s))), total);
}

int32_t SmoothBitModel::decodeHistogramSymbol(const std::vector<int32_t>& hist, uint32_t total) {
    const uint32_t c = coder->getCount(total);
    if (c >= total) failCorrupt();
    uint32_t cumLow = 0;
    int32_t s = 0;
    for (; s < ESCAPE; ++s) {
        const uint32_t cumHigh = cumLow + static_cast<uint32_t>(hist[static_cast<size_t>(s)]);
        if (c < cumHigh) break;
        cumLow = cumHigh;
    }
    const uint32_t cumHigh = cumLow + static_cast<uint32_t>(hist[static_cast<size_t>(s)]);
    // Only counts that disagree with the block's total leave the target uncovered.
    if (c < cumLow || c >= cumHigh) failCorrupt();
    coder->decodeUpdate(cumLow, cumHigh);
    return s;
}

void SmoothBitModel::checkCount(int64_t count) const {
    if (count < 0) failCorrupt();
    // A stereo block holds whole pairs; an odd count would misplace the values of a
    // compacted block.
    if (channels == 2 && count % 2 != 0) throw Error("Error - odd value count in a stereo block.");
}

std::vector<int32_t> SmoothBitModel::buildHistogram(const std::vector<uint16_t>& u, int32_t mode) const {
    std::vector<int32_t> hist(BINS, 0);
    int32_t states[2] = {scaleState0, scaleState1};
    for (size_t k = 0; k < u.size(); ++k) {
        int32_t& state = states[usesState1(static_cast<int32_t>(k)) ? 1 : 0];
        const uint32_t q = u[k] / static_cast<uint32_t>(scaleOf(state));
        ++hist[std::min<uint32_t>(q, ESCAPE)];
        state = updatedState(state, u[k], mode);
    }
    return hist;
}

int32_t SmoothBitModel::encodeZeroFlags(std::vector<uint16_t>& u) {
    auto channelSilent = [&u](size_t first, size_t stride) {
        for (size_t k = first; k < u.size(); k += stride)
            if (u[k] != 0) return false;
        return true;
    };
    if (channels == 1) {
        const bool silent = channelSilent(0, 1);
        encodeBits(silent ? 1 : 0, 1);
        return silent ? 2 : -1;
    }
    const bool silent0 = channelSilent(0, 2);
    const bool silent1 = channelSilent(1, 2);
    encodeBits(silent0 ? 1 : 0, 1);
    encodeBits(silent1 ? 1 : 0, 1);
    if (silent0 && silent1) return 2;
    if (!silent0 && !silent1) return -1;
    const size_t kept = silent0 ? 1 : 0;
    const size_t half = u.size() / 2;
    for (size_t k = 0; k < half; ++k) u[k] = u[2 * k + kept];
    u.resize(half);
    return silent0 ? 0 : 1;
}

int32_t SmoothBitModel::decodeZeroFlags() {
    const bool silent0 = decodeBits(1) != 0;
    if (channels == 1) return silent0 ? 2 : -1;
    const bool silent1 = decodeBits(1) != 0;
    if (silent0 && silent1) return 2;
    if (silent0) return 0;
    return silent1 ? 1 : -1;
}

void SmoothBitModel::encodeHistogram(const std::vector<int32_t>& hist, int32_t valueCount) {
    int32_t sent = 0;
    for (size_t b = 0; b < hist.size() && sent < valueCount; ++b) {
        const int32_t remaining = valueCount - sent;
        if (remaining < smallCountLimit)
            encodeSmallCount(hist[b], smallCountTables.at(static_cast<size_t>(remaining - 1)));
        else
            encodeUniform(static_cast<uint32_t>(hist[b]), static_cast<uint32_t>(remaining + 1));
        sent += hist[b];
    }
}

std::vector<int32_t> SmoothBitModel::decodeHistogram(int32_t valueCount) {
    std::vector<int32_t> hist(BINS, 0);
    int32_t sum = 0;
    for (size_t b = 0; b < hist.size() && sum < valueCount; ++b) {
        const int32_t remaining = valueCount - sum;
        // Both decodes stay within 0 ... remaining, so the sum never passes valueCount.
        hist[b] = remaining < smallCountLimit
                      ? decodeSmallCount(smallCountTables.at(static_cast<size_t>(remaining - 1)))
                      : static_cast<int32_t>(decodeUniform(static_cast<uint32_t>(remaining + 1)));
        sum += hist[b];
    }
    if (sum != valueCount) failCorrupt();
    return hist;
}

void SmoothBitModel::encodeValue(uint32_t u, int32_t& state, std::vector<int32_t>& hist, uint32_t total,
                                 int32_t mode) {
    uint32_t scale = static_cast<uint32_t>(scaleOf(state));
    const uint32_t q = u / scale;
    uint32_t r = u % scale;
    state = updatedState(state, u, mode);
    if (q < ESCAPE) {
        encodeHistogramSymbol(static_cast<int32_t>(q), hist, total);
    } else {
        debugValues["Entropy Encoder overflow"] += 1.0;
        encodeHistogramSymbol(ESCAPE, hist, total);
        const int32_t length = static_cast<int32_t>(std::bit_width(u));
        encodeBits(static_cast<uint32_t>(length), 5);
        scale = static_cast<uint32_t>(pow2(length));
        r = u;
    }
    if (--hist[std::min<uint32_t>(q, ESCAPE)] < 0) failCorrupt();
    if (scale >= 2) encodeUniform(r, scale);
}

int16_t SmoothBitModel::decodeValue(int32_t& state, std::vector<int32_t>& hist, uint32_t total, int32_t mode) {
    uint32_t scale = static_cast<uint32_t>(scaleOf(state));
    const int32_t s = decodeHistogramSymbol(hist, total);
    if (--hist[static_cast<size_t>(s)] < 0) failCorrupt();
    uint32_t q = static_cast<uint32_t>(s);
    if (s == ESCAPE) {
        // An intact escape never needs more than 16 bits; a longer one would overflow
        // the scale and empty the coder's width per unit.
        const uint32_t length = decodeBits(5);
        if (length > 16) failCorrupt();
        scale = static_cast<uint32_t>(pow2(static_cast<int>(length)));
        q = 0;
    }
    const uint32_t r = scale >= 2 ? decodeUniform(scale) : 0;
    const uint32_t u = q * scale + r;
    // Folded values are 16-bit; a larger one would drive the scale state without bound.
    if (u > 65535) failCorrupt();
    state = updatedState(state, u, mode);
    return unfoldSmooth03(u);
}

void SmoothBitModel::encodeResiduals(const std::vector<int16_t>& residuals) {
    checkCount(static_cast<int64_t>(residuals.size()));
    foldBuffer.resize(residuals.size());
    std::transform(residuals.begin(), residuals.end(), foldBuffer.begin(),
                   [](int16_t x) { return static_cast<uint16_t>(foldSmooth03(x)); });
    ChannelsRestore restore(channels);
    const int32_t silent = encodeZeroFlags(foldBuffer);
    if (silent == 2) return;
    if (silent >= 0) channels = 1;
    const int32_t mode = encodeMode(foldBuffer);
    std::vector<int32_t> hist = buildHistogram(foldBuffer, mode);
    const int32_t valueCount = static_cast<int32_t>(foldBuffer.size());
    encodeHistogram(hist, valueCount);
    for (int32_t k = 0; k < valueCount; ++k) {
        int32_t& state = usesState1(k) ? scaleState1 : scaleState0;
        encodeValue(foldBuffer[static_cast<size_t>(k)], state, hist, static_cast<uint32_t>(valueCount - k), mode);
    }
}

void SmoothBitModel::decodeResiduals(std::vector<int16_t>& out, int32_t count) {
    checkCount(count);
    ChannelsRestore restore(channels);
    const int32_t silent = decodeZeroFlags();
    if (silent == 2) {
        out.assign(static_cast<size_t>(count), 0);
        return;
    }
    const int32_t valueCount = silent >= 0 ? count / 2 : count;
    if (silent >= 0) channels = 1;
    const int32_t mode = decodeMode();
    std::vector<int32_t> hist = decodeHistogram(valueCount);
    out.assign(static_cast<size_t>(silent >= 0 ? 2 * valueCount : valueCount), 0);
    for (int32_t k = 0; k < valueCount; ++k) {
        int32_t& state = usesState1(k) ? scaleState1 : scaleState0;
        const int16_t x = decodeValue(state, hist, static_cast<uint32_t>(valueCount - k), mode);
        const int32_t position = silent == 0 ? 2 * k + 1 : silent == 1 ? 2 * k : k;
        out[static_cast<size_t>(position)] = x;
    }
}
