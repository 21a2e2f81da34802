// The program end to end: WAV files through "qo" into containers and back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "TestSupport.h"

namespace {

using testsupport::readFileBytes;
using Bytes = std::vector<uint8_t>;
using testsupport::canonicalWav;

// Real stereo audio repeated until it spans more than one coding segment
// (19 blocks of 61440 values).
Bytes longStereoWav() {
    const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath("real_bass_st.wav"));
    std::vector<int16_t> samples;
    while (samples.size() < 21u * 61440u) samples.insert(samples.end(), pcm.samples.begin(), pcm.samples.end());
    return canonicalWav(2, samples);
}

std::vector<std::string> wavFiles(const std::string& dir, bool accepted) {
    std::vector<std::string> names;
    if (!std::filesystem::is_directory(dir)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".wav") continue;
        if ((name.find("reject_") == std::string::npos) == accepted) names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> allFiles(bool accepted) {
    std::vector<std::string> names = wavFiles(QO_TEST_DATA_DIR, accepted);
    const std::vector<std::string> corpus = wavFiles(QO_CORPUS_DIR, accepted);
    names.insert(names.end(), corpus.begin(), corpus.end());
    return names;
}

std::string caseName(const std::string& path) {
    std::string name = (path.find("/shared/corpus/") != std::string::npos ? "corpus_" : "data_") +
                       std::filesystem::path(path).stem().string();
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class AcceptedFile : public ProgramRun, public ::testing::WithParamInterface<std::tuple<std::string, std::string>> {};

TEST_P(AcceptedFile, RoundTripsByteForByte) {
    const auto& [path, mode] = GetParam();
    place(path, "in.wav");
    const RunResult enc = run(mode + " in.wav");
    ASSERT_EQ(enc.status, 0) << enc.err;
    ASSERT_TRUE(exists("in.qo"));
    EXPECT_TRUE(contains(enc.out, "\rFinished in.wav - size: " +
                                      std::to_string(std::filesystem::file_size(dir / "in.qo")) + " ratio: "));
    const RunResult dec = run("in.qo out.wav");
    ASSERT_EQ(dec.status, 0) << dec.err;
    EXPECT_EQ(dec.err, "");
    EXPECT_TRUE(readFileBytes((dir / "in.wav").string()) == readFileBytes((dir / "out.wav").string()))
        << "restored file differs";
}

INSTANTIATE_TEST_SUITE_P(Files, AcceptedFile,
                         ::testing::Combine(::testing::ValuesIn(allFiles(true)),
                                            ::testing::Values("", "-high", "-noseek")),
                         [](const auto& info) {
                             const std::string& mode = std::get<1>(info.param);
                             return caseName(std::get<0>(info.param)) + "_" + (mode.empty() ? "normal" : mode.substr(1));
                         });

class RefusedFile : public ProgramRun, public ::testing::WithParamInterface<std::string> {};

TEST_P(RefusedFile, IsRefusedWithoutOutput) {
    place(GetParam(), "in.wav");
    const RunResult r = run("in.wav");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nError - Qo currently only supports 16-bit files!\n(while compressing in.wav)\n");
    EXPECT_FALSE(exists("in.qo"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(Files, RefusedFile, ::testing::ValuesIn(allFiles(false)),
                         [](const auto& info) { return caseName(info.param); });

TEST(Corpus, IsPresentForTheWholeCorpusRuns) { QO_REQUIRE_CORPUS(); }

using Program = ProgramRun;

TEST_F(Program, KeyBlocksThroughFilesAndStandardStreams) {
    testsupport::writeFileBytes((dir / "long.wav").string(), longStereoWav());
    const Bytes original = readFileBytes((dir / "long.wav").string());
    ASSERT_EQ(run("-cin long.wav", "long.wav").status, 0);  // named output, input from stdin
    ASSERT_EQ(run("long.qo a.wav").status, 0);
    EXPECT_TRUE(readFileBytes((dir / "a.wav").string()) == original);
    ASSERT_EQ(run("-cinout", "long.qo", "b.wav").status, 0);
    EXPECT_TRUE(readFileBytes((dir / "b.wav").string()) == original);
    ASSERT_EQ(run("-cout long.qo", "", "c.wav").status, 0);
    EXPECT_TRUE(readFileBytes((dir / "c.wav").string()) == original);
    ASSERT_EQ(run("-cin long.qo d.wav", "long.qo").status, 0);
    EXPECT_TRUE(readFileBytes((dir / "d.wav").string()) == original);
}

TEST_F(Program, StandardInputKeepsTheTrailerAndNoheadDropsHeaderAndTrailer) {
    place(testsupport::dataPath("small_edge_list_trailing_st.wav"), "t.wav");
    const Bytes original = readFileBytes((dir / "t.wav").string());
    ASSERT_EQ(run("t.wav").status, 0);
    const testsupport::Pcm pcm = testsupport::loadPcm16((dir / "t.wav").string());
    const Bytes raw = testsupport::littleEndianBytes(pcm.samples);

    ASSERT_EQ(run("-nohead t.qo raw.wav").status, 0);
    EXPECT_TRUE(readFileBytes((dir / "raw.wav").string()) == raw);
    // The chunks after the audio follow the last segment in the stream.
    ASSERT_EQ(run("-cinout", "t.qo", "piped.wav").status, 0);
    EXPECT_TRUE(readFileBytes((dir / "piped.wav").string()) == original);
    ASSERT_EQ(run("-cin t.qo fromstdin.wav", "t.qo").status, 0);
    EXPECT_TRUE(readFileBytes((dir / "fromstdin.wav").string()) == original);
}

TEST_F(Program, ExistingOutputIsRefusedUnlessOverwriting) {
    place(testsupport::dataPath("real_tabla_mono.wav"), "a.wav");
    ASSERT_EQ(run("a.wav").status, 0);
    testsupport::writeFileBytes((dir / "a.qo").string(), {'k', 'e', 'e', 'p'});
    const RunResult refused = run("a.wav");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "\nFile a.qo already exists, skipping (-overwrite forces overwrite).\n(while compressing a.wav)\n");
    EXPECT_EQ(readFileBytes((dir / "a.qo").string()), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(run("-overwrite a.wav").status, 0);
    EXPECT_GT(std::filesystem::file_size(dir / "a.qo"), 4u);
    const RunResult decodeRefused = run("a.qo a.wav");
    EXPECT_EQ(decodeRefused.status, 1);
    EXPECT_EQ(decodeRefused.err,
              "\nFile a.wav already exists, skipping (-overwrite forces overwrite).\n(while restoring a.qo)\n");
}

// The failure's message names no file, so the line after it names the input; with
// -cout no progress line tells which input it was.
TEST_F(Program, BadFileAmongGoodOnesEndsOnlyItselfAndIsNamed) {
    place(testsupport::dataPath("real_tabla_mono.wav"), "a.wav");
    place(testsupport::dataPath("small_reject_pcm24_st.wav"), "b8.wav");
    place(testsupport::dataPath("real_bass_st.wav"), "c.wav");
    for (const char* flags : {"", "-cout"}) {
        SCOPED_TRACE(flags);
        const RunResult r = run("-overwrite " + std::string(flags) + " a.wav b8.wav c.wav");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "\nError - Qo currently only supports 16-bit files!\n(while compressing b8.wav)\n");
        EXPECT_TRUE(exists("a.qo"));
        EXPECT_FALSE(exists("b8.qo"));
        EXPECT_TRUE(exists("c.qo"));
    }
    std::filesystem::remove(dir / "a.wav");
    std::filesystem::remove(dir / "c.wav");
    EXPECT_EQ(run("a.qo c.qo").status, 0);
}

// A stream cannot tell its length: one that ends within its samples fails while the
// container is being written.
TEST_F(Program, FailedCompressLeavesNoContainerAndKeepsAnExistingOne) {
    Bytes truncated = readFileBytes(testsupport::dataPath("real_bass_st.wav"));
    truncated.resize(20000);
    testsupport::writeFileBytes((dir / "cut.wav").string(), truncated);
    const RunResult r = run("-cin cut.wav", "cut.wav");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nError - unexpected end of file.\n(while compressing standard input)\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1)
        << "neither the container nor a temporary file is left";
    testsupport::writeFileBytes((dir / "cut.qo").string(), {'o', 'l', 'd'});
    EXPECT_EQ(run("-cin -overwrite cut.wav", "cut.wav").status, 1);
    EXPECT_EQ(readFileBytes((dir / "cut.qo").string()), (Bytes{'o', 'l', 'd'}));
}

// A container restores the data size as twice its whole samples, so a WAV file
// whose data chunk has an odd size would not come back as it went in: it is
// refused before any output is made, and an existing container stays.
TEST_F(Program, OddDataSizeIsRefusedBeforeAnyOutput) {
    const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath("real_tabla_mono.wav"));
    Bytes wav = canonicalWav(1, std::vector<int16_t>(pcm.samples.begin(), pcm.samples.begin() + 500));
    const Bytes after = {0x5A, 0, 'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};  // odd byte, pad, chunk
    wav.insert(wav.end(), after.begin(), after.end());
    wav[40] = 0xE9;  // data size 1001
    wav[41] = 0x03;
    wav[4] = static_cast<uint8_t>(wav.size() - 8);
    wav[5] = static_cast<uint8_t>((wav.size() - 8) >> 8);
    testsupport::writeFileBytes((dir / "odd.wav").string(), wav);
    const Bytes old = {'o', 'l', 'd'};
    const struct {
        const char* args;
        const char* input;
        bool existing;
    } cases[] = {{"odd.wav", "", false}, {"-cin odd.wav", "odd.wav", false}, {"-overwrite odd.wav", "", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        if (c.existing) testsupport::writeFileBytes((dir / "odd.qo").string(), old);
        const RunResult r = run(c.args, c.input);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "\nError - wav data chunk of odd size (1001 bytes) is not supported: the file "
                                    "would not be restored exactly.\n"))
            << r.err;
        EXPECT_FALSE(contains(r.out, "Encoding")) << "work was done first";
        if (c.existing) {
            EXPECT_TRUE(readFileBytes((dir / "odd.qo").string()) == old);
        }
        expectOnly(c.existing ? std::vector<std::string>{"odd.wav", "odd.qo"} : std::vector<std::string>{"odd.wav"});
        std::filesystem::remove(dir / "odd.qo");
    }
}

// What a file holds is checked against its header before any output: a data chunk
// that claims more bytes than the file holds (as some programs leave it) is refused
// with both numbers, and so is a header whose first chunk is not the format chunk (a
// JUNK chunk first, as ffmpeg -rf64 auto writes). From a stream, whose length is not
// known, the data chunk ends at the end of the input.
TEST_F(Program, HeadersThatDoNotFitTheFileAreRefusedBeforeAnyOutput) {
    const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath("real_tabla_mono.wav"));
    Bytes claims = canonicalWav(1, std::vector<int16_t>(pcm.samples.begin(), pcm.samples.begin() + 500));
    const Bytes huge = {0x00, 0xF0, 0xFF, 0x7F};  // 0x7FFFF000 bytes of samples
    std::copy(huge.begin(), huge.end(), claims.begin() + 40);
    Bytes junkFirst = canonicalWav(1, std::vector<int16_t>(pcm.samples.begin(), pcm.samples.begin() + 500));
    const Bytes junk = {'J', 'U', 'N', 'K', 4, 0, 0, 0, 0, 0, 0, 0};
    junkFirst.insert(junkFirst.begin() + 12, junk.begin(), junk.end());
    testsupport::writeFileBytes((dir / "claims.wav").string(), claims);
    testsupport::writeFileBytes((dir / "junk.wav").string(), junkFirst);
    const Bytes old = {'o', 'l', 'd'};
    const struct {
        std::string args;
        std::string input;  // standard input
        std::string error;
    } cases[] = {
        {"claims.wav", "",
         "\nError - the data chunk of claims.wav gives 2147479552 bytes of samples, but the file holds only 1000 "
         "bytes after the chunk's header.\n"},
        {"-cin claims.wav", "claims.wav", "\nError - unexpected end of file.\n(while compressing standard input)\n"},
        {"junk.wav", "", "\nError: invalid .wav header for file - junk.wav\n"},
    };
    for (const auto& c : cases) {
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(c.args + (existing ? " over an existing container" : ""));
            const std::string container = c.args.substr(c.args.rfind(' ') + 1, 5) + ".qo";
            if (existing) testsupport::writeFileBytes((dir / container).string(), old);
            const RunResult r = run((existing ? "-overwrite " : "") + c.args, c.input);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, c.error);
            EXPECT_EQ(contains(r.out, "Encoding"), !c.input.empty()) << "work was done first";
            EXPECT_EQ(exists(container), existing);
            if (existing) {
                EXPECT_TRUE(readFileBytes((dir / container).string()) == old);
            }
            std::filesystem::remove(dir / container);
        }
    }
}

