// Faults of the system around the files: a full disk, a closed standard
// stream, inputs that are no readable files, standard input that ends early.
// Each must end the file with an Error and exit status 1, never with
// "Finished" over a broken output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "OldContainerWriter.h"
#include "ProgramRun.h"
#include "TestSupport.h"

namespace {

using testsupport::readFileBytes;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Runs the binary with the given standard streams closed ("<&-", ">&-").
// True where strace can run a program here: it then fails chosen system calls of
// qo and lists the calls it made.
bool straceWorks() { return std::system("strace -o /dev/null true >/dev/null 2>&1") == 0; }

// The start of a launcher that runs qo under strace. The leak check of a
// sanitizer build cannot work in a traced process, so it is turned off there.
const std::string underStrace = "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 strace -f -qq";

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

const char* const closingStreams = "sh -c 'exec \"$0\" \"$@\" %s'";

std::string closing(const std::string& redirections) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, closingStreams, redirections.c_str());
    return buffer;
}

class SystemFault : public ProgramRun {
protected:
    std::string original() const { return testsupport::dataPath("real_bass_st.wav"); }
    std::vector<uint8_t> originalBytes() const { return readFileBytes(original()); }

    void compressOriginal() {
        place(original(), "a.wav");
        ASSERT_EQ(run("a.wav").status, 0);
    }

    void expectFailedFile(const RunResult& r, const std::string& message, const std::string& what) {
        EXPECT_EQ(r.status, 1) << what;
        EXPECT_TRUE(contains(r.err, message)) << what << ": " << r.err;
        EXPECT_FALSE(contains(r.out, "Finished")) << what;
    }

    // How many of the given system calls a run makes, as strace lists them with these options.
    size_t callsMade(const std::string& traceOptions, const std::string& args, const std::string& stdinFile = "",
                     const std::string& stdoutFile = "") {
        launcher = underStrace + " -o trace.txt " + traceOptions;
        const RunResult r = run(args, stdinFile, stdoutFile);
        launcher.clear();
        EXPECT_EQ(r.status, 0) << args << ": " << r.err;
        const size_t calls = linesOf(slurp("trace.txt")).size();
        std::filesystem::remove(dir / "trace.txt");
        return calls;
    }
};

// A file-size limit makes every write past 8 KiB fail as on a full disk; qo
// ignores the signal that would otherwise end it there.
TEST_F(SystemFault, CompressingOntoAFullDiskFailsAndLeavesNoContainer) {
    place(original(), "a.wav");
    launcher = "ulimit -f 16;";
    const RunResult r = run("a.wav");
    expectFailedFile(r, "\nError - cannot write to file a.qo (File too large).\n", "container past the size limit");
    launcher.clear();
    expectOnly({"a.wav"});
}

TEST_F(SystemFault, DecompressingOntoAFullDeviceFails) {
    compressOriginal();
    std::filesystem::create_symlink("/dev/full", dir / "full.wav");
    expectFailedFile(run("-overwrite a.qo full.wav"), "\nError - cannot write to file full.wav (No space left on device).\n",
                     "named output");
    expectFailedFile(run("-cout a.qo", "", "/dev/full"), "\nError - cannot write to standard output (No space left on device).\n",
                     "standard output");
}

// An output name that is a symlink stays one. Behind it, a device is written
// through (and a full one fails the file), while a regular file is replaced
// whole by the complete output.
TEST_F(SystemFault, SymlinkedOutputsStayLinks) {
    place(original(), "a.wav");
    std::filesystem::create_symlink("/dev/full", dir / "x.qo");
    EXPECT_EQ(run("a.wav x.qo").status, 1) << "an existing name needs -overwrite";
    expectFailedFile(run("-overwrite a.wav x.qo"), "\nError - cannot write to file x.qo (No space left on device).\n",
                     "link to a full device");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "x.qo"));

    std::filesystem::create_directory(dir / "store");
    testsupport::writeFileBytes((dir / "store" / "old.qo").string(), {'o', 'l', 'd'});
    std::filesystem::create_symlink("store/old.qo", dir / "y.qo");
    ASSERT_EQ(run("-overwrite a.wav y.qo").status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "y.qo"));
    ASSERT_EQ(run("-overwrite y.qo b.wav").status, 0);
    EXPECT_TRUE(readFileBytes((dir / "b.wav").string()) == originalBytes());
    std::filesystem::remove_all(dir / "store");
    std::filesystem::remove(dir / "x.qo");
    std::filesystem::remove(dir / "y.qo");
    expectOnly({"a.wav", "b.wav"});
}

