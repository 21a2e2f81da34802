#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "entropy/BinaryFile.h"

namespace fs = std::filesystem;

namespace {

// A scratch directory per test, removed afterwards.
class BinaryFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("qo_bf_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all);
        fs::remove_all(dir);
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    std::string writeBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
        testsupport::writeFileBytes(path(name), bytes);
        return path(name);
    }
    fs::path dir;
};

using testsupport::errorOf;

// Points the process's standard input at a file for the lifetime of the object.
class StdinFromFile {
public:
    explicit StdinFromFile(const std::string& path) : saved(::dup(0)) {
        EXPECT_NE(std::freopen(path.c_str(), "rb", stdin), nullptr);
    }
    ~StdinFromFile() {
        ::dup2(saved, 0);
        ::close(saved);
        std::clearerr(stdin);
    }

private:
    int saved;
};

std::vector<uint8_t> counting(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}

}  // namespace

TEST_F(BinaryFileTest, OpenFailuresCarryTheirMessages) {
    EXPECT_EQ(errorOf([&] { BinaryFile f(path("missing.wav"), true); }), "File " + path("missing.wav") + " not found.");
    EXPECT_EQ(errorOf([&] { BinaryFile f(path("no/such/dir/out.qo"), false); }),
              "Cannot open output file " + path("no/such/dir/out.qo") + " (No such file or directory).");
}

TEST_F(BinaryFileTest, MessagesNameTheFileAfterItsLastBackslash) {
    EXPECT_EQ(errorOf([&] { BinaryFile f("music\\gone.wav", true); }), "File gone.wav not found.");
}

// A named output is created or truncated: whether an existing file may be
// replaced is decided above the byte stream.
TEST_F(BinaryFileTest, NamedOutputTruncatesAnExistingFile) {
    const std::string out = writeBytes("out.qo", {9, 9, 9, 9, 9});
    {
        BinaryFile f(out, false);
        f.writeInt32(-2);
        f.writeByte(0x1AB);
        f.write("xy", 2);
        f.flush();
    }
    EXPECT_EQ(testsupport::readFileBytes(out), (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF, 0xAB, 'x', 'y'}));
}

TEST_F(BinaryFileTest, ReadsLittleEndianAndSignExtends) {
    BinaryFile f(writeBytes("in.bin", {0x01, 0x00, 0x00, 0x80, 0xFF, 0x7F, 0x80, 0x78, 0x56, 0x34, 0x12}), true);
    EXPECT_EQ(f.readInt32(), -2147483647);
    EXPECT_EQ(f.readInt8(), -1);
    EXPECT_EQ(f.readInt8(), 127);
    EXPECT_EQ(f.readInt8(), -128);
    EXPECT_EQ(f.readInt32(), 0x12345678);
    EXPECT_EQ(f.byteCount, 0);  // named files do not count
}

TEST_F(BinaryFileTest, FifthReadMeetingTheEndThrowsAndShortReadsAreZeroFilled) {
    BinaryFile f(writeBytes("short.bin", {0xAA, 0xBB, 0xCC}), true);
    uint8_t buf[5];
    std::memset(buf, 0x55, sizeof buf);
    EXPECT_EQ(f.read(buf, 5), 3);  // the count of bytes the file delivered
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 5), (std::vector<uint8_t>{0xAA, 0xBB, 0xCC, 0, 0}));
    EXPECT_EQ(f.readInt32(), 0);
    f.read(buf, 1);
    f.read(buf, 0);  // every read at the end counts, also one that asks for nothing
    EXPECT_EQ(errorOf([&] { f.read(buf, 1); }), "Error - unexpected end of file.");
}

