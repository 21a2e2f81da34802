// The container reader on containers of several coding segments, of every
// generation. A restore decodes every block of a segment before the next segment
// starts, and a segment holds 19 (generation 04) or 16 (02, 03) full blocks, each
// a good tenth of a second under the sanitizers: a restore that gets to a second
// segment takes seconds. So the reader is asked, as its interface allows, for the
// key blocks of a few segments out of order, then for every block of the last
// segment and for the trailer. Short blocks are always decoded, a full block only
// when the plan allows one: an earlier segment whose key block is over the budget
// is passed over, and in the last segment the read stops there. So seek entries,
// segment starts, skipping ahead and stepping back on a stream, non-key blocks and
// the trailer of a many-segment container are reached in milliseconds, or in a
// tenth of a second with a full block.
//
// Input: four plan bytes, then the container. Plan byte 0, bit 0: one full block
// may be decoded. Plan bytes 1 to 3: each, when below 128, the key block of a
// segment to visit before the last one (the byte modulo the segment count);
// visits go in ascending order, each segment once.
//
// The container is read from a named file and from standard input (which skips
// ahead or steps back through the push-back history instead of seeking). Only an
// Error may end a read. Every block both reads hand out must be the same, and when
// neither read failed, both must have read the same blocks and copied the same
// trailer. A read from standard input may fail where the file's does not (it cannot
// step back further than its history), and the other way round (only a file knows
// its length), so a failure alone is no disagreement.
//
// Beside libFuzzer's own mutations, a custom mutator moves a seek entry, the
// trailer offset or the sample count a little, as in a damaged container.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "container/ContainerFormat.h"
#include "container/ContainerReader.h"
#include "container/Wav.h"
#include "foundation/Error.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::prepareDriverRuns();
    return 0;
}

namespace {

constexpr size_t kPlanBytes = 4;

const Generation& generationOf(int version) {
    return version == 2 ? generation02 : version == 3 ? generation03 : generation04;
}

struct Plan {
    int fullBlocks;
    uint8_t visits[3];

    explicit Plan(const uint8_t* p) : fullBlocks(p[0] & 1), visits{p[1], p[2], p[3]} {}

