#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "TestSupport.h"
#include "app/Arguments.h"

namespace {

// One line per outcome: "invalid", "quit", "crash", or the direction and the jobs.
std::string describeRun(const std::vector<std::string>& args) {
    const Arguments a = sortArguments(args);
    if (a.stop == Arguments::Stop::invalid) return "invalid";
    if (a.stop == Arguments::Stop::quit) return "quit";
    if (a.stop == Arguments::Stop::crash) return "crash";
    const std::optional<RunPlan> plan = planRun(a);
    if (!plan) return "invalid";
    std::string text = plan->direction == Direction::compress     ? "compress"
                       : plan->direction == Direction::decompress ? "decompress"
                                                                  : "nothing";
    for (const Job& job : plan->jobs) text += " [" + job.inName + ">" + job.outName + "]";
    return text;
}

TEST(CommandLine, SortsNamesAndDerivesOutputs) {
    const struct {
        std::vector<std::string> args;
        const char* expected;
    } cases[] = {
        {{"a.wav"}, "compress [a.wav>a.qo]"},
        {{"a.wav", "b.wav"}, "compress [a.wav>a.qo] [b.wav>b.qo]"},
        {{"a.wav", "out.qo"}, "compress [a.wav>out.qo]"},
        {{"out.qo", "-high", "a.wav"}, "decompress [out.qo>a.wav]"},
        {{"x.qo", "y.wav"}, "decompress [x.qo>y.wav]"},
        {{"x.qo", "y.qo"}, "decompress [x.qo>x.wav] [y.qo>y.wav]"},
        {{"A.WAV"}, "compress [A.WAV>A.WAV.qo]"},
        {{"X.QO"}, "decompress [X.QO>X.QO.wav]"},
        {{"song.wav.bak"}, "compress [song.wav.bak>song.qo]"},
        {{"my.wav.qo"}, "compress [my.wav.qo>my.qo]"},
        {{"a.WAV.wav"}, "compress [a.WAV.wav>a.WAV.qo]"},
        {{"d.qo/t.qo.qo"}, "decompress [d.qo/t.qo.qo>d.wav]"},
        {{"-noseek", "a.wav", "-overwrite", "-overwrite"}, "compress [a.wav>a.qo]"},
        // Count rules: one output name at most, and only beside a single input.
        {{"a.wav", "b.wav", "out.qo"}, "invalid"},
        {{"a.wav", "x.qo", "y.qo"}, "invalid"},
        {{"x.qo", "y.qo", "z.wav"}, "invalid"},
        {{"x.qo", "a.wav", "b.wav"}, "invalid"},
        // Only exact, case-sensitive extensions and options are recognised.
        {{"a.Wav"}, "invalid"},
        {{"a.wav", "-High"}, "invalid"},
        {{"a.wav", ""}, "invalid"},
        // Sorting stops at the first argument that ends it.
        {{"-quit", "-bogus"}, "quit"},
        {{"-bogus", "-quit"}, "invalid"},
        {{"a.wav", "-crash", "b.wav"}, "crash"},
        // Without file names only -cin with -cout does something.
        {{"-cinout"}, "decompress [>]"},
        {{"-cout", "-cin"}, "decompress [>]"},
        {{"-cin"}, "nothing"},
        {{"-cout", "-nohead"}, "nothing"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const std::string& arg : c.args) joined += "'" + arg + "' ";
        EXPECT_EQ(describeRun(c.args), c.expected) << joined;
    }
}

TEST(CommandLine, OptionsSetTheirFlags) {
    const Arguments none = sortArguments({"a.wav"});
    EXPECT_TRUE(none.seekable);
    EXPECT_FALSE(none.high || none.stdinMode || none.stdoutMode || none.debugMode || none.overwriteMode);
    EXPECT_TRUE(none.headerMode);

    const Arguments all = sortArguments({"-noseek", "-high", "-overwrite", "-cin", "-cout", "-nohead", "-debug"});
    EXPECT_FALSE(all.seekable);
    EXPECT_TRUE(all.high && all.stdinMode && all.stdoutMode && all.debugMode && all.overwriteMode);
    EXPECT_FALSE(all.headerMode);

    const Arguments both = sortArguments({"-cinout"});
    EXPECT_TRUE(both.stdinMode && both.stdoutMode);
}

const std::string banner = "\nQo Compresser\nVersion 0.4\n\n";
const std::string usage = banner +
    "Usage instructions ...\n\n"
    "qo [flags] input-filename [output-filename]\n\n"
    "Flags\n"
    " -high      - high compression mode - slower, but better compression\n"
    " -overwrite - automatically overwrite existing files\n"
    " -cin       - when decoding/encoding, use console input\n"
    " -cout      - when decoding,          use console output\n"
    " -cinout    - when decoding, use console input+output\n"
    " -noseek    - disable seeking (improves compression slightly)\n"
    " -nohead    - when decoding, disables outputting of .wav headers\n\n"
    "Example usage\n"
    "  qo foo.wav          - compress   foo.wav to foo.qo\n"
    "  qo foo.qo           - decompress foo.qo  to foo.wav\n"
    "  qo -overwrite *.wav - compress all .wavs in directory, replacing\n"
    "                        any existing .qo files.\n"
    "  cat  foo.qo | qo -cinout > foo.wav - decompress foo.qo to foo.wav\n";
const std::string invalid = "Error - invalid command-line arguments\n\n" + usage;

std::string numbers0To19() {
    std::string text;
    for (int i = 0; i < 20; ++i) text += std::to_string(i) + "\n";
    return text;
}

TEST_F(ProgramRun, NoArgumentPrintsUsage) {
    const RunResult r = run("");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.err, "");
}

