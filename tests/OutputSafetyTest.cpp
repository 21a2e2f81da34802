// What becomes of outputs when a file fails, is interrupted, races another run,
// or meets an output name a second time, through the "qo" binary: an existing
// file is never lost, a partial result never poses as a complete one, and no
// temporary file is left behind.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "OutputSafety.h"

namespace {

using namespace outputtests;

// A restore over an existing file that fails for any reason leaves that file as
// it was, and says so; nothing else remains.
TEST_F(OutputSafety, FailedRestoreKeepsTheExistingFile) {
    const Bytes wav = stereoWav(kTwoSegments);
    const Bytes intact = compress("c", wav);
    const size_t storedHeader = le32(intact, 12);
    const size_t crcAt = 21 + storedHeader;
    struct Case {
        const char* what;
        Bytes container;
        const char* limit;  // shell prefix that limits the run
        const char* error;
    };
    Bytes cut(intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(intact.size() / 2));
    Bytes early = intact;
    early[crcAt + 40] ^= 0x5A;  // in the first coded block
    Bytes checksum = intact;
    checksum[crcAt] ^= 0x01;  // the samples decode, their checksum does not match
    const Case cases[] = {
        {"cut short", cut, "", "\nError - unexpected end of file.\n"},
        {"changed near its start", early, "", "\n"},
        {"checksum mismatch", checksum, "", "Warning: CRC check failed!\n"},
        {"disk full", intact, "ulimit -f 1024;", "\nError - cannot write to file keep.wav (File too large).\n"},
    };
    const Bytes old = readFileBytes(testsupport::dataPath("real_tabla_mono.wav"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        put("d.qo", c.container);
        put("keep.wav", old);
        launcher = std::string(c.limit) + "timeout 120";
        const RunResult r = run("-overwrite d.qo keep.wav");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, c.error)) << r.err;
        EXPECT_TRUE(contains(r.err, "The existing file keep.wav was kept unchanged.\n")) << r.err;
        EXPECT_TRUE(bytes("keep.wav") == old);
        expectOnly({"c.wav", "c.qo", "d.qo", "keep.wav"});
    }
}

// Where no file stood under the name, a failed restore keeps the samples it
// restored there, in a WAV file whose header sizes match what it holds.
TEST_F(OutputSafety, FailedRestoreToANewNameKeepsWhatWasRestored) {
    const Bytes wav = stereoWav(kTwoSegments);
    const Bytes intact = compress("c", wav);
    put("d.qo", Bytes(intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(intact.size() * 3 / 5)));
    const RunResult r = run("d.qo new.wav");
    EXPECT_EQ(r.status, 1);
    const std::string note = "\nError - unexpected end of file.\nThe restore is incomplete: new.wav holds only the first ";
    ASSERT_EQ(r.err.rfind(note, 0), 0u) << r.err;
    size_t kept = 0;
    size_t total = 0;
    ASSERT_EQ(std::sscanf(r.err.c_str() + note.size(), "%zu of %zu samples.\n", &kept, &total), 2) << r.err;
    EXPECT_EQ(total, kTwoSegments);
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, kTwoSegments);
    const Bytes partial = bytes("new.wav");
    ASSERT_EQ(partial.size(), 44 + 2 * kept);
    EXPECT_EQ(le32(partial, 4), partial.size() - 8) << "RIFF size";
    EXPECT_EQ(le32(partial, 40), 2 * kept) << "data size";
    EXPECT_TRUE(std::equal(partial.begin() + 44, partial.end(), wav.begin() + 44)) << "the samples restored";
    EXPECT_TRUE(std::equal(partial.begin() + 8, partial.begin() + 40, wav.begin() + 8)) << "the stored header";
}