TEST_F(BinaryFileTest, SeekKeepsTheEndOfFileCount) {
    BinaryFile f(writeBytes("seek.bin", {1, 2, 3, 4, 5, 6, 7, 8}), true);
    uint8_t buf[9];
    for (int i = 0; i < 4; ++i) f.read(buf, 9);
    ASSERT_TRUE(f.seek(2));
    EXPECT_EQ(f.tell(), 2);
    f.read(buf, 3);  // does not reach the end: no count
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(errorOf([&] { f.read(buf, 4); }), "Error - unexpected end of file.");
    EXPECT_FALSE(f.seek(-5));
}

// Reads and seeks in any order deliver the file's bytes from the position they give:
// seeks among the bytes read ahead and away from them, reads within the read-ahead and
// larger than it, a seek back after the end.
TEST_F(BinaryFileTest, SeeksAndReadsDeliverTheBytesOfTheirPosition) {
    const std::vector<uint8_t> bytes = counting(30000);
    BinaryFile f(writeBytes("seek.bin", bytes), true);
    const struct {
        int32_t seekTo;  // -1: read on from where the last read ended
        int32_t count;
    } steps[] = {{-1, 10},     {5, 3},       {-1, 4088}, {4000, 200}, {-1, 9000}, {10000, 4}, {12000, 4},
                 {11990, 9000}, {100, 1},     {-1, 6000}, {29990, 20}, {29000, 10}, {0, 2}};
    std::vector<uint8_t> buf(9000);
    int64_t at = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(step.seekTo) + ", " + std::to_string(step.count));
        if (step.seekTo >= 0) {
            ASSERT_TRUE(f.seek(step.seekTo));
            at = step.seekTo;
        }
        EXPECT_EQ(f.tell(), at);
        const int32_t got = f.read(buf.data(), step.count);
        const int32_t expected = static_cast<int32_t>(std::min<int64_t>(step.count, 30000 - at));
        ASSERT_EQ(got, expected);
        EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + got, bytes.begin() + at));
        at += got;
        EXPECT_EQ(f.position(), at);
    }
}

TEST_F(BinaryFileTest, ReopenResetsCountsAndClosesTheOldHandle) {
    const std::string name = writeBytes("re.bin", {1});
    BinaryFile f(name, true);
    uint8_t b;
    for (int i = 0; i < 4; ++i) f.read(&b, 1);
    f.open(name, true);
    for (int i = 0; i < 4; ++i) f.read(&b, 1);  // four fresh passes after the reopen
    // A failing reopen leaves no handle behind to be closed twice by the destructor.
    EXPECT_EQ(errorOf([&] { f.open(path("gone.bin"), true); }), "File " + path("gone.bin") + " not found.");
}

TEST_F(BinaryFileTest, DirectoryIsRefusedAsInput) {
    EXPECT_EQ(errorOf([&] { BinaryFile f(dir.string(), true); }),
              "Error - " + dir.string() + " is a directory, not a file.");
}

// A failure to read is named with the system's reason at once, never taken for the
// end of the input (which would hand out zeros in place of the bytes).
TEST_F(BinaryFileTest, ReadFailuresAreNamedForWhatTheyAre) {
    fs::create_symlink("loop.bin", dir / "loop.bin");
    EXPECT_EQ(errorOf([&] { BinaryFile f(path("loop.bin"), true); }),
              "Error - file " + path("loop.bin") + " cannot be read (Too many levels of symbolic links).");
    // Below a name that is a file there is nothing either.
    writeBytes("plain.bin", {1});
    EXPECT_EQ(errorOf([&] { BinaryFile f(path("plain.bin/x"), true); }), "File " + path("plain.bin/x") + " not found.");

    const std::string ioError = "Error - file /proc/self/mem cannot be read (Input/output error).";
    for (int via = 0; via < 2; ++via) {
        BinaryFile f("/proc/self/mem", true);  // opens, but reading at offset 0 fails
        uint8_t buf[4];
        char c;
        EXPECT_EQ(errorOf([&] { via == 0 ? f.read(buf, 4) : f.getByte(c); }), ioError);
    }

    StdinFromFile redirect(dir.string());  // opens, but a folder cannot be read
    BinaryFile in("", true);
    uint8_t b;
    EXPECT_EQ(errorOf([&] { in.read(&b, 1); }), "Error - standard input cannot be read (Is a directory).");
}

