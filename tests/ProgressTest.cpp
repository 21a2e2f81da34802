#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "container/Progress.h"
#include "foundation/Options.h"
#include "foundation/Registry.h"

namespace {

TEST(Progress, BarShowsTheShareOfBlocksDoneInTwentyFourCharacters) {
    const struct { int64_t done, total; int stars; } cases[] = {
        {3, 7, 10},   // (3 * 24) / 7 rounds down
        {0, 0, 0},    // an empty file
        {0, 1, 0},
        {1, 1, 24},
        {1, 2, 12},
        {18, 19, 22},
        {19, 19, 24},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        showProgress(c.done, c.total, "Encoding a.wav");
        const std::string bar = std::string(static_cast<size_t>(c.stars), '*') + std::string(24u - c.stars, '.');
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "\rEncoding a.wav [" + bar + "]")
            << c.done << " of " << c.total;
    }
    stdoutMode = true;  // "-cout": the console stays silent
    testing::internal::CaptureStdout();
    showProgress(3, 7, "Decoding a.qo");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    stdoutMode = false;
}

// Check values in the general format with six significant digits, timer totals as whole
// microseconds, each section after its heading and an empty line, an empty line at the end.
TEST(Progress, DebugReportLinesAndLayout) {
    debugValues["Report check large"] = 1234567.0;
    debugValues["Report check negative"] = -6686.0;
    debugValues["Report check small"] = 0.000123456789;
    debugValues["Report check tenth"] = 0.5;
    timerTotals["Report check timer"] = 12345678;
    const std::string path =
        (std::filesystem::temp_directory_path() / ("qo_report_" + std::to_string(::getpid()) + ".txt")).string();
    RunFiles files;
    writeDebugReport(path, files);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::filesystem::remove(path);
    const std::string report = text.str();

    EXPECT_EQ(report.rfind("Debug information ...\n\n", 0), 0u);
    const size_t profiling = report.find("\nProfiling information ...\n\n");
    ASSERT_NE(profiling, std::string::npos);
    for (const char* line : {"\nReport check large: 1.23457e+06\n", "\nReport check negative: -6686\n",
                             "\nReport check small: 0.000123457\n", "\nReport check tenth: 0.5\n"}) {
        const size_t at = report.find(line);
        EXPECT_LT(at, profiling) << line;
    }
    const size_t timer = report.find("\nReport check timer: 12345678\n");
    EXPECT_NE(timer, std::string::npos);
    EXPECT_GT(timer, profiling);
    EXPECT_EQ(report.substr(report.size() - 2), "\n\n");

    for (const char* key : {"Report check large", "Report check negative", "Report check small", "Report check tenth"})
        debugValues.erase(key);
    timerTotals.erase("Report check timer");
}

}  // namespace