// An error within the first block leaves no sample to keep, and says so: nothing
// is kept under a new name; what went to standard output is incomplete.
TEST_F(OutputSafety, ErrorInTheFirstBlockSaysWhatWasKept) {
    const Bytes intact = compress("c", stereoWav(kTwoSegments));
    Bytes early = intact;
    early[25 + le32(intact, 12) + 40] ^= 0x5A;
    put("early.qo", early);
    put("cut.qo", Bytes(intact.begin(), intact.begin() + 5000));
    const struct {
        const char* args;
        const char* limit;  // shell prefix that limits the run
        std::string err;
    } cases[] = {
        {"early.qo new.wav", "", "\nInput data corrupt\nNothing was kept under the name new.wav.\n(while restoring early.qo)\n"},
        {"cut.qo new.wav", "",
         "\nError - unexpected end of file.\nNothing was kept under the name new.wav.\n(while restoring cut.qo)\n"},
        {"c.qo new.wav", "ulimit -f 100;",
         "\nError - cannot write to file new.wav (File too large).\nNothing was kept under the name new.wav.\n"
         "(while restoring c.qo)\n"},
        {"-cout c.qo cut.qo", "",
         "\nError - unexpected end of file.\nWhat was written to standard output is incomplete.\n(while restoring cut.qo)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        launcher = std::string(c.limit) + "timeout 60";
        const RunResult r = run(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        expectOnly({"c.wav", "c.qo", "early.qo", "cut.qo"});
    }
}

// A signal whose default action ends the process, part-way through a compress
// or a restore over an existing file: the run ends by that signal, the temporary
// file is gone and the existing file is unchanged; the faults and the real-time
// signals too. A signal the caller ignores
// stays ignored.
TEST_F(OutputSafety, InterruptedRunsLeaveNothingBehind) {
    const Bytes wav = stereoWav(kLong);
    const Bytes container = compress("long", wav);
    std::filesystem::remove(dir / "long.qo");
    put("stored.qo", container);
    const Bytes old = readFileBytes(testsupport::dataPath("real_tabla_mono.wav"));
    put("old.wav", old);
    struct Case {
        std::vector<std::string> args;
        uintmax_t partWay;  // temporary bytes before the signal
        std::vector<int> signals;
    };
    const Case runs[] = {
        {{"long.wav", "new.qo"}, container.size() / 3, {SIGINT, SIGTERM, SIGHUP}},
        {{"-overwrite", "stored.qo", "old.wav"},
         wav.size() / 2,
         {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGXCPU, SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2,
          // faults, as a crash or abort() raises them, and the rest
          SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS, SIGIO, SIGPWR, SIGSTKFLT,
          SIGRTMIN, SIGRTMIN + 7, SIGRTMAX}},
    };
    for (const Case& c : runs) {
        for (int sig : c.signals) {
            SCOPED_TRACE(c.args.back() + " with signal " + std::to_string(sig));
            const pid_t pid = start(c.args, "run");
            const std::string temporary = awaitTemporary(c.partWay);
            EXPECT_NE(temporary, "") << "no temporary file grew";
            ::kill(pid, sig);
            EXPECT_EQ(finish(pid), 128 + sig);
            std::filesystem::remove(dir / "run.out");
            std::filesystem::remove(dir / "run.err");
            expectOnly({"long.wav", "stored.qo", "old.wav"});
            EXPECT_TRUE(bytes("old.wav") == old);
        }
    }

    struct sigaction ignore {};
    struct sigaction saved {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGUSR1, &ignore, &saved);
    const pid_t pid = start({"-overwrite", "stored.qo", "old.wav"}, "run");
    ::sigaction(SIGUSR1, &saved, nullptr);
    EXPECT_NE(awaitTemporary(wav.size() / 2), "");
    ::kill(pid, SIGUSR1);
    EXPECT_EQ(finish(pid), 0) << "an ignored signal ended the run";
    EXPECT_TRUE(bytes("old.wav") == wav);
}

// A file that appears under the name of a restore's new output while it runs is
// kept: the restore fails with the "already exists" message, and the run goes on
// with its next input. That file is not the run's own output: a later input with
// the same output name is told that it exists, not that the run wrote it.
TEST_F(OutputSafety, FileAppearingDuringARestoreIsKept) {
    const Bytes wav = stereoWav(kLong);
    put("x.qo", compress("c", wav));
    const Bytes small = stereoWav(5000, -1);
    put("y.qo", compress("d", small));
    std::filesystem::create_directory(dir / "x.qo.d");
    put("x.qo.d/z.qo", bytes("y.qo"));  // its output name is x.wav too
    const pid_t pid = start({"x.qo", "y.qo", "x.qo.d/z.qo"}, "run");
    EXPECT_NE(awaitTemporary(wav.size() / 3), "") << "no temporary file grew";
    const Bytes other = {'o', 't', 'h', 'e', 'r'};
    put("x.wav", other);
    EXPECT_EQ(finish(pid), 1);
    EXPECT_EQ(slurp("run.err"),
              "\nFile x.wav already exists, skipping (-overwrite forces overwrite).\n(while restoring x.qo)\n"
              "\nFile x.wav already exists, skipping (-overwrite forces overwrite).\n(while restoring x.qo.d/z.qo)\n");
    EXPECT_TRUE(bytes("x.wav") == other);
    EXPECT_TRUE(bytes("y.wav") == small) << "the next input was not restored";
    expectOnly({"c.wav", "c.qo", "d.wav", "d.qo", "x.qo", "x.qo.d", "y.qo", "x.wav", "y.wav", "run.out", "run.err"});
}

// A restore whose samples fail their checksum never replaces a file, also not
// one that appeared under its name while it ran, with -overwrite or without: the
// decision is taken when the output is put in place. The container arrives slowly
// through a FIFO, and the file appears meanwhile.
TEST_F(OutputSafety, MismatchingRestoreNeverReplacesAFileThatAppeared) {
    const Bytes wav = stereoWav(kTwoSegments);
    Bytes container = compress("c", wav);
    container.at(21 + le32(container, 12)) ^= 0x01;  // the stored checksum
    ASSERT_EQ(::mkfifo((dir / "p.qo").c_str(), 0600), 0);
    const Bytes other = {'o', 't', 'h', 'e', 'r'};
    for (const char* flags : {"-overwrite", ""}) {
        SCOPED_TRACE(flags);
        std::filesystem::remove(dir / "x.wav");
        std::vector<std::string> args = {"p.qo", "x.wav"};
        if (*flags != '\0') args.insert(args.begin(), flags);
        const pid_t pid = start(args, "run");
        // A run that ended early must fail the test, not end it by SIGPIPE; qo keeps its own.
        const struct Unpiped {
            void (*saved)(int) = std::signal(SIGPIPE, SIG_IGN);
            ~Unpiped() { std::signal(SIGPIPE, saved); }
        } unpiped;
        const int fifo = ::open((dir / "p.qo").c_str(), O_WRONLY);
        ASSERT_GE(fifo, 0);
        const size_t half = container.size() / 2;
        ASSERT_EQ(::write(fifo, container.data(), half), static_cast<ssize_t>(half));
        EXPECT_NE(awaitTemporary(wav.size() / 4), "") << "no temporary file grew";
        put("x.wav", other);
        ASSERT_EQ(::write(fifo, container.data() + half, container.size() - half),
                  static_cast<ssize_t>(container.size() - half));
        ::close(fifo);
        EXPECT_EQ(finish(pid), 1);
        EXPECT_EQ(slurp("run.err"), "Warning: CRC check failed!\nThe existing file x.wav was kept unchanged.\n(while restoring p.qo)\n\n");
        EXPECT_TRUE(bytes("x.wav") == other);
        std::filesystem::remove(dir / "run.out");
        std::filesystem::remove(dir / "run.err");
        expectOnly({"c.wav", "c.qo", "p.qo", "x.wav"});
    }
}

// Restores racing for one new name: one of them puts its file there, every
// other one reports that the name exists, and each goes on with its next input.
TEST_F(OutputSafety, RestoresRacingForOneNewName) {
    const Bytes wav = stereoWav(kLong);
    put("x.qo", compress("c", wav));
    const Bytes small = stereoWav(5000, -1);
    const Bytes next = compress("d", small);
    constexpr int kRuns = 4;
    std::vector<pid_t> runs;
    for (int i = 0; i < kRuns; ++i) {
        put("n" + std::to_string(i) + ".qo", next);
        runs.push_back(start({"x.qo", "n" + std::to_string(i) + ".qo"}, "run" + std::to_string(i)));
    }
    int winners = 0;
    for (int i = 0; i < kRuns; ++i) {
        const std::string tag = "run" + std::to_string(i);
        SCOPED_TRACE(tag);
        const int status = finish(runs[static_cast<size_t>(i)]);
        if (status == 0) {
            ++winners;
        } else {
            EXPECT_EQ(status, 1);
            EXPECT_EQ(slurp(tag + ".err"), "\nFile x.wav already exists, skipping (-overwrite forces overwrite).\n(while restoring x.qo)\n");
        }
        EXPECT_TRUE(bytes("n" + std::to_string(i) + ".wav") == small) << "the next input was not restored";
        std::filesystem::remove(dir / (tag + ".out"));
        std::filesystem::remove(dir / (tag + ".err"));
        std::filesystem::remove(dir / ("n" + std::to_string(i) + ".qo"));
        std::filesystem::remove(dir / ("n" + std::to_string(i) + ".wav"));
    }
    EXPECT_EQ(winners, 1);
    EXPECT_TRUE(bytes("x.wav") == wav);
    expectOnly({"c.wav", "c.qo", "d.wav", "d.qo", "x.qo", "x.wav"});
}

// Root replacing another user's file, by a compress or a restore: the
// replacement keeps the owner, the group and the permission bits, and never a
// set-user-ID, set-group-ID or sticky bit.
TEST_F(OutputSafety, ReplacementKeepsOwnerGroupAndModeWithoutSetIdBits) {
    if (::geteuid() != 0) GTEST_SKIP() << "not root: a replacement cannot be given to another user; test skipped";
    const Bytes wav = stereoWav(5000);
    const Bytes container = compress("c", wav);
    const struct {
        uid_t uid;
        gid_t gid;
        mode_t before;
        mode_t after;
    } owners[] = {{1000, 1000, 0600, 0600}, {65534, 65534, 06755, 0755}, {1000, 65534, 01640, 0640}};
    for (const char* args : {"-overwrite c.wav f.qo", "-overwrite c.qo f.wav"}) {
        const std::string output = std::string(args).substr(std::string(args).rfind(' ') + 1);
        for (const auto& o : owners) {
            SCOPED_TRACE(std::string(args) + " over mode " + std::to_string(o.before));
            put(output, {'o', 'l', 'd'});
            ASSERT_EQ(::chown((dir / output).c_str(), o.uid, o.gid), 0);
            ASSERT_EQ(::chmod((dir / output).c_str(), o.before), 0);
            ASSERT_EQ(run(args).status, 0);
            struct stat info {};
            ASSERT_EQ(::stat((dir / output).c_str(), &info), 0);
            EXPECT_EQ(info.st_uid, o.uid);
            EXPECT_EQ(info.st_gid, o.gid);
            EXPECT_EQ(info.st_mode & 07777, o.after);
            EXPECT_TRUE(bytes(output) == (output == "f.qo" ? container : wav));
            std::filesystem::remove(dir / output);
        }
    }
    expectOnly({"c.wav", "c.qo"});
}

// Output names up to the system's limit of 255 bytes, new and replaced, for a
// compress and a restore.
TEST_F(OutputSafety, OutputNamesUpToTheLengthLimit) {
    const Bytes wav = stereoWav(5000);
    const Bytes container = compress("c", wav);
    for (size_t length : {250u, 255u}) {
        for (const char* extension : {".qo", ".wav"}) {
            const std::string name = std::string(length - std::strlen(extension), 'n') + extension;
            SCOPED_TRACE(std::to_string(length) + " bytes, " + extension);
            const std::string input = std::string(extension) == ".qo" ? "c.wav " : "c.qo ";
            for (const char* flags : {"", "-overwrite "}) {
                const RunResult r = run(flags + input + name);
                EXPECT_EQ(r.status, 0) << r.err;
                EXPECT_TRUE(bytes(name) == (std::string(extension) == ".qo" ? container : wav));
            }
            std::filesystem::remove(dir / name);
            expectOnly({"c.wav", "c.qo"});
        }
    }
}

// A file-size limit (ulimit -f) is met as an ordinary write error: the file
// fails with the system's reason, an existing output stays as it was, nothing
// is left under a new name and the message says so, no temporary file remains,
// and the run goes on with its next input.
TEST_F(OutputSafety, FileSizeLimitFailsOnlyTheFileOverIt) {
    const Bytes big = stereoWav(kTwoSegments);
    const Bytes bigContainer = compress("big", big);
    const Bytes small = readFileBytes(testsupport::dataPath("real_tabla_mono.wav"));
    const Bytes smallContainer = compress("small", small);
    const Bytes old = {'o', 'l', 'd'};
    struct Case {
        const char* args;
        const char* output;  // the one over the limit
        bool existing;
        const char* note;
    };
    const Case cases[] = {
        {"-overwrite big.qo small.qo", "big.wav", true, "The existing file big.wav was kept unchanged.\n"},
        {"big.qo small.qo", "big.wav", false, "Nothing was kept under the name big.wav.\n"},
        {"-overwrite big.wav small.wav", "big.qo", true, "The existing file big.qo was kept unchanged.\n"},
        {"big.wav small.wav", "big.qo", false, ""},
    };
    launcher = "ulimit -f 1024; timeout 120";  // 512 KiB in blocks of 512 bytes
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const bool restoring = std::string(c.output) == "big.wav";
        put("big.wav", big);
        put("big.qo", bigContainer);
        put("small.wav", small);
        put("small.qo", smallContainer);
        std::filesystem::remove(dir / (restoring ? "small.wav" : "small.qo"));
        if (c.existing)
            put(c.output, old);
        else
            std::filesystem::remove(dir / c.output);
        const RunResult r = run(c.args);
        EXPECT_EQ(r.status, 1);
        const std::string input = restoring ? "big.qo" : "big.wav";
        EXPECT_EQ(r.err, std::string("\nError - cannot write to file ") + c.output + " (File too large).\n" + c.note +
                             "(while " + (restoring ? "restoring " : "compressing ") + input + ")\n");
        EXPECT_EQ(exists(c.output), c.existing);
        EXPECT_TRUE(!c.existing || bytes(c.output) == old);
        EXPECT_TRUE(restoring ? bytes("small.wav") == small : bytes("small.qo") == smallContainer)
            << "the next input did not run";
        std::vector<std::string> present = {"big.wav", "big.qo", "small.wav", "small.qo"};
        if (!c.existing) std::erase(present, std::string(c.output));
        expectOnly(present);
    }
}

// A container name that stands for something that cannot seek is refused before
// anything is written to it; a device that seeks, behind a symlink too, is
// written through, and restores write through a FIFO as to a file.
TEST_F(OutputSafety, ContainerNamesThatCannotSeekAreRefused) {
    const Bytes wav = stereoWav(5000);
    const Bytes container = compress("c", wav);
    ASSERT_EQ(::mkfifo((dir / "p.qo").c_str(), 0600), 0);
    const int reader = ::open((dir / "p.qo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "s.qo").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const char* name : {"p.qo", "s.qo"}) {
        SCOPED_TRACE(name);
        const RunResult r = run(std::string("-overwrite c.wav ") + name);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, std::string("\nError - ") + name +
                             " cannot seek, and a container needs a file it can seek in.\n(while compressing c.wav)\n");
    }
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0) << "the FIFO's reader received bytes";
    ::close(reader);
    ::close(socket);

    std::filesystem::create_symlink("/dev/null", dir / "n.qo");
    const RunResult null = run("-overwrite c.wav n.qo");
    EXPECT_EQ(null.status, 0) << null.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "n.qo"));

    std::filesystem::remove(dir / "p.qo");
    ASSERT_EQ(::mkfifo((dir / "p.wav").c_str(), 0600), 0);
    launcher = "(cat p.wav > got.wav &); timeout 60";
    const RunResult restored = run("-overwrite c.qo p.wav");
    launcher = "timeout 60";
    EXPECT_EQ(restored.status, 0) << restored.err;
    for (int i = 0; i < 1000 && bytes("got.wav").size() < wav.size(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(bytes("got.wav") == wav);
}

// An output in a folder that cannot be written is reported as the temporary
// file that could not be created there, with the system's reason, before any work.
TEST_F(OutputSafety, FolderThatCannotBeWrittenIsNamed) {
    const Bytes wav = stereoWav(5000);
    const Bytes container = compress("c", wav);
    std::string why;
    if (::geteuid() == 0 && !runAsNobody(why)) GTEST_SKIP() << "root writes every folder, and " << why << "; test skipped";
    std::filesystem::create_directory(dir / "ro");
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                          std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                          std::filesystem::perms::others_exec);
    std::filesystem::permissions(dir / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                                                 std::filesystem::perms::group_read | std::filesystem::perms::group_exec |
                                                 std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
    for (const char* args : {"c.wav ro/x.qo", "c.qo ro/x.wav"}) {
        SCOPED_TRACE(args);
        const RunResult r = run(args);
        const std::string output = std::string(args).substr(std::string(args).rfind(' ') + 1);
        EXPECT_EQ(r.status, 1);
        const std::string input = std::string(args).substr(0, std::string(args).find(' '));
        EXPECT_EQ(r.err, "\nCannot create the temporary file for " + output + " in folder ro (Permission denied).\n(while " +
                             (contains(input, ".wav") ? "compressing " : "restoring ") + input + ")\n");
        EXPECT_FALSE(contains(r.out, "Encoding") || contains(r.out, "Decoding")) << "work was done first";
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir / "ro"));
    std::filesystem::permissions(dir / "ro", std::filesystem::perms::owner_all);
}