TEST_F(ProgramRun, InvalidArgumentsPrintUsageAndProcessNothing) {
    const struct {
        const char* args;
        std::string out;
    } cases[] = {
        {"-bogus", invalid},
        // The file before the bad option is not processed either.
        {"a.wav -bogus", invalid},
        {"a.Wav", invalid},
        // The count rules reject after the banner, so it shows twice.
        {"a.wav b.wav out.qo", banner + invalid},
        {"x.qo y.qo z.wav", banner + invalid},
    };
    for (const auto& c : cases) {
        const RunResult r = run(c.args);
        EXPECT_EQ(r.status, 255) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
        EXPECT_EQ(r.err, "") << c.args;
        EXPECT_TRUE(directoryEmpty()) << c.args;
    }
}

// With -cout standard output carries the restored WAV: refused arguments leave it
// empty, also where -cout stands after the argument that is refused.
TEST_F(ProgramRun, WithStandardOutputForTheWavConsoleTextsGoToStandardError) {
    std::ofstream(dir / "a.qo") << "QO04";
    const struct {
        const char* args;
        std::string err;
        int status;
    } cases[] = {
        {"-cinout --bogus", invalid, 255},
        {"--bogus -cout", invalid, 255},
        {"a.qo -cout -bogus", invalid, 255},
        // The count rules reject after the banner, which -cout leaves out.
        {"-cout a.wav s.wav x.qo", invalid, 255},
        {"-cinout x.qo y.qo z.wav", invalid, 255},
        {"-cout -quit", numbers0To19(), 0},
    };
    for (const auto& c : cases) {
        const RunResult r = run(c.args, "a.qo");
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, "") << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
        expectOnly({"a.qo"});
    }
}

TEST_F(ProgramRun, QuitAndCrashPrintNumbersAndProcessNothing) {
    for (const char* args : {"-quit", "-crash", "a.wav -quit -bogus", "-crash a.wav"}) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.out, numbers0To19()) << args;
        EXPECT_EQ(r.err, "") << args;
        EXPECT_TRUE(directoryEmpty()) << args;
    }
}

// Each failing file prints its message framed by line ends on standard error;
// the run goes on with the next file and ends with status 1.
TEST_F(ProgramRun, FailedFilesAreReportedAndTheRunContinues) {
    for (const char* args : {"missing1.wav missing2.wav", "missing1.qo missing2.qo"}) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.out.rfind(banner, 0), 0u) << args;
        std::vector<std::string> lines;
        std::stringstream err(r.err);
        for (std::string line; std::getline(err, line);) lines.push_back(line);
        ASSERT_EQ(lines.size(), 4u) << r.err;
        EXPECT_TRUE(lines[0].empty() && lines[2].empty()) << r.err;
        EXPECT_FALSE(lines[1].empty() || lines[3].empty()) << r.err;
    }
}

TEST_F(ProgramRun, StandardStreamsWithoutNames) {
    // -cin alone has nothing to do beyond the banner.
    const RunResult idle = run("-cin");
    EXPECT_EQ(idle.status, 0);
    EXPECT_EQ(idle.out, banner);
    EXPECT_EQ(idle.err, "");

    // -cinout decodes standard input (here empty) to standard output: no banner,
    // the failure on standard error.
    const RunResult piped = run("-cinout");
    EXPECT_EQ(piped.status, 1);
    EXPECT_EQ(piped.out, "");
    EXPECT_NE(piped.err, "");
}

using Bytes = std::vector<uint8_t>;

