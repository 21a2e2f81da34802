// Containers of generations 03 and 02 through the "qo" binary. Nothing here writes
// these generations, so the tests make them with their own writer from real audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "OldContainerWriter.h"
#include "ProgramRun.h"
#include "TestSupport.h"
#include "container/ContainerFormat.h"
#include "container/ContainerReader.h"
#include "container/Wav.h"
#include "foundation/Error.h"

namespace {

using namespace oldcontainer;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

// A LIST chunk before the data, and after it an odd-sized chunk with its pad byte and a stray byte.
const Bytes kListChunk = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
const Bytes kTrailer = {'J', 'U', 'N', 'K', 3, 0, 0, 0, 'a', 'b', 'c', 0, 'x'};

// The first `values` sample values of a recording in tests/data, repeated as often as needed.
std::vector<int16_t> repeatedRecording(const std::string& name, size_t values) {
    const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath(name));
    std::vector<int16_t> samples;
    while (samples.size() < values && !pcm.samples.empty())
        samples.insert(samples.end(), pcm.samples.begin(),
                       pcm.samples.begin() + static_cast<std::ptrdiff_t>(
                                                 std::min(pcm.samples.size(), values - samples.size())));
    return samples;
}

// What a generation-02 container restores: the RIFF header as stored, the 24 bytes of the
// format chunk it keeps, a data chunk and the samples; no other chunk and no trailer.
Bytes generation02Wav(const Bytes& source) {
    const WavParts parts = splitWav(source);
    Bytes wav(source.begin(), source.begin() + 12);
    wav.insert(wav.end(), parts.restHeader.begin(), parts.restHeader.begin() + 24);
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    putLe(wav, static_cast<uint32_t>(2 * parts.samples.size()), 4);
    const Bytes data = testsupport::littleEndianBytes(parts.samples);
    wav.insert(wav.end(), data.begin(), data.end());
    return wav;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct RoundTripCase {
    std::string name;
    int version;
    std::string recording;
    int channels;
    size_t values;
    bool seekable;
    uint8_t extraFlags;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

// 16 blocks of 73728 values form a coding segment; 17 blocks and a little more cross a
// key block and end on a short block.
constexpr size_t kPastKeyBlock = 17 * 73728 + 1000;

const RoundTripCase kRoundTrips[] = {
    {"g03_stereo_seekable", 3, "real_bass_st.wav", 2, kPastKeyBlock, true, 0},
    {"g03_stereo_oddcount_noseek", 3, "real_bass_st.wav", 2, kPastKeyBlock + 1, false, 0},
    {"g03_mono_seekable_highbit", 3, "real_tabla_mono.wav", 1, kPastKeyBlock, true, 0x02},
    {"g03_mono_noseek_ignoredbits", 3, "real_tabla_mono.wav", 1, kPastKeyBlock + 1, false, 0xFC},
    {"g03_stereo_empty", 3, "real_bass_st.wav", 2, 0, true, 0},
    {"g03_stereo_odd_single_value", 3, "real_bass_st.wav", 2, 1, true, 0},
    {"g02_stereo_seekable", 2, "real_bass_st.wav", 2, kPastKeyBlock, true, 0},
    {"g02_stereo_oddcount_noseek", 2, "real_bass_st.wav", 2, kPastKeyBlock + 1, false, 0x02},
    {"g02_mono_seekable", 2, "real_tabla_mono.wav", 1, kPastKeyBlock + 1, true, 0},
    {"g02_mono_noseek", 2, "real_tabla_mono.wav", 1, 5000, false, 0},
};

class OldContainerRoundTrip : public ProgramRun, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(OldContainerRoundTrip, RestoresTheWavFromAFileAndFromStandardInput) {
    const RoundTripCase& c = GetParam();
    const Bytes source = makeWav(c.channels, repeatedRecording(c.recording, c.values), kListChunk, kTrailer);
    writeFileBytes((dir / "old.qo").string(),
                   writeOldContainer(splitWav(source), {c.version, c.seekable, c.extraFlags, std::nullopt}));

    const Bytes fromFile = c.version == 3 ? source : generation02Wav(source);
    const RunResult named = run("old.qo named.wav");
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.err, "");
    EXPECT_TRUE(contains(named.out, "\rFinished old.qo - time taken: "));
    EXPECT_TRUE(readFileBytes((dir / "named.wav").string()) == fromFile) << "restored file differs";

    const RunResult piped = run("-cinout", "old.qo", "piped.wav");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.err, "");
    EXPECT_TRUE(readFileBytes((dir / "piped.wav").string()) == fromFile) << "file restored from standard input differs";
}