// Two runs that compress to one new name at the same time: at most one of them
// succeeds, the other reports that the name exists, and the container is the
// winner's.
TEST_F(OutputSafety, RunsRacingForOneNewNameNeverBothSucceed) {
    const Bytes first = stereoWav(kLong);
    const Bytes second = stereoWav(kLong, -1);
    put("first.wav", first);
    put("second.wav", second);
    const pid_t a = start({"first.wav", "x.qo"}, "first");
    const pid_t b = start({"second.wav", "x.qo"}, "second");
    const int statusA = finish(a);
    const int statusB = finish(b);
    ASSERT_TRUE((statusA == 0) != (statusB == 0)) << statusA << " " << statusB;
    const std::string loser = statusA == 0 ? "second" : "first";
    EXPECT_EQ((statusA == 0 ? statusB : statusA), 1);
    EXPECT_TRUE(contains(slurp(loser + ".err"), "File x.qo already exists, skipping")) << slurp(loser + ".err");
    ASSERT_EQ(run("x.qo restored.wav").status, 0);
    EXPECT_TRUE(bytes("restored.wav") == (statusA == 0 ? first : second));
    expectOnly({"first.wav", "second.wav", "first.out", "first.err", "second.out", "second.err", "x.qo",
                "restored.wav"});
}

