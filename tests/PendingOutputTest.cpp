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
    PendingOutput out(path("a.qo"));
    write(out, "buffered, not yet written");
    ::close(::fileno(out.stream().file));  // the close's flush now fails
    EXPECT_EQ(errorOf([&] { out.commit(); }), "Error - cannot write to file " + path("a.qo") + " (Bad file descriptor).");
    EXPECT_EQ(entries(), 0u);
}

// A file that appears under the name while the output is written is never
// replaced without overwriteMode; with it, it is.
TEST_F(PendingOutputTest, FileThatAppearsMeanwhileIsReplacedOnlyWhenOverwriting) {
    for (bool overwrite : {false, true}) {
        SCOPED_TRACE(overwrite);
        overwriteMode = overwrite;
        fs::remove(path("a.qo"));
        PendingOutput out(path("a.qo"));
        write(out, "new");
        testsupport::writeFileBytes(path("a.qo"), {'o', 't', 'h', 'e', 'r'});
        if (overwrite) {
            out.commit();
            EXPECT_EQ(readFileBytes(path("a.qo")), (Bytes{'n', 'e', 'w'}));
        } else {
            EXPECT_EQ(errorOf([&] { out.commit(); }),
                      "File " + path("a.qo") + " already exists, skipping (-overwrite forces overwrite).");
            EXPECT_EQ(readFileBytes(path("a.qo")), (Bytes{'o', 't', 'h', 'e', 'r'}));
        }
        EXPECT_EQ(entries(), 1u);
    }
}

// A replaced file's permissions carry over to its replacement.
TEST_F(PendingOutputTest, ReplacementKeepsThePermissions) {
    testsupport::writeFileBytes(path("a.wav"), {'o', 'l', 'd'});
    fs::permissions(path("a.wav"), fs::perms::owner_read | fs::perms::group_read);
    overwriteMode = true;
    PendingOutput out(path("a.wav"));
    write(out, "new");
    out.commit();
    EXPECT_EQ(fs::status(path("a.wav")).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(readFileBytes(path("a.wav")), (Bytes{'n', 'e', 'w'}));
}

// A failed output: an existing file stays; where none stood, what was written is
// kept only when asked for.
TEST_F(PendingOutputTest, AbandonedOutputs) {
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
        PendingOutput out(name);
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