INSTANTIATE_TEST_SUITE_P(Containers, OldContainerRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return info.param.name; });

// Pairs whose difference does not fit 16 bits lose it in the mid/side convertor:
// (-20000, 20000) is stored as (-25536, 0) and comes back as (12768, -12768), and
// (30000, -30000) as (5536, 0), back as (-2768, 2768). Each wide pair is followed by an
// equal pair, so the convertor of either generation is on again at the next wide pair.
const std::vector<int16_t> kWidePairs = {-20000, 20000, 5, 5, 30000, -30000, 7, 7};
const std::vector<int16_t> kWidePairsRestored = {12768, -12768, 5, 5, -2768, 2768, 7, 7};

std::vector<int16_t> repeated(const std::vector<int16_t>& pattern, int times) {
    std::vector<int16_t> v;
    for (int i = 0; i < times; ++i) v.insert(v.end(), pattern.begin(), pattern.end());
    return v;
}

class WideStereoPairs : public ProgramRun, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(WideStereoPairs, ComeBackAsTheConvertorStoresThem) {
    const auto [version, crcOfOriginal] = GetParam();
    const std::vector<int16_t> original = repeated(kWidePairs, 2000);
    const std::vector<int16_t> restored = repeated(kWidePairsRestored, 2000);
    writeFileBytes((dir / "wide.qo").string(),
                   writeOldContainer(splitWav(makeWav(2, original)),
                                     {version, true, 0, sampleCrc(crcOfOriginal ? original : restored)}));
    const RunResult r = run("wide.qo out.wav");
    EXPECT_EQ(r.status, crcOfOriginal ? 1 : 0);
    EXPECT_EQ(r.err, crcOfOriginal ? "Warning: CRC check failed!\nout.wav holds all 16000 samples, but they do not match "
                                     "their checksum.\n(while restoring wide.qo)\n\n"
                                   : "");
    EXPECT_TRUE(readFileBytes((dir / "out.wav").string()) == makeWav(2, restored));
}

INSTANTIATE_TEST_SUITE_P(Generations, WideStereoPairs, ::testing::Combine(::testing::Values(2, 3), ::testing::Bool()),
                         [](const auto& info) {
                             return "g0" + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_crcOfOriginal" : "_crcOfRestored");
                         });

using OldContainerProgram = ProgramRun;

TEST_F(OldContainerProgram, CorpusFilesComeBackFromBothGenerations) {
    QO_REQUIRE_CORPUS();
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(QO_CORPUS_DIR))
        if (entry.path().extension() == ".wav" && entry.path().filename().string().rfind("reject_", 0) != 0)
            names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const Bytes source = readFileBytes(name);
        const WavParts parts = splitWav(source);
        if (parts.channels() != 1 && parts.channels() != 2) continue;
        // Stereo pairs further apart than 32767 need not survive the mid/side convertor
        // (WideStereoPairs shows what becomes of them); such a file only has to decode.
        bool exact = true;
        for (size_t i = 0; parts.channels() == 2 && i + 1 < parts.samples.size(); i += 2)
            exact = exact && std::abs(parts.samples[i + 1] - parts.samples[i]) <= 32767;
        for (int version : {3, 2}) {
            SCOPED_TRACE(name + ", generation " + std::to_string(version));
            writeFileBytes((dir / "c.qo").string(), writeOldContainer(parts, {version, true, 0, std::nullopt}));
            std::filesystem::remove(dir / "out.wav");
            const RunResult r = run("c.qo out.wav");
            if (!exact) {
                EXPECT_TRUE(r.status == 0 || (r.err.rfind("Warning: CRC check failed!\nout.wav holds all ", 0) == 0 &&
                                              contains(r.err, " samples, but they do not match their checksum.\n"
                                                              "(while restoring c.qo)\n\n")))
                    << r.err;
                continue;
            }
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(readFileBytes((dir / "out.wav").string()) == (version == 3 ? source : generation02Wav(source)));
        }
    }
}