// A file cut while it is read ends in an Error where its bytes stop, whether read in
// pieces or byte by byte (bytes read into the stream's buffer before the cut are the
// file's own); the end of a file that keeps its length is no error.
TEST_F(BinaryFileTest, FileCutWhileReadIsAnError) {
    const std::string name = path("cut.bin");
    const std::string cut = "Error - file " + name + " was cut while it was read: it ends after 50000 of the "
                            "100000 bytes it had when it was opened.";
    std::vector<uint8_t> buf(60000);
    for (int via = 0; via < 2; ++via) {
        writeBytes("cut.bin", counting(100000));
        BinaryFile f(name, true);
        EXPECT_EQ(f.length(), 100000);
        f.read(buf.data(), 10);
        fs::resize_file(name, 50000);
        char c;
        EXPECT_EQ(errorOf([&] {
                      if (via == 0) f.read(buf.data(), 60000);
                      while (f.getByte(c)) {}
                  }),
                  cut);
    }
    BinaryFile whole(name, true);
    EXPECT_EQ(whole.read(buf.data(), 60000), 50000);
    EXPECT_EQ(buf[49999], counting(50000)[49999]);
    EXPECT_EQ(buf[50000], 0);
}

// Starting again at a position clears the end-of-file state on the descriptor held,
// as a fresh open of the name did, without opening it again.
TEST_F(BinaryFileTest, RestartAtClearsTheEndOfFileCountOnTheSameDescriptor) {
    const std::string name = writeBytes("restart.bin", {1, 2, 3});
    BinaryFile f(name, true);
    uint8_t buf[4];
    for (int i = 0; i < 4; ++i) f.read(buf, 4);
    fs::rename(name, path("moved.bin"));
    writeBytes("restart.bin", {9, 9, 9});
    ASSERT_TRUE(f.restartAt(1));
    for (int i = 0; i < 4; ++i) f.read(buf, 4);  // four fresh passes
    EXPECT_EQ(buf[0], 0);
    ASSERT_TRUE(f.restartAt(1));
    EXPECT_EQ(f.read(buf, 2), 2);
    EXPECT_EQ(buf[0], 2) << "the bytes come from the file first opened";
    EXPECT_FALSE(f.restartAt(-1));
}

TEST_F(BinaryFileTest, GetByteReportsTheEndOnTheCallAfterTheLastByte) {
    BinaryFile f(writeBytes("tail.bin", {'a', 'b'}), true);
    std::string got;
    char c;
    while (f.getByte(c)) got += c;
    EXPECT_EQ(got, "ab");
    EXPECT_FALSE(f.notAtEnd());
}

TEST_F(BinaryFileTest, FlushReportsAFailedWrite) {
    BinaryFile f("/dev/full", false);
    std::vector<uint8_t> block(100000, 1);
    f.write(block.data(), static_cast<int32_t>(block.size()));
    EXPECT_EQ(errorOf([&] { f.flush(); }), "Error - cannot write to file /dev/full (No space left on device).");
    // A stream flushed at every line end counts a line as written when its flush
    // failed, and drops it: the flush after it has nothing left to fail on. Here the
    // second line's write fails.
    cookie_io_functions_t calls{};
    calls.write = [](void* count, const char*, size_t n) -> ssize_t {
        if (++*static_cast<int*>(count) < 2) return static_cast<ssize_t>(n);
        errno = EIO;
        return -1;
    };
    int writes = 0;
    std::FILE* lines = ::fopencookie(&writes, "w", calls);
    ASSERT_NE(lines, nullptr);
    std::setvbuf(lines, nullptr, _IOLBF, 4096);
    BinaryFile g(lines, "lines");
    for (int i = 0; i < 2; ++i) g.write("a\n", 2);
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(errorOf([&] { g.flush(); }), "Error - cannot write to file lines (Input/output error).");
}