// A container gives back exactly the file compressed, so a WAV file shorter than its
// RIFF size gives is named when it is compressed, and its restore reports it as
// incomplete. The final pad byte alone, which writers often leave out, is no
// shortfall, nor does a RIFF size that is no real length count.
TEST_F(Program, WavShorterThanItsRiffSizeIsNamedBothWays) {
    const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath("real_bass_st.wav"));
    const std::vector<int16_t> samples(pcm.samples.begin(), pcm.samples.begin() + 3000);
    const Bytes oddChunk = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c'};  // its pad byte left out
    const auto withRiffSize = [](Bytes wav, uint32_t size) {
        for (int i = 0; i < 4; ++i) wav[4 + i] = static_cast<uint8_t>(size >> (8 * i));
        return wav;
    };
    Bytes unpadded = canonicalWav(2, samples);
    unpadded.insert(unpadded.end(), oddChunk.begin(), oddChunk.end());
    const uint32_t padded = static_cast<uint32_t>(unpadded.size() + 1 - 8);
    // A chunk of even size has no pad byte: one byte less is a byte of its body.
    Bytes cutBody = canonicalWav(2, samples);
    const Bytes evenChunk = {'a', 'b', 'c', 'd', 4, 0, 0, 0, 'w', 'x', 'y'};
    cutBody.insert(cutBody.end(), evenChunk.begin(), evenChunk.end());
    const struct {
        std::string what;
        Bytes wav;
        int64_t missing;
    } cases[] = {
        {"final pad byte left out", withRiffSize(unpadded, padded), 0},
        {"two bytes short", withRiffSize(unpadded, padded + 1), 2},
        {"last byte of an even-sized chunk missing", withRiffSize(cutBody, static_cast<uint32_t>(cutBody.size() + 1 - 8)),
         1},
        {"1000 bytes short", withRiffSize(unpadded, padded + 999), 1000},
        {"RIFF size 0", withRiffSize(unpadded, 0), 0},
        {"RIFF size 0xFFFFFFFF", withRiffSize(unpadded, 0xFFFFFFFFu), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::writeFileBytes((dir / "s.wav").string(), c.wav);
        const RunResult compressed = run("-overwrite s.wav");
        EXPECT_EQ(compressed.status, 0);
        const std::string missing =
            std::to_string(c.missing) + (c.missing == 1 ? " byte" : " bytes") + " shorter than its RIFF header gives";
        EXPECT_EQ(compressed.err, c.missing == 0 ? "" : "Warning: s.wav is " + missing +
                                                            "; its restore will report it as incomplete.\n");
        for (const std::string flags : {"", "-cin"}) {
            std::filesystem::remove(dir / "out.wav");
            const RunResult restored = run(flags + " s.qo out.wav", flags.empty() ? "" : "s.qo");
            EXPECT_EQ(restored.status, c.missing == 0 ? 0 : 1) << flags;
            if (c.missing == 0) {
                EXPECT_EQ(restored.err, "") << flags;
                EXPECT_TRUE(readFileBytes((dir / "out.wav").string()) == c.wav) << flags;
            } else {
                EXPECT_EQ(restored.err.rfind("\nError - the restored WAV is incomplete: it is " + missing + ".\n", 0),
                          0u)
                    << flags << ": " << restored.err;
            }
        }
    }
}

