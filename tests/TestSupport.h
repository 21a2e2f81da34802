#pragma once
// Shared helpers of the tests: where the test audio lives, the message of a
// thrown Error, and a small WAV loader written independently of the program's
// own reader.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/Error.h"

namespace testsupport {

inline std::string dataPath(const std::string& name) { return std::string(QO_TEST_DATA_DIR) + "/" + name; }
inline std::string corpusPath(const std::string& name) { return std::string(QO_CORPUS_DIR) + "/" + name; }
inline bool haveCorpus() { return std::filesystem::is_directory(QO_CORPUS_DIR); }

// Skips the calling test, visibly, when the shared corpus is not beside the checkout.
#define QO_REQUIRE_CORPUS()                                                                 \
    do {                                                                                    \
        if (!testsupport::haveCorpus())                                                     \
            GTEST_SKIP() << "../shared/corpus not found beside the checkout; corpus test skipped"; \
    } while (0)

// The message of the Error that f throws, or "(no error)".
inline std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.message;
    }
    return "(no error)";
}

inline std::vector<uint8_t> readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The container's checksum register over bytes, computed bit by bit without a
// table: reflected CRC-32 started at all ones, no final complement.
inline uint32_t bitwiseCrcRegister(const uint8_t* bytes, size_t count) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

// The little-endian bytes of sample values, as WAV data and the checksum hold them,
// worked out from the values alone whatever the host's byte order.
inline std::vector<uint8_t> littleEndianBytes(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> bytes;
    bytes.reserve(2 * samples.size());
    for (int16_t s : samples) {
        const auto u = static_cast<uint16_t>(s);
        bytes.push_back(static_cast<uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
    }
    return bytes;
}

// A canonical 44-byte-header 16-bit PCM WAV file of the interleaved samples.
inline std::vector<uint8_t> canonicalWav(int channels, const std::vector<int16_t>& samples) {
    std::vector<uint8_t> b;
    auto le = [&b](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    const uint32_t ch = static_cast<uint32_t>(channels);
    b = {'R', 'I', 'F', 'F'};
    le(36 + dataBytes, 4);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    le(16, 4);
    le(1, 2);
    le(ch, 2);
    le(44100, 4);
    le(44100u * 2 * ch, 4);
    le(2u * ch, 2);
    le(16, 2);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    le(dataBytes, 4);
    const std::vector<uint8_t> data = littleEndianBytes(samples);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

struct Pcm {
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
};

// Reads the 16-bit samples of a RIFF/WAVE file; fails the test on anything else.
inline Pcm loadPcm16(const std::string& path) {
    const std::vector<uint8_t> b = readFileBytes(path);
    Pcm pcm;
    auto u16 = [&](size_t p) { return static_cast<uint32_t>(b[p] | (b[p + 1] << 8)); };
    auto u32 = [&](size_t p) { return u16(p) | (u16(p + 2) << 16); };
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0) {
        ADD_FAILURE() << path << " is not a RIFF file";
        return pcm;
    }
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        const uint32_t size = u32(pos + 4);
        if (std::memcmp(&b[pos], "fmt ", 4) == 0) pcm.channels = static_cast<int>(u16(pos + 10));
        if (std::memcmp(&b[pos], "data", 4) == 0) {
            const size_t end = std::min(b.size(), pos + 8 + size);
            for (size_t p = pos + 8; p + 1 < end; p += 2) pcm.samples.push_back(static_cast<int16_t>(u16(p)));
            return pcm;
        }
        pos += 8 + size + (size & 1);
    }
    ADD_FAILURE() << path << " has no data chunk";
    return pcm;
}

}  // namespace testsupport
