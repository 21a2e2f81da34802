// The bytes of a written container, field by field, against values worked out from
// the layout rules rather than from the reader: a layout mistake that writer and
// reader share would round-trip and still be unreadable elsewhere.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kBlock = 61440;
// 19 blocks of sound, then a second coding segment of two silent blocks (61440 and 5 values).
constexpr int32_t kSampleCount = 20 * kBlock + 5;

uint32_t le32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

Bytes slice(const Bytes& b, size_t from, size_t to) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}

class ContainerLayout : public ProgramRun {
protected:
    void SetUp() override {
        ProgramRun::SetUp();
        std::vector<int16_t> samples(kSampleCount, 0);
        uint32_t noise = 1;
        for (int32_t i = 0; i < 19 * kBlock; ++i) {
            noise = noise * 1103515245u + 12345u;
            samples[i] = static_cast<int16_t>(6000.0 * std::sin(i * 0.013) + static_cast<int32_t>(noise >> 24) - 128);
        }
        wav = testsupport::canonicalWav(1, samples);
        wav.insert(wav.end(), trailer.begin(), trailer.end());
        testsupport::writeFileBytes((dir / "a.wav").string(), wav);
    }

    Bytes compress(const std::string& flags) {
        std::filesystem::remove(dir / "a.qo");
        EXPECT_EQ(run(flags + " a.wav").status, 0) << flags;
        return testsupport::readFileBytes((dir / "a.qo").string());
    }

    const Bytes trailer = {'j', 'u', 'n', 'k', 3, 0, 0, 0, 'x', 'y', 'z', 0};
    Bytes wav;
};

TEST_F(ContainerLayout, HeaderFieldsSeekEntryAndTrailerSitWhereTheLayoutPutsThem) {
    const struct { const char* flags; uint8_t flagsByte; uint32_t seekEntries; } cases[] = {
        {"", 1, 1}, {"-high", 3, 1}, {"-noseek", 0, 0}, {"-noseek -high", 2, 0},
    };
    const size_t n = 24;  // the canonical file's format chunk, the only stored header bytes
    const Bytes sampleBytes = slice(wav, 44, 44 + 2 * kSampleCount);
    for (const auto& c : cases) {
        const Bytes q = compress(c.flags);
        ASSERT_GT(q.size(), 100u) << c.flags;
        EXPECT_EQ(std::string(q.begin(), q.begin() + 4), "QO04") << c.flags;
        EXPECT_EQ(slice(q, 4, 12), slice(wav, 4, 12)) << "RIFF size and WAVE copied " << c.flags;
        EXPECT_EQ(le32(q, 12), n) << c.flags;
        EXPECT_EQ(slice(q, 16, 16 + n), slice(wav, 12, 36)) << c.flags;
        EXPECT_EQ(le32(q, 16 + n), static_cast<uint32_t>(kSampleCount)) << c.flags;
        EXPECT_EQ(q[20 + n], c.flagsByte) << c.flags;
        EXPECT_EQ(le32(q, 21 + n), testsupport::bitwiseCrcRegister(sampleBytes.data(), sampleBytes.size()))
            << c.flags;

        const size_t trailerField = 25 + n + 4 * c.seekEntries;
        const uint32_t trailerOffset = le32(q, trailerField);
        ASSERT_LE(trailerOffset, q.size()) << c.flags;
        EXPECT_EQ(slice(q, trailerOffset, q.size()), trailer) << c.flags;
        if (c.seekEntries == 0) continue;
        // Block 19 opens the second segment: a fresh chain turns its silence into zero
        // residuals, so blocks 19 and 20 are one set zero flag each on a fresh coder
        // (low 0x7FFFFFFF after the first, 0xBFFFFFFE after the second), then finished.
        const uint32_t entry = le32(q, 25 + n);
        EXPECT_EQ(entry, trailerOffset - 4) << c.flags;
        EXPECT_EQ(slice(q, entry, trailerOffset), (Bytes{0xBF, 0xFF, 0xFF, 0xFE})) << c.flags;
    }
}

}  // namespace