TEST_F(SystemFault, ClosedStandardOutput) {
    compressOriginal();
    // The restored WAV has nowhere to go.
    launcher = closing(">&-");
    expectFailedFile(run("-cout a.qo"), "\nError - cannot write to standard output (Bad file descriptor).\n", "-cout");
    // Console text for a closed stream must not land in the file opened next,
    // which would otherwise take the stream's descriptor.
    ASSERT_EQ(run("-cin -overwrite a.wav c.qo", "a.wav").status, 0);
    ASSERT_EQ(run("-cin c.qo c.wav", "c.qo").status, 0);
    launcher.clear();
    EXPECT_TRUE(readFileBytes((dir / "c.qo").string()) == readFileBytes((dir / "a.qo").string()));
    EXPECT_TRUE(readFileBytes((dir / "c.wav").string()) == originalBytes());
}

TEST_F(SystemFault, ClosedStandardInputIsAnInputThatEndsAtOnce) {
    compressOriginal();
    launcher = closing("<&-");
    expectFailedFile(run("-cin b.wav"), "\nError", "WAV from closed standard input");
    expectFailedFile(run("-cin a.qo b.wav"), "\nError", "container from closed standard input");
    launcher.clear();
    expectOnly({"a.wav", "a.qo"});
}

TEST_F(SystemFault, InputsThatAreNoReadableFiles) {
    std::filesystem::create_directory(dir / "folder.wav");
    std::filesystem::create_directory(dir / "folder.qo");
    // Reading a process's memory at offset 0 fails even for root.
    std::filesystem::create_symlink("/proc/self/mem", dir / "unreadable.wav");
    std::filesystem::create_symlink("/proc/self/mem", dir / "unreadable.qo");
    for (const char* name : {"folder.wav", "folder.qo"})
        expectFailedFile(run(name), "\nError - " + std::string(name) + " is a directory, not a file.\n", name);
    // The two links stand for one file: each is given an output of its own.
    for (const char* args : {"unreadable.wav u.qo", "unreadable.qo u.wav"}) {
        const std::string name = std::string(args).substr(0, std::string(args).find(' '));
        expectFailedFile(run(args), "\nError - file " + name + " cannot be read (Input/output error).\n", name);
    }
    // A folder on standard input opens, but cannot be read.
    for (const char* args : {"-cin x.wav", "-cin x.qo"}) {
        const RunResult r = run(args, ".");
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, "\nError - standard input cannot be read (Is a directory).\n") << args;
    }
    expectOnly({"folder.wav", "folder.qo", "unreadable.wav", "unreadable.qo"});
}

// A file that may not be read is named so, with the system's reason; "not found" is
// said only where nothing stands under the name.
TEST_F(SystemFault, FileWithoutReadPermission) {
    if (::geteuid() == 0) {
        if (std::system("command -v setpriv >/dev/null") != 0)
            GTEST_SKIP() << "root reads every file, and setpriv is not installed to run qo as another user; test skipped";
        launcher = "setpriv --reuid=65534 --regid=65534 --clear-groups";
        // The scratch folder must be reachable by that user: a checkout under a
        // private folder (mktemp -d makes them 0700) is not.
        if (std::system((launcher + " test -x '" + dir.string() + "'").c_str()) != 0)
            GTEST_SKIP() << "the scratch folder is not reachable by another user here; test skipped";
        std::filesystem::permissions(dir, std::filesystem::perms::all);
    }
    compressOriginal();
    std::filesystem::rename(dir / "a.qo", dir / "locked.qo");
    std::filesystem::rename(dir / "a.wav", dir / "locked.wav");
    for (const char* name : {"locked.wav", "locked.qo"}) {
        std::filesystem::permissions(dir / name, std::filesystem::perms::none);
        expectFailedFile(run(name), "\nError - file " + std::string(name) + " cannot be read (Permission denied).\n",
                         name);
    }
    expectFailedFile(run("gone.qo"), "\nFile gone.qo not found.\n", "missing container");
    expectOnly({"locked.wav", "locked.qo"});
}

