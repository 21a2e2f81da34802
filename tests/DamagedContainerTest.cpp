// Damaged and crafted containers made from real audio, decoded by the "qo"
// binary: every one must end with a message on standard error and exit status
// 1, never with a crash, a hang or an output larger than its sample count allows.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "OldContainerWriter.h"
#include "ProgramRun.h"
#include "TestSupport.h"
#include "container/Drivers.h"
#include "foundation/Error.h"
#include "foundation/Options.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

uint32_t get32(const Bytes& b, size_t pos) {
    return b[pos] | (b[pos + 1] << 8) | (b[pos + 2] << 16) | (static_cast<uint32_t>(b[pos + 3]) << 24);
}

void put32(Bytes& b, size_t pos, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[pos + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Offsets of a generation-04 container's header fields.
struct Layout {
    explicit Layout(const Bytes& c)
        : storedHeader(get32(c, 12)), sampleCount(16 + storedHeader), flags(20 + storedHeader),
          crc(21 + storedHeader), seekTable(25 + storedHeader) {
        const int32_t count = static_cast<int32_t>(get32(c, sampleCount));
        const int32_t blocks = (count + 61439) / 61440;
        entries = (c[flags] & 1) ? (blocks - 1) / 19 : 0;
        trailerField = seekTable + 4 * entries;
        firstSegment = trailerField + 4;
        trailer = get32(c, trailerField);
    }
    size_t storedHeader, sampleCount, flags, crc, seekTable, trailerField, firstSegment, trailer;
    int32_t entries = 0;
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A decoder's report of a damaged file: an error line, or the checksum warning
// when the damage still decodes.
bool reportsDamage(const std::string& err) {
    for (const char* start : {"\nError", "\nUnable to seek", "\nInternal error", "\nInput data corrupt"})
        if (contains(err, start)) return true;
    return contains(err, "Warning: CRC check failed!");
}

class DamagedContainer : public ProgramRun {
protected:
    void SetUp() override {
        ProgramRun::SetUp();
        launcher = "timeout 60";  // a hang fails the case instead of the whole run
    }

    // Compresses samples into a container in the scratch folder and returns its bytes.
    Bytes compress(const Bytes& wav, const std::string& flags = "") {
        writeFileBytes((dir / "src.wav").string(), wav);
        const RunResult r = run("-overwrite " + flags + " src.wav src.qo");
        EXPECT_EQ(r.status, 0) << r.err;
        reference = readFileBytes((dir / "src.qo").string());
        return reference;
    }

    Bytes shortContainer() { return compress(readFileBytes(testsupport::dataPath("real_tabla_mono.wav"))); }

    // Real stereo audio over 20 blocks: two coding segments and one seek entry.
    Bytes twoSegmentContainer() {
        const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath("real_bass_st.wav"));
        std::vector<int16_t> samples;
        while (samples.size() < 19u * 61440u + 5000u) samples.insert(samples.end(), pcm.samples.begin(), pcm.samples.end());
        samples.resize(19u * 61440u + 5000u);
        return compress(testsupport::canonicalWav(2, samples));
    }

    Bytes reference;

    struct Outcome {
        RunResult run;
        uintmax_t outputSize = 0;
        double seconds = 0;
    };

    Outcome decode(const Bytes& container, const std::string& flags = "") {
        writeFileBytes((dir / "d.qo").string(), container);
        std::filesystem::remove(dir / "d.wav");
        const auto start = std::chrono::steady_clock::now();
        Outcome o;
        // With -cin the container is standard input.
        o.run = run("-overwrite " + flags + " d.qo d.wav", contains(flags, "-cin") ? "d.qo" : "");
        o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::error_code ec;
        o.outputSize = std::filesystem::file_size(dir / "d.wav", ec);
        if (ec) o.outputSize = 0;  // refused before the output was created
        return o;
    }

    // The damage is reported, the run fails, and the output holds no more than
    // the header, the samples that the stored count names, and the container's
    // own bytes as trailer. The header fields are found through the reference,
    // the intact container the damaged one was made from.
    void expectReported(const Bytes& container, const std::string& what, const std::string& flags = "") {
        const Outcome o = decode(container, flags);
        const Layout at(reference);
        uintmax_t count = get32(reference, at.sampleCount);
        if (container.size() >= at.sampleCount + 4) count = std::max<uintmax_t>(count, get32(container, at.sampleCount));
        const uintmax_t bound = 20 + at.storedHeader + 2 * count + container.size();
        EXPECT_EQ(o.run.status, 1) << what << ": " << o.run.err;
        EXPECT_TRUE(reportsDamage(o.run.err)) << what << ": " << o.run.err;
        if (!contains(o.run.err, "CRC")) {
            EXPECT_FALSE(contains(o.run.out, "Finished")) << what;
        }
        EXPECT_LE(o.outputSize, bound) << what;
        EXPECT_LT(o.seconds, 20.0) << what;
    }
};

TEST_F(DamagedContainer, TruncationAnywhereIsReported) {
    const Bytes intact = shortContainer();
    const Layout at(intact);
    ASSERT_EQ(at.trailer, intact.size()) << "the recording has no trailer";
    std::vector<size_t> cuts = {0, 1, 3, 4, 11, 12, 15, 16, 16 + at.storedHeader / 2, at.sampleCount,
                                at.flags, at.crc, at.crc + 2, at.trailerField, at.firstSegment,
                                at.firstSegment + 1, at.firstSegment + 4, intact.size() - 1};
    for (size_t cut = at.firstSegment; cut < intact.size(); cut += intact.size() / 24) cuts.push_back(cut);
    for (size_t cut : cuts)
        expectReported(Bytes(intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(cut)),
                       "cut at " + std::to_string(cut));
    // Standard input cannot seek back: the cut is met while skipping or stepping.
    expectReported(Bytes(intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(intact.size() / 2)),
                   "cut read from standard input", "-cin");
}

// A stream that ends within the header cannot be told from its length: the fields
// read on past its end are zeros, which must never pass for a container without
// samples whose checksum and trailer are wrong.
TEST_F(DamagedContainer, StreamEndingWithinTheHeaderIsAnEarlyEnd) {
    const Bytes intact = compress(readFileBytes(testsupport::dataPath("small_edge_list_trailing_st.wav")));
    const Layout at(intact);
    for (size_t cut : {at.sampleCount, at.sampleCount + 2, at.flags, at.crc, at.crc + 3, at.trailerField,
                       at.trailerField + 3}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const Outcome o = decode(Bytes(intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(cut)), "-cin");
        EXPECT_EQ(o.run.status, 1);
        EXPECT_EQ(o.run.err, "\nError - unexpected end of file.\n(while restoring standard input)\n");
        EXPECT_FALSE(exists("d.wav"));
    }
}

TEST_F(DamagedContainer, TruncationAroundTheSecondSegmentIsReported) {
    const Bytes intact = twoSegmentContainer();
    const Layout at(intact);
    ASSERT_EQ(at.entries, 1);
    const size_t second = get32(intact, at.seekTable);
    for (size_t cut : {at.seekTable + 2, second - 1, second, second + 3, (second + intact.size()) / 2})
        expectReported(Bytes(intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(cut)),
                       "cut at " + std::to_string(cut));
}

// A byte flipped where the decoder depends on it: in the channel count, the
// sample count, the flags, the checksum or the coded data.
TEST_F(DamagedContainer, FlippedBytesAreReported) {
    const Bytes intact = shortContainer();
    const Layout at(intact);
    std::vector<size_t> spots = {16 + 10, at.sampleCount, at.sampleCount + 3, at.flags, at.crc, at.crc + 3,
                                 at.firstSegment, at.firstSegment + 1};
    for (size_t pos = at.firstSegment + 2; pos + 4 < intact.size(); pos += intact.size() / 40) spots.push_back(pos);
    for (size_t pos : spots) {
        Bytes damaged = intact;
        damaged[pos] ^= 0x5A;
        expectReported(damaged, "byte " + std::to_string(pos) + " flipped");
    }
}

// Bytes nothing checks (the stored WAV header apart from its channel count, the
// unused flag bits, the trailer offset, the low bytes that end a coded stream)
// may change the output but never crash the decoder.
TEST_F(DamagedContainer, FlipsInUncheckedBytesDecodeWithoutHarm) {
    const Bytes intact = shortContainer();
    const Layout at(intact);
    for (size_t pos : {size_t{5}, size_t{9}, size_t{16}, size_t{16 + 4}, size_t{16 + 22}, at.flags, at.trailerField,
                       at.trailerField + 3, intact.size() - 1}) {
        Bytes damaged = intact;
        damaged[pos] ^= pos == at.flags ? 0xF0 : 0xFF;
        const Outcome o = decode(damaged);
        EXPECT_TRUE(o.run.status == 0 || o.run.status == 1) << "byte " << pos << ": status " << o.run.status;
        EXPECT_LE(o.outputSize, 2 * intact.size() + 2 * uintmax_t{get32(intact, at.sampleCount)});
    }
}

TEST_F(DamagedContainer, WrongMagicOrGenerationIsRefusedWithoutOutput) {
    const Bytes intact = shortContainer();
    const struct {
        const char* magic;
        const char* message;
    } cases[] = {
        {"XO04", "\nError - file d.qo does not appear to be in .qo format!\n"},
        {"Qo04", "\nError - file d.qo does not appear to be in .qo format!\n"},
        {"QO05", "\nError - file d.qo appears to compressed by a different version of Qo.\nVisit "},
        {"QO14", "\nError - file d.qo appears to compressed by a different version of Qo.\nVisit "},
        {"QO01", "\nError - file d.qo appears to compressed by a different version of Qo.\nVisit "},
    };
    for (const auto& c : cases) {
        Bytes damaged = intact;
        std::memcpy(damaged.data(), c.magic, 4);
        const Outcome o = decode(damaged);
        EXPECT_EQ(o.run.status, 1) << c.magic;
        EXPECT_EQ(o.run.err.rfind(c.message, 0), 0u) << c.magic << ": " << o.run.err;
        EXPECT_FALSE(exists("d.wav")) << c.magic;
    }
    // Generation-04 data read as an older generation is damage, not a crash.
    for (const char* older : {"QO03", "QO02"}) {
        Bytes relabelled = intact;
        std::memcpy(relabelled.data(), older, 4);
        expectReported(relabelled, older);
    }
}

// Each damaged header field gives its own message, from a file and from standard
// input, which cannot tell the container's length before it ends.
TEST_F(DamagedContainer, AbsurdHeaderFieldsAreReported) {
    const Bytes intact = twoSegmentContainer();
    const Layout at(intact);
    const uint32_t second = get32(intact, at.seekTable);
    const std::string damagedHeader = "Error - file d.qo has a damaged header.";
    const std::string damagedStream = "Error - file standard input has a damaged header.";
    const std::string unableToSeek = "Unable to seek - corrupt input file?";
    const std::string endOfFile = "Error - unexpected end of file.";
    const struct {
        const char* what;
        size_t field;
        uint32_t value;
        std::string fromFile;    // the message's first line
        std::string fromStream;
    } cases[] = {
        {"stored header size 0", 12, 0, damagedHeader, damagedStream},
        {"stored header size 11", 12, 11, damagedHeader, damagedStream},
        {"stored header size beyond the file", 12, static_cast<uint32_t>(intact.size() - 28), damagedHeader, endOfFile},
        {"stored header size 2^31 - 1", 12, 0x7FFFFFFFu, damagedHeader, endOfFile},
        {"stored header size negative", 12, 0xFFFFFFFFu, damagedHeader, damagedStream},
        {"seek entry 0", at.seekTable, 0, unableToSeek, unableToSeek},
        {"seek entry inside the header", at.seekTable, 20, unableToSeek, unableToSeek},
        // From a file the second segment is decoded from there: wrong samples, whose
        // data does not end where the trailer starts.
        {"seek entry inside the first segment", at.seekTable, second / 2, "Warning: CRC check failed!", unableToSeek},
        {"seek entry past the end", at.seekTable, static_cast<uint32_t>(intact.size() + 1000), unableToSeek, endOfFile},
        {"seek entry negative as int32", at.seekTable, 0xFFFFFFF0u, unableToSeek, endOfFile},
        {"sample count negative", at.sampleCount, 0x80000000u, damagedHeader, damagedStream},
        {"sample count huge over a short file", at.sampleCount, 0x7FFFFFFFu, "Input data corrupt", "Input data corrupt"},
    };
    for (const auto& c : cases) {
        Bytes damaged = intact;
        put32(damaged, c.field, c.value);
        expectReported(damaged, c.what);
        const Outcome fromFile = decode(damaged);
        EXPECT_EQ(fromFile.run.err.substr(0, c.fromFile.size() + 2), "\n" + c.fromFile + "\n") << c.what;
        expectReported(damaged, std::string(c.what) + " from standard input", "-cin");
        const Outcome fromStream = decode(damaged, "-cin");
        EXPECT_EQ(fromStream.run.err.substr(0, c.fromStream.size() + 2), "\n" + c.fromStream + "\n") << c.what;
    }
}

// A seek entry a few bytes before the end of the first segment: the range decoder
// took those bytes past the push-back history of standard input, which cannot
// deliver them again. The restore ends there, instead of the stream going on from
// where it stands as though the entry were right.
TEST_F(DamagedContainer, SeekEntryBehindTheFirstSegmentsEndEndsAStreamRestoreThere) {
    const Bytes intact = twoSegmentContainer();
    const Layout at(intact);
    const uint32_t second = get32(intact, at.seekTable);
    for (uint32_t back : {1u, 4u, 12u}) {
        Bytes damaged = intact;
        put32(damaged, at.seekTable, second - back);
        writeFileBytes((dir / "d.qo").string(), damaged);
        const RunResult piped = run("-overwrite -cin d.qo d.wav", "d.qo");
        EXPECT_EQ(piped.status, 1) << back;
        EXPECT_TRUE(contains(piped.err, "\nUnable to seek - corrupt input file?")) << back << ": " << piped.err;
    }
}

// A trailer that cannot be restored after every sample was: the samples' checksum
// is compared all the same, and the report says that the samples are complete and
// whether they match it, never that the restore is incomplete. An existing file is
// kept; otherwise the file holds the samples, its header sizes matching them.
TEST_F(DamagedContainer, DamagedTrailerAfterCompleteSamplesSaysWhetherTheyMatch) {
    struct Case {
        std::string what;
        Bytes container;
        Bytes wav;  // the file that was compressed
        size_t trailerBytes;
        uint32_t sampleCount;
        bool match;
    };
    std::vector<Case> cases;
    // The trailer starts exactly where the last segment's decoder stopped: any other
    // stored offset, inside the file or not, is damage.
    const Bytes listed = readFileBytes(testsupport::dataPath("small_edge_list_trailing_st.wav"));
    const Bytes withTrailer = compress(listed);
    const Layout at(withTrailer);
    ASSERT_LT(at.trailer, withTrailer.size());
    const uint32_t trailer = static_cast<uint32_t>(at.trailer);
    for (uint32_t offset : {trailer - 1, trailer + 1, static_cast<uint32_t>(withTrailer.size() + 1), 0x7FFFFFFFu,
                            0xFFFFFFFFu}) {
        Bytes damaged = withTrailer;
        put32(damaged, at.trailerField, offset);
        cases.push_back({"trailer offset " + std::to_string(offset), damaged, listed, withTrailer.size() - at.trailer,
                         get32(withTrailer, at.sampleCount), true});
    }
    // One flipped bit in the coded data that keeps the decoder in step up to the
    // trailer offset check: wrong samples, then a damaged trailer.
    const Bytes tabla = readFileBytes(testsupport::dataPath("real_tabla_mono.wav"));
    Bytes flipped = compress(tabla);
    flipped.at(40098) ^= 0x02;
    cases.push_back({"a bit of the coded data flipped", flipped, tabla, 0, get32(flipped, Layout(flipped).sampleCount),
                     false});

    const Bytes old = {'o', 'l', 'd'};
    for (const Case& c : cases) {
        for (const std::string flags : {"", "-cin"}) {
            for (bool existing : {false, true}) {
                SCOPED_TRACE(c.what + " " + flags + (existing ? " over an existing file" : ""));
                writeFileBytes((dir / "d.qo").string(), c.container);
                std::filesystem::remove(dir / "d.wav");
                if (existing) writeFileBytes((dir / "d.wav").string(), old);
                const RunResult r = run("-overwrite " + flags + " d.qo d.wav", flags.empty() ? "" : "d.qo");
                EXPECT_EQ(r.status, 1);
                EXPECT_TRUE(contains(r.err, " has a damaged trailer offset; the trailer was not restored.\n")) << r.err;
                EXPECT_EQ(contains(r.err, "\nWarning: CRC check failed!\n"), !c.match) << r.err;
                EXPECT_EQ(contains(r.err, "\nThe samples are complete and match their checksum; "), c.match) << r.err;
                EXPECT_TRUE(contains(r.err, "the chunks after them were not restored.\n")) << r.err;
                EXPECT_FALSE(contains(r.err, "incomplete")) << r.err;
                const Bytes out = readFileBytes((dir / "d.wav").string());
                if (existing) {
                    EXPECT_TRUE(contains(r.err, "\nThe existing file d.wav was kept unchanged.\n")) << r.err;
                    EXPECT_TRUE(out == old);
                    continue;
                }
                EXPECT_TRUE(contains(r.err, "\nd.wav holds all " + std::to_string(c.sampleCount) +
                                                " samples, without the chunks after them.\n"))
                    << r.err;
                ASSERT_EQ(out.size(), c.wav.size() - c.trailerBytes);
                EXPECT_EQ(get32(out, 4), out.size() - 8) << "RIFF size";
                if (c.match) {
                    EXPECT_TRUE(std::equal(out.begin() + 8, out.end(), c.wav.begin() + 8));
                }
            }
        }
    }
}

// A container cut within the chunks after the samples gives back a WAV shorter than
// the RIFF size in its stored header: the restore is incomplete and says by how many
// bytes, from a file and from standard input, in generations 04 and 03, and an
// existing file is kept.
TEST_F(DamagedContainer, CutWithinTheChunksAfterTheSamplesIsIncomplete) {
    Bytes longChunk = {'Z', 'Z', 'Z', 'Z'};
    oldcontainer::putLe(longChunk, 100000, 4);
    for (uint32_t i = 0; i < 100000; ++i) longChunk.push_back(static_cast<uint8_t>(i * 7 + (i >> 8)));
    const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath("real_bass_st.wav"));
    const Bytes wav = oldcontainer::makeWav(2, std::vector<int16_t>(pcm.samples.begin(), pcm.samples.begin() + 40000),
                                            {}, longChunk);
    const std::pair<const char*, Bytes> containers[] = {
        {"generation 04", compress(wav)},
        {"generation 03", oldcontainer::writeOldContainer(oldcontainer::splitWav(wav), {3, true, 0, std::nullopt})},
    };
    const Bytes old = {'o', 'l', 'd'};
    for (const auto& [generation, container] : containers) {
        for (const std::string flags : {"", "-cin"}) {
            for (const bool existing : {false, true}) {
                SCOPED_TRACE(std::string(generation) + " " + flags + (existing ? " over an existing file" : ""));
                writeFileBytes((dir / "d.qo").string(), Bytes(container.begin(), container.end() - 60000));
                std::filesystem::remove(dir / "d.wav");
                if (existing) writeFileBytes((dir / "d.wav").string(), old);
                const RunResult r = run("-overwrite " + flags + " d.qo d.wav", flags.empty() ? "" : "d.qo");
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.err.rfind("\nError - the restored WAV is incomplete: it is 60000 bytes shorter than its "
                                      "RIFF header gives.\n",
                                      0),
                          0u)
                    << r.err;
                EXPECT_FALSE(contains(r.err, "CRC")) << r.err;
                const Bytes out = readFileBytes((dir / "d.wav").string());
                if (existing) {
                    EXPECT_TRUE(out == old);
                } else {
                    ASSERT_GE(out.size(), 44u + 80000u);
                    EXPECT_TRUE(std::equal(out.begin() + 8, out.begin() + 44 + 80000, wav.begin() + 8))
                        << "the samples are kept";
                }
            }
        }
    }
}

