// The output class on its own: when it puts a file in place, when it refuses
// to, and what a failed output leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "container/PendingOutput.h"
#include "container/Wav.h"
#include "foundation/Options.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::errorOf;
using testsupport::readFileBytes;

class PendingOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("qo_po_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        overwriteMode = false;
        fs::remove_all(dir);
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {})); }
    static void write(PendingOutput& out, const std::string& text) {
        out.stream().write(text.data(), static_cast<int32_t>(text.size()));
    }
    fs::path dir;
};

// A write error that shows only when the file is closed fails the commit, and
// nothing takes the name.
TEST_F(PendingOutputTest, CloseThatFailsIsAnError) {
    RunFiles files;
    PendingOutput out(path("a.qo"), files);
    write(out, "buffered, not yet written");
    ::close(::fileno(out.stream().file));  // the close's flush now fails
    EXPECT_EQ(errorOf([&] { out.commit(); }), "Error - cannot write to file " + path("a.qo") + " (Bad file descriptor).");
    EXPECT_EQ(entries(), 0u);
}

// A file that appears under the name while the output is written is never
// replaced without overwriteMode; with it, it is, and its replacement gets that
// file's access, not that of a new file.
TEST_F(PendingOutputTest, FileThatAppearsMeanwhileIsReplacedOnlyWhenOverwriting) {
    RunFiles files;
    const mode_t savedMask = ::umask(022);
    for (bool overwrite : {false, true}) {
        SCOPED_TRACE(overwrite);
        overwriteMode = overwrite;
        fs::remove(path("a.qo"));
        PendingOutput out(path("a.qo"), files);
        write(out, "new");
        testsupport::writeFileBytes(path("a.qo"), {'o', 't', 'h', 'e', 'r'});
        ASSERT_EQ(::chmod(path("a.qo").c_str(), 0600), 0);
        if (overwrite) {
            out.commit();
            EXPECT_EQ(readFileBytes(path("a.qo")), (Bytes{'n', 'e', 'w'}));
            struct stat info {};
            ASSERT_EQ(::stat(path("a.qo").c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0600u) << "wider than the file it replaced";
        } else {
            EXPECT_EQ(errorOf([&] { out.commit(); }),
                      "File " + path("a.qo") + " already exists, skipping (-overwrite forces overwrite).");
            EXPECT_EQ(readFileBytes(path("a.qo")), (Bytes{'o', 't', 'h', 'e', 'r'}));
        }
        EXPECT_EQ(entries(), 1u);
    }
    ::umask(savedMask);
}

// Without overwriteMode anything under the name is refused and left untouched:
// a file, one that cannot be read, a dangling symlink.
TEST_F(PendingOutputTest, ExistingNamesAreRefusedUntouched) {
    RunFiles files;
    testsupport::writeFileBytes(path("exists.qo"), {1, 2, 3});
    testsupport::writeFileBytes(path("locked.qo"), {4, 5});
    fs::permissions(path("locked.qo"), fs::perms::none);
    fs::create_symlink(path("nowhere.qo"), path("dangling.qo"));
    for (const char* name : {"exists.qo", "locked.qo", "dangling.qo"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(errorOf([&] { PendingOutput out(path(name), files); }),
                  "File " + path(name) + " already exists, skipping (-overwrite forces overwrite).");
    }
    EXPECT_EQ(readFileBytes(path("exists.qo")), (Bytes{1, 2, 3}));
    fs::permissions(path("locked.qo"), fs::perms::owner_read);
    EXPECT_EQ(readFileBytes(path("locked.qo")), (Bytes{4, 5}));
    EXPECT_FALSE(fs::exists(path("nowhere.qo")));
    EXPECT_EQ(entries(), 3u);
}

// A replacement keeps the permission bits of the file it replaces, but never a
// set-user-ID, set-group-ID or sticky bit. A read-only file only root may replace.
TEST_F(PendingOutputTest, ReplacementKeepsThePermissionBitsOnly) {
    overwriteMode = true;
    const struct {
        mode_t before;
        mode_t after;
    } cases[] = {{0440, 0440}, {0600, 0600}, {06755, 0755}, {01777, 0777}, {02640, 0640}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        if ((c.before & 0200) == 0 && ::geteuid() != 0) continue;
        RunFiles files;  // each round replaces the output of the one before
        testsupport::writeFileBytes(path("a.wav"), {'o', 'l', 'd'});
        ASSERT_EQ(::chmod(path("a.wav").c_str(), c.before), 0);
        PendingOutput out(path("a.wav"), files);
        write(out, "new");
        out.commit();
        struct stat info {};
        ASSERT_EQ(::stat(path("a.wav").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.after);
        EXPECT_EQ(readFileBytes(path("a.wav")), (Bytes{'n', 'e', 'w'}));
        EXPECT_EQ(entries(), 1u);
    }
}

// A new output gets the permissions of any new file: 0666 less the umask.
TEST_F(PendingOutputTest, NewOutputFollowsTheUmask) {
    for (mode_t mask : {mode_t{022}, mode_t{027}, mode_t{0}}) {
        SCOPED_TRACE(mask);
        const mode_t saved = ::umask(mask);
        fs::remove(path("a.qo"));
        {
            RunFiles files;
            PendingOutput out(path("a.qo"), files);
            write(out, "new");
            out.commit();
        }
        ::umask(saved);
        struct stat info {};
        ASSERT_EQ(::stat(path("a.qo").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask);
    }
}

// A restore whose finished file loses its name to a file that appeared meanwhile
// ends there: the writer's failure path must not touch the stream the failed
// commit closed, the file that appeared stays, and nothing else remains.
TEST_F(PendingOutputTest, RestoreThatLosesItsNameEndsWithTheCommit) {
    RunFiles files;
    WavWriter writer(path("a.wav"), files);
    const std::string riff = "RIFF\x24\x00\x00\x00WAVE";
    std::string fmt = "fmt ";
    fmt.resize(24, '\x01');
    writer.writeWavHeader(riff, fmt, 2);
    writer.writeWavSamples({1, 2});
    testsupport::writeFileBytes(path("a.wav"), {'o', 't', 'h', 'e', 'r'});
    EXPECT_EQ(errorOf([&] { writer.finish(); }),
              "File " + path("a.wav") + " already exists, skipping (-overwrite forces overwrite).");
    EXPECT_EQ(writer.abandon(), PendingOutput::Outcome::nameTaken);
    EXPECT_EQ(readFileBytes(path("a.wav")), (Bytes{'o', 't', 'h', 'e', 'r'}));
    EXPECT_EQ(entries(), 1u);
}

// A failed output: an existing file stays; where none stood, what was written is
// kept only when asked for.
TEST_F(PendingOutputTest, AbandonedOutputs) {
    RunFiles files;
    overwriteMode = true;
    const struct {
        bool existing;
        bool keep;
        PendingOutput::Outcome outcome;
        const char* content;  // under the name afterwards; nullptr: nothing
    } cases[] = {
        {true, true, PendingOutput::Outcome::existingKept, "old"},
        {true, false, PendingOutput::Outcome::existingKept, "old"},
        {false, true, PendingOutput::Outcome::partialKept, "part"},
        {false, false, PendingOutput::Outcome::nothingLeft, nullptr},
    };
    int index = 0;
    for (const auto& c : cases) {
        const std::string name = path("a" + std::to_string(index++) + ".wav");
        SCOPED_TRACE(name);
        if (c.existing) testsupport::writeFileBytes(name, {'o', 'l', 'd'});
        PendingOutput out(name, files);
        write(out, "part");
        EXPECT_EQ(out.abandon(c.keep), c.outcome);
        if (c.content == nullptr) {
            EXPECT_FALSE(fs::exists(name));
        } else {
            const std::string content = c.content;
            EXPECT_EQ(readFileBytes(name), Bytes(content.begin(), content.end()));
        }
        fs::remove(name);
        EXPECT_EQ(entries(), 0u) << "no temporary file remains";
    }
}

}  // namespace
