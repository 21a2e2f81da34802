// Faults of the system around the files: a full disk, a closed standard
// stream, inputs that are no readable files, standard input that ends early.
// Each must end the file with an Error and exit status 1, never with
// "Finished" over a broken output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "TestSupport.h"

namespace {

using testsupport::readFileBytes;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Runs the binary with the given standard streams closed ("<&-", ">&-").
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
    for (const char* name : {"unreadable.wav", "unreadable.qo"}) expectFailedFile(run(name), "\nError", name);
    expectOnly({"folder.wav", "folder.qo", "unreadable.wav", "unreadable.qo"});
}

TEST_F(SystemFault, FileWithoutReadPermission) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files regardless of their permissions";
    place(original(), "locked.wav");
    std::filesystem::permissions(dir / "locked.wav", std::filesystem::perms::none);
    expectFailedFile(run("locked.wav"), "\nFile locked.wav not found.\n", "unreadable WAV");
    expectOnly({"locked.wav"});
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

}  // namespace