TEST_F(OldContainerProgram, ChannelCountsOtherThanOneAndTwoEndTheFile) {
    for (int version : {2, 3}) {
        const Bytes container = writeOldContainer(
            splitWav(makeWav(1, repeatedRecording("real_tabla_mono.wav", 5000))), {version, true, 0, std::nullopt});
        const size_t channelsAt = (version == 3 ? 16 : 12) + 10;
        for (int channels : {0, 3}) {
            SCOPED_TRACE("generation " + std::to_string(version) + ", " + std::to_string(channels) + " channels");
            Bytes damaged = container;
            damaged[channelsAt] = static_cast<uint8_t>(channels);
            writeFileBytes((dir / "c.qo").string(), damaged);
            const RunResult r = run("-overwrite c.qo out.wav");
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "\nError - unsupported channel count " + std::to_string(channels) +
                                 " in container.\nNothing was kept under the name out.wav.\n(while restoring c.qo)\n");
        }
    }
}

// A seekable generation-03 container of two coding segments whose seek entry is wrong:
// outside the file or the header the reader refuses to seek; on standard input it cannot
// step back further than the bytes it still holds; a slightly wrong start decodes into
// an Error or a checksum mismatch.
TEST_F(OldContainerProgram, DamagedSeekEntryEndsInAnErrorOrTheChecksumWarning) {
    const Bytes source = makeWav(2, repeatedRecording("real_bass_st.wav", kPastKeyBlock));
    const Bytes container = writeOldContainer(splitWav(source), {3, true, 0, std::nullopt});
    const size_t entryAt = 16 + 24 + 9;  // after the 24-byte format chunk, the count, flags and checksum
    const auto le32 = [&](size_t at) {
        return container[at] | (container[at + 1] << 8) | (container[at + 2] << 16) | (uint32_t{container[at + 3]} << 24);
    };
    const uint32_t entry = le32(entryAt);
    const uint32_t sampleCount = le32(entryAt - 9);
    struct Case {
        uint32_t entry;
        std::string args;
        std::string error;  // empty: an Error or the checksum warning
    };
    const Case cases[] = {
        {0, "d.qo out.wav", "\nUnable to seek - corrupt input file?\n"},
        {0x80000000u, "d.qo out.wav", "\nUnable to seek - corrupt input file?\n"},
        {static_cast<uint32_t>(container.size() + 1), "d.qo out.wav", "\nUnable to seek - corrupt input file?\n"},
        {entry - 1, "d.qo out.wav", ""},
        {entry + 3, "d.qo out.wav", ""},
        {entry - 6000, "-cinout", "\nUnable to seek - corrupt input file?\n"},
        {entry + 3, "-cinout", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args + " with entry " + std::to_string(c.entry));
        Bytes damaged = container;
        patchLe32(damaged, entryAt, c.entry);
        writeFileBytes((dir / "d.qo").string(), damaged);
        std::filesystem::remove(dir / "out.wav");
        const bool piped = c.args == "-cinout";
        const RunResult r = piped ? run(c.args, "d.qo", "out.wav") : run(c.args);
        EXPECT_EQ(r.status, 1);
        if (!c.error.empty()) {
            // A named output keeps the first segment's samples and says so; what
            // went to standard output is said to be incomplete.
            const std::string note = piped ? "What was written to standard output is incomplete.\n"
                                           : "The restore is incomplete: out.wav holds only the first " +
                                                 std::to_string(16 * 73728) + " of " + std::to_string(sampleCount) +
                                                 " samples.\n";
            EXPECT_EQ(r.err, c.error + note + "(while restoring " + (piped ? "standard input" : "d.qo") + ")\n");
        } else {
            const std::string left = piped ? "What was written to standard output does not match its checksum.\n"
                                           : "out.wav holds all " + std::to_string(sampleCount) +
                                                 " samples, but they do not match their checksum.\n";
            EXPECT_TRUE(r.err == "Warning: CRC check failed!\n" + left + "(while restoring " +
                                     std::string(piped ? "standard input" : "d.qo") + ")\n\n" ||
                        (r.err.rfind("\n", 0) == 0 && !contains(r.err, "unexpected failure")))
                << r.err;
        }
    }
}