// Inputs whose output names coincide (the names are cut at the first ".wav" or
// ".qo", folders included): the first writes the output, the later ones fail
// and the others still run.
TEST_F(OutputSafety, OneRunNeverWritesAnOutputTwice) {
    std::filesystem::create_directory(dir / "d.wav.x");
    std::filesystem::create_directory(dir / "e.qo.x");
    const Bytes a = stereoWav(5000);
    const Bytes b = stereoWav(7000, -1);
    put("d.wav.x/a.wav", a);
    put("d.wav.x/b.wav", b);
    put("other.wav", a);
    const RunResult compressed = run("-overwrite d.wav.x/a.wav d.wav.x/b.wav other.wav");
    EXPECT_EQ(compressed.status, 1);
    EXPECT_EQ(compressed.err,
              "\nError - d.qo was already written in this run, skipping.\n(while compressing d.wav.x/b.wav)\n");
    EXPECT_TRUE(exists("other.qo"));
    ASSERT_EQ(run("d.qo d.wav").status, 0);
    EXPECT_TRUE(bytes("d.wav") == a);

    std::filesystem::copy_file(dir / "d.qo", dir / "e.qo.x/a.qo");
    std::filesystem::copy_file(dir / "other.qo", dir / "e.qo.x/b.qo");
    const RunResult restored = run("-overwrite e.qo.x/a.qo e.qo.x/b.qo");
    EXPECT_EQ(restored.status, 1);
    EXPECT_EQ(restored.err,
              "\nError - e.wav was already written in this run, skipping.\n(while restoring e.qo.x/b.qo)\n");
    EXPECT_TRUE(bytes("e.wav") == a);

    // A restore that fails part-way keeps what it restored where no file stood;
    // that file counts as written too.
    const Bytes longer = compress("long", stereoWav(3 * 61440));
    put("e.qo.x/a.qo", Bytes(longer.begin(), longer.begin() + static_cast<std::ptrdiff_t>(longer.size() * 2 / 3)));
    std::filesystem::remove(dir / "e.wav");
    const RunResult partial = run("-overwrite e.qo.x/a.qo e.qo.x/b.qo");
    EXPECT_EQ(partial.status, 1);
    EXPECT_TRUE(contains(partial.err, "The restore is incomplete: e.wav holds only the first ")) << partial.err;
    EXPECT_TRUE(contains(partial.err, "\nError - e.wav was already written in this run, skipping.\n"
                                      "(while restoring e.qo.x/b.qo)\n"))
        << partial.err;
}

