#pragma once
// Writes containers of generations 03 and 02, which the program reads but never
// writes: the generation's predictor chain forward, its residual model over the
// bit coder, and the header laid out byte by byte around the coded segments.
// The tests make their old containers with it, from WAV files split by a parser
// of their own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CoderTestSupport.h"
#include "TestSupport.h"
#include "entropy/BinaryFile.h"
#include "entropy/BitstreamFast.h"
#include "entropy/ModelSmooth02.h"
#include "entropy/ModelSmooth03.h"
#include "foundation/Arith.h"
#include "pipeline/PredictorChain.h"
#include "pipeline/TransformerCombiner.h"

namespace oldcontainer {

using Bytes = std::vector<uint8_t>;

inline void putLe(Bytes& b, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void patchLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A WAV file as a container carries it.
struct WavParts {
    Bytes riffSizeAndWave;  // bytes 4..11 of the file
    Bytes restHeader;       // the chunks from the format chunk up to the data chunk
    std::vector<int16_t> samples;
    Bytes trailer;  // every byte after the last whole sample
    int channels() const { return restHeader[10] | (restHeader[11] << 8); }
};

// Splits a RIFF/WAVE file whose format chunk comes first.
inline WavParts splitWav(const Bytes& wav) {
    WavParts parts;
    parts.riffSizeAndWave.assign(wav.begin() + 4, wav.begin() + 12);
    size_t pos = 12;
    while (pos + 8 <= wav.size() && std::memcmp(&wav[pos], "data", 4) != 0) {
        const uint32_t size = wav[pos + 4] | (wav[pos + 5] << 8) | (wav[pos + 6] << 16) | (uint32_t{wav[pos + 7]} << 24);
        pos += 8 + size + (size & 1);
    }
    EXPECT_LT(pos + 8, wav.size() + 1) << "no data chunk";
    parts.restHeader.assign(wav.begin() + 12, wav.begin() + static_cast<std::ptrdiff_t>(pos));
    const uint32_t dataSize = wav[pos + 4] | (wav[pos + 5] << 8) | (wav[pos + 6] << 16) | (uint32_t{wav[pos + 7]} << 24);
    const size_t first = pos + 8;
    const size_t end = first + dataSize / 2 * 2;
    for (size_t p = first; p < end; p += 2)
        parts.samples.push_back(static_cast<int16_t>(wav[p] | (wav[p + 1] << 8)));
    parts.trailer.assign(wav.begin() + static_cast<std::ptrdiff_t>(end), wav.end());
    return parts;
}

// A canonical WAV file: format chunk of 16 bytes, the extra chunks, the data chunk, then the trailer bytes.
inline Bytes makeWav(int channels, const std::vector<int16_t>& samples, const Bytes& chunksBeforeData = {},
                     const Bytes& trailer = {}) {
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    Bytes b = {'R', 'I', 'F', 'F'};
    putLe(b, static_cast<uint32_t>(36 + chunksBeforeData.size() + dataBytes + trailer.size()), 4);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLe(b, 16, 4);
    putLe(b, 1, 2);
    putLe(b, static_cast<uint32_t>(channels), 2);
    putLe(b, 44100, 4);
    putLe(b, 44100u * 2 * static_cast<uint32_t>(channels), 4);
    putLe(b, 2u * static_cast<uint32_t>(channels), 2);
    putLe(b, 16, 2);
    b.insert(b.end(), chunksBeforeData.begin(), chunksBeforeData.end());
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    putLe(b, dataBytes, 4);
    const Bytes data = testsupport::littleEndianBytes(samples);
    b.insert(b.end(), data.begin(), data.end());
    b.insert(b.end(), trailer.begin(), trailer.end());
    return b;
}

inline uint32_t sampleCrc(const std::vector<int16_t>& samples) {
    const Bytes bytes = testsupport::littleEndianBytes(samples);
    return testsupport::bitwiseCrcRegister(bytes.data(), bytes.size());
}

struct Options {
    int version = 3;  // 3 or 2
    bool seekable = true;
    uint8_t extraFlags = 0;            // bits beside bit 0 (the high bit and bits a reader ignores)
    std::optional<uint32_t> crc;       // the stored checksum; by default that of the samples
};

constexpr int32_t kBlockSize = 73728;  // sample values per block, all channels counted
constexpr int32_t kSeekInterval = 16;  // blocks per coding segment when seekable

// The container of the WAV parts. Generation 03: magic, RIFF size and "WAVE", the stored
// header's length and bytes, sample count, flags, checksum, seek table, trailer offset,
// the coded segments and the trailer. Generation 02: the same without the length field
// (the stored header is the format chunk's first 24 bytes), the trailer offset and the trailer.
inline Bytes writeOldContainer(const WavParts& wav, const Options& options) {
    initPow2Table();
    const int version = options.version;
    const int channels = wav.channels();
    const Bytes stored = version == 3 ? wav.restHeader : Bytes(wav.restHeader.begin(), wav.restHeader.begin() + 24);
    const int32_t count = static_cast<int32_t>(wav.samples.size());
    const int32_t blocks = (count + kBlockSize - 1) / kBlockSize;
    const int32_t entries = options.seekable && blocks > 1 ? (blocks - 1) / kSeekInterval : 0;

    Bytes out = {'Q', 'O', '0', static_cast<uint8_t>('0' + version)};
    out.reserve(64 + stored.size() + 2 * wav.samples.size() + wav.trailer.size());
    out.insert(out.end(), wav.riffSizeAndWave.begin(), wav.riffSizeAndWave.end());
    if (version == 3) putLe(out, static_cast<uint32_t>(stored.size()), 4);
    out.insert(out.end(), stored.begin(), stored.end());
    putLe(out, static_cast<uint32_t>(count), 4);
    out.push_back(static_cast<uint8_t>((options.seekable ? 1 : 0) | options.extraFlags));
    putLe(out, options.crc.value_or(sampleCrc(wav.samples)), 4);
    const size_t seekTableAt = out.size();
    for (int32_t e = 0; e < entries; ++e) putLe(out, 0, 4);
    const size_t trailerOffsetAt = out.size();
    if (version == 3) putLe(out, 0, 4);
    const size_t firstSegment = out.size();

    codertest::ScratchFile scratch;
    const Bytes coded = scratch.written([&](BinaryFile& file) {
        std::unique_ptr<BitstreamFast> coder;
        std::unique_ptr<GenericModelI> model;
        for (int32_t i = 0; i < blocks; ++i) {
            const bool key = i == 0 || (options.seekable && i % kSeekInterval == 0);
            if (key) {
                if (model) model->finishEncoding();
                model.reset();
                coder.reset();
                if (i > 0) patchLe32(out, seekTableAt + 4 * static_cast<size_t>(i / kSeekInterval - 1),
                                     static_cast<uint32_t>(firstSegment + static_cast<size_t>(file.tell())));
                coder = std::make_unique<BitstreamFast>(&file, false);
                if (version == 3)
                    model = std::make_unique<ModelSmooth03>(channels, coder.get());
                else
                    model = std::make_unique<ModelSmooth02>(channels, coder.get());
            }
            const auto from = wav.samples.begin() + static_cast<std::ptrdiff_t>(i) * kBlockSize;
            SampleBlock block(from, from + std::min<std::ptrdiff_t>(kBlockSize, wav.samples.end() - from));
            // Stereo pairs stay whole: an odd last block gets one value 0 that the reader drops.
            if (channels != 1 && block.size() % 2 != 0) block.push_back(0);
            TransformerCombiner(buildPredictorChain(false, channels, key, version)).transformFast(block);
            model->encodeResiduals(block);
        }
        if (model) model->finishEncoding();
    });
    out.insert(out.end(), coded.begin(), coded.end());
    if (version == 3) {
        patchLe32(out, trailerOffsetAt, static_cast<uint32_t>(out.size()));
        out.insert(out.end(), wav.trailer.begin(), wav.trailer.end());
    }
    return out;
}

}  // namespace oldcontainer