TEST_F(Program, ChecksumMismatchWarnsKeepsOutputAndFails) {
    place(testsupport::dataPath("real_tabla_mono.wav"), "a.wav");
    ASSERT_EQ(run("a.wav").status, 0);
    Bytes container = readFileBytes((dir / "a.qo").string());
    const uint32_t stored = container[12] | (container[13] << 8);  // length of the stored WAV header
    container[21 + stored] ^= 0x01;                                   // the checksum field
    testsupport::writeFileBytes((dir / "a.qo").string(), container);
    // What the restore left is said, wherever it went.
    const struct {
        const char* args;
        const char* note;
    } cases[] = {
        {"a.qo out.wav", "out.wav holds all 88200 samples, but they do not match their checksum."},
        {"-cout a.qo", "What was written to standard output does not match its checksum."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const bool toStandardOutput = std::string(c.args).rfind("-cout", 0) == 0;
        const RunResult r = toStandardOutput ? run(c.args, "", "out.wav") : run(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, std::string("Warning: CRC check failed!\n") + c.note + "\n(while restoring a.qo)\n\n");
        EXPECT_TRUE(readFileBytes((dir / "out.wav").string()) == readFileBytes((dir / "a.wav").string()));
        std::filesystem::remove(dir / "out.wav");
    }
}

TEST_F(Program, ConsoleTextsOfBothDirections) {
    place(testsupport::dataPath("real_tabla_mono.wav"), "a.wav");
    const RunResult enc = run("a.wav");
    EXPECT_TRUE(contains(enc.out, "\nQo Compresser\nVersion 0.4"));
    EXPECT_TRUE(contains(enc.out, " (inf%) \rEncoding a.wav [........................]"));
    EXPECT_TRUE(contains(enc.out, "\rEncoding a.wav [************************]\rFinished a.wav - size: "));
    EXPECT_TRUE(contains(enc.out, "s\n")) << enc.out;
    const RunResult dec = run("a.qo b.wav");
    EXPECT_TRUE(contains(dec.out, "\rDecoding a.qo [************************]\rFinished a.qo - time taken: "));
    EXPECT_EQ(dec.out.substr(dec.out.size() - 10), "s        \n");
    // A restore from standard input names it so in its progress and closing lines.
    const RunResult piped = run("-cin -overwrite a.qo b.wav", "a.qo");
    EXPECT_TRUE(contains(piped.out, "\rDecoding standard input [************************]\rFinished standard input - "))
        << piped.out;
    const RunResult quiet = run("-cout -overwrite a.wav");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
}

TEST_F(Program, ChannelWarningsAndPadValue) {
    testsupport::writeFileBytes((dir / "odd.wav").string(), canonicalWav(2, {100, -200, 300}));
    const RunResult odd = run("odd.wav");
    EXPECT_EQ(odd.status, 0);
    EXPECT_EQ(odd.err, "Warning: wav file is stereo but has odd number of samples!\n(while compressing odd.wav)\n");
    place(testsupport::dataPath("small_edge_3ch_16bit.wav"), "three.wav");
    const RunResult three = run("three.wav");
    EXPECT_EQ(three.status, 0);
    EXPECT_EQ(three.err,
              "Warning: wav file contains more than 2 channels - only mono or stereo currently supported!\n"
              "(while compressing three.wav)\n");
    ASSERT_EQ(run("odd.qo odd2.wav").status, 0);
    EXPECT_TRUE(readFileBytes((dir / "odd2.wav").string()) == readFileBytes((dir / "odd.wav").string()));
}

TEST_F(Program, DebugReportsAgreeLayerByLayer) {
    place(testsupport::dataPath("real_bass_st.wav"), "a.wav");
    ASSERT_EQ(run("-debug a.wav").status, 0);
    ASSERT_EQ(run("-debug a.qo b.wav").status, 0);
    const std::string enc = slurp("debugenc.txt"), dec = slurp("debugdec.txt");
    for (const std::string* report : {&enc, &dec}) {
        EXPECT_EQ(report->rfind("Debug information ...\n\n", 0), 0u);
        EXPECT_TRUE(contains(*report, "\nProfiling information ...\n\n"));
        EXPECT_TRUE(contains(*report, "\neverything: "));
        EXPECT_EQ(report->substr(report->size() - 2), "\n\n");
    }
    auto layers = [](const std::string& report) {
        std::string lines;
        std::istringstream in(report);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("Layer ", 0) == 0) lines += line + "\n";
        return lines;
    };
    EXPECT_TRUE(contains(layers(enc), "Layer -1 budget-crc: "));
    EXPECT_TRUE(contains(layers(enc), "Layer 5 budget-crc: "));
    EXPECT_EQ(layers(enc), layers(dec));
}

}  // namespace