// An output that is the same file as an input of the run (an archive named like
// TAKE.WAV.qo counts as a WAV name; a link leads back to the input; standard input
// is the file) is refused before any work: the input keeps every byte, the run ends
// with status 1 and its other inputs still run.
TEST_F(OutputSafety, OutputsNeverReplaceAnInputOfTheRun) {
    const Bytes take = stereoWav(5000);
    const Bytes other = stereoWav(7000, -1);
    const auto symlink = [this](const char* to, const char* name) { std::filesystem::create_symlink(to, dir / name); };
    const auto hardLink = [this](const char* to, const char* name) {
        std::filesystem::create_hard_link(dir / to, dir / name);
    };
    struct Case {
        const char* what;
        std::function<void()> setUp;
        std::string args;
        std::string standardInput;  // empty: none
        const char* input;          // the file that must stay as it was
        std::string err;            // contained in standard error
        const char* otherOutput;    // written by the run's other input; empty: none
    };
    const Case cases[] = {
        {"archive named like a WAV name", [&] { put("TAKE.WAV", other); }, "TAKE.WAV.qo TAKE.WAV b.wav", "",
         "TAKE.WAV.qo", "\nError - TAKE.WAV.qo is an input of this run, skipping.\n(while compressing TAKE.WAV)\n",
         "b.qo"},
        {"output a symbolic link to its input", [&] { symlink("b.wav", "out.qo"); }, "b.wav out.qo", "", "b.wav",
         "\nError - out.qo is an input of this run, skipping.\n(while compressing b.wav)\n", ""},
        {"derived output a symbolic link to its input", [&] { symlink("b.wav", "b.qo"); }, "b.wav c.wav", "",
         "b.wav", "\nError - b.qo is an input of this run, skipping.\n(while compressing b.wav)\n", "c.qo"},
        {"derived output a hard link to its input", [&] { hardLink("b.wav", "b.qo"); }, "b.wav c.wav", "", "b.wav",
         "\nError - b.qo is an input of this run, skipping.\n(while compressing b.wav)\n", "c.qo"},
        {"restored output a symbolic link to its container",
         [&] {
             put("x.qo", bytes("TAKE.WAV.qo"));
             put("y.qo", bytes("TAKE.WAV.qo"));
             symlink("x.qo", "x.wav");
         },
         "x.qo y.qo", "", "x.qo", "\nError - x.wav is an input of this run, skipping.\n(while restoring x.qo)\n",
         "y.wav"},
        {"output a symbolic link to the file on standard input", [&] { symlink("b.wav", "out.qo"); },
         "-cin x.wav out.qo", "b.wav", "b.wav",
         "\nError - out.qo is an input of this run, skipping.\n(while compressing standard input)\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        put("TAKE.WAV", take);
        ASSERT_EQ(run("TAKE.WAV").status, 0);
        put("b.wav", take);
        put("c.wav", other);
        c.setUp();
        const Bytes before = bytes(c.input);
        const RunResult r = run("-overwrite " + c.args, c.standardInput);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, c.err)) << r.err;
        EXPECT_TRUE(bytes(c.input) == before);
        if (*c.otherOutput != '\0') {
            EXPECT_TRUE(exists(c.otherOutput));
        }
        EXPECT_FALSE(contains(r.err, "unexpected failure")) << r.err;
    }
}