// A restore opens its container once and reads it to its end, the chunks after the
// samples included, through that descriptor: also where the bit coder of generation
// 03 reads past the end of a container smaller than one of its reads.
TEST_F(SystemFault, ContainerIsOpenedOnce) {
    if (!straceWorks()) GTEST_SKIP() << "strace is not installed or cannot trace here; test skipped";
    const std::string source = testsupport::dataPath("small_edge_list_trailing_st.wav");
    const std::vector<uint8_t> wav = readFileBytes(source);
    testsupport::writeFileBytes((dir / "old.qo").string(),
                                oldcontainer::writeOldContainer(oldcontainer::splitWav(wav), {3, true, 0, std::nullopt}));
    ASSERT_LT(std::filesystem::file_size(dir / "old.qo"), 4088u);
    place(source, "new.wav");
    ASSERT_EQ(run("new.wav").status, 0);
    for (const std::string name : {"old.qo", "new.qo"}) {
        SCOPED_TRACE(name);
        launcher = underStrace + " -o trace.txt -e trace=open,openat";
        const RunResult r = run(name + " out.wav");
        launcher.clear();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(readFileBytes((dir / "out.wav").string()) == wav);
        size_t opens = 0;
        for (const std::string& call : linesOf(slurp("trace.txt"))) opens += contains(call, "\"" + name + "\"") ? 1 : 0;
        EXPECT_EQ(opens, 1u) << slurp("trace.txt");
        std::filesystem::remove(dir / "trace.txt");
        std::filesystem::remove(dir / "out.wav");
    }
}

// A read that fails, injected into the system call, ends the input with its reason,
// at whichever read of the run it comes: in the header, in a seek to a segment, in
// the coded data of either coder, in the chunks after the samples; from a file and
// from standard input; never taken for damage or an early end, skipped or read again.
TEST_F(SystemFault, ReadErrorIsNamedWhereverItComes) {
    if (!straceWorks()) GTEST_SKIP() << "strace is not installed or cannot trace here; test skipped";
    compressOriginal();
    const auto oldContainer = [&](const std::string& wav, const std::string& name, int version) {
        testsupport::writeFileBytes((dir / name).string(),
                                    oldcontainer::writeOldContainer(
                                        oldcontainer::splitWav(readFileBytes(testsupport::dataPath(wav))),
                                        {version, true, 0, std::nullopt}));
    };
    oldContainer("small_edge_list_trailing_st.wav", "trailing03.qo", 3);
    oldContainer("real_tabla_mono.wav", "tabla02.qo", 2);
    for (const std::string input : {"a.wav", "a.qo", "trailing03.qo", "tabla02.qo"}) {
        const std::string output = input == "a.wav" ? "out.qo" : "out.wav";
        for (const bool fromStdin : {false, true}) {
            const std::string args = std::string(fromStdin ? "-cin " : "") + input + " " + output;
            const std::string stdinFile = fromStdin ? input : "";
            const std::string label = fromStdin ? "standard input" : "file " + input;
            const std::string traced = "-P '" + (dir / input).string() + "' -e trace=read";
            const size_t reads = callsMade(traced, args, stdinFile);
            std::filesystem::remove(dir / output);
            EXPECT_GT(reads, 1u) << args;
            for (size_t when = 1; when <= reads; ++when) {
                SCOPED_TRACE(args + ", read " + std::to_string(when));
                launcher = underStrace + " -o /dev/null " + traced + " -e inject=read:error=EIO:when=" +
                           std::to_string(when);
                const RunResult r = run(args, stdinFile);
                launcher.clear();
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.err.rfind("\nError - " + label + " cannot be read (Input/output error).\n", 0), 0u) << r.err;
                std::filesystem::remove(dir / output);
            }
        }
    }
    expectOnly({"a.wav", "a.qo", "trailing03.qo", "tabla02.qo"});
}