uint32_t le32At(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

// The trailer starts where the last segment's coded bytes end, which the reader finds
// from the bits its bit coder took: any other stored offset, past the end of the file
// or inside the coded data, is damage, from a file and from standard input alike, with
// or without an existing file. Here every bit of the offset field flipped, and offsets
// one byte off either way.
TEST_F(OldContainerProgram, TrailerOffsetThatCannotBeRightIsDamage) {
    const WavParts parts = splitWav(readFileBytes(testsupport::dataPath("small_edge_list_trailing_st.wav")));
    const Bytes container = writeOldContainer(parts, {3, true, 0, std::nullopt});
    const size_t field = 16 + parts.restHeader.size() + 9;  // after the stored header, count, flags and checksum
    const uint32_t offset = le32At(container, field);
    ASSERT_EQ(offset, container.size() - parts.trailer.size());
    std::vector<uint32_t> offsets = {offset - 1, offset + 1};
    for (int bit = 0; bit < 32; ++bit) offsets.push_back(offset ^ (1u << bit));
    const Bytes old = {'o', 'l', 'd'};
    for (const uint32_t damaged : offsets) {
        for (const bool piped : {false, true}) {
            for (const bool existing : {false, true}) {
                SCOPED_TRACE("offset " + std::to_string(damaged) + (piped ? " from standard input" : "") +
                             (existing ? " over an existing file" : ""));
                Bytes changed = container;
                patchLe32(changed, field, damaged);
                writeFileBytes((dir / "d.qo").string(), changed);
                std::filesystem::remove(dir / "out.wav");
                if (existing) writeFileBytes((dir / "out.wav").string(), old);
                const RunResult r = run(std::string("-overwrite ") + (piped ? "-cin " : "") + "d.qo out.wav",
                                        piped ? "d.qo" : "");
                EXPECT_EQ(r.status, 1);
                EXPECT_TRUE(contains(r.err, std::string("\nError - file ") + (piped ? "standard input" : "d.qo") +
                                                " has a damaged trailer offset; the trailer was not restored.\n"))
                    << r.err;
                if (existing) {
                    EXPECT_TRUE(readFileBytes((dir / "out.wav").string()) == old);
                }
            }
        }
    }
}

// A bit coder reads ahead, and past the end of its input it decodes zeros as samples:
// a container cut within its coded data ends in the end-of-file error at the last
// block, even one byte short, instead of a restore whose checksum alone says so.
TEST_F(OldContainerProgram, CutWithinTheCodedDataIsAnEarlyEnd) {
    const Bytes source = makeWav(1, repeatedRecording("real_tabla_mono.wav", 90000));
    for (const int version : {2, 3}) {
        const Bytes container = writeOldContainer(splitWav(source), {version, true, 0, std::nullopt});
        for (const size_t cut : {size_t{1}, size_t{2000}}) {
            for (const bool piped : {false, true}) {
                SCOPED_TRACE("generation " + std::to_string(version) + " cut by " + std::to_string(cut) +
                             (piped ? " from standard input" : ""));
                writeFileBytes((dir / "d.qo").string(), Bytes(container.begin(), container.end() - cut));
                std::filesystem::remove(dir / "out.wav");
                const RunResult r = run(std::string(piped ? "-cin " : "") + "d.qo out.wav", piped ? "d.qo" : "");
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.err.rfind("\nError - unexpected end of file.\n", 0), 0u) << r.err;
                EXPECT_FALSE(contains(r.err, "CRC")) << r.err;
            }
        }
    }
}