TEST_F(BinaryFileTest, StandardStreamsStayOpen) {
    { BinaryFile out("", false); EXPECT_EQ(out.file, stdout); }
    { BinaryFile in("", true); }
    EXPECT_NE(::fcntl(::fileno(stdout), F_GETFD), -1);
    EXPECT_NE(::fcntl(::fileno(stdin), F_GETFD), -1);
}

TEST_F(BinaryFileTest, StdinStepBackReplaysTheLatestRead) {
    const std::vector<uint8_t> bytes = counting(5000);
    StdinFromFile redirect(writeBytes("stdin.bin", bytes));
    BinaryFile f("", true);
    std::vector<uint8_t> buf(4088);
    f.read(buf.data(), 4088);
    EXPECT_EQ(f.byteCount, 4088);

    f.pendingBytes = 100;
    f.read(buf.data(), 50);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 50),
              std::vector<uint8_t>(bytes.begin() + 3988, bytes.begin() + 4038));
    EXPECT_EQ(f.pendingBytes, 50);
    EXPECT_EQ(f.byteCount, 4088);

    EXPECT_EQ(f.read(buf.data(), 60), 60);  // replayed and fresh bytes both count as delivered
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 60),
              std::vector<uint8_t>(bytes.begin() + 4038, bytes.begin() + 4098));
    EXPECT_EQ(f.pendingBytes, 0);
    EXPECT_EQ(f.byteCount, 4098);

    // That read keeps each of its bytes once in the history, the 50 delivered again
    // included, so a step back behind it still delivers the stream's bytes in order.
    EXPECT_EQ(f.historyLength(), 16 + 60);
    f.pendingBytes = 16 + 60;
    EXPECT_EQ(f.read(buf.data(), 76), 76);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 76),
              std::vector<uint8_t>(bytes.begin() + 4022, bytes.begin() + 4098));

    f.pendingBytes = 10;
    EXPECT_EQ(f.read(buf.data(), 4088), 10 + 5000 - 4098);  // short: the stream ends
}

TEST_F(BinaryFileTest, StdinHistoryKeepsSixteenBytesBeforeTheLatestRead) {
    const std::vector<uint8_t> bytes = counting(5000);
    StdinFromFile redirect(writeBytes("stdin.bin", bytes));
    BinaryFile f("", true);
    std::vector<uint8_t> buf(4088);
    f.read(buf.data(), 4);
    f.read(buf.data(), 4);
    f.read(buf.data(), 4088);
    EXPECT_EQ(f.historyLength(), 8 + 4088);
    f.pendingBytes = 4090;
    f.read(buf.data(), 2);
    EXPECT_EQ(buf[0], bytes[6]);
    EXPECT_EQ(buf[1], bytes[7]);

    // A longer prefix is cut to 16 bytes before the new read's bytes.
    f.pendingBytes = 0;
    f.read(buf.data(), 10);
    EXPECT_EQ(f.historyLength(), 16 + 10);
    // A step back beyond the history is refused instead of reading before it.
    f.pendingBytes = 27;
    EXPECT_EQ(errorOf([&] { f.read(buf.data(), 1); }), "Unable to seek - corrupt input file?");
}

TEST_F(BinaryFileTest, StdinEndOfFileRuleThrowsBeforeTheHistoryChanges) {
    StdinFromFile redirect(writeBytes("stdin.bin", {1, 2, 3}));
    BinaryFile f("", true);
    uint8_t buf[8];
    for (int i = 0; i < 4; ++i) f.read(buf, 8);
    EXPECT_EQ(f.byteCount, 32);  // the requested count, as the container reader follows it
    const int32_t before = f.historyLength();
    EXPECT_EQ(errorOf([&] { f.read(buf, 8); }), "Error - unexpected end of file.");
    EXPECT_EQ(f.historyLength(), before);
}