// Standard input is read by the first input of a -cin run; a later one is told so,
// in either direction, and the run goes on with the next.
TEST_F(ProgramRun, StandardInputIsReadByOneInputOnly) {
    place(testsupport::dataPath("small_edge_rate8k_mono.wav"), "a.wav");
    ASSERT_EQ(run("a.wav").status, 0);
    const struct {
        const char* args;
        const char* stream;
        std::string err;
        const char* restored;
        const char* same;  // what the first input's output must equal
    } cases[] = {
        {"-cin t.qo u.qo v.qo", "a.qo",
         "\nError - standard input was already read for t.qo; it cannot be read again for u.qo, skipping.\n"
         "\nError - standard input was already read for t.qo; it cannot be read again for v.qo, skipping.\n",
         "t.wav", "a.wav"},
        {"-cin t.wav u.wav", "a.wav",
         "\nError - standard input was already read for t.wav; it cannot be read again for u.wav, skipping.\n",
         "t.qo", "a.qo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = run(c.args, c.stream);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        expectOnly({"a.wav", "a.qo", c.restored});
        EXPECT_TRUE(testsupport::readFileBytes((dir / c.restored).string()) ==
                    testsupport::readFileBytes((dir / c.same).string()));
        std::filesystem::remove(dir / c.restored);
    }
}

uint32_t le32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// Every failure's message names its input, or a line after it does; standard
// input is named so. A WAV stream without a length is refused for that reason.
TEST_F(ProgramRun, FailureMessagesNameTheInput) {
    place(testsupport::dataPath("small_edge_list_trailing_st.wav"), "t.wav");
    ASSERT_EQ(run("t.wav").status, 0);
    const Bytes wav = testsupport::readFileBytes((dir / "t.wav").string());
    const Bytes container = testsupport::readFileBytes((dir / "t.qo").string());
    Bytes cut(container.begin(), container.begin() + static_cast<std::ptrdiff_t>(container.size() / 2));
    Bytes badTrailer = container;
    const uint32_t stored = le32(container, 12);
    const uint32_t blocks = (le32(container, 16 + stored) + 61439) / 61440;
    const size_t trailerField = 25 + stored + 4 * ((blocks - 1) / 19);
    put32(badTrailer, trailerField, le32(container, trailerField) + 1);
    // A program writing a WAV file to a pipe cannot go back to fill in the sizes.
    const std::string wavBytes(wav.begin(), wav.end());
    const size_t dataSize = wavBytes.find("data") + 4;
    Bytes noLength = wav;
    put32(noLength, dataSize, 0xFFFFFFFFu);
    Bytes huge = wav;
    put32(huge, dataSize, 0x80000000u);
    std::ofstream(dir / "xcut.qo.wav") << "old";

    const std::string noLengthMessage =
        "\nError - the wav header gives no length (as programs writing wav to a pipe leave it); "
        "write the wav to a file first.\n";
    const struct {
        const char* what;
        std::string args;
        Bytes input;  // standard input; empty: none
        std::string err;
    } cases[] = {
        {"container given as a WAV stream", "-cin x.wav", container,
         "\nError: invalid .wav header for file - standard input\n"},
        {"WAV given as a container stream", "-cinout", wav,
         "\nError - file standard input does not appear to be in .qo format!\n"},
        {"container stream with a wrong trailer offset", "-cinout", badTrailer,
         "\nError - file standard input has a damaged trailer offset; the trailer was not restored.\n"
         "The samples are complete and match their checksum; the chunks after them were not restored.\n"
         "What was written to standard output is incomplete.\n"},
        {"WAV stream without a length", "-cin x.wav", noLength, noLengthMessage + "(while compressing standard input)\n"},
        {"WAV file without a length", "n.wav", {}, noLengthMessage + "(while compressing n.wav)\n"},
        {"WAV stream of 2 GB", "-cin x.wav", huge,
         "\nError - wav data of 2 GB or more is not supported.\n(while compressing standard input)\n"},
        {"message naming the input", "missing.qo", {}, "\nFile missing.qo not found.\n"},
        {"message naming no file", "cut.qo", {},
         "\nError - unexpected end of file.\nNothing was kept under the name cut.wav.\n(while restoring cut.qo)\n"},
        // cut.qo inside xcut.qo.wav is not the input's name.
        {"message naming a longer name", "cut.qo xcut.qo.wav", {},
         "\nFile xcut.qo.wav already exists, skipping (-overwrite forces overwrite).\n(while restoring cut.qo)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::writeFileBytes((dir / "in.bin").string(), c.input);
        testsupport::writeFileBytes((dir / "cut.qo").string(), cut);
        testsupport::writeFileBytes((dir / "n.wav").string(), noLength);
        const RunResult r = run(c.args, c.input.empty() ? "" : "in.bin");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        expectOnly({"t.wav", "t.qo", "xcut.qo.wav", "in.bin", "cut.qo", "n.wav"});
    }
}

}  // namespace