// A write that fails once ends the file with the system's reason, at whichever write
// of the output it comes: also where the stream's buffer is written out by a byte that
// the coder puts straight to it. Failing a write to the console loses only that text.
// The trace of each run tells which write failed; the writes a sanitizer build makes to
// probe memory through a pipe are no writes of the program's.
TEST_F(SystemFault, WriteFailingOnceIsNamedWhereverItComes) {
    if (!straceWorks()) GTEST_SKIP() << "strace is not installed or cannot trace here; test skipped";
    compressOriginal();
    const std::vector<uint8_t> container = readFileBytes((dir / "a.qo").string());
    const std::vector<uint8_t> wav = originalBytes();
    const struct {
        const char* args;
        const char* output;
        const char* stdoutFile;
        std::string target;
        std::string written;  // how the trace names the descriptor the output is written through
        const std::vector<uint8_t>& bytes;
    } cases[] = {
        {"a.wav out.qo", "out.qo", "", "file out.qo", "/.qo-", container},
        {"a.qo out.wav", "out.wav", "", "file out.wav", "/.qo-", wav},
        {"-cout a.qo", "out.wav", "out.wav", "standard output", "/out.wav>", wav},
    };
    const std::pair<const char*, int> reasons[] = {{"EIO", EIO}, {"ENOSPC", ENOSPC}, {"EFBIG", EFBIG}, {"EDQUOT", EDQUOT}};
    for (const auto& c : cases) {
        const size_t writes = callsMade("-e trace=write", c.args, "", c.stdoutFile);
        std::filesystem::remove(dir / c.output);
        size_t failed = 0;
        for (size_t when = 1; when <= writes; ++when) {
            const auto& [name, error] = reasons[when % std::size(reasons)];
            SCOPED_TRACE(std::string(c.args) + ", write " + std::to_string(when) + " failing with " + name);
            launcher = underStrace + " -y -o trace.txt -e trace=write -e inject=write:error=" + name +
                       ":when=" + std::to_string(when);
            const RunResult r = run(c.args, "", c.stdoutFile);
            launcher.clear();
            std::string injected;
            for (const std::string& call : linesOf(slurp("trace.txt")))
                if (contains(call, "(INJECTED)")) injected = call;
            std::filesystem::remove(dir / "trace.txt");
            if (contains(injected, "<pipe:")) {
                // The sanitizer stops the program on its failed probe, its temporary file left.
                for (const auto& entry : std::filesystem::directory_iterator(dir))
                    if (entry.path().filename().string().rfind(".qo-", 0) == 0) std::filesystem::remove(entry.path());
                std::filesystem::remove(dir / c.output);
                continue;
            }
            if (contains(injected, c.written)) {
                ++failed;
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.err.rfind("\nError - cannot write to " + c.target + " (" + std::strerror(error) + ").\n", 0),
                          0u)
                    << r.err;
                EXPECT_TRUE(*c.stdoutFile != '\0' || !exists(c.output));
            } else {
                EXPECT_EQ(r.status, 0) << injected << "\n" << r.err;
                EXPECT_TRUE(readFileBytes((dir / c.output).string()) == c.bytes);
            }
            std::filesystem::remove(dir / c.output);
        }
        EXPECT_GT(failed, 2u) << c.args;
    }
    expectOnly({"a.wav", "a.qo"});
}

TEST_F(SystemFault, StandardInputEndingEarly) {
    compressOriginal();
    const std::vector<uint8_t> wav = originalBytes();
    testsupport::writeFileBytes((dir / "cut.wav").string(), {wav.begin(), wav.begin() + wav.size() / 2});
    const std::vector<uint8_t> container = readFileBytes((dir / "a.qo").string());
    testsupport::writeFileBytes((dir / "cut.qo").string(), {container.begin(), container.begin() + container.size() / 2});

    expectFailedFile(run("-cin -overwrite a.wav", "cut.wav"), "\nError - unexpected end of file.\n", "WAV cut short");
    expectFailedFile(run("-cinout", "cut.qo", "out.wav"), "\nError - unexpected end of file.\n", "container cut short");
    EXPECT_LE(std::filesystem::file_size(dir / "out.wav"), wav.size());
    std::filesystem::remove(dir / "out.wav");
    expectOnly({"a.wav", "a.qo", "cut.wav", "cut.qo"});
}