#if !defined(__SANITIZE_ADDRESS__)
// Exits 0 when decoding the container ends with an Error under a 256 MiB
// address-space limit, from the named file or from standard input.
[[noreturn]] void decodeUnderMemoryLimit(const std::string& path, const std::string& out, bool fromStdin) {
    const rlimit limit{256u << 20, 256u << 20};
    setrlimit(RLIMIT_AS, &limit);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::exit(4);
    if (fromStdin && std::freopen(path.c_str(), "rb", stdin) == nullptr) std::exit(4);
    stdinMode = fromStdin;
    overwriteMode = true;
    try {
        RunFiles files;
        decodeFile(path, out, files);
    } catch (const Error&) {
        std::exit(0);
    }
    std::exit(3);
}
#endif

// Whatever sizes a header claims, decoding holds no more than a few blocks in
// memory: a crafted header under an address-space limit ends with an Error.
TEST_F(DamagedContainer, CraftedSizesNeedNoHugeAllocation) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit does not combine with AddressSanitizer";
#else
    const Bytes intact = shortContainer();
    const Layout at(intact);
    const struct {
        const char* what;
        size_t field;
        uint32_t value;
        uint8_t flags;
    } cases[] = {
        {"huge sample count, seekable", at.sampleCount, 0x7FFFFFFFu, 1},
        {"huge sample count, one segment", at.sampleCount, 0x7FFFFFFFu, 0},
        {"huge stored header", 12, 0x7FFFFFF0u, 1},
        {"huge trailer offset", at.trailerField, 0x7FFFFFF0u, 1},
    };
    const std::string path = (dir / "crafted.qo").string();
    const std::string out = (dir / "crafted.wav").string();
    for (const auto& c : cases) {
        Bytes crafted = intact;
        crafted.resize(intact.size() / 3);  // the coded data ends long before the count is reached
        put32(crafted, c.field, c.value);
        crafted[at.flags] = c.flags;
        writeFileBytes(path, crafted);
        for (bool fromStdin : {false, true})
            EXPECT_EXIT(decodeUnderMemoryLimit(path, out, fromStdin), ::testing::ExitedWithCode(0), "")
                << c.what << (fromStdin ? " from standard input" : "");
    }
#endif
}

}  // namespace