// The reader reads its container to the end through the descriptor it opened. A name
// replaced by another file meanwhile changes nothing, also where the bit coder of a
// generation-03 container smaller than one of its reads has met the end of the file;
// a file cut meanwhile ends in an Error where its bytes stop, never in zeros.
TEST_F(OldContainerProgram, NameSwappedOrFileCutWhileTheTrailerIsRead) {
    const Bytes small = readFileBytes(testsupport::dataPath("small_edge_list_trailing_st.wav"));
    Bytes longChunk = {'Z', 'Z', 'Z', 'Z'};
    putLe(longChunk, 100000, 4);
    for (uint32_t i = 0; i < 100000; ++i) longChunk.push_back(static_cast<uint8_t>(i * 31 + (i >> 9)));
    const Bytes large = makeWav(2, repeatedRecording("real_bass_st.wav", 40000), {}, longChunk);
    for (const auto& [name, wav] : {std::pair{"small", small}, std::pair{"large", large}}) {
        writeFileBytes((dir / (std::string(name) + ".wav")).string(), wav);
        ASSERT_EQ(run(std::string(name) + ".wav").status, 0);
    }
    const struct {
        std::string what;
        Bytes container;
        Bytes trailer;
        bool cut;  // else the name is swapped
    } cases[] = {
        {"generation 03 smaller than one read, name swapped",
         writeOldContainer(splitWav(small), {3, true, 0, std::nullopt}), splitWav(small).trailer, false},
        {"generation 04, name swapped", readFileBytes((dir / "small.qo").string()), splitWav(small).trailer, false},
        {"generation 03, cut", writeOldContainer(splitWav(large), {3, true, 0, std::nullopt}), longChunk, true},
        {"generation 04, cut", readFileBytes((dir / "large.qo").string()), longChunk, true},
    };
    const std::string path = (dir / "c.qo").string();
    const std::string out = (dir / "trailer.bin").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_LT(c.trailer.size(), c.container.size());
        writeFileBytes(path, c.container);
        std::filesystem::remove(out);
        ContainerReader reader(path);
        SampleBlock samples;
        for (int32_t i = 0; i < reader.blockCount; ++i) reader.readBlock(samples, i);
        const uintmax_t cutAt = c.cut ? c.container.size() - 60000 : 0;
        if (c.cut) {
            std::filesystem::resize_file(path, cutAt);
        } else {
            Bytes other = c.container;
            std::fill(other.end() - static_cast<std::ptrdiff_t>(c.trailer.size()), other.end(), 'X');
            writeFileBytes((dir / "other.qo").string(), other);
            std::filesystem::rename(dir / "other.qo", path);
        }
        RunFiles files;
        WavWriter writer(out, files);
        const std::string error = testsupport::errorOf([&] {
            EXPECT_EQ(reader.copyTrailer(writer), static_cast<int64_t>(c.trailer.size()));
            writer.finish();
        });
        if (c.cut) {
            EXPECT_EQ(error, "Error - file " + path + " was cut while it was read: it ends after " +
                                 std::to_string(cutAt) + " of the " + std::to_string(c.container.size()) +
                                 " bytes it had when it was opened.");
        } else {
            EXPECT_EQ(error, "(no error)");
            EXPECT_TRUE(readFileBytes(out) == c.trailer);
        }
    }
}

// Decodes a container in this process, as the decompressor does, and tells how it ended.
struct DecodeOutcome {
    std::string error;    // the Error's message, empty when every block decoded
    bool crcMatches = false;
    bool restored = false;  // every sample equals the original
};

DecodeOutcome decodeInProcess(const std::string& path, const std::vector<int16_t>& original) {
    DecodeOutcome outcome;
    try {
        ContainerReader reader(path);
        Crc32 crc;
        SampleBlock samples;
        size_t done = 0;
        bool same = true;
        for (int32_t i = 0; i < reader.blockCount; ++i) {
            reader.readBlock(samples, i);
            crc.updateSamples(samples.data(), samples.size());
            same = same && done + samples.size() <= original.size() &&
                   std::equal(samples.begin(), samples.end(), original.begin() + static_cast<std::ptrdiff_t>(done));
            done += samples.size();
        }
        outcome.crcMatches = crc.value() == reader.storedCrc;
        outcome.restored = same && done == original.size();
    } catch (const Error& e) {
        outcome.error = e.message;
    }
    return outcome;
}

class DamagedOldContainer : public ::testing::TestWithParam<int> {};