// The output's folder is opened once, before the output is written: the
// temporary file is created in it, renamed to its name in it and the folder is
// synced after the rename through that one descriptor, so that the new name
// itself is on the disk when the file counts as finished, and a folder moved
// meanwhile cannot part the temporary file from the folder of its name.
TEST_F(SystemFault, OutputFolderIsSyncedAfterTheRename) {
    if (!straceWorks()) GTEST_SKIP() << "strace is not installed or cannot trace here; test skipped";
    compressOriginal();
    std::filesystem::copy_file(dir / "a.qo", dir / "x.qo");
    std::filesystem::create_directory(dir / "sub");
    const struct {
        const char* args;
        const char* entry;
        const char* folder;  // its last component
    } cases[] = {
        {"x.qo", "x.wav", "."},
        {"x.qo sub/r.wav", "r.wav", "sub"},
        {"-overwrite x.qo sub/r.wav", "r.wav", "sub"},  // replaced by a plain rename
        {"a.wav sub/c.qo", "c.qo", "sub"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        launcher = underStrace + " -o trace.txt -e trace=rename,renameat,renameat2,link,linkat,openat,fsync";
        ASSERT_EQ(run(c.args).status, 0);
        const std::vector<std::string> calls = linesOf(slurp("trace.txt"));
        std::filesystem::remove(dir / "trace.txt");
        const auto next = [&](size_t at, const std::function<bool(const std::string&)>& match) {
            while (at < calls.size() && !match(calls[at])) ++at;
            return at;
        };
        // The folder is found as a path only, then opened for reading through "." of it.
        const auto result = [&](size_t at) { return calls[at].substr(calls[at].rfind("= ") + 2); };
        const std::string finding = std::string(", \"") + c.folder + "\", ";
        size_t at = next(0, [&](const std::string& call) { return contains(call, finding) && contains(call, "O_PATH|O_DIRECTORY"); });
        ASSERT_LT(at, calls.size()) << "the folder was not found";
        const std::string found = result(at);
        at = next(at, [&](const std::string& call) {
            return contains(call, "openat(" + found + ", \".\", O_RDONLY") && !contains(call, "O_PATH");
        });
        ASSERT_LT(at, calls.size()) << "the folder was not opened";
        const std::string fd = result(at);
        at = next(at, [&](const std::string& call) {
            return contains(call, "openat(" + fd + ", \".qo-") && contains(call, "O_CREAT");
        });
        ASSERT_LT(at, calls.size()) << "the temporary file was not created in the folder's descriptor";
        at = next(at, [&](const std::string& call) {
            return contains(call, "rename") && contains(call, "(" + fd + ", \".qo-") &&
                   contains(call, ", " + fd + ", \"" + c.entry + "\"") && contains(call, ") = 0");
        });
        ASSERT_LT(at, calls.size()) << "no rename to " << c.entry << " within the folder's descriptor";
        at = next(at, [&](const std::string& call) { return contains(call, "fsync(" + fd + ")") && contains(call, "= 0"); });
        EXPECT_LT(at, calls.size()) << "the folder was not synced after the rename";
    }
}

// System calls that fail while a finished restore is put in place. The file
// fails with the system's reason and a note on what became of its output, or
// succeeds where its output stands complete; the run never crashes and goes on
// with its next input. A checksum mismatch found before is said as well.
TEST_F(SystemFault, FailuresPuttingARestoreInPlace) {
    if (!straceWorks()) GTEST_SKIP() << "strace is not installed or cannot trace here; test skipped";
    compressOriginal();
    std::filesystem::rename(dir / "a.qo", dir / "x.qo");
    std::filesystem::copy_file(dir / "x.qo", dir / "y.qo");
    const std::vector<uint8_t> intact = readFileBytes((dir / "x.qo").string());
    std::vector<uint8_t> mismatching = intact;
    // The stored checksum, after a stored header shorter than 256 bytes: the samples still restore.
    mismatching.at(21 + mismatching[12]) ^= 0x01;
    const std::vector<uint8_t> wav = originalBytes();
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    const char* const renames = "rename,renameat,renameat2";
    const std::string restoring = "(while restoring x.qo)\n";
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, const char*>> injections;  // system calls, how they fail
        bool existing;  // x.wav stands before, and -overwrite is given
        int status;
        std::string err;
        const std::vector<uint8_t>* after;  // x.wav afterwards; nullptr: none
        bool mismatch = false;              // x.qo's checksum does not match its samples
    };
    const Case cases[] = {
        {"the file's sync", {{"fsync", "error=EIO:when=1"}}, false, 1,
         "\nError - cannot write to file x.wav (Input/output error).\nNothing was kept under the name x.wav.\n" + restoring,
         nullptr},
        {"the file's sync, replacing", {{"fsync", "error=EIO:when=1"}}, true, 1,
         "\nError - cannot write to file x.wav (Input/output error).\nThe existing file x.wav was kept unchanged.\n" +
             restoring,
         &old},
        {"the folder's sync", {{"fsync", "error=EIO:when=2"}}, false, 1,
         "\nError - x.wav is in place, but its folder could not be synced to disk (Input/output error).\n" + restoring,
         &wav},
        {"the rename", {{renames, "error=EXDEV:when=1"}}, false, 1,
         "\nError - cannot put the complete file in place as x.wav (Invalid cross-device link).\n"
         "Nothing was kept under the name x.wav.\n" + restoring,
         nullptr},
        {"the rename, replacing", {{renames, "error=EXDEV:when=1"}}, true, 1,
         "\nError - cannot put the complete file in place as x.wav (Invalid cross-device link).\n"
         "The existing file x.wav was kept unchanged.\n" + restoring,
         &old},
        {"the folder's sync after a checksum mismatch", {{"fsync", "error=EIO:when=2"}}, false, 1,
         "\nWarning: CRC check failed!\nError - x.wav is in place, but its folder could not be synced to disk "
         "(Input/output error).\n" + restoring,
         &wav, true},
        {"no atomic rename: a link instead", {{"renameat2", "error=ENOSYS"}}, false, 0, "", &wav},
        {"a link whose temporary name stays", {{"renameat2", "error=ENOSYS"}, {"unlink,unlinkat", "error=EPERM"}}, false,
         0, "; it is a second name of x.wav.\n", &wav},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(dir / "x.wav");
        if (c.existing) testsupport::writeFileBytes((dir / "x.wav").string(), old);
        testsupport::writeFileBytes((dir / "x.qo").string(), c.mismatch ? mismatching : intact);
        // One list of the calls traced, which every injection needs, and one option per injection.
        std::string traced;
        std::string injected;
        for (const auto& [calls, failure] : c.injections) {
            traced += (traced.empty() ? "" : ",") + std::string(calls);
            injected += std::string(" -e inject=") + calls + ":" + failure;
        }
        launcher = underStrace + " -o /dev/null -e trace=" + traced + injected;
        const RunResult r = run(std::string(c.existing ? "-overwrite " : "") + "x.qo y.qo");
        launcher.clear();
        EXPECT_EQ(r.status, c.status);
        // A warning is all a temporary name left beside a complete output is worth.
        EXPECT_TRUE(c.status == 0 && !c.err.empty() ? contains(r.err, "Warning: ") && contains(r.err, c.err)
                                                    : r.err == c.err)
            << r.err;
        EXPECT_EQ(exists("x.wav"), c.after != nullptr);
        EXPECT_TRUE(c.after == nullptr || readFileBytes((dir / "x.wav").string()) == *c.after);
        EXPECT_TRUE(readFileBytes((dir / "y.wav").string()) == wav) << "the next input was not restored";
        // A temporary name left by a link is a second name of its output.
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            const std::string name = entry.path().filename();
            if (name.rfind(".qo-", 0) != 0) continue;
            EXPECT_EQ(std::filesystem::hard_link_count(entry.path()), 2u) << name;
            std::filesystem::remove(entry.path());
        }
        std::filesystem::remove(dir / "y.wav");
        std::vector<std::string> present = {"a.wav", "x.qo", "y.qo"};
        if (c.after != nullptr) present.push_back("x.wav");
        expectOnly(present);
    }
}

}  // namespace