// A container read from a FIFO restores as from a file, trailer included, with
// and without a seek table.
TEST_F(OutputSafety, ContainersRestoreFromAFifo) {
    const Bytes wav = stereoWav(kTwoSegments);
    ASSERT_EQ(::mkfifo((dir / "p.qo").c_str(), 0600), 0);
    for (const char* flags : {"", "-noseek"}) {
        SCOPED_TRACE(flags);
        compress("c", wav, flags);
        launcher = "(cat c.qo > p.qo &); timeout 60";
        const RunResult r = run("-overwrite p.qo out.wav");
        launcher = "timeout 60";
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(bytes("out.wav") == wav);
    }
}

// Outputs that cannot be made are reported with the name the user gave and the
// system's reason, before any work is done.
TEST_F(OutputSafety, UnwritableOutputsAreReportedBeforeAnyWork) {
    put("a.wav", stereoWav(5000));
    ASSERT_EQ(run("a.wav").status, 0);
    std::filesystem::create_directory(dir / "folder.qo");
    std::filesystem::create_directory(dir / "folder.wav");
    const struct {
        const char* args;
        const char* error;
    } cases[] = {
        {"a.wav nodir/x.qo", "\nCannot create the temporary file for nodir/x.qo in folder nodir (No such file or directory).\n(while compressing a.wav)\n"},
        {"a.qo nodir/x.wav", "\nCannot create the temporary file for nodir/x.wav in folder nodir (No such file or directory).\n(while restoring a.qo)\n"},
        {"-overwrite a.wav folder.qo", "\nError - folder.qo is a directory, not a file.\n(while compressing a.wav)\n"},
        {"-overwrite a.qo folder.wav", "\nError - folder.wav is a directory, not a file.\n(while restoring a.qo)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = run(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.error);
        EXPECT_FALSE(contains(r.out, "Encoding") || contains(r.out, "Decoding")) << "work was done first";
    }
    expectOnly({"a.wav", "a.qo", "folder.qo", "folder.wav"});
}

}  // namespace