// Truncated at many offsets and with bytes flipped all over, a container ends in an Error,
// or decodes with a checksum that warns, or, where the damage missed the samples (a flag
// bit the reader ignores, the trailer), restores them; it never crashes or hangs.
TEST_P(DamagedOldContainer, EndsInAnErrorOrTheChecksumWarning) {
    const int version = GetParam();
    const std::vector<int16_t> samples = repeatedRecording("real_bass_st.wav", 40000);
    const Bytes intact =
        writeOldContainer(splitWav(makeWav(2, samples, kListChunk, kTrailer)), {version, false, 0, std::nullopt});
    codertest::ScratchFile scratch;
    ASSERT_TRUE(decodeInProcess((writeFileBytes(scratch.path, intact), scratch.path), samples).restored);

    auto check = [&](const Bytes& damaged, const std::string& what) {
        writeFileBytes(scratch.path, damaged);
        const DecodeOutcome outcome = decodeInProcess(scratch.path, samples);
        if (outcome.error.empty() && outcome.crcMatches) {
            EXPECT_TRUE(outcome.restored) << what << ": wrong samples under a matching checksum";
        }
    };
    const size_t header = version == 3 ? 16 + 24 + kListChunk.size() + 13 : 12 + 24 + 13;
    std::vector<size_t> offsets;
    for (size_t at = 0; at < header + 8; ++at) offsets.push_back(at);
    for (size_t at = header + 8; at < intact.size(); at += intact.size() / 97) offsets.push_back(at);
    offsets.push_back(intact.size() - 1);
    for (size_t at : offsets) {
        check(Bytes(intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(at)),
              "truncated to " + std::to_string(at) + " bytes");
        for (uint8_t mask : {0x01, 0x80, 0xFF}) {
            Bytes flipped = intact;
            flipped[at] ^= mask;
            check(flipped, "byte " + std::to_string(at) + " xor " + std::to_string(mask));
        }
    }
}

// A sample count far beyond the coded data: the bit coder runs out of input.
TEST_P(DamagedOldContainer, SampleCountBeyondTheDataEndsInAnError) {
    const int version = GetParam();
    const std::vector<int16_t> samples = repeatedRecording("real_bass_st.wav", 40000);
    Bytes container = writeOldContainer(splitWav(makeWav(2, samples)), {version, false, 0, std::nullopt});
    patchLe32(container, version == 3 ? 16 + 24 : 12 + 24, 0x7FFFFFFE);
    codertest::ScratchFile scratch;
    writeFileBytes(scratch.path, container);
    const std::string error = decodeInProcess(scratch.path, samples).error;
    EXPECT_TRUE(error == "Error - unexpected end of file." || error == "Input data corrupt" ||
                error == "Internal error - probably due to corrupt input file.")
        << error;
}

INSTANTIATE_TEST_SUITE_P(Generations, DamagedOldContainer, ::testing::Values(2, 3),
                         [](const auto& info) { return "g0" + std::to_string(info.param); });

// Every build writes the old containers of the two recordings byte for byte as the
// x86-64 build does (the checksums of its containers are pinned here) and restores them
// to the recordings' samples: a container of either generation written on one processor
// comes back as the same samples on every other. The unit tests of each cross build run
// this under its emulator.
TEST(OldContainerBytes, AreTheX86OnesAndRestoreTheRecordings) {
    const struct {
        int version;
        const char* recording;
        uint32_t containerCrc;  // bitwiseCrcRegister of the x86-64 build's container
    } cases[] = {
        {2, "real_bass_st.wav", 0xC3FAB5CFu},
        {2, "real_tabla_mono.wav", 0xAED75667u},
        {3, "real_bass_st.wav", 0x3089F843u},
        {3, "real_tabla_mono.wav", 0xB8A1A0E8u},
    };
    codertest::ScratchFile scratch;
    for (const auto& c : cases) {
        const std::string what = std::string(c.recording) + ", generation " + std::to_string(c.version);
        const WavParts parts = splitWav(readFileBytes(testsupport::dataPath(c.recording)));
        const Bytes container = writeOldContainer(parts, {c.version, true, 0, std::nullopt});
        EXPECT_EQ(testsupport::bitwiseCrcRegister(container.data(), container.size()), c.containerCrc) << what;
        writeFileBytes(scratch.path, container);
        const DecodeOutcome outcome = decodeInProcess(scratch.path, parts.samples);
        EXPECT_EQ(outcome.error, "") << what;
        EXPECT_TRUE(outcome.restored && outcome.crcMatches) << what;
    }
}

}  // namespace