    // The segments before the last one to visit, ascending.
    std::vector<int32_t> earlierSegments(int32_t segments) const {
        std::vector<int32_t> chosen;
        for (const uint8_t v : visits)
            if (v < 128 && v % segments != segments - 1) chosen.push_back(v % segments);
        std::sort(chosen.begin(), chosen.end());
        chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
        return chosen;
    }
};

// What one read of the container handed out.
struct Visit {
    std::vector<std::pair<int32_t, SampleBlock>> blocks;  // block index and samples, in order
    bool failed = false;
    bool trailerCopied = false;
    std::string trailer;
};

// Reads the container along the plan; an empty name reads standard input.
Visit readAlongPlan(const std::string& name, const Plan& plan, const std::string& trailerOut) {
    Visit visit;
    try {
        ContainerReader reader(name);
        const Generation& gen = generationOf(reader.version);
        const int32_t interval = reader.seekable ? gen.seekInterval : reader.blockCount;
        const int32_t segments =
            reader.blockCount == 0 ? 0 : 1 + gen.seekEntryCount(reader.blockCount, reader.seekable);
        int fullBlocksLeft = plan.fullBlocks;
        SampleBlock samples;
        // False when the block is full and the budget of full blocks is spent.
        auto read = [&](int32_t block) {
            if (gen.blockLength(block, reader.sampleCount) == gen.blockSize) {
                if (fullBlocksLeft == 0) return false;
                --fullBlocksLeft;
            }
            reader.readBlock(samples, block);
            visit.blocks.emplace_back(block, samples);
            return true;
        };
        if (segments > 0) {
            for (const int32_t s : plan.earlierSegments(segments)) read(s * interval);
            for (int32_t b = (segments - 1) * interval; b < reader.blockCount; ++b)
                if (!read(b)) return visit;
        }
        if (reader.version >= 3) {
            std::filesystem::remove(trailerOut);
            RunFiles files;
            WavWriter writer(trailerOut, files);
            reader.copyTrailer(writer);
            writer.finish();
            visit.trailerCopied = true;
            visit.trailer = fuzzsupport::slurp(trailerOut);
        }
    } catch (const Error&) {
        visit.failed = true;
    }
    return visit;
}

[[noreturn]] void disagree(const char* what, size_t blocksRead) {
    std::fprintf(stderr, "file and standard input disagree: %s, %zu blocks into the plan\n", what, blocksRead);
    std::abort();
}

void compare(const Visit& fromFile, const Visit& fromStdin) {
    const size_t common = std::min(fromFile.blocks.size(), fromStdin.blocks.size());
    for (size_t i = 0; i < common; ++i) {
        if (fromFile.blocks[i].first != fromStdin.blocks[i].first) disagree("different blocks read", i);
        if (fromFile.blocks[i].second != fromStdin.blocks[i].second) disagree("different samples", i);
    }
    if (fromFile.failed || fromStdin.failed) return;
    if (fromFile.blocks.size() != fromStdin.blocks.size()) disagree("different numbers of blocks", common);
    if (fromFile.trailerCopied != fromStdin.trailerCopied || fromFile.trailer != fromStdin.trailer)
        disagree("different trailers", common);
}

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Where the header's numbers stand in an input, as far as they lie inside it.
struct HeaderFields {
    const Generation* gen = nullptr;
    size_t countAt = 0;
    std::vector<size_t> offsetsAt;  // the seek entries, then the trailer offset
};

HeaderFields locateFields(const uint8_t* data, size_t size) {
    HeaderFields f;
    if (size < kPlanBytes + 16) return f;
    const uint8_t* c = data + kPlanBytes;
    const size_t n = size - kPlanBytes;
    if (c[0] != 'Q' || c[1] != 'O' || c[2] != '0' || c[3] < '2' || c[3] > '4') return f;
    f.gen = &generationOf(c[3] - '0');
    const uint64_t countAt = f.gen->hasTrailer ? 16 + uint64_t{le32(c + 12)} : 36;
    if (countAt + 9 > n) return f;
    f.countAt = kPlanBytes + countAt;
    const auto count = static_cast<int32_t>(le32(c + countAt));
    const int32_t entries = f.gen->seekEntryCount(f.gen->blockCount(count), (c[countAt + 4] & 1) != 0);
    const uint64_t fields = uint64_t(entries) + (f.gen->hasTrailer ? 1 : 0);
    for (uint64_t e = 0, at = countAt + 9; e < fields && at + 4 <= n; ++e, at += 4) f.offsetsAt.push_back(kPlanBytes + at);
    return f;
}

// Moves one of the header's numbers: an offset by a few bytes or by a power of two
// up to 64 KiB (about as far as a stream's history reaches back), to the end of
// the input or to another offset; the sample count by a few values or blocks.
bool moveHeaderField(uint8_t* data, size_t size, std::minstd_rand& rng) {
    const HeaderFields f = locateFields(data, size);
    if (f.countAt == 0) return false;
    const size_t pick = rng() % (f.offsetsAt.size() + 1);
    if (pick == f.offsetsAt.size()) {
        const int64_t count = static_cast<int32_t>(le32(data + f.countAt));
        const int64_t step = rng() % 2 ? f.gen->blockSize : 1;
        const int64_t moved = count + step * (static_cast<int64_t>(rng() % 7) - 3);
        putLe32(data + f.countAt, static_cast<uint32_t>(std::clamp<int64_t>(moved, 0, INT32_MAX)));
        return true;
    }
    uint8_t* at = data + f.offsetsAt[pick];
    const uint32_t value = le32(at);
    switch (rng() % 5) {
        case 0: putLe32(at, static_cast<uint32_t>(size - kPlanBytes)); break;
        case 1: putLe32(at, le32(data + f.offsetsAt[rng() % f.offsetsAt.size()])); break;
        case 2: {
            const uint32_t step = 1u << (rng() % 17);
            putLe32(at, rng() % 2 ? value + step : value - step);
            break;
        }
        default: putLe32(at, value + static_cast<uint32_t>(static_cast<int32_t>(rng() % 33) - 16)); break;
    }
    return true;
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
    std::minstd_rand rng(seed);
    if (rng() % 4 == 0 && moveHeaderField(data, size, rng)) return size;
    return LLVMFuzzerMutate(data, size, maxSize);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kPlanBytes) return 0;
    const Plan plan(data);
    const std::string in = fuzzsupport::scratchFile("input.qo", data + kPlanBytes, size - kPlanBytes);
    const std::string trailerOut = fuzzsupport::scratchPath("trailer.bin");
    const Visit fromFile = readAlongPlan(in, plan, trailerOut);
    if (std::freopen(in.c_str(), "rb", stdin) == nullptr) std::abort();
    const Visit fromStdin = readAlongPlan("", plan, trailerOut);
    compare(fromFile, fromStdin);
    return 0;
}
